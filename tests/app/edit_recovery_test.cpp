// Unsaved edits outlive the program: a child process that edits an image is killed and the next
// start re-applies exactly its edits; the restore offer's answers; a save, a close or a
// replacement of the image clears its journal.
#include "app/core/edit_recovery.h"
#include "app_test_support.h"
#include "journal_edits.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace kv {

using namespace app_test;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// 2026-12-10 19:00:00 UTC.
constexpr std::int64_t kEditTimeMs = 1'796'929'200'000;

// One run of the program: a shell with the journal in `folder`.
struct ProgramRun {
    explicit ProgramRun(const std::string& folder) {
        shell.UseEditJournal(folder, [this] { return now; });
        dialogs.answers.clear();
    }
    bool Open(const std::string& path) {
        dialogs.answers = {MsgResult::OK};
        return shell.Workflows().FileOpen(OpenSource::File(path));
    }
    void Edit(int count) {
        shell.Context().deviceIO = true;
        for (int i = 0; i < count; ++i) {
            MakeEdit(shell.FuelImage(), i);
            now += 1000;
        }
    }

    std::int64_t now = kEditTimeMs;
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    FakeShellDevice device;
    FakeModules modules;
    RecordingView view;
    Shell shell{device, &modules, dialogs, dialogs, dialogs, settings, clock, view, ProgramVersion{1, 0, 0}};
};

class EditRecoveryTest : public ::testing::Test {
public:
    TempDir dir;
    std::string Folder() const { return dir.File("journal"); }
    // The 27C256 file of the LH 2.3 base image.
    std::string ImageFile() {
        EPROM image;
        EXPECT_EQ(LoadBaseImage("MRX_D", image), "");
        EXPECT_TRUE(image.SaveToFile(dir.File("s4.bin"), FileFormat::EPROM27C256));
        return dir.File("s4.bin");
    }
    // The file `path` with the first `edits` edits, saved the way the program saves.
    Bytes Expected(const std::string& path, int edits) {
        EPROM image;
        EXPECT_EQ(image.LoadFromFile(path), "");
        for (int i = 0; i < edits; ++i) MakeEdit(image, i);
        EXPECT_TRUE(image.SaveToFile(dir.File("expected.bin"), image.GetFileFormat()));
        return ReadFile(dir.File("expected.bin"));
    }
    std::size_t Leftovers() const { return EditJournal(Folder()).Leftovers().size(); }
};

TEST_F(EditRecoveryTest, AKilledProgramsUnsavedEditsAreAppliedToTheirFileAtTheNextStart) {
    const std::string file = ImageFile();
    const Bytes original = ReadFile(file);
    constexpr int kEdits = 7;

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::execl(KV_JOURNAL_EDIT_CHILD, KV_JOURNAL_EDIT_CHILD, Folder().c_str(), file.c_str(),
                std::to_string(kEdits).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    // The child reports when the last edit's write to the unit has begun; it is killed there.
    std::string said;
    char c = 0;
    while (said.find("stalled\n") == std::string::npos && ::read(out[0], &c, 1) == 1) said += c;
    ::close(out[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(said, "stalled\n");
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFile(file), original) << "nothing was saved";

    // The power went while the disk took a record after the last one: that one is torn.
    const std::vector<std::string> left = EditJournal(Folder()).Leftovers();
    ASSERT_EQ(left.size(), 1u);
    {
        std::ofstream torn(left[0], std::ios::binary | std::ios::app);
        torn.write("\x15\x00\x00\x00\x01\x02", 6);
    }

    ProgramRun next(Folder());
    next.dialogs.answers = {MsgResult::Yes};
    next.shell.StartUp();
    ASSERT_FALSE(next.dialogs.messages.empty());
    EXPECT_TRUE(Contains(next.dialogs.messages[0], "7 edits to the fuel image " + file)) << next.dialogs.messages[0];
    // Every edit the child made, the one whose unit write was cut off included (the unit may
    // hold it), and nothing else.
    EXPECT_EQ(ReadFile(file), Expected(dir.Write("copy.bin", original), kEdits));
    EXPECT_EQ(Leftovers(), 0u);
}

// The offer counts user actions, however many writes and bytes each took (an undo is one action
// too), and Yes opens the file with the edits in the window.
TEST_F(EditRecoveryTest, TheOfferCountsUserActionsAndYesOpensTheRestoredFile) {
    struct Case {
        const char* name;
        int actions;       // each writes 20 words (40 bytes) through the image
        int undone;        // of them, taken back with Edit > Undo
        const char* count; // as the offer says it
    };
    const Case cases[] = {{"three actions of 20 writes", 3, 0, "3 edits"},
                          {"two actions and an undo", 2, 1, "3 edits"},
                          {"one action", 1, 0, "1 edit"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Folder());
        const std::string file = ImageFile();
        Bytes expected;
        {
            ProgramRun crashed(Folder());
            ASSERT_TRUE(crashed.Open(file));
            crashed.shell.Context().deviceIO = true;
            EPROM& image = crashed.shell.FuelImage();
            for (int a = 0; a < c.actions; ++a) {
                const EditStep step(crashed.shell.Context(), "Paste");
                for (int i = 0; i < 20; ++i) image.WriteWord(0x0400 + 64 * a + 2 * i, 0x1000 + 0x111 * a + i);
            }
            for (int u = 0; u < c.undone; ++u) ASSERT_TRUE(crashed.shell.History().Undo(image));
            expected = image.Bytes();
        } // ends without a save or a close

        ProgramRun next(Folder());
        next.dialogs.answers = {MsgResult::Yes};
        next.shell.StartUp();
        ASSERT_FALSE(next.dialogs.messages.empty());
        EXPECT_TRUE(Contains(next.dialogs.messages[0], std::string("properly. ") + c.count + " to the fuel image"))
            << next.dialogs.messages[0];
        // The file with the edits is open in the fuel slot, as after File > Open.
        EXPECT_EQ(next.shell.FuelImage().GetFileName(), file);
        EXPECT_EQ(next.shell.FuelImage().Bytes(), expected);
        EXPECT_FALSE(next.shell.FuelImage().HasBeenModified());
        EXPECT_TRUE(next.shell.Tabs().IsSet(1)) << "the fuel parameters tab";
        EXPECT_EQ(Leftovers(), 0u);
    }
}

// A journal of the previous version has its edits counted from the writes' times: the offer
// says so.
TEST(RestoreQuestionTest, ACountFromTheWritesTimesIsAbout) {
    JournalContents c;
    c.image.path = "/cars/s4.bin";
    c.startedMs = kEditTimeMs;
    c.actions = 3;
    for (const bool counted : {true, false}) {
        c.actionsCounted = counted;
        const std::string question = RestoreQuestion(c);
        EXPECT_TRUE(Contains(question, counted ? "properly. 3 edits to the fuel image /cars/s4.bin were not saved"
                                               : "properly. About 3 edits to the fuel image /cars/s4.bin were not"))
            << question;
    }
}

struct AnswerCase {
    const char* name;
    std::vector<MsgResult> answers; // the restore question, then the discard question
    bool fileChangedMeanwhile;
    bool applied;
    bool kept;
};

TEST_F(EditRecoveryTest, TheAnswersToTheRestoreOffer) {
    const AnswerCase cases[] = {
        {"Yes applies the edits", {MsgResult::Yes}, false, true, false},
        {"Yes on a file changed since keeps them", {MsgResult::Yes}, true, false, true},
        {"No, then Yes discards them", {MsgResult::No, MsgResult::Yes}, false, false, false},
        {"No, then No keeps them", {MsgResult::No, MsgResult::No}, false, false, true},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Folder());
        const std::string file = ImageFile();
        {
            ProgramRun crashed(Folder());
            ASSERT_TRUE(crashed.Open(file));
            crashed.Edit(3);
        } // ends without a save or a close
        if (c.fileChangedMeanwhile) {
            EPROM other;
            ASSERT_EQ(other.LoadFromFile(file), "");
            other.WriteByte(0x2000, 0x77);
            ASSERT_TRUE(other.SaveToFile(file));
        }
        const Bytes before = ReadFile(file);

        ProgramRun next(Folder());
        next.dialogs.answers.assign(c.answers.begin(), c.answers.end());
        next.shell.StartUp();
        ASSERT_FALSE(next.dialogs.messages.empty());
        EXPECT_EQ(next.dialogs.messages[0], "Kestrovane did not close properly. 3 edits to the fuel image " + file +
                                                " were not saved; the last was made at " + "2026-12-10 19:00:02" +
                                                ".\r\n\r\nApply the unsaved "
                                                "edits to " +
                                                file + " now?");
        EXPECT_EQ(ReadFile(file), c.applied ? Expected(dir.Write("copy.bin", before), 3) : before);
        EXPECT_EQ(Leftovers(), c.kept ? 1u : 0u);
        if (c.fileChangedMeanwhile) {
            EXPECT_TRUE(Contains(next.dialogs.messages.back(), "has changed since the edits were made"))
                << next.dialogs.messages.back();
        }
    }
}

TEST_F(EditRecoveryTest, AnImageWithoutAFileIsSavedWithItsEditsWhereTheUserSays) {
    {
        ProgramRun crashed(Folder());
        crashed.view.newChoice = NewImageChoice{"MRX_D", false};
        ASSERT_TRUE(crashed.shell.Workflows().FileOpen(OpenSource::NewImage()));
        crashed.Edit(4);
    }
    ProgramRun next(Folder());
    next.dialogs.answers = {MsgResult::Yes};
    next.dialogs.files.push_back(FileDialogResult{dir.File("recovered.bin"), 2});
    next.shell.StartUp();
    ASSERT_FALSE(next.dialogs.messages.empty());
    EXPECT_TRUE(Contains(next.dialogs.messages[0], "4 edits to the fuel image Untitled")) << next.dialogs.messages[0];
    EPROM recovered;
    ASSERT_EQ(recovered.LoadFromFile(dir.File("recovered.bin")), "");
    EXPECT_EQ(recovered.GetFileFormat(), FileFormat::EPROM27C256);
    EPROM expected;
    ASSERT_EQ(LoadBaseImage("MRX_D", expected), "");
    for (int i = 0; i < 4; ++i) MakeEdit(expected, i);
    EXPECT_EQ(recovered.Bytes(), expected.Bytes());
    EXPECT_EQ(Leftovers(), 0u);
}

// How a run may end its image's edits: each leaves nothing to recover.
struct Ending {
    const char* name;
    std::function<void(ProgramRun&, EditRecoveryTest&)> end;
};

TEST_F(EditRecoveryTest, ASaveACloseOrAReplacementClearsTheJournal) {
    const Ending endings[] = {
        {"File > Save",
         [](ProgramRun& r, EditRecoveryTest&) {
             EXPECT_EQ(r.shell.Workflows().Save(r.shell.FuelImage()), SaveResult::OK);
         }},
        {"closing the program without saving",
         [](ProgramRun& r, EditRecoveryTest&) {
             r.dialogs.answers = {MsgResult::No};
             EXPECT_TRUE(r.shell.QueryClose());
         }},
        {"opening another image without saving",
         [](ProgramRun& r, EditRecoveryTest& t) {
             r.shell.Context().deviceIO = false; // no module load
             r.dialogs.answers = {MsgResult::OK, MsgResult::No};
             EXPECT_TRUE(r.shell.Workflows().FileOpen(OpenSource::File(t.dir.Write("other.bin", BaseImage("MRX_D")))));
         }},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.name);
        std::filesystem::remove_all(Folder());
        {
            ProgramRun run(Folder());
            ASSERT_TRUE(run.Open(ImageFile()));
            run.Edit(2);
            EXPECT_TRUE(ReadJournal(run.shell.Journal()->PathOf(JournalSlot::Fuel)));
            e.end(run, *this);
        }
        EXPECT_EQ(Leftovers(), 0u);
    }
}

// Bytes held for files (the unit runs a passing state, such as a live tuning run's open loop)
// go into the journal as the file would get them, so that a crash in the middle of such a state
// never brings it back into the file; the other edits are journalled as made.
TEST_F(EditRecoveryTest, HeldBytesAreJournalledAsTheFileGetsThem) {
    const std::string file = ImageFile();
    ProgramRun run(Folder());
    ASSERT_TRUE(run.Open(file));
    run.shell.Context().deviceIO = true;
    EPROM& image = run.shell.FuelImage();
    const std::int32_t held = 0x0300;
    const std::uint8_t original = image.ReadByte(held);
    image.HoldFileBytes(held, 1);
    image.WriteByte(held, static_cast<std::uint8_t>(original ^ 0x5A)); // the passing state
    run.Edit(1);                                                       // an edit of the user's
    const std::optional<JournalContents> contents = ReadJournal(run.shell.Journal()->PathOf(JournalSlot::Fuel));
    ASSERT_TRUE(contents);
    // The journal gives the image with the user's edit, and the held byte as it was.
    const std::vector<std::uint8_t> edited = contents->EditedImage();
    ASSERT_LE(edited.size(), image.Bytes().size());
    for (std::size_t i = 0; i < edited.size(); ++i) {
        if (i != static_cast<std::size_t>(held)) {
            ASSERT_EQ(edited[i], image.Bytes()[i]) << "at " << i;
        }
    }
    EXPECT_EQ(edited[static_cast<std::size_t>(held)], original);
    EXPECT_EQ(edited[0x0400], 0x11) << "the user's edit";
}

TEST_F(EditRecoveryTest, ASaveClearsOnlyItsOwnImagesJournal) {
    ProgramRun run(Folder());
    ASSERT_TRUE(run.Open(ImageFile()));
    run.dialogs.answers = {MsgResult::OK};
    ASSERT_TRUE(run.shell.Workflows().FileOpen(OpenSource::File(dir.Write("ezk.bin", BaseImage("EZK_D-S4")))));
    run.Edit(2);
    run.shell.IgnitionImage().WriteByte(0x100, 0x42);
    ASSERT_EQ(run.shell.Workflows().Save(run.shell.IgnitionImage()), SaveResult::OK);
    EXPECT_TRUE(ReadJournal(run.shell.Journal()->PathOf(JournalSlot::Fuel)));
    EXPECT_FALSE(ReadJournal(run.shell.Journal()->PathOf(JournalSlot::Ignition)));
}

} // namespace
} // namespace kv
