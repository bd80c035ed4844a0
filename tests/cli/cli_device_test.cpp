// kestrovane-cli device commands, run in-process against the simulated device and car (the
// simulated time makes every wait instant).
#include "cli/cli.h"
#include "cli_run.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "platform/resources.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kv {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) { return ReadFileBytes(path); }

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The messages a device command may end with when the device misbehaves.
const std::vector<std::string> kFailureMessages = {
    "Connection to ECU lost",
    "Kestrovane device not responding",
    "No ECU with Kestrovane Programmable EPROM Module was found",
    "Failed to connect to LH ECU. Check settings in Tools -> Options.",
    "Failed to connect to EZK ECU. Check settings in Tools -> Options.",
    "Lost connection to LH ECU",
    "Failed to connect LH ECU",
    "No Kestrovane device found.",
    "The Kestrovane device is connected to the USB port but is not responding.",
};

bool EndsWithAKnownMessage(const std::string& err) {
    for (const auto& m : kFailureMessages)
        if (err.find(m) != std::string::npos) return true;
    return false;
}

class CliDevice : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::path(::testing::TempDir()) /
              ("kv_cli_device_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        image = Path("lh.bin");
        ASSERT_EQ(Cli({"image", "new", "MRX_D", "-o", image}).code, 0);
        state = Path("car.state");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    CliRun Sim(std::vector<std::string> args, const std::string& faults = "") {
        std::vector<std::string> all{"--simulate", "--sim-state", state};
        if (!faults.empty()) {
            all.push_back("--sim-faults");
            all.push_back(faults);
        }
        all.insert(all.end(), args.begin(), args.end());
        return Cli(all);
    }

    std::filesystem::path dir;
    std::string image;
    std::string state;
};

TEST_F(CliDevice, PingAndVersion) {
    const CliRun ping = Sim({"device", "ping"});
    EXPECT_EQ(ping.code, 0);
    EXPECT_EQ(ping.out, "ok\n");
    const CliRun version = Cli({"--simulate", "--sim-firmware", "6.002", "device", "version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "6.002\n");
    const CliRun silent = Sim({"device", "ping"}, "silent");
    EXPECT_EQ(silent.code, 1);
    EXPECT_NE(silent.err.find("The Kestrovane device is connected to the USB port but is not responding."),
              std::string::npos);
}

TEST_F(CliDevice, LoadThenReadBackRoundTripsTheImageByteForByte) {
    const CliRun load = Sim({"device", "load-pem", image});
    ASSERT_EQ(load.code, 0) << load.err;
    EXPECT_NE(load.err.find("Turn ignition OFF"), std::string::npos);
    EXPECT_NE(load.err.find("Loading"), std::string::npos);
    struct Case {
        std::vector<std::string> args;
    };
    for (const auto& args :
         {std::vector<std::string>{"device", "read-pem", "lh", "-o", Path("r.bin"), "--format", "3"},
          std::vector<std::string>{"device", "read-pem-initiation", "lh", "-o", Path("r.bin"), "--format", "3"}}) {
        std::remove(Path("r.bin").c_str());
        const CliRun read = Sim(args);
        ASSERT_EQ(read.code, 0) << args[1] << ": " << read.err;
        EXPECT_EQ(ReadFile(Path("r.bin")), ReadFile(image)) << args[1];
    }
}

TEST_F(CliDevice, AStateFileThatCannotBeSavedFailsTheCommand) {
    // A missing folder is accepted as a new car; the save at the end cannot be written there.
    state = Path("missing/car.state");
    const CliRun load = Sim({"device", "load-pem", image});
    EXPECT_EQ(load.code, 1) << load.err;
    EXPECT_NE(load.err.find("The simulated car's state was not saved to " + state), std::string::npos) << load.err;
    EXPECT_FALSE(std::filesystem::exists(state));
}

TEST_F(CliDevice, UsageErrors) {
    for (const auto& args : {std::vector<std::string>{"device"},
                             {"device", "read-pem", "lh"},
                             {"device", "read-pem", "abc", "-o", "x"},
                             {"device", "load-pem"},
                             {"device", "bogus"},
                             {"device", "read-emulator", "-o", "x", "--format", "9"}}) {
        std::vector<std::string> all{"--simulate"};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(Cli(all).code, kExitUsage) << args.back();
    }
    const CliRun badFaults = Sim({"device", "ping"}, "drop=lots");
    EXPECT_EQ(badFaults.code, kExitUsage);
    EXPECT_FALSE(badFaults.err.empty());
}

TEST_F(CliDevice, LoadOfAMissingOrForeignFile) {
    const CliRun missing = Sim({"device", "load-pem", Path("none.bin")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("Failed to open file"), std::string::npos);
    ASSERT_EQ(Cli({"image", "new", "EZF_USA", "-o", Path("ezf.bin"), "--format", "1"}).code, 0);
    const CliRun ezf = Sim({"device", "load-pem", Path("ezf.bin")});
    EXPECT_EQ(ezf.code, 1);
    EXPECT_NE(ezf.err.find("is not Kestrovane enabled"), std::string::npos);
}

TEST_F(CliDevice, UnplugDuringTheBlockPhaseEndsWithConnectionLost) {
    const CliRun load = Sim({"device", "load-pem", image}, "unplug-after=700");
    EXPECT_EQ(load.code, 1);
    EXPECT_NE(load.err.find("Loading"), std::string::npos) << "unplugged before the block phase";
    EXPECT_NE(load.err.find("Connection to ECU lost"), std::string::npos) << load.err;
    // Nothing could be read back: the module's content is not known, so no kind of image is claimed.
    EXPECT_NE(load.err.find("what it holds is unknown"), std::string::npos) << load.err;
    EXPECT_EQ(load.err.find("partial image"), std::string::npos) << load.err;
}

// After a failed load the tool says what the module holds, as a clean read of it afterwards
// finds: its previous image, the new one whole, or (only then) a partial image.
TEST_F(CliDevice, AFailedLoadSaysWhatTheModuleHolds) {
    const std::string previous = "The EPROM Module still holds its previous image, unchanged.";
    const std::string whole = "The EPROM Module holds the new image whole.";
    const std::string partial = "The EPROM Module holds a partial image";
    const std::string other = Path("supermaf.bin");
    ASSERT_EQ(Cli({"image", "new", "MRX_D-SUPERMAF", "-o", other}).code, 0);
    const Bytes mine = ReadFile(image), theirs = ReadFile(other);
    ASSERT_NE(mine, theirs);
    const auto held = [this] {
        std::remove(Path("held.bin").c_str());
        const CliRun read = Sim({"device", "read-pem-initiation", "lh", "-o", Path("held.bin"), "--format", "3"});
        EXPECT_EQ(read.code, 0) << read.err;
        return ReadFile(Path("held.bin"));
    };

    // Every block refused: the module keeps what it had, whether or not that is the new image.
    ASSERT_EQ(Sim({"device", "load-pem", image}).code, 0);
    CliRun load = Sim({"device", "load-pem", other}, "refuse=1");
    EXPECT_EQ(load.code, 1);
    EXPECT_NE(load.err.find("Connection to ECU lost. " + previous), std::string::npos) << load.err;
    EXPECT_EQ(held(), mine);
    load = Sim({"device", "load-pem", image}, "refuse=1");
    EXPECT_EQ(load.code, 1);
    EXPECT_NE(load.err.find("Connection to ECU lost. " + whole), std::string::npos) << load.err;
    EXPECT_EQ(held(), mine);

    // Blocks refused now and then, into an erased module (a new car): the message matches what a
    // clean read finds, and a load that stops after its first block leaves a partial image.
    int partials = 0;
    for (int seed = 1; seed <= 6; ++seed) {
        std::remove(state.c_str());
        load = Sim({"device", "load-pem", image}, "refuse=0.8,seed=" + std::to_string(seed));
        const Bytes now = held();
        const std::string says = load.err;
        if (now == mine) {
            EXPECT_EQ(load.code, 0) << seed << ": " << says;
        } else if (now == Bytes(mine.size(), 0xFF)) {
            EXPECT_NE(says.find(previous), std::string::npos) << seed << ": " << says;
        } else {
            EXPECT_NE(says.find(partial), std::string::npos) << seed << ": " << says;
            ++partials;
        }
        if (now != mine) {
            EXPECT_EQ(load.code, 1) << seed;
        }
        EXPECT_EQ(says.find(whole), std::string::npos) << seed << ": " << says;
    }
    EXPECT_GT(partials, 0);
}

TEST_F(CliDevice, UnderInjectedFaultsCommandsSucceedWithTheRightBytesOrFailWithAMessage) {
    ASSERT_EQ(Sim({"device", "load-pem", image}).code, 0);
    const Bytes want = ReadFile(image);
    const std::vector<std::string> faultLists = {"drop=0.02,seed=1",      "dup=0.05,seed=2",
                                                 "garble=0.05,seed=3",    "late=0.05,seed=4",
                                                 "crc=0.2,seed=5",        "drop=0.01,dup=0.02,garble=0.02,seed=6",
                                                 "garble=0.0003,seed=11", "dup=0.0003,seed=12"};
    for (const std::string& faultList : faultLists) {
        struct Step {
            std::vector<std::string> args;
            bool producesImage;
        };
        const Step steps[] = {
            {{"device", "read-pem", "lh", "-o", Path("f.bin"), "--format", "3"}, true},
            {{"device", "read-pem-initiation", "lh", "-o", Path("f.bin"), "--format", "3"}, true},
            {{"device", "load-pem", image}, false},
        };
        for (const Step& step : steps) {
            std::remove(Path("f.bin").c_str());
            const CliRun run = Sim(step.args, faultList);
            if (run.code == 0) {
                if (step.producesImage) {
                    EXPECT_EQ(ReadFile(Path("f.bin")), want) << faultList << " " << step.args[1];
                }
            } else {
                EXPECT_EQ(run.code, 1) << faultList << " " << step.args[1];
                EXPECT_TRUE(EndsWithAKnownMessage(run.err)) << faultList << " " << step.args[1] << ": " << run.err;
            }
            // whatever the faults did, a clean read finds the image intact
            if (!step.producesImage && run.code == 0) {
                ASSERT_EQ(Sim({"device", "read-pem", "lh", "-o", Path("c.bin"), "--format", "3"}).code, 0);
                EXPECT_EQ(ReadFile(Path("c.bin")), want) << faultList;
            }
        }
    }
}

TEST_F(CliDevice, OldModuleFirmwareIsUpgradedOnTheWay) {
    const CliRun load =
        Cli({"--simulate", "--sim-state", state, "--sim-pem-firmware", "0.95", "device", "load-pem", image});
    ASSERT_EQ(load.code, 0) << load.err;
    EXPECT_NE(load.err.find("installed version is 0.95, required version is 1.00"), std::string::npos);
    EXPECT_NE(load.err.find("The firmware was successfully upgraded. The EPROM will now be loaded."),
              std::string::npos);
    ASSERT_EQ(Sim({"device", "read-pem", "lh", "-o", Path("r.bin"), "--format", "3"}).code, 0);
    EXPECT_EQ(ReadFile(Path("r.bin")), ReadFile(image));
}

TEST_F(CliDevice, FirmwareCheckAndUpgrade) {
    const auto fw = LoadResource("FIRMWARE");
    ASSERT_TRUE(fw.has_value());
    WriteFile(Path("fw.dat"), *fw);
    const CliRun check = Cli({"device", "firmware-check", Path("fw.dat")});
    EXPECT_EQ(check.code, 0);
    EXPECT_EQ(check.out, "6.003\nok\n");

    Bytes bad = *fw;
    bad[1000] ^= 0x10;
    WriteFile(Path("bad.dat"), bad);
    const CliRun corrupt = Cli({"device", "firmware-check", Path("bad.dat")});
    EXPECT_EQ(corrupt.code, 1);
    EXPECT_NE(corrupt.err.find("The selected file is not a firmware .dat file or is corrupted."), std::string::npos);

    const CliRun old = Cli({"--simulate", "--sim-state", state, "--sim-firmware", "6.002", "device", "version"});
    EXPECT_EQ(old.out, "6.002\n");
    const CliRun upgrade = Sim({"device", "firmware-upgrade", Path("fw.dat"), "--force"});
    EXPECT_EQ(upgrade.code, 0) << upgrade.err;
    EXPECT_NE(upgrade.err.find("Firmware succesfully updated."), std::string::npos);
    EXPECT_EQ(Sim({"device", "version"}).out, "6.003\n");

    const CliRun embedded = Sim({"device", "firmware-upgrade", "--force"});
    EXPECT_EQ(embedded.code, 0) << embedded.err;
    const CliRun rejected = Sim({"device", "firmware-upgrade", Path("bad.dat"), "--force"});
    EXPECT_EQ(rejected.code, 1);
}

TEST_F(CliDevice, FirmwareUpgradeRefusesWhileTheIgnitionIsOnUnlessForced) {
    // The simulated car starts with the ignition on.
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string version; // reported afterwards
    };
    const Case cases[] = {
        {{"device", "firmware-upgrade"}, 1, "6.002\n"},
        {{"device", "firmware-upgrade", "--force"}, 0, "6.003\n"},
    };
    auto oldDevice = [this](std::vector<std::string> args) {
        std::vector<std::string> all{"--simulate", "--sim-state", state, "--sim-firmware", "6.002"};
        all.insert(all.end(), args.begin(), args.end());
        return Cli(all);
    };
    for (const Case& c : cases) {
        std::filesystem::remove(state);
        ASSERT_EQ(oldDevice({"device", "version"}).out, "6.002\n");
        const CliRun run = oldDevice(c.args);
        EXPECT_EQ(run.code, c.code) << run.err;
        if (c.code != 0) {
            EXPECT_NE(run.err.find("Kestrovane has detected that you have ignition switched on."), std::string::npos)
                << run.err;
            EXPECT_NE(run.err.find("--force"), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("Loading firmware"), std::string::npos) << run.err;
        }
        EXPECT_EQ(oldDevice({"device", "version"}).out, c.version);
    }
}

} // namespace

} // namespace kv
