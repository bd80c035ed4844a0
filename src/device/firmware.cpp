#include "device/firmware.h"

#include "device/comms.h"
#include "eprom/eprom_image.h"
#include "platform/clock.h"
#include "platform/file_dialogs.h"
#include "platform/file_io.h"
#include "platform/messages.h"
#include "platform/progress.h"
#include "platform/resources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kv {

namespace {

const std::string kCrLf = "\r\n";
// A firmware file is about 11 kB; anything past this size is not one and is not read whole.
constexpr std::uintmax_t kMaxFirmwareFileSize = 16u * 1024u * 1024u;

// Attempts at one firmware block, passes over the whole payload, reads of the version afterwards.
constexpr int kBlockAttempts = 4;
constexpr int kUploadPasses = 3;
constexpr int kVersionReads = 4;

int RoundedDiv(double num, double den) { return static_cast<int>(std::lrint(num / den)); }

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

} // namespace

Firmware::Firmware(Comms& comms, UserMessages& messages, FileDialogs& files, ProgressDisplay& progress, Clock& clock,
                   ResourceLoader loader)
    : comms_(comms), messages_(messages), files_(files), progress_(progress), clock_(clock),
      loader_(std::move(loader)) {}

std::optional<std::vector<std::uint8_t>> Firmware::Resource(std::string_view name) const {
    return loader_ ? loader_(name) : LoadResource(name);
}

bool Firmware::OpenFirmware(const std::string& source) {
    CloseFirmware();
    if (source == kEmbeddedFirmwareSource) {
        auto r = Resource("FIRMWARE");
        if (!r) return false;
        data_ = UnpackResource(*r);
        embedded_ = true;
    } else {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path file = PathFromUtf8(source);
        if (source.empty() || !fs::is_regular_file(file, ec)) return false;
        const std::uintmax_t size = fs::file_size(file, ec);
        if (ec) return false;
        std::ifstream in(file, std::ios::binary);
        if (!in) return false;
        // An oversized file keeps only its first bytes: its length can never match a header.
        const std::size_t want = static_cast<std::size_t>(std::min(size, kMaxFirmwareFileSize + 1));
        data_.assign(want, 0);
        in.read(reinterpret_cast<char*>(data_.data()), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(in.gcount()) != want) {
            data_.clear();
            return false;
        }
        embedded_ = false;
    }
    header_ = ParseFirmwareHeader(data_).ValueOr(FirmwareHeader{});
    open_ = true;
    return true;
}

bool Firmware::CheckFirmware() {
    if (!open_) return false;
    if (!embedded_ && data_.size() > kMaxFirmwareFileSize) return false;
    return CheckFirmwareBytes(data_, !embedded_, &progress_);
}

std::string Firmware::GetFirmwareFileVersion() const { return open_ ? Trim(header_.version) : std::string(); }

void Firmware::CloseFirmware() {
    open_ = false;
    embedded_ = false;
    data_.clear();
    data_.shrink_to_fit();
    header_ = FirmwareHeader{};
}

Firmware::Upload Firmware::UploadPayload() {
    const std::uint32_t length = header_.payloadLength;
    progress_.ShowProgress("Loading firmware", RoundedDiv(length, 256.0));
    const auto payload = data_.begin() + header_.payloadOffset;
    bool doubtful = false;
    for (std::uint32_t offset = 0; offset < length; offset += kFirmwareBlockSize) {
        progress_.UpdateProgress(static_cast<int>(offset / kFirmwareBlockSize));
        progress_.ProcessEvents();
        // 256-byte block: the payload bytes, the rest 0xFF
        std::vector<std::uint8_t> block(kFirmwareBlockSize, 0xFF);
        const std::uint32_t n = std::min<std::uint32_t>(kFirmwareBlockSize, length - offset);
        std::copy(payload + offset, payload + offset + n, block.begin());
        bool taken = false;
        for (int attempt = 0; attempt < kBlockAttempts && !taken; ++attempt) {
            const std::optional<bool> answer = comms_.SendFirmwareBlock(block);
            if (!answer) {
                // The loader may have taken the block and its answer got lost: the repeat may
                // leave the block in the loader twice.
                doubtful = true;
                comms_.DrainReplies();
                continue;
            }
            taken = *answer;
        }
        if (!taken) return Upload::Failed;
    }
    return doubtful ? Upload::Doubtful : Upload::Clean;
}

bool Firmware::UpgradeDeviceFirmware() {
    lastFailure_.clear();
    if (!open_ || header_.payloadLength == 0 ||
        static_cast<std::uint64_t>(header_.payloadOffset) + header_.payloadLength > data_.size())
        return false;

    Upload upload = Upload::Doubtful;
    for (int pass = 0; pass < kUploadPasses && upload == Upload::Doubtful; ++pass) {
        // Unlocking the loader starts a fresh upload: a pass that may have left a block twice
        // starts over from the first block.
        progress_.ShowProgress("Starting firmware upgrade", 1);
        if (!comms_.EnterBootloader()) {
            progress_.CloseProgress();
            return false;
        }
        upload = UploadPayload();
    }
    if (upload != Upload::Clean) {
        if (upload == Upload::Doubtful)
            lastFailure_ = "The device may have received a firmware block twice. Run the firmware upgrade again.";
        progress_.CloseProgress();
        return false;
    }

    progress_.ShowProgress("Restarting firmware", 16);
    comms_.RestartFirmware();
    for (int i = 0; i <= 16; ++i) {
        const std::int64_t t0 = clock_.NowMs();
        progress_.UpdateProgress(i);
        progress_.ProcessEvents();
        if (i >= 2) {
            comms_.Comms_ShutDown();
            comms_.Comms_Open();
            if (comms_.Ping()) break;
        }
        clock_.SleepMs(500 - (clock_.NowMs() - t0));
    }
    // Only the device's own word shows that it runs the new firmware: the loader can refuse an
    // upload and restart into the old one.
    const std::string expected = GetFirmwareFileVersion();
    std::string reported;
    for (int read = 0; read < kVersionReads && reported != expected; ++read) {
        if (!comms_.Ping()) continue;
        reported = comms_.GetFirmwareVersion();
    }
    progress_.CloseProgress();
    if (reported == expected) return true;
    if (!reported.empty())
        lastFailure_ = "The device reports firmware version " + reported + " instead of " + expected + ".";
    return false;
}

bool Firmware::UpgradePemFirmware(int ecuKind) {
    const auto packed = Resource("NVRAM-FIRMWARE");
    if (!packed) return false;
    const std::vector<std::uint8_t> image = UnpackResource(*packed);
    // Never push a short or missing image into a module.
    if (image.size() < static_cast<std::size_t>(kPemFirmwareSize)) return false;

    progress_.ShowProgress("Loading EPROM Module firmware", kPemFirmwareSize / kPemFirmwareBlockSize);
    for (int address = 0; address < kPemFirmwareSize; address += kPemFirmwareBlockSize) {
        progress_.UpdateProgress(address / kPemFirmwareBlockSize);
        progress_.ProcessEvents();
        const std::vector<std::uint8_t> block(image.begin() + address, image.begin() + address + kPemFirmwareBlockSize);
        bool written = false;
        for (int attempt = 0; attempt < 8 && !written; ++attempt) written = comms_.PemWriteBlock(address, block);
        if (!written) {
            progress_.CloseProgress();
            return false;
        }
    }

    progress_.ShowProgress("Updating firmware", 21);
    if (!comms_.PemFirmwareUpdateStart()) {
        progress_.CloseProgress();
        return false;
    }
    comms_.PemDetectStart(ecuKind);
    progress_.UpdateProgress(1);
    bool seen = false;
    for (int poll = 0; poll < 22 && !seen; ++poll) {
        progress_.UpdateProgress(std::min(21, poll + 1));
        progress_.ProcessEvents();
        const int s = comms_.PemDetectStatus();
        if (s != 0 && s != -1) {
            seen = true;
        } else {
            clock_.SleepMs(330);
        }
    }
    comms_.PemDetectStop();
    progress_.CloseProgress();
    if (!seen) return false;
    return comms_.PemSelect(ecuKind);
}

bool Firmware::ConfirmAndUpgrade() {
    const std::string text =
        "This will update the firmware on the Kestrovane device to version " + GetFirmwareFileVersion() + ". " +
        "The update will take approximately one minute to finish. " + kCrLf + kCrLf +
        "It is extremely important that the update is not interrupted as the Kestrovane may become permanently "
        "inoperative and must be returned to the manufacturer to make it functional again. " +
        "Therefore it is recommended that you close any applications that may risk system stability before "
        "starting the update. " +
        kCrLf + kCrLf + "Start firmware update now?";
    if (messages_.MessageBox(text, "Firmware upgrade", MsgButtons::YesNo, MsgIcon::Warning) != MsgResult::Yes) {
        CloseFirmware();
        return false;
    }
    const bool ok = UpgradeDeviceFirmware();
    CloseFirmware();
    if (ok) {
        messages_.MessageBox("Firmware succesfully updated.", "Firmware upgrade", MsgButtons::OK, MsgIcon::Information);
        if (afterUpgrade_) afterUpgrade_();
    } else {
        const std::string why = lastFailure_.empty() ? std::string() : kCrLf + kCrLf + lastFailure_;
        messages_.MessageBox("Firmware upgrade failed!" + why, "Error", MsgButtons::OK, MsgIcon::Critical);
    }
    return ok;
}

void Firmware::CheckFirmwareAtStartUp(bool offerUpgrade) {
    const std::string v = comms_.GetFirmwareVersion();
    if (v.empty() || !VersionBelow(v, kRequiredFirmwareVersion)) return;
    if (!offerUpgrade) {
        messages_.MessageBox(std::string("Your Kestrovane device has an old version of the firmware which is not ") +
                                 "compatible with this version of the PC software. Some functionality may not work "
                                 "properly. " +
                                 "Please upgrade the firmware by closing the PC software, starting it again and "
                                 "answering Yes when offered to do the upgrade.",
                             "Warning", MsgButtons::OK, MsgIcon::Warning);
        return;
    }
    const std::string ask =
        std::string("This version of the Kestrovane PC software requires firmware version ") +
        kRequiredFirmwareVersion + " on the Kestrovane device. The firmware version on your Kestrovane device is " + v +
        "." + kCrLf + kCrLf + "Do you wish to upgrade the firmware to version " + kRequiredFirmwareVersion + " now?";
    if (messages_.MessageBox(ask, "Old firmware version detected", MsgButtons::YesNo, MsgIcon::Question) !=
        MsgResult::Yes) {
        messages_.MessageBox("The Kestrovane may not work properly until you have upgraded the firmware.", "Warning",
                             MsgButtons::OK, MsgIcon::Warning);
        return;
    }
    if (!OpenFirmware(kEmbeddedFirmwareSource)) {
        messages_.MessageBox("Failed to load firmware data from disk", "Firmware upgrade failed", MsgButtons::OK,
                             MsgIcon::Critical);
        return;
    }
    if (!CheckFirmware()) {
        messages_.MessageBox("The firmware shipped with this version of the PC software is corrupt",
                             "Firmware upgrade failed", MsgButtons::OK, MsgIcon::Critical);
        CloseFirmware();
        return;
    }
    ConfirmAndUpgrade();
}

void Firmware::ToolsFirmwareUpgrade() {
    if (comms_.IsIgnitionOn()) {
        const std::string text =
            std::string("A firmware upgrade should be performed only when ignition is switched off and the vehicle "
                        "is parked. ") +
            "If ignition is switched on, the engine will stall or may behave unpredictably resulting in a high risk "
            "of accident if the vehicle is in motion. " +
            "Kestrovane has detected that you have ignition switched on." + kCrLf + kCrLf + "Proceed anyway?";
        if (messages_.MessageBox(text, "Warning", MsgButtons::YesNo, MsgIcon::Warning) != MsgResult::Yes) return;
    }
    const auto file = files_.OpenFileDialog("Firmware upgrade", "Firmware files (*.dat)|*.dat");
    if (!file || file->path.empty()) return;
    if (!OpenFirmware(file->path)) {
        messages_.MessageBox("Failed to open file!", "Error", MsgButtons::OK, MsgIcon::Critical);
        return;
    }
    if (!CheckFirmware()) {
        messages_.MessageBox("The selected file is not a firmware .dat file or is corrupted.", "Error", MsgButtons::OK,
                             MsgIcon::Critical);
        CloseFirmware();
        return;
    }
    ConfirmAndUpgrade();
}

} // namespace kv
