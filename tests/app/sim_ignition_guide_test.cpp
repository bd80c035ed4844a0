// The simulated car's ignition switch during the ignition guidance of a module load, in the
// program offscreen with its real (modal) progress window: the guidance offers the switch in a
// window beside it that takes real key events while the guidance blocks the main window.
#include "app/gui/main_window.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/program.h"
#include "app_test_support.h"
#include "platform/gui/progress_window.h"
#include "sim/sim_backend.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kv {

using namespace app_test;

namespace {

ProgressWindow* Guidance() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<ProgressWindow*>(w); p != nullptr && p->isVisible()) return p;
    return nullptr;
}

TEST(SimIgnitionGuide, TheGuidanceOffersTheSwitchOfTheSimulatedCar) {
    MemorySettings settings;
    FakeClock clock;
    ProgramOptions options;
    options.simulate = true;
    options.simIgnition = "on"; // the driver turns the key only by hand
    Program program(options, nullptr, &settings, &clock);
    ASSERT_EQ(program.Error(), "");
    program.StartUp();
    ASSERT_NE(program.Window(), nullptr);

    // At each guidance the switch is set by keys typed into the window beside it: off when
    // asked for off, on when asked for on.
    std::vector<std::string> guided;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        ProgressWindow* guidance = Guidance();
        if (guidance == nullptr || !guidance->Caption().startsWith("Turn ignition")) return;
        auto* box = program.Window()->findChild<QWidget*>("frmSimIgnition");
        // (The guidance is shown a moment before the switch joins it.)
        if (box == nullptr || !box->isVisible()) return;
        auto* choice = box->findChild<QComboBox*>("cboGuideIgnition");
        const bool wantOn = guidance->Caption() == "Turn ignition ON";
        const auto want = wantOn ? SimIgnitionMode::On : SimIgnitionMode::Off;
        if (program.Simulator()->IgnitionMode() == want) return;
        guided.push_back(guidance->Caption().toStdString());
        EXPECT_FALSE(box->frameGeometry().intersects(guidance->frameGeometry())) << "beside, not over it";
        choice->setFocus();
        QTest::keyClick(box->windowHandle(), wantOn ? Qt::Key_Down : Qt::Key_Up);
    });
    driver.start(10);
    // The guidance, if it is never answered, is cancelled after a while of real time; message
    // boxes are answered and noted.
    QTimer::singleShot(5000, [] {
        if (ProgressWindow* guidance = Guidance()) guidance->CancelButton()->click();
    });
    std::vector<std::string> messages;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                messages.push_back(box->text().toStdString());
                box->accept();
            }
        }
    });
    answer.start(50);

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<NewImageDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->BaseButton(0)->click();
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    program.Window()->Action("mnuFileNew")->trigger();
    driver.stop();

    answer.stop();
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(guided, (std::vector<std::string>{"Turn ignition OFF", "Turn ignition ON"}));
    EXPECT_EQ(program.GetShell().FuelImage().GetECUType(), EcuType::LH23) << "the image went into its module";
    EXPECT_EQ(program.Simulator()->IgnitionMode(), SimIgnitionMode::On);
    auto* status = program.Window()->findChild<QComboBox*>("cboSimIgnition");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->currentData().toInt(), static_cast<int>(SimIgnitionMode::On)) << "the status bar follows";
    auto* box = program.Window()->findChild<QWidget*>("frmSimIgnition");
    EXPECT_TRUE(box == nullptr || !box->isVisible()) << "gone with the guidance";
    program.Window()->hide();
}

} // namespace
} // namespace kv
