#pragma once
// The whole program offscreen against the simulated car, with scripted dialogs, settings in
// memory and a fake clock.
#include "app/gui/main_window.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/program.h"
#include "app_test_support.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace kv::app_test {

class SimulatedProgramTest : public ::testing::Test {
protected:
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    std::unique_ptr<Program> program;

    // Makes the program with `options` against the simulated car and starts it up.
    void StartProgram(ProgramOptions options = {}) {
        options.simulate = true;
        program = std::make_unique<Program>(options, &dialogs, &settings, &clock);
        ASSERT_EQ(program->Error(), "");
        program->StartUp();
        ASSERT_NE(program->Window(), nullptr);
    }
    void TearDown() override {
        if (program && program->Window()) program->Window()->hide();
        program.reset();
    }
    MainWindow& Window() { return *program->Window(); }
    // File > New through its dialog with base button `base` (0: LH S4 / GT / GTS, 3: EZK S4
    // maps); the events it left behind are handled.
    void FileNew(int base) {
        QTimer::singleShot(0, [base] {
            auto* dialog = qobject_cast<NewImageDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->BaseButton(base)->click();
            dialog->findChild<QPushButton*>("cmdOK")->click();
        });
        Window().Action("mnuFileNew")->trigger();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace kv::app_test
