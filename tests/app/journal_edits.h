#pragma once
// The edits that the journal tests make on an LH 2.3 image: bytes and words at spread addresses,
// the same in the child process that is killed and in the test that checks what came back.
#include "eprom/eprom_image.h"

namespace kv::app_test {

inline void MakeEdit(EPROM& image, int i) {
    const std::int32_t address = 0x0400 + 37 * i;
    if (i % 2 == 0)
        image.WriteByte(address, static_cast<std::uint8_t>(0x11 * (i + 1)));
    else
        image.WriteWord(address, 0x1234 + 0x101 * i);
}

} // namespace kv::app_test
