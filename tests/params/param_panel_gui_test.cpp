// The four parameter pages on screen (offscreen): a value stepped with an up-down, typed into a
// box, chosen by option button or check box reaches the image's bytes; the controls follow the
// ignition check.
#include "eprom/base_images.h"
#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"
#include "params/gui/param_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolTip>

#include <algorithm>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

using namespace kv;

namespace {

// Counts the user actions that changed bytes (outermost EditStep brackets) and every write.
class StepCounter final : public EditListener {
public:
    void BeginStep(const std::string&) override {
        if (depth_++ == 0) writesInStep_ = 0;
    }
    void EndStep() override {
        if (--depth_ == 0 && writesInStep_ > 0) ++steps;
    }
    void Changing(EPROM&, std::int32_t, const std::vector<std::uint8_t>&, const std::vector<std::uint8_t>&) override {
        ++writes;
        ++writesInStep_;
        if (depth_ == 0) ++outsideSteps;
    }
    void Reset() { steps = writes = outsideSteps = 0; }
    int steps = 0;
    int writes = 0;
    int outsideSteps = 0;

private:
    int depth_ = 0;
    int writesInStep_ = 0;
};

struct Rig {
    explicit Rig(const char* base, const char* tab, bool offline = false) {
        context.edits = &counter;
        EXPECT_EQ(LoadBaseImage(base, image), "");
        image.SetOffline(offline);
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

    // Shows the panel in an active window, so that the keyboard focus moves as for a user.
    void Show() {
        panel->resize(1200, 700);
        panel->show();
        panel->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(panel.get()));
    }
    // Clicks into the box, selects its text and types `text` with real key events.
    void Type(QLineEdit* box, const QString& text) {
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }

    StepCounter counter;
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
    QTest::keyClick(threshold, Qt::Key_Return);
    EXPECT_EQ(r.Byte(10), 250);
    threshold->selectAll();
    QTest::keyClicks(threshold, "0");
    QTest::keyClick(threshold, Qt::Key_Return);
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

namespace {

// A value typed into a field and what the field shows once it is taken.
struct TypeCase {
    const char* base;
    const char* tab;
    const char* key;
    const char* typed;
    const char* shown;
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.tab << " " << c.key << " \"" << c.typed << "\""; }

const std::vector<TypeCase>& TypeCases() {
    static const std::vector<TypeCase> cases{
        {"MRX_D", "Parameters", "injector_size", "30", "30.0"},
        {"MRX_D", "Parameters", "cranking_pw", "5", "5.00"},
        {"MRX_D", "Parameters", "injector_opening_time", "1", "1.00"},
        {"MRX_D", "Parameters", "pulsing_rpm", "5100", "5100"},
        {"MRX_D", "Parameters", "rev_limit_rpm", "6500", "6510"},
        {"MRX_D", "Parameters", "rev_restore_rpm", "4990", "4990"},
        {"MRX_D", "Parameters", "flappy_open_rpm", "3970", "3970"},
        {"MRX_D", "Parameters", "flappy_close_rpm", "5100", "5100"},
        {"MRX_D", "Parameters", "flappy_load_threshold", "120", "120"},
        {"MRX_D", "Parameters", "fixed_isv", "25", "25.0%"},
        {"MRX_D", "Parameters", "acc_enrich_base", "-3", "-3"},
        {"MRX_D", "Parameters", "acc_enrich_width_1", "150", "150%"},
        {"MRX_D", "Parameters", "acc_enrich_width_2", "125%", "125%"},
        {"MRX_D", "Parameters", "acc_enrich_width_3", "50", "50%"},
        {"MRX_D", "Parameters", "acc_enrich_width_4", "25", "25%"},
        {"MRX_D", "Parameters", "acc_enrich_sustain", "100", "100"},
        {"EZK_D-S4", "ParametersEZK", "knock_retard_step", "6", "6.0"},
        {"EZK_D-S4", "ParametersEZK", "knock_recovery_s", "7.8", "7.8"},
        {"EZK_D-S4", "ParametersEZK", "retard_throttle_idle", "4.5", "4.5"},
        {"EZK_D-S4", "ParametersEZK", "retard_throttle_decel", "1.5", "1.5"},
        {"EZK_D-S4", "ParametersEZK", "retard_load_increase", "3.4", "3.4"},
        {"EZK_D-S4", "ParametersEZK", "advance_increase_rate", "1.1", "1.1"},
        {"MRX_LH22_USA", "ParametersLH22", "rev_limit_rpm", "5240", "5240"},
        {"MRX_LH22_USA", "ParametersLH22", "injector_size", "48", "48.0"},
        {"MRX_LH22_USA", "ParametersLH22", "cranking_pw", "5", "5.00"},
        {"MRX_LH22_USA", "ParametersLH22", "injector_opening_time", "0.5", "0.50"},
        {"EZF_USA", "ParametersEZF", "vacuum_sensor_volts", "4.41", "4.41"},
        {"EZF_USA", "ParametersEZF", "altitude_ft", "1000", "1000"},
        {"EZF_USA", "ParametersEZF", "high_load_vacuum_inhg", "8.9", "8.9"},
        {"EZF_USA", "ParametersEZF", "advance_change_interval", "10", "10"},
        {"EZF_USA", "ParametersEZF", "advance_change_step", "3.6", "3.6"},
    };
    return cases;
}

TEST(ParamPanelTyping, TheTableHoldsEveryFieldOfTheFourPages) {
    const std::vector<TypeCase>& cases = TypeCases();
    for (const auto& [base, tabName] :
         std::vector<std::pair<const char*, const char*>>{{"MRX_D", "Parameters"},
                                                          {"EZK_D-S4", "ParametersEZK"},
                                                          {"MRX_LH22_USA", "ParametersLH22"},
                                                          {"EZF_USA", "ParametersEZF"}}) {
        const std::string tab = tabName;
        Rig r(base, tabName);
        ASSERT_NE(r.panel->Page(), nullptr) << base;
        for (const auto& s : r.panel->Page()->Settings()) {
            if (s.textBox.empty()) continue;
            const bool listed = std::any_of(cases.begin(), cases.end(),
                                            [&](const TypeCase& c) { return c.tab == tab && c.key == s.key; });
            EXPECT_TRUE(listed) << tab << " " << s.key;
        }
    }
}

class ParamPanelTyping : public ::testing::TestWithParam<TypeCase> {};

// Every field takes typed text: nothing is written while typing, Enter writes the value once as
// one undo step, and the box, its up-down and its byte box show what was stored.
TEST_P(ParamPanelTyping, EnterWritesTheTypedValueOnceAsOneStep) {
    const TypeCase& c = GetParam();
    Rig r(c.base, c.tab);
    r.Show();
    ParamPage& page = *r.panel->Page();
    const ParamSetting& s = *page.Find(c.key);
    if (!s.radio.empty()) {
        // A preset holds the injector size: "Custom" opens its box.
        r.Find<QRadioButton>((s.radio + "(" + std::to_string(s.optionKeys.size() - 1) + ")").c_str())->click();
    }
    const auto before = r.image.Bytes();
    r.counter.Reset();
    auto* box = r.Find<QLineEdit>(s.textBox.c_str());
    ASSERT_NE(box, nullptr) << s.textBox;
    ASSERT_TRUE(box->isEnabled());
    ASSERT_FALSE(box->isReadOnly());
    const QString old = box->text();
    ASSERT_NE(old, c.shown) << "the case must change the value";
    r.Type(box, c.typed);
    EXPECT_EQ(box->text(), c.typed);
    EXPECT_EQ(r.counter.writes, 0) << "nothing goes to the unit while typing";
    EXPECT_EQ(r.image.Bytes(), before);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(box->text(), c.shown);
    EXPECT_EQ(page.Text(c.key), c.shown);
    EXPECT_EQ(r.counter.steps, s.inImage ? 1 : 0);
    EXPECT_EQ(r.counter.outsideSteps, 0);
    EXPECT_EQ(r.Find<UpDown>(s.upDown.c_str())->value(), page.Value(c.key));
    if (!s.byteLabel.empty()) {
        EXPECT_EQ(r.Find<QLabel>(s.byteLabel.c_str())->text().toStdString(), page.ByteText(c.key));
    }

    // The bytes are those of the page's own change event for the value taken.
    EpromContext context;
    EPROM twin(context);
    ASSERT_EQ(LoadBaseImage(c.base, twin), "");
    auto twinPage = MakeParamPage(twin, {});
    twinPage->Load();
    if (!s.radio.empty()) twinPage->SelectOption(c.key, static_cast<int>(s.optionKeys.size()) - 1);
    twinPage->SetValue(c.key, page.Value(c.key));
    EXPECT_EQ(r.image.Bytes(), twin.Bytes());
    EXPECT_EQ(r.image.Bytes() != before, s.inImage);

    // Leaving the field afterwards writes nothing more.
    r.counter.Reset();
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_FALSE(box->hasFocus());
    EXPECT_EQ(r.counter.writes, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryField, ParamPanelTyping, ::testing::ValuesIn(TypeCases()), [](const auto& info) {
    std::string n = std::string(info.param.tab) + "_" + info.param.key;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

TEST(ParamPanelTyping, LeavingTheFieldCommitsOnceAndEscapePutsTheShownValueBack) {
    Rig r("MRX_D", "Parameters");
    r.Show();
    auto* threshold = r.Find<QLineEdit>("txtFlappyLoadThreshold");
    ASSERT_EQ(threshold->text(), "100");
    r.counter.Reset();
    r.Type(threshold, "120");
    EXPECT_EQ(r.counter.writes, 0);
    QTest::keyClick(threshold, Qt::Key_Tab);
    EXPECT_EQ(r.Byte(10), 120);
    EXPECT_EQ(r.counter.steps, 1);
    EXPECT_EQ(r.counter.writes, 1);

    auto* rev = r.Find<QLineEdit>("txtRevLimiter");
    const QString shown = rev->text();
    const auto before = r.image.Bytes();
    r.counter.Reset();
    r.Type(rev, "7000");
    QTest::keyClick(rev, Qt::Key_Escape);
    EXPECT_EQ(rev->text(), shown);
    QTest::keyClick(rev, Qt::Key_Tab);
    EXPECT_EQ(rev->text(), shown);
    EXPECT_EQ(r.counter.writes, 0);
    EXPECT_EQ(r.image.Bytes(), before);
}

TEST(ParamPanelTyping, ARefusedValueIsNamedWithTheRangeAndLosesNothing) {
    Rig r("MRX_D", "Parameters");
    r.Show();
    auto* rev = r.Find<QLineEdit>("txtRevLimiter");
    const QString shown = rev->text();
    const auto before = r.image.Bytes();
    for (const char* typed : {"99999", "+-1", "1e3", "abc"}) {
        r.Type(rev, typed);
        QTest::keyClick(rev, Qt::Key_Return);
        EXPECT_EQ(r.image.Bytes(), before) << typed;
        EXPECT_NE(QToolTip::text().indexOf("from 60 to 11700"), -1) << typed << ": " << QToolTip::text().toStdString();
        EXPECT_EQ(rev->text(), typed) << "the typed text stays to be mended";
        QTest::keyClick(rev, Qt::Key_Tab);
        EXPECT_EQ(rev->text(), shown) << "leaving puts the shown value back";
        EXPECT_EQ(r.image.Bytes(), before) << typed;
    }
}

// The restore speed never passes the cut-off, whichever way it is changed, and the byte boxes
// follow every change.
TEST(ParamPanelGui, RestoreStopsAtTheCutOffsCodeByArrowsTypingAndACutOffChange) {
    Rig r("MRX_D", "Parameters");
    r.Show();
    auto* cut = r.Find<UpDown>("udRevLimiter");
    auto* restore = r.Find<UpDown>("udRevLimiterCancel");
    auto* cutByte = r.Find<QLabel>("lblRevLimiterByte");
    auto* restoreByte = r.Find<QLabel>("lblRevLimiterCancelByte");
    auto inStep = [&] {
        EXPECT_EQ(cutByte->text().toInt(), r.Byte(1));
        EXPECT_EQ(restoreByte->text().toInt(), r.Byte(2));
        EXPECT_GE(r.Byte(2), r.Byte(1)) << "restore code past the cut-off code";
    };
    for (int i = 0; i < 10; ++i) {
        restore->stepUp();
        inStep();
    }
    EXPECT_EQ(r.Byte(2), r.Byte(1)) << "the arrows reach the cut-off's own code";
    // Typed past the cut-off: refused.
    const auto before = r.image.Bytes();
    auto* restoreText = r.Find<QLineEdit>("txtRevLimiterCancel");
    r.Type(restoreText, "6500");
    QTest::keyClick(restoreText, Qt::Key_Return);
    EXPECT_EQ(r.image.Bytes(), before);
    QTest::keyClick(restoreText, Qt::Key_Tab);
    inStep();
    // A slower cut-off pulls the restore along.
    for (int i = 0; i < 5; ++i) {
        cut->stepDown();
        inStep();
    }
    EXPECT_EQ(r.Byte(2), r.Byte(1));
    auto* cutText = r.Find<QLineEdit>("txtRevLimiter");
    r.Type(cutText, "5000");
    QTest::keyClick(cutText, Qt::Key_Return);
    inStep();
    EXPECT_EQ(r.Byte(2), r.Byte(1));
}

TEST(ParamPanelGui, InjectorByteZeroLoadsInsideTheUpDownsRange) {
    Rig r("MRX_D", "Parameters");
    r.image.WriteByte(r.image.GetEPROMAddress(3), 0);
    r.panel->Enter();
    auto* injector = r.Find<UpDown>("udInjectorSizeCustom");
    ASSERT_NE(injector, nullptr);
    EXPECT_EQ(injector->value(), -128);
    EXPECT_EQ(injector->minimum(), -128);
    const auto before = r.image.Bytes();
    injector->stepDown();
    EXPECT_EQ(r.image.Bytes(), before) << "one click down from the smallest injector stores nothing";
}

// Every raw-byte box says what it holds.
TEST(ParamPanelGui, ByteBoxesHaveACaption) {
    for (const auto& [base, tab] : std::vector<std::pair<const char*, const char*>>{
             {"MRX_D", "Parameters"}, {"MRX_LH22_USA", "ParametersLH22"}, {"EZF_USA", "ParametersEZF"}}) {
        Rig r(base, tab);
        int boxes = 0;
        for (const auto& s : r.panel->Page()->Settings()) {
            if (s.byteLabel.empty()) continue;
            auto* box = r.Find<QLabel>(s.byteLabel.c_str());
            ASSERT_NE(box, nullptr) << s.byteLabel;
            ++boxes;
            const auto labels = r.panel->findChildren<QLabel*>();
            const bool captioned = std::any_of(labels.begin(), labels.end(),
                                               [box](QLabel* l) { return l->buddy() == box && !l->text().isEmpty(); });
            EXPECT_TRUE(captioned) << s.byteLabel;
        }
        EXPECT_GT(boxes, 0) << base;
    }
}

// An image edited offline has no unit: its page does not wait for an ignition and every field
// edits the image.
TEST(ParamPanelGui, AnOfflineImageIsEditableWithoutTheIgnitionCheck) {
    Rig r("MRX_D", "Parameters", true);
    r.Show();
    EXPECT_TRUE(r.registered.empty());
    auto* rev = r.Find<QLineEdit>("txtRevLimiter");
    ASSERT_TRUE(rev->isEnabled());
    r.Type(rev, "6500");
    QTest::keyClick(rev, Qt::Key_Return);
    EXPECT_EQ(rev->text(), "6510");
    EXPECT_NE(r.Byte(1), r.before[static_cast<std::size_t>(r.image.GetEPROMAddress(1))]);
    // Once the image is in its module, the page waits for the ignition again.
    r.image.SetOffline(false);
    r.Find<UpDown>("udRevLimiter")->stepDown();
    EXPECT_TRUE(std::find(r.registered.begin(), r.registered.end(), r.Find<UpDown>("udRevLimiter")) !=
                r.registered.end());
}

} // namespace

namespace {

// The altitude's metres box takes metres: the feet follow, on the up-down's steps of 100 ft.
TEST(ParamPanelTyping, TheMetresBoxTakesMetres) {
    Rig r("EZF_USA", "ParametersEZF");
    r.Show();
    auto* metres = r.Find<QLineEdit>("txtVacSensorAltitude(1)");
    ASSERT_NE(metres, nullptr);
    r.Type(metres, "610");
    QTest::keyClick(metres, Qt::Key_Return);
    EXPECT_EQ(r.Find<QLineEdit>("txtVacSensorAltitude(0)")->text(), "2000");
    EXPECT_EQ(metres->text(), "610");
    EXPECT_TRUE(r.Unchanged()) << "the altitude is not in the image";
    r.Type(metres, "99999");
    QTest::keyClick(metres, Qt::Key_Return);
    EXPECT_NE(QToolTip::text().indexOf("from -1525 to 7625"), -1) << QToolTip::text().toStdString();
    EXPECT_EQ(r.Find<QLineEdit>("txtVacSensorAltitude(0)")->text(), "2000");
}

} // namespace
