#include "sim/sim_state.h"

#include "platform/file_io.h"
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kv {

namespace {

constexpr const char* kHeader = "Kestrovane simulated car, state 1";
constexpr std::size_t kMemorySize = 16384;
constexpr std::uintmax_t kMaxFileSize = 1 << 20; // three memories in hex are about 100 kB

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One memory as text: two hexadecimal digits per byte.
Parsed<std::vector<std::uint8_t>> BytesOfHex(const std::string& hex) {
    const ParseError refused{"not 16384 bytes of hexadecimal digits"};
    if (hex.size() != kMemorySize * 2) return refused;
    std::vector<std::uint8_t> bytes(kMemorySize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = Nibble(hex[2 * i]), lo = Nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return refused;
        bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return bytes;
}

bool VersionText(const std::string& v) {
    return !v.empty() && v.size() <= 8 && std::all_of(v.begin(), v.end(), [](char c) { return c > ' ' && c < 127; });
}

} // namespace

std::string SimStateText(const SimCarState& s) {
    std::ostringstream o;
    o << kHeader << "\n";
    o << "firmware=" << s.firmwareVersion << "\n";
    o << "lh-firmware=" << s.lhFirmwareVersion << "\n";
    o << "ezk-firmware=" << s.ezkFirmwareVersion << "\n";
    if (s.hasCoolant) o << "coolant=" << std::lround(s.coolantC) << "\n";
    o << "emulator=" << HexOf(s.emulator) << "\n";
    o << "lh=" << HexOf(s.lh) << "\n";
    o << "ezk=" << HexOf(s.ezk) << "\n";
    return o.str();
}

Parsed<SimCarState> ReadSimState(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path file = PathFromUtf8(path);
    if (!std::filesystem::exists(file, ec)) return ParseError{"missing"};
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return ParseError{"it cannot be read"};
    if (size > kMaxFileSize) return ParseError{"it is far too long"};
    std::ifstream in(file, std::ios::binary);
    if (!in) return ParseError{"it cannot be read"};

    SimCarState s;
    std::string line;
    auto next = [&] {
        if (!std::getline(in, line)) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back(); // edited on Windows
        return true;
    };
    if (!next() || line != kHeader) return ParseError{"it does not start with \"" + std::string(kHeader) + "\""};
    std::vector<std::string> seen;
    while (next()) {
        if (line.empty()) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) return ParseError{"line \"" + line.substr(0, 40) + "\" has no '='"};
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
            return ParseError{"the " + key.substr(0, 40) + " entry appears twice"};
        seen.push_back(key);
        if (key == "firmware" || key == "lh-firmware" || key == "ezk-firmware") {
            if (!VersionText(value)) return ParseError{"the " + key + " version is not a version text"};
            (key == "firmware"      ? s.firmwareVersion
             : key == "lh-firmware" ? s.lhFirmwareVersion
                                    : s.ezkFirmwareVersion) = value;
        } else if (key == "emulator" || key == "lh" || key == "ezk") {
            auto bytes = BytesOfHex(value);
            if (!bytes) return ParseError{"the " + key + " memory is " + bytes.Error()};
            (key == "emulator" ? s.emulator : key == "lh" ? s.lh : s.ezk) = std::move(*bytes);
        } else if (key == "coolant") {
            // Decimal only: the C parser would also take hexadecimal and exponent forms.
            const bool decimal = !value.empty() && value.find_first_not_of("+-.0123456789") == std::string::npos;
            char* end = nullptr;
            const double c = decimal ? std::strtod(value.c_str(), &end) : 0.0;
            if (!decimal || *end != '\0' || !(c >= -40.0 && c <= 130.0))
                return ParseError{"the coolant temperature is not a number from -40 to 130"};
            s.coolantC = c;
            s.hasCoolant = true;
        } else {
            return ParseError{"unknown key \"" + key.substr(0, 40) + "\""};
        }
    }
    if (s.firmwareVersion.empty() || s.lhFirmwareVersion.empty() || s.ezkFirmwareVersion.empty() ||
        s.emulator.empty() || s.lh.empty() || s.ezk.empty())
        return ParseError{"an entry is missing"};
    return s;
}

std::string WriteSimState(const std::string& path, const SimCarState& state) {
    const std::filesystem::path tmp = PathFromUtf8(path + ".tmp");
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << SimStateText(state);
        out.flush();
        if (!out) return "it cannot be written";
    }
    std::error_code ec;
    std::filesystem::rename(tmp, PathFromUtf8(path), ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return "it cannot be replaced: " + ec.message();
    }
    return "";
}

} // namespace kv
