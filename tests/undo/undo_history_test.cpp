// Undo and redo of every kind of edit against the simulated car: the image and the running unit's
// module hold exactly the bytes from before the step after an undo, and those from after it after
// a redo; a step is one user action however many cells it wrote; a new edit ends what could be
// redone; an edit the unit misses while undoing is recorded like any other.
#include "eprom/edit_step.h"
#include "map_test_util.h"
#include "params/param_page.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"
#include "sim_link_rig.h"
#include "undo/edit_history.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using TE = TableEditor;

// One write as the edit journal is given it.
struct JournalWrite {
    std::int32_t address;
    Bytes bytes;
};

// The LH 2.3 test image in the running unit's module and in an image that writes through to it,
// with the base fuel map in an editor on a grid, and the image's undo history.
struct UndoRig : SimLinkRig {
    UndoRig() {
        context.beforeWrite = [this](const EPROM&, std::int32_t address, const Bytes& bytes) {
            journal.push_back({address, bytes});
        };
        history = std::make_unique<EditHistories>(context);
        image = std::make_unique<EPROM>(context);
        EXPECT_EQ(image->LoadFromArray(maps_test::LH23Bytes()), "");
        EXPECT_EQ(image->WriteThroughUnit(), 1);
        // The unit runs the image as loaded (with the load's patches).
        sim->Device().Module(kSimLH).memory = image->Bytes();
        editor = std::make_unique<TableEditor>(dialogs, dialogs, dialogs);
        editor->SetEPROM(image.get());
        editor->SetControl(&grid);
        const MapDefinition* definition = FindMapDefinition(MapTab::Fuel, "Base fuel map (cat)");
        EXPECT_NE(definition, nullptr);
        if (definition != nullptr) ConfigureEditor(*editor, MapTab::Fuel, definition, image->GetECUType());
        editor->RenderTable();
    }

    Bytes Image() const { return image->Bytes(); }
    Bytes InUnit() const {
        const Bytes& m = sim->Device().Module(kSimLH).memory;
        return Bytes(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(image->Bytes().size()));
    }
    const EditHistory& Steps() const { return history->Of(*image); }
    void Select(int row1, int col1, int row2, int col2) {
        grid.SetCurrentCell(grid.FixedRows() + row1, col1 + 1);
        grid.SetSelectionEnd(grid.FixedRows() + row2, col2 + 1);
    }
    std::string Cell(int row, int col) const { return grid.TextMatrix(grid.FixedRows() + row, col + 1); }

    FakeGrid grid;
    std::vector<JournalWrite> journal;
    std::unique_ptr<EditHistories> history;
    std::unique_ptr<EPROM> image;
    std::unique_ptr<TableEditor> editor;
};

// `bytes` with the journal's writes from `from` on applied (what a crash recovery would rebuild).
Bytes Replayed(Bytes bytes, const std::vector<JournalWrite>& journal, std::size_t from) {
    for (std::size_t i = from; i < journal.size(); ++i)
        for (std::size_t k = 0; k < journal[i].bytes.size(); ++k)
            bytes[static_cast<std::size_t>(journal[i].address) + k] = journal[i].bytes[k];
    return bytes;
}

struct EditKind {
    const char* what;
    const char* stepName;
    std::function<void(UndoRig&)> edit;
};

const EditKind kEditKinds[] = {
    {"step key on a selection", "Increase selection",
     [](UndoRig& r) {
         r.Select(0, 0, 1, 1);
         r.editor->Apply(TE::BOGUSKEY_INC1SEL);
     }},
    {"button on a selection", "Decrease selection",
     [](UndoRig& r) {
         r.Select(2, 3, 4, 3);
         r.editor->SetIncdec2StepSize(5);
         r.editor->Apply(TE::BOGUSKEY_DEC2SEL);
     }},
    {"percentage", "Increase selection by percentage",
     [](UndoRig& r) {
         r.Select(0, 0, 2, 2);
         r.dialogs.inputs = {std::string("10")};
         r.editor->Apply(TE::BOGUSKEY_INCPSEL);
     }},
    {"typed value", "Set value",
     [](UndoRig& r) {
         r.Select(5, 5, 5, 5);
         r.dialogs.inputs = {std::string("-12")};
         r.editor->KeyPress('-');
     }},
    {"paste", "Paste",
     [](UndoRig& r) {
         r.Select(1, 1, 1, 1);
         r.dialogs.clipboard = "1\t2\t3\r\n4\t5\t6\r\n";
         r.editor->KeyPress(TE::KEY_PASTE);
     }},
    {"parameter", "Fuel parameters: Cranking pulse width (msec) on warm engine",
     [](UndoRig& r) {
         auto page = MakeLH23Page(*r.image, {});
         page->Load();
         page->SetValue("cranking_pw", page->Value("cranking_pw") + 3);
     }},
    {"SuperMAF conversion", "SuperMAF conversion", [](UndoRig& r) { r.image->LH23_MakeSuperMAF(); }},
};

TEST(UndoHistory, UndoAndRedoOfEachKindOfEditRestoreTheImageAndTheRunningUnit) {
    for (const EditKind& kind : kEditKinds) {
        SCOPED_TRACE(kind.what);
        UndoRig rig;
        const Bytes before = rig.Image();
        ASSERT_EQ(rig.InUnit(), before);
        kind.edit(rig);
        const Bytes after = rig.Image();
        ASSERT_NE(after, before) << "the edit changed nothing";
        ASSERT_EQ(rig.InUnit(), after) << "the edit went to the unit";
        ASSERT_EQ(rig.Steps().Steps().size(), 1u) << "one action, one step";
        EXPECT_EQ(rig.Steps().UndoName(), kind.stepName);
        EXPECT_EQ(rig.Steps().RedoName(), "");

        const std::size_t journalBefore = rig.journal.size();
        ASSERT_TRUE(rig.history->Undo(*rig.image));
        EXPECT_EQ(rig.Image(), before);
        EXPECT_EQ(rig.InUnit(), before);
        EXPECT_EQ(Replayed(after, rig.journal, journalBefore), before) << "the journal has the undo";
        EXPECT_FALSE(rig.Steps().CanUndo());
        EXPECT_EQ(rig.Steps().RedoName(), kind.stepName);
        EXPECT_FALSE(rig.history->Undo(*rig.image)) << "nothing more to undo";

        ASSERT_TRUE(rig.history->Redo(*rig.image));
        EXPECT_EQ(rig.Image(), after);
        EXPECT_EQ(rig.InUnit(), after);
        EXPECT_EQ(rig.Steps().UndoName(), kind.stepName);
        EXPECT_FALSE(rig.history->Redo(*rig.image));
        EXPECT_FALSE(rig.image->HasUnconfirmedWrites());
    }
}

TEST(UndoHistory, APasteOfAWholeMapIsOneStepAndTheGridShowsTheUndoneCells) {
    UndoRig rig;
    std::string text;
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) text += (c ? "\t" : "") + std::to_string((r * 16 + c) % 100 - 50);
        text += "\r\n";
    }
    const Bytes before = rig.Image();
    const std::string cornerBefore = rig.Cell(15, 15);
    rig.Select(0, 0, 0, 0);
    rig.dialogs.clipboard = text;
    rig.editor->KeyPress(TE::KEY_PASTE);
    ASSERT_EQ(rig.Cell(15, 15), "5");
    ASSERT_EQ(rig.Steps().Steps().size(), 1u);

    ASSERT_TRUE(rig.history->Undo(*rig.image));
    EXPECT_EQ(rig.Image(), before);
    EXPECT_EQ(rig.InUnit(), before);
    rig.Select(3, 4, 6, 8);
    rig.editor->RefreshFromImage();
    EXPECT_EQ(rig.Cell(15, 15), cornerBefore);
    EXPECT_EQ(rig.grid.Row(), rig.grid.FixedRows() + 3) << "the selection stays";
    EXPECT_EQ(rig.grid.ColSel(), 9);
}

TEST(UndoHistory, ANewEditAfterAnUndoDropsWhatCouldBeRedone) {
    UndoRig rig;
    rig.Select(0, 0, 0, 0);
    rig.editor->Apply(TE::BOGUSKEY_INC1SEL);
    rig.editor->Apply(TE::BOGUSKEY_DEC1SEL);
    rig.editor->Apply(TE::BOGUSKEY_DEC1SEL);
    ASSERT_EQ(rig.Steps().Steps().size(), 3u);
    ASSERT_TRUE(rig.history->Undo(*rig.image));
    ASSERT_TRUE(rig.history->Undo(*rig.image));
    EXPECT_EQ(rig.Steps().RedoName(), "Decrease selection");

    rig.dialogs.inputs = {std::string("7")};
    rig.editor->KeyPress('7');
    const EditHistory& h = rig.Steps();
    ASSERT_EQ(h.Steps().size(), 2u);
    EXPECT_EQ(h.Steps()[0].name, "Increase selection");
    EXPECT_EQ(h.Steps()[1].name, "Set value");
    EXPECT_FALSE(h.CanRedo());
    EXPECT_FALSE(rig.history->Redo(*rig.image));
    EXPECT_EQ(rig.Cell(0, 0), "7");
}

TEST(UndoHistory, OnlyUserActionsThatChangeBytesBecomeSteps) {
    UndoRig rig;
    rig.Select(0, 0, 0, 0);
    const std::string shown = rig.Cell(0, 0);
    // The same value typed again, a step of size 0, writes outside any action.
    rig.dialogs.inputs = {shown};
    rig.editor->KeyPress(TE::KEY_EDIT);
    rig.editor->SetIncdec2StepSize(0);
    rig.editor->Apply(TE::BOGUSKEY_INC2SEL);
    rig.image->WriteByte(100, static_cast<std::uint8_t>(rig.image->ReadByte(100) ^ 0x55));
    rig.editor->SetCellValue(3, 3, 9);
    {
        // Up and down again within one action.
        const EditStep step(rig.context, "Both ways");
        rig.editor->Apply(TE::BOGUSKEY_INC1SEL);
        rig.editor->Apply(TE::BOGUSKEY_DEC1SEL);
    }
    EXPECT_TRUE(rig.Steps().Steps().empty());
    EXPECT_FALSE(rig.history->Undo(*rig.image));
}

TEST(UndoHistory, NestedActionsAreOneStepUnderTheOutermostNameAndUndoWaitsForItsEnd) {
    UndoRig rig;
    rig.Select(0, 0, 0, 0);
    rig.editor->Apply(TE::BOGUSKEY_INC1SEL);
    const Bytes afterFirst = rig.Image();
    {
        const EditStep step(rig.context, "Autotune");
        rig.editor->Apply(TE::BOGUSKEY_INC1SEL);
        rig.editor->SetCellValue(7, 7, 20);
        EXPECT_FALSE(rig.history->Undo(*rig.image)) << "the open action is not a step yet";
        EXPECT_TRUE(rig.history->StepOpen());
    }
    ASSERT_EQ(rig.Steps().Steps().size(), 2u);
    EXPECT_EQ(rig.Steps().UndoName(), "Autotune");
    ASSERT_TRUE(rig.history->Undo(*rig.image));
    EXPECT_EQ(rig.Image(), afterFirst);
    EXPECT_EQ(rig.InUnit(), afterFirst);
}

TEST(UndoHistory, AnUndoTheUnitDoesNotReceiveIsKeptInTheImageAndMarkedUnconfirmed) {
    UndoRig rig;
    const Bytes before = rig.Image();
    rig.Select(0, 0, 1, 1);
    rig.editor->Apply(TE::BOGUSKEY_INC1SEL);
    const Bytes after = rig.Image();
    rig.sim->Unplug();
    ASSERT_TRUE(rig.history->Undo(*rig.image));
    EXPECT_EQ(rig.Image(), before) << "the image takes the undo";
    EXPECT_EQ(rig.InUnit(), after) << "the unit did not get it";
    EXPECT_TRUE(rig.image->HasUnconfirmedWrites());
    EXPECT_EQ(rig.Steps().RedoName(), "Increase selection");

    rig.sim->Replug();
    rig.clock.SleepMs(1100);
    ASSERT_TRUE(rig.comms->Comms_Open() || rig.comms->Comms_IsOpen());
    EXPECT_TRUE(rig.image->ResendUnconfirmedWrites());
    EXPECT_EQ(rig.InUnit(), before);
    EXPECT_FALSE(rig.image->HasUnconfirmedWrites());
}

TEST(UndoHistory, EachImageHasItsOwnHistoryAndForgettingOneLeavesTheOther) {
    UndoRig rig;
    EPROM other(rig.context);
    ASSERT_EQ(other.LoadFromArray(maps_test::EZKBytes()), "");
    rig.Select(0, 0, 0, 0);
    rig.editor->Apply(TE::BOGUSKEY_INC1SEL);
    {
        const EditStep step(rig.context, "Ignition edit");
        other.WriteByte(4096, static_cast<std::uint8_t>(other.ReadByte(4096) + 1));
    }
    std::vector<const EPROM*> forgotten;
    rig.history->forgotten = [&](const EPROM* image) { forgotten.push_back(image); };
    EXPECT_EQ(rig.history->Of(other).UndoName(), "Ignition edit");
    EXPECT_EQ(rig.Steps().UndoName(), "Increase selection");

    rig.history->Forget(*rig.image);
    EXPECT_EQ(forgotten, std::vector<const EPROM*>{rig.image.get()});
    EXPECT_TRUE(rig.Steps().Steps().empty());
    EXPECT_FALSE(rig.history->Undo(*rig.image));
    EXPECT_EQ(rig.history->Of(other).UndoName(), "Ignition edit");
    rig.history->ForgetAll();
    EXPECT_TRUE(rig.history->Of(other).Steps().empty());
}

} // namespace
} // namespace kv
