// The monitor tabs and the aux input entries in the real program, offscreen against the
// simulated car.
#include "app/gui/aux_monitor_tabs.h"
#include "app/gui/main_window.h"
#include "app/gui/program.h"
#include "app_test_support.h"
#include "auxinputs/aux_inputs.h"
#include "auxinputs/gui/aux_inputs_dialog.h"
#include "monitor/gui/fuel_monitor_page.h"
#include "monitor/gui/ignition_monitor_page.h"
#include "platform/resources.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <fstream>

#include <gtest/gtest.h>

namespace kv {

using namespace app_test;

namespace {

class AuxMonitorTabsTest : public ::testing::Test {
protected:
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    std::unique_ptr<Program> program;

    void Start() {
        ProgramOptions options;
        options.simulate = true;
        options.simIgnition = "on";
        program = std::make_unique<Program>(options, &dialogs, &settings, &clock);
        ASSERT_EQ(program->Error(), "");
        program->StartUp();
        ASSERT_NE(program->Window(), nullptr);
        ASSERT_NE(program->AuxAndMonitors(), nullptr);
    }
    void TearDown() override {
        if (program && program->Window()) program->Window()->hide();
        program.reset();
    }
    static bool IsNumber(const QString& text) {
        bool ok = false;
        text.toInt(&ok);
        return ok;
    }
};

TEST_F(AuxMonitorTabsTest, AuxInputsLoadAtStartUp) {
    settings.SaveSetting("AuxInputs", "2", "Name=Boost;Enabled=1;Unit=bar;Dec=2;Filter=3;LawIn=0|5;LawOut=0|2;");
    Start();
    EXPECT_EQ(program->Aux().GetAuxDisplayName(2), "Boost (aux 2)");
    EXPECT_EQ(program->Aux().GetAuxFilter(2), 3);
    EXPECT_NE(program->Window()->Action("mnuToolsAuxInputs"), nullptr);
    EXPECT_NE(program->Window()->Action("mnuToolsWBO2"), nullptr);
}

TEST_F(AuxMonitorTabsTest, MonitorsReadTheSimulatedCar) {
    Start();
    ASSERT_EQ(LoadBaseImage("MRX_D", program->GetShell().FuelImage()), "");
    ASSERT_EQ(LoadBaseImage("EZK_D-S4", program->GetShell().IgnitionImage()), "");

    FuelMonitorPanel* fuel = program->AuxAndMonitors()->FuelPanel();
    fuel->Enter();
    ASSERT_TRUE(fuel->Timer()->isActive());
    fuel->Tick();
    EXPECT_TRUE(IsNumber(fuel->findChild<QLabel*>("lblMonitorRPM")->text()));
    fuel->Leave();
    EXPECT_FALSE(fuel->Timer()->isActive());

    IgnitionMonitorPanel* ignition = program->AuxAndMonitors()->IgnitionPanel();
    ignition->Enter();
    ASSERT_TRUE(ignition->Timer()->isActive());
    ignition->Tick();
    EXPECT_TRUE(IsNumber(ignition->findChild<QLabel*>("lblMonitorEZKRPM")->text()));
    EXPECT_TRUE(IsNumber(ignition->findChild<QLabel*>("lblMonitorEZKKnockCount")->text()));
    ignition->Leave();
}

TEST_F(AuxMonitorTabsTest, MonitorsPauseWhileTheDeviceFirmwareIsUpgraded) {
    Start();
    ASSERT_EQ(LoadBaseImage("MRX_D", program->GetShell().FuelImage()), "");
    ASSERT_EQ(LoadBaseImage("EZK_D-S4", program->GetShell().IgnitionImage()), "");
    FuelMonitorPanel* fuel = program->AuxAndMonitors()->FuelPanel();
    IgnitionMonitorPanel* ignition = program->AuxAndMonitors()->IgnitionPanel();
    fuel->Enter();
    ignition->Enter();
    ASSERT_TRUE(fuel->Timer()->isActive());
    ASSERT_TRUE(ignition->Timer()->isActive());

    const auto firmware = LoadResource("FIRMWARE");
    ASSERT_TRUE(firmware.has_value());
    const std::string path = ::testing::TempDir() + "/kv_monitor_pause_firmware.dat";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(firmware->data()), static_cast<std::streamsize>(firmware->size()));
    }
    dialogs.files = {FileDialogResult{path, 1}};
    int eventsWithAMonitorPolling = 0;
    int events = 0;
    dialogs.onProcessEvents = [&] {
        ++events;
        if (fuel->Timer()->isActive() || ignition->Timer()->isActive()) ++eventsWithAMonitorPolling;
    };
    program->Window()->Action("mnuToolsFirmware")->trigger();
    dialogs.onProcessEvents = nullptr;
    EXPECT_EQ(dialogs.messages.back(), "Firmware succesfully updated.");
    EXPECT_GT(events, 0);
    EXPECT_EQ(eventsWithAMonitorPolling, 0);
    // and the monitors that ran before run again
    EXPECT_TRUE(fuel->Timer()->isActive());
    EXPECT_TRUE(ignition->Timer()->isActive());
    fuel->Leave();
    ignition->Leave();
}

TEST_F(AuxMonitorTabsTest, WidebandEntryOpensTheDialogOnWbo2) {
    Start();
    int shownInput = 0;
    int refreshed = 0;
    program->AuxAndMonitors()->SetAfterAuxInputsClosed([&] { ++refreshed; });
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<AuxInputsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownInput = dialog->SelectedInput();
        dialog->reject();
    });
    program->Window()->Action("mnuToolsWBO2")->trigger();
    EXPECT_EQ(shownInput, kWbo2Input);
    EXPECT_EQ(refreshed, 1);
}

TEST_F(AuxMonitorTabsTest, LawGridKeepsTheFirstTypedCharacter) {
    Start();
    struct Typing {
        int col;
        std::string keys;
    };
    const Typing typings[] = {{1, "10"}, {0, "4.5"}};
    std::vector<std::string> typed;
    bool pointAdded = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<AuxInputsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* grid = dialog->findChild<QTableWidget*>("ConversionLaw");
        ASSERT_NE(grid, nullptr);
        QTest::mouseClick(dialog->findChild<QPushButton*>("cmdAddRow"), Qt::LeftButton);
        const int row = grid->rowCount() - 1;
        for (const auto& t : typings) {
            grid->setCurrentCell(row, t.col);
            // The first key opens the "Edit cell" dialog; the rest are typed into its text box.
            QTimer::singleShot(0, [&] {
                auto* cell = QApplication::activeModalWidget();
                auto* edit = cell ? cell->findChild<QLineEdit*>("txtValue") : nullptr;
                ASSERT_NE(edit, nullptr);
                QTest::keyClicks(edit, QString::fromStdString(t.keys.substr(1)));
                typed.push_back(edit->text().toStdString());
                QTest::keyClick(edit, Qt::Key_Return);
            });
            QTest::keyClick(grid, t.keys.at(0));
        }
        const int n = program->Aux().GetAuxLawSize(1);
        for (int i = 0; i < n; ++i)
            pointAdded |= program->Aux().GetAuxLawIn(1, i) == 4.5 && program->Aux().GetAuxLawOut(1, i) == 10.0;
        dialog->reject();
    });
    program->Window()->Action("mnuToolsAuxInputs")->trigger();
    EXPECT_EQ(typed, (std::vector<std::string>{"10", "4.5"}));
    EXPECT_TRUE(pointAdded);
}

} // namespace

} // namespace kv
