// The map tabs on the offscreen platform: every listed map of every base image, editing by keys,
// buttons, percentages, typed values and paste (checked in the grid and in the bytes sent to the
// module), the not-used warning, the OP codes on the traced cell, view switching and the chart,
// the Edit menu, the cell input dialog and the Qt grid itself.
#include "auxinputs/aux_inputs.h"
#include "eprom/base_images.h"
#include "eprom/eprom_device.h"
#include "eprom/eprom_image.h"
#include "fakes.h"
#include "maps/gui/bar_chart_3d.h"
#include "maps/gui/cell_input_dialog.h"
#include "maps/gui/image_comparison.h"
#include "maps/gui/map_chart.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/heat_colours.h"
#include "maps/image_compare.h"
#include "maps/map_definitions.h"
#include "maps/rendered_map.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"
#include "temp_dir.h"
#include "trace_test_util.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QRadioButton>
#include <QScatterSeries>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kv {

namespace {

using maps_test::FakeTraceDevice;
using maps_test::RecordBuilder;

// The module behind the device link: records every write-through.
class RecordingEpromDevice final : public EpromDevice {
public:
    struct Write {
        int unit;
        int address;
        std::vector<std::uint8_t> data;
    };
    std::vector<Write> writes;
    bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) override {
        writes.push_back({ecuKind, address, data});
        return true;
    }
    std::vector<std::uint8_t> EcuReadEprom(int, int, int) override { return {}; }
    std::vector<std::uint8_t> ReadEmulatorBlock(int, int) override { return {}; }
    bool IsIgnitionOn() override { return true; }
    bool PemDetectStart(int) override { return false; }
    int PemDetectStatus() override { return -1; }
    bool PemDetectStop() override { return false; }
    bool PemSelect(int) override { return false; }
    std::string PemGetFirmwareVersion() override { return {}; }
    bool PemWriteBlock(int, const std::vector<std::uint8_t>&) override { return false; }
    std::vector<std::uint8_t> PemReadBlock(int) override { return {}; }
    bool PemFinish() override { return false; }
    void DrainReplies() override {}
    bool UpgradePemFirmware(int) override { return false; }
    bool Reopen() override { return true; }
};

template <typename T>
T* Child(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// The "Edit cell" dialog on show, or null.
CellInputDialog* OpenCellDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<CellInputDialog*>(w); d != nullptr && d->isVisible()) return d;
    return nullptr;
}

// Both tabs in a window with live images writing through to a recording module.
class MapTabsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        context.deviceIO = true;
        context.device = &module;
        cellInput = std::make_unique<DialogCellInput>(dialogs);
        MapTabServices s;
        s.fuelImage = [this] { return fuel.get(); };
        s.ignitionImage = [this] { return ignition.get(); };
        s.device = &device;
        s.messages = &dialogs;
        s.progress = &dialogs;
        s.clipboard = &dialogs;
        s.clock = &clock;
        s.aux = &aux;
        s.cellInput = realCellDialog ? nullptr : cellInput.get();
        s.registerIgnitionDependent = [this](QWidget* w, MapTab) {
            registered.insert(w);
            return ++lastId;
        };
        s.unregisterIgnitionDependent = [this](int) { ++unregistered; };
        s.startIgnitionCheck = [this] { ++ignitionChecks; };
        s.stopIgnitionCheck = [this] { ++ignitionStops; };
        s.playKnock = [this] { ++knocks; };
        s.onChangeCellValue = [this](int x, int y, std::int32_t v) { changes.push_back({x, y, v}); };
        s.editCopy = &copy;
        s.editPaste = &paste;
        tabs = std::make_unique<MapTabs>(fuelmapeditor, std::move(s));
        tabs->CreatePanels();
        // As in the main window: one tab on show at a time.
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        stack = new QStackedWidget(window.get());
        stack->addWidget(tabs->Fuel());
        stack->addWidget(tabs->Ignition());
        layout->addWidget(stack);
        window->resize(1400, 900);
        window->show();
    }
    void ShowTab(MapTab tab) { stack->setCurrentWidget(Panel(tab)); }
    void TearDown() override {
        fuelmapeditor.reset();
        window.reset();
        tabs.reset();
    }

    void Load(std::unique_ptr<EPROM>& slot, const std::string& base) {
        slot = std::make_unique<EPROM>(context);
        ASSERT_EQ(LoadBaseImage(base, *slot), "") << base;
        context.wordBigEndian = slot->GetCreator() != 2;
        tabs->ImagesChanged();
    }
    MapTabPanel* Panel(MapTab tab) const { return tab == MapTab::Fuel ? tabs->Fuel() : tabs->Ignition(); }
    void Choose(MapTab tab, const QString& text) {
        QComboBox* list = Panel(tab)->MapList();
        const int i = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        ASSERT_GE(i, 0) << text.toStdString();
        list->setCurrentIndex(i);
        ASSERT_EQ(list->currentText(), text);
    }
    QtMapGrid& Grid(MapTab tab) const { return *Panel(tab)->Grid(); }
    // Text of data cell (row, col) of the tab's grid.
    std::string Cell(MapTab tab, int row, int col) const {
        const QtMapGrid& g = Grid(tab);
        return g.TextMatrix(g.FixedRows() + row, g.FixedCols() + col);
    }
    void SelectCell(MapTab tab, int row, int col) {
        QtMapGrid& g = Grid(tab);
        g.SetCurrentCell(g.FixedRows() + row, g.FixedCols() + col);
        g.setFocus();
    }
    void Key(MapTab tab, char c) { QTest::keyClick(&Grid(tab), c); }
    void Click(const char* name) { QTest::mouseClick(Child<QPushButton>(window.get(), name), Qt::LeftButton); }
    EPROM& Image(MapTab tab) const { return tab == MapTab::Fuel ? *fuel : *ignition; }
    std::int32_t Stored(MapTab tab, int row, int col) const {
        return Image(tab).ReadMapCell(fuelmapeditor->GetMap(), fuelmapeditor->MapX(col), fuelmapeditor->MapY(row));
    }

    EpromContext context;
    RecordingEpromDevice module;
    std::unique_ptr<EPROM> fuel, ignition;
    FakeTraceDevice device;
    ScriptedDialogs dialogs;
    FakeClock clock;
    AuxInputs aux;
    std::unique_ptr<DialogCellInput> cellInput;
    bool realCellDialog = false; // true: the tabs ask with their own "Edit cell" dialog
    QAction copy{"&Copy"};
    QAction paste{"&Paste"};
    std::unique_ptr<TableEditor> fuelmapeditor;
    std::unique_ptr<MapTabs> tabs;
    std::unique_ptr<QWidget> window;
    QStackedWidget* stack = nullptr;
    std::set<QWidget*> registered;
    int lastId = 0, unregistered = 0, ignitionChecks = 0, ignitionStops = 0, knocks = 0;
    struct Change {
        int x, y;
        std::int32_t v;
    };
    std::vector<Change> changes;
};

// --- every map of every base image ---

TEST_F(MapTabsFixture, EveryListedMapOfEveryBaseImageFillsGridCaptionsAndChart) {
    for (const std::string& base : BaseImageNames()) {
        EPROM probe(context);
        ASSERT_EQ(LoadBaseImage(base, probe), "");
        const bool fuelImage = !MapListTexts(MapTab::Fuel, probe).empty();
        const MapTab tab = fuelImage ? MapTab::Fuel : MapTab::Ignition;
        ShowTab(tab);
        Load(fuelImage ? fuel : ignition, base);
        MapTabPanel* panel = Panel(tab);
        panel->FillMapList();
        const auto texts = MapListTexts(tab, Image(tab));
        ASSERT_EQ(panel->MapList()->count(), static_cast<int>(texts.size())) << base;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            SCOPED_TRACE(base + " / " + std::string(texts[i]));
            panel->SetChartView(false);
            panel->MapList()->setCurrentIndex(static_cast<int>(i));
            const MapDefinition* def = FindMapDefinition(tab, texts[i]);
            ASSERT_NE(def, nullptr);
            ASSERT_NE(fuelmapeditor, nullptr);
            EXPECT_EQ(fuelmapeditor->GetMap(), def->mapId);
            const QtMapGrid& g = Grid(tab);
            EXPECT_EQ(g.Rows() - g.FixedRows(), fuelmapeditor->GetYAxisSize());
            EXPECT_EQ(g.Cols() - g.FixedCols(), fuelmapeditor->GetXAxisSize());
            EXPECT_GT(fuelmapeditor->GetXAxisSize(), 0);
            // Every data cell shows the text of its stored value.
            for (int r = 0; r < fuelmapeditor->GetYAxisSize(); ++r)
                for (int c = 0; c < fuelmapeditor->GetXAxisSize(); ++c)
                    ASSERT_EQ(Cell(tab, r, c), fuelmapeditor->CellText(Stored(tab, r, c) + def->offset, c))
                        << r << "," << c;
            const char* xName = tab == MapTab::Fuel ? "lblMapXAxis" : "lblIgnMapXAxis";
            EXPECT_EQ(Child<QLabel>(panel, xName)->text().toStdString(), std::string(def->xCaption));
            if (tab == MapTab::Fuel) {
                EXPECT_EQ(Child<QLabel>(panel, "lblMapHelp")->text().toStdString(), std::string(def->helpText));
                EXPECT_EQ(Child<QPushButton>(panel, "cmdMapIncPercent")->isEnabled(), def->factor != 0.0f);
                EXPECT_EQ(Child<QPushButton>(panel, "cmdMapDecPercent")->isEnabled(), def->factor != 0.0f);
            } else {
                EXPECT_TRUE(Child<QLabel>(panel, "lblIgnMapHelp")->text().isEmpty());
            }
            // The chart of the map: a curve of the row, or (no OpenGL here) the message.
            panel->SetChartView(true);
            MapChartView* chart = panel->Chart();
            EXPECT_TRUE(chart->isVisible());
            EXPECT_FALSE(g.isVisible());
            if (fuelmapeditor->GetYAxisSize() == 1) {
                EXPECT_TRUE(chart->ShowsCurve());
                ASSERT_EQ(chart->Curve()->count(), fuelmapeditor->GetXAxisSize());
                EXPECT_DOUBLE_EQ(chart->Curve()->at(0).y(), *ParseCellNumber(Cell(tab, 0, 0), false));
            } else {
                EXPECT_TRUE(chart->ShowsBars());
                EXPECT_TRUE(chart->Bars()->isVisible());
                ASSERT_EQ(chart->Bars()->RowCount(), fuelmapeditor->GetYAxisSize());
                ASSERT_EQ(chart->Bars()->ColumnCount(), fuelmapeditor->GetXAxisSize());
                EXPECT_EQ(chart->Data().values.size(), static_cast<std::size_t>(fuelmapeditor->GetYAxisSize()));
                EXPECT_DOUBLE_EQ(chart->Data().values[0][0], *ParseCellNumber(Cell(tab, 0, 0), false));
            }
        }
        panel->SetChartView(false);
        panel->Leave();
    }
    EXPECT_TRUE(module.writes.empty()); // looking changes nothing
}

// --- editing ---

TEST_F(MapTabsFixture, KeysButtonsPercentTypedValuesAndPasteReachGridImageAndModule) {
    Load(fuel, "MRX_D");
    tabs->Fuel()->FillMapList();
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    const MapTab F = MapTab::Fuel;
    auto lastByte = [this] {
        EXPECT_FALSE(module.writes.empty());
        return module.writes.empty() ? -1 : static_cast<int>(module.writes.back().data.at(0));
    };

    // Typed value: "5" opens the cell input with that text; the answer "0" is stored.
    SelectCell(F, 3, 4);
    dialogs.inputs.push_back(std::string("0"));
    Key(F, '5');
    ASSERT_FALSE(dialogs.log.empty());
    EXPECT_NE(dialogs.log.back().find("|5"), std::string::npos);
    EXPECT_EQ(Cell(F, 3, 4), "0");
    EXPECT_EQ(Stored(F, 3, 4), 128);
    EXPECT_EQ(lastByte(), 128);
    EXPECT_EQ(module.writes.back().unit, 1);

    // Keys and buttons: q +1, w +10 (button), a -1.
    Key(F, 'q');
    EXPECT_EQ(Cell(F, 3, 4), "1");
    EXPECT_EQ(lastByte(), 129);
    Click("cmdMapInc2");
    EXPECT_EQ(Cell(F, 3, 4), "11");
    EXPECT_EQ(lastByte(), 139);
    Key(F, 'A');
    EXPECT_EQ(Cell(F, 3, 4), "10");

    // Percentage from 0: +10 % with factor 1/512 gives 51.
    dialogs.inputs.push_back(std::string("0"));
    Key(F, '0');
    dialogs.inputs.push_back(std::string("10"));
    Click("cmdMapIncPercent");
    EXPECT_EQ(Cell(F, 3, 4), "51");
    EXPECT_EQ(Stored(F, 3, 4), 51 + 128);
    EXPECT_EQ(lastByte(), 179);

    // Bad input stores nothing.
    const std::size_t before = module.writes.size();
    dialogs.inputs.push_back(std::string("abc"));
    Key(F, 'e');
    EXPECT_EQ(dialogs.messages.back(), "Invalid percentage value. Value must be an integer.");
    dialogs.inputs.push_back(std::string("-5"));
    Key(F, 'd');
    EXPECT_EQ(dialogs.messages.back(), "Invalid percentage value. Value must be an integer.");
    dialogs.inputs.push_back(std::string("300")); // above 127: refused, asked again
    dialogs.inputs.push_back(std::nullopt);       // then cancelled
    Key(F, '3');
    EXPECT_EQ(dialogs.messages.back(), "Value cannot be greater than 127!");
    dialogs.clipboard = "1\tx\r\n";
    QTest::keyClick(&Grid(F), Qt::Key_V, Qt::ControlModifier); // letters: silently nothing
    dialogs.clipboard = "1\t2\r\n3\r\n";                       // rows of unequal length
    QTest::keyClick(&Grid(F), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(module.writes.size(), before);
    EXPECT_EQ(Cell(F, 3, 4), "51");

    // A paste larger than the grid.
    std::string wide;
    for (int i = 0; i < 17; ++i) wide += "1\t";
    dialogs.clipboard = wide + "\r\n";
    QTest::keyClick(&Grid(F), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(dialogs.messages.back(), "Area to be pasted is too large");
    EXPECT_EQ(module.writes.size(), before);

    // A good paste: a 2 x 2 block from the current cell; "1,5" reads 1.5 and stores 2.
    SelectCell(F, 0, 0);
    dialogs.clipboard = "-7\t1,5\r\n12\t-128\r\n";
    QTest::keyClick(&Grid(F), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Cell(F, 0, 0), "-7");
    EXPECT_EQ(Stored(F, 0, 0), 121);
    EXPECT_EQ(Stored(F, 0, 1), 130);
    EXPECT_EQ(Stored(F, 1, 0), 140);
    EXPECT_EQ(Stored(F, 1, 1), 0);
    EXPECT_EQ(module.writes.size(), before + 4);

    // F2 and Ctrl+E open the cell input empty; the answer goes into the current cell only.
    dialogs.inputs.push_back(std::nullopt);
    QTest::keyClick(&Grid(F), Qt::Key_F2);
    EXPECT_NE(dialogs.log.back().find("InputBox|"), std::string::npos);
    EXPECT_EQ(dialogs.log.back().back(), '|');
    Grid(F).SetSelectionEnd(Grid(F).FixedRows() + 1, Grid(F).FixedCols() + 1);
    dialogs.inputs.push_back(std::string("-3"));
    QTest::keyClick(&Grid(F), Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(dialogs.log.back().back(), '|');
    EXPECT_EQ(Cell(F, 0, 0), "-3");
    EXPECT_EQ(Stored(F, 0, 0), 125);
    EXPECT_EQ(Stored(F, 1, 1), 0); // the rest of the selection is untouched
    EXPECT_FALSE(changes.empty());
}

// The tabs with their own "Edit cell" dialog, typed into with real key events.
class MapTabsTypingFixture : public MapTabsFixture {
protected:
    MapTabsTypingFixture() { realCellDialog = true; }
    // Types `keys` into the current cell: the first key opens the dialog, the rest go to its text
    // box, Return accepts.
    void Type(MapTab tab, const std::string& keys) {
        std::string typed;
        QTimer::singleShot(0, [&] {
            CellInputDialog* d = OpenCellDialog();
            ASSERT_NE(d, nullptr);
            QTest::keyClicks(d->Edit(), QString::fromStdString(keys.substr(1)));
            typed = d->Edit()->text().toStdString();
            QTest::keyClick(d->Edit(), Qt::Key_Return);
            if (QApplication::activeModalWidget() == d) d->reject();
        });
        Key(tab, keys.at(0));
        EXPECT_EQ(typed, keys);
    }
};

// Keys come from the window system to the window that has the keyboard: until the dialog's
// window has taken it over, that is still the main window.
TEST_F(MapTabsTypingFixture, KeysTypedWhileTheDialogOpensReachIt) {
    Load(fuel, "MRX_D");
    tabs->Fuel()->FillMapList();
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    QWindow* main = window->windowHandle();
    ASSERT_NE(main, nullptr);
    struct Case {
        const char* keys;
        int beforeDialog; // keys after the first that reach the main window before the dialog has the keyboard
        int row, col;
        std::int32_t stored;
    };
    const Case cases[] = {{"-9", 1, 2, 3, 119}, {"-12", 2, 3, 4, 116}, {"-12", 1, 4, 5, 116}, {"25", 1, 5, 6, 153}};
    for (const auto& c : cases) {
        SelectCell(MapTab::Fuel, c.row, c.col);
        const std::string keys = c.keys;
        std::string shown;
        bool opened = false;
        QTimer::singleShot(0, [&] {
            CellInputDialog* d = OpenCellDialog();
            ASSERT_NE(d, nullptr);
            opened = true;
            for (int i = 1; i < static_cast<int>(keys.size()); ++i)
                QTest::keyClick(i <= c.beforeDialog ? main : d->windowHandle(), keys[static_cast<std::size_t>(i)]);
            shown = d->Edit()->text().toStdString();
            QTest::keyClick(d->windowHandle(), Qt::Key_Return);
            if (d->isVisible()) d->reject();
        });
        QTest::keyClick(main, keys[0]);
        ASSERT_TRUE(opened) << keys;
        EXPECT_EQ(shown, keys) << keys << " with " << c.beforeDialog << " early";
        EXPECT_EQ(Cell(MapTab::Fuel, c.row, c.col), keys);
        EXPECT_EQ(Stored(MapTab::Fuel, c.row, c.col), c.stored) << keys;
    }
}

// While the dialog is open the window behind it takes no clicks, shortcuts or close requests.
TEST_F(MapTabsTypingFixture, TheWindowBehindTheDialogTakesNoInput) {
    Load(fuel, "MRX_D");
    tabs->Fuel()->FillMapList();
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    SelectCell(MapTab::Fuel, 2, 2);
    const std::string before = Cell(MapTab::Fuel, 2, 2);
    const std::size_t writes = module.writes.size();
    QAction save("Save", window.get());
    save.setShortcut(QKeySequence("Ctrl+S"));
    int saves = 0;
    QObject::connect(&save, &QAction::triggered, [&] { ++saves; });
    window->addAction(&save);
    bool stillShown = false;
    QTimer::singleShot(0, [&] {
        CellInputDialog* d = OpenCellDialog();
        ASSERT_NE(d, nullptr);
        QPushButton* inc = Child<QPushButton>(window.get(), "cmdMapInc1");
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          inc->mapTo(window.get(), inc->rect().center()));
        QTest::keyClick(window->windowHandle(), Qt::Key_S, Qt::ControlModifier);
        QCloseEvent close; // the window manager's close button
        QCoreApplication::sendEvent(window->windowHandle(), &close);
        stillShown = window->isVisible();
        d->reject();
    });
    Key(MapTab::Fuel, '5');
    EXPECT_TRUE(stillShown);
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(Cell(MapTab::Fuel, 2, 2), before);
    EXPECT_EQ(module.writes.size(), writes);
}

TEST_F(MapTabsTypingFixture, TheFirstTypedCharacterStaysInTheValue) {
    Load(fuel, "MRX_D");
    tabs->Fuel()->FillMapList();
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    struct Case {
        const char* keys;
        int row, col;
        std::int32_t stored;
    };
    const Case cases[] = {{"-10", 2, 3, 118}, {"25", 3, 4, 153}, {"7", 4, 5, 135}};
    for (const auto& c : cases) {
        SelectCell(MapTab::Fuel, c.row, c.col);
        Type(MapTab::Fuel, c.keys);
        EXPECT_EQ(Cell(MapTab::Fuel, c.row, c.col), c.keys);
        EXPECT_EQ(Stored(MapTab::Fuel, c.row, c.col), c.stored) << c.keys;
        ASSERT_FALSE(module.writes.empty());
        EXPECT_EQ(module.writes.back().data, std::vector<std::uint8_t>{static_cast<std::uint8_t>(c.stored)}) << c.keys;
    }
}

TEST_F(MapTabsFixture, IgnitionLettersAreSwappedExceptOnKnockRetardMaps) {
    ShowTab(MapTab::Ignition);
    Load(ignition, "EZK_D-S4");
    const MapTab I = MapTab::Ignition;
    tabs->Ignition()->FillMapList();
    Choose(I, "Cruise map (98 octane cat)");
    SelectCell(I, 5, 5);
    const std::int32_t byte = Stored(I, 5, 5);
    const double degrees = std::stod(Cell(I, 5, 5));
    Click("cmdIgnMapInc1"); // sends "q": one step more advance = one byte less
    EXPECT_EQ(Stored(I, 5, 5), byte - 1);
    EXPECT_GT(std::stod(Cell(I, 5, 5)), degrees);
    EXPECT_EQ(module.writes.back().unit, 2);
    EXPECT_EQ(module.writes.back().data.at(0), byte - 1);
    Key(I, 'w'); // step 2 = 8 bytes, swapped to decrease the byte... i.e. more advance
    EXPECT_EQ(Stored(I, 5, 5), byte - 9);
    Key(I, 'e'); // not mapped on the ignition grid
    EXPECT_EQ(Stored(I, 5, 5), byte - 9);

    // + and the keypad's - are the + and - buttons, named in their tool tips.
    QTest::keyClick(&Grid(I), Qt::Key_Plus, Qt::ShiftModifier);
    EXPECT_EQ(Stored(I, 5, 5), byte - 10);
    QTest::keyClick(&Grid(I), Qt::Key_Minus, Qt::KeypadModifier);
    QTest::keyClick(&Grid(I), Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(Stored(I, 5, 5), byte - 8);
    EXPECT_TRUE(Child<QPushButton>(window.get(), "cmdIgnMapInc1")->toolTip().contains("+"));
    EXPECT_TRUE(Child<QPushButton>(window.get(), "cmdIgnMapDec1")->toolTip().contains("keypad"));

    Choose(I, "Max knock retard (98 octane cat)");
    SelectCell(I, 0, 3);
    const std::int32_t retard = Stored(I, 0, 3);
    Key(I, 'q');
    EXPECT_EQ(Stored(I, 0, 3), std::min(retard + 1, 54));
    EXPECT_EQ(Cell(I, 0, 3), fuelmapeditor->CellText(std::min(retard + 1, 54), 3));
}

TEST_F(MapTabsFixture, EzkWarmupMapHeadersCarryTheirToolTipOnTheWidget) {
    ShowTab(MapTab::Ignition);
    Load(ignition, "EZK_D-S4");
    const MapTab I = MapTab::Ignition;
    tabs->Ignition()->FillMapList();
    Choose(I, "Warmup compensation map (WOT)");
    const QtMapGrid& g = Grid(I);
    ASSERT_EQ(g.columnCount(), 15);
    for (int c = 0; c < 15; ++c) {
        ASSERT_NE(g.horizontalHeaderItem(c), nullptr) << c;
        EXPECT_EQ(g.horizontalHeaderItem(c)->text(), QString::number(c + 1));
        EXPECT_EQ(g.horizontalHeaderItem(c)->toolTip(),
                  "The coolant temperature breakpoints are not stored with this map.");
    }
    // A map with breakpoints that replaces it leaves no stale tip behind.
    Choose(I, "Idle map (98 octane cat)");
    ASSERT_NE(g.horizontalHeaderItem(0), nullptr);
    EXPECT_EQ(g.horizontalHeaderItem(0)->toolTip(), "");
}

// The axis values are the grid's headers: the body holds exactly the map's cells, and after the
// body is scrolled to its far bottom-right corner the headers still show every axis value, in
// line with the cells, while they stay where they were.
TEST_F(MapTabsFixture, AxisValuesAreHeadersThatStayInPlaceWhileTheCellsScroll) {
    Load(fuel, "MRX_D");
    Load(ignition, "EZK_D-S4");
    struct Case {
        MapTab tab;
        const char* map;
        bool tipped; // the column headers carry the no-breakpoints tip
    };
    const Case cases[] = {{MapTab::Fuel, "Base fuel map (cat)", false},
                          {MapTab::Fuel, "Warmup enrichment map (cat)", false}, // two header lines
                          {MapTab::Ignition, "Cruise map (98 octane cat)", false},
                          {MapTab::Ignition, "Warmup compensation map (idle)", true}};
    window->resize(320, 260);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        ShowTab(c.tab);
        Panel(c.tab)->FillMapList();
        Choose(c.tab, c.map);
        QApplication::processEvents();
        RenderedMap reference(Image(c.tab), *FindMapDefinition(c.tab, c.map));
        const TextGrid& want = reference.grid;
        const int rows = reference.editor.GetYAxisSize(), cols = reference.editor.GetXAxisSize();
        QtMapGrid& g = Grid(c.tab);
        QAbstractItemModel* body = g.model();
        ASSERT_EQ(body->rowCount(), rows);
        ASSERT_EQ(body->columnCount(), cols);
        for (int r = 0; r < rows; ++r)
            for (int col = 0; col < cols; ++col)
                ASSERT_EQ(body->index(r, col).data().toString().toStdString(), reference.Cell(r, col))
                    << r << "," << col;

        const QPoint headerAt = g.horizontalHeader()->pos(), labelsAt = g.verticalHeader()->pos();
        g.horizontalScrollBar()->setValue(g.horizontalScrollBar()->maximum());
        g.verticalScrollBar()->setValue(g.verticalScrollBar()->maximum());
        QApplication::processEvents();
        EXPECT_GT(g.horizontalScrollBar()->value(), 0) << "the body scrolled sideways";
        if (rows > 1) {
            EXPECT_GT(g.verticalScrollBar()->value(), 0) << "the body scrolled down";
        }
        EXPECT_EQ(g.horizontalHeader()->pos(), headerAt);
        EXPECT_EQ(g.verticalHeader()->pos(), labelsAt);
        ASSERT_TRUE(g.horizontalHeader()->isVisible());
        ASSERT_TRUE(g.verticalHeader()->isVisible());
        for (int col = 0; col < cols; ++col) {
            std::string label = want.TextMatrix(0, col + 1);
            for (int f = 1; f < want.FixedRows(); ++f) label += "\n" + want.TextMatrix(f, col + 1);
            EXPECT_EQ(body->headerData(col, Qt::Horizontal).toString().toStdString(), label) << col;
            EXPECT_EQ(body->headerData(col, Qt::Horizontal, Qt::ToolTipRole).toString().toStdString(),
                      c.tipped ? std::string(TableEditor::kNoBreakpointsTip) : std::string())
                << col;
        }
        for (int r = 0; r < rows; ++r)
            EXPECT_EQ(body->headerData(r, Qt::Vertical).toString().toStdString(),
                      want.TextMatrix(want.FixedRows() + r, 0))
                << r;
        // The last column's and the last row's labels are on show, in line with their cells.
        const QHeaderView* top = g.horizontalHeader();
        const QHeaderView* left = g.verticalHeader();
        EXPECT_EQ(top->sectionViewportPosition(cols - 1), g.columnViewportPosition(cols - 1));
        EXPECT_LE(top->sectionViewportPosition(cols - 1) + top->sectionSize(cols - 1), top->viewport()->width());
        EXPECT_EQ(left->sectionViewportPosition(rows - 1), g.rowViewportPosition(rows - 1));
        EXPECT_LE(left->sectionViewportPosition(rows - 1) + left->sectionSize(rows - 1), left->viewport()->height());
        // Both header lines of a temperature axis are readable, and every line fits its column.
        EXPECT_GE(top->height(), want.FixedRows() * g.fontMetrics().height());
        QFont bold = top->font();
        bold.setBold(true);
        for (int col = 0; col < cols; ++col)
            for (const QString& line : body->headerData(col, Qt::Horizontal).toString().split('\n'))
                EXPECT_LE(QFontMetrics(bold).horizontalAdvance(line), top->sectionSize(col)) << line.toStdString();
        g.horizontalScrollBar()->setValue(0);
        g.verticalScrollBar()->setValue(0);
    }
}

// Clicking a column's label selects the column's cells, a row's label the row's cells, the corner
// the whole map; the arrow keys stop at the edge of the cells and never reach a label.
TEST_F(MapTabsFixture, LabelClicksSelectAndArrowKeysStayOnTheCells) {
    Load(fuel, "MRX_D");
    const MapTab F = MapTab::Fuel;
    tabs->Fuel()->FillMapList();
    Choose(F, "Base fuel map (cat)");
    QApplication::processEvents();
    QtMapGrid& g = Grid(F);
    auto column = [this](int col) {
        std::string text;
        for (int r = 0; r < 16; ++r) text += Cell(MapTab::Fuel, r, col) + "\r\n";
        return text;
    };
    auto row = [this](int r) {
        std::string text;
        for (int col = 0; col < 16; ++col) text += (col > 0 ? "\t" : "") + Cell(MapTab::Fuel, r, col);
        return text + "\r\n";
    };
    auto copied = [&] {
        dialogs.clipboard.clear();
        QTest::keyClick(&g, Qt::Key_C, Qt::ControlModifier);
        return dialogs.clipboard;
    };
    QHeaderView* top = g.horizontalHeader();
    QHeaderView* left = g.verticalHeader();
    g.setFocus();
    QTest::mouseClick(top->viewport(), Qt::LeftButton, {},
                      QPoint(top->sectionViewportPosition(3) + top->sectionSize(3) / 2, top->height() / 2));
    EXPECT_EQ(copied(), column(3));
    QTest::mouseClick(left->viewport(), Qt::LeftButton, {},
                      QPoint(left->width() / 2, left->sectionViewportPosition(5) + left->sectionSize(5) / 2));
    EXPECT_EQ(copied(), row(5));
    QAbstractButton* corner = g.findChild<QAbstractButton*>();
    ASSERT_NE(corner, nullptr);
    QTest::mouseClick(corner, Qt::LeftButton);
    std::string all;
    for (int r = 0; r < 16; ++r) all += row(r);
    EXPECT_EQ(copied(), all);

    struct Move {
        int row, col;
        Qt::Key key;
    };
    const Move moves[] = {{0, 0, Qt::Key_Up},     {0, 0, Qt::Key_Left},   {0, 5, Qt::Key_Up},
                          {5, 0, Qt::Key_Left},   {0, 0, Qt::Key_Home},   {0, 0, Qt::Key_PageUp},
                          {15, 15, Qt::Key_Down}, {15, 15, Qt::Key_Right}};
    for (const auto& m : moves) {
        SelectCell(F, m.row, m.col);
        QTest::keyClick(&g, m.key);
        QTest::keyClick(&g, m.key, Qt::ShiftModifier);
        EXPECT_EQ(copied(), Cell(F, m.row, m.col) + "\r\n") << m.row << "," << m.col << " key " << m.key;
    }
}

// --- the warning, the trace and the OP codes ---

TEST_F(MapTabsFixture, MapNotUsedShowsTheWarningAndNoMarkerButKeepsCaptions) {
    Load(fuel, "MRX_D");
    device.cat = false; // the unit runs its non-cat maps
    tabs->Fuel()->FillMapList();
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    QLabel* warning = Child<QLabel>(tabs->Fuel(), "lblMapWarning");
    EXPECT_EQ(warning->text(), "Warning! This map is not being used by the ECU!");
    EXPECT_FALSE(tabs->Fuel()->MapUsed());
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(200, 1)
                        .Ram(100, 2)
                        .Ram(100, 1)
                        .Item(32768, 2)
                        .Ram(0x8000, 2)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    tabs->Fuel()->TraceTick();
    EXPECT_FALSE(Grid(MapTab::Fuel).Marker(0)->isVisible());
    EXPECT_EQ(Child<QLabel>(tabs->Fuel(), "lblMapAFR")->text(), "14.00");
    // Still editable.
    SelectCell(MapTab::Fuel, 0, 0);
    const std::size_t before = module.writes.size();
    Key(MapTab::Fuel, 'q');
    EXPECT_EQ(module.writes.size(), before + 1);

    Choose(MapTab::Fuel, "Base fuel map (non-cat)");
    EXPECT_TRUE(warning->text().isEmpty());
    tabs->Fuel()->TraceTick();
    EXPECT_TRUE(Grid(MapTab::Fuel).Marker(0)->isVisible());
    EXPECT_TRUE(Grid(MapTab::Fuel).Marker(1)->isVisible());

    // The ignition tab asks the running unit for its map set.
    ShowTab(MapTab::Ignition);
    Load(ignition, "EZK_D-S4");
    device.ram[ignition->GetVariableAddress(5)] = 8; // 91 octane
    tabs->Ignition()->FillMapList();
    Choose(MapTab::Ignition, "Cruise map (91 octane)");
    EXPECT_TRUE(Child<QLabel>(tabs->Ignition(), "lblIgnMapWarning")->text().isEmpty());
    Choose(MapTab::Ignition, "Cruise map (98 octane cat)");
    EXPECT_FALSE(Child<QLabel>(tabs->Ignition(), "lblIgnMapWarning")->text().isEmpty());
}

TEST_F(MapTabsFixture, OpCodesActOnTheTracedCell) {
    Load(fuel, "MRX_D");
    const MapTab F = MapTab::Fuel;
    tabs->Fuel()->FillMapList();
    Choose(F, "Base fuel map (cat)");
    EXPECT_TRUE(tabs->Fuel()->TraceTimer()->isActive());
    tabs->Fuel()->SetAtOperatingPoint(true);
    // Without an operating point nothing happens.
    const std::size_t before = module.writes.size();
    Key(F, 'q');
    EXPECT_EQ(module.writes.size(), before);

    const auto& xs = fuelmapeditor->XAxisPoints();
    const auto& ys = fuelmapeditor->YAxisPoints();
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(xs[4], 1)
                        .Ram(ys[7], 2)
                        .Ram(100, 1)
                        .Item(32768, 2)
                        .Ram(0x8000, 2)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    tabs->Fuel()->TraceTick();
    EXPECT_TRUE(tabs->Fuel()->TraceTimer()->isActive());
    ASSERT_TRUE(Grid(F).Marker(0)->isVisible());
    // The marker stands in the middle of that cell.
    const QRect cell = Grid(F).visualRect(Grid(F).IndexOf(Grid(F).FixedRows() + 7, Grid(F).FixedCols() + 4));
    EXPECT_LE((Grid(F).Marker(0)->Centre() - cell.center()).manhattanLength(), 2);

    SelectCell(F, 0, 0); // the selection does not matter
    const std::int32_t traced = Stored(F, 7, 4);
    const std::int32_t selected = Stored(F, 0, 0);
    Key(F, 'q');
    EXPECT_EQ(Stored(F, 7, 4), std::min(traced + 1, 255));
    EXPECT_EQ(Stored(F, 0, 0), selected);
    Key(F, 'S');
    EXPECT_EQ(Stored(F, 7, 4), std::min(traced + 1, 255) - 10);

    // A tick without a record hides the marker: OP codes do nothing again.
    device.record.clear();
    tabs->Fuel()->TraceTick();
    EXPECT_FALSE(Grid(F).Marker(0)->isVisible());
    EXPECT_EQ(Child<QLabel>(tabs->Fuel(), "lblMapO2")->text(), "-");
    const std::size_t now = module.writes.size();
    Key(F, 'q');
    EXPECT_EQ(module.writes.size(), now);
}

TEST_F(MapTabsFixture, ChoosingAnotherMapClearsTheMarkerAndItsTrail) {
    Load(fuel, "MRX_D");
    const MapTab F = MapTab::Fuel;
    tabs->Fuel()->FillMapList();
    Choose(F, "Base fuel map (cat)");
    const auto& xs = fuelmapeditor->XAxisPoints();
    const auto& ys = fuelmapeditor->YAxisPoints();
    for (int step = 0; step < 3; ++step) {
        device.record = RecordBuilder()
                            .Ram(1, 1)
                            .Ram(xs[4 + step], 1)
                            .Ram(ys[7], 2)
                            .Ram(100, 1)
                            .Item(32768, 2)
                            .Ram(0x8000, 2)
                            .Ram(0, 1)
                            .Ram(0, 1)
                            .Ram(0, 1)
                            .bytes;
        tabs->Fuel()->TraceTick();
    }
    ASSERT_TRUE(Grid(F).Marker(0)->isVisible());
    ASSERT_EQ(Grid(F).Trail().Behind().size(), 2u);

    // The points of the old map mean nothing on the new one.
    for (const char* next : {"Warmup enrichment map (cat)", "Base fuel map (non-cat)"}) {
        Choose(F, next);
        EXPECT_FALSE(Grid(F).Marker(0)->isVisible()) << next;
        EXPECT_FALSE(Grid(F).Marker(1)->isVisible()) << next;
        EXPECT_EQ(Grid(F).Trail().Size(), 0) << next;
        EXPECT_TRUE(Grid(F).Trail().Behind().empty()) << next;
    }
}

TEST_F(MapTabsFixture, IgnitionTraceShowsAdvanceAndKnockCountAndPlaysTheKnock) {
    ShowTab(MapTab::Ignition);
    Load(ignition, "EZK_D-S4");
    device.ram[ignition->GetVariableAddress(7)] = 250;
    device.ram[ignition->GetVariableAddress(5)] = 4;
    tabs->Ignition()->FillMapList();
    Choose(MapTab::Ignition, "Cruise map (98 octane cat)");
    const auto& xs = fuelmapeditor->XAxisPoints();
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(xs[2], 2)
                        .Ram(34, 1)
                        .Ram(120, 1)
                        .Ram(80, 1)
                        .Ram(3, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .Item(0, 2)
                        .bytes;
    tabs->Ignition()->TraceTick();
    QLabel* knock = Child<QLabel>(tabs->Ignition(), "lblIgnMapKnockCount");
    EXPECT_EQ(knock->text(), "9");
    EXPECT_EQ(knocks, 1);
    EXPECT_TRUE(knock->styleSheet().contains("255, 0, 0"));
    EXPECT_TRUE(Child<QLabel>(tabs->Ignition(), "lblIgnMapAdv")->text().endsWith(" \xC2\xBA"));
    EXPECT_NEAR(fuelmapeditor->OperatingPointY(), 2, 1e-4);
    Click("cmdIgnMapResetKnockCount");
    EXPECT_EQ(knock->text(), "0");
}

// --- chart view ---

TEST_F(MapTabsFixture, ChartViewSwapsVisibilityAndMarksTheCurve) {
    Load(fuel, "MRX_D");
    MapTabPanel* p = tabs->Fuel();
    p->FillMapList();
    Choose(MapTab::Fuel, "Warmup enrichment map (cat)");
    QGroupBox* modify = Child<QGroupBox>(p, "fraFuelMapButtons");
    QRadioButton* chartRadio = nullptr;
    for (QRadioButton* r : p->findChildren<QRadioButton*>("radioFuelMapView"))
        if (r->property("index").toInt() == 1) chartRadio = r;
    ASSERT_NE(chartRadio, nullptr);
    QTest::mouseClick(chartRadio, Qt::LeftButton);
    EXPECT_TRUE(p->ChartView());
    EXPECT_FALSE(p->Grid()->isVisible());
    EXPECT_FALSE(modify->isVisible());
    EXPECT_TRUE(p->Chart()->isVisible());
    EXPECT_TRUE(p->Chart()->ShowsCurve());

    const auto& xs = fuelmapeditor->XAxisPoints();
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(200, 1)
                        .Ram(100, 2)
                        .Ram(xs[1], 1)
                        .Item(0, 2)
                        .Ram(0x8000, 2)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    p->TraceTick();
    ASSERT_EQ(p->Chart()->OperatingPoint()->count(), 1);
    EXPECT_DOUBLE_EQ(p->Chart()->OperatingPoint()->at(0).x(), conv::TempLH23Coolant(xs[1]));
    // On the curve at a point: its Y is the cell's value.
    EXPECT_DOUBLE_EQ(p->Chart()->OperatingPoint()->at(0).y(), *ParseCellNumber(Cell(MapTab::Fuel, 0, 1), false));
    EXPECT_FALSE(p->Grid()->Marker(0)->isVisible());
    device.record.clear();
    p->TraceTick();
    EXPECT_EQ(p->Chart()->OperatingPoint()->count(), 0);

    p->SetChartView(false);
    EXPECT_TRUE(p->Grid()->isVisible());
    EXPECT_TRUE(modify->isVisible());
    EXPECT_FALSE(p->Chart()->isVisible());

    // A two-dimensional map: bars, or without OpenGL (the offscreen platform) the message.
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    p->SetChartView(true);
    EXPECT_TRUE(p->Chart()->ShowsBars());
    p->TraceTick();
    EXPECT_EQ(p->Chart()->OperatingPoint()->count(), 0);
}

// The chart reads the map when it is chosen and draws only when it is shown: a map chosen while
// the table is on show costs no drawing, and the chart then shows the map chosen last.
TEST_F(MapTabsFixture, TheChartIsDrawnWhenItIsShown) {
    Load(fuel, "MRX_D");
    ShowTab(MapTab::Fuel);
    MapTabPanel* p = tabs->Fuel();
    p->FillMapList();
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    Choose(MapTab::Fuel, "Base fuel map (non-cat)");
    EXPECT_EQ(p->Chart()->Bars()->RowCount(), 0) << "nothing drawn while the table is on show";
    const double first = *ParseCellNumber(Cell(MapTab::Fuel, 0, 0), false);

    p->SetChartView(true);
    EXPECT_TRUE(p->Chart()->ShowsBars());
    ASSERT_EQ(p->Chart()->Bars()->RowCount(), fuelmapeditor->GetYAxisSize());
    EXPECT_DOUBLE_EQ(p->Chart()->Data().values[0][0], first);

    // Chosen while the chart is on show: drawn at once, a curve for a one-row map.
    Choose(MapTab::Fuel, "Warmup enrichment map (cat)");
    EXPECT_TRUE(p->Chart()->ShowsCurve());
    ASSERT_EQ(p->Chart()->Curve()->count(), fuelmapeditor->GetXAxisSize());

    // Chosen while the table is on show again: drawn when the chart comes back.
    p->SetChartView(false);
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    EXPECT_TRUE(p->Chart()->ShowsCurve());
    p->SetChartView(true);
    EXPECT_TRUE(p->Chart()->ShowsBars());
    EXPECT_EQ(p->Chart()->Bars()->RowCount(), fuelmapeditor->GetYAxisSize());
    p->SetChartView(false);
}

// The charts carry the map's axis titles: the bars along their two floor edges, the curve under
// its X axis.
TEST_F(MapTabsFixture, TheChartsCarryTheAxisTitles) {
    Load(fuel, "MRX_D");
    ShowTab(MapTab::Fuel);
    MapTabPanel* p = tabs->Fuel();
    p->FillMapList();
    p->SetChartView(true);
    Choose(MapTab::Fuel, "Base fuel map (cat)");
    const QString x = Child<QLabel>(window.get(), "lblMapXAxis")->text();
    const QString y = Child<QLabel>(window.get(), "lblMapYAxis")->text();
    ASSERT_FALSE(x.isEmpty());
    ASSERT_FALSE(y.isEmpty());
    BarChart3D* bars = p->Chart()->Bars();
    bars->resize(700, 500);
    bars->grab();
    ASSERT_EQ(bars->TitleRects().size(), 2u) << "both titles drawn";
    for (const QRectF& title : bars->TitleRects()) {
        EXPECT_TRUE(bars->rect().toRectF().contains(title));
        for (const QRectF& label : bars->LabelRects()) {
            if (label != title) {
                EXPECT_FALSE(label.intersects(title));
            }
        }
    }
    Choose(MapTab::Fuel, "Warmup enrichment map (cat)");
    EXPECT_EQ(p->Chart()->AxisX()->titleText(), Child<QLabel>(window.get(), "lblMapXAxis")->text());
    p->SetChartView(false);
}

// The map's cells grow with the window until the grid fills its frame, every cell (the last row
// and column too) on show; in a small window they keep the editor's width and the row height and
// the grid scrolls.
TEST_F(MapTabsFixture, CellsGrowWithTheWindowAndTheWholeMapStaysOnShow) {
    Load(fuel, "MRX_D");
    Load(ignition, "EZK_D-S4");
    struct Case {
        MapTab tab;
        const char* map;
    };
    const Case cases[] = {{MapTab::Fuel, "Base fuel map (cat)"},
                          {MapTab::Fuel, "Warmup enrichment map (cat)"}, // one row, two header lines
                          {MapTab::Ignition, "Cruise map (98 octane cat)"},
                          {MapTab::Ignition, "Warmup compensation map (idle)"}};
    constexpr int kMinWidth = TableEditor::COLUMN_WIDTH / kTwipsPerPixel; // 40 px
    constexpr int kMinHeight = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        window->resize(1400, 900);
        ShowTab(c.tab);
        Panel(c.tab)->FillMapList();
        Choose(c.tab, c.map);
        QtMapGrid& g = Grid(c.tab);
        const int rows = g.rowCount(), cols = g.columnCount();
        ASSERT_GT(cols, 1);
        auto wholeMapOnShow = [&] {
            const QRect view = g.viewport()->rect();
            for (int r = 0; r < rows; ++r)
                for (int col = 0; col < cols; ++col)
                    if (!view.contains(g.visualRect(g.model()->index(r, col))))
                        return ::testing::AssertionFailure() << "cell " << r << "," << col << " is cut off";
            if (g.horizontalScrollBar()->maximum() != 0 || g.verticalScrollBar()->maximum() != 0)
                return ::testing::AssertionFailure() << "the grid scrolls";
            return ::testing::AssertionSuccess();
        };
        for (const QSize size : {QSize(1400, 900), QSize(1900, 1000), QSize(1100, 700)}) {
            SCOPED_TRACE(size.width());
            window->resize(size);
            QApplication::processEvents();
            EXPECT_TRUE(wholeMapOnShow());
            // The grid fills its frame: the cells take the width left beside the labels, up to
            // less than a column's width.
            const int room = g.viewport()->width();
            const int used = g.columnViewportPosition(cols - 1) + g.columnWidth(cols - 1);
            EXPECT_GT(used, room - cols) << "of " << room;
            EXPECT_GT(g.columnWidth(0), kMinWidth);
            EXPECT_EQ(g.ColWidth(g.FixedCols()), g.columnWidth(0) * kTwipsPerPixel);
            if (rows > 1) {
                EXPECT_GT(g.rowHeight(rows - 1), kMinHeight);
                EXPECT_EQ(g.RowHeight(g.FixedRows()), g.rowHeight(0) * kTwipsPerPixel);
            }
        }
        const int wide = g.columnWidth(0);
        window->resize(1900, 1000);
        QApplication::processEvents();
        EXPECT_GT(g.columnWidth(0), wide * 6 / 5) << "the cells grew with the window";

        window->resize(420, 300);
        QApplication::processEvents();
        // Too narrow for the columns: they keep the editor's width and the grid scrolls sideways
        // (a single row may still take the height there is, up to its cells' width).
        for (int col = 0; col < cols; ++col) EXPECT_EQ(g.columnWidth(col), kMinWidth) << col;
        for (int r = 0; r < rows; ++r) {
            EXPECT_GE(g.rowHeight(r), kMinHeight) << r;
            EXPECT_LE(g.rowHeight(r), kMinWidth) << r;
        }
        if (rows > 1) {
            for (int r = 0; r < rows; ++r) EXPECT_EQ(g.rowHeight(r), kMinHeight) << r;
        }
        EXPECT_GT(g.horizontalScrollBar()->maximum(), 0) << "the grid scrolls";
    }
    window->resize(1400, 900);
}

// A grid of two rows and three columns of cells below and right of one row and column of labels.
void MakeTwoByThree(QtMapGrid& g) {
    g.resize(400, 200);
    g.SetRows(3);
    g.SetCols(4);
    g.SetFixedRows(1);
    g.SetFixedCols(1);
}

// Value colours: each number cell on the colour scale over the grid's own lowest to highest
// number, headers and texts untouched, following edits; off, the cells show their own colour.
TEST(QtMapGridTest, ValueColoursFollowTheNumbersOfTheGrid) {
    QtMapGrid g("g", "m");
    MakeTwoByThree(g);
    const char* cells[2][3] = {{"-4", "0", "4"}, {"2", "n/a", "-1"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) g.SetTextMatrix(r + 1, c + 1, cells[r][c]);
    g.SetTextMatrix(0, 1, "600");
    g.show();
    g.SetCurrentCell(2, 2); // away from the cells looked at
    EXPECT_FALSE(g.ValueColourAt(1, 1)) << "off by default";
    g.SetValueColours(true);
    auto rgb = [](Rgb c) { return QColor(c.r, c.g, c.b); };
    EXPECT_EQ(g.ValueColourAt(1, 1), rgb(HeatColour(0, 0, 1))) << "the lowest number";
    EXPECT_EQ(g.ValueColourAt(1, 3), rgb(HeatColour(1, 0, 1))) << "the highest number";
    EXPECT_EQ(g.ValueColourAt(1, 2), rgb(HeatColour(0.5, 0, 1)));
    EXPECT_FALSE(g.ValueColourAt(0, 1)) << "a header";
    EXPECT_FALSE(g.ValueColourAt(2, 2)) << "no number";
    // On screen: the cell's background away from its text.
    const QImage shot = g.viewport()->grab().toImage();
    const QRect cell = g.visualRect(g.IndexOf(1, 3));
    EXPECT_EQ(shot.pixelColor(cell.topLeft() + QPoint(3, 3)), rgb(HeatColour(1, 0, 1)));
    // An edit moves the range: 4 is no longer the highest.
    g.SetTextMatrix(2, 1, "12");
    EXPECT_EQ(g.ValueColourAt(2, 1), rgb(HeatColour(1, 0, 1)));
    EXPECT_EQ(g.ValueColourAt(1, 3), rgb(HeatColour(4, -4, 12)));
    g.SetValueColours(false);
    EXPECT_FALSE(g.ValueColourAt(1, 3));
    const QImage plain = g.viewport()->grab().toImage();
    EXPECT_EQ(plain.pixelColor(cell.topLeft() + QPoint(3, 3)), QColor(Qt::white));
}

// The fading trail of the operating point passes under the cells' numbers: where a trail point
// lies on a cell, every pixel of its number is still drawn in the text's colour, and the point
// itself still shows around it.
TEST(QtMapGridTest, TheTrailNeverCoversACellsNumber) {
    QtMapGrid g("g", "m");
    MakeTwoByThree(g);
    for (int r = 1; r < 3; ++r)
        for (int c = 1; c < 4; ++c) g.SetTextMatrix(r, c, "-88");
    QFont bold = g.font(); // strokes wide enough to have pixels of the pure text colour
    bold.setBold(true);
    bold.setPointSize(13);
    g.setFont(bold);
    g.show();
    g.SetCurrentCell(2, 3); // away from the cell looked at
    const QRect cell = g.visualRect(g.IndexOf(1, 2));
    ASSERT_TRUE(cell.isValid());
    const QImage plain = g.viewport()->grab().toImage();

    // The marker stands on another cell; the point before it lies on the middle of this one.
    MarkerPart* ring = g.Marker(0);
    ring->MoveCentre(cell.center().x() * kTwipsPerPixel, cell.center().y() * kTwipsPerPixel);
    const QRect far = g.visualRect(g.IndexOf(2, 1));
    ring->MoveCentre(far.center().x() * kTwipsPerPixel, far.center().y() * kTwipsPerPixel);
    ASSERT_EQ(g.Trail().Behind().size(), 1u);
    const QImage traced = g.viewport()->grab().toImage();

    const QColor text = g.palette().color(QPalette::Text);
    int textPixels = 0, changed = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            if (plain.pixelColor(x, y) != traced.pixelColor(x, y)) ++changed;
            if (plain.pixelColor(x, y) != text) continue;
            ++textPixels;
            EXPECT_EQ(traced.pixelColor(x, y), text) << "a pixel of the number at " << x << "," << y;
        }
    EXPECT_GT(textPixels, 10) << "the number is drawn in the text's colour";
    EXPECT_GT(changed, 10) << "the trail point shows";
}

// A curve's axes run between round numbers with round steps (1, 2 or 5 times a power of ten)
// that take in every point, whatever the map's values.
TEST_F(MapTabsFixture, CurveAxesHaveRoundTicks) {
    Load(fuel, "MRX_D");
    ShowTab(MapTab::Fuel);
    MapTabPanel* p = tabs->Fuel();
    p->FillMapList();
    p->SetChartView(true);
    for (const char* map : {"Warmup enrichment map (cat)", "Cranking fuel map"}) {
        Choose(MapTab::Fuel, map);
        ASSERT_TRUE(p->Chart()->ShowsCurve()) << map;
        const auto& d = p->Chart()->Data();
        for (QValueAxis* axis : {p->Chart()->AxisX(), p->Chart()->AxisY()}) {
            const double step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
            const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
            const double m = step / power;
            EXPECT_TRUE(std::fabs(m - 1) < 1e-9 || std::fabs(m - 2) < 1e-9 || std::fabs(m - 5) < 1e-9)
                << map << " step " << step;
            EXPECT_NEAR(std::remainder(axis->min(), step), 0.0, 1e-9) << map << " min " << axis->min();
            const auto& values = axis == p->Chart()->AxisX() ? d.x : d.y;
            for (double v : values) {
                EXPECT_LT(axis->min(), v) << map;
                EXPECT_GT(axis->max(), v) << map;
            }
        }
    }
    p->SetChartView(false);
}

// The operating-point marker frames the cell's number instead of covering it: both parts leave
// the middle of the cell, where the number is written, clear.
TEST(QtMapGridTest, TheMarkerLeavesTheNumberReadable) {
    QtMapGrid g("g", "m");
    for (int part = 0; part < 2; ++part) {
        MarkerPart* m = g.Marker(part);
        QImage picture(m->size(), QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        m->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
        const QPoint centre(m->width() / 2, m->height() / 2);
        // The text of a cell: up to four characters of the grid font around the centre.
        const QFontMetrics metrics(g.font());
        const QRect text(centre - QPoint(metrics.horizontalAdvance("-128") / 2, metrics.ascent() / 2),
                         QSize(metrics.horizontalAdvance("-128"), metrics.ascent()));
        int covered = 0, drawn = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (qAlpha(picture.pixel(x, y)) == 0) continue;
                ++drawn;
                if (text.contains(x, y)) ++covered;
            }
        }
        EXPECT_GT(drawn, 10) << "part " << part << " is drawn";
        EXPECT_EQ(covered, 0) << "part " << part << " covers the number";
    }
}

// An operating point between two cells (or four) leaves the numbers of all of them readable.
TEST(QtMapGridTest, TheMarkerBetweenCellsLeavesTheirNumbersReadable) {
    QtMapGrid g("g", "m");
    g.resize(600, 400);
    g.show();
    g.SetRows(6);
    g.SetCols(8);
    g.SetFixedRows(1);
    g.SetFixedCols(1);
    for (int c = 1; c < 8; ++c) g.SetColWidth(c, 600);
    for (int r = 1; r < 6; ++r)
        for (int c = 1; c < 8; ++c) g.SetTextMatrix(r, c, "-128");
    const QFontMetrics metrics(g.font());
    auto textOf = [&](int row, int col) {
        const QRect cell = g.visualRect(g.IndexOf(row, col));
        const QSize size(metrics.horizontalAdvance("-128"), metrics.ascent());
        return QRect(cell.center() - QPoint(size.width() / 2, size.height() / 2), size);
    };
    struct Case {
        double col, row; // fractional data coordinates of the operating point
    };
    for (const Case& c : {Case{2.5, 2.0}, Case{2.45, 1.0}, Case{3.0, 2.5}, Case{2.5, 2.5}, Case{4.0, 3.0}}) {
        const double x = g.ColPos(1) + (c.col + 0.5) * g.ColWidth(1);
        const double y = g.RowPos(1) + (c.row + 0.5) * g.RowHeight(1);
        for (int part = 0; part < 2; ++part) {
            MarkerPart* m = g.Marker(part);
            m->MoveCentre(x, y);
            m->SetVisible(true);
            QImage picture(m->size(), QImage::Format_ARGB32);
            picture.fill(Qt::transparent);
            m->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
            int drawn = 0;
            for (int r = 1; r < 6; ++r) {
                for (int col = 1; col < 8; ++col) {
                    const QRect text = textOf(r, col).translated(-m->pos());
                    int covered = 0;
                    for (int py = 0; py < picture.height(); ++py)
                        for (int px = 0; px < picture.width(); ++px)
                            if (qAlpha(picture.pixel(px, py)) != 0) covered += text.contains(px, py) ? 1 : 0;
                    EXPECT_EQ(covered, 0)
                        << "part " << part << " at " << c.col << ", " << c.row << " covers cell " << r << ", " << col;
                }
            }
            for (int py = 0; py < picture.height(); ++py)
                for (int px = 0; px < picture.width(); ++px) drawn += qAlpha(picture.pixel(px, py)) != 0 ? 1 : 0;
            EXPECT_GT(drawn, 10);
            EXPECT_LE((m->Centre() - QPoint(static_cast<int>(x / kTwipsPerPixel), static_cast<int>(y / kTwipsPerPixel)))
                          .manhattanLength(),
                      2)
                << "its centre is the operating point";
        }
    }
}

TEST(MapChartDataTest, CurveAndBarsAreReadFromTheGridTexts) {
    QtMapGrid g("g", "m");
    g.SetRows(3);
    g.SetCols(4);
    g.SetFixedRows(2);
    g.SetFixedCols(1);
    const char* headers[] = {"",
                             "-20 \xC2\xB0"
                             "C",
                             "",
                             "80 \xC2\xB0"
                             "C"};
    for (int c = 0; c < 4; ++c) g.SetTextMatrix(0, c, headers[c]);
    g.SetTextMatrix(2, 1, "12");
    g.SetTextMatrix(2, 2, "-3.5");
    g.SetTextMatrix(2, 3, "junk");
    MapChartData d = ReadMapChartData(g);
    ASSERT_FALSE(d.bars);
    EXPECT_EQ(d.x, (std::vector<double>{-20, 0, 80})); // an empty header gives 0
    EXPECT_EQ(d.y, (std::vector<double>{12, -3.5, 0}));

    g.SetFixedRows(1);
    g.SetTextMatrix(1, 0, "1.5");
    g.SetTextMatrix(2, 0, "3.0");
    g.SetTextMatrix(1, 1, "7");
    d = ReadMapChartData(g);
    ASSERT_TRUE(d.bars);
    ASSERT_EQ(d.values.size(), 2u);
    EXPECT_EQ(d.values[0][0], 7);
    EXPECT_EQ(d.rowLabels[1], "3.0");
    EXPECT_EQ(d.columnLabels[2], "80 \xC2\xB0"
                                 "C");
}

// --- lists, leaving, registration, Edit menu ---

TEST_F(MapTabsFixture, ReenteringKeepsTheSelectionByExactTextAndLeavingStopsTheTrace) {
    ShowTab(MapTab::Ignition);
    Load(fuel, "MRX_D"); // the fuel tab is not on show: nothing happens yet
    EXPECT_EQ(fuelmapeditor, nullptr);
    ShowTab(MapTab::Fuel);
    MapTabPanel* p = tabs->Fuel();
    p->FillMapList();
    EXPECT_EQ(p->MapList()->currentIndex(), 0);
    EXPECT_EQ(registered.size(), 8u); // grid, six buttons, autotune
    EXPECT_EQ(ignitionChecks, 1);
    Choose(MapTab::Fuel, "Acceleration enrichment (cat)");
    EXPECT_FALSE(Child<QPushButton>(p, "cmdMapIncPercent")->isEnabled());
    EXPECT_TRUE(p->TraceTimer()->isActive());

    // Long device work pauses the trace.
    tabs->PauseTraces();
    EXPECT_FALSE(p->TraceTimer()->isActive());
    const int reads = device.recordReads;
    p->TraceTick();
    EXPECT_EQ(device.recordReads, reads);
    tabs->ResumeTraces();
    EXPECT_TRUE(p->TraceTimer()->isActive());

    p->Leave();
    EXPECT_FALSE(p->TraceTimer()->isActive());
    EXPECT_EQ(unregistered, 8);
    EXPECT_EQ(ignitionStops, 1);
    tabs->ResumeTraces();
    EXPECT_FALSE(p->TraceTimer()->isActive());

    p->FillMapList();
    EXPECT_EQ(p->MapList()->currentText(), "Acceleration enrichment (cat)");
    EXPECT_EQ(fuelmapeditor->GetMap(), 10);
    EXPECT_TRUE(p->TraceTimer()->isActive());

    // Another image while the tab is on show: a new editor on the new image at once; the new
    // list has no entry of that text, so its first entry is chosen.
    Load(fuel, "MRX_LH22_USA");
    ASSERT_NE(fuelmapeditor, nullptr);
    // (The allocator may place the new editor where the old one was: its image tells them apart.)
    EXPECT_EQ(fuelmapeditor->GetEPROM(), fuel.get());
    EXPECT_TRUE(tabs->EditorIsFor(MapTab::Fuel));
    EXPECT_EQ(p->MapList()->currentText(), "Base fuel map");
    EXPECT_EQ(fuelmapeditor->GetMap(), 28);
    EXPECT_TRUE(p->TraceTimer()->isActive());

    // No image at all: an empty list, an empty grid, no editor, no trace.
    fuel.reset();
    tabs->ImagesChanged();
    EXPECT_EQ(p->MapList()->count(), 0);
    EXPECT_EQ(p->Grid()->Rows(), 0);
    EXPECT_EQ(fuelmapeditor, nullptr);
    EXPECT_FALSE(p->TraceTimer()->isActive());
    Key(MapTab::Fuel, 'q'); // nothing to edit, nothing breaks
}

TEST_F(MapTabsFixture, ChoosingAnIgnitionMapMovesEditingToTheIgnitionGrid) {
    Load(fuel, "MRX_D");
    Load(ignition, "EZK_D-S4");
    tabs->Fuel()->FillMapList();
    ShowTab(MapTab::Ignition);
    tabs->Ignition()->FillMapList();
    EXPECT_TRUE(tabs->EditorIsFor(MapTab::Ignition));
    SelectCell(MapTab::Ignition, 0, 0);
    const std::int32_t before = Stored(MapTab::Ignition, 0, 0);
    tabs->Fuel()->GridKeyPress('a'); // the fuel grid's key reaches the ignition map's editor
    EXPECT_NE(Stored(MapTab::Ignition, 0, 0), before);
    EXPECT_EQ(module.writes.back().unit, 2);
}

TEST_F(MapTabsFixture, EditMenuFollowsTheGridFocusAndCopiesTheSelection) {
    Load(fuel, "MRX_D");
    tabs->Fuel()->FillMapList();
    QLineEdit other;
    other.show();
    other.activateWindow();
    other.setFocus();
    QApplication::processEvents();
    window->activateWindow();
    Grid(MapTab::Fuel).setFocus();
    QApplication::processEvents();
    if (QApplication::focusWidget() != &Grid(MapTab::Fuel)) GTEST_SKIP() << "no focus on this platform";
    EXPECT_TRUE(copy.isEnabled());
    EXPECT_TRUE(paste.isEnabled());
    QtMapGrid& g = Grid(MapTab::Fuel);
    g.SetCurrentCell(g.FixedRows(), g.FixedCols());
    g.SetSelectionEnd(g.FixedRows() + 1, g.FixedCols() + 2);
    copy.trigger();
    EXPECT_EQ(dialogs.clipboard, Cell(MapTab::Fuel, 0, 0) + "\t" + Cell(MapTab::Fuel, 0, 1) + "\t" +
                                     Cell(MapTab::Fuel, 0, 2) + "\r\n" + Cell(MapTab::Fuel, 1, 0) + "\t" +
                                     Cell(MapTab::Fuel, 1, 1) + "\t" + Cell(MapTab::Fuel, 1, 2) + "\r\n");
    other.activateWindow();
    other.setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(copy.isEnabled());
    EXPECT_FALSE(paste.isEnabled());
}

// What Ctrl+C puts on the clipboard for a selection made with the keys: the cells' texts only,
// TAB between cells and CR LF after every row, whatever labels the grid shows around them.
TEST_F(MapTabsFixture, CopiedTextOfAKeyboardSelectionIsTheCellsTexts) {
    Load(fuel, "MRX_D");
    Load(ignition, "EZK_D-S4");
    struct Case {
        MapTab tab;
        const char* map;
        int row, col;    // data cell the selection starts from
        int right, down; // Shift+Right / Shift+Down presses; -1 = Ctrl+A
        const char* copied;
    };
    const Case cases[] = {
        {MapTab::Fuel, "Warmup enrichment map (cat)", 0, 0, -1, 0,
         "134\t122\t109\t97\t85\t73\t61\t49\t36\t24\t12\t0\t0\t0\t0\r\n"},
        {MapTab::Fuel, "Base fuel map (cat)", 2, 3, 2, 1, "-2\t-1\t-1\r\n-3\t-1\t-1\r\n"},
        {MapTab::Ignition, "Cruise map (98 octane cat)", 14, 14, 1, 1, "28.1\t28.6\r\n27.4\t27.9\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        ShowTab(c.tab);
        Panel(c.tab)->FillMapList();
        Choose(c.tab, c.map);
        SelectCell(c.tab, c.row, c.col);
        QtMapGrid& g = Grid(c.tab);
        if (c.right < 0) QTest::keyClick(&g, Qt::Key_A, Qt::ControlModifier);
        for (int i = 0; i < c.right; ++i) QTest::keyClick(&g, Qt::Key_Right, Qt::ShiftModifier);
        for (int i = 0; i < c.down; ++i) QTest::keyClick(&g, Qt::Key_Down, Qt::ShiftModifier);
        dialogs.clipboard.clear();
        QTest::keyClick(&g, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(dialogs.clipboard, c.copied);
    }
}

// --- the Qt grid ---

TEST(QtMapGridTest, SelectionColoursFixedCellsAndMarkerPlacement) {
    QtMapGrid g("FuelMap", "MapOPIndicator");
    g.resize(800, 500);
    g.show();
    g.SetRows(5);
    g.SetCols(6);
    g.SetFixedRows(1);
    g.SetFixedCols(1);
    for (int c = 0; c < 6; ++c) g.SetColWidth(c, TableEditor::COLUMN_WIDTH);
    EXPECT_EQ(g.ColWidth(2), TableEditor::COLUMN_WIDTH);
    EXPECT_EQ(g.ColPos(2) - g.ColPos(1), TableEditor::COLUMN_WIDTH);

    g.SetCurrentCell(1, 1);
    g.SetSelectionEnd(3, 4);
    EXPECT_EQ(g.Row(), 1);
    EXPECT_EQ(g.Col(), 1);
    EXPECT_EQ(g.RowSel(), 3);
    EXPECT_EQ(g.ColSel(), 4);
    EXPECT_EQ(g.selectionModel()->selectedIndexes().size(), 12);

    // A selection made with the mouse or the keys: the end is where the current cell went.
    g.selectionModel()->setCurrentIndex(g.IndexOf(2, 5), QItemSelectionModel::NoUpdate);
    g.selectionModel()->select(QItemSelection(g.IndexOf(1, 2), g.IndexOf(2, 5)), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(g.RowSel(), 2);
    EXPECT_EQ(g.ColSel(), 5);
    EXPECT_EQ(g.Row(), 1);
    EXPECT_EQ(g.Col(), 2);

    // Colours are 0x00BBGGRR.
    g.SetCurrentCell(2, 3);
    EXPECT_EQ(g.CellBackColor(), 0xFFFFFFu);
    g.SetCellBackColor(0x0000FFu); // red
    EXPECT_EQ(g.CellBackColor(), 0x0000FFu);
    EXPECT_EQ(g.itemFromIndex(g.IndexOf(2, 3))->background().color(), QColor(255, 0, 0));

    // Fixed cells are labels in the headers, never cells of the widget; data cells are selectable.
    EXPECT_FALSE(g.IndexOf(0, 2).isValid());
    EXPECT_FALSE(g.IndexOf(3, 0).isValid());
    g.SetTextMatrix(3, 3, "1");
    EXPECT_TRUE(g.itemFromIndex(g.IndexOf(3, 3))->flags() & Qt::ItemIsSelectable);
    // Out of range: empty text, ignored writes, ignored moves.
    g.SetTextMatrix(9, 9, "x");
    EXPECT_EQ(g.TextMatrix(9, 9), "");
    g.SetCurrentCell(9, 9);
    EXPECT_EQ(g.Row(), 2);

    // Marker part 0 centred on a twip position; the trail keeps where it was.
    MarkerPart* ring = g.Marker(0);
    ring->MoveCentre(1200, 480);
    ring->SetVisible(true);
    EXPECT_TRUE(ring->isVisible());
    EXPECT_LE((ring->Centre() - QPoint(1200 / kTwipsPerPixel, 480 / kTwipsPerPixel)).manhattanLength(), 1);
    ring->MoveCentre(2400, 480);
    EXPECT_EQ(g.Trail().Behind().size(), 1u);
    ring->SetVisible(false);
    EXPECT_EQ(g.Trail().Size(), 0);
}

// The labels lie left of and above the cells in the grid's twips, where the editor places a
// marker that follows the row only: it is drawn on the row's label, and back on the cells when
// the operating point has a column again.
TEST(QtMapGridTest, LabelsBorderTheCellsAndCarryARowOnlyMarker) {
    QtMapGrid g("IgnMap", "IgnMapOPIndicator");
    g.resize(200, 160);
    g.SetRows(10);
    g.SetCols(8);
    g.SetFixedRows(1);
    g.SetFixedCols(1);
    for (int c = 0; c < 8; ++c) g.SetColWidth(c, TableEditor::COLUMN_WIDTH);
    for (int r = 1; r < 10; ++r) g.SetTextMatrix(r, 0, std::to_string(r * 10) + " %");
    g.show();
    QApplication::processEvents();
    g.verticalScrollBar()->setValue(g.verticalScrollBar()->maximum());
    QApplication::processEvents();
    ASSERT_GT(g.verticalScrollBar()->value(), 0);
    const QHeaderView* left = g.verticalHeader();
    EXPECT_EQ(g.ColPos(0) + g.ColWidth(0), g.ColPos(1));
    EXPECT_EQ(g.ColWidth(0), left->width() * kTwipsPerPixel);
    EXPECT_EQ(g.RowPos(0) + g.RowHeight(0), g.RowPos(1));
    EXPECT_EQ(g.RowPos(9), left->sectionViewportPosition(8) * kTwipsPerPixel);

    MarkerPart* ring = g.Marker(0);
    ring->MoveCentre(g.ColPos(0) + g.ColWidth(0) / 2.0, g.RowPos(9) + g.RowHeight(9) / 2.0);
    ring->SetVisible(true);
    EXPECT_EQ(ring->parentWidget(), left->viewport());
    EXPECT_TRUE(ring->isVisible());
    const QPoint label(left->width() / 2, left->sectionViewportPosition(8) + left->sectionSize(8) / 2);
    EXPECT_LE((ring->Centre() - label).manhattanLength(), 1);
    ring->MoveCentre(g.ColPos(3) + g.ColWidth(3) / 2.0, g.RowPos(9) + g.RowHeight(9) / 2.0);
    EXPECT_EQ(ring->parentWidget(), g.viewport());
    EXPECT_TRUE(ring->isVisible());
    EXPECT_LE((ring->Centre() - g.visualRect(g.IndexOf(9, 3)).center()).manhattanLength(), 2);

    // Scrolled sideways, a cell that went out of sight at the left is not mistaken for a label:
    // the marker stays with the cells (out of sight too); the row's label still takes the
    // marker of the row.
    g.horizontalScrollBar()->setValue(g.horizontalScrollBar()->maximum());
    QApplication::processEvents();
    ASSERT_LT(g.ColPos(2) + g.ColWidth(2) / 2, 0);
    EXPECT_EQ(g.ColPos(0) + g.ColWidth(0), g.ColPos(1));
    ring->MoveCentre(g.ColPos(2) + g.ColWidth(2) / 2.0, g.RowPos(9) + g.RowHeight(9) / 2.0);
    EXPECT_EQ(ring->parentWidget(), g.viewport());
    EXPECT_FALSE(g.viewport()->rect().contains(ring->Centre()));
    ring->MoveCentre(g.ColPos(0) + g.ColWidth(0) / 2.0, g.RowPos(9) + g.RowHeight(9) / 2.0);
    EXPECT_EQ(ring->parentWidget(), left->viewport());
    EXPECT_LE((ring->Centre() - label).manhattanLength(), 1);
}

TEST(QtMapGridTest, KeysBecomeEditorCharacters) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        QString text;
        char expected;
    };
    const Case cases[] = {{Qt::Key_C, Qt::ControlModifier, "\x03", 3},
                          {Qt::Key_V, Qt::ControlModifier, "", 22},
                          {Qt::Key_E, Qt::ControlModifier, "", 5},
                          {Qt::Key_Q, Qt::NoModifier, "q", 'q'},
                          {Qt::Key_Q, Qt::ShiftModifier, "Q", 'Q'},
                          {Qt::Key_5, Qt::NoModifier, "5", '5'},
                          {Qt::Key_Minus, Qt::NoModifier, "-", '-'},
                          {Qt::Key_Left, Qt::NoModifier, "", 0},
                          {Qt::Key_X, Qt::ControlModifier, "", 0},
                          {Qt::Key_Escape, Qt::NoModifier, "\x1b", 0},
                          // + (either keyboard) and the keypad's - send the letters of the + and - buttons; the
                          // main keyboard's - starts a negative value.
                          {Qt::Key_Plus, Qt::ShiftModifier, "+", 'q'},
                          {Qt::Key_Plus, Qt::KeypadModifier, "+", 'q'},
                          {Qt::Key_Minus, Qt::KeypadModifier, "-", 'a'}};
    for (const auto& c : cases) EXPECT_EQ(EditorCharacterOfKey(c.key, c.mods, c.text), c.expected) << c.key;
}

TEST(QtMapGridTest, ArrowKeysStillMoveTheCurrentCell) {
    QtMapGrid g("FuelMap", "MapOPIndicator");
    g.show();
    g.SetRows(4);
    g.SetCols(4);
    g.SetFixedRows(1);
    g.SetFixedCols(1);
    int pressed = 0;
    g.onKeyPress = [&](char) { return ++pressed, true; };
    g.SetCurrentCell(1, 1);
    g.setFocus();
    QTest::keyClick(&g, Qt::Key_Right);
    EXPECT_EQ(g.ColSel(), 2);
    EXPECT_EQ(pressed, 0);
    QTest::keyClick(&g, 'q');
    EXPECT_EQ(pressed, 1);
}

// --- the cell input dialog ---

TEST(CellInputDialogTest, RefusesOutOfRangeAndNonNumbersAndStaysOpen) {
    ScriptedDialogs dialogs;
    CellInputDialog dialog(dialogs);
    CellInputLimits limits{"-128", "127", -128, 127};
    dialog.Prepare("5", limits);
    EXPECT_EQ(dialog.windowTitle(), "Edit cell");
    EXPECT_EQ(dialog.Edit()->text(), "5");
    EXPECT_TRUE(dialog.LimitsLabel()->text().contains("-128"));
    EXPECT_TRUE(dialog.LimitsLabel()->text().contains("127"));
    struct Case {
        const char* text;
        const char* message; // empty: accepted
    };
    const Case cases[] = {{"abc", "Invalid value!"},
                          {"128", "Value cannot be greater than 127!"},
                          {"-129", "Value cannot be less than -128!"},
                          {"", "Invalid value!"},
                          {"12", ""}};
    for (const auto& c : cases) {
        dialogs.messages.clear();
        dialog.setResult(QDialog::Rejected);
        dialog.Edit()->setText(c.text);
        dialog.accept();
        if (*c.message) {
            ASSERT_EQ(dialogs.messages.size(), 1u) << c.text;
            EXPECT_EQ(dialogs.messages[0], c.message);
            EXPECT_EQ(dialog.result(), QDialog::Rejected) << c.text;
        } else {
            EXPECT_TRUE(dialogs.messages.empty());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        }
    }
}

TEST(CellInputDialogTest, ModalAskAnswersTheTextOrNothing) {
    ScriptedDialogs dialogs;
    QtCellInput input(dialogs, nullptr);
    CellInputLimits limits{"0", "255", 0, 255};
    QTimer::singleShot(0, [] {
        CellInputDialog* d = OpenCellDialog();
        ASSERT_NE(d, nullptr);
        d->Edit()->setText("42");
        d->accept();
    });
    EXPECT_EQ(input.Ask("4", limits), std::optional<std::string>("42"));
    QTimer::singleShot(0, [] {
        CellInputDialog* d = OpenCellDialog();
        ASSERT_NE(d, nullptr);
        d->reject();
    });
    EXPECT_EQ(input.Ask("4", limits), std::nullopt);
}

// --- comparison with another image file ---

class ComparisonFixture : public MapTabsFixture {
protected:
    void SetUp() override {
        MapTabsFixture::SetUp();
        ImageComparisonView::Services s;
        s.tabs = tabs.get();
        s.files = &dialogs;
        s.messages = &dialogs;
        s.showTab = [this](MapTab tab) {
            ShowTab(tab);
            Panel(tab)->FillMapList();
        };
        s.window = window.get();
        comparison = std::make_unique<ImageComparisonView>(std::move(s));
    }
    void TearDown() override {
        comparison.reset();
        MapTabsFixture::TearDown();
    }
    // Writes the base image `base` into the folder as BASE.bin.
    std::string BaseFile(const std::string& base) {
        EPROM image;
        EXPECT_EQ(LoadBaseImage(base, image), "");
        const std::string path = dir.File(base + ".bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.Bytes().data()),
                   static_cast<std::streamsize>(image.Bytes().size()));
        return path;
    }
    std::string RawFile(const std::string& name, const std::string& bytes) {
        const std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The grid cells the comparison should frame on the tab's shown map, with their tips.
    std::map<std::pair<int, int>, QString> Expected(MapTab tab, const std::string& otherName) const {
        std::map<std::pair<int, int>, QString> cells;
        const QtMapGrid& g = Grid(tab);
        for (const auto& map : comparison->Result().maps)
            if (map.name == Panel(tab)->CurrentMap())
                for (const auto& c : map.cells)
                    cells[{g.FixedRows() + c.row, g.FixedCols() + c.col}] =
                        QString::fromStdString("In " + otherName + ": " + c.otherText);
        return cells;
    }
    const MapDifference* Differing(const std::string& name) const {
        for (const auto& map : comparison->Result().maps)
            if (map.name == name) return &map;
        return nullptr;
    }

    TempDir dir;
    std::unique_ptr<ImageComparisonView> comparison;
};

// The summary opens beside the map, not over it.
TEST_F(ComparisonFixture, TheSummaryOpensBesideTheMap) {
    window->setGeometry(QRect(QPoint(0, 0), QSize(420, 320)));
    Load(ignition, "EZK_D-S4");
    ShowTab(MapTab::Ignition);
    Panel(MapTab::Ignition)->FillMapList();
    ASSERT_TRUE(comparison->CompareWith(MapTab::Ignition, BaseFile("EZK_D-GTS")));
    ComparisonSummary* summary = comparison->Summary();
    ASSERT_NE(summary, nullptr);
    const QWidget& grid = Grid(MapTab::Ignition);
    const QRect map(grid.mapToGlobal(QPoint(0, 0)), grid.size());
    EXPECT_FALSE(summary->frameGeometry().intersects(map)) << "over the map";
    EXPECT_TRUE(summary->screen()->availableGeometry().contains(summary->frameGeometry()))
        << summary->frameGeometry().x() << "," << summary->frameGeometry().y() << " "
        << summary->frameGeometry().width() << "x" << summary->frameGeometry().height() << " map " << map.x() << ","
        << map.y() << " " << map.width() << "x" << map.height() << " screen "
        << summary->screen()->availableGeometry().width() << "x" << summary->screen()->availableGeometry().height();
}

TEST_F(ComparisonFixture, FramesTheDifferingCellsOfTheMapOnShowWithTheOtherFilesText) {
    Load(ignition, "EZK_D-S4");
    ShowTab(MapTab::Ignition);
    Panel(MapTab::Ignition)->FillMapList();
    const std::string gts = BaseFile("EZK_D-GTS");
    ASSERT_TRUE(comparison->CompareWith(MapTab::Ignition, gts))
        << (dialogs.messages.empty() ? "" : dialogs.messages.back());
    ASSERT_TRUE(comparison->Active());
    ASSERT_FALSE(comparison->Result().maps.empty());

    // The summary lists every differing map with its count of cells, then the parameters.
    ComparisonSummary* summary = comparison->Summary();
    ASSERT_NE(summary, nullptr);
    EXPECT_TRUE(summary->isVisible());
    EXPECT_FALSE(summary->isModal());
    const auto& result = comparison->Result();
    ASSERT_EQ(summary->List()->topLevelItemCount(), static_cast<int>(result.maps.size() + result.parameters.size()));
    for (const auto& map : result.maps) {
        QTreeWidgetItem* item = summary->MapItem(map.name);
        ASSERT_NE(item, nullptr) << map.name;
        EXPECT_EQ(item->text(1).toStdString(),
                  std::to_string(map.cells.size()) + (map.cells.size() == 1 ? " cell" : " cells"));
    }

    // Every listed map: exactly its differing cells framed, the other file's text in their tips.
    bool sawUnchangedMap = false;
    for (int i = 0; i < Panel(MapTab::Ignition)->MapList()->count(); ++i) {
        Choose(MapTab::Ignition, Panel(MapTab::Ignition)->MapList()->itemText(i));
        const std::string name = Panel(MapTab::Ignition)->CurrentMap();
        SCOPED_TRACE(name);
        EXPECT_EQ(Grid(MapTab::Ignition).Compared(), Expected(MapTab::Ignition, "EZK_D-GTS.bin"));
        if (Differing(name) == nullptr) {
            sawUnchangedMap = true;
            EXPECT_TRUE(Grid(MapTab::Ignition).Compared().empty());
        }
    }
    EXPECT_TRUE(sawUnchangedMap);

    // On a differing map: the tip of a framed cell, none on a plain one, the frame on screen over
    // the value colours.
    const MapDifference& first = result.maps.front();
    Choose(MapTab::Ignition, QString::fromStdString(first.name));
    QtMapGrid& g = Grid(MapTab::Ignition);
    const CellDifference cell = first.cells.front();
    const int row = g.FixedRows() + cell.row, col = g.FixedCols() + cell.col;
    EXPECT_TRUE(g.CellToolTip(row, col).endsWith(QString::fromStdString("In EZK_D-GTS.bin: " + cell.otherText)))
        << g.CellToolTip(row, col).toStdString();
    std::pair<int, int> plain{-1, -1};
    for (int r = g.FixedRows(); r < g.Rows() && plain.first < 0; ++r)
        for (int c = g.FixedCols(); c < g.Cols() && plain.first < 0; ++c)
            if (!g.IsCompared(r, c)) plain = {r, c};
    ASSERT_GE(plain.first, 0);
    EXPECT_FALSE(g.CellToolTip(plain.first, plain.second).contains("In EZK_D-GTS.bin"));
    g.SetValueColours(true);
    g.SetCurrentCell(plain.first, plain.second);
    g.scrollTo(g.IndexOf(row, col));
    const QImage shot = g.viewport()->grab().toImage();
    const QRect framed = g.visualRect(g.IndexOf(row, col));
    const QRect unframed = g.visualRect(g.IndexOf(plain.first, plain.second));
    EXPECT_EQ(shot.pixelColor(framed.topLeft() + QPoint(1, framed.height() / 2)), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(framed.topLeft() + QPoint(framed.width() / 2, 1)), QColor(Qt::black));
    if (g.viewport()->rect().contains(unframed)) {
        EXPECT_NE(shot.pixelColor(unframed.topLeft() + QPoint(1, unframed.height() / 2)), QColor(Qt::black));
    }
}

TEST_F(ComparisonFixture, EditsUpdateTheMarksAndTheSummaryDoubleClickShowsAMapClosingEnds) {
    Load(ignition, "EZK_D-S4");
    ShowTab(MapTab::Ignition);
    Panel(MapTab::Ignition)->FillMapList();
    ASSERT_TRUE(comparison->CompareWith(MapTab::Ignition, BaseFile("EZK_D-GTS")));
    const MapDifference first = comparison->Result().maps.front();

    // A double click on a map of the summary shows it.
    ComparisonSummary* summary = comparison->Summary();
    emit summary->List()->itemDoubleClicked(summary->MapItem(first.name), 0);
    ASSERT_EQ(Panel(MapTab::Ignition)->CurrentMap(), first.name);
    QtMapGrid& g = Grid(MapTab::Ignition);

    // The framed cell given the other file's value loses its frame; a plain cell edited gains one.
    const CellDifference cell = first.cells.front();
    const int row = g.FixedRows() + cell.row, col = g.FixedCols() + cell.col;
    ASSERT_TRUE(g.IsCompared(row, col));
    TableEditor* editor = tabs->Editor();
    ASSERT_NE(editor, nullptr);
    const auto otherValue = editor->TypedTextToValue(cell.otherText, cell.col);
    ASSERT_TRUE(otherValue);
    editor->SetCellValue(cell.row, cell.col, *otherValue);
    QCoreApplication::processEvents();
    if (first.cells.size() == 1) {
        EXPECT_EQ(summary->MapItem(first.name), nullptr);
    } else {
        ASSERT_NE(summary->MapItem(first.name), nullptr);
        EXPECT_EQ(summary->MapItem(first.name)->text(1).toStdString(),
                  std::to_string(first.cells.size() - 1) + " cells");
    }
    EXPECT_FALSE(g.IsCompared(row, col));
    EXPECT_EQ(g.Compared(), Expected(MapTab::Ignition, "EZK_D-GTS.bin"));

    int plainRow = -1, plainCol = -1;
    for (int r = 0; r < editor->GetYAxisSize() && plainRow < 0; ++r)
        for (int c = 0; c < editor->GetXAxisSize() && plainRow < 0; ++c)
            if (!g.IsCompared(g.FixedRows() + r, g.FixedCols() + c) && (r != cell.row || c != cell.col)) {
                plainRow = r;
                plainCol = c;
            }
    ASSERT_GE(plainRow, 0);
    const std::string before = Cell(MapTab::Ignition, plainRow, plainCol);
    const std::int32_t value = editor->GetCellValue(plainRow, plainCol);
    editor->SetCellValue(plainRow, plainCol, value == editor->GetCellMinValue() ? value + 1 : value - 1);
    QCoreApplication::processEvents();
    const int plainGridRow = g.FixedRows() + plainRow, plainGridCol = g.FixedCols() + plainCol;
    EXPECT_TRUE(g.IsCompared(plainGridRow, plainGridCol));
    EXPECT_TRUE(
        g.CellToolTip(plainGridRow, plainGridCol).endsWith(QString::fromStdString("In EZK_D-GTS.bin: " + before)));

    // Closing the summary ends the comparison: no marks anywhere.
    summary->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(comparison->Active());
    EXPECT_TRUE(g.Compared().empty());
    EXPECT_TRUE(Grid(MapTab::Fuel).Compared().empty());
}

TEST_F(ComparisonFixture, RefusesFilesThatCannotBeComparedAndKeepsTheComparisonOnShow) {
    Load(fuel, "MRX_D");
    Load(ignition, "EZK_D-S4");
    ShowTab(MapTab::Ignition);
    Panel(MapTab::Ignition)->FillMapList();
    ASSERT_TRUE(comparison->CompareWith(MapTab::Ignition, BaseFile("EZK_D-GTS")));
    Choose(MapTab::Ignition, QString::fromStdString(comparison->Result().maps.front().name));
    const auto marks = Grid(MapTab::Ignition).Compared();
    ASSERT_FALSE(marks.empty());
    const std::size_t differing = comparison->Result().maps.size();

    struct Case {
        const char* what;
        std::string path;
        const char* why; // part of the message
    };
    const Case cases[] = {
        {"an image of another unit", BaseFile("MRX_D"), "cannot be compared"},
        {"a missing file", dir.File("missing.bin"), "Failed to open file"},
        {"a file that is no image", RawFile("text.bin", "no image in here"), ""},
        {"an empty file", RawFile("empty.bin", ""), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.messages.clear();
        EXPECT_FALSE(comparison->CompareWith(MapTab::Ignition, c.path));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].rfind(c.path + " cannot be compared:\r\n", 0), 0u) << dialogs.messages[0];
        EXPECT_NE(dialogs.messages[0].find(c.why), std::string::npos) << dialogs.messages[0];
        EXPECT_GT(dialogs.messages[0].size(), c.path.size() + 23) << "the reason is given";
        EXPECT_TRUE(comparison->Active());
        EXPECT_EQ(comparison->Tab(), MapTab::Ignition);
        EXPECT_EQ(comparison->Result().maps.size(), differing);
        EXPECT_EQ(Grid(MapTab::Ignition).Compared(), marks);
    }

    // Cancelling the file dialog changes nothing either; it offers the image files.
    dialogs.log.clear();
    EXPECT_FALSE(comparison->Start(MapTab::Ignition));
    ASSERT_EQ(dialogs.log.size(), 1u);
    EXPECT_EQ(dialogs.log[0], "OpenFileDialog|Compare with|EPROM images (*.bin)|*.bin|1");
    EXPECT_EQ(Grid(MapTab::Ignition).Compared(), marks);

    // The fuel image compared with a file chosen in the dialog moves the comparison there.
    dialogs.files.push_back(FileDialogResult{BaseFile("MRX_D-SUPERMAF"), 1});
    ASSERT_TRUE(comparison->Start(MapTab::Fuel));
    EXPECT_EQ(comparison->Tab(), MapTab::Fuel);
    EXPECT_TRUE(Grid(MapTab::Ignition).Compared().empty());

    // A new image in the compared slot ends the comparison.
    Load(fuel, "MRX_D");
    EXPECT_FALSE(comparison->Active());
    EXPECT_EQ(comparison->Summary(), nullptr);
}

} // namespace

} // namespace kv
