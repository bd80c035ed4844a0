#include "auxinputs/gui/aux_inputs_dialog.h"

#include "aux_fakes.h"
#include "auxinputs/aux_inputs.h"
#include "fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace kv {

namespace {

struct DialogFixture : ::testing::Test {
    DialogFixture() { aux.SetDevice(&device); }
    AuxInputsDialog& Open() {
        dialog = std::make_unique<AuxInputsDialog>(aux, settings, dialogs, dialogs,
                                                   [this](const std::string& initial, double min, double max) {
                                                       asked.push_back({initial, min, max});
                                                       std::optional<std::string> r;
                                                       if (!answers.empty()) {
                                                           r = answers.front();
                                                           answers.pop_front();
                                                       }
                                                       return r;
                                                   });
        return *dialog;
    }
    template <class T>
    T* Find(const char* name) {
        T* w = dialog->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Cell(int r, int c) {
        auto* item = Find<QTableWidget>("ConversionLaw")->item(r, c);
        return item ? item->text() : QString();
    }

    struct Ask {
        std::string initial;
        double min, max;
    };
    FakeAuxDevice device;
    AuxInputs aux;
    MemorySettings settings;
    ScriptedDialogs dialogs;
    std::vector<Ask> asked;
    std::deque<std::optional<std::string>> answers;
    std::unique_ptr<AuxInputsDialog> dialog;
};

TEST_F(DialogFixture, EditsTakeEffectAtOnce) {
    Open();
    Find<QTabBar>("tbsInputSelect")->setCurrentIndex(2);
    EXPECT_EQ(dialog->SelectedInput(), 3);
    Find<QCheckBox>("chkEnabled")->setChecked(true);
    QTest::keyClicks(Find<QLineEdit>("txtName"), "Oil;temp");
    QTest::keyClicks(Find<QLineEdit>("txtUnit"), "bar");
    Find<QSpinBox>("udDecimals")->setValue(2);
    Find<QSpinBox>("udFilter")->setValue(4);
    EXPECT_TRUE(aux.IsAuxEnabled(3));
    EXPECT_EQ(aux.GetAuxName(3), "Oil;temp");
    EXPECT_EQ(aux.GetAuxUnit(3), "bar");
    EXPECT_EQ(aux.GetAuxDecimals(3), 2);
    EXPECT_EQ(aux.GetAuxFilter(3), 4);
    EXPECT_EQ(device.sent.back(), (std::pair<int, int>{4, 4})); // channel of input 3
    EXPECT_NE(Find<QLineEdit>("txtDecimals"), nullptr);
    EXPECT_NE(Find<QLineEdit>("txtFilter"), nullptr);
    EXPECT_EQ(Find<QLabel>("lblNote")->text().toStdString(), AuxInputNote(3));
}

TEST_F(DialogFixture, Wbo2ShowsItsFixedName) {
    aux.SetAuxName(5, "ignored");
    Open();
    dialog->SelectInput(5);
    auto* name = Find<QLineEdit>("txtName");
    EXPECT_EQ(name->text(), "A/F ratio");
    EXPECT_TRUE(name->isReadOnly());
    EXPECT_EQ(Find<QLabel>("lblNote")->text(), "");
    EXPECT_EQ(Cell(0, 0), "0");
    EXPECT_EQ(Cell(1, 1), "19");
}

TEST_F(DialogFixture, TypedCellsGoThroughTheCellDialogIntoTheLaw) {
    Open();
    dialog->SelectInput(5);
    auto* grid = Find<QTableWidget>("ConversionLaw");
    QTest::mouseClick(Find<QPushButton>("cmdAddRow"), Qt::LeftButton);
    ASSERT_EQ(grid->rowCount(), 3);
    grid->setCurrentCell(2, 0);
    answers = {std::string("2.5")};
    QTest::keyClick(grid, Qt::Key_2);
    grid->setCurrentCell(2, 1);
    answers = {std::string("-14")};
    QTest::keyClick(grid, Qt::Key_Minus);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].initial, "2");
    EXPECT_EQ(asked[0].min, 0.0);
    EXPECT_EQ(asked[0].max, 5.0);
    EXPECT_EQ(asked[1].initial, "-");
    EXPECT_EQ(asked[1].min, -1000000.0);
    EXPECT_EQ(asked[1].max, 1000000.0);
    // Redrawn in law order.
    EXPECT_EQ(Cell(1, 0), "2.5");
    EXPECT_EQ(Cell(1, 1), "-14");
    EXPECT_EQ(aux.GetAuxLawSize(5), 3);
    EXPECT_EQ(aux.GetAuxLawOut(5, 1), -14.0);
    // A cancelled dialog changes nothing.
    grid->setCurrentCell(0, 1);
    QTest::keyClick(grid, Qt::Key_7);
    EXPECT_EQ(aux.GetAuxLawOut(5, 0), 9.0);
    // Deleting the selected row removes its point.
    grid->setRangeSelected(QTableWidgetSelectionRange(1, 0, 1, 1), true);
    QTest::mouseClick(Find<QPushButton>("cmdDeleteRow"), Qt::LeftButton);
    EXPECT_EQ(aux.GetAuxLawSize(5), 2);
    EXPECT_EQ(grid->rowCount(), 2);
}

// Return and Enter in the law grid step through the cells, row by row, as in a spreadsheet; they
// never reach the dialog's default button (which would save and close it).
TEST_F(DialogFixture, ReturnInTheLawGridMovesToTheNextCell) {
    Open();
    dialog->SelectInput(5);
    dialog->show();
    auto* grid = Find<QTableWidget>("ConversionLaw");
    ASSERT_EQ(grid->rowCount(), 2);
    grid->setFocus();
    grid->setCurrentCell(0, 0);
    const std::pair<Qt::Key, std::pair<int, int>> steps[] = {
        {Qt::Key_Return, {0, 1}}, {Qt::Key_Enter, {1, 0}}, {Qt::Key_Return, {1, 1}}, {Qt::Key_Return, {1, 1}}};
    for (const auto& [key, cell] : steps) {
        QTest::keyClick(grid, key);
        EXPECT_EQ(std::make_pair(grid->currentRow(), grid->currentColumn()), cell);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), 0);
    }
}

// A number outside an up-down's range is refused where the user sees it, not swallowed.
TEST_F(DialogFixture, OutOfRangeNumbersAreRefusedVisibly) {
    Open();
    dialog->show();
    auto* refused = Find<QLabel>("lblRefused");
    EXPECT_FALSE(refused->isVisible());
    const std::tuple<const char*, const char*, int> cases[] = {
        {"txtDecimals", "The number of decimals is 0 to 6", kAuxMaxDecimals},
        {"txtFilter", "The filtering coefficient is 0 to 5", kAuxMaxFilter},
    };
    for (const auto& [name, message, max] : cases) {
        auto* edit = Find<QLineEdit>(name);
        edit->selectAll();
        QTest::keyClicks(edit, "9");
        EXPECT_TRUE(refused->isVisible()) << name;
        EXPECT_EQ(refused->text().toStdString(), message);
        EXPECT_EQ(edit->text(), "0") << name; // the value stays
        edit->selectAll();
        QTest::keyClicks(edit, QString::number(max - 1));
        EXPECT_FALSE(refused->isVisible()) << name;
        EXPECT_EQ(edit->text(), QString::number(max - 1));
    }
}

TEST_F(DialogFixture, CopyAndPaste) {
    Open();
    dialog->SelectInput(5);
    auto* grid = Find<QTableWidget>("ConversionLaw");
    grid->setRangeSelected(QTableWidgetSelectionRange(0, 0, 1, 1), true);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(dialogs.clipboard, "0\t9\r\n5\t19\r\n");

    dialogs.clipboard = "1\t2\t3\r\n";
    QTest::keyClick(grid, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Data to be pasted must contain 2 columns");
    EXPECT_EQ(aux.GetAuxLawSize(5), 2);

    dialogs.clipboard = "2.5\t14.5\r\n";
    QTest::keyClick(grid, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(Cell(1, 1), "14.5");
}

TEST_F(DialogFixture, TestSignalKeepsItsValuesWhileTheDeviceIsAbsent) {
    Open();
    dialog->SelectInput(5);
    device.readings[0] = 32768;
    dialog->TestSignalTick();
    auto* volts = Find<QLabel>("lblInputVoltage");
    auto* value = Find<QLabel>("lblDisplayedValue");
    auto* error = Find<QLabel>("lblDeviceError");
    EXPECT_EQ(volts->text(), "2.50 V");
    EXPECT_EQ(value->text(), "14");
    EXPECT_TRUE(error->isHidden());

    device.present = false;
    device.readings[0] = 0;
    dialog->TestSignalTick();
    EXPECT_EQ(volts->text(), "2.50 V");
    EXPECT_EQ(value->text(), "14");
    EXPECT_FALSE(error->isHidden());
    EXPECT_EQ(error->text(), "Kestrovane device not connected or not powered");

    device.present = true;
    device.sent.clear();
    device.readings[0] = 65535;
    dialog->TestSignalTick();
    EXPECT_EQ(device.sent.size(), 4u); // the filters went out again first
    EXPECT_EQ(volts->text(), "5.00 V");
    EXPECT_TRUE(error->isHidden());
}

TEST_F(DialogFixture, SaveWritesAndCancelReloads) {
    Open();
    dialog->SelectInput(1);
    QTest::keyClicks(Find<QLineEdit>("txtName"), "Boost");
    QTest::mouseClick(Find<QPushButton>("cmdOK"), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(settings.values.size(), 5u);
    EXPECT_EQ(settings.values.at({"AuxInputs", "1"}).rfind("Name=Boost;", 0), 0u);

    Open();
    dialog->SelectInput(1);
    QTest::keyClicks(Find<QLineEdit>("txtName"), "XYZ");
    EXPECT_EQ(aux.GetAuxName(1), "BoostXYZ");
    QTest::mouseClick(Find<QPushButton>("cmdCancel"), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(aux.GetAuxName(1), "Boost");
}

} // namespace

} // namespace kv
