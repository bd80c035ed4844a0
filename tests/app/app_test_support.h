#pragma once
// Doubles for the shell tests: a device link that records what the shell asks of it, a module
// model behind the images' device seam, a view that records what the shell shows, image
// builders from the program's base images, and a temporary folder.
#include "app/core/shell.h"
#include "app/core/shell_device.h"
#include "eprom/base_images.h"
#include "eprom/eprom_device.h"
#include "eprom/eprom_image.h"
#include "fakes.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kv {

namespace app_test {

using Bytes = std::vector<std::uint8_t>;

class FakeShellDevice final : public ShellDevice {
public:
    bool Open() override {
        log.push_back("Open");
        open = present;
        return open;
    }
    void ShutDown() override {
        log.push_back("ShutDown");
        open = false;
    }
    bool IsOpen() override { return open; }
    bool QuickPing() override {
        log.push_back("QuickPing");
        return open && answers;
    }
    bool UpdateConnectionStatus(bool force) override {
        log.push_back(force ? "UpdateConnectionStatus|force" : "UpdateConnectionStatus");
        return open && answers;
    }
    bool CheckDeviceOrExplain(UserMessages&) override {
        log.push_back("CheckDeviceOrExplain");
        return Open() && answers;
    }
    bool IsIgnitionOn() override { return ignition; }
    bool PemIsReachable(int ecuKind) override { return (reachable & ecuKind) != 0; }
    bool SelectEcuMode(char mode) override {
        log.push_back(std::string("SelectEcuMode|") + mode);
        return true;
    }
    void SetRamByteOrderFlag(bool set) override {
        log.push_back(set ? "RamByteOrderFlag|set" : "RamByteOrderFlag|cleared");
    }
    void CheckFirmwareAtStartUp(bool offer) override {
        log.push_back(offer ? "CheckFirmwareAtStartUp|offer" : "CheckFirmwareAtStartUp");
    }
    void FirmwareUpgradeFromFile() override { log.push_back("FirmwareUpgradeFromFile"); }

    bool present = true;
    bool answers = true;
    bool open = false;
    bool ignition = false;
    int reachable = 0; // bit 0 LH, bit 1 EZK
    std::vector<std::string> log;
};

// Two EPROM modules (LH = 1, EZK = 2) of 16 kB each behind the device. Detection sees the units
// in `fitted` once the ignition is on.
class FakeModules final : public EpromDevice {
public:
    FakeModules() {
        memory[0].assign(16384, 0xFF);
        memory[1].assign(16384, 0xFF);
    }
    bool EcuWriteEprom(int ecuKind, int address, const Bytes& data) override {
        if (!ValidKind(ecuKind)) return false;
        for (std::size_t i = 0; i < data.size(); ++i) Mem(ecuKind)[static_cast<std::size_t>(address) + i] = data[i];
        return true;
    }
    Bytes EcuReadEprom(int ecuKind, int address, int n) override {
        if (!ignition || !ValidKind(ecuKind) || (fitted & ecuKind) == 0) return {};
        auto& m = Mem(ecuKind);
        return Bytes(m.begin() + address, m.begin() + address + n);
    }
    Bytes ReadEmulatorBlock(int address, int length) override {
        return Bytes(emulator.begin() + address, emulator.begin() + address + length);
    }
    bool IsIgnitionOn() override {
        ++ignitionPolls;
        if (onIgnitionPoll) onIgnitionPoll(ignitionPolls);
        return ignition;
    }
    bool PemDetectStart(int mask) override {
        log.push_back("PemDetectStart|" + std::to_string(mask));
        return detectStartOk;
    }
    int PemDetectStatus() override {
        if (detectSilent) return -1;
        return ignition ? fitted : 0;
    }
    bool PemDetectStop() override {
        log.push_back("PemDetectStop");
        return true;
    }
    bool PemSelect(int ecuKind) override {
        log.push_back("PemSelect|" + std::to_string(ecuKind));
        selected = ecuKind;
        return (fitted & ecuKind) != 0;
    }
    std::string PemGetFirmwareVersion() override { return "1.00"; }
    bool PemWriteBlock(int address, const Bytes& block64) override {
        ++blockWrites;
        if (failWritesAfter >= 0 && blockWrites > failWritesAfter) return false;
        for (std::size_t i = 0; i < block64.size(); ++i)
            Mem(selected)[static_cast<std::size_t>(address) + i] = block64[i];
        return true;
    }
    Bytes PemReadBlock(int address) override {
        if (!ValidKind(selected)) return {};
        auto& m = Mem(selected);
        return Bytes(m.begin() + address, m.begin() + address + 64);
    }
    bool PemFinish() override {
        log.push_back("PemFinish");
        return true;
    }
    void DrainReplies() override { log.push_back("DrainReplies"); }
    bool UpgradePemFirmware(int) override { return true; }
    bool Reopen() override { return true; }

    Bytes& Mem(int ecuKind) { return memory[ecuKind == 2 ? 1 : 0]; }

    bool ignition = true;
    int fitted = 3;
    bool detectStartOk = true;
    bool detectSilent = false; // detection polls go unanswered
    int selected = 0;
    int blockWrites = 0;
    int failWritesAfter = -1; // -1 = never
    int ignitionPolls = 0;
    std::function<void(int)> onIgnitionPoll;
    Bytes memory[2];
    Bytes emulator = Bytes(16384, 0xFF);
    std::vector<std::string> log;

private:
    static bool ValidKind(int k) { return k == 1 || k == 2; }
};

class RecordingView final : public ShellView {
public:
    void ShowSplash(const std::string& label) override { Note("ShowSplash|" + label); }
    void PaintSplash() override { Note("PaintSplash"); }
    void CloseSplash() override { Note("CloseSplash"); }
    void InitAutotuneAndAuxInputs() override { Note("InitAutotuneAndAuxInputs"); }
    void InitDataLogging() override { Note("InitDataLogging"); }
    void LoadMainWindow() override { Note("LoadMainWindow"); }
    void MaximiseMainWindow() override { Note("MaximiseMainWindow"); }
    void ShowMainWindow() override { Note("ShowMainWindow"); }
    void EnterSelectedTab() override { Note("EnterSelectedTab"); }
    void LeaveSelectedTab() override { Note("LeaveSelectedTab"); }
    int WindowStateNumber() override { return windowState; }
    WindowSize NormalWindowSize() override { return normalSize; }
    void SetNormalWindowSize(WindowSize size) override {
        normalSize = size;
        Note("SetNormalWindowSize|" + WindowSizeText(size));
    }
    WindowPosition NormalWindowPosition() override { return normalPosition; }
    void SetNormalWindowPosition(WindowPosition position) override {
        normalPosition = position;
        Note("SetNormalWindowPosition|" + WindowPositionText(position));
    }
    bool HasUnsavedDataLogRuns() override { return unsavedRuns; }
    void EndDataLogging() override { Note("EndDataLogging"); }
    void ShowTabs(const std::vector<TabSlot>& tabs, TabState state) override {
        Note("ShowTabs|" + std::string(TabStateName(state)));
        captions.clear();
        keys.clear();
        for (const auto& t : tabs) {
            captions.push_back(t.caption);
            keys.push_back(t.key);
        }
    }
    void ShowInfoLine(const InfoLine& line) override { info = line; }
    void SetSaveMenus(bool fuel, bool ignition) override {
        saveFuel = fuel;
        saveIgnition = ignition;
    }
    void ShowRecentFiles(const std::array<std::string, kRecentFileCount>& c) override { recent = c; }
    std::optional<NewImageChoice> RunNewImageDialog(const NewImageChoice& initial) override {
        Note("RunNewImageDialog|" + initial.baseName + "|" + (initial.superMAF ? "1" : "0"));
        return newChoice;
    }
    void ImagesChanged() override { Note("ImagesChanged"); }

    void Note(const std::string& entry) {
        log.push_back(entry);
        if (onCall) onCall(entry);
    }

    std::vector<std::string> log;
    // Called with every entry as it is logged (lets a test move time or change the world).
    std::function<void(const std::string&)> onCall;
    std::vector<std::string> captions;
    std::vector<std::string> keys;
    InfoLine info;
    bool saveFuel = false;
    bool saveIgnition = false;
    std::array<std::string, kRecentFileCount> recent;
    std::optional<NewImageChoice> newChoice;
    int windowState = 0;
    WindowSize normalSize{1024, 720};
    WindowPosition normalPosition{30, 20};
    bool unsavedRuns = false;
};

// The bytes of a built-in base image (unpacked, as loaded).
inline Bytes BaseImage(const std::string& name) {
    EPROM image;
    if (!LoadBaseImage(name, image).empty()) return {};
    Bytes bytes = image.Bytes();
    bytes.resize(static_cast<std::size_t>(image.ImageSize()));
    return bytes;
}

// Revision byte addresses (image addresses) of the LH 2.3 and EZK base images.
inline constexpr std::size_t kLH23RevisionAddress = 16367;
inline constexpr std::size_t kEZKRevisionAddress = 16357;

inline Bytes WithByte(Bytes bytes, std::size_t address, std::uint8_t value) {
    bytes.at(address) = value;
    return bytes;
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("kv-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(File(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

} // namespace app_test

} // namespace kv
