// Firmware files come from the user: any bytes must be checked without reading outside them,
// and a container the check accepts must describe a payload inside it.
#include "device/firmware.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace kv {} // namespace kv

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    for (bool exact : {true, false}) {
        if (CheckFirmwareBytes(bytes, exact, nullptr)) {
            const auto h = ParseFirmwareHeader(bytes);
            if (!h || h->totalLength > size ||
                static_cast<std::uint64_t>(h->payloadOffset) + h->payloadLength > h->totalLength ||
                (h->kind != 1 && h->kind != 2))
                std::abort();
            if (exact && h->totalLength != size) std::abort();
        }
    }
    return 0;
}
