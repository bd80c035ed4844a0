#pragma once
// The "Fuel maps" and "Ignition maps" panels of the main window and what they share: the one
// table editor of the window (fuelmapeditor), re-created on every map selection and bound to the
// grid of the tab whose map was chosen last; the Edit menu's Copy and Paste while a map grid has
// the focus; the operating-point trace of the tab on show.
#include "maps/gui/map_chart.h"
#include "maps/map_definitions.h"
#include "maps/map_trace.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kv {

class AuxInputs;
class CellInput;
class Clock;
class EPROM;
class QtCellInput;
class QtMapGrid;
class TableEditor;
class Clipboard;
class ProgressDisplay;
class UserMessages;

// What the map tabs need of the program. Every pointer must outlive the tabs.
struct MapTabServices {
    // The images in their slots now (null when the slot is empty); asked anew every time, since
    // loading an image puts a new object into the slot.
    std::function<EPROM*()> fuelImage;
    std::function<EPROM*()> ignitionImage;
    TraceDevice* device = nullptr;
    // The editor's questions and typed values, its hourglass, and Edit > Copy / Paste.
    UserMessages* messages = nullptr;
    ProgressDisplay* progress = nullptr;
    Clipboard* clipboard = nullptr;
    Clock* clock = nullptr;
    const AuxInputs* aux = nullptr;
    // The typed-value dialog; null = the "Edit cell" dialog (frmCellInput).
    CellInput* cellInput = nullptr;
    // The ignition-on check of the main window: register a control of a tab, disabled while the
    // ignition is off unless the tab's image is edited offline (returns its number), forget it,
    // start the check (remembered state "on", one check at once), stop it (re-enabling what it
    // disabled).
    std::function<int(QWidget*, MapTab)> registerIgnitionDependent;
    std::function<void(int)> unregisterIgnitionDependent;
    std::function<void()> startIgnitionCheck;
    std::function<void()> stopIgnitionCheck;
    // The knock sound (ignition tab) and the knock counter shared with the ignition monitor
    // (null: the trace keeps its own).
    std::function<void()> playKnock;
    KnockCountState* knock = nullptr;
    // ChangeCellValue of the editor: map X, map Y, stored value.
    std::function<void(int, int, std::int32_t)> onChangeCellValue;
    // Every fuel trace sample with a record (live autotune).
    std::function<void(const TraceSample&)> onFuelTraceSample;
    // cmdAutotune; the button is hidden while nothing handles it.
    std::function<void()> onAutotune;
    // The editor is about to be dropped (another map chosen, or its image left the slot); true
    // when its image is still the one in the slot and may be written.
    std::function<void(bool imageInSlot)> onEditorDropped;
    // Edit > Copy and Edit > Paste of the main window (may be null).
    QAction* editCopy = nullptr;
    QAction* editPaste = nullptr;
};

class MapTabs;

// One map tab.
class MapTabPanel final : public QWidget {
    Q_OBJECT
public:
    MapTabPanel(MapTab tab, MapTabs& tabs, QWidget* parent = nullptr);
    ~MapTabPanel() override;

    // FillFuelMapList / FillIgnitionMapList: the enter action of the tab.
    void FillMapList();
    // SelectFuelMap / SelectIgnitionMap: the list's selected text chosen.
    void SelectMap();
    // LeaveFuelMapTab / LeaveIgnitionMapTab.
    void Leave();
    // Holds the map on show (its list disabled): while held, entering the tab again goes on
    // with the editor and its cell colours instead of choosing the map anew, as long as the
    // tab's image is the one the list was filled from.
    void HoldMap(bool held);
    bool MapHeld() const { return held_; }

    MapTab Tab() const { return tab_; }
    QComboBox* MapList() const { return mapSel_; }
    // The map chosen in the list (empty when none).
    std::string CurrentMap() const;
    // Chooses the map listed under `name`; false when the list has no such map.
    bool ChooseMap(const std::string& name);
    QtMapGrid* Grid() const { return grid_; }
    MapChartView* Chart() const { return chart_; }
    QTimer* TraceTimer() const { return traceTimer_; }
    bool ChartView() const;
    void SetChartView(bool chart);
    bool AtOperatingPoint() const;
    void SetAtOperatingPoint(bool op);
    bool MapUsed() const { return mapUsed_; }
    // A key character of the grid, as the window's key mapping hands it to the editor; true
    // when the editor took it.
    bool GridKeyPress(char key);
    bool GridKeyDown(int keyCode, int shift);
    // One tick of the trace timer (also run by tests).
    void TraceTick();
    // The trace timer runs while a map's trace is configured and the traces are not paused.
    void UpdateTraceTimer();
    bool TraceWanted() const { return traceWanted_; }
    // The image the list was last filled from.
    const EPROM* FilledFrom() const { return filledImage_; }

private:
    QPushButton* Button(const char* name, const QString& caption, char letter);
    void ShowTraceCaptions(const TraceSample& sample);
    void ClearTraceCaptions();
    EPROM* Image() const;
    // The enter action on a held map: the trace of the editor that is there starts again.
    void ResumeHeldMap(EPROM& image);
    void RegisterIgnitionDependents();

    MapTab tab_;
    MapTabs& tabs_;
    bool filling_ = false;
    bool held_ = false;
    bool mapUsed_ = false;
    bool traceWanted_ = false;
    const EPROM* filledImage_ = nullptr;
    std::vector<int> ignitionIds_;
    MapTrace trace_;
    QComboBox* mapSel_;
    QtMapGrid* grid_;
    MapChartView* chart_;
    QRadioButton* viewTable_;
    QRadioButton* viewChart_;
    QGroupBox* fraButtons_;
    QRadioButton* cellManual_;
    QRadioButton* cellOp_;
    std::vector<QPushButton*> stepButtons_; // Inc1, Dec1, Inc2, Dec2 (+ IncPercent, DecPercent)
    QPushButton* cmdAutotune_ = nullptr;
    QPushButton* cmdResetKnock_ = nullptr;
    QLabel* lblXAxis_;
    QLabel* lblYAxis_;
    QLabel* lblHelp_;
    QLabel* lblWarning_;
    QLabel* lblAfr_ = nullptr;
    QLabel* lblEqR_ = nullptr;
    QLabel* lblO2_ = nullptr;
    QLabel* lblAdv_ = nullptr;
    QLabel* lblKnock_ = nullptr;
    QTimer* traceTimer_;
};

class MapTabs final : public QObject {
    Q_OBJECT
public:
    // `fuelmapeditor` is the main window's editor slot.
    MapTabs(std::unique_ptr<TableEditor>& fuelmapeditor, MapTabServices services, QObject* parent = nullptr);
    ~MapTabs() override;

    MapTabPanel* Fuel() const { return fuel_; }
    MapTabPanel* Ignition() const { return ignition_; }
    // Builds the panels (they are parented by whoever shows them).
    void CreatePanels();

    // The images in the slots changed: an editor or a trace of a replaced image is dropped, and
    // a map tab on show fills its list again from the new image.
    void ImagesChanged();
    // While other work talks to the device at length (image loads, firmware) the traces pause.
    void PauseTraces();
    void ResumeTraces();
    // Value colours on both map grids (see QtMapGrid::SetValueColours).
    void SetValueColours(bool on);
    bool TracesPaused() const { return paused_; }

signals:
    // A map was chosen on the tab and drawn into its grid (or the grid emptied).
    void MapShown(kv::MapTab tab);
    // A cell of the map on show was stored by the editor.
    void CellEdited(kv::MapTab tab);
    // The images in the slots changed.
    void ImagesReplaced();

public:
    // The editor when it is bound to a live image (null otherwise).
    TableEditor* Editor();
    // The editor belongs to the tab's current image.
    bool EditorIsFor(MapTab tab) const;
    // A new editor for the tab's grid and image (the old one is dropped).
    TableEditor& NewEditor(MapTab tab, QtMapGrid& grid);

    EPROM* ImageOf(MapTab tab) const;
    const MapTabServices& Services() const { return services_; }
    MapCharting& Charting() { return charting_; }
    CellInput* CellInputSeam();

private:
    void UpdateEditActions();
    // Tells onEditorDropped before the editor goes.
    void DroppingEditor(bool imageInSlot);

    std::unique_ptr<TableEditor>& fuelmapeditor_;
    MapTabServices services_;
    MapTab boundTab_ = MapTab::Fuel;
    const EPROM* boundImage_ = nullptr;
    bool paused_ = false;
    std::unique_ptr<QtCellInput> ownCellInput_;
    MapCharting charting_;
    QPointer<MapTabPanel> fuel_;
    QPointer<MapTabPanel> ignition_;
    QPointer<QWidget> fuelGrid_;
    QPointer<QWidget> ignitionGrid_;
    QPointer<QAction> editCopy_;
    QPointer<QAction> editPaste_;
};

} // namespace kv
