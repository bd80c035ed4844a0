#include "monitor/gui/fuel_monitor_page.h"
#include "monitor/gui/ignition_monitor_page.h"

#include "auxinputs/aux_inputs.h"
#include "fakes.h"
#include "monitor_test_util.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace monitor_test;

template <class T> T* Find(QWidget* w, const char* name, int index = -1) {
    for (T* c : w->findChildren<T*>(name))
        if (index < 0 || c->property("index").toInt() == index) return c;
    ADD_FAILURE() << "no " << name << " " << index;
    return nullptr;
}

TEST(FuelMonitorPanel, RunsOnlyWhileShownAndShowsEachTick) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    ScriptedDialogs dialogs;
    EPROM image = Load(eprom_test::LH23Image());
    std::vector<QWidget*> registered;
    FuelMonitorPanel panel(dev, aux, clock, dialogs,
                           {[&] { return &image; }, [&](QWidget* w) { registered.push_back(w); }});
    EXPECT_FALSE(panel.Timer()->isActive());
    panel.Enter();
    EXPECT_TRUE(panel.Timer()->isActive());
    EXPECT_FALSE(registered.empty());

    int size = 0;
    for (int s : dev.sizes) size += s;
    std::vector<std::uint8_t> record(static_cast<std::size_t>(size), 0);
    record[0] = 1;
    record[2] = 0x3A; // period 15000: 1000 rpm
    record[3] = 0x98;
    dev.records.push_back(record);
    panel.Tick();
    EXPECT_EQ(Find<QLabel>(&panel, "lblMonitorRPM")->text(), "1000");
    EXPECT_EQ(Find<QSlider>(&panel, "sldMonitorRPM")->value(), 1000);
    EXPECT_TRUE(Find<QPushButton>(&panel, "cmdO2AdaptReset")->isEnabled());

    panel.Tick(); // no record: no data for this tick, the slider stays
    EXPECT_EQ(Find<QLabel>(&panel, "lblMonitorRPM")->text(), "-");
    EXPECT_EQ(Find<QLabel>(&panel, "lblMonitorCoolant", 1)->text(), "- \xC2\xBA" "F");
    EXPECT_EQ(Find<QSlider>(&panel, "sldMonitorRPM")->value(), 1000);
    EXPECT_FALSE(Find<QPushButton>(&panel, "cmdO2AdaptReset")->isEnabled());

    panel.Leave();
    EXPECT_FALSE(panel.Timer()->isActive());
    dev.configureOk = false;
    panel.Enter();
    EXPECT_FALSE(panel.Timer()->isActive());
}

TEST(IgnitionMonitorPanel, KnocksPlayTheSoundAndResetKeepsTheBaseline) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    KnockCountState knock;
    EPROM image = Load(eprom_test::EZKImage(8));
    int plays = 0;
    IgnitionMonitorPanel panel(dev, aux, clock, knock, {[&] { return &image; }, nullptr, [&] { ++plays; }});
    dev.ramValue = 7;
    panel.Enter();
    ASSERT_TRUE(panel.Timer()->isActive());
    auto* count = Find<QLabel>(&panel, "lblMonitorEZKKnockCount");
    EXPECT_EQ(count->text(), "0");

    int size = 0;
    for (int s : dev.sizes) size += s;
    std::vector<std::uint8_t> record(static_cast<std::size_t>(size), 0);
    record[0] = 1;
    record[9] = 9; // knock counter field: two new knocks
    record[24] = 4; // fault 0 set (bit mask 4)
    dev.records.push_back(record);
    panel.Tick();
    EXPECT_EQ(plays, 1);
    EXPECT_EQ(count->text(), "2");
    EXPECT_NE(count->styleSheet().indexOf("255, 0, 0"), -1);
    EXPECT_NE(Find<QFrame>(&panel, "shpEZKFault", 0)->styleSheet().indexOf("255, 0, 0"), -1);
    EXPECT_NE(Find<QFrame>(&panel, "shpEZKFault", 1)->styleSheet().indexOf("0, 255, 0"), -1);
    EXPECT_EQ(Find<QLabel>(&panel, "lblFaultEZKDescription", 6)->text(), "Ignition retarded");

    QTest::mouseClick(Find<QPushButton>(&panel, "cmdMonitorEZKKnockCountReset"), Qt::LeftButton);
    EXPECT_EQ(count->text(), "0");
    EXPECT_EQ(count->styleSheet(), "");
    EXPECT_EQ(knock.lastKnockCounter, 9);

    // An EZF shows no knock counter and clears the fault captions.
    EPROM ezf = Load(eprom_test::EZFImage());
    image = ezf;
    panel.Enter();
    panel.Tick();
    EXPECT_EQ(count->text(), "-");
    EXPECT_EQ(Find<QLabel>(&panel, "lblFaultEZKDescription", 0)->text(), "");
    EXPECT_EQ(plays, 1);
}

} // namespace

int main(int argc, char** argv) {
    // Test discovery runs the binary outside the test environment too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
