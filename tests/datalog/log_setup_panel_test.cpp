// The set-up panel shows the logic's state and forwards clicks and the timer.
#include "auxinputs/aux_inputs.h"
#include "datalog/gui/log_setup_panel.h"
#include "datalog/log_recorder.h"
#include "datalog/log_setup.h"
#include "datalog_test_util.h"
#include "fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace datalog_test;

QApplication& App() {
    static int argc = 1;
    static char name[] = "log_setup_panel_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

struct PanelRig {
    PanelRig() {
        App();
        for (const char* command : {"", "LH", "EZK"}) setup.SetupLogVariables(command, ignition, aux);
        setup.FillRateList();
        panel = std::make_unique<LogSetupPanel>(setup, recorder, [this] { return LogImages{&fuel, &ignition}; });
    }
    template <class W>
    W* Find(const char* name) {
        W* w = panel->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    EPROM fuel = Load(eprom_test::LH23Image());
    EPROM ignition = Load(eprom_test::EZKImage(8));
    AuxInputs aux;
    LogSetup setup;
    FakeDataLogDevice device;
    FakeRunSlots runs;
    ScriptedDialogs dialogs;
    FakeClock clock;
    LogRecorder recorder{setup, aux, device, runs, dialogs, clock};
    std::unique_ptr<LogSetupPanel> panel;
};

TEST(LogSetupPanel, ShowsTheSlotsAndForwardsTicks) {
    PanelRig rig;
    auto* rpm = rig.Find<QCheckBox>("chkDataLog_0");
    auto* lh22 = rig.Find<QCheckBox>("chkDataLog_13");
    auto* retard = rig.Find<QCheckBox>("chkDataLog_31");
    ASSERT_TRUE(rpm && lh22 && retard);
    EXPECT_EQ(rpm->text(), "RPM");
    EXPECT_EQ(rpm->property("tag").toString(), "LH_RPM");
    EXPECT_FALSE(rpm->isHidden());
    EXPECT_TRUE(lh22->isHidden());
    EXPECT_EQ(retard->text(), "Knock retard");
    EXPECT_EQ(rpm->geometry().topLeft().x(), kSlotLeft0 / 15);
    rpm->click();
    EXPECT_TRUE(rig.setup.IsSelected(0));
    EXPECT_EQ(rig.setup.SelectionList()[0], "LH_RPM");
    auto* fraKnock = rig.Find<QGroupBox>("fraDataLogKnockCount");
    auto* knock = rig.Find<QLabel>("lblDataLogKnockCount");
    EXPECT_FALSE(fraKnock->isHidden());
    EXPECT_EQ(knock->text(), "-");
    EXPECT_FALSE(knock->isEnabled());
    auto* rate = rig.Find<QComboBox>("cmbDataLogRate");
    EXPECT_EQ(rate->count(), 3);
    EXPECT_EQ(rate->currentText(), "10");
    rig.Find<QRadioButton>("radioDataLogTrigger_1")->click();
    EXPECT_EQ(rig.setup.Trigger(), LogTrigger::Wot);
}

TEST(LogSetupPanel, NoCaptionIsCutOffAndColumnsDoNotOverlap) {
    PanelRig rig;
    std::vector<QCheckBox*> shown;
    for (int s = 0; s < kLogSlotCount; ++s) {
        auto* box = rig.Find<QCheckBox>(("chkDataLog_" + std::to_string(s)).c_str());
        ASSERT_NE(box, nullptr);
        if (box->isHidden()) continue;
        EXPECT_GE(box->width(), box->sizeHint().width()) << box->text().toStdString();
        shown.push_back(box);
    }
    ASSERT_GT(shown.size(), 10u);
    for (QCheckBox* a : shown) {
        for (QCheckBox* b : shown) {
            if (a == b || a->parentWidget() != b->parentWidget()) continue;
            EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                << a->text().toStdString() << " / " << b->text().toStdString();
        }
    }
}

TEST(LogSetupPanel, StartStopRunsTheRecorderAndLocksTheSetUp) {
    PanelRig rig;
    rig.Find<QCheckBox>("chkDataLog_0")->click();
    rig.Find<QRadioButton>("radioDataLogTrigger_0")->click();
    auto* button = rig.Find<QPushButton>("cmdDataLogStartStop");
    auto* status = rig.Find<QLabel>("lblDataLogStatus");
    auto* timer = rig.panel->findChild<QTimer*>("tmrDataLog");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(button->text(), "&Start logging");
    EXPECT_EQ(status->text(), "Stopped");
    button->click();
    EXPECT_EQ(button->text(), "&Stop logging");
    EXPECT_EQ(status->text(), "Running");
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(rig.Find<QCheckBox>("chkDataLog_0")->isEnabled());
    EXPECT_FALSE(rig.Find<QComboBox>("cmbDataLogRate")->isEnabled());
    EXPECT_FALSE(rig.Find<QGroupBox>("fraDataLogTrigger")->isEnabled());
    EXPECT_TRUE(rig.Find<QLabel>("lblDataLogKnockCount")->isEnabled());
    rig.device.downloads.push_back(
        WithTrailer(MakeRecord(rig.recorder.Plan(), {{ch::LhSpeed, 14999}, {ch::EzkKnock, 2}}), 0, 1));
    rig.panel->OnTimer();
    ASSERT_EQ(rig.runs.open.at(0).rows.size(), 1u);
    EXPECT_EQ(rig.runs.open.at(0).rows[0], (std::vector<std::string>{"0.10", "1000"}));
    EXPECT_EQ(rig.Find<QLabel>("lblDataLogKnockCount")->text(), "2");
    auto* dropped = rig.Find<QLabel>("lblDataLogDropped");
    EXPECT_TRUE(dropped->isHidden());
    // The same stamp again: dropped, and the tab says so.
    rig.device.downloads.push_back(
        WithTrailer(MakeRecord(rig.recorder.Plan(), {{ch::LhSpeed, 14999}, {ch::EzkKnock, 2}}), 0, 1));
    rig.panel->OnTimer();
    EXPECT_EQ(rig.runs.open.at(0).rows.size(), 1u);
    EXPECT_FALSE(dropped->isHidden());
    EXPECT_EQ(dropped->text(), "records dropped: 1");
    button->click();
    EXPECT_EQ(status->text(), "Stopped");
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(rig.Find<QCheckBox>("chkDataLog_0")->isEnabled());
}

TEST(LogSetupPanel, ARefusalIsShownAndNothingStarts) {
    PanelRig rig;
    rig.Find<QPushButton>("cmdDataLogStartStop")->click();
    EXPECT_EQ(rig.dialogs.messages, std::vector<std::string>{kNoVariableMessage});
    EXPECT_EQ(rig.Find<QLabel>("lblDataLogStatus")->text(), "Stopped");
}

} // namespace

} // namespace kv
