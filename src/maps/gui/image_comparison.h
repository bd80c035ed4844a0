#pragma once
// File > Compare with: one image of the window (fuel or ignition) compared with another image
// file of the same kind. The differing cells are framed in the map grid of the image's tab with
// the other file's text in their tool tips, following the map on show and the edits made to it;
// a summary window lists the differing maps (with their counts of cells) and parameters, and a
// double click on a map shows it. Closing the summary ends the comparison.
#include "maps/image_compare.h"

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace kv {

class EPROM;
struct EpromContext;
class FileDialogs;
class MapTabs;
class UserMessages;

// The file types offered when choosing the image to compare with.
inline constexpr const char* kCompareFileFilter = "EPROM images (*.bin)|*.bin";
inline constexpr const char* kCompareTitle = "Compare with";

// The summary window (frmCompare): the differing maps and parameters.
class ComparisonSummary final : public QDialog {
    Q_OBJECT
public:
    explicit ComparisonSummary(QWidget* parent = nullptr);
    // A setting of a parameter page that differs: its label and "text -> other text".
    struct SettingRow {
        std::string label;
        std::string change;
    };
    // Shows the comparison of the image `imageName` with the file `otherName`, the differing
    // settings of the parameter page listed after the maps.
    void Show(const std::string& imageName, const std::string& otherName, const ImageComparison& comparison,
              const std::vector<SettingRow>& settings = {});
    QTreeWidget* List() const { return list_; }
    QLabel* Caption() const { return caption_; }
    // The list entry of a map (null when the map does not differ).
    QTreeWidgetItem* MapItem(const std::string& name) const;

signals:
    void MapChosen(const QString& name);

private:
    QLabel* caption_;
    QTreeWidget* list_;
};

class ImageComparisonView final : public QObject {
    Q_OBJECT
public:
    struct Services {
        MapTabs* tabs = nullptr;
        FileDialogs* files = nullptr;
        UserMessages* messages = nullptr;
        // Brings the map tab on show (its list filled from the image).
        std::function<void(MapTab)> showTab;
        // The parent of the summary window.
        QWidget* window = nullptr;
        // The differing settings of the parameter pages of the two images (none when empty).
        std::function<std::vector<ComparisonSummary::SettingRow>(EPROM& image, EPROM& other)> settings;
    };
    explicit ImageComparisonView(Services services, QObject* parent = nullptr);
    ~ImageComparisonView() override;

    // Asks for the file to compare the tab's image with, then compares; false when cancelled or
    // refused (an earlier comparison then stays as it was).
    bool Start(MapTab tab);
    // Compares the tab's image with the image file at `path`; a file that cannot be read or holds
    // an image of another kind is refused with a message, and nothing changes.
    bool CompareWith(MapTab tab, const std::string& path);
    // Removes every mark and closes the summary.
    void End();

    bool Active() const { return other_ != nullptr; }
    MapTab Tab() const { return tab_; }
    const ImageComparison& Result() const { return comparison_; }
    ComparisonSummary* Summary() const { return summary_; }
    // Shows a differing map in its tab.
    void ShowMap(const std::string& name);
    // The image file compared with (null when no comparison is active) and its file name.
    EPROM* Other() const { return other_.get(); }
    const std::string& OtherName() const { return otherName_; }
    // Lists the differences again (after a change of a parameter).
    void RefreshSummary();

signals:
    void ActiveChanged(bool active);
    // A comparison was made (the first or one replacing another).
    void Compared(MapTab tab);

private:
    void MarkShownMap();
    void UpdateShownMap();
    void Unmark(MapTab tab);
    // The compared image's file name, or which image it is when it has none.
    std::string ImageName() const;

    Services s_;
    MapTab tab_ = MapTab::Fuel;
    const EPROM* image_ = nullptr;
    std::unique_ptr<EpromContext> otherContext_;
    std::unique_ptr<EPROM> other_;
    std::string otherName_;
    ImageComparison comparison_;
    QPointer<ComparisonSummary> summary_;
    bool updatePending_ = false;
};

} // namespace kv
