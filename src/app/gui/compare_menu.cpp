#include "app/gui/compare_menu.h"

#include "app/gui/main_window.h"
#include "maps/gui/image_comparison.h"
#include "maps/gui/map_tabs.h"
#include "params/gui/param_panel.h"
#include "params/param_compare.h"

#include <QAction>

namespace kv {

namespace {

// The parameter panels of a slot: its two units' pages.
std::vector<ParamPanel*> ParamPanelsOf(MainWindow& window, MapTab tab) {
    std::vector<ParamPanel*> panels;
    const auto names = tab == MapTab::Fuel ? std::vector<const char*>{"fraParametersPanel", "fraParametersLH22Panel"}
                                           : std::vector<const char*>{"fraParametersEZKPanel", "fraParametersEZFPanel"};
    for (const char* name : names)
        if (auto* panel = window.findChild<ParamPanel*>(name)) panels.push_back(panel);
    return panels;
}

std::vector<ComparisonSummary::SettingRow> SettingRows(EPROM& image, EPROM& other) {
    std::vector<ComparisonSummary::SettingRow> rows;
    const auto page = MakeParamPage(image, {});
    const auto otherPage = MakeParamPage(other, {});
    if (!page || !otherPage) return rows;
    page->Load();
    otherPage->Load();
    for (const SettingDifference& d : CompareSettings(*page, *otherPage))
        rows.push_back({d.label, d.text + " -> " + d.otherText});
    return rows;
}

} // namespace

void InstallImageComparison(MainWindow& window, FileDialogs& files, UserMessages& messages) {
    if (window.Maps() == nullptr) return;
    ImageComparisonView::Services s;
    s.tabs = window.Maps();
    s.files = &files;
    s.messages = &messages;
    s.showTab = [&window](MapTab tab) { window.SelectTab(tab == MapTab::Fuel ? "FuelMap" : "IgnMap"); };
    s.window = &window;
    s.settings = SettingRows;
    auto* comparison = new ImageComparisonView(std::move(s), &window);
    comparison->setObjectName("ImageComparison");
    if (QAction* a = window.Action("mnuFileCompareInj"))
        QObject::connect(a, &QAction::triggered, comparison, [comparison] { comparison->Start(MapTab::Fuel); });
    if (QAction* a = window.Action("mnuFileCompareIgn"))
        QObject::connect(a, &QAction::triggered, comparison, [comparison] { comparison->Start(MapTab::Ignition); });
    if (QAction* end = window.Action("mnuFileCompareEnd")) {
        QObject::connect(end, &QAction::triggered, comparison, [comparison] { comparison->End(); });
        QObject::connect(comparison, &ImageComparisonView::ActiveChanged, end, &QAction::setEnabled);
    }
    // The parameter pages mark their differing settings, and their changes update the summary.
    for (MapTab tab : {MapTab::Fuel, MapTab::Ignition})
        for (ParamPanel* panel : ParamPanelsOf(window, tab))
            QObject::connect(panel, &ParamPanel::SettingChanged, comparison, [comparison, tab] {
                if (comparison->Active() && comparison->Tab() == tab) comparison->RefreshSummary();
            });
    QObject::connect(comparison, &ImageComparisonView::Compared, &window, [&window, comparison](MapTab compared) {
        for (MapTab tab : {MapTab::Fuel, MapTab::Ignition})
            for (ParamPanel* panel : ParamPanelsOf(window, tab))
                panel->CompareWith(tab == compared ? comparison->Other() : nullptr, comparison->OtherName());
    });
    QObject::connect(comparison, &ImageComparisonView::ActiveChanged, &window, [&window](bool active) {
        if (active) return;
        for (MapTab tab : {MapTab::Fuel, MapTab::Ignition})
            for (ParamPanel* panel : ParamPanelsOf(window, tab)) panel->CompareWith(nullptr, {});
    });
}

} // namespace kv
