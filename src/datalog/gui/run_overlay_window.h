#pragma once
// "Show on map…" of a run's popup menu: a dialog asks for the map (of the loaded images, those a
// run can be laid over) and the column (the mixture at first), then a window shows that map's
// grid with the run's cell statistics laid over it as a view. The caption names the run and the
// column; "Hide run overlay" shows the map's own values beneath, and closing the window removes
// the overlay. Nothing in the window edits the map.
#include "datalog/run_overlay.h"
#include "maps/gui/grid_overlay.h"

#include <QDialog>
#include <QWidget>

#include <string>

class QComboBox;
class QLabel;
class QPushButton;

namespace kv {

class EPROM;
class LogRun;
class QtMapGrid;
class SettingsStore;
class UserMessages;
struct MapDefinition;

// The overlay as the grid reads it.
class RunOverlayLayer final : public GridOverlay {
public:
    explicit RunOverlayLayer(RunOverlay overlay) : overlay_(std::move(overlay)) {}
    GridOverlayCell Cell(int row, int col) const override;
    const RunOverlay& Overlay() const { return overlay_; }

private:
    RunOverlay overlay_;
};

class RunOverlayWindow final : public QWidget {
    Q_OBJECT
public:
    // Shows `definition`'s map of `image` with `overlay` over it. The map's values are read once,
    // here: the window keeps no hold on the image.
    RunOverlayWindow(EPROM& image, const MapDefinition& definition, RunOverlay overlay, QWidget* parent = nullptr);

    QtMapGrid* Grid() const { return grid_; }
    bool OverlayShown() const;

private:
    RunOverlayLayer layer_;
    QtMapGrid* grid_;
    QLabel* caption_;
    QPushButton* hide_;
};

// The dialog that asks for the map and the column.
class ShowOnMapDialog final : public QDialog {
    Q_OBJECT
public:
    ShowOnMapDialog(const std::vector<OverlayMap>& maps, const std::vector<std::string>& columns,
                    QWidget* parent = nullptr);
    int MapIndex() const;
    int ColumnIndex() const;

private:
    QComboBox* map_;
    QComboBox* column_;
};

struct RunOverlaySources {
    EPROM* fuel;
    EPROM* ignition;
    SettingsStore& settings; // autotune's bands
    UserMessages& messages;  // refusals
};

// Asks, and opens and shows the window (deleted when closed). Null when cancelled, or refused
// with the reason shown.
RunOverlayWindow* ShowRunOnMap(const LogRun& run, const std::string& runName, const RunOverlaySources& sources,
                               QWidget* parent);

} // namespace kv
