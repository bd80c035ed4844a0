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

#include <functional>

namespace kv {

namespace {

using namespace monitor_test;

template <class T>
T* Find(QWidget* w, const char* name, int index = -1) {
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
    EXPECT_EQ(Find<QLabel>(&panel, "lblMonitorCoolant", 1)->text(), "- \xC2\xBA"
                                                                    "F");
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
    record[9] = 9;  // knock counter field: two new knocks
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

// Names and units come from the settings: they are shown as they were typed, never as markup.
TEST(MonitorPanels, AuxNamesAndUnitsShowAsPlainText) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    ScriptedDialogs dialogs;
    KnockCountState knock;
    aux.SetAuxEnabled(1, true);
    aux.SetAuxName(1, "<b>Oil</b>");
    aux.SetAuxUnit(1, "<i>bar</i>");
    EPROM fuelImage = Load(eprom_test::LH23Image());
    EPROM ignitionImage = Load(eprom_test::EZKImage(8));
    FuelMonitorPanel fuel(dev, aux, clock, dialogs, {[&] { return &fuelImage; }, nullptr});
    IgnitionMonitorPanel ignition(dev, aux, clock, knock, {[&] { return &ignitionImage; }, nullptr, nullptr});
    const struct {
        const char* what;
        QWidget* panel;
        std::function<void()> enterAndTick;
    } panels[] = {{"fuel", &fuel,
                   [&] {
                       fuel.Enter();
                       fuel.Tick();
                   }},
                  {"ignition", &ignition, [&] {
                       ignition.Enter();
                       ignition.Tick();
                   }}};
    for (const auto& p : panels) {
        dev.records.clear();
        p.enterAndTick();
        int size = 0;
        for (int f : dev.sizes) size += f;
        std::vector<std::uint8_t> record(static_cast<std::size_t>(size), 0);
        record[0] = 1;
        dev.records.push_back(record);
        p.enterAndTick();
        int shown = 0;
        for (QLabel* l : p.panel->findChildren<QLabel*>()) {
            if (!l->text().contains("<b>Oil</b>") && !l->text().contains("<i>bar</i>")) continue;
            ++shown;
            EXPECT_EQ(l->textFormat(), Qt::PlainText) << p.what << ": " << l->text().toStdString();
        }
        EXPECT_EQ(shown, 2) << p.what << ": the caption and the value with its unit";
    }
}

TEST(IgnitionMonitorPanel, NewAuxInputsKeepTheKnockTotal) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    KnockCountState knock;
    EPROM image = Load(eprom_test::EZKImage(8));
    IgnitionMonitorPanel panel(dev, aux, clock, knock, {[&] { return &image; }, nullptr, nullptr});
    dev.ramValue = 7;
    panel.Enter();
    int size = 0;
    for (int s : dev.sizes) size += s;
    std::vector<std::uint8_t> record(static_cast<std::size_t>(size), 0);
    record[0] = 1;
    record[9] = 10; // three new knocks
    dev.records.push_back(record);
    panel.Tick();
    auto* count = Find<QLabel>(&panel, "lblMonitorEZKKnockCount");
    ASSERT_EQ(count->text(), "3");

    // The aux inputs dialog closes with an input enabled: the record grows, the total stays.
    const std::size_t fields = dev.sizes.size();
    aux.SetAuxEnabled(2, true);
    dev.ramValue = 10;
    panel.AuxInputsChanged();
    EXPECT_EQ(dev.sizes.size(), fields + 1);
    EXPECT_TRUE(panel.Timer()->isActive());
    EXPECT_EQ(count->text(), "3");
    size = 0;
    for (int s : dev.sizes) size += s;
    record.assign(static_cast<std::size_t>(size), 0);
    record[0] = 1;
    record[9] = 11; // one more knock counts on the same baseline
    dev.records.push_back(record);
    panel.Tick();
    EXPECT_EQ(count->text(), "4");
}

} // namespace

} // namespace kv
