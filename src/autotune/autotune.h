#pragma once
// Live autotune: while the car is driven, the fuel map trace hands every record to Sample(); the
// cell of the base fuel map under the operating point is coloured by how the measured air/fuel
// ratio compares with the target band of the throttle zone, and, once the operating point has
// been steady, moved towards the target through the table editor (and so into the image and the
// running unit like any manual edit). The cell states are the background colours of the editor's
// grid cells.
//
// Autotune also owns the state of its window ("Auto tune"): the texts of the target and error
// boxes, the enable boxes, which boxes can be edited, the status and the start/stop caption, and
// how many samples each guard dropped. The Qt window only mirrors these, so every workflow runs
// without widgets.
#include "eprom/ecu_type.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

class EPROM;
class EditStep;
class SettingsStore;
class TableEditor;
class UserMessages;

// Throttle zones, numbered as the trace's throttle states.
enum class AutotuneZone { Idle = 0, Cruise = 1, Wot = 2 };
inline constexpr int kAutotuneZoneCount = 3;

// The five cell states and their grid colours (0x00BBGGRR).
enum class CellState { NotVisited, Tuned, Rich, Lean, Forbidden };
std::uint32_t CellStateColour(CellState state);
// The state a grid colour stands for; nullopt for any other colour.
std::optional<CellState> CellStateOfColour(std::uint32_t colour);

inline constexpr const char* kAutotuneSettingsSection = "Autotune";
// The name of a run in the undo history.
inline constexpr const char* kAutotuneStepName = "Autotune";

// Keeps only the characters "0123456789." of a text (the text boxes' and the settings' filter).
std::string KeepNumberCharacters(std::string_view text);

// One zone's band after clamping: the target to 9..17; an error of 0 (or no number) to 0.1,
// below 0.05 to 0.05, above 1 to 1.0.
struct AutotuneBand {
    float target = 14.7f;
    float error = 0.1f;
    float low = 14.6f;
    float high = 14.8f;
};
AutotuneBand ClampBand(std::string_view targetText, std::string_view errorText);
// A clamped value as its box shows it: at least one decimal ("12.0", "14.75").
std::string BandText(float value);

// Gains of the corrections per zone (fraction of the relative error applied at once).
inline constexpr std::array<float, kAutotuneZoneCount> kLeanGain{0.2f, 0.3f, 0.5f};
inline constexpr std::array<float, kAutotuneZoneCount> kRichGain{0.1f, 0.2f, 0.3f};
// A transient starts this many unsettled samples.
inline constexpr int kSettleSamples = 10;

// Guards against samples that say nothing about the mixture.
inline constexpr double kCrankingRpm = 400.0;
inline constexpr const char* kWarmEngineKey = "WarmEngineC";
inline constexpr double kDefaultWarmEngineC = 70.0;
// A sample is judged only within this fraction of a cell of the nearest cell's grid point (in
// both directions): further away the engine's own breathing differs from the grid point's.
inline constexpr float kGridPointReach = 0.25f;
// After the operating point arrives at a grid point, or creeps further than kCreepLimit (a
// fraction of a cell) from where it arrived, this many samples are not judged: the gas at the
// wide-band sensor was burnt on the way there.
inline constexpr int kArrivalSamples = 10;
inline constexpr float kCreepLimit = 0.15f;
// The state of a cell follows the mean of up to this many recent samples at its grid point.
inline constexpr std::size_t kMeanSamples = 8;

// What the fuel map trace hands over on each tick with a record.
struct AutotuneSampleData {
    double x = 0;  // the rpm axis value of the map (the trace's rpm value)
    double y = 0;  // the load axis value of the map
    float afr = 0; // air/fuel ratio of the wide-band input
    int zone = 0;  // throttle state: 0 idle, 1 cruise (part load), 2 WOT
    bool transient = false;
    double rpm = 0;           // engine speed
    double coolantC = 0;      // coolant temperature
    bool afrAtLawEnd = false; // the wide-band reading lies at an end of its conversion law
};

struct TraceSample;
// The sample of one fuel trace record.
AutotuneSampleData AutotuneSampleFromTrace(const TraceSample& trace);

// How many samples each guard kept from being judged.
struct AutotuneGuardCounts {
    long sensor = 0;   // wide-band reading at an end of its law (warming up or unplugged)
    long cranking = 0; // engine speed below cranking speed
    long cold = 0;     // coolant below the warm-engine threshold
    long offGrid = 0;  // operating point too far from the nearest cell's grid point
    long arriving = 0; // operating point just arrived at the grid point
    long Total() const { return sensor + cranking + cold + offGrid + arriving; }
};

// What autotune needs of the main window beyond the editor and the image.
class AutotuneHost {
public:
    virtual ~AutotuneHost() = default;
    // The "FuelMap" tab is the selected tab.
    virtual bool FuelMapTabSelected() = 0;
    // The fuel map tab's map selector.
    virtual void SetMapSelectorEnabled(bool enabled) = 0;
    // Hands the editor the fuel map tab's two marker parts again (clearing the operating point).
    virtual void ResetOperatingPointMarker(TableEditor& editor) = 0;
    // A run started (true) or ended (false). While it runs its corrections are one open step of
    // the image's undo history: nothing can be undone or redone until it ends.
    virtual void RunningChanged(bool running) = 0;
};

class Autotune {
public:
    // All references must outlive this object.
    Autotune(UserMessages& messages, SettingsStore& settings, AutotuneHost& host);

    // --- the window ---
    // cmdAutotune: opens on the editor's map, which is listed as `mapName`, of `image` (the fuel
    // image). False with "Only the base fuel maps can be auto-tuned." for any other map.
    bool Open(TableEditor& editor, EPROM& image, std::string_view mapName);
    bool IsOpen() const { return editor_ != nullptr; }
    bool IsRunning() const { return running_; }
    // cmdStartStop.
    void StartStop();
    bool Start();
    void Stop();
    // cmdClose: refused (false) while running; otherwise every cell back to white, the map
    // selector enabled, the settings saved.
    bool Close();
    // The editor or the image went away under the window (another map, another image): the run
    // ends without touching either, the map selector is enabled and the settings are saved.
    void Abandon();
    // The editor the window works on and the image it writes into (null while closed).
    const TableEditor* Editor() const { return editor_; }
    const EPROM* Image() const { return image_; }
    // The three buttons of "Manipulate selected cells in map".
    void MarkSelected(CellState state);

    // Box texts as typed (filtered to digits and "."), enable boxes.
    void SetTargetText(int zone, std::string_view text);
    void SetErrorText(int zone, std::string_view text);
    void SetEnabled(int zone, bool on);
    const std::string& TargetText(int zone) const { return target_[Index(zone)]; }
    const std::string& ErrorText(int zone) const { return error_[Index(zone)]; }
    bool Enabled(int zone) const { return enabled_[Index(zone)]; }
    // Whether a zone's target / error box can be edited now.
    bool TargetBoxEnabled(int zone) const;
    bool ErrorBoxEnabled(int zone) const;
    const std::string& Status() const { return status_; }
    // "&Start auto-tune" / "&Stop auto-tune".
    std::string StartStopCaption() const;
    const AutotuneBand& Band(int zone) const { return band_[Index(zone)]; }
    const AutotuneGuardCounts& Dropped() const { return dropped_; }
    double WarmEngineC() const { return warmEngineC_; }
    int SettleCounter() const { return settle_; }
    // A cell is visited once a sample has been judged on it: it passed the guards, its zone is
    // enabled, and it found the cell neither tuned nor forbidden, so that the band coloured it.
    // Visits last while the window is open; "Mark as not visited" forgets them. The zone of the
    // cell's last judged sample, or nullopt for a cell not visited.
    std::optional<int> JudgedZone(int row, int col) const;
    int VisitedCells() const;

    // --- the trace's call ---
    void Sample(const AutotuneSampleData& sample);

private:
    static std::size_t Index(int zone);
    void LoadSettings();
    void SaveSettings();
    void PrepareImage();
    void RestoreImage();
    bool CatMap() const;
    bool Guarded(const AutotuneSampleData& s);
    // The fuel the unit delivers at the fractional grid position (fx, fy), relative to neutral.
    double FuelAt(float fx, float fy) const;
    std::size_t CellIndex(int row, int col) const;

    UserMessages& messages_;
    SettingsStore& settings_;
    AutotuneHost& host_;
    TableEditor* editor_ = nullptr;
    EPROM* image_ = nullptr;
    std::string mapName_;
    std::array<std::string, kAutotuneZoneCount> target_;
    std::array<std::string, kAutotuneZoneCount> error_;
    std::array<bool, kAutotuneZoneCount> enabled_{true, true, true};
    std::array<AutotuneBand, kAutotuneZoneCount> band_{};
    double warmEngineC_ = kDefaultWarmEngineC;
    std::string status_;
    // The run as one step of the undo history ("Autotune"), open from start to stop.
    std::unique_ptr<EditStep> runStep_;
    bool running_ = false;
    int settle_ = 0;
    AutotuneGuardCounts dropped_;
    // The grid point of the last sample that passed the engine guards, and how many samples
    // have passed at it since the operating point arrived there.
    static constexpr std::pair<int, int> kNoSampleYet{-1, -1};
    static constexpr std::pair<int, int> kOffGrid{-2, -2};
    std::pair<int, int> lastGridPoint_ = kNoSampleYet;
    std::pair<float, float> arrivedAt_{}; // where the operating point arrived (fractional)
    int sinceArrival_ = kArrivalSamples;
    // The recent judged samples at that grid point, each as air/fuel ratio times the fuel the
    // unit delivered then (at most kMeanSamples).
    std::vector<double> recent_;
    // Per cell of the editor's grid, row by row: the zone of its last judged sample, or -1.
    std::vector<int> judgedZone_;
    // What Start changed in the image, to put back exactly.
    int savedConfigBits_ = 0;
    std::array<std::uint8_t, 2> savedO2Entry_{};
    std::optional<std::int32_t> savedMapPointer_;
};

} // namespace kv
