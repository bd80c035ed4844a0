// The image transfers against a scripted device: messages, progress windows, retries, the
// ignition guidance with its Cancel paths and the module firmware offer.
#include "eprom/eprom_device.h"
#include "eprom/eprom_image.h"
#include "eprom/eprom_transfer.h"
#include "fakes.h"
#include "platform/resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

namespace kv {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A device whose answers are functions of the test clock and of call counts.
class ScriptedDevice final : public EpromDevice {
public:
    explicit ScriptedDevice(FakeClock& clock) : clock_(clock) {}

    bool EcuWriteEprom(int, int, const Bytes&) override { return true; }
    Bytes EcuReadEprom(int ecuKind, int address, int n) override {
        log.push_back("EcuReadEprom");
        if (failReadAt >= 0 && address >= failReadAt) return {};
        lastKind = ecuKind;
        return Unchecked(address, n);
    }
    Bytes ReadEmulatorBlock(int address, int length) override {
        if (failReadAt >= 0 && address >= failReadAt) return {};
        return Unchecked(address, length);
    }
    bool IsIgnitionOn() override { return ignition(clock_.now - start); }
    bool PemDetectStart(int mask) override {
        log.push_back("PemDetectStart " + std::to_string(mask));
        return detectStartOk;
    }
    int PemDetectStatus() override { return detectStatus(clock_.now - start); }
    bool PemDetectStop() override {
        log.push_back("PemDetectStop");
        return true;
    }
    bool PemSelect(int ecuKind) override {
        log.push_back("PemSelect " + std::to_string(ecuKind));
        return selectOk;
    }
    std::string PemGetFirmwareVersion() override { return pemVersion; }
    bool PemWriteBlock(int address, const Bytes& block) override {
        const int attempt = ++writeAttempts[address];
        blockLog.push_back("PemWriteBlock " + std::to_string(address));
        if (!acceptWrite(address, attempt)) return false;
        written[address] = block;
        if (storeWrite(address, attempt)) std::copy(block.begin(), block.end(), memory.begin() + address);
        return true;
    }
    Bytes PemReadBlock(int address) override {
        const int attempt = ++readAttempts[address];
        if (!acceptRead(address, attempt)) return {};
        return Bytes(memory.begin() + address, memory.begin() + address + 64);
    }
    bool PemFinish() override {
        log.push_back("PemFinish");
        return finishOk(++finishAttempts);
    }
    void DrainReplies() override {
        log.push_back("DrainReplies");
        blockLog.push_back("DrainReplies");
    }
    bool UpgradePemFirmware(int ecuKind) override {
        log.push_back("UpgradePemFirmware " + std::to_string(ecuKind));
        return upgradeOk;
    }
    bool Reopen() override { return true; }

    std::int64_t start = 0;
    std::function<bool(std::int64_t)> ignition = [](std::int64_t) { return false; };
    std::function<int(std::int64_t)> detectStatus = [](std::int64_t t) { return t >= 300 ? 1 : 0; };
    std::function<bool(int, int)> acceptWrite = [](int, int) { return true; };
    std::function<bool(int, int)> acceptRead = [](int, int) { return true; };
    // An acknowledged block that the module did not keep (the acknowledgement answered another
    // request).
    std::function<bool(int, int)> storeWrite = [](int, int) { return true; };
    // Reads without a checksum (running unit, emulator) that arrive with a wrong byte.
    std::function<bool(int, int)> garbleRead = [](int, int) { return false; };
    std::function<bool(int)> finishOk = [](int) { return true; };
    int finishAttempts = 0;
    bool detectStartOk = true;
    bool selectOk = true;
    bool upgradeOk = true;
    std::string pemVersion = "1.00";
    int failReadAt = -1;
    int lastKind = 0;
    Bytes memory = Bytes(16384, 0);
    std::map<int, Bytes> written;
    std::map<int, int> writeAttempts, readAttempts;
    std::vector<std::string> log;
    std::vector<std::string> blockLog; // block writes and drains

private:
    Bytes Unchecked(int address, int n) {
        Bytes out(memory.begin() + address, memory.begin() + address + n);
        const int attempt = ++uncheckedReads[address];
        if (garbleRead(address, attempt)) out[static_cast<std::size_t>(attempt) % out.size()] ^= 0x5A;
        return out;
    }

    std::map<int, int> uncheckedReads;
    FakeClock& clock_;
};

// An LH 2.3 image ("MRX-D" marker) or an EZK image, with a recognisable pattern.
Bytes UnitImage(int ecuType) {
    Bytes b(16384);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>((i * 31 + i / 256) & 0xFF);
    const std::string marker = "MRX-D";
    const std::size_t at = ecuType == 1 ? 16368 : 16352;
    for (std::size_t i = 0; i < 5; ++i) b[at + i] = static_cast<std::uint8_t>(marker[i]);
    if (ecuType == 1)
        for (std::size_t i = 0; i < 5; ++i) b[16352 + i] = 0xFF;
    return b;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        context.deviceIO = true;
        context.device = &device;
        context.messages = &dialogs;
        context.progress = &dialogs;
        context.clock = &clock;
        context.ignition = &prompt;
        device.start = clock.now;
        device.memory = UnitImage(1);
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& l : dialogs.log)
            if (l.rfind("ShowProgress|", 0) == 0) out.push_back(l.substr(13));
        return out;
    }
    EPROM LoadedImage(int ecuType) {
        EPROM image(context);
        image.LoadFromArray(UnitImage(ecuType));
        EXPECT_EQ(EcuTypeCode(image.GetECUType()), ecuType);
        return image;
    }

    FakeClock clock;
    ScriptedDevice device{clock};
    ScriptedDialogs dialogs;
    RecordingIgnitionPrompt prompt;
    EpromContext context;
};

// ---- LoadToEmulator ----

TEST_F(TransferTest, LoadWithIgnitionOffAtTheStartProgramsEveryBlock) {
    for (int type : {1, 2}) {
        device.written.clear();
        device.log.clear();
        dialogs.log.clear();
        prompt.log.clear();
        device.detectStatus = [type](std::int64_t t) { return t >= 300 ? type : 0; };
        EPROM image = LoadedImage(type);
        EXPECT_EQ(image.LoadToEmulator(), "");
        ASSERT_EQ(device.written.size(), 256u);
        for (const auto& [address, block] : device.written)
            EXPECT_EQ(block, Bytes(image.Bytes().begin() + address, image.Bytes().begin() + address + 64));
        EXPECT_EQ(device.log, (std::vector<std::string>{"PemDetectStart " + std::to_string(type), "PemDetectStop",
                                                        "PemSelect " + std::to_string(type), "PemFinish"}));
        EXPECT_EQ(Captions(), (std::vector<std::string>{"Turn ignition ON|0", "Loading|256", "Verifying|256"}));
        EXPECT_EQ(prompt.log, (std::vector<std::string>{"on", "end"}));
        EXPECT_FALSE(dialogs.progressVisible);
    }
}

TEST_F(TransferTest, LoadGuidesTheIgnitionOffAndOnAgain) {
    // on at the start, off at 1 s, on again at 8 s (after the 6 s power-down wait)
    device.ignition = [](std::int64_t t) { return t < 1000 || t >= 8000; };
    device.detectStatus = [](std::int64_t t) { return t >= 8000 ? 1 : 0; };
    EPROM image = LoadedImage(1);
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"Turn ignition OFF|0", "Ignition is off. Waiting for ECUs to power down.|60",
                                        "Turn ignition ON|0", "Loading|256", "Verifying|256"}));
    EXPECT_EQ(prompt.log, (std::vector<std::string>{"off", "end", "on", "end"}));
    EXPECT_EQ(device.written.size(), 256u);
    EXPECT_GE(clock.now - device.start, 8000);
}

TEST_F(TransferTest, IgnitionBackOnDuringThePowerDownWaitStartsOver) {
    device.ignition = [](std::int64_t t) { return t < 500 || (t >= 2000 && t < 3000) || t >= 12000; };
    device.detectStatus = [](std::int64_t t) { return t >= 12000 ? 1 : 0; };
    EPROM image = LoadedImage(1);
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"Turn ignition OFF|0", "Ignition is off. Waiting for ECUs to power down.|60",
                                        "Turn ignition OFF|0", "Ignition is off. Waiting for ECUs to power down.|60",
                                        "Turn ignition ON|0", "Loading|256", "Verifying|256"}));
    EXPECT_EQ(prompt.log, (std::vector<std::string>{"off", "end", "off", "end", "on", "end"}));
}

TEST_F(TransferTest, CancelInAnyIgnitionWindowStopsWithoutWriting) {
    // The window cancelled, and the ignition requests told until then (each ended).
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"Turn ignition OFF", {"off", "end"}},
        {"Ignition is off. Waiting for ECUs to power down.", {"off", "end"}},
        {"Turn ignition ON", {"off", "end", "on", "end"}},
    };
    for (const auto& [window, prompts] : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        dev.ignition = [](std::int64_t t) { return t < 1000; };
        dev.detectStatus = [](std::int64_t) { return 0; };
        ScriptedDialogs dlg;
        const std::string w = window;
        dlg.cancelWhen = [w](const std::string& caption) { return caption == w; };
        RecordingIgnitionPrompt asked;
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk, &asked};
        EPROM image(ctx);
        image.LoadFromArray(UnitImage(1));
        EXPECT_EQ(image.LoadToEmulator(), "Cancelled by user") << window;
        EXPECT_EQ(asked.log, prompts) << window;
        EXPECT_TRUE(dev.written.empty()) << window;
        EXPECT_FALSE(dlg.progressVisible) << window;
        EXPECT_TRUE(dlg.progressCancelEnabled) << window;
    }
}

// Nobody at the key (the command-line tool has no Cancel): the waits for the driver end on
// their own with a message instead of waiting for ever.
TEST_F(TransferTest, WaitsForTheDriverEndWithAMessage) {
    constexpr std::int64_t kNever = 20 * 60 * 1000; // the key is turned only after twenty minutes
    struct Case {
        const char* name;
        std::function<bool(std::int64_t)> ignition;
        std::string message;
    };
    const Case cases[] = {
        {"never turned off", [](std::int64_t t) { return t < kNever || t >= kNever + 10000; },
         "The ignition was not turned off within 5 minutes"},
        {"never turned on again", [](std::int64_t t) { return t < 1000 || t >= kNever; },
         "The ignition was not turned on within 5 minutes"},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        dev.ignition = c.ignition;
        dev.detectStatus = [](std::int64_t) { return 0; };
        EpromContext ctx{true, true, &dev, nullptr, nullptr, &clk};
        EPROM image(ctx);
        image.LoadFromArray(UnitImage(1));
        EXPECT_EQ(image.LoadToEmulator(), c.message) << c.name;
        EXPECT_TRUE(dev.written.empty()) << c.name;
        EXPECT_LT(clk.now - dev.start, kNever) << c.name;
    }
}

TEST_F(TransferTest, LoadFailures) {
    struct Case {
        const char* name;
        std::function<void(ScriptedDevice&)> setUp;
        std::string message;
    };
    const Case cases[] = {
        {"no module seen while the ignition is on",
         [](ScriptedDevice& d) {
             d.detectStatus = [](std::int64_t) { return 0; };
             // off for the power-down wait, then on: four polls with the ignition on end detection
             d.ignition = [](std::int64_t t) { return t < 100 || t > 6500; };
         },
         "No ECU with Kestrovane Programmable EPROM Module was found"},
        {"select refused", [](ScriptedDevice& d) { d.selectOk = false; }, "Connection to ECU lost"},
        {"block refused eight times", [](ScriptedDevice& d) { d.acceptWrite = [](int a, int) { return a != 640; }; },
         "Connection to ECU lost. The EPROM Module holds a partial image: the ECU must not be started until the "
         "image has been loaded again."},
        {"device silent during detection", [](ScriptedDevice& d) { d.detectStatus = [](std::int64_t) { return -1; }; },
         "Kestrovane device not responding"},
        {"detection cannot start", [](ScriptedDevice& d) { d.detectStartOk = false; },
         "Kestrovane device not responding"},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        c.setUp(dev);
        ScriptedDialogs dlg;
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
        EPROM image(ctx);
        image.LoadFromArray(UnitImage(1));
        EXPECT_EQ(image.LoadToEmulator(), c.message) << c.name;
        EXPECT_FALSE(dlg.progressVisible) << c.name;
        if (std::string(c.name) == "block refused eight times") {
            EXPECT_EQ(dev.writeAttempts[640], 8);
            EXPECT_EQ(dev.written.size(), 10u);
        }
    }
}

TEST_F(TransferTest, ABlockRefusedSevenTimesIsSentAnEighthTime) {
    device.acceptWrite = [](int a, int attempt) { return a != 64 || attempt == 8; };
    EPROM image = LoadedImage(1);
    const auto before = clock.now;
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_EQ(device.writeAttempts[64], 8);
    EXPECT_EQ(device.written.size(), 256u);
    EXPECT_GE(clock.now - before, 70); // 10 ms before each repeat
}

TEST_F(TransferTest, ImagesOfOtherUnitsAreNotSent) {
    const std::string notEnabled =
        "According to configuration settings, the ECU this EPROM image is intended for is not Kestrovane enabled. "
        "Please check settings in Tools -> Options.";
    EPROM empty(context);
    EXPECT_EQ(empty.LoadToEmulator(), notEnabled);
    for (const char* base : {"EZF_USA", "MRX_LH22_EURO"}) {
        const auto raw = LoadResource(base);
        ASSERT_TRUE(raw.has_value()) << base;
        EPROM image(context);
        image.LoadFromArray(*raw);
        EXPECT_EQ(image.LoadToEmulator(), notEnabled) << base;
    }
    EXPECT_TRUE(device.log.empty());
    EXPECT_TRUE(dialogs.log.empty());
}

TEST_F(TransferTest, NothingIsSentBeforeDeviceIoIsOn) {
    context.deviceIO = false;
    EPROM image = LoadedImage(1);
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_TRUE(device.log.empty());
}

TEST_F(TransferTest, OldModuleFirmwareIsOfferedAndLoadingGoesOn) {
    struct Case {
        std::string version;
        MsgResult answer;
        bool upgradeOk;
        bool asked;
        std::string report;
    };
    const Case cases[] = {
        {"0.95", MsgResult::OK, true, true, "The firmware was successfully upgraded. The EPROM will now be loaded."},
        {"0.95", MsgResult::OK, false, true, "Firmware upgrade failed!"},
        {"0.95", MsgResult::Cancel, true, true, ""},
        {"1.00", MsgResult::OK, true, false, ""},
        {"1.01", MsgResult::OK, true, false, ""},
        {"", MsgResult::OK, true, false, ""},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        dev.pemVersion = c.version;
        dev.upgradeOk = c.upgradeOk;
        dev.detectStatus = [](std::int64_t) { return 2; };
        ScriptedDialogs dlg;
        dlg.answers = {c.answer};
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
        EPROM image(ctx);
        image.LoadFromArray(UnitImage(2));
        EXPECT_EQ(image.LoadToEmulator(), "") << c.version;
        EXPECT_EQ(dev.written.size(), 256u) << c.version;
        const bool upgraded = std::find(dev.log.begin(), dev.log.end(), "UpgradePemFirmware 2") != dev.log.end();
        EXPECT_EQ(upgraded, c.asked && c.answer == MsgResult::OK) << c.version;
        if (c.asked) {
            ASSERT_GE(dlg.messages.size(), 1u);
            EXPECT_EQ(dlg.messages[0],
                      "The firmware version on the Programmable EPROM Module is old (installed version is " +
                          c.version +
                          ", required version is 1.00). \r\n\r\nThe firmware will now be upgraded. Click OK to "
                          "continue or Cancel to skip upgrade.\r\n\r\nWarning! Do NOT turn ignition off while the "
                          "firmware upgrade is in progress as this may render the EPROM Module unusable!");
            if (!c.report.empty()) {
                ASSERT_EQ(dlg.messages.size(), 2u);
                EXPECT_EQ(dlg.messages[1], c.report);
            }
        } else {
            EXPECT_TRUE(dlg.messages.empty()) << c.version;
        }
    }
}

// ---- reads ----

TEST_F(TransferTest, EmulatorReadTakesTheWholeWindow) {
    EPROM image(context);
    EXPECT_EQ(image.LoadFromEmulator(), "");
    EXPECT_EQ(image.Bytes(), device.memory);
    EXPECT_EQ(image.GetECUType(), EcuType::LH23);
    EXPECT_FALSE(image.HasBeenModified());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Downloading from Kestrovane|64"}));
}

TEST_F(TransferTest, RunningUnitReadUsesTheUnitAndNamesItOnFailure) {
    for (int ecu : {1, 2}) {
        device.memory = UnitImage(ecu);
        EPROM image(context);
        EXPECT_EQ(image.LoadFromECU_Running(ecu), "");
        EXPECT_EQ(device.lastKind, ecu);
        EXPECT_EQ(image.Bytes(), device.memory);
    }
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Downloading from LH PEM|256", "Downloading from EZK PEM|256"}));
}

TEST_F(TransferTest, FailedReadsKeepTheImageAsItWas) {
    struct Case {
        const char* name;
        std::function<std::string(EPROM&)> load;
        std::string message;
    };
    const Case cases[] = {
        {"emulator", [](EPROM& e) { return e.LoadFromEmulator(); }, "Kestrovane device not responding"},
        {"running LH", [](EPROM& e) { return e.LoadFromECU_Running(1); },
         "Failed to connect to LH ECU. Check settings in Tools -> Options."},
        {"running EZK", [](EPROM& e) { return e.LoadFromECU_Running(2); },
         "Failed to connect to EZK ECU. Check settings in Tools -> Options."},
    };
    for (const Case& c : cases) {
        device.failReadAt = 4096;
        dialogs.log.clear();
        EPROM image = LoadedImage(2);
        const Bytes before = image.Bytes();
        EXPECT_EQ(c.load(image), c.message) << c.name;
        EXPECT_EQ(image.Bytes(), before) << c.name;
        EXPECT_EQ(image.GetECUType(), EcuType::EZK) << c.name;
        EXPECT_FALSE(dialogs.progressVisible) << c.name;
    }
}

TEST_F(TransferTest, StartUpChannelReadRetriesEachBlockUpToTenTimes) {
    struct Case {
        int failures; // failures of block 5 before it comes
        bool selectOk;
        std::string message;
    };
    const Case cases[] = {{0, true, ""},
                          {9, true, ""},
                          {10, true, "Lost connection to EZK ECU"},
                          {0, false, "Failed to connect EZK ECU"}};
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.memory = UnitImage(2);
        dev.selectOk = c.selectOk;
        dev.acceptRead = [&c](int a, int attempt) { return a != 320 || attempt > c.failures; };
        ScriptedDialogs dlg;
        dlg.logProgressUpdates = true;
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
        EPROM image(ctx);
        EXPECT_EQ(image.LoadFromECU_Initiation(2), c.message) << c.failures;
        if (c.message.empty()) {
            EXPECT_EQ(image.Bytes(), dev.memory);
            // progress after every 8th block only
            std::vector<std::string> updates;
            for (const auto& l : dlg.log)
                if (l.rfind("UpdateProgress|", 0) == 0) updates.push_back(l);
            ASSERT_EQ(updates.size(), 31u);
            EXPECT_EQ(updates.front(), "UpdateProgress|8");
            EXPECT_EQ(updates.back(), "UpdateProgress|248");
        }
        EXPECT_FALSE(dlg.progressVisible);
    }
}

// ---- what a load and a read can trust ----

TEST_F(TransferTest, LoadReadsTheModuleBackAndResendsWhatDidNotArrive) {
    const std::string partial =
        " The EPROM Module holds a partial image: the ECU must not be started until the image has been loaded "
        "again.";
    struct Case {
        const char* name;
        // an acknowledged block 64 that the module kept only from this write on (0 = never)
        int keptFromWrite;
        std::string message;
        int writesOfBlock64;
        bool finished;
    };
    const Case cases[] = {
        {"kept at once", 1, "", 1, true},
        {"lost once, re-sent after the read-back", 2, "", 2, true},
        {"lost until the last re-send", 4, "", 4, true},
        {"never kept", 0, "1 of 256 blocks did not arrive in the EPROM Module." + partial, 4, false},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        dev.memory = Bytes(16384, 0);
        const int kept = c.keptFromWrite;
        dev.storeWrite = [kept](int a, int attempt) { return a != 64 || (kept > 0 && attempt >= kept); };
        ScriptedDialogs dlg;
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
        EPROM image(ctx);
        image.LoadFromArray(UnitImage(1));
        EXPECT_EQ(image.LoadToEmulator(), c.message) << c.name;
        EXPECT_EQ(dev.writeAttempts[64], c.writesOfBlock64) << c.name;
        EXPECT_EQ(dev.writeAttempts[128], 1) << c.name;
        // A block is read once before its first write (what the module held), once after each
        // write, and once more when a failed load reads the module back.
        const int readBack = c.message.empty() ? 0 : 1;
        EXPECT_EQ(dev.readAttempts[0], 2 + readBack) << c.name;
        EXPECT_EQ(dev.readAttempts[64], 1 + c.writesOfBlock64 + readBack) << c.name;
        if (c.message.empty()) {
            EXPECT_EQ(dev.memory, image.Bytes()) << c.name;
        }
        EXPECT_EQ(std::count(dev.log.begin(), dev.log.end(), "PemFinish"), c.finished ? 1 : 0) << c.name;
        EXPECT_FALSE(dlg.progressVisible) << c.name;
    }
}

TEST_F(TransferTest, ARepeatedBlockWriteWaitsOutTheLateReplyFirst) {
    device.acceptWrite = [](int a, int attempt) { return a != 64 || attempt == 3; };
    EPROM image = LoadedImage(1);
    EXPECT_EQ(image.LoadToEmulator(), "");
    std::vector<std::string> around64;
    for (const std::string& l : device.blockLog)
        if (l == "PemWriteBlock 64" || l == "DrainReplies") around64.push_back(l);
    EXPECT_EQ(around64, (std::vector<std::string>{"PemWriteBlock 64", "DrainReplies", "PemWriteBlock 64",
                                                  "DrainReplies", "PemWriteBlock 64"}));
}

// A load that fails reads the module back and says what it holds: "partial image" only when the
// module holds neither the image it had nor the one being loaded.
TEST_F(TransferTest, AFailedLoadSaysWhatTheModuleHolds) {
    const std::string partial = " The EPROM Module holds a partial image: the ECU must not be started until the "
                                "image has been loaded again.";
    const std::string previous = " The EPROM Module still holds its previous image, unchanged.";
    const std::string whole = " The EPROM Module holds the new image whole.";
    const std::string unknown = " The EPROM Module did not answer when read back: what it holds is unknown, and "
                                "the ECU must not be started until the image has been loaded again.";
    // What the load sends: the image's bytes as the object holds them (device patches applied).
    const Bytes loaded = [] {
        EPROM probe;
        probe.LoadFromArray(UnitImage(1));
        return probe.Bytes();
    }();
    // The image the module held before: differing from the loaded one in block 125 (address 8000)
    // only, in block 0 and block 125, or nowhere.
    Bytes differsLater = loaded;
    differsLater[8000] ^= 0xFF;
    Bytes differsTwice = differsLater;
    differsTwice[5] ^= 0xFF;
    struct Case {
        const char* name;
        Bytes held;
        std::function<bool(int, int)> acceptWrite;
        // the module stops answering once the write of this block was refused (-1 = never)
        int silentAfter;
        std::string message;
    };
    const auto refusedFrom = [](int from) { return [from](int a, int) { return a < from; }; };
    const auto keptButBlock = [](int lost) { return [lost](int a, int) { return a != lost; }; };
    const Case cases[] = {
        {"refused at block 10 after a different block 0", differsTwice, refusedFrom(640), -1,
         "Connection to ECU lost." + partial},
        {"refused at block 10 before the only different block", differsLater, refusedFrom(640), -1,
         "Connection to ECU lost." + previous},
        {"refused at the first block", differsTwice, refusedFrom(0), -1, "Connection to ECU lost." + previous},
        {"refused at block 10 of the image the module already held", loaded, refusedFrom(640), -1,
         "Connection to ECU lost." + whole},
        {"silent after block 10", differsTwice, refusedFrom(640), 640, "Connection to ECU lost." + unknown},
        {"silent after block 0", differsTwice, refusedFrom(0), 0, "Connection to ECU lost." + unknown},
        {"the only different block never arrives", differsLater, keptButBlock(8000), -1,
         "1 of 256 blocks did not arrive in the EPROM Module." + previous},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        dev.memory = c.held;
        bool silent = false;
        const int silentAfter = c.silentAfter;
        const auto accept = c.acceptWrite;
        if (std::string(c.name) == "the only different block never arrives") {
            dev.storeWrite = accept; // acknowledged, never kept
        } else {
            dev.acceptWrite = [&silent, silentAfter, accept](int a, int attempt) {
                const bool ok = accept(a, attempt);
                if (!ok && a == silentAfter) silent = true;
                return ok;
            };
        }
        dev.acceptRead = [&silent](int, int) { return !silent; };
        ScriptedDialogs dlg;
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
        EPROM image(ctx);
        image.LoadFromArray(loaded);
        EXPECT_EQ(image.LoadToEmulator(), c.message) << c.name;
        EXPECT_EQ(std::count(dev.log.begin(), dev.log.end(), "PemFinish"), 0) << c.name;
        EXPECT_FALSE(dlg.progressVisible) << c.name;
    }
}

TEST_F(TransferTest, TheFinishOfALoadIsCheckedAndRepeated) {
    struct Case {
        int finishRefusals; // finishing commands that go unanswered before one is confirmed
        std::string message;
        int finishes;
        int selects;
    };
    const std::string unconfirmed = "The LH EPROM Module did not confirm the end of the transfer and may still hold "
                                    "its ECU in start-up. Switch the ignition off and on again.";
    const Case cases[] = {{0, "", 1, 1}, {1, "", 2, 2}, {3, "", 4, 4}, {4, unconfirmed, 4, 4}};
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.start = clk.now;
        dev.memory = UnitImage(1);
        const int refusals = c.finishRefusals;
        dev.finishOk = [refusals](int attempt) { return attempt > refusals; };
        ScriptedDialogs dlg;
        EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
        EPROM image(ctx);
        image.LoadFromArray(UnitImage(1));
        EXPECT_EQ(image.LoadToEmulator(), c.message) << c.finishRefusals;
        EXPECT_EQ(std::count(dev.log.begin(), dev.log.end(), "PemFinish"), c.finishes) << c.finishRefusals;
        EXPECT_EQ(std::count(dev.log.begin(), dev.log.end(), "PemSelect 1"), c.selects) << c.finishRefusals;
        EXPECT_FALSE(dlg.progressVisible);
    }
}

TEST_F(TransferTest, FinishingAStartUpReadSelectsTheModuleAndChecksBothAnswers) {
    struct Case {
        bool selectOk;
        int finishRefusals;
        bool confirmed;
    };
    const Case cases[] = {{true, 0, true}, {true, 2, true}, {true, 4, false}, {false, 0, false}};
    for (const Case& c : cases) {
        FakeClock clk;
        ScriptedDevice dev{clk};
        dev.selectOk = c.selectOk;
        const int refusals = c.finishRefusals;
        dev.finishOk = [refusals](int attempt) { return attempt > refusals; };
        EpromContext ctx{true, true, &dev, nullptr, nullptr, &clk};
        EXPECT_EQ(FinishModule(ctx, 2, false).empty(), c.confirmed) << c.selectOk << c.finishRefusals;
        ASSERT_FALSE(dev.log.empty());
        EXPECT_EQ(dev.log.front(), "PemSelect 2");
        // a finish is never sent to a module that refused its selection
        EXPECT_EQ(std::count(dev.log.begin(), dev.log.end(), "PemFinish"),
                  c.selectOk ? std::min(4, c.finishRefusals + 1) : 0);
    }
}

TEST_F(TransferTest, ReadsWithoutAChecksumTakeABlockOnlyWhenTwoReadsAgree) {
    struct Case {
        const char* name;
        std::function<std::string(EPROM&)> load;
        int blockAt;
        std::string failure;
    };
    const Case cases[] = {
        {"emulator", [](EPROM& e) { return e.LoadFromEmulator(); }, 4096, "Kestrovane device not responding"},
        {"running LH", [](EPROM& e) { return e.LoadFromECU_Running(1); }, 4096,
         "Failed to connect to LH ECU. Check settings in Tools -> Options."},
    };
    struct Garble {
        const char* name;
        std::function<bool(int)> attempt; // which reads of the block arrive with a wrong byte
        bool agrees;
    };
    const Garble garbles[] = {
        {"first read wrong", [](int a) { return a == 1; }, true},
        {"second read wrong", [](int a) { return a == 2; }, true},
        {"first five reads wrong", [](int a) { return a <= 5; }, false},
        {"every read wrong", [](int) { return true; }, false},
    };
    for (const Case& c : cases) {
        for (const Garble& g : garbles) {
            FakeClock clk;
            ScriptedDevice dev{clk};
            dev.memory = UnitImage(1);
            const int at = c.blockAt;
            auto wrong = g.attempt;
            dev.garbleRead = [at, wrong](int a, int attempt) { return a == at && wrong(attempt); };
            ScriptedDialogs dlg;
            EpromContext ctx{true, true, &dev, &dlg, &dlg, &clk};
            EPROM image(ctx);
            image.LoadFromArray(UnitImage(2));
            const Bytes before = image.Bytes();
            const std::string m = c.load(image);
            if (g.agrees) {
                EXPECT_EQ(m, "") << c.name << " / " << g.name;
                EXPECT_EQ(image.Bytes(), dev.memory) << c.name << " / " << g.name;
            } else {
                EXPECT_EQ(m, c.failure) << c.name << " / " << g.name;
                EXPECT_EQ(image.Bytes(), before) << c.name << " / " << g.name;
            }
            EXPECT_FALSE(dlg.progressVisible) << c.name << " / " << g.name;
        }
    }
}

} // namespace

} // namespace kv
