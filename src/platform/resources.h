#pragma once
// Program resources embedded at build time (base images, firmware images, the knock sound),
// read by name. Plain C++: the core calls it without Qt.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The bytes of the resource called `name` (for example "MRX_D", "FIRMWARE", "KNOCK.WAV"),
// exactly as embedded (packed resources are not unpacked here); nullopt when there is none.
std::optional<std::vector<std::uint8_t>> LoadResource(std::string_view name);

// Names of all embedded resources, in build order.
std::vector<std::string> ResourceNames();

} // namespace kv
