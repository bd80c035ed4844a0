#include "maps/gui/map_tabs.h"

#include "eprom/eprom_image.h"
#include "maps/gui/cell_input_dialog.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/map_keys.h"
#include "maps/table_editor.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace kv {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// Control names of the two tabs.
struct TabNames {
    const char* list;
    const char* grid;
    const char* chart;
    const char* marker;
    const char* view;
    const char* cell;
    const char* buttons;
    const char* timer;
    const char* prefix; // of the step buttons: cmdMap / cmdIgnMap
    const char* xAxis;
    const char* yAxis;
    const char* help;
    const char* warning;
    const char* listFrame;
};

constexpr TabNames kFuelNames{"MapSel",           "FuelMap",          "FuelMapChart",      "MapOPIndicator",
                              "radioFuelMapView", "radioFuelMapCell", "fraFuelMapButtons", "tmrFuelMapTrace",
                              "cmdMap",           "lblMapXAxis",      "lblMapYAxis",       "lblMapHelp",
                              "lblMapWarning",    "fraMapSel"};
constexpr TabNames kIgnitionNames{"IgnMapSel",        "IgnMap",          "IgnMapChart",      "IgnMapOPIndicator",
                                  "radioIgnMapView",  "radioIgnMapCell", "fraIgnMapButtons", "tmrIgnMapTrace",
                                  "cmdIgnMap",        "lblIgnMapXAxis",  "lblIgnMapYAxis",   "lblIgnMapHelp",
                                  "lblIgnMapWarning", "fraIgnMapSel"};

const TabNames& Names(MapTab tab) { return tab == MapTab::Fuel ? kFuelNames : kIgnitionNames; }

// The keys that do what step button i does (its letter, and + / the keypad's - for the first two).
QString KeysOfButton(std::size_t i) {
    const QString letter = QString(QChar(kMapButtonLetters[i])).toUpper();
    switch (i) {
    case 0: return " (keys: " + letter + " or +)";
    case 1: return " (keys: " + letter + " or - on the keypad)";
    default: return " (key: " + letter + ")";
    }
}

QLabel* Caption(const QString& name, QWidget* parent, const QString& text = QString()) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QLabel* Value(const QString& name, QWidget* parent) {
    auto* l = Caption(name, parent, QString(kNoData));
    l->setMinimumWidth(60);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

} // namespace

// --- one tab ---

MapTabPanel::MapTabPanel(MapTab tab, MapTabs& tabs, QWidget* parent)
    : QWidget(parent), tab_(tab), tabs_(tabs),
      trace_(*tabs.Services().device, *tabs.Services().aux, *tabs.Services().clock, tabs.Services().knock) {
    const TabNames& n = Names(tab);
    setObjectName(tab == MapTab::Fuel ? "pageFuelMap" : "pageIgnMap");
    auto* outer = new QHBoxLayout(this);

    // Left: map list, view choice, the Modify frame, live values.
    auto* left = new QVBoxLayout;
    auto* fraSel = new QGroupBox("Map to edit", this);
    fraSel->setObjectName(n.listFrame);
    auto* selLayout = new QVBoxLayout(fraSel);
    mapSel_ = new QComboBox(fraSel);
    mapSel_->setObjectName(n.list);
    mapSel_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    selLayout->addWidget(mapSel_);
    left->addWidget(fraSel);
    connect(mapSel_, &QComboBox::currentIndexChanged, this, [this](int) {
        if (!filling_) SelectMap();
    });

    auto* viewRow = new QHBoxLayout;
    viewRow->addWidget(new QLabel("View as:", this));
    viewTable_ = new QRadioButton("Table", this);
    viewChart_ = new QRadioButton("Chart", this);
    viewTable_->setObjectName(n.view);
    viewChart_->setObjectName(n.view);
    viewTable_->setProperty("index", 0);
    viewChart_->setProperty("index", 1);
    auto* viewGroup = new QButtonGroup(this);
    viewGroup->addButton(viewTable_);
    viewGroup->addButton(viewChart_);
    viewTable_->setChecked(true);
    viewRow->addWidget(viewTable_);
    viewRow->addWidget(viewChart_);
    viewRow->addStretch();
    left->addLayout(viewRow);
    connect(viewChart_, &QRadioButton::toggled, this, [this](bool chart) { SetChartView(chart); });

    fraButtons_ = new QGroupBox("Modify", this);
    fraButtons_->setObjectName(n.buttons);
    auto* buttons = new QGridLayout(fraButtons_);
    const QString p = n.prefix;
    stepButtons_.push_back(Button(qPrintable(p + "Inc1"), "+", kMapButtonLetters[0]));
    stepButtons_.push_back(Button(qPrintable(p + "Dec1"), "-", kMapButtonLetters[1]));
    stepButtons_.push_back(Button(qPrintable(p + "Inc2"), "++", kMapButtonLetters[2]));
    stepButtons_.push_back(Button(qPrintable(p + "Dec2"), "--", kMapButtonLetters[3]));
    if (tab == MapTab::Fuel) {
        stepButtons_.push_back(Button("cmdMapIncPercent", "+%", kMapButtonLetters[4]));
        stepButtons_.push_back(Button("cmdMapDecPercent", "-%", kMapButtonLetters[5]));
        stepButtons_[4]->setToolTip(Q(kIncPercentTip) + KeysOfButton(4));
        stepButtons_[5]->setToolTip(Q(kDecPercentTip) + KeysOfButton(5));
    }
    for (std::size_t i = 0; i < stepButtons_.size(); ++i)
        buttons->addWidget(stepButtons_[i], static_cast<int>(i / 2), static_cast<int>(i % 2));
    const int nextRow = static_cast<int>((stepButtons_.size() + 1) / 2);
    cellManual_ = new QRadioButton("&Manually selected cells", fraButtons_);
    cellOp_ = new QRadioButton("&Cell at current operating point", fraButtons_);
    cellManual_->setObjectName(n.cell);
    cellOp_->setObjectName(n.cell);
    cellManual_->setProperty("index", 0);
    cellOp_->setProperty("index", 1);
    cellManual_->setChecked(true);
    auto* cellGroup = new QButtonGroup(this);
    cellGroup->addButton(cellManual_);
    cellGroup->addButton(cellOp_);
    buttons->addWidget(cellManual_, nextRow, 0, 1, 2);
    buttons->addWidget(cellOp_, nextRow + 1, 0, 1, 2);
    left->addWidget(fraButtons_);

    if (tab == MapTab::Fuel) {
        cmdAutotune_ = new QPushButton("Live autotune...", this);
        cmdAutotune_->setObjectName("cmdAutotune");
        cmdAutotune_->setVisible(static_cast<bool>(tabs.Services().onAutotune));
        connect(cmdAutotune_, &QPushButton::clicked, this, [this] {
            if (tabs_.Services().onAutotune) tabs_.Services().onAutotune();
        });
        left->addWidget(cmdAutotune_);
    }

    auto* live = new QGroupBox("Operating point", this);
    live->setObjectName(tab == MapTab::Fuel ? "fraMapLive" : "fraIgnMapLive");
    auto* liveLayout = new QGridLayout(live);
    if (tab == MapTab::Fuel) {
        lblAfr_ = Value("lblMapAFR", live);
        lblEqR_ = Value("lblMapEqR", live);
        lblO2_ = Value("lblMapO2", live);
        liveLayout->addWidget(new QLabel("A/F ratio:", live), 0, 0);
        liveLayout->addWidget(lblAfr_, 0, 1);
        liveLayout->addWidget(new QLabel("Equivalence ratio:", live), 1, 0);
        liveLayout->addWidget(lblEqR_, 1, 1);
        liveLayout->addWidget(new QLabel("O2 sensor adj:", live), 2, 0);
        liveLayout->addWidget(lblO2_, 2, 1);
    } else {
        lblAdv_ = Value("lblIgnMapAdv", live);
        lblKnock_ = Value("lblIgnMapKnockCount", live);
        lblKnock_->setText("0");
        cmdResetKnock_ = new QPushButton("Reset", live);
        cmdResetKnock_->setObjectName("cmdIgnMapResetKnockCount");
        connect(cmdResetKnock_, &QPushButton::clicked, this, [this] {
            trace_.ResetKnockCount();
            lblKnock_->setText(QString::fromStdString(trace_.Knock().text));
            lblKnock_->setStyleSheet("color: rgb(0, 0, 0);");
        });
        liveLayout->addWidget(new QLabel("Ignition advance:", live), 0, 0);
        liveLayout->addWidget(lblAdv_, 0, 1);
        liveLayout->addWidget(new QLabel("Knock count:", live), 1, 0);
        liveLayout->addWidget(lblKnock_, 1, 1);
        liveLayout->addWidget(cmdResetKnock_, 1, 2);
    }
    left->addWidget(live);
    left->addStretch();
    outer->addLayout(left);

    // Right: captions, grid or chart, help and warning.
    auto* right = new QGridLayout;
    lblXAxis_ = Caption(n.xAxis, this);
    lblXAxis_->setAlignment(Qt::AlignCenter);
    lblYAxis_ = Caption(n.yAxis, this);
    lblYAxis_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid_ = new QtMapGrid(n.grid, n.marker, this);
    grid_->SetCellsFillView(true);
    grid_->onKeyPress = [this](char key) { return GridKeyPress(key); };
    grid_->onKeyDown = [this](int keyCode, int shift) { return GridKeyDown(keyCode, shift); };
    chart_ = new MapChartView(n.chart, this);
    chart_->hide();
    auto* area = new QWidget(this);
    auto* areaLayout = new QVBoxLayout(area);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->addWidget(grid_);
    areaLayout->addWidget(chart_);
    lblHelp_ = Caption(n.help, this);
    lblHelp_->setWordWrap(true);
    lblWarning_ = Caption(n.warning, this);
    lblWarning_->setStyleSheet("color: rgb(255, 0, 0); font-weight: bold;");
    right->addWidget(lblXAxis_, 0, 1);
    right->addWidget(lblYAxis_, 1, 0);
    right->addWidget(area, 1, 1);
    right->addWidget(lblHelp_, 2, 1);
    right->addWidget(lblWarning_, 3, 1);
    right->setRowStretch(1, 1);
    right->setColumnStretch(1, 1);
    outer->addLayout(right, 1);

    traceTimer_ = new QTimer(this);
    traceTimer_->setObjectName(n.timer);
    traceTimer_->setSingleShot(true);
    traceTimer_->setInterval(static_cast<int>(kTracePeriodSeconds * 1000));
    connect(traceTimer_, &QTimer::timeout, this, &MapTabPanel::TraceTick);
}

MapTabPanel::~MapTabPanel() = default;

QPushButton* MapTabPanel::Button(const char* name, const QString& caption, char letter) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus); // the grid keeps the focus and its selection
    b->setMinimumWidth(48);
    connect(b, &QPushButton::clicked, this, [this, letter] { GridKeyPress(letter); });
    return b;
}

EPROM* MapTabPanel::Image() const { return tabs_.ImageOf(tab_); }

bool MapTabPanel::ChartView() const { return viewChart_->isChecked(); }

void MapTabPanel::SetChartView(bool chart) {
    if (viewChart_->isChecked() != chart) (chart ? viewChart_ : viewTable_)->setChecked(true);
    grid_->setVisible(!chart);
    chart_->setVisible(chart);
    fraButtons_->setVisible(!chart);
    if (cmdAutotune_ != nullptr) cmdAutotune_->setVisible(!chart && static_cast<bool>(tabs_.Services().onAutotune));
    if (chart) {
        if (TableEditor* e = tabs_.Editor(); e != nullptr && tabs_.EditorIsFor(tab_)) e->HideOperatingPoint();
    } else {
        chart_->HideOperatingPoint();
    }
}

bool MapTabPanel::AtOperatingPoint() const { return cellOp_->isChecked(); }

void MapTabPanel::SetAtOperatingPoint(bool op) { (op ? cellOp_ : cellManual_)->setChecked(true); }

void MapTabPanel::HoldMap(bool held) {
    held_ = held;
    mapSel_->setEnabled(!held);
}

void MapTabPanel::ResumeHeldMap(EPROM& image) {
    ClearTraceCaptions();
    traceWanted_ = !image.IsOffline() && trace_.Configure(tab_, image);
    UpdateTraceTimer();
}

void MapTabPanel::FillMapList() {
    EPROM* current = Image();
    if (held_ && current != nullptr && current == filledImage_ && tabs_.EditorIsFor(tab_)) {
        ResumeHeldMap(*current);
        RegisterIgnitionDependents();
        return;
    }
    const QString remembered = mapSel_->currentIndex() >= 0 ? mapSel_->currentText() : QString();
    filling_ = true;
    mapSel_->clear();
    const EPROM* image = Image();
    filledImage_ = image;
    if (image != nullptr)
        for (std::string_view text : MapListTexts(tab_, *image)) mapSel_->addItem(Q(text));
    int select = 0;
    if (!remembered.isNull()) {
        for (int i = 0; i < mapSel_->count(); ++i) {
            if (mapSel_->itemText(i) == remembered) {
                select = i;
                break;
            }
        }
    }
    mapSel_->setCurrentIndex(mapSel_->count() > 0 ? select : -1);
    filling_ = false;
    if (mapSel_->count() > 0) {
        SelectMap();
    } else {
        // No maps: no editor configuration; the grid is emptied and no trace runs.
        traceWanted_ = false;
        UpdateTraceTimer();
        grid_->Marker(0)->SetVisible(false);
        grid_->Marker(1)->SetVisible(false);
        grid_->SetRows(0);
        grid_->SetCols(0);
        ClearTraceCaptions();
        emit tabs_.MapShown(tab_);
    }
    RegisterIgnitionDependents();
}

void MapTabPanel::RegisterIgnitionDependents() {
    // The controls that follow the ignition.
    const auto& s = tabs_.Services();
    if (s.registerIgnitionDependent) {
        for (int id : ignitionIds_)
            if (s.unregisterIgnitionDependent) s.unregisterIgnitionDependent(id);
        ignitionIds_.clear();
        ignitionIds_.push_back(s.registerIgnitionDependent(grid_, tab_));
        for (QPushButton* b : stepButtons_) ignitionIds_.push_back(s.registerIgnitionDependent(b, tab_));
        if (cmdAutotune_ != nullptr) ignitionIds_.push_back(s.registerIgnitionDependent(cmdAutotune_, tab_));
    }
    if (s.startIgnitionCheck) s.startIgnitionCheck();
}

void MapTabPanel::SelectMap() {
    EPROM* image = Image();
    if (image == nullptr || mapSel_->currentIndex() < 0) return;
    traceWanted_ = false;
    UpdateTraceTimer();
    // The marker and its trail stood on the old map's cells.
    grid_->Marker(0)->SetVisible(false);
    grid_->Marker(1)->SetVisible(false);
    grid_->SetRedraw(false);
    TableEditor& editor = tabs_.NewEditor(tab_, *grid_);

    const std::string text = mapSel_->currentText().toStdString();
    const MapDefinition* def = FindMapDefinition(tab_, text);
    const EcuType ecuType = image->GetECUType();
    if (const MapButtonSet* b = MapButtons(tab_, ecuType)) {
        stepButtons_[0]->setToolTip(Q(b->inc1Tip) + KeysOfButton(0));
        stepButtons_[1]->setToolTip(Q(b->dec1Tip) + KeysOfButton(1));
        stepButtons_[2]->setToolTip(Q(b->inc2Tip) + KeysOfButton(2));
        stepButtons_[3]->setToolTip(Q(b->dec2Tip) + KeysOfButton(3));
    }
    lblXAxis_->setText(def != nullptr ? Q(def->xCaption) : QString());
    lblYAxis_->setText(def != nullptr && def->yAxisType != YAxisType::None ? Q(def->yCaption) : QString());
    lblHelp_->setText(tab_ == MapTab::Fuel && def != nullptr ? Q(def->helpText) : QString());

    // Does the unit use the map? Only asked of the running unit when the map depends on it; an
    // image edited offline has no unit to ask.
    const auto& s = tabs_.Services();
    bool used = true;
    if (def != nullptr && def->activeCode != -1 && !image->IsOffline()) {
        if (tab_ == MapTab::Fuel) {
            used = IsMapUsed(tab_, def->activeCode, s.device->LH_GetMapSetSelector(*image), 0);
        } else {
            // A map set that cannot be read counts as set 0.
            const int mapSet = s.device->ReadEcuRam(2, image->GetVariableAddress(5), 1).value_or(0);
            used = IsMapUsed(tab_, def->activeCode, false, mapSet);
        }
    }
    mapUsed_ = used;
    if (used) {
        editor.SetOperatingPointControls(grid_->Marker(0), grid_->Marker(1));
        lblWarning_->clear();
    } else {
        grid_->Marker(0)->SetVisible(false);
        grid_->Marker(1)->SetVisible(false);
        editor.SetOperatingPointControls(nullptr, nullptr);
        lblWarning_->setText(Q(kMapNotUsedWarning));
    }

    editor.SetControl(grid_);
    ConfigureEditor(editor, tab_, def, ecuType);
    editor.RenderTable();

    if (tab_ == MapTab::Fuel) {
        const bool percent = def != nullptr && def->factor != 0.0f;
        stepButtons_[4]->setEnabled(percent);
        stepButtons_[5]->setEnabled(percent);
    }
    grid_->SetRedraw(true);
    if (grid_->Rows() > grid_->FixedRows() && grid_->Cols() > grid_->FixedCols())
        grid_->SetCurrentCell(grid_->FixedRows(), grid_->FixedCols());

    // The trace of the unit (none for an image edited offline) and the chart of the map.
    ClearTraceCaptions();
    traceWanted_ = !image->IsOffline() && trace_.Configure(tab_, *image);
    UpdateTraceTimer();
    if (lblKnock_ != nullptr) {
        lblKnock_->setText(QString::fromStdString(trace_.Knock().text));
        lblKnock_->setStyleSheet("color: rgb(0, 0, 0);");
    }
    chart_->SetAxisTitles(lblXAxis_->text(), lblYAxis_->text());
    tabs_.Charting().SetChartGrid(grid_);
    tabs_.Charting().SetChartControl(chart_);
    tabs_.Charting().RenderMapChart();
    emit tabs_.MapShown(tab_);
}

std::string MapTabPanel::CurrentMap() const {
    return mapSel_->currentIndex() < 0 ? std::string() : mapSel_->currentText().toStdString();
}

bool MapTabPanel::ChooseMap(const std::string& name) {
    const int index = mapSel_->findText(QString::fromStdString(name), Qt::MatchExactly);
    if (index < 0) return false;
    if (index == mapSel_->currentIndex())
        SelectMap();
    else
        mapSel_->setCurrentIndex(index);
    return true;
}

void MapTabPanel::Leave() {
    const auto& s = tabs_.Services();
    if (s.stopIgnitionCheck) s.stopIgnitionCheck();
    for (int id : ignitionIds_)
        if (s.unregisterIgnitionDependent) s.unregisterIgnitionDependent(id);
    ignitionIds_.clear();
    traceWanted_ = false;
    UpdateTraceTimer();
}

void MapTabPanel::UpdateTraceTimer() {
    if (!traceWanted_ || tabs_.TracesPaused())
        traceTimer_->stop();
    else if (!traceTimer_->isActive())
        traceTimer_->start(static_cast<int>(kTracePeriodSeconds * 1000));
}

bool MapTabPanel::GridKeyPress(char key) {
    TableEditor* editor = tabs_.Editor();
    if (editor == nullptr) return false;
    if (const auto op = MapKeyToEditOp(tab_, editor->GetMap(), AtOperatingPoint(), key)) {
        editor->Apply(*op);
        return true;
    }
    const bool handled = (key >= '0' && key <= '9') || key == '-' || key == TableEditor::KEY_COPY ||
                         key == TableEditor::KEY_EDIT || key == TableEditor::KEY_PASTE;
    if (!handled) return false;
    editor->KeyPress(key);
    return true;
}

bool MapTabPanel::GridKeyDown(int keyCode, int shift) {
    TableEditor* editor = tabs_.Editor();
    if (editor == nullptr) return false;
    editor->KeyDown(keyCode, shift);
    return keyCode == TableEditor::KEYCODE_F2 && shift == 0;
}

void MapTabPanel::ClearTraceCaptions() {
    for (QLabel* l : {lblAfr_, lblEqR_, lblO2_, lblAdv_})
        if (l != nullptr) l->setText(kNoData);
}

void MapTabPanel::ShowTraceCaptions(const TraceSample& sample) {
    if (lblAfr_ != nullptr) lblAfr_->setText(QString::fromStdString(sample.afr));
    if (lblEqR_ != nullptr) lblEqR_->setText(QString::fromStdString(sample.eqr));
    if (lblO2_ != nullptr) lblO2_->setText(QString::fromStdString(sample.o2));
    if (lblAdv_ != nullptr) lblAdv_->setText(QString::fromStdString(sample.advance));
}

void MapTabPanel::TraceTick() {
    // The image may have been replaced since the map was chosen: its trace ends then.
    TableEditor* editor = tabs_.Editor();
    if (editor == nullptr || !tabs_.EditorIsFor(tab_)) {
        traceWanted_ = false;
        traceTimer_->stop();
        return;
    }
    if (tabs_.TracesPaused()) return;
    const bool chart = ChartView();
    const TraceTickResult r = trace_.Tick(*editor, chart);
    ShowTraceCaptions(r.sample);
    if (chart) {
        if (r.chartX && mapUsed_)
            tabs_.Charting().ShowChartOperatingPoint(*r.chartX);
        else
            tabs_.Charting().HideChartOperatingPoint();
    }
    if (lblKnock_ != nullptr && Image() != nullptr && Image()->GetECUType() == EcuType::EZK) {
        lblKnock_->setText(QString::fromStdString(r.knock.text));
        lblKnock_->setStyleSheet(r.knock.red ? "color: rgb(255, 0, 0);" : "color: rgb(0, 0, 0);");
    }
    const auto& s = tabs_.Services();
    if (r.playKnock && s.playKnock) s.playKnock();
    if (tab_ == MapTab::Fuel && r.sample.valid && s.onFuelTraceSample) s.onFuelTraceSample(r.sample);
    traceTimer_->start(r.nextIntervalMs);
}

// --- both tabs ---

MapTabs::MapTabs(std::unique_ptr<TableEditor>& fuelmapeditor, MapTabServices services, QObject* parent)
    : QObject(parent), fuelmapeditor_(fuelmapeditor), services_(std::move(services)) {
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget*) { UpdateEditActions(); });
    auto editKey = [this](char key) {
        QWidget* focus = QApplication::focusWidget();
        if (focus == nullptr) return;
        if (focus == fuelGrid_.data() && fuel_ != nullptr) fuel_->GridKeyPress(key);
        if (focus == ignitionGrid_.data() && ignition_ != nullptr) ignition_->GridKeyPress(key);
    };
    editCopy_ = services_.editCopy;
    editPaste_ = services_.editPaste;
    if (editCopy_ != nullptr) {
        editCopy_->setEnabled(false);
        connect(editCopy_, &QAction::triggered, this, [editKey] { editKey(TableEditor::KEY_COPY); });
    }
    if (editPaste_ != nullptr) {
        editPaste_->setEnabled(false);
        connect(editPaste_, &QAction::triggered, this, [editKey] { editKey(TableEditor::KEY_PASTE); });
    }
}

MapTabs::~MapTabs() = default;

void MapTabs::CreatePanels() {
    if (fuel_ != nullptr) return;
    fuel_ = new MapTabPanel(MapTab::Fuel, *this);
    ignition_ = new MapTabPanel(MapTab::Ignition, *this);
    fuelGrid_ = fuel_->Grid();
    ignitionGrid_ = ignition_->Grid();
}

void MapTabs::UpdateEditActions() {
    // Only guarded pointers here: focus moves while the window takes its pages down.
    QWidget* focus = QApplication::focusWidget();
    const bool onGrid = focus != nullptr && (focus == fuelGrid_.data() || focus == ignitionGrid_.data());
    if (editCopy_ != nullptr) editCopy_->setEnabled(onGrid);
    if (editPaste_ != nullptr) editPaste_->setEnabled(onGrid);
}

EPROM* MapTabs::ImageOf(MapTab tab) const {
    const auto& get = tab == MapTab::Fuel ? services_.fuelImage : services_.ignitionImage;
    return get ? get() : nullptr;
}

bool MapTabs::EditorIsFor(MapTab tab) const {
    return fuelmapeditor_ != nullptr && boundTab_ == tab && boundImage_ != nullptr && boundImage_ == ImageOf(tab);
}

TableEditor* MapTabs::Editor() {
    if (fuelmapeditor_ == nullptr) return nullptr;
    if (boundImage_ == nullptr || boundImage_ != ImageOf(boundTab_)) {
        // The image the editor wrote into is gone from its slot.
        DroppingEditor(false);
        fuelmapeditor_.reset();
        boundImage_ = nullptr;
        return nullptr;
    }
    return fuelmapeditor_.get();
}

CellInput* MapTabs::CellInputSeam() {
    if (services_.cellInput != nullptr) return services_.cellInput;
    if (!ownCellInput_) {
        QWidget* parent = fuel_ != nullptr ? fuel_->window() : nullptr;
        ownCellInput_ = std::make_unique<QtCellInput>(*services_.messages, parent);
    }
    return ownCellInput_.get();
}

void MapTabs::DroppingEditor(bool imageInSlot) {
    if (fuelmapeditor_ != nullptr && services_.onEditorDropped) services_.onEditorDropped(imageInSlot);
}

TableEditor& MapTabs::NewEditor(MapTab tab, QtMapGrid& grid) {
    DroppingEditor(boundImage_ != nullptr && boundImage_ == ImageOf(boundTab_));
    fuelmapeditor_ =
        std::make_unique<TableEditor>(*services_.messages, *services_.progress, *services_.clipboard, CellInputSeam());
    boundTab_ = tab;
    EPROM* image = ImageOf(tab);
    boundImage_ = image;
    fuelmapeditor_->SetEPROM(image);
    fuelmapeditor_->SetControl(&grid);
    fuelmapeditor_->OnChangeCellValue([this, tab](int x, int y, std::int32_t value) {
        if (services_.onChangeCellValue) services_.onChangeCellValue(x, y, value);
        emit CellEdited(tab);
    });
    return *fuelmapeditor_;
}

void MapTabs::SetValueColours(bool on) {
    for (MapTabPanel* p : {fuel_.data(), ignition_.data()})
        if (p != nullptr) p->Grid()->SetValueColours(on);
}

void MapTabs::ImagesChanged() {
    if (fuelmapeditor_ != nullptr && (boundImage_ == nullptr || boundImage_ != ImageOf(boundTab_))) {
        for (MapTabPanel* p : {fuel_.data(), ignition_.data()}) {
            if (p == nullptr || p->Tab() != boundTab_) continue;
            p->Leave();
            p->Grid()->Marker(0)->SetVisible(false);
            p->Grid()->Marker(1)->SetVisible(false);
        }
        DroppingEditor(false);
        fuelmapeditor_.reset();
        boundImage_ = nullptr;
    }
    // The tab on show follows a new image of its own at once.
    for (MapTabPanel* p : {fuel_.data(), ignition_.data()})
        if (p != nullptr && p->isVisible() && p->FilledFrom() != ImageOf(p->Tab())) p->FillMapList();
    emit ImagesReplaced();
}

void MapTabs::PauseTraces() {
    paused_ = true;
    for (MapTabPanel* p : {fuel_.data(), ignition_.data()})
        if (p != nullptr) p->UpdateTraceTimer();
}

void MapTabs::ResumeTraces() {
    paused_ = false;
    for (MapTabPanel* p : {fuel_.data(), ignition_.data()})
        if (p != nullptr) p->UpdateTraceTimer();
}

} // namespace kv
