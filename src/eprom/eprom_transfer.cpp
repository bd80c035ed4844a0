// The transfers between an image and the device: reading the emulation memory, reading a
// running unit's EPROM module, reading a module through its start-up channel, and programming a
// module while its unit powers up (with the ignition guidance and the module firmware offer).
//
// A failed transfer leaves the object as it was: what was read goes into a local buffer and
// only a complete image replaces the object's content.
#include "eprom/eprom_transfer.h"
#include "eprom/eprom_device.h"
#include "eprom/eprom_image.h"
#include "platform/clock.h"
#include "platform/ignition_prompt.h"
#include "platform/messages.h"
#include "platform/progress.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>
#include <set>
#include <utility>

namespace kv {

namespace {

constexpr int kBlock = 64;
const std::string kCrLf = "\r\n";
constexpr const char* kRequiredPemVersion = "1.00";
// Detection gives up when the device has not answered a status poll for this many polls in a
// row (the device was unplugged or went silent); otherwise it would wait for Cancel forever.
constexpr int kMaxSilentDetectPolls = 50;

// The progress window and questions, or nothing when the image runs without them.
class Ui {
public:
    explicit Ui(const EpromContext& context) : m_(context.messages), p_(context.progress) {}
    void Show(const std::string& caption, int maximum) {
        if (p_) p_->ShowProgress(caption, maximum);
    }
    void ShowWithCancel(const std::string& caption, int maximum) {
        if (!p_) return;
        p_->ShowProgress(caption, maximum);
        p_->EnableProgressCancel();
    }
    void Update(int value) {
        if (p_) p_->UpdateProgress(value);
    }
    void Close() {
        if (p_) p_->CloseProgress();
    }
    // Lets the user interface run; true when Cancel was pressed.
    bool Cancelled() {
        if (!p_) return false;
        p_->ProcessEvents();
        return p_->IsProgressCancelled();
    }
    void Events() {
        if (p_) p_->ProcessEvents();
    }
    MsgResult Ask(const std::string& text, const std::string& title, MsgButtons buttons, MsgResult headless) {
        return m_ ? m_->MessageBox(text, title, buttons, MsgIcon::Question) : headless;
    }
    void Tell(const std::string& text, const std::string& title) {
        if (m_) m_->MessageBox(text, title, MsgButtons::OK, MsgIcon::Information);
    }

private:
    UserMessages* m_;
    ProgressDisplay* p_;
};

// The ignition request of one guidance step, ended when the step is left whatever the way out.
class IgnitionAsk {
public:
    explicit IgnitionAsk(IgnitionPrompt* p) : p_(p) {}
    ~IgnitionAsk() { End(); }
    IgnitionAsk(const IgnitionAsk&) = delete;
    IgnitionAsk& operator=(const IgnitionAsk&) = delete;
    void Ask(IgnitionRequest request) {
        if (!p_) return;
        p_->Asked(request);
        pending_ = true;
    }
    void End() {
        if (!pending_) return;
        pending_ = false;
        p_->Ended();
    }

private:
    IgnitionPrompt* p_;
    bool pending_ = false;
};

// The context's clock, or the real one.
class ClockRef {
public:
    explicit ClockRef(Clock* c) : c_(c ? *c : steady_) {}
    Clock& operator*() { return c_; }
    Clock* operator->() { return &c_; }

private:
    SteadyClock steady_;
    Clock& c_;
};

std::string UnitName(int ecu) { return ecu == 2 ? "EZK" : "LH"; }

// How long a transfer waits for a device that dropped off the bus to come back.
constexpr std::int64_t kRecoveryMs = 3000;
constexpr std::int64_t kReopenPauseMs = 100;

// Up to `attempts` tries of `attempt`, `pauseMs` apart. While the link is down (the device left
// the bus) no try is spent: the link is reopened every 0.1 s for up to kRecoveryMs, so a device
// that returns within that time carries on where it was.
template <typename Attempt>
bool RetryWithRecovery(EpromDevice& device, Clock& clock, int attempts, int pauseMs, Attempt attempt) {
    std::int64_t downSince = -1;
    for (int tried = 0; tried < attempts;) {
        if (!device.Reopen()) {
            if (downSince < 0) downSince = clock.NowMs();
            if (clock.NowMs() - downSince >= kRecoveryMs) return false;
            clock.SleepMs(kReopenPauseMs);
            continue;
        }
        downSince = -1;
        if (tried > 0 && pauseMs > 0) clock.SleepMs(pauseMs);
        if (attempt()) return true;
        ++tried;
    }
    return false;
}

const std::string kCancelled = kCancelledByUser;
// How long the ignition guidance waits for the driver (the command-line tool has no Cancel).
constexpr std::int64_t kDriverWaitMs = 5 * 60 * 1000;
const std::string kIgnitionNotTurnedOff = "The ignition was not turned off within 5 minutes";
const std::string kIgnitionNotTurnedOn = "The ignition was not turned on within 5 minutes";
const std::string kNotResponding = kDeviceNotResponding;
// What a failed load found the module holding when it read it back.
const std::string kPartialImage =
    " The EPROM Module holds a partial image: the ECU must not be started until the image has been loaded "
    "again.";
const std::string kPreviousImage = " The EPROM Module still holds its previous image, unchanged.";
const std::string kNewImageWhole = " The EPROM Module holds the new image whole.";
const std::string kContentUnknown = " The EPROM Module did not answer when read back: what it holds is unknown, and "
                                    "the ECU must not be started until the image has been loaded again.";

// A block read from a running unit or from the emulator carries no checksum: a block counts
// only when two reads of it agree, with at most this many reads per block.
constexpr int kMaxReadsPerBlock = 6;
// Reads of a module block (which carries its own checksum) before the block counts as lost.
constexpr int kModuleBlockReads = 10;
// Writes of one module block before the load gives up on the block.
constexpr int kModuleBlockWrites = 8;
// Rounds of re-sending the blocks that the read-back found different.
constexpr int kResendRounds = 3;
// Attempts at the command that ends a module's start-up transfers.
constexpr int kFinishAttempts = 4;

// Reads one block with `read` until two reads agree; empty when they never do.
std::vector<std::uint8_t> AgreedRead(int block, const std::function<std::vector<std::uint8_t>()>& read) {
    std::vector<std::vector<std::uint8_t>> seen;
    for (int attempt = 0; attempt < kMaxReadsPerBlock; ++attempt) {
        std::vector<std::uint8_t> bytes = read();
        if (bytes.size() != static_cast<std::size_t>(block)) continue;
        if (std::find(seen.begin(), seen.end(), bytes) != seen.end()) return bytes;
        seen.push_back(std::move(bytes));
    }
    return {};
}

// Reads the whole 16 kB window in blocks of `block` bytes with `read` (address -> bytes) under a
// progress window of one step per block, each block until two reads agree; nullopt as soon as a
// block cannot be had.
std::optional<std::vector<std::uint8_t>>
ReadWindowInBlocks(Ui& ui, const std::string& caption, int block,
                   const std::function<std::vector<std::uint8_t>(int address)>& read) {
    std::vector<std::uint8_t> window(EPROM::kWindowSize, 0xFF);
    ui.Show(caption, EPROM::kWindowSize / block);
    for (int address = 0; address < EPROM::kWindowSize; address += block) {
        ui.Update(address / block);
        ui.Events();
        const std::vector<std::uint8_t> bytes = AgreedRead(block, [&read, address] { return read(address); });
        if (bytes.empty()) {
            ui.Close();
            return std::nullopt;
        }
        std::copy(bytes.begin(), bytes.end(), window.begin() + address);
    }
    ui.Close();
    return window;
}

// One module block through the start-up channel; its checksum covers the address, so one good
// read is the block. Empty when no read came whole.
std::vector<std::uint8_t> ReadModuleBlock(EpromDevice& device, Clock& clock, int address) {
    std::vector<std::uint8_t> block;
    int tries = 0;
    const bool got = RetryWithRecovery(device, clock, kModuleBlockReads, 0, [&] {
        if (tries++ > 0) device.DrainReplies();
        block = device.PemReadBlock(address);
        return block.size() == static_cast<std::size_t>(kBlock);
    });
    if (!got) block.clear();
    return block;
}

// One module block written, with a drained reply window before every repeat.
bool WriteModuleBlock(EpromDevice& device, Clock& clock, int address, const std::vector<std::uint8_t>& block) {
    int tries = 0;
    return RetryWithRecovery(device, clock, kModuleBlockWrites, 10, [&] {
        if (tries++ > 0) device.DrainReplies();
        return device.PemWriteBlock(address, block);
    });
}

// What a module holds after a load failed: `previous` has, for each block the load wrote or
// tried to write, what the module held there before (blocks it never touched still hold that).
// The module is read back whole; the sentence to add to the failure's message.
std::string WhatTheModuleHolds(Ui& ui, EpromDevice& device, Clock& clock, int windowOffset,
                               const std::vector<std::uint8_t>& loaded,
                               const std::vector<std::optional<std::vector<std::uint8_t>>>& previous) {
    if (std::none_of(previous.begin(), previous.end(), [](const auto& b) { return b.has_value(); }))
        return kPreviousImage;
    const int blocks = static_cast<int>(previous.size());
    bool whole = true;
    bool unchanged = true;
    ui.Show("Reading back", blocks);
    for (int blockNo = 0; blockNo < blocks; ++blockNo) {
        if (blockNo > 0 && blockNo % 8 == 0) {
            ui.Update(blockNo);
            ui.Events();
        }
        const int offset = blockNo * kBlock;
        const std::vector<std::uint8_t> held = ReadModuleBlock(device, clock, windowOffset + offset);
        if (held.empty()) {
            ui.Close();
            return kContentUnknown;
        }
        whole = whole && std::equal(held.begin(), held.end(), loaded.begin() + offset);
        const auto& before = previous[static_cast<std::size_t>(blockNo)];
        unchanged = unchanged && (!before || held == *before);
    }
    ui.Close();
    if (whole) return kNewImageWhole;
    return unchanged ? kPreviousImage : kPartialImage;
}

} // namespace

std::string GuideIgnitionOff(EpromContext& context) {
    EpromDevice* device = context.device;
    if (!device || !device->IsIgnitionOn()) return {};
    Ui ui(context);
    ClockRef clock(context.clock);
    const std::int64_t giveUpAt = clock->NowMs() + kDriverWaitMs;
    IgnitionAsk ask(context.ignition);
    for (;;) {
        ui.ShowWithCancel("Turn ignition OFF", 0);
        ask.Ask(IgnitionRequest::Off);
        for (;;) {
            if (ui.Cancelled()) {
                ui.Close();
                return kCancelled;
            }
            if (!device->IsIgnitionOn()) break;
            if (clock->NowMs() >= giveUpAt) {
                ui.Close();
                return kIgnitionNotTurnedOff;
            }
            clock->SleepMs(100);
        }
        ask.End();
        ui.ShowWithCancel("Ignition is off. Waiting for ECUs to power down.", 60);
        bool backOn = false;
        for (int poll = 0; poll < 61; ++poll) {
            ui.Update(std::min(poll, 60));
            if (ui.Cancelled()) {
                ui.Close();
                return kCancelled;
            }
            if (device->IsIgnitionOn()) {
                backOn = true;
                break;
            }
            clock->SleepMs(100);
        }
        if (!backOn) return {};
    }
}

std::string WaitForModules(EpromContext& context, int wantedMask, int& status) {
    EpromDevice* device = context.device;
    Ui ui(context);
    ClockRef clock(context.clock);
    status = -1;
    IgnitionAsk ask(context.ignition);
    ui.ShowWithCancel("Turn ignition ON", 0);
    ask.Ask(IgnitionRequest::On);
    if (!device || !device->PemDetectStart(wantedMask)) {
        ui.Close();
        return kNotResponding;
    }
    int onPolls = 0;
    int silentPolls = 0;
    const std::int64_t giveUpAt = clock->NowMs() + kDriverWaitMs;
    for (;;) {
        if (ui.Cancelled()) {
            device->PemDetectStop();
            ui.Close();
            return kCancelled;
        }
        status = device->PemDetectStatus();
        onPolls = device->IsIgnitionOn() ? onPolls + 1 : 0;
        if (status == wantedMask || onPolls >= 4) break;
        silentPolls = status == -1 ? silentPolls + 1 : 0;
        if (silentPolls >= kMaxSilentDetectPolls) {
            device->PemDetectStop();
            ui.Close();
            return kNotResponding;
        }
        if (clock->NowMs() >= giveUpAt) {
            device->PemDetectStop();
            ui.Close();
            return kIgnitionNotTurnedOn;
        }
        clock->SleepMs(100);
    }
    device->PemDetectStop();
    return {};
}

std::string FinishModule(EpromContext& context, int ecu, bool selected) {
    EpromDevice* device = context.device;
    for (int attempt = 0; device && attempt < kFinishAttempts; ++attempt) {
        if (attempt > 0) device->DrainReplies();
        if ((attempt > 0 || !selected) && !device->PemSelect(ecu)) continue;
        if (device->PemFinish()) return {};
    }
    return "The " + UnitName(ecu) +
           " EPROM Module did not confirm the end of the transfer and may still hold its ECU in start-up. Switch "
           "the ignition off and on again.";
}

std::string EPROM::LoadFromEmulator() {
    EpromDevice* device = Context().device;
    Ui ui(Context());
    auto read = ReadWindowInBlocks(ui, "Downloading from Kestrovane", 256, [device](int address) {
        return device ? device->ReadEmulatorBlock(address, 256) : std::vector<std::uint8_t>{};
    });
    if (!read) return "Kestrovane device not responding";
    savedImage_ = *read;
    image_ = std::move(*read);
    FinishLoadFromDevice();
    return {};
}

std::string EPROM::LoadFromECU_Running(int ecu) {
    EpromDevice* device = Context().device;
    Ui ui(Context());
    const std::string unit = UnitName(ecu);
    auto read = ReadWindowInBlocks(ui, "Downloading from " + unit + " PEM", kBlock, [device, ecu](int address) {
        return device ? device->EcuReadEprom(ecu, address, kBlock) : std::vector<std::uint8_t>{};
    });
    if (!read) return "Failed to connect to " + unit + " ECU. Check settings in Tools -> Options.";
    savedImage_ = *read;
    image_ = std::move(*read);
    FinishLoadFromDevice();
    return {};
}

std::string EPROM::LoadFromECU_Initiation(int ecu) {
    EpromDevice* device = Context().device;
    Ui ui(Context());
    ClockRef clock(Context().clock);
    const std::string unit = UnitName(ecu);
    std::vector<std::uint8_t> read(kWindowSize, 0xFF);
    ui.Show("Downloading from " + unit + " PEM", 256);
    if (!device || !device->PemSelect(ecu)) {
        ui.Close();
        return "Failed to connect " + unit + " ECU";
    }
    for (int address = 0; address < kWindowSize; address += kBlock) {
        const int blockNo = address / kBlock;
        if (blockNo > 0 && blockNo % 8 == 0) {
            ui.Update(blockNo);
            ui.Events();
        }
        const std::vector<std::uint8_t> block = ReadModuleBlock(*device, *clock, address);
        if (block.empty()) {
            ui.Close();
            return "Lost connection to " + unit + " ECU";
        }
        std::copy(block.begin(), block.end(), read.begin() + address);
    }
    ui.Close();
    savedImage_ = read;
    image_ = std::move(read);
    FinishLoadFromDevice();
    return {};
}

std::string EPROM::LoadToEmulator() {
    const int unit = DeviceUnit(); // 1 = LH, 2 = EZK
    if (unit == 0) {
        return "According to configuration settings, the ECU this EPROM image is intended for is not Kestrovane "
               "enabled. Please check settings in Tools -> Options.";
    }
    if (!Context().deviceIO) return {};
    EpromDevice* device = Context().device;
    if (!device) return "Kestrovane device not responding";
    Ui ui(Context());
    ClockRef clock(Context().clock);

    // The unit must power up with the module watching: first the ignition goes off and the
    // units power down, then it goes on again.
    if (std::string m = GuideIgnitionOff(Context()); !m.empty()) return m;
    int status = -1;
    if (std::string m = WaitForModules(Context(), unit, status); !m.empty()) return m;
    if (status == 0) {
        ui.Close();
        return "No ECU with Kestrovane Programmable EPROM Module was found";
    }
    clock->SleepMs(200);
    if (!device->PemSelect(unit)) {
        ui.Close();
        return "Connection to ECU lost";
    }

    const std::string version = device->PemGetFirmwareVersion();
    if (!version.empty() && version.compare(kRequiredPemVersion) < 0) {
        ui.Close();
        const std::string text = "The firmware version on the Programmable EPROM Module is old (installed version is " +
                                 version + ", required version is " + kRequiredPemVersion + "). " + kCrLf + kCrLf +
                                 "The firmware will now be upgraded. Click OK to continue or Cancel to skip upgrade." +
                                 kCrLf + kCrLf + "Warning! Do NOT turn ignition off while the " +
                                 "firmware upgrade is in progress as this may render the EPROM Module unusable!";
        if (ui.Ask(text, "Kestrovane", MsgButtons::OKCancel, MsgResult::Cancel) == MsgResult::OK) {
            if (device->UpgradePemFirmware(unit)) {
                ui.Tell("The firmware was successfully upgraded. The EPROM will now be loaded.", "Kestrovane");
            } else {
                ui.Tell("Firmware upgrade failed!", "Kestrovane");
            }
        }
    }

    const int size = std::min<int>(imageSize_, static_cast<int>(image_.size()));
    const int blocks = size / kBlock;
    auto blockOf = [this](int offset) {
        return std::vector<std::uint8_t>(image_.begin() + offset, image_.begin() + offset + kBlock);
    };
    // Each block the module held is read before it is overwritten, so that a load that fails can
    // tell from the read-back whether the module still holds that image, the new one, or neither.
    std::vector<std::optional<std::vector<std::uint8_t>>> previous(static_cast<std::size_t>(blocks));
    const std::vector<std::uint8_t> loaded(image_.begin(), image_.begin() + size);
    auto failed = [&](const std::string& message) {
        ui.Close();
        return message + WhatTheModuleHolds(ui, *device, *clock, windowOffset_, loaded, previous);
    };
    const std::string lost = "Connection to ECU lost.";
    ui.Show("Loading", blocks);
    for (int blockNo = 0; blockNo < blocks; ++blockNo) {
        if (blockNo > 0 && blockNo % 8 == 0) {
            ui.Update(blockNo);
            ui.Events();
        }
        const int offset = blockNo * kBlock;
        std::vector<std::uint8_t> held = ReadModuleBlock(*device, *clock, windowOffset_ + offset);
        if (held.empty()) return failed(lost);
        previous[static_cast<std::size_t>(blockNo)] = std::move(held);
        if (!WriteModuleBlock(*device, *clock, windowOffset_ + offset, blockOf(offset))) return failed(lost);
    }

    // An acknowledgement does not say which block it answers: only the module's own content,
    // read back block by block, shows that the image arrived. Blocks that differ go again.
    std::vector<int> toCheck(static_cast<std::size_t>(blocks));
    std::iota(toCheck.begin(), toCheck.end(), 0);
    std::vector<int> differing;
    for (int round = 0; round <= kResendRounds; ++round) {
        if (round > 0) {
            toCheck = differing;
            for (int blockNo : toCheck) {
                const int offset = blockNo * kBlock;
                if (!WriteModuleBlock(*device, *clock, windowOffset_ + offset, blockOf(offset))) return failed(lost);
            }
        }
        ui.Show("Verifying", static_cast<int>(toCheck.size()));
        differing.clear();
        for (std::size_t i = 0; i < toCheck.size(); ++i) {
            if (i > 0 && i % 8 == 0) {
                ui.Update(static_cast<int>(i));
                ui.Events();
            }
            const int offset = toCheck[i] * kBlock;
            const std::vector<std::uint8_t> held = ReadModuleBlock(*device, *clock, windowOffset_ + offset);
            if (held.empty()) return failed(lost);
            if (held != blockOf(offset)) differing.push_back(toCheck[i]);
        }
        if (differing.empty()) break;
    }
    if (!differing.empty())
        return failed(std::to_string(differing.size()) + " of " + std::to_string(blocks) +
                      " blocks did not arrive in the EPROM Module.");
    unconfirmed_.clear(); // the read-back showed the module holds the whole image
    offline_ = false;
    const std::string finished = FinishModule(Context(), unit, true);
    ui.Close();
    return finished;
}

namespace {

// Runs of consecutive addresses, each at most `limit` long, as (first address, length).
std::vector<std::pair<std::int32_t, int>> Stretches(const std::set<std::int32_t>& addresses, int limit) {
    std::vector<std::pair<std::int32_t, int>> out;
    for (std::int32_t a : addresses) {
        if (!out.empty() && out.back().first + out.back().second == a && out.back().second < limit)
            ++out.back().second;
        else
            out.emplace_back(a, 1);
    }
    return out;
}

// Bytes one write-through or read-back request carries at most.
constexpr int kLiveStretch = 255;

} // namespace

std::optional<std::size_t> EPROM::CheckUnconfirmedWrites() {
    EpromDevice* device = context_->device;
    const int unit = DeviceUnit();
    if (unconfirmed_.empty()) return 0;
    if (device == nullptr || unit == 0) return std::nullopt;
    std::set<std::int32_t> held;
    for (const auto& [first, length] : Stretches(unconfirmed_, kLiveStretch)) {
        const std::vector<std::uint8_t> bytes = AgreedRead(length, [&, first = first, length = length] {
            return device->EcuReadEprom(unit, windowOffset_ + first, length);
        });
        if (bytes.empty()) return std::nullopt;
        for (int i = 0; i < length; ++i)
            if (bytes[static_cast<std::size_t>(i)] == ReadByte(first + i)) held.insert(first + i);
    }
    for (std::int32_t a : held) unconfirmed_.erase(a);
    return unconfirmed_.size();
}

bool EPROM::ResendUnconfirmedWrites() {
    EpromDevice* device = context_->device;
    const int unit = DeviceUnit();
    if (unconfirmed_.empty()) return true;
    if (device == nullptr || unit == 0) return false;
    for (const auto& [first, length] : Stretches(unconfirmed_, kLiveStretch)) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < length; ++i) bytes.push_back(ReadByte(first + i));
        // An acknowledgement is not taken for the bytes: the read-back below decides.
        (void)device->EcuWriteEprom(unit, windowOffset_ + first, bytes);
    }
    const std::optional<std::size_t> missing = CheckUnconfirmedWrites();
    return missing && *missing == 0;
}

} // namespace kv
