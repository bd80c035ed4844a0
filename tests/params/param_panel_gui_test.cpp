// The four parameter pages on screen (offscreen): a value stepped with an up-down, typed into a
// box, chosen by option button or check box reaches the image's bytes; the controls follow the
// ignition check.
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "params/gui/param_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <vector>

#include <gtest/gtest.h>

using namespace kv;

namespace {

struct Rig {
    explicit Rig(const char* base, const char* tab) {
        EXPECT_EQ(LoadBaseImage(base, image), "");
        ParamPanelServices s;
        s.image = [this] { return &image; };
        s.registerIgnitionDependent = [this](QWidget* w) {
            registered.push_back(w);
            return static_cast<int>(registered.size());
        };
        s.unregisterIgnitionDependent = [this](int) { ++unregistered; };
        s.startIgnitionCheck = [this] { ++checks; };
        panel = std::make_unique<ParamPanel>(tab, std::move(s));
        panel->Enter();
        before = image.Bytes();
    }
    template <typename T>
    T* Find(const char* name) {
        return panel->findChild<T*>(name);
    }
    int Byte(int index, int offset = 0) const { return image.ReadByte(image.GetEPROMAddress(index) + offset); }
    bool Unchanged() const { return image.Bytes() == before; }

    EpromContext context;
    EPROM image{context};
    std::vector<QWidget*> registered;
    int unregistered = 0;
    int checks = 0;
    std::unique_ptr<ParamPanel> panel;
    std::vector<std::uint8_t> before;
};

TEST(ParamPanelGui, LH23StepTypeAndChoose) {
    Rig r("MRX_D", "Parameters");
    EXPECT_EQ(r.checks, 1);
    auto* rev = r.Find<UpDown>("udRevLimiter");
    ASSERT_NE(rev, nullptr);
    EXPECT_TRUE(r.Unchanged()) << "entering the tab writes nothing";
    EXPECT_TRUE(std::find(r.registered.begin(), r.registered.end(), rev) != r.registered.end());
    rev->stepUp();
    EXPECT_EQ(r.Byte(1), 39);
    EXPECT_EQ(r.Find<QLineEdit>("txtRevLimiter")->text(), "6340");
    EXPECT_EQ(r.Find<QLabel>("lblRevLimiterByte")->text(), "39");

    auto* threshold = r.Find<QLineEdit>("txtFlappyLoadThreshold");
    ASSERT_NE(threshold, nullptr);
    threshold->selectAll();
    QTest::keyClicks(threshold, "250");
    EXPECT_EQ(r.Byte(10), 250);
    threshold->selectAll();
    QTest::keyClicks(threshold, "0");
    EXPECT_EQ(r.Byte(10), 250) << "0 is not a load threshold";

    r.Find<QRadioButton>("radioInjectorSize(1)")->click();
    EXPECT_EQ(r.Byte(3), 101);
    EXPECT_EQ(r.Find<QLineEdit>("txtInjectorSizeCustom")->text(), "24.1");
    EXPECT_FALSE(r.Find<UpDown>("udInjectorSizeCustom")->isEnabled());
    EXPECT_EQ(r.Find<QLineEdit>("txtCrankingPW")->text(), "3.65");

    r.Find<QCheckBox>("chkDefeatISV")->click();
    EXPECT_EQ(r.image.ReadByte(1108), 116);
}

TEST(ParamPanelGui, EZKStepsTheKnockStep) {
    Rig r("EZK_D-S4", "ParametersEZK");
    auto* step = r.Find<UpDown>("udKnockRetardStepSize");
    ASSERT_NE(step, nullptr);
    EXPECT_TRUE(r.Unchanged());
    step->setValue(16);
    EXPECT_EQ(r.Byte(34), 16);
    EXPECT_EQ(r.Find<QLineEdit>("txtKnockRetardStepSize")->text(), "6.0");
    r.Find<QCheckBox>("chkEZKIgnoreWOT")->click();
    EXPECT_EQ(r.image.ReadByte(3058), '?');
}

TEST(ParamPanelGui, LH22PulsingAndCutOff) {
    Rig r("MRX_LH22_USA", "ParametersLH22");
    EXPECT_TRUE(r.Unchanged());
    auto* pulsing = r.Find<QCheckBox>("chkEnable21PulsingLH22");
    ASSERT_NE(pulsing, nullptr);
    EXPECT_TRUE(pulsing->isChecked());
    pulsing->click();
    EXPECT_EQ(r.Byte(53), 0x97);
    r.Find<UpDown>("udLH22RevLimiter")->stepDown();
    EXPECT_EQ(r.Byte(42), (r.before[static_cast<std::size_t>(r.image.GetEPROMAddress(42))] + 1) & 255);
}

TEST(ParamPanelGui, EZFStepsTheCalibrationAndShowsMetres) {
    Rig r("EZF_USA", "ParametersEZF");
    EXPECT_TRUE(r.Unchanged());
    auto* cal = r.Find<UpDown>("udVacSensorCal");
    ASSERT_NE(cal, nullptr);
    cal->stepDown();
    EXPECT_EQ(r.Byte(55), 1);
    EXPECT_EQ(r.Find<QLabel>("lblVacSensorCalByte")->text(), "1");
    r.Find<UpDown>("udVacSensorAltitude")->setValue(1000);
    EXPECT_EQ(r.Find<QLineEdit>("txtVacSensorAltitude(1)")->text(), "305");
    // The two altitude boxes say which is feet and which is metres, in that order.
    auto* feet = r.Find<QLineEdit>("txtVacSensorAltitude(0)");
    ASSERT_NE(feet, nullptr);
    std::vector<QString> units;
    for (QLabel* l : feet->parentWidget()->findChildren<QLabel*>())
        if (l->text() == "ft" || l->text() == "m") units.push_back(l->text());
    EXPECT_EQ(units, (std::vector<QString>{"ft", "m"}));
    ASSERT_NE(r.Find<QPushButton>("cmdVacSensorCal"), nullptr);
}

TEST(ParamPanelGui, AnImageReplacedInTheSlotIsNeverWrittenThroughTheOldPage) {
    EpromContext context;
    auto first = std::make_unique<EPROM>(context);
    ASSERT_EQ(LoadBaseImage("MRX_D", *first), "");
    EPROM* slot = first.get();
    ParamPanelServices s;
    s.image = [&slot] { return slot; };
    ParamPanel panel("Parameters", std::move(s));
    panel.Enter();
    auto* rev = panel.findChild<UpDown*>("udRevLimiter");
    ASSERT_NE(rev, nullptr);
    // A new image takes the slot and the old one is gone while the page is on show.
    auto second = std::make_unique<EPROM>(context);
    ASSERT_EQ(LoadBaseImage("MRX_D", *second), "");
    const auto before = second->Bytes();
    slot = second.get();
    first.reset();
    rev->stepUp();
    EXPECT_EQ(second->Bytes(), before) << "a step on the old page is not a change of the new image";
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_NE(panel.Page(), nullptr);
    EXPECT_EQ(&panel.Page()->Image(), second.get());
    auto* fresh = panel.findChild<UpDown*>("udRevLimiter");
    ASSERT_NE(fresh, nullptr);
    fresh->stepUp();
    EXPECT_EQ(second->ReadByte(second->GetEPROMAddress(1)), 39);
}

TEST(ParamPanelGui, AnImageOfAnotherUnitShowsNoControls) {
    Rig r("EZK_D-S4", "Parameters");
    EXPECT_EQ(r.panel->Page(), nullptr);
    EXPECT_EQ(r.Find<UpDown>("udRevLimiter"), nullptr);
    EXPECT_TRUE(r.registered.empty());
}

} // namespace
