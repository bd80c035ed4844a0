#include "app/gui/compare_menu.h"

#include "app/gui/main_window.h"
#include "maps/gui/image_comparison.h"
#include "maps/gui/map_tabs.h"

#include <QAction>

namespace kv {

void InstallImageComparison(MainWindow& window, FileDialogs& files, UserMessages& messages) {
    if (window.Maps() == nullptr) return;
    ImageComparisonView::Services s;
    s.tabs = window.Maps();
    s.files = &files;
    s.messages = &messages;
    s.showTab = [&window](MapTab tab) { window.SelectTab(tab == MapTab::Fuel ? "FuelMap" : "IgnMap"); };
    s.window = &window;
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
}

} // namespace kv
