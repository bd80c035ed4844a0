#include "device/crc16.h"
#include "device/firmware.h"
#include "platform/progress.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv {

namespace {

std::uint32_t U32At(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8 |
           static_cast<std::uint32_t>(d[at + 2]) << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
}

void PutU32(std::vector<std::uint8_t>& d, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

int RoundedDiv(double num, double den) { return static_cast<int>(std::lrint(num / den)); }

} // namespace

Parsed<FirmwareHeader> ParseFirmwareHeader(const std::vector<std::uint8_t>& data) {
    if (data.size() < static_cast<std::size_t>(kFirmwareHeaderSize))
        return ParseError{"shorter than a firmware header"};
    FirmwareHeader h;
    std::memcpy(h.tag, data.data(), 8);
    h.totalLength = U32At(data, 8);
    h.checksum = U32At(data, 12);
    h.kind = data[16];
    h.version.assign(reinterpret_cast<const char*>(data.data() + 17), 8);
    h.payloadOffset = U32At(data, 25);
    h.payloadLength = U32At(data, 29);
    return h;
}

bool CheckFirmwareBytes(const std::vector<std::uint8_t>& data, bool exactLength, ProgressDisplay* progress) {
    const auto header = ParseFirmwareHeader(data);
    if (!header) return false;
    const FirmwareHeader& h = *header;
    if (std::memcmp(h.tag, kFirmwareTag, 8) != 0) return false;
    if (exactLength ? h.totalLength != data.size() : h.totalLength > data.size()) return false;
    if (h.totalLength < static_cast<std::uint32_t>(kFirmwareHeaderSize)) return false;
    if (h.kind != 1 && h.kind != 2) return false;
    // A container without firmware in it would "upgrade" a device to nothing.
    if (h.payloadLength == 0) return false;
    if (static_cast<std::uint64_t>(h.payloadOffset) + h.payloadLength > h.totalLength) return false;

    if (progress) progress->ShowProgress("Checking", RoundedDiv(h.totalLength, 1024.0));
    Crc16 crc;
    crc.CRC_Init();
    for (std::size_t done = 0; done < h.totalLength;) {
        const std::size_t chunk = std::min<std::size_t>(1024, h.totalLength - done);
        for (std::size_t i = done; i < done + chunk; ++i) crc.CRC_Update((i >= 12 && i < 16) ? 0 : data[i]);
        done += chunk;
        if (progress) progress->UpdateProgress(static_cast<int>(done / 1024));
    }
    crc.CRC_Update(static_cast<std::uint8_t>(h.checksum & 0xFF));
    crc.CRC_Update(static_cast<std::uint8_t>((h.checksum >> 8) & 0xFF));
    const bool ok = crc.CRC_Finish() == 0;
    if (progress) progress->CloseProgress();
    return ok;
}

std::vector<std::uint8_t> BuildFirmwareContainer(const std::vector<std::uint8_t>& payload, int kind,
                                                 const std::string& version, std::size_t padTo) {
    std::vector<std::uint8_t> d(static_cast<std::size_t>(kFirmwareHeaderSize), 0);
    std::memcpy(d.data(), kFirmwareTag, 8);
    const auto total = static_cast<std::uint32_t>(kFirmwareHeaderSize + payload.size());
    PutU32(d, 8, total);
    d[16] = static_cast<std::uint8_t>(kind);
    std::string v = version.substr(0, 8);
    v.resize(8, ' ');
    std::memcpy(d.data() + 17, v.data(), 8);
    PutU32(d, 25, kFirmwareHeaderSize);
    PutU32(d, 29, static_cast<std::uint32_t>(payload.size()));
    d.insert(d.end(), payload.begin(), payload.end());
    PutU32(d, 12, Crc16Of(d)); // checksum field is zero while the CRC is taken
    if (d.size() < padTo) d.resize(padTo, 0xFF);
    return d;
}

bool VersionBelow(const std::string& a, const std::string& b) { return a.compare(b) < 0; }

} // namespace kv
