#pragma once
// frmMain: the main window with the tab strip tbsMain, one page per tab, the File, Tools and
// Help menus, the connection indicator in the status bar and the two device timers.
#include "app/core/connection_monitor.h"
#include "app/core/workflow_view.h"

#include <QMainWindow>
#include <QPointer>
#include <QSize>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QStackedWidget;
class QTabBar;
class QTimer;

namespace kv {

class EPROM;
class EpromPage;
class HistoryWindow;
class UndoStacks;
class MapTabs;
class TableEditor;
class SimulatedBackend;
class Shell;
class TabPage;

class MainWindow final : public QMainWindow, public ConnectionIndicator {
    Q_OBJECT
public:
    // `sim` is the simulated device in simulate mode, else null.
    MainWindow(Shell& shell, SimulatedBackend* sim, QWidget* parent = nullptr);
    ~MainWindow() override;

    // --- for the shell ---
    void ShowTabs(const std::vector<TabSlot>& tabs, TabState state);
    void ShowInfoLine(const InfoLine& line);
    void SetSaveMenus(bool fuelLoaded, bool ignitionLoaded);
    void ShowRecentFiles(const std::array<std::string, kRecentFileCount>& captions);
    std::optional<NewImageChoice> RunNewImageDialog(const NewImageChoice& initial);
    void ImagesChanged();
    void EnterSelectedTab();
    void LeaveSelectedTab();
    int WindowStateNumber() const;
    // Resizes the window to `size`, made smaller where needed to fit the screen it opens on.
    void ResizeOnScreen(QSize size);
    // Puts the window's top left corner at `position` when its top edge (where the title bar is)
    // then shows on a screen; false, and the window stays, when it would not.
    bool PlaceOnScreen(QPoint position);
    // The size the window opens with at its first start: room for a 16 x 16 map beside its
    // controls and the whole ignition monitor (on screens that have it).
    static constexpr QSize kFirstSize{1280, 880};
    // Starts the quick-ping and ignition timers (after start-up, once the firmware check is done).
    void StartDeviceTimers();
    void StopDeviceTimers();

    // ConnectionIndicator
    void ShowConnectionStatus(const std::string& text, bool error) override;
    // Shows or hides "not in the unit" in the status bar after the edits' confirmation changed.
    void RefreshUnconfirmedEdits();
    void ShowFirmwareVersion(const std::string& text) override;

    // A control that is disabled while the ignition is off (map tabs, parameter pages, monitor).
    // Returns its number for UnregisterIgnitionDependent.
    int RegisterIgnitionDependent(QWidget* control);
    // A control that edits the fuel (or the ignition) image: it follows the ignition while that
    // image is in its unit, and stays usable while the image is edited offline.
    int RegisterImageControl(QWidget* control, bool fuelImage);
    void UnregisterIgnitionDependent(int id);

    // The slot of the window's one table editor (fuelmapeditor), bound to the grid of the map
    // chosen last; the map tabs re-create it on every map selection.
    std::unique_ptr<TableEditor>& EditorSlot() { return fuelmapeditor_; }
    // The map tabs (rebound when the images change).
    void SetMapTabs(MapTabs* tabs) { mapTabs_ = tabs; }
    MapTabs* Maps() const { return mapTabs_; }

    // Tab keys in strip order, the selected key, and the page of a key.
    QStringList TabKeys() const;
    QString SelectedTabKey() const;
    TabPage* Page(const QString& key) const;
    void SelectTab(const QString& key);

    QTabBar* TabStrip() const { return tbsMain_; }
    QTimer* QuickPingTimer() const { return tmrQuickPing_; }
    QTimer* IgnitionTimer() const { return tmrIgnitionOnCheck_; }
    EpromPage* Eprom() const { return eprom_; }
    QAction* Action(const QString& objectName) const;
    // The View menu, for the pages to add their display options to.
    QMenu* ViewMenu() const;
    // The undo stacks of the images (Edit > Undo / Redo act on the image of the tab on show) and
    // Edit > History's window (null until first shown).
    UndoStacks* Undo() const { return undo_; }
    HistoryWindow* History() const { return history_; }

    // A page replaces the panel of its key (at first a placeholder page with the tab's caption).
    void SetPage(TabPage* page);

signals:
    // The user's close was accepted (the shell's questions are answered): work that is kept
    // between sessions is stored now.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildStatusBar(SimulatedBackend* sim);
    void OnTabChanged(int index);
    void RunFirmwareFromFile();
    void ShowOptions();
    void ShowAbout();
    void ShowHistory();
    // The undo stack of the image the selected tab shows becomes the active one.
    void FollowTabWithUndo();
    // An undo or redo changed the image's bytes: the map grid and the parameter page on show are
    // filled again.
    void ShowRestoredImage(EPROM* image);
    int Register(QWidget* control, std::function<bool()> followsIgnition);

    Shell& shell_;
    QTabBar* tbsMain_;
    QStackedWidget* panels_;
    EpromPage* eprom_;
    std::map<QString, TabPage*> pages_;
    QString selectedKey_;
    bool rebuildingTabs_ = false;
    QTimer* tmrQuickPing_;
    QTimer* tmrIgnitionOnCheck_;
    QLabel* lblConnection_;
    QLabel* lblNotInUnit_ = nullptr;
    QAction* mnuFileLoadIntoModule_ = nullptr;
    QAction* mnuFileSave_ = nullptr;
    QAction* mnuFileSaveInj_ = nullptr;
    QAction* mnuFileSaveIgn_ = nullptr;
    QAction* mnuFileSaveInjAs_ = nullptr;
    QAction* mnuFileSaveIgnAs_ = nullptr;
    std::array<QAction*, kRecentFileCount> mnuFileRecent_{};
    QAction* recentSeparator_ = nullptr;
    MapTabs* mapTabs_ = nullptr;
    UndoStacks* undo_ = nullptr;
    HistoryWindow* history_ = nullptr;
    std::unique_ptr<TableEditor> fuelmapeditor_;
    int pollingId_ = 0; // the window's timers in the shell's device polling
    bool timersRanBeforePause_ = false;
};

} // namespace kv
