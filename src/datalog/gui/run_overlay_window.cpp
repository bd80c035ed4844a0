#include "datalog/gui/run_overlay_window.h"

#include "eprom/eprom_image.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/map_definitions.h"
#include "maps/rendered_map.h"
#include "maps/table_editor.h"
#include "platform/messages.h"
#include "platform/silent_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

namespace {

constexpr const char* kTitle = "Kestrovane";
constexpr const char* kHideCaption = "&Hide run overlay";
constexpr const char* kShowCaption = "S&how run overlay";
// Room left and right of a mean in its cell, pixels.
constexpr int kCellPadding = 6;
// The window: at least this wide, and wide enough for the grid with its frame and scroll bar.
constexpr int kLeastWidth = 640;
constexpr int kFrameRoom = 48;
constexpr int kHeight = 460;

QString Text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

GridOverlayCell RunOverlayLayer::Cell(int row, int col) const {
    if (row < 0 || col < 0 || row >= overlay_.rows || col >= overlay_.cols) return {};
    const OverlayCell& cell = overlay_.At(row, col);
    GridOverlayCell out{Text(cell.text), Text(cell.tip), QColor()};
    if (cell.colour) {
        const std::uint32_t c = *cell.colour;
        out.background =
            QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
    }
    return out;
}

RunOverlayWindow::RunOverlayWindow(EPROM& image, const MapDefinition& definition, RunOverlay overlay, QWidget* parent)
    : QWidget(parent, Qt::Window), layer_(std::move(overlay)) {
    setObjectName("frmRunOverlay");
    setAttribute(Qt::WA_DeleteOnClose);
    // The cells' tips show while the user works in the main window beside it.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setWindowTitle("Run overlay - " + Text(layer_.Overlay().caption));
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    caption_->setObjectName("lblRunOverlay");
    caption_->setText("<b>" + Text(layer_.Overlay().caption).toHtmlEscaped() + "</b><br>" +
                      Text(layer_.Overlay().summary).toHtmlEscaped());
    grid_ = new QtMapGrid("RunOverlayMap", "RunOverlayOPIndicator", this);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    {
        // An editor only lays the map out; nothing here edits it.
        SilentDialogs dialogs;
        TableEditor editor(dialogs, dialogs, dialogs);
        editor.SetEPROM(&image);
        editor.SetControl(grid_);
        ConfigureEditor(editor, MapTabOf(image), &definition, image.GetECUType());
        editor.RenderTable();
    }
    grid_->SetOverlay(&layer_);
    // The means take more room than the map's own numbers: the columns are widened to the widest.
    int widest = 0;
    for (int r = 0; r < layer_.Overlay().rows; ++r)
        for (int c = 0; c < layer_.Overlay().cols; ++c)
            widest = std::max(widest, grid_->fontMetrics().horizontalAdvance(layer_.Cell(r, c).text));
    const int columnTwips = (widest + 2 * kCellPadding) * kTwipsPerPixel;
    for (int c = grid_->FixedCols(); c < grid_->Cols(); ++c)
        if (grid_->ColWidth(c) < columnTwips) grid_->SetColWidth(c, columnTwips);

    hide_ = new QPushButton(kHideCaption, this);
    hide_->setObjectName("cmdRunOverlayHide");
    hide_->setCheckable(true);
    auto* close = new QPushButton("&Close", this);
    close->setObjectName("cmdRunOverlayClose");
    connect(hide_, &QPushButton::toggled, this, [this](bool hidden) {
        grid_->SetOverlay(hidden ? nullptr : &layer_);
        hide_->setText(hidden ? kShowCaption : kHideCaption);
    });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(hide_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addWidget(caption_);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
    int cellsWidth = 0;
    for (int c = 0; c < grid_->Cols(); ++c) cellsWidth += grid_->ColWidth(c) / kTwipsPerPixel;
    resize(std::max(kLeastWidth, cellsWidth + kFrameRoom), kHeight);
}

bool RunOverlayWindow::OverlayShown() const { return grid_->Overlay() != nullptr; }

ShowOnMapDialog::ShowOnMapDialog(const std::vector<OverlayMap>& maps, const std::vector<std::string>& columns,
                                 QWidget* parent)
    : QDialog(parent) {
    setObjectName("frmShowOnMap");
    setWindowTitle("Show on map");
    map_ = new QComboBox(this);
    map_->setObjectName("cmbOverlayMap");
    for (const OverlayMap& m : maps) map_->addItem(Text(m.name));
    column_ = new QComboBox(this);
    column_->setObjectName("cmbOverlayColumn");
    for (const std::string& c : columns) column_->addItem(Text(c));
    column_->setCurrentIndex(DefaultOverlayColumn(columns));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow("&Map:", map_);
    form->addRow("C&olumn:", column_);
    form->addRow(buttons);
}

int ShowOnMapDialog::MapIndex() const { return map_->currentIndex(); }

int ShowOnMapDialog::ColumnIndex() const { return column_->currentIndex(); }

RunOverlayWindow* ShowRunOnMap(const LogRun& run, const std::string& runName, const RunOverlaySources& sources,
                               QWidget* parent) {
    const std::vector<OverlayMap> maps = OverlayMaps(run, sources.fuel, sources.ignition);
    if (maps.empty()) {
        sources.messages.MessageBox("No map of the loaded images lies over the columns of this run.", kTitle,
                                    MsgButtons::OK, MsgIcon::Information);
        return nullptr;
    }
    const std::vector<std::string> columns = OverlayColumns(run);
    if (columns.empty()) {
        sources.messages.MessageBox("The run has no columns to show.", kTitle, MsgButtons::OK, MsgIcon::Information);
        return nullptr;
    }
    ShowOnMapDialog dialog(maps, columns, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.MapIndex() < 0 || dialog.ColumnIndex() < 0) return nullptr;
    const OverlayMap& chosen = maps[static_cast<std::size_t>(dialog.MapIndex())];
    const MapDefinition* definition = FindMapDefinition(MapTabOf(*chosen.image), chosen.name);
    if (definition == nullptr) return nullptr;
    RenderedMap rendered(*chosen.image, *definition);
    Parsed<RunOverlay> overlay = MakeRunOverlay(run, runName, rendered.editor, chosen.name,
                                                columns[static_cast<std::size_t>(dialog.ColumnIndex())],
                                                SavedBands(sources.settings, chosen.name));
    if (!overlay) {
        sources.messages.MessageBox(overlay.Error(), kTitle, MsgButtons::OK, MsgIcon::Warning);
        return nullptr;
    }
    auto* window = new RunOverlayWindow(*chosen.image, *definition, std::move(*overlay), parent);
    window->show();
    return window;
}

} // namespace kv
