// The Qt implementations of the platform seams: file-dialog filters, the settings store on
// QSettings, and the progress window with its Cancel button.
#include "platform/gui/file_filter.h"
#include "platform/gui/progress_window.h"
#include "platform/gui/qt_dialogs.h"
#include "platform/gui/qt_settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextStream>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace kv {

namespace {

struct FilterCase {
    std::string filter;
    std::vector<std::string> expected;
};

class FileFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FileFilterTest, PairsBecomeQtNameFilters) { EXPECT_EQ(ToQtNameFilters(GetParam().filter), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Filters, FileFilterTest,
    ::testing::Values(FilterCase{"EPROM images (*.bin)|*.bin", {"EPROM images (*.bin)"}},
                      FilterCase{"27C128 EPROM image (16 kB) (*.bin)|*.bin|27C256 EPROM image (32 kB) (*.bin)|*.bin",
                                 {"27C128 EPROM image (16 kB) (*.bin)", "27C256 EPROM image (32 kB) (*.bin)"}},
                      // A name without its patterns gets them, so Qt can read them.
                      FilterCase{"Firmware files|*.dat", {"Firmware files (*.dat)"}},
                      FilterCase{"Logs|*.txt;*.log", {"Logs (*.txt *.log)"}},
                      // A name whose brackets hold something else still gets the patterns at the end.
                      FilterCase{"Images (16 kB)|*.bin", {"Images (16 kB) (*.bin)"}},
                      FilterCase{"All files|", {"All files (*)"}}, FilterCase{"Odd", {"Odd (*)"}}, FilterCase{"", {}}));

TEST(FileFilter, DefaultSuffix) {
    EXPECT_EQ(ToQtDefaultSuffix(".bin"), "bin");
    EXPECT_EQ(ToQtDefaultSuffix("dat"), "dat");
    EXPECT_EQ(ToQtDefaultSuffix(""), "");
    EXPECT_EQ(ToQtDefaultSuffix("."), "");
}

class SettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Ini() const { return dir.filePath("kestrovane.ini"); }
};

TEST_F(SettingsTest, ValuesSurviveAReopenAndMissingKeysGiveTheDefault) {
    {
        QtSettingsStore store(Ini());
        store.SaveSetting("RecentFiles", "1", "/home/me/cars/lh 2.3, tuned.bin");
        store.SaveSetting("ECUs", "LH23", "1");
        store.SaveSetting("DataLog", "Variables", "LH_RPM,EZK_KNOCKRETARD,AUX1");
        store.SaveSetting("AuxInputs", "5", "1;WBO2;AFR;2");
        store.SaveSetting("Chart", "DefaultPlotVariable0", "");
    }
    QtSettingsStore store(Ini());
    EXPECT_EQ(store.GetSetting("RecentFiles", "1", "x"), "/home/me/cars/lh 2.3, tuned.bin");
    EXPECT_EQ(store.GetSetting("ECUs", "LH23", "0"), "1");
    EXPECT_EQ(store.GetSetting("DataLog", "Variables"), "LH_RPM,EZK_KNOCKRETARD,AUX1");
    EXPECT_EQ(store.GetSetting("AuxInputs", "5"), "1;WBO2;AFR;2");
    EXPECT_EQ(store.GetSetting("Chart", "DefaultPlotVariable0", "dflt"), "");
    EXPECT_EQ(store.GetSetting("ECUs", "EZF", "0"), "0");
    EXPECT_EQ(store.GetSetting("Nowhere", "Nothing"), "");
}

TEST_F(SettingsTest, HandEditedListValueIsReadAsItsText) {
    {
        QFile file(Ini());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Text));
        QTextStream out(&file);
        out << "[DataLog]\nVariables=LH_RPM, AUX1\n[Appearance]\nWindowState=2\n";
    }
    QtSettingsStore store(Ini());
    EXPECT_EQ(store.GetSetting("DataLog", "Variables"), "LH_RPM,AUX1");
    EXPECT_EQ(store.GetSetting("Appearance", "WindowState", "0"), "2");
}

TEST(QtDialogs, ProgressWindowCancelButton) {
    QtUserDialogs dialogs;
    dialogs.ShowProgress("Loading", 256);
    ProgressWindow* window = dialogs.Progress();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Caption(), "Loading");
    EXPECT_FALSE(window->CancelButton()->isVisible());
    // Closing the window is not a Cancel while no Cancel is offered.
    window->close();
    EXPECT_FALSE(dialogs.IsProgressCancelled());
    dialogs.UpdateProgress(300); // beyond the maximum: the bar stays at its end
    EXPECT_EQ(window->Bar()->value(), 256);
    dialogs.EnableProgressCancel();
    EXPECT_TRUE(window->CancelButton()->isVisible());
    EXPECT_FALSE(dialogs.IsProgressCancelled());
    window->CancelButton()->click();
    EXPECT_TRUE(dialogs.IsProgressCancelled());
    dialogs.CloseProgress();
    EXPECT_FALSE(window->isVisible());
    // The next transfer starts fresh.
    dialogs.ShowProgress("Turn ignition ON", 1);
    EXPECT_FALSE(dialogs.IsProgressCancelled());
    EXPECT_FALSE(window->CancelButton()->isVisible());
    dialogs.EnableProgressCancel();
    window->close(); // the title-bar button now counts as Cancel
    EXPECT_TRUE(dialogs.IsProgressCancelled());
    dialogs.CloseProgress();
}

// A wait for the driver has no steps: its bar shows activity, not a bar stuck at 0 %.
TEST(QtDialogs, ProgressWindowWithoutStepsShowsActivity) {
    QtUserDialogs dialogs;
    dialogs.ShowProgress("Turn ignition ON", 0);
    ProgressWindow* window = dialogs.Progress();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Bar()->minimum(), 0);
    EXPECT_EQ(window->Bar()->maximum(), 0); // a busy indicator
    dialogs.ShowProgress("Loading", 256);
    EXPECT_EQ(window->Bar()->maximum(), 256);
    EXPECT_EQ(window->Bar()->value(), 0);
    dialogs.CloseProgress();
}

// Runs `step` on the next modal dialog as soon as it is shown.
void OnNextModal(std::function<void(QWidget*)> step) {
    QTimer::singleShot(0, [step] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        step(modal);
    });
}

struct BoxCase {
    MsgButtons buttons;
    int press; // a QMessageBox::StandardButton, or 0 to close the box with Escape
    MsgResult expected;
    QStringList shown; // the buttons' texts
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.shown.join("/").toStdString() << " press " << c.press; }

class MessageBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxTest, ButtonsAndAnswers) {
    const auto& c = GetParam();
    QtUserDialogs dialogs;
    QString title, text;
    QStringList shown;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton* b : box->buttons()) shown << QString::number(box->standardButton(b));
        shown.sort();
        if (c.press == 0)
            box->reject();
        else
            box->button(static_cast<QMessageBox::StandardButton>(c.press))->click();
    });
    EXPECT_EQ(dialogs.MessageBox("Line one\r\nLine two", "Warning", c.buttons, MsgIcon::Warning), c.expected);
    EXPECT_EQ(title, "Warning");
    EXPECT_EQ(text, "Line one\nLine two");
    QStringList expected;
    for (const auto& name : c.shown) expected << name;
    expected.sort();
    EXPECT_EQ(shown, expected);
}

QString Std(QMessageBox::StandardButton b) { return QString::number(b); }

INSTANTIATE_TEST_SUITE_P(
    Boxes, MessageBoxTest,
    ::testing::Values(
        BoxCase{MsgButtons::OK, QMessageBox::Ok, MsgResult::OK, {Std(QMessageBox::Ok)}},
        BoxCase{MsgButtons::OKCancel,
                QMessageBox::Cancel,
                MsgResult::Cancel,
                {Std(QMessageBox::Ok), Std(QMessageBox::Cancel)}},
        BoxCase{MsgButtons::YesNo, QMessageBox::Yes, MsgResult::Yes, {Std(QMessageBox::Yes), Std(QMessageBox::No)}},
        BoxCase{MsgButtons::YesNoCancel,
                QMessageBox::No,
                MsgResult::No,
                {Std(QMessageBox::Yes), Std(QMessageBox::No), Std(QMessageBox::Cancel)}},
        // Escape: Cancel where there is one, No for a Yes/No question.
        BoxCase{MsgButtons::YesNoCancel,
                0,
                MsgResult::Cancel,
                {Std(QMessageBox::Yes), Std(QMessageBox::No), Std(QMessageBox::Cancel)}},
        BoxCase{MsgButtons::YesNo, 0, MsgResult::No, {Std(QMessageBox::Yes), Std(QMessageBox::No)}}));

TEST(QtDialogs, MessageTextIsShownAsWritten) {
    // File names and device answers go into messages; markup in them is not markup.
    QtUserDialogs dialogs;
    bool rendersMarkup = true;
    QString shown;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        shown = label->text();
        rendersMarkup = label->textFormat() == Qt::RichText ||
                        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        box->button(QMessageBox::Ok)->click();
    });
    dialogs.MessageBox("Save changes to fuel injection (LH) EPROM /tmp/<b>tuned</b>.bin?", "Warning");
    EXPECT_EQ(shown, "Save changes to fuel injection (LH) EPROM /tmp/<b>tuned</b>.bin?");
    EXPECT_FALSE(rendersMarkup);
}

TEST(QtDialogs, SaveDialogTakesTheChosenFilterAndAddsTheExtension) {
    QTemporaryDir dir;
    QtUserDialogs dialogs;
    QString title;
    QStringList filters;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        EXPECT_EQ(dialog->selectedNameFilter(), filters.value(1)); // the filter index given
        dialog->selectNameFilter(filters.value(2));
        dialog->selectFile(dir.filePath("tuned"));
        static_cast<QDialog*>(dialog)->accept();
    });
    auto result = dialogs.SaveFileDialog("Save LH (fuel) EPROM image",
                                         "27C128 EPROM image (16 kB) (*.bin)|*.bin|27C256 EPROM image (32 kB) "
                                         "(*.bin)|*.bin|27C512 EPROM image (64 kB) (*.bin)|*.bin",
                                         ".bin", "", 2);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(title, "Save LH (fuel) EPROM image");
    EXPECT_EQ(filters.size(), 3);
    EXPECT_EQ(result->filterIndex, 3);
    EXPECT_EQ(QString::fromStdString(result->path), dir.filePath("tuned.bin"));

    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_FALSE(dialogs.OpenFileDialog("Load EPROM image", "EPROM images (*.bin)|*.bin", 1).has_value());
}

TEST(QtDialogs, HourglassIsNotCounted) {
    QtUserDialogs dialogs;
    dialogs.SetHourglass(true);
    dialogs.SetHourglass(true);
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    dialogs.SetHourglass(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    dialogs.SetHourglass(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtDialogs, ClipboardRoundTrip) {
    QtUserDialogs dialogs;
    dialogs.SetClipboardText("1\t2\t3\r\n4\t5\t6");
    EXPECT_EQ(dialogs.ClipboardText(), "1\t2\t3\r\n4\t5\t6");
}

} // namespace

} // namespace kv
