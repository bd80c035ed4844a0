// Edits an image in the fuel slot of a shell with the edit journal on, through the image's write
// path to a unit, and stops inside the unit write of the last edit until it is killed.
// Usage: journal_edit_child JOURNAL_FOLDER IMAGE_FILE EDITS
// Prints "stalled" when the last edit's unit write has begun.
#include "app_test_support.h"
#include "journal_edits.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace kv;
using namespace kv::app_test;

namespace {

// A unit that takes every write until the n-th, which never ends.
class StallingUnit final : public EpromDevice {
public:
    explicit StallingUnit(int stallAt) : stallAt_(stallAt) {}
    bool EcuWriteEprom(int, int, const Bytes&) override {
        if (++writes_ < stallAt_) return true;
        std::fputs("stalled\n", stdout);
        std::fflush(stdout);
        for (;;) ::pause();
    }
    Bytes EcuReadEprom(int, int, int) override { return {}; }
    Bytes ReadEmulatorBlock(int, int) override { return {}; }
    bool IsIgnitionOn() override { return true; }
    bool PemDetectStart(int) override { return false; }
    int PemDetectStatus() override { return -1; }
    bool PemDetectStop() override { return false; }
    bool PemSelect(int) override { return false; }
    std::string PemGetFirmwareVersion() override { return {}; }
    bool PemWriteBlock(int, const Bytes&) override { return false; }
    Bytes PemReadBlock(int) override { return {}; }
    bool PemFinish() override { return false; }
    void DrainReplies() override {}
    bool UpgradePemFirmware(int) override { return false; }
    bool Reopen() override { return true; }

private:
    int stallAt_;
    int writes_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: journal_edit_child JOURNAL_FOLDER IMAGE_FILE EDITS\n", stderr);
        return 2;
    }
    const int edits = std::atoi(argv[3]);
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    FakeShellDevice device;
    StallingUnit unit(edits);
    RecordingView view;
    Shell shell{device, &unit, dialogs, dialogs, dialogs, settings, clock, view, ProgramVersion{1, 0, 0}};
    shell.UseEditJournal(argv[1]);
    if (!shell.Workflows().FileOpen(OpenSource::File(argv[2]))) {
        std::fputs("the image did not open\n", stderr);
        return 1;
    }
    shell.Context().deviceIO = true; // edits go to the unit from now on
    for (int i = 0; i < edits; ++i) MakeEdit(shell.FuelImage(), i);
    std::fputs("the last write ended\n", stderr);
    return 1;
}
