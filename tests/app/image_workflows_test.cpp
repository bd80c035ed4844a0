// The File menu workflows: every FileOpen route with its checks, messages and Cancel exits,
// save prompts, Save / Save As / Save both, File > New, Load from PEM, recent files and the
// information line.
#include "app_test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>

namespace kv {

using namespace app_test;

namespace {

constexpr const char* kLH23Name = "928 LH S4/GT/GTS";
constexpr const char* kEZKName = "928 EZK S4/GT/GTS";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool AnyMessageContains(const ScriptedDialogs& d, const std::string& part) {
    return std::any_of(d.messages.begin(), d.messages.end(), [&](const std::string& m) { return Contains(m, part); });
}

class WorkflowTest : public ::testing::Test {
protected:
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    FakeShellDevice device;
    FakeModules modules;
    RecordingView view;
    Shell shell{device, &modules, dialogs, dialogs, dialogs, settings, clock, view, ProgramVersion{1, 0, 0}};
    TempDir dir;
    RecordingIgnitionPrompt prompt;
    // The user follows the ignition guidance of a module load.
    bool followGuidance = true;

    WorkflowTest() {
        shell.Context().ignition = &prompt;
        modules.onIgnitionPoll = [this](int) {
            if (!followGuidance || !prompt.pending) return;
            modules.ignition = *prompt.pending == IgnitionRequest::On;
        };
    }

    ImageWorkflows& Flows() { return shell.Workflows(); }

    // Opens `path` answering the questions with `answers` in order.
    bool Open(const std::string& path, const std::vector<MsgResult>& answers = {MsgResult::OK}) {
        dialogs.answers.assign(answers.begin(), answers.end());
        return Flows().FileOpen(OpenSource::File(path));
    }
    // A file holding the base image `base`, saved in the 16 kB format (fits every kind).
    std::string BaseFile(const std::string& name, const std::string& base) {
        EPROM image;
        if (!LoadBaseImage(base, image).empty() || !image.SaveToFile(dir.File(name), FileFormat::EPROM27C128))
            return {};
        return dir.File(name);
    }
    // Puts an image into its slot the way the program does, then clears the dialog record.
    void Preload(const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(Open(dir.Write(name, bytes)));
        dialogs.messages.clear();
        dialogs.log.clear();
    }
};

// ---- the kind of the opened file ----

struct KindCase {
    const char* base;         // base image the file is made from
    const char* ecuSetting;   // "ECUs" key set to "1" before opening (or null)
    bool loads;               // the slot takes it
    bool fuelSlot;            // which slot
    const char* firstMessage; // text the first message box contains
    const char* tab;          // a tab caption shown afterwards (when it loads)
};

void PrintTo(const KindCase& c, std::ostream* os) {
    *os << c.base << (c.ecuSetting ? std::string(" ") + c.ecuSetting : std::string());
}

class OpenKindTest : public WorkflowTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(OpenKindTest, AcceptsOrRefusesByUnit) {
    const KindCase& c = GetParam();
    if (c.ecuSetting) settings.SaveSetting("ECUs", c.ecuSetting, "1");
    const std::string path = BaseFile("image.bin", c.base);
    EXPECT_EQ(Open(path), c.loads);
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_TRUE(Contains(dialogs.messages.front(), c.firstMessage)) << dialogs.messages.front();
    EPROM& slot = c.fuelSlot ? shell.FuelImage() : shell.IgnitionImage();
    EPROM& other = c.fuelSlot ? shell.IgnitionImage() : shell.FuelImage();
    EXPECT_EQ(other.GetECUType(), EcuType::Unknown);
    if (c.loads) {
        EXPECT_EQ(slot.GetFileName(), path);
        EXPECT_NE(std::find(view.captions.begin(), view.captions.end(), c.tab), view.captions.end());
        EXPECT_EQ(Flows().Recent().Entries()[0], path);
        EXPECT_TRUE(c.fuelSlot ? view.saveFuel : view.saveIgnition);
    } else {
        EXPECT_EQ(slot.GetECUType(), EcuType::Unknown);
        EXPECT_EQ(Flows().Recent().Entries()[0], "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenKindTest,
    ::testing::Values(
        KindCase{"MRX_D", nullptr, true, true,
                 "The selected file is an LH 2.3 (fuel injection) EPROM. Click OK to continue loading or Cancel to "
                 "cancel loading.",
                 "Fuel maps"},
        KindCase{"EZK_D-GT", nullptr, true, false, "The selected file is an EZK (ignition) EPROM.", "Ignition maps"},
        KindCase{"MRX_LH22_USA", nullptr, false, true,
                 "The selected file is an LH 2.2 (fuel injection) EPROM but according to the system configuration, "
                 "there is no Kestrovane enabled LH 2.2 (fuel injection) ECU in the system. Please check the "
                 "settings under Tools -> Options.",
                 nullptr},
        KindCase{"EZF_EURO", nullptr, false, false,
                 "The selected file is an EZF (ignition) EPROM but according to the system configuration, there is "
                 "no Kestrovane enabled EZF (ignition) ECU in the system.",
                 nullptr},
        KindCase{"MRX_LH22_EURO", "LH22", true, true, "The selected file is an LH 2.2 (fuel injection) EPROM.",
                 "Fuel parameters"},
        KindCase{"EZF_USA", "EZF", true, false, "The selected file is an EZF (ignition) EPROM.", "Ignition parameters"},
        // The setting of the other old unit does not open the door.
        KindCase{"EZF_USA", "LH22", false, false, "there is no Kestrovane enabled EZF (ignition) ECU", nullptr}));

TEST_F(WorkflowTest, CancelAtTheKindQuestionChangesNothing) {
    const std::string path = dir.Write("lh.bin", BaseImage("MRX_D"));
    EXPECT_FALSE(Open(path, {MsgResult::Cancel}));
    EXPECT_EQ(shell.FuelImage().GetECUType(), EcuType::Unknown);
    EXPECT_EQ(Flows().Recent().Entries()[0], "");
    EXPECT_TRUE(view.captions.empty()); // no tab state was sent
}

TEST_F(WorkflowTest, AnImageThatTakesAnOccupiedSlotTakesTheTabsOfTheOneBefore) {
    settings.SaveSetting("ECUs", "LH22", "1");
    Flows().SetTabState(TabState::Init);
    ASSERT_TRUE(Open(BaseFile("lh22.bin", "MRX_LH22_USA")));
    EXPECT_EQ(view.keys, (std::vector<std::string>{"EPROM", "ParametersLH22", "FuelMap", "Monitor", "DataLogging"}));
    view.log.clear();
    ASSERT_TRUE(Open(BaseFile("lh23.bin", "MRX_D")));
    std::vector<std::string> states;
    for (const auto& entry : view.log)
        if (entry.rfind("ShowTabs|", 0) == 0) states.push_back(entry);
    EXPECT_EQ(states, (std::vector<std::string>{"ShowTabs|!LH22", "ShowTabs|LH"}));
    EXPECT_EQ(view.keys, (std::vector<std::string>{"EPROM", "Parameters", "FuelMap", "Monitor", "DataLogging"}));
}

TEST_F(WorkflowTest, OfflineImagesSkipTheModuleAndSayWhy) {
    settings.SaveSetting("ECUs", "LH22", "1");
    shell.Context().deviceIO = true;
    ASSERT_TRUE(Open(BaseFile("lh22.bin", "MRX_LH22_USA")));
    EXPECT_EQ(modules.blockWrites, 0);
    EXPECT_TRUE(modules.log.empty());
    EXPECT_TRUE(Contains(view.info.fuel, kOfflineOnly)) << view.info.fuel;
    EXPECT_NE(std::find(device.log.begin(), device.log.end(), "SelectEcuMode|L"), device.log.end());
}

TEST_F(WorkflowTest, EzfImageSelectsTheEzfMode) {
    settings.SaveSetting("ECUs", "EZF", "1");
    ASSERT_TRUE(Open(BaseFile("ezf.bin", "EZF_USA")));
    EXPECT_NE(std::find(device.log.begin(), device.log.end(), "SelectEcuMode|E"), device.log.end());
    EXPECT_NE(std::find(device.log.begin(), device.log.end(), "RamByteOrderFlag|set"), device.log.end());
}

// ---- load failures ----

struct BadFileCase {
    const char* name;
    Bytes bytes;
    const char* expected; // text of the error, or null when no "Unrecognized" error may appear
};

void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }

class BadFileTest : public WorkflowTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, ShowsTheLoadMessageAndKeepsBothSlots) {
    Preload("lh.bin", BaseImage("MRX_D"));
    Preload("ezk.bin", BaseImage("EZK_D-S4"));
    const auto& c = GetParam();
    EXPECT_FALSE(Open(dir.Write(c.name, c.bytes)));
    if (c.expected) {
        ASSERT_EQ(dialogs.log.size(), 3u); // hourglass on, off, the message
        EXPECT_EQ(dialogs.log.back(), std::string("MessageBox|Error|Failed to load EPROM image: ") + c.expected);
    } else {
        EXPECT_FALSE(AnyMessageContains(dialogs, "Unrecognized EPROM"));
    }
    EXPECT_EQ(shell.FuelImage().GetName(), kLH23Name);
    EXPECT_EQ(shell.IgnitionImage().GetName(), kEZKName);
    EXPECT_EQ(Flows().Recent().Entries()[0], dir.File("ezk.bin"));
}

Bytes Noise(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + 3) % 200);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileTest,
    ::testing::Values(
        BadFileCase{"noise.bin", Noise(16384),
                    "Unrecognized EPROM. Only special EPROMs from Dravenholt are supported by Kestrovane."},
        BadFileCase{"noise64.bin", Noise(65536),
                    "Unrecognized EPROM. Only special EPROMs from Dravenholt are supported by Kestrovane."},
        BadFileCase{"erased.bin", Bytes(16384, 0xFF), nullptr}),
    [](const auto& info) {
        std::string n = info.param.name;
        return n.substr(0, n.find('.'));
    });

TEST_F(WorkflowTest, WrongLengthAndMissingFileGiveTheLoadMessage) {
    for (const std::string& path : {dir.Write("short.bin", Bytes(1000, 0x11)), dir.File("nothere.bin")}) {
        dialogs.messages.clear();
        EXPECT_FALSE(Open(path));
        ASSERT_EQ(dialogs.messages.size(), 1u) << path;
        EXPECT_TRUE(Contains(dialogs.messages[0], "Failed to load EPROM image: ")) << dialogs.messages[0];
        EXPECT_FALSE(Contains(dialogs.messages[0], "Unrecognized EPROM")) << dialogs.messages[0];
    }
}

// ---- revisions ----

TEST_F(WorkflowTest, LaterRevisionIsRefusedWithTheProgramVersion) {
    Preload("old.bin", BaseImage("MRX_D"));
    const Bytes later = WithByte(BaseImage("MRX_D"), kLH23RevisionAddress, 9);
    EXPECT_FALSE(Open(dir.Write("later.bin", later), {MsgResult::OK}));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_TRUE(Contains(dialogs.messages.back(), "created in a later version of the Kestrovane software"));
    EXPECT_TRUE(Contains(dialogs.messages.back(), "compatible with this version (1.0.0). \r\n\r\n"));
    EXPECT_EQ(shell.FuelImage().GetFileName(), dir.File("old.bin"));
}

struct UpgradeCase {
    const char* base;
    std::size_t revAddress;
    int revision;
    std::vector<MsgResult> answers; // kind question, upgrade question, SuperMAF question
    bool loads;
    const char* mafAfter; // MAF type of the upgraded image
    bool askedSuperMAF;
};

void PrintTo(const UpgradeCase& c, std::ostream* os) {
    *os << c.base << " rev " << c.revision << " answers " << c.answers.size();
}

class UpgradeTest : public WorkflowTest, public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(UpgradeTest, OldImagesAreUpgradedFromTheBaseImage) {
    const auto& c = GetParam();
    const Bytes old = WithByte(BaseImage(c.base), c.revAddress, static_cast<std::uint8_t>(c.revision));
    dialogs.answers.assign(c.answers.begin(), c.answers.end());
    const bool loaded = Flows().FileOpen(OpenSource::File(dir.Write("old.bin", old)));
    EXPECT_EQ(loaded, c.loads);
    EXPECT_TRUE(AnyMessageContains(dialogs, "created in an earlier version of Kestrovane"));
    EXPECT_EQ(AnyMessageContains(dialogs, "Is the car equipped with a SuperMAF?"), c.askedSuperMAF);
    const bool fuel = c.revAddress == kLH23RevisionAddress;
    EPROM& slot = fuel ? shell.FuelImage() : shell.IgnitionImage();
    if (c.loads) {
        EXPECT_EQ(slot.GetRevision(), 8);
        EXPECT_EQ(slot.LH23EZK_GetMAFType(), c.mafAfter);
    } else {
        EXPECT_EQ(slot.GetECUType(), EcuType::Unknown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Revisions, UpgradeTest,
    ::testing::Values(
        UpgradeCase{"MRX_D", kLH23RevisionAddress, 5, {MsgResult::OK, MsgResult::OK}, true, "Standard MAF", false},
        UpgradeCase{"MRX_D-SUPERMAF", kLH23RevisionAddress, 7, {MsgResult::OK, MsgResult::OK}, true, "SuperMAF", false},
        UpgradeCase{"MRX_D", kLH23RevisionAddress, 5, {MsgResult::OK, MsgResult::Cancel}, false, "", false},
        UpgradeCase{
            "EZK_D-S4", kEZKRevisionAddress, 5, {MsgResult::OK, MsgResult::OK, MsgResult::Yes}, true, "SuperMAF", true},
        UpgradeCase{"EZK_D-S4-SUPERMAF",
                    kEZKRevisionAddress,
                    5,
                    {MsgResult::OK, MsgResult::OK, MsgResult::No},
                    true,
                    "Standard MAF",
                    true},
        UpgradeCase{
            "EZK_D-S4", kEZKRevisionAddress, 5, {MsgResult::OK, MsgResult::OK, MsgResult::Cancel}, false, "", true},
        // Revision 7 keeps the MAF type of the old image without asking.
        UpgradeCase{
            "EZK_D-GT-SUPERMAF", kEZKRevisionAddress, 7, {MsgResult::OK, MsgResult::OK}, true, "SuperMAF", false}));

TEST_F(WorkflowTest, UpgradedImageFromTheModuleGoesBackToTheModule) {
    shell.Context().deviceIO = true;
    modules.Mem(1) = WithByte(BaseImage("MRX_D"), kLH23RevisionAddress, 6);
    dialogs.answers = {MsgResult::OK}; // the upgrade question
    ASSERT_TRUE(Flows().FileOpen(OpenSource::Running(1)));
    EXPECT_EQ(shell.FuelImage().GetRevision(), 8);
    EXPECT_EQ(modules.blockWrites, 256); // the upgraded image was loaded into the module
    EXPECT_EQ(modules.Mem(1)[kLH23RevisionAddress], 8);
}

// ---- the image being replaced ----

struct ReplaceCase {
    std::vector<MsgResult> answers;                          // kind question, save prompt
    std::vector<std::optional<FileDialogResult>> saveDialog; // answer of the Save As dialog
    bool loads;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << "answers " << c.answers.size() << (c.loads ? " loads" : " keeps");
}

class ReplaceTest : public WorkflowTest, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceTest, ModifiedImageIsOfferedForSavingFirst) {
    const auto& c = GetParam();
    // The old image has no file: it came from File > New.
    view.newChoice = NewImageChoice{"MRX_D", false};
    ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
    shell.FuelImage().WriteByte(100, 0x42);
    ASSERT_TRUE(shell.FuelImage().HasBeenModified());
    dialogs.messages.clear();
    dialogs.files.assign(c.saveDialog.begin(), c.saveDialog.end());
    const std::string path = dir.Write("new.bin", BaseImage("MRX_D"));
    EXPECT_EQ(Open(path, c.answers), c.loads);
    ASSERT_GE(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1], "Save changes to fuel injection (LH) EPROM Untitled?");
    if (c.loads) {
        EXPECT_EQ(shell.FuelImage().GetFileName(), path);
        EXPECT_FALSE(shell.FuelImage().HasBeenModified());
    } else {
        EXPECT_EQ(shell.FuelImage().GetFileName(), "");
        EXPECT_EQ(shell.FuelImage().ReadByte(100), 0x42);
        EXPECT_TRUE(shell.FuelImage().HasBeenModified());
        EXPECT_EQ(Flows().Recent().Entries()[0], "");
    }
}

INSTANTIATE_TEST_SUITE_P(Prompts, ReplaceTest,
                         ::testing::Values(ReplaceCase{{MsgResult::OK, MsgResult::Cancel}, {}, false},
                                           ReplaceCase{{MsgResult::OK, MsgResult::No}, {}, true},
                                           // Yes opens Save As (no file name yet); cancelling it keeps the old image.
                                           ReplaceCase{{MsgResult::OK, MsgResult::Yes}, {std::nullopt}, false}));

TEST_F(WorkflowTest, SavingTheOldImageBeforeReplacingIt) {
    view.newChoice = NewImageChoice{"MRX_D", false};
    ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
    shell.FuelImage().WriteByte(100, 0x42);
    dialogs.files = {FileDialogResult{dir.File("saved.bin"), 1}};
    const std::string path = dir.Write("new.bin", BaseImage("MRX_D"));
    EXPECT_TRUE(Open(path, {MsgResult::OK, MsgResult::Yes}));
    const Bytes saved = ReadFile(dir.File("saved.bin"));
    ASSERT_EQ(saved.size(), 16384u); // filter 1 of an LH 2.3 image = 27C128
    EXPECT_EQ(saved[100], 0x42);
    EXPECT_EQ(shell.FuelImage().GetFileName(), path);
    // Both the saved and the opened file are recent, the opened one first.
    EXPECT_EQ(Flows().Recent().Entries()[0], path);
    EXPECT_EQ(Flows().Recent().Entries()[1], dir.File("saved.bin"));
}

// Work that still holds an image (a live tuning run that changed its settings) hears of it
// leaving before it is offered for saving, and what it puts back is what is saved.
TEST_F(WorkflowTest, AnOutgoingImageIsAnnouncedBeforeItIsOfferedForSaving) {
    struct Case {
        const char* what;
        bool closing; // the program closes, else another image takes the slot
    };
    for (const Case& c : {Case{"replaced", false}, Case{"closing", true}}) {
        SCOPED_TRACE(c.what);
        view.newChoice = NewImageChoice{"MRX_D", false};
        ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
        EPROM& held = shell.FuelImage();
        const std::uint8_t own = held.ReadByte(101);
        held.WriteByte(100, 0x42);                                  // the user's edit
        held.WriteByte(101, static_cast<std::uint8_t>(own ^ 0x17)); // the run's setting, to be put back
        std::vector<const EPROM*> told;
        Flows().OnImageLeaving([&](EPROM& image) {
            told.push_back(&image);
            if (&image == &held) image.WriteByte(101, own);
        });
        const std::string saved = dir.File(std::string("saved-") + c.what + ".bin");
        dialogs.files = {FileDialogResult{saved, 1}};
        if (c.closing) {
            dialogs.answers = {MsgResult::Yes};
            EXPECT_TRUE(Flows().OfferSaveBeforeClose());
            EXPECT_EQ(told.size(), 2u) << "both slots";
        } else {
            const std::string path = dir.Write("other.bin", BaseImage("MRX_D"));
            EXPECT_TRUE(Open(path, {MsgResult::OK, MsgResult::Yes}));
            EXPECT_EQ(told.size(), 1u);
        }
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told[0], &held);
        const Bytes bytes = ReadFile(saved);
        ASSERT_EQ(bytes.size(), 16384u);
        EXPECT_EQ(bytes[100], 0x42);
        EXPECT_EQ(bytes[101], own);
        Flows().OnImageLeaving({});
    }
}

TEST_F(WorkflowTest, UnmodifiedImageIsReplacedWithoutAsking) {
    Preload("a.bin", BaseImage("MRX_D"));
    const std::string path = dir.Write("b.bin", BaseImage("MRX_D-SUPERMAF"));
    EXPECT_TRUE(Open(path));
    EXPECT_EQ(dialogs.messages.size(), 1u); // only the kind question
    EXPECT_EQ(shell.FuelImage().LH23EZK_GetMAFType(), "SuperMAF");
}

// ---- the module load ----

TEST_F(WorkflowTest, ModuleLoadSendsTheImageThenTakesTheSlot) {
    shell.Context().deviceIO = true;
    const Bytes image = BaseImage("EZK_D-GTS");
    ASSERT_TRUE(Open(dir.Write("ezk.bin", image)));
    // The module holds the image (apart from the few bytes that differ between module and file).
    std::size_t differing = 0;
    for (std::size_t i = 0; i < image.size(); ++i) differing += modules.Mem(2)[i] != image[i];
    EXPECT_LE(differing, 3u);
    EXPECT_EQ(modules.Mem(2)[kEZKRevisionAddress], 8);
    EXPECT_EQ(shell.IgnitionImage().GetBaseMapsName(), "GTS");
    EXPECT_TRUE(std::find(modules.log.begin(), modules.log.end(), "PemFinish") != modules.log.end());
}

struct ModuleFailureCase {
    const char* name;
    bool cancelAtIgnitionOn;
    int failWritesAfter;
    int fitted;
    const char* title; // a Cancel is the user's choice, no error
    const char* message;
};

void PrintTo(const ModuleFailureCase& c, std::ostream* os) { *os << c.name; }

class ModuleFailureTest : public WorkflowTest, public ::testing::WithParamInterface<ModuleFailureCase> {};

TEST_P(ModuleFailureTest, FailedModuleLoadLeavesTheSlots) {
    const auto& c = GetParam();
    Preload("old.bin", BaseImage("MRX_D"));
    shell.Context().deviceIO = true;
    modules.failWritesAfter = c.failWritesAfter;
    modules.fitted = c.fitted;
    if (c.cancelAtIgnitionOn) {
        followGuidance = false;
        modules.ignition = false;
        dialogs.cancelWhen = [](const std::string& caption) { return caption == "Turn ignition ON"; };
    }
    const std::string path = dir.Write("new.bin", BaseImage("MRX_D-SUPERMAF"));
    EXPECT_FALSE(Open(path));
    ASSERT_FALSE(dialogs.log.empty());
    EXPECT_EQ(dialogs.log.back(), std::string("MessageBox|") + c.title + "|" + c.message);
    EXPECT_EQ(shell.FuelImage().GetFileName(), dir.File("old.bin"));
    EXPECT_EQ(shell.FuelImage().LH23EZK_GetMAFType(), "Standard MAF");
    EXPECT_EQ(Flows().Recent().Entries()[0], dir.File("old.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ModuleFailureTest,
    ::testing::Values(ModuleFailureCase{"cancelled", true, -1, 3, "Kestrovane", "Cancelled by user"},
                      ModuleFailureCase{"vanished", false, 100, 3, "Error",
                                        "Connection to ECU lost. The EPROM Module holds a partial image: the ECU must "
                                        "not be started until the image has been loaded again."},
                      ModuleFailureCase{"nomodule", false, -1, 0, "Error",
                                        "No ECU with Kestrovane Programmable EPROM Module was found"}),
    [](const auto& info) { return std::string(info.param.name); });

// With the module present, the replaced image is offered for saving before anything goes to the
// module: a Cancel there leaves the module's memory, the slot and the recent files as they were.
struct DeviceReplaceCase {
    const char* name;
    bool newImage; // File > New instead of a file
    MsgResult savePrompt;
    bool loads;
};

void PrintTo(const DeviceReplaceCase& c, std::ostream* os) { *os << c.name; }

class DeviceReplaceTest : public WorkflowTest, public ::testing::WithParamInterface<DeviceReplaceCase> {};

TEST_P(DeviceReplaceTest, SavePromptComesBeforeTheModuleLoad) {
    const auto& c = GetParam();
    Preload("old.bin", BaseImage("MRX_D"));
    shell.FuelImage().WriteByte(100, 0x42);
    shell.Context().deviceIO = true;
    modules.Mem(1) = BaseImage("MRX_D");
    const Bytes moduleBefore = modules.Mem(1);
    modules.log.clear();
    std::size_t moduleEntriesAtPrompt = 999;
    dialogs.onMessage = [&](const std::string& text) {
        if (Contains(text, "Save changes to")) moduleEntriesAtPrompt = modules.log.size();
    };
    bool loaded = false;
    if (c.newImage) {
        view.newChoice = NewImageChoice{"MRX_D", true};
        dialogs.answers = {c.savePrompt};
        loaded = Flows().FileOpen(OpenSource::NewImage());
    } else {
        loaded = Open(dir.Write("new.bin", BaseImage("MRX_D-SUPERMAF")), {MsgResult::OK, c.savePrompt});
    }
    EXPECT_EQ(loaded, c.loads);
    EXPECT_EQ(moduleEntriesAtPrompt, 0u); // nothing had gone to the module when the prompt came
    if (c.loads) {
        EXPECT_EQ(shell.FuelImage().LH23EZK_GetMAFType(), "SuperMAF");
        EXPECT_NE(modules.Mem(1), moduleBefore);
        const Bytes sent = BaseImage("MRX_D-SUPERMAF");
        std::size_t differing = 0;
        for (std::size_t i = 0; i < sent.size(); ++i) differing += modules.Mem(1)[i] != sent[i];
        EXPECT_LE(differing, 3u);
        EXPECT_TRUE(std::find(modules.log.begin(), modules.log.end(), "PemFinish") != modules.log.end());
    } else {
        EXPECT_EQ(modules.Mem(1), moduleBefore);
        EXPECT_TRUE(modules.log.empty());
        EXPECT_EQ(shell.FuelImage().GetFileName(), dir.File("old.bin"));
        EXPECT_EQ(shell.FuelImage().ReadByte(100), 0x42);
        EXPECT_TRUE(shell.FuelImage().HasBeenModified());
        EXPECT_EQ(Flows().Recent().Entries()[0], dir.File("old.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, DeviceReplaceTest,
                         ::testing::Values(DeviceReplaceCase{"open_cancel", false, MsgResult::Cancel, false},
                                           DeviceReplaceCase{"open_no", false, MsgResult::No, true},
                                           DeviceReplaceCase{"new_cancel", true, MsgResult::Cancel, false},
                                           DeviceReplaceCase{"new_no", true, MsgResult::No, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The unit's name in the save prompt and in the Save As title.
TEST_F(WorkflowTest, SavePromptAndSaveAsNameTheUnit) {
    struct Case {
        const char* base;
        const char* prompt;
        const char* title;
    } cases[] = {
        {"MRX_D", "fuel injection (LH)", "Save LH (fuel) EPROM image"},
        {"EZK_D-S4", "ignition (EZK)", "Save EZK (ignition) EPROM image"},
        {"MRX_LH22_USA", "fuel injection (LH)", "Save LH (fuel) EPROM image"},
        {"EZF_EURO", "ignition (EZF)", "Save EZF (ignition) EPROM image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        EPROM image;
        ASSERT_EQ(LoadBaseImage(c.base, image), "");
        image.WriteByte(100, static_cast<std::uint8_t>(image.ReadByte(100) ^ 0xFF));
        dialogs.messages.clear();
        dialogs.log.clear();
        dialogs.answers = {MsgResult::Cancel};
        EXPECT_EQ(Flows().SavePrompt(image), MsgResult::Cancel);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0], std::string("Save changes to ") + c.prompt + " EPROM Untitled?");
        dialogs.files = {std::nullopt};
        EXPECT_EQ(Flows().SaveAs(image), SaveResult::Cancel);
        ASSERT_FALSE(dialogs.log.empty());
        EXPECT_EQ(dialogs.log.back().rfind(std::string("SaveFileDialog|") + c.title + "|", 0), 0u)
            << dialogs.log.back();
    }
}

// ---- File > New ----

TEST_F(WorkflowTest, NewImageRemembersTheChoiceAndIsNotAskedAbout) {
    settings.SaveSetting("EPROM", "NewDefault", "EZK_D-GT");
    settings.SaveSetting("EPROM", "NewDefaultSuperMAF", "1");
    view.newChoice = NewImageChoice{"EZK_D-S4", true};
    ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
    EXPECT_EQ(view.log.front(), "RunNewImageDialog|EZK_D-GT|1");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefault"), "EZK_D-S4");
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefaultSuperMAF"), "1");
    EXPECT_EQ(shell.IgnitionImage().LH23EZK_GetMAFType(), "SuperMAF");
    EXPECT_EQ(shell.IgnitionImage().GetBaseMapsName(), "S4");
    EXPECT_EQ(shell.IgnitionImage().GetFileName(), "");
    EXPECT_EQ(Flows().Recent().Entries()[0], ""); // a new image is no recent file

    view.newChoice = NewImageChoice{"MRX_D", false};
    ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefaultSuperMAF"), "0");
    EXPECT_EQ(shell.FuelImage().LH23EZK_GetMAFType(), "Standard MAF");
}

TEST_F(WorkflowTest, NewImageCancelledOrUnknownChangesNothing) {
    view.newChoice = std::nullopt;
    EXPECT_FALSE(Flows().FileOpen(OpenSource::NewImage()));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefault", "unset"), "unset");

    view.newChoice = NewImageChoice{"EZK_D-NOPE", false};
    EXPECT_FALSE(Flows().FileOpen(OpenSource::NewImage()));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Sorry, the selected EPROM is not yet supported");
    EXPECT_EQ(shell.IgnitionImage().GetECUType(), EcuType::Unknown);
}

TEST_F(WorkflowTest, OpenDialogCancelEndsQuietly) {
    dialogs.files = {std::nullopt};
    EXPECT_FALSE(Flows().FileOpen(OpenSource::AskUser()));
    ASSERT_EQ(dialogs.log.size(), 1u);
    EXPECT_EQ(dialogs.log[0], "OpenFileDialog|Load EPROM image|EPROM images (*.bin)|*.bin|1");
}

// ---- recent files ----

TEST_F(WorkflowTest, RecentEntryThreeMovesToTheTop) {
    const std::string a = dir.Write("a.bin", BaseImage("MRX_D"));
    const std::string b = dir.Write("b.bin", BaseImage("MRX_D"));
    const std::string c = dir.Write("c.bin", BaseImage("MRX_D"));
    for (const auto& p : {c, b, a}) ASSERT_TRUE(Open(p));
    EXPECT_EQ(view.recent[2], "&3. " + c);
    dialogs.answers = {MsgResult::OK};
    ASSERT_TRUE(Flows().OpenRecent(3));
    const auto entries = Flows().Recent().Entries();
    EXPECT_EQ(entries[0], c);
    EXPECT_EQ(entries[1], a);
    EXPECT_EQ(entries[2], b);
    EXPECT_EQ(entries[3], "");
    EXPECT_EQ(view.recent[0], "&1. " + c);
    EXPECT_EQ(view.recent[3], "");
    EXPECT_FALSE(Flows().OpenRecent(4)); // empty entry
}

// ---- Save, Save As, Save both ----

TEST_F(WorkflowTest, SaveWritesTheImagesOwnFormat) {
    Preload("lh.bin", BaseImage("MRX_D"));
    shell.FuelImage().WriteByte(10, 0x99);
    EXPECT_EQ(Flows().SavePrompt(shell.FuelImage()), MsgResult::Yes);
    EXPECT_EQ(dialogs.messages.back(), "Save changes to fuel injection (LH) EPROM " + dir.File("lh.bin") + "?");
    EXPECT_EQ(Flows().Save(shell.FuelImage()), SaveResult::OK);
    EXPECT_EQ(ReadFile(dir.File("lh.bin"))[10], 0x99);
    EXPECT_FALSE(shell.FuelImage().HasBeenModified());
    EXPECT_EQ(Flows().SavePrompt(shell.FuelImage()), MsgResult::No);
}

TEST_F(WorkflowTest, SaveAsOffersTheFormatsAndTakesTheChosenOne) {
    Preload("lh.bin", BaseImage("MRX_D"));
    dialogs.files = {FileDialogResult{dir.File("big.bin"), 3}};
    EXPECT_EQ(Flows().SaveAs(shell.FuelImage()), SaveResult::OK);
    const std::string expectedDialog = "SaveFileDialog|Save LH (fuel) EPROM image|" +
                                       shell.FuelImage().GetFileDialogFormats() + "|.bin|" + dir.File("lh.bin") + "|1";
    EXPECT_NE(std::find(dialogs.log.begin(), dialogs.log.end(), expectedDialog), dialogs.log.end());
    EXPECT_EQ(ReadFile(dir.File("big.bin")).size(), 65536u);
    EXPECT_EQ(shell.FuelImage().GetFileName(), dir.File("big.bin"));
    EXPECT_EQ(Flows().Recent().Entries()[0], dir.File("big.bin"));
    EXPECT_TRUE(Contains(view.info.fuel, dir.File("big.bin")));
}

TEST_F(WorkflowTest, FailedSavesKeepTheImageModifiedAndReportCancel) {
    Preload("lh.bin", BaseImage("MRX_D"));
    shell.FuelImage().WriteByte(10, 0x99);
    // Save As into a folder that does not exist.
    dialogs.files = {FileDialogResult{dir.File("nofolder/x.bin"), 1}};
    EXPECT_EQ(Flows().SaveAs(shell.FuelImage()), SaveResult::Cancel);
    EXPECT_EQ(dialogs.log.back(), "MessageBox|Error|Save failed - disk I/O error");
    EXPECT_EQ(shell.FuelImage().GetFileName(), dir.File("lh.bin"));
    EXPECT_TRUE(shell.FuelImage().HasBeenModified());
    EXPECT_EQ(Flows().Recent().Entries()[0], dir.File("lh.bin"));
    // Save onto a path that is a folder now.
    std::filesystem::remove(dir.File("lh.bin"));
    std::filesystem::create_directory(dir.File("lh.bin"));
    dialogs.messages.clear();
    EXPECT_EQ(Flows().Save(shell.FuelImage()), SaveResult::Cancel);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Save failed - disk I/O error"});
    EXPECT_TRUE(shell.FuelImage().HasBeenModified());
    // A failed save at the close question keeps the program open.
    dialogs.answers = {MsgResult::Yes};
    EXPECT_FALSE(shell.QueryClose());
}

TEST_F(WorkflowTest, SaveBothStopsWhenTheFuelImageIsCancelled) {
    view.newChoice = NewImageChoice{"MRX_D", false};
    ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
    view.newChoice = NewImageChoice{"EZK_D-S4", false};
    ASSERT_TRUE(Flows().FileOpen(OpenSource::NewImage()));
    dialogs.log.clear();
    dialogs.files = {std::nullopt};
    EXPECT_EQ(Flows().SaveBoth(), SaveResult::Cancel);
    EXPECT_EQ(std::count_if(dialogs.log.begin(), dialogs.log.end(),
                            [](const std::string& l) { return l.rfind("SaveFileDialog|", 0) == 0; }),
              1);
    dialogs.files = {FileDialogResult{dir.File("f.bin"), 1}, FileDialogResult{dir.File("i.bin"), 1}};
    EXPECT_EQ(Flows().SaveBoth(), SaveResult::OK);
    EXPECT_EQ(ReadFile(dir.File("f.bin")).size(), 16384u);
    EXPECT_EQ(ReadFile(dir.File("i.bin")).size(), 16384u);
    EXPECT_EQ(shell.IgnitionImage().GetFileName(), dir.File("i.bin"));
}

TEST_F(WorkflowTest, EmptySlotSavesAsNothing) {
    EXPECT_EQ(Flows().Save(shell.FuelImage()), SaveResult::OK);
    EXPECT_EQ(Flows().SaveBoth(), SaveResult::OK);
    EXPECT_TRUE(dialogs.log.empty());
}

// ---- information line ----

struct InfoCase {
    const char* fuelBase; // null = empty slot
    const char* ignBase;
    std::vector<std::string> fuelParts;
    std::vector<std::string> ignParts;
    bool mismatch;
};

void PrintTo(const InfoCase& c, std::ostream* os) {
    *os << (c.fuelBase ? c.fuelBase : "empty") << " + " << (c.ignBase ? c.ignBase : "empty");
}

class InfoLineTest : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoLineTest, ShowsEachSlotsFields) {
    const auto& c = GetParam();
    EPROM fuel, ign;
    if (c.fuelBase) {
        ASSERT_EQ(LoadBaseImage(c.fuelBase, fuel), "");
    }
    if (c.ignBase) {
        ASSERT_EQ(LoadBaseImage(c.ignBase, ign), "");
    }
    const InfoLine line = BuildInfoLine(fuel, ign);
    for (const auto& part : c.fuelParts) {
        EXPECT_TRUE(Contains(line.fuel, part)) << line.fuel << " / " << part;
    }
    for (const auto& part : c.ignParts) {
        EXPECT_TRUE(Contains(line.ignition, part)) << line.ignition << " / " << part;
    }
    EXPECT_EQ(line.warning.empty(), !c.mismatch);
    if (c.mismatch) {
        EXPECT_EQ(line.warning, "Warning! EPROMs have mismatching MAF types (standard MAF vs. SuperMAF)");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, InfoLineTest,
    ::testing::Values(
        InfoCase{nullptr,
                 nullptr,
                 {"LH 2.3: PEM (Programmable EPROM Module) only allowable"},
                 {"EZK: PEM (Programmable EPROM Module) only allowable"},
                 false},
        InfoCase{"MRX_D",
                 "EZK_D-GT",
                 {"928 LH S4/GT/GTS (Rev 8)", "Standard MAF sensor", "PEM (Programmable EPROM Module) only allowable"},
                 {"928 EZK S4/GT/GTS (Rev 8)", "GT maps", "Standard MAF sensor"},
                 false},
        InfoCase{"MRX_D-SUPERMAF", "EZK_D-GTS", {"SuperMAF sensor"}, {"GTS maps", "Standard MAF sensor"}, true},
        InfoCase{"MRX_D", "EZK_D-S4-SUPERMAF", {"Standard MAF sensor"}, {"S4 maps", "SuperMAF sensor"}, true},
        InfoCase{"MRX_LH22_USA",
                 "EZF_EURO",
                 {"928 LH '85 - '86 32-valve USA (Rev 1)", kOfflineOnly},
                 {"928 EZF (Rev 1)", kOfflineOnly},
                 false},
        // LH 2.2 with SuperMAF EZK is no mismatch: only LH 2.3 and EZK are compared.
        InfoCase{"MRX_LH22_EURO", "EZK_D-S4-SUPERMAF", {"928 LH S2 16-valve Euro"}, {"SuperMAF sensor"}, false}));

TEST_F(WorkflowTest, InformationLineNamesTheFileAndFormat) {
    Preload("lh.bin", BaseImage("MRX_D"));
    EXPECT_TRUE(Contains(view.info.fuel, " - " + dir.File("lh.bin"))) << view.info.fuel;
    EXPECT_TRUE(Contains(view.info.fuel, "27C128 EPROM binary (16 kB)")) << view.info.fuel;
    EXPECT_TRUE(Contains(view.info.ignition, "EZK: ")) << view.info.ignition;
}

// ---- tabs follow the slots ----

TEST_F(WorkflowTest, ReplacingLH23ByLH22SwapsTheParameterTab) {
    settings.SaveSetting("ECUs", "LH22", "1");
    shell.Workflows().SetTabState(TabState::Init);
    Preload("lh23.bin", BaseImage("MRX_D"));
    EXPECT_EQ(view.keys, (std::vector<std::string>{"EPROM", "Parameters", "FuelMap", "Monitor", "DataLogging"}));
    ASSERT_TRUE(Open(BaseFile("lh22.bin", "MRX_LH22_USA")));
    EXPECT_EQ(view.keys, (std::vector<std::string>{"EPROM", "ParametersLH22", "FuelMap", "Monitor", "DataLogging"}));
}

// ---- Load from PEM ----

TEST_F(WorkflowTest, DownloadReadsTheRunningUnitsThatAnswer) {
    device.reachable = 2;
    modules.Mem(2) = BaseImage("EZK_D-GT");
    modules.Mem(1) = BaseImage("MRX_D");
    Flows().Download();
    EXPECT_EQ(shell.IgnitionImage().GetBaseMapsName(), "GT");
    EXPECT_EQ(shell.FuelImage().GetECUType(), EcuType::Unknown); // the LH unit did not answer
    EXPECT_TRUE(modules.log.empty());                            // no start-up channel
}

TEST_F(WorkflowTest, ErasedModuleDoesNotEmptyASlot) {
    Preload("ezk.bin", BaseImage("EZK_D-S4"));
    device.reachable = 1; // the LH module answers, but holds nothing
    Flows().Download();
    EXPECT_EQ(dialogs.log.back(), "MessageBox|Error|Failed to load EPROM image: The EPROM image is empty.");
    EXPECT_EQ(shell.IgnitionImage().GetFileName(), dir.File("ezk.bin"));
    EXPECT_EQ(shell.FuelImage().GetECUType(), EcuType::Unknown);
}

struct StartupChannelCase {
    int fitted;          // modules that come up with the ignition
    const char* message; // the note about the missing one (null when both came)
    bool fuel;
    bool ignition;
};

void PrintTo(const StartupChannelCase& c, std::ostream* os) { *os << "fitted " << c.fitted; }

class StartupChannelTest : public WorkflowTest, public ::testing::WithParamInterface<StartupChannelCase> {};

TEST_P(StartupChannelTest, DownloadsTheUnitsThatCameUp) {
    const auto& c = GetParam();
    device.reachable = 0; // no running unit answers
    modules.fitted = c.fitted;
    modules.Mem(1) = BaseImage("MRX_D-SUPERMAF");
    modules.Mem(2) = BaseImage("EZK_D-GTS");
    Flows().Download();
    if (c.message) {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0], c.message);
    } else {
        EXPECT_TRUE(dialogs.messages.empty());
    }
    EXPECT_EQ(shell.FuelImage().LH23EZK_GetMAFType(), c.fuel ? "SuperMAF" : "");
    EXPECT_EQ(shell.IgnitionImage().GetBaseMapsName(), c.ignition ? "GTS" : "");
    EXPECT_EQ(modules.log.front(), "PemDetectStart|3");
    EXPECT_EQ(modules.log.back(), "PemFinish");
    EXPECT_NE(std::find(dialogs.log.begin(), dialogs.log.end(), "ShowProgress|Finishing up|2"), dialogs.log.end());
    // The finishing command goes to each unit that came up, selected in turn.
    std::vector<std::string> finishing;
    if (c.fuel) finishing.insert(finishing.end(), {"PemSelect|1", "PemFinish"});
    if (c.ignition) finishing.insert(finishing.end(), {"PemSelect|2", "PemFinish"});
    ASSERT_GE(modules.log.size(), finishing.size());
    EXPECT_EQ(
        std::vector<std::string>(modules.log.end() - static_cast<std::ptrdiff_t>(finishing.size()), modules.log.end()),
        finishing);
}

INSTANTIATE_TEST_SUITE_P(
    Units, StartupChannelTest,
    ::testing::Values(StartupChannelCase{1,
                                         "No EZK ECU with Kestrovane Programmable EPROM Module was found. Only the "
                                         "EPROM from the LH 2.3 ECU will be downloaded.",
                                         true, false},
                      StartupChannelCase{2,
                                         "No LH 2.3 ECU with Kestrovane Programmable EPROM Module was found. Only "
                                         "the EPROM from the EZK ECU will be downloaded.",
                                         false, true},
                      StartupChannelCase{3, nullptr, true, true}));

TEST_F(WorkflowTest, DownloadWithNoModulesOrCancelled) {
    modules.fitted = 0;
    Flows().Download();
    EXPECT_EQ(dialogs.log.back(), "MessageBox|Kestrovane|No ECUs with Kestrovane Programmable EPROM Modules were "
                                  "detected.");
    modules.fitted = 3;
    modules.ignition = false;
    dialogs.log.clear();
    prompt.log.clear();
    dialogs.cancelWhen = [](const std::string& caption) { return caption == "Turn ignition ON"; };
    Flows().Download();
    EXPECT_EQ(prompt.log, (std::vector<std::string>{"on", "end"}));
    EXPECT_EQ(dialogs.log.back(), "CloseProgress");
    EXPECT_TRUE(dialogs.messages.size() == 1u); // only the earlier one
    EXPECT_EQ(shell.FuelImage().GetECUType(), EcuType::Unknown);
}

TEST_F(WorkflowTest, DownloadEndsWhenDetectionCannotStartOrTheDeviceFallsSilent) {
    struct Case {
        const char* name;
        bool startOk;
        bool silent;
    };
    const Case cases[] = {{"detection cannot start", false, false}, {"detection polls unanswered", true, true}};
    for (const Case& c : cases) {
        modules.log.clear();
        dialogs.log.clear();
        dialogs.messages.clear();
        modules.fitted = 3;
        followGuidance = false;
        modules.ignition = false; // the units are not up yet: only detection can end the wait
        modules.detectStartOk = c.startOk;
        modules.detectSilent = c.silent;
        // A wait that never ends by itself is cut short by a Cancel long after it should have ended.
        modules.ignitionPolls = 0;
        dialogs.cancelWhen = [this](const std::string&) { return modules.ignitionPolls > 500; };
        Flows().Download();
        ASSERT_EQ(dialogs.messages.size(), 1u) << c.name;
        EXPECT_EQ(dialogs.messages[0], "Kestrovane device not responding") << c.name;
        EXPECT_LE(modules.ignitionPolls, 50) << c.name;
        EXPECT_EQ(std::count(modules.log.begin(), modules.log.end(), "PemFinish"), 0) << c.name;
        EXPECT_EQ(shell.FuelImage().GetECUType(), EcuType::Unknown) << c.name;
        EXPECT_FALSE(dialogs.progressVisible) << c.name;
    }
}

} // namespace

} // namespace kv
