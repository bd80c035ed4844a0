// Edit > Undo, Redo and History in the program offscreen against the simulated car: the captions
// name the step, the stack follows the image of the tab on show, undo reaches the running module
// and the grid and page on show, the History window jumps, and a new image starts a new history.
#include "app/gui/main_window.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/program.h"
#include "app_test_support.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/table_editor.h"
#include "params/gui/param_panel.h"
#include "program_test_support.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"
#include "undo/gui/undo_stacks.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUndoView>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kv {

using namespace app_test;

namespace {

class UndoMenuTest : public SimulatedProgramTest {
protected:
    void SetUp() override { StartProgram(); }
    QAction& Act(const char* name) { return *Window().Action(name); }
    Bytes FuelModule() { return program->Simulator()->Device().Module(kSimLH).memory; }
    QtMapGrid& FuelGrid() { return *Window().Maps()->Fuel()->Grid(); }
    std::string FuelCell(int row, int col) {
        return FuelGrid().TextMatrix(FuelGrid().FixedRows() + row, FuelGrid().FixedCols() + col);
    }
};

TEST_F(UndoMenuTest, UndoAndRedoNameTheStepFollowTheImageOnShowAndReachTheModule) {
    EXPECT_FALSE(Act("mnuEditUndo").isEnabled());
    EXPECT_EQ(Act("mnuEditUndo").text(), "&Undo");
    FileNew(0);
    Window().SelectTab("FuelMap");
    const Bytes loaded = FuelModule();
    const std::vector<std::string> cellsBefore = {FuelCell(1, 1), FuelCell(1, 2), FuelCell(2, 1), FuelCell(2, 2)};

    // A paste of four cells, then Edit > Undo.
    FuelGrid().SetCurrentCell(FuelGrid().FixedRows() + 1, FuelGrid().FixedCols() + 1);
    dialogs.clipboard = "1\t2\r\n3\t4\r\n";
    ASSERT_TRUE(Window().Maps()->Fuel()->GridKeyPress(TableEditor::KEY_PASTE));
    ASSERT_EQ(FuelCell(2, 2), "4");
    ASSERT_NE(FuelModule(), loaded);
    EXPECT_TRUE(Act("mnuEditUndo").isEnabled());
    EXPECT_EQ(Act("mnuEditUndo").text(), "&Undo Paste");
    EXPECT_EQ(Act("mnuEditUndo").shortcut(), QKeySequence("Ctrl+Z"));
    EXPECT_EQ(Act("mnuEditRedo").shortcut(), QKeySequence("Ctrl+Y"));
    Act("mnuEditUndo").trigger();
    EXPECT_EQ(FuelModule(), loaded);
    EXPECT_EQ((std::vector<std::string>{FuelCell(1, 1), FuelCell(1, 2), FuelCell(2, 1), FuelCell(2, 2)}), cellsBefore)
        << "the grid shows the image's cells again";
    EXPECT_EQ(Act("mnuEditRedo").text(), "&Redo Paste");
    Act("mnuEditRedo").trigger();
    EXPECT_EQ(FuelCell(2, 2), "4");
    const Bytes pasted = FuelModule();
    EXPECT_NE(pasted, loaded);

    // The parameter page of the same image shares its history; undo refills the page.
    Window().SelectTab("Parameters");
    EXPECT_EQ(Act("mnuEditUndo").text(), "&Undo Paste");
    auto* rev = Window().findChild<UpDown*>("udRevLimiter");
    auto* revText = Window().findChild<QLineEdit*>("txtRevLimiter");
    ASSERT_NE(rev, nullptr);
    ASSERT_NE(revText, nullptr);
    const QString revBefore = revText->text();
    rev->stepUp();
    ASSERT_NE(revText->text(), revBefore);
    EXPECT_TRUE(Act("mnuEditUndo").text().startsWith("&Undo Fuel parameters: "))
        << Act("mnuEditUndo").text().toStdString();
    Act("mnuEditUndo").trigger();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the page is filled anew
    revText = Window().findChild<QLineEdit*>("txtRevLimiter");
    ASSERT_NE(revText, nullptr);
    EXPECT_EQ(revText->text(), revBefore);
    EXPECT_EQ(FuelModule(), pasted);

    // A tab of no image has nothing to undo; the ignition image has a history of its own.
    Window().SelectTab("EPROM");
    EXPECT_FALSE(Act("mnuEditUndo").isEnabled());
    EXPECT_EQ(Act("mnuEditUndo").text(), "&Undo");
    FileNew(3);
    Window().SelectTab("IgnMap");
    EXPECT_FALSE(Act("mnuEditUndo").isEnabled());
    Window().SelectTab("FuelMap");
    EXPECT_EQ(Act("mnuEditUndo").text(), "&Undo Paste");
}

TEST_F(UndoMenuTest, HistoryWindowListsTheStepsAndJumpsToOne) {
    FileNew(0);
    Window().SelectTab("FuelMap");
    const Bytes loaded = FuelModule();
    auto& g = FuelGrid();
    g.SetCurrentCell(g.FixedRows(), g.FixedCols());
    ASSERT_TRUE(Window().Maps()->Fuel()->GridKeyPress('q'));
    ASSERT_TRUE(Window().Maps()->Fuel()->GridKeyPress('q'));
    ASSERT_TRUE(Window().Maps()->Fuel()->GridKeyPress('a'));

    Act("mnuEditHistory").trigger();
    HistoryWindow* history = Window().History();
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->objectName(), "frmHistory");
    EXPECT_TRUE(history->isVisible());
    QAbstractItemModel* model = history->View()->model();
    ASSERT_EQ(model->rowCount(), 4); // before the first edit, and the three steps
    EXPECT_EQ(model->index(1, 0).data().toString(), "Increase selection");
    EXPECT_EQ(model->index(3, 0).data().toString(), "Decrease selection");

    history->View()->selectionModel()->setCurrentIndex(model->index(0, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(FuelModule(), loaded) << "back to before the first edit";
    EXPECT_EQ(Act("mnuEditRedo").text(), "&Redo Increase selection");
    history->View()->selectionModel()->setCurrentIndex(model->index(2, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(Act("mnuEditUndo").text(), "&Undo Increase selection");
    EXPECT_EQ(Act("mnuEditRedo").text(), "&Redo Decrease selection");
}

TEST_F(UndoMenuTest, ANewImageStartsWithAnEmptyHistory) {
    FileNew(0);
    Window().SelectTab("FuelMap");
    ASSERT_TRUE(Window().Maps()->Fuel()->GridKeyPress('q'));
    ASSERT_TRUE(Act("mnuEditUndo").isEnabled());
    Act("mnuEditUndo").trigger();
    ASSERT_TRUE(Act("mnuEditRedo").isEnabled());
    dialogs.answers.push_back(MsgResult::No); // the modified image is not saved
    FileNew(0);
    Window().SelectTab("FuelMap");
    EXPECT_FALSE(Act("mnuEditUndo").isEnabled());
    EXPECT_FALSE(Act("mnuEditRedo").isEnabled());
    EXPECT_TRUE(program->GetShell().History().Of(program->GetShell().FuelImage()).Steps().empty());
}

} // namespace
} // namespace kv
