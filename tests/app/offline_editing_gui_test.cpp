// Offline editing in the program offscreen, with the simulated device unplugged: after "Open the
// image for offline editing?" the maps and the parameter page edit the image as they do a live
// one (typed values, keys, buttons, percentages on the selection), nothing goes to the device,
// the map-set warning that needs a unit to ask is not shown, and File > Load into module sends
// the edited image once the device is back.
#include "app/core/image_workflows.h"
#include "app/gui/main_window.h"
#include "eprom/eprom_image.h"
#include "maps/gui/cell_input_dialog.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/table_editor.h"
#include "program_test_support.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kv {

using namespace app_test;

namespace {

void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

CellInputDialog* OpenCellDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<CellInputDialog*>(w); d != nullptr && d->isVisible()) return d;
    return nullptr;
}

class OfflineEditingTest : public SimulatedProgramTest {
protected:
    void SetUp() override {
        StartProgram();
        program->Simulator()->Unplug();
        dialogs.messages.clear();
        dialogs.answers = {MsgResult::OK, MsgResult::Yes}; // "not responding", then offline: Yes
        FileNew(0);                                        // LH S4 / GT / GTS
        ASSERT_TRUE(program->GetShell().FuelImage().IsOffline());
        ASSERT_NE(std::find(dialogs.messages.begin(), dialogs.messages.end(), kOfflineQuestion),
                  dialogs.messages.end());
        // The ignition check runs on, and finds no ignition.
        Window().IgnitionTimer()->setInterval(1);
    }
    EPROM& Fuel() { return program->GetShell().FuelImage(); }
    QtMapGrid& Grid() { return *Window().Maps()->Fuel()->Grid(); }
    std::string CellText(int row, int col) {
        return Grid().TextMatrix(Grid().FixedRows() + row, Grid().FixedCols() + col);
    }
    std::int32_t Stored(int row, int col) {
        const TableEditor* e = Window().Maps()->Editor();
        return Fuel().ReadMapCell(e->GetMap(), e->MapX(col), e->MapY(row));
    }
    void Select(int row, int col, int rowEnd, int colEnd) {
        Grid().SetCurrentCell(Grid().FixedRows() + row, Grid().FixedCols() + col);
        Grid().SetSelectionEnd(Grid().FixedRows() + rowEnd, Grid().FixedCols() + colEnd);
        Grid().setFocus();
    }
    void ClickButton(const char* name) {
        auto* b = Window().findChild<QPushButton*>(name);
        ASSERT_NE(b, nullptr) << name;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    const Bytes& Module() { return program->Simulator()->Device().Module(kSimLH).memory; }
};

TEST_F(OfflineEditingTest, EveryMapEditWorksOnTheImageAndNothingGoesToTheDevice) {
    Window().SelectTab("FuelMap");
    QComboBox* list = Window().Maps()->Fuel()->MapList();
    list->setCurrentIndex(list->findText("Base fuel map (cat)"));
    ASSERT_EQ(list->currentText(), "Base fuel map (cat)");
    RunEvents(30);
    auto* warning = Window().findChild<QLabel*>("lblMapWarning");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->text(), "") << "no unit to ask which map it uses";
    EXPECT_TRUE(Grid().isEnabled());
    for (const char* name : {"cmdMapInc1", "cmdMapDec1", "cmdMapInc2", "cmdMapDec2", "cmdMapIncPercent"}) {
        auto* b = Window().findChild<QPushButton*>(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_TRUE(b->isEnabled()) << name;
    }
    const Bytes moduleBefore = Module();
    const long reportsBefore = program->Simulator()->ReportCount();

    // A typed value, with real keys.
    Select(2, 3, 2, 3);
    QTimer::singleShot(0, [] {
        CellInputDialog* d = OpenCellDialog();
        ASSERT_NE(d, nullptr);
        QTest::keyClicks(d->Edit(), "9");
        QTest::keyClick(d->Edit(), Qt::Key_Return);
    });
    QTest::keyClick(&Grid(), '-');
    EXPECT_EQ(CellText(2, 3), "-9");
    EXPECT_EQ(Stored(2, 3), 119);

    // The step keys and buttons.
    Select(4, 4, 4, 4);
    const std::int32_t at44 = Stored(4, 4);
    QTest::keyClick(&Grid(), 'q');
    EXPECT_EQ(Stored(4, 4), at44 + 1);
    ClickButton("cmdMapInc1");
    ClickButton("cmdMapInc1");
    ClickButton("cmdMapDec1");
    EXPECT_EQ(Stored(4, 4), at44 + 2);

    // A percentage on a selection: its cells change, no other.
    const std::int32_t corner = Stored(0, 0);
    const std::int32_t outside = Stored(7, 7);
    const std::int32_t inside = Stored(6, 6);
    Select(5, 5, 6, 6);
    dialogs.inputs.push_back("10");
    ClickButton("cmdMapIncPercent");
    EXPECT_GT(Stored(6, 6), inside);
    EXPECT_EQ(Stored(0, 0), corner);
    EXPECT_EQ(Stored(7, 7), outside);

    RunEvents(30);
    EXPECT_EQ(program->Simulator()->ReportCount(), reportsBefore) << "nothing goes to the device";
    EXPECT_EQ(Module(), moduleBefore);

    // The device is back: File > Load into module sends the edited image.
    program->Simulator()->Replug();
    clock.SleepMs(1100);
    Window().QuickPingTimer()->setInterval(1);
    RunEvents(50);
    dialogs.messages.clear();
    QAction* load = Window().Action("mnuFileLoadIntoModule");
    ASSERT_NE(load, nullptr);
    EXPECT_TRUE(load->isEnabled());
    load->trigger();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
    EXPECT_FALSE(Fuel().IsOffline());
    EXPECT_TRUE(std::equal(Fuel().Bytes().begin(), Fuel().Bytes().begin() + Fuel().ImageSize(),
                           Module().begin() + Fuel().WindowOffset()));
}

TEST_F(OfflineEditingTest, ParameterControlsStayUsableWithoutAnIgnition) {
    Window().SelectTab("Parameters");
    RunEvents(30);
    for (const char* name : {"udRevLimiter", "txtRevLimiter", "udFlappyOpenRPM", "txtFlappyLoadThreshold"}) {
        auto* w = Window().findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(w->isEnabled()) << name;
    }
}

} // namespace
} // namespace kv
