#pragma once
// Firmware of the device and of the EPROM modules: the ".dat" container, its check, both upgrade
// procedures and the user dialogues around them. One Firmware object per program, next to its
// Comms. Failures are values: false, or a message to the user.
#include "platform/parsed.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class Comms;
class Clock;
class FileDialogs;
class ProgressDisplay;
class UserMessages;

// Firmware container, little-endian, 33-byte header then the payload:
//   0 tag[8] "MRX928" 0xF1 0x02 | 8 totalLength u32 | 12 checksum u32 (low 16 bits: CRC) |
//   16 kind u8 (1 or 2) | 17 version[8] (ASCII, space padded) | 25 payloadOffset u32 |
//   29 payloadLength u32
inline constexpr int kFirmwareHeaderSize = 33;
inline constexpr std::uint8_t kFirmwareTag[8] = {'M', 'R', 'X', '9', '2', '8', 0xF1, 0x02};
inline constexpr int kFirmwareBlockSize = 256;   // device firmware block
inline constexpr int kPemFirmwareBlockSize = 64; // module firmware block
inline constexpr int kPemFirmwareSize = 16256;   // module firmware bytes sent (254 blocks)
// The source name of the embedded "FIRMWARE" image: the one character of code 1.
inline const std::string kEmbeddedFirmwareSource(1, '\x01');

struct FirmwareHeader {
    std::uint8_t tag[8] = {};
    std::uint32_t totalLength = 0;
    std::uint32_t checksum = 0;
    std::uint8_t kind = 0;
    std::string version; // 8 characters as stored
    std::uint32_t payloadOffset = 0;
    std::uint32_t payloadLength = 0;
};

// Parses the header at the start of `data`; a failure when fewer than 33 bytes.
Parsed<FirmwareHeader> ParseFirmwareHeader(const std::vector<std::uint8_t>& data);

// The container check on bytes already in memory. `exactLength`: a file must be exactly
// totalLength long; an embedded image may be longer (padding). `progress` (may be null) gets
// the "Checking" window with a step per 1024 bytes.
bool CheckFirmwareBytes(const std::vector<std::uint8_t>& data, bool exactLength, ProgressDisplay* progress);

// Builds a container around `payload` (used by the generator and by tests).
std::vector<std::uint8_t> BuildFirmwareContainer(const std::vector<std::uint8_t>& payload, int kind,
                                                 const std::string& version, std::size_t padTo = 0);

// Ordinal (character code by character code) "a < b", as the version checks compare.
bool VersionBelow(const std::string& a, const std::string& b);

using ResourceLoader = std::function<std::optional<std::vector<std::uint8_t>>(std::string_view)>;

class Firmware {
public:
    // `loader` returns embedded resources by name (LoadResource by default).
    Firmware(Comms& comms, UserMessages& messages, FileDialogs& files, ProgressDisplay& progress, Clock& clock,
             ResourceLoader loader = {});

    // source: a file path, or kEmbeddedFirmwareSource for the embedded "FIRMWARE". Reads the
    // source and its header; false when it cannot be read. One source is open at a time.
    bool OpenFirmware(const std::string& source);
    // Tag, length, kind, payload bounds and CRC of the open source ("Checking" progress window).
    bool CheckFirmware();
    // The header version, trimmed; empty when nothing is open.
    std::string GetFirmwareFileVersion() const;
    void CloseFirmware();

    // Loads the open source's payload into the device through its loader and restarts it; true
    // when the device answers and reports a version afterwards. The link must be open.
    bool UpgradeDeviceFirmware();
    // Pushes the embedded "NVRAM-FIRMWARE" into the EPROM module of unit 1 (LH) or 2 (EZK) and
    // waits for it to come back; true on success.
    bool UpgradePemFirmware(int ecuKind);

    // Start-up dialogue: compares the device's version with 6.003 and offers (or, without
    // offerUpgrade, recommends) the upgrade from the embedded image.
    void CheckFirmwareAtStartUp(bool offerUpgrade);
    // Tools -> Firmware: ignition warning, file dialog, check, confirmation, upgrade.
    void ToolsFirmwareUpgrade();
    // Steps 5 and 6 of the dialogues (confirmation, upgrade, result); the source must be open
    // and checked. True when the upgrade ran and succeeded.
    bool ConfirmAndUpgrade();
    // Why the last device upgrade failed when the general failure message does not say enough;
    // empty otherwise.
    const std::string& LastFailure() const { return lastFailure_; }
    // Run after the success message of a device upgrade: the program refreshes its connection
    // indicators there.
    void SetAfterUpgrade(std::function<void()> afterUpgrade) { afterUpgrade_ = std::move(afterUpgrade); }

private:
    enum class Upload { Clean, Doubtful, Failed };
    // One pass of the open payload into the unlocked loader. Doubtful: some block was repeated
    // after an answer that never came, so the loader may hold it twice.
    Upload UploadPayload();
    std::optional<std::vector<std::uint8_t>> Resource(std::string_view name) const;

    Comms& comms_;
    UserMessages& messages_;
    FileDialogs& files_;
    ProgressDisplay& progress_;
    Clock& clock_;
    ResourceLoader loader_;

    bool open_ = false;
    bool embedded_ = false;
    std::vector<std::uint8_t> data_;
    FirmwareHeader header_;
    std::string lastFailure_;
    std::function<void()> afterUpgrade_;
};

} // namespace kv
