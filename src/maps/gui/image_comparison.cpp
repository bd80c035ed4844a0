#include "maps/gui/image_comparison.h"

#include "eprom/eprom_image.h"
#include "maps/gui/beside.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"

#include <QHeaderView>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace kv {

namespace {

constexpr int kMapRole = Qt::UserRole + 1; // the map's list text on a map entry

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string FileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string Count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

// --- summary ---

ComparisonSummary::ComparisonSummary(QWidget* parent) : QDialog(parent) {
    setObjectName("frmCompare");
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    caption_->setObjectName("lblCompare");
    caption_->setWordWrap(true);
    list_ = new QTreeWidget(this);
    list_->setObjectName("lstCompare");
    list_->setColumnCount(2);
    list_->setHeaderLabels({"Map or parameter", "Differences"});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    list_->setTextElideMode(Qt::ElideRight);
    layout->addWidget(caption_);
    layout->addWidget(list_, 1);
    auto* help = new QLabel("Double-click a map to show it. Closing this window ends the comparison.", this);
    help->setWordWrap(true);
    layout->addWidget(help);
    resize(560, 420);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        const QVariant map = item->data(0, kMapRole);
        if (map.isValid()) emit MapChosen(map.toString());
    });
}

void ComparisonSummary::Show(const std::string& imageName, const std::string& otherName,
                             const ImageComparison& comparison, const std::vector<SettingRow>& settings) {
    setWindowTitle(Q("Comparison of " + imageName + " with " + otherName));
    if (comparison.Equal())
        caption_->setText(Q(imageName + " and " + otherName + " do not differ."));
    else
        caption_->setText(Q(imageName + " and " + otherName + " differ in " +
                            Count(comparison.maps.size(), "map", "maps") +
                            (settings.empty() ? "" : ", " + Count(settings.size(), "page setting", "page settings")) +
                            " and " + Count(comparison.parameters.size(), "parameter", "parameters") + "."));
    list_->clear();
    for (const auto& map : comparison.maps) {
        auto* item = new QTreeWidgetItem(list_, {Q(map.name), Q(Count(map.cells.size(), "cell", "cells"))});
        item->setData(0, kMapRole, Q(map.name));
    }
    for (const auto& s : settings) {
        auto* item = new QTreeWidgetItem(list_, {Q(s.label), Q(s.change)});
        item->setToolTip(0, Q(s.label));
    }
    // Long setting names are cut short (their tool tips hold them whole), so that the
    // differences stay in view.
    list_->resizeColumnToContents(0);
    list_->setColumnWidth(0, std::min(list_->columnWidth(0), width() * 3 / 5));
    for (const auto& p : comparison.parameters)
        new QTreeWidgetItem(list_,
                            {Q("Parameter " + std::to_string(p.entry) + " (address " + std::to_string(p.address) + ")"),
                             Q(p.bytes + " -> " + p.otherBytes)});
}

QTreeWidgetItem* ComparisonSummary::MapItem(const std::string& name) const {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (item->data(0, kMapRole).toString() == Q(name)) return item;
    }
    return nullptr;
}

// --- the comparison ---

ImageComparisonView::ImageComparisonView(Services services, QObject* parent)
    : QObject(parent), s_(std::move(services)) {
    connect(s_.tabs, &MapTabs::MapShown, this, [this](MapTab tab) {
        if (Active() && tab == tab_) MarkShownMap();
    });
    connect(s_.tabs, &MapTabs::CellEdited, this, [this](MapTab tab) {
        if (!Active() || tab != tab_ || updatePending_) return;
        // A paste stores many cells: the map is compared again once they are all in.
        updatePending_ = true;
        QTimer::singleShot(0, this, [this] {
            updatePending_ = false;
            if (Active()) UpdateShownMap();
        });
    });
    connect(s_.tabs, &MapTabs::ImagesReplaced, this, [this] {
        // The compared image left its slot: its marks no longer belong to what is shown.
        if (Active() && s_.tabs->ImageOf(tab_) != image_) End();
    });
}

ImageComparisonView::~ImageComparisonView() {
    if (summary_ != nullptr) {
        disconnect(summary_, nullptr, this, nullptr);
        delete summary_.data();
    }
}

bool ImageComparisonView::Start(MapTab tab) {
    if (s_.tabs->ImageOf(tab) == nullptr) return false;
    const auto file = s_.files->OpenFileDialog(kCompareTitle, kCompareFileFilter, 1);
    if (!file || file->path.empty()) return false;
    return CompareWith(tab, file->path);
}

bool ImageComparisonView::CompareWith(MapTab tab, const std::string& path) {
    EPROM* image = s_.tabs->ImageOf(tab);
    if (image == nullptr) return false;
    auto refuse = [this, &path](const std::string& why) {
        s_.messages->MessageBox(path + " cannot be compared:\r\n" + why, kCompareTitle, MsgButtons::OK,
                                MsgIcon::Warning);
        return false;
    };
    auto context = std::make_unique<EpromContext>();
    auto other = std::make_unique<EPROM>(*context);
    if (const std::string message = other->LoadFromFile(path); !message.empty()) return refuse(message);
    context->wordBigEndian = other->GetCreator() != 2;
    Parsed<ImageComparison> comparison = CompareImages(*image, *other);
    if (!comparison) return refuse(comparison.Error());

    const bool wasActive = Active();
    if (wasActive) Unmark(tab_);
    tab_ = tab;
    image_ = image;
    otherContext_ = std::move(context);
    other_ = std::move(other);
    otherName_ = FileNameOf(path);
    comparison_ = std::move(*comparison);
    if (summary_ == nullptr) {
        summary_ = new ComparisonSummary(s_.window);
        summary_->setWindowFlag(Qt::Window);
        connect(summary_, &ComparisonSummary::MapChosen, this,
                [this](const QString& name) { ShowMap(name.toStdString()); });
        connect(summary_, &QDialog::finished, this, [this] { End(); });
    }
    RefreshSummary();
    if (!summary_->isVisible())
        if (MapTabPanel* panel = tab == MapTab::Fuel ? s_.tabs->Fuel() : s_.tabs->Ignition())
            PlaceBeside(*summary_, *panel->Grid());
    summary_->show();
    summary_->raise();
    MarkShownMap();
    if (!wasActive) emit ActiveChanged(true);
    emit Compared(tab_);
    return true;
}

void ImageComparisonView::RefreshSummary() {
    if (!Active() || summary_ == nullptr) return;
    std::vector<ComparisonSummary::SettingRow> settings;
    EPROM* image = s_.tabs->ImageOf(tab_);
    if (s_.settings && image != nullptr && image == image_) settings = s_.settings(*image, *other_);
    summary_->Show(ImageName(), otherName_, comparison_, settings);
}

void ImageComparisonView::End() {
    if (!Active()) return;
    Unmark(tab_);
    other_.reset();
    otherContext_.reset();
    image_ = nullptr;
    comparison_ = {};
    if (summary_ != nullptr) {
        ComparisonSummary* summary = summary_;
        summary_ = nullptr;
        disconnect(summary, nullptr, this, nullptr);
        summary->close();
        summary->deleteLater();
    }
    emit ActiveChanged(false);
}

std::string ImageComparisonView::ImageName() const {
    if (image_ == nullptr || image_->GetFileName().empty())
        return tab_ == MapTab::Fuel ? "the fuel image" : "the ignition image";
    return FileNameOf(image_->GetFileName());
}

void ImageComparisonView::Unmark(MapTab tab) {
    MapTabPanel* panel = tab == MapTab::Fuel ? s_.tabs->Fuel() : s_.tabs->Ignition();
    if (panel != nullptr) panel->Grid()->SetComparedCells({});
}

void ImageComparisonView::MarkShownMap() {
    MapTabPanel* panel = tab_ == MapTab::Fuel ? s_.tabs->Fuel() : s_.tabs->Ignition();
    if (panel == nullptr) return;
    QtMapGrid* grid = panel->Grid();
    QtMapGrid::ComparedCells cells;
    const std::string name = panel->CurrentMap();
    for (const auto& map : comparison_.maps) {
        if (map.name != name) continue;
        for (const auto& cell : map.cells)
            cells[{grid->FixedRows() + cell.row, grid->FixedCols() + cell.col}] =
                Q("In " + otherName_ + ": " + cell.otherText);
    }
    grid->SetComparedCells(std::move(cells));
}

void ImageComparisonView::UpdateShownMap() {
    MapTabPanel* panel = tab_ == MapTab::Fuel ? s_.tabs->Fuel() : s_.tabs->Ignition();
    EPROM* image = s_.tabs->ImageOf(tab_);
    if (panel == nullptr || image == nullptr || image != image_) return;
    const std::string name = panel->CurrentMap();
    const MapDefinition* definition = FindMapDefinition(tab_, name);
    if (definition == nullptr) return;
    std::vector<CellDifference> cells = CompareMap(*image, *other_, *definition);
    // The maps stay in the order of the image's map list.
    std::vector<MapDifference> maps;
    for (auto listed : MapListForImage(*image)) {
        if (listed == name) {
            if (!cells.empty()) maps.push_back({name, std::move(cells)});
            continue;
        }
        for (auto& map : comparison_.maps)
            if (map.name == listed) maps.push_back(std::move(map));
    }
    comparison_.maps = std::move(maps);
    if (summary_ != nullptr) RefreshSummary();
    MarkShownMap();
}

void ImageComparisonView::ShowMap(const std::string& name) {
    if (!Active()) return;
    if (s_.showTab) s_.showTab(tab_);
    MapTabPanel* panel = tab_ == MapTab::Fuel ? s_.tabs->Fuel() : s_.tabs->Ignition();
    if (panel != nullptr) panel->ChooseMap(name);
}

} // namespace kv
