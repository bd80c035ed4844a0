#pragma once
// Live autotune: while the car is driven, the fuel map trace hands every record to Sample(). The
// wide-band sensor sees gas burnt a moment ago, so each settled sample is charged to the
// operating point of that moment, spread over the four cells the unit blended there by their
// shares. Each cell gathers its evidence (the measured mixture referred to the cell's own value)
// until the shares reach a threshold; then it is coloured tuned when the evidence lies inside the
// zone's band, or moved towards the target through the table editor (and so into the image and
// the running unit like any manual edit) and starts gathering afresh. The cell states are the
// background colours of the editor's grid cells.
//
// Autotune also owns the state of its window ("Auto tune"): the texts of the target and error
// boxes, the enable boxes, which boxes can be edited, the status and the start/stop caption, and
// how many samples each guard dropped. The Qt window only mirrors these, so every workflow runs
// without widgets.
#include "datalog/log_run.h"
#include "eprom/ecu_type.h"

#include "maps/blend_shares.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

class Clock;
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
// The name of a run in the undo history, and of a tuning from a recorded run.
inline constexpr const char* kAutotuneStepName = "Autotune";
inline constexpr const char* kTuneFromRunStepName = "Tune from a run";

// The base fuel maps, as the map list names them: the only maps that can be auto-tuned.
bool IsBaseFuelMap(std::string_view mapName);

// The cat map runs with the oxygen sensor in closed loop at idle and cruise: on it those zones
// are tuned to the stoichiometric band (14.7 +/- 0.1) whatever the user keeps for other maps.
bool CatMapForcesZone(std::string_view mapName, int zone);

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
// What a mixture says of a cell against its zone's band: tuned inside it (ends included), lean
// above, rich below.
CellState JudgeMixture(double afr, const AutotuneBand& band);
// The zones' bands as the window would start with them on the map listed as `mapName`: the
// targets and errors kept in the settings, clamped, the cat map's forced zones stoichiometric.
std::array<AutotuneBand, kAutotuneZoneCount> SavedBands(SettingsStore& settings, std::string_view mapName);
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
// The wide-band sensor sees the gas this long after it was burnt (settings key, seconds): each
// sample is charged to the operating point of that moment, and nothing is judged during the
// first delay of a run or, for a cell, during the delay after its correction.
inline constexpr const char* kTransportDelayKey = "TransportDelayS";
inline constexpr double kDefaultTransportDelayS = 0.3;
// A cell is judged once the shares of the samples charged to it add up to this (about three
// samples at its grid point); a cell takes nothing from a sample whose share of it is below the
// floor.
inline constexpr double kEvidenceThreshold = 3.0;
inline constexpr double kShareFloor = 0.1;

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
    long fuelCut = 0;  // the same during a transient or the settling after it: over-run fuel cut
    long cranking = 0; // engine speed below cranking speed
    long cold = 0;     // coolant below the warm-engine threshold
    long Total() const { return sensor + fuelCut + cranking + cold; }
};

// The mean of the first (or the last) tenth of `values`, at least one of them; 0 when empty.
double MeanOfTenth(const std::vector<float>& values, bool last);

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

// Where "Tune from a run..." finds runs: the Data logging tab's open runs and run files.
class AutotuneRunSource {
public:
    virtual ~AutotuneRunSource() = default;
    // The captions of the open runs, in tab order.
    virtual std::vector<std::string> RunCaptions() = 0;
    // The run of RunCaptions()[index]; null when it is gone.
    virtual const LogRun* RunAt(int index) = 0;
    // Asks for a run file and reads it; nullopt when cancelled or unreadable (the reason shown).
    virtual std::optional<LogRun> RunFromFile() = 0;
};

class Autotune {
public:
    // All references must outlive this object. Samples are timed by `clock`.
    Autotune(UserMessages& messages, SettingsStore& settings, AutotuneHost& host, Clock& clock);

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
    // "Tune from a run...": the map tuned at the desk from a recorded run with the window's
    // targets, errors and zones (autotune_offline.h), as one step of the undo history ("Tune
    // from a run"); the cells take the colours of their evidence. Refused (false) while running
    // or closed; a run without a needed column is refused with the message shown.
    bool TuneFromRun(const LogRun& run);

    // Box texts as typed (filtered to digits and "."), enable boxes. On the cat map idle and
    // cruise show the forced stoichiometric band; the user's own texts stay as they were and are
    // what is saved.
    void SetTargetText(int zone, std::string_view text);
    void SetErrorText(int zone, std::string_view text);
    void SetEnabled(int zone, bool on);
    const std::string& TargetText(int zone) const;
    const std::string& ErrorText(int zone) const;
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
    std::int64_t TransportDelayMs() const { return delayMs_; }
    int SettleCounter() const { return settle_; }
    // A cell is visited once a judged sample was charged to it: the sample passed the guards,
    // was settled, its zone is enabled, and the cell, neither tuned nor forbidden, took a share
    // of it. Visits last while the window is open; "Mark as not visited" forgets them. The zone
    // of the cell's last judged sample, or nullopt for a cell not visited.
    std::optional<int> JudgedZone(int row, int col) const;
    int VisitedCells() const;
    // |measured A/F ratio - the zone's target| of every judged sample of the run, in order.
    const std::vector<float>& JudgedErrors() const { return judgedErrors_; }

    // --- the trace's call ---
    void Sample(const AutotuneSampleData& sample);

private:
    // The evidence a cell has gathered since its last correction: the shares of the samples
    // charged to it and their share-weighted mixture, each referred to the cell's own value.
    struct Evidence {
        double share = 0.0;
        double weightedAfr = 0.0;
        double weightedMeasured = 0.0; // the mixtures as measured, in the same shares
        int zone = -1;
        std::int64_t correctedMs = -1; // when the cell was last corrected in this run
    };
    // Where the engine was at a moment of the run (fractional grid position) and its throttle
    // zone then.
    struct PastPoint {
        std::int64_t ms;
        float fx, fy;
        int zone;
    };

    static std::size_t Index(int zone);
    bool ForcedZone(int zone) const;
    void LoadSettings();
    void SaveSettings();
    void PrepareImage();
    void RestoreImage();
    bool CatMap() const;
    bool Guarded(const AutotuneSampleData& s, bool settled);
    // The operating point the gas now at the sensor was burnt at; nullopt before the history
    // reaches back that far.
    std::optional<PastPoint> BurntAt(std::int64_t nowMs) const;
    // The fuel the unit delivers at the fractional grid position (fx, fy), relative to neutral.
    double FuelAt(double fx, double fy) const;
    double CellFuel(int row, int col) const;
    void Charge(const BlendShare& share, std::size_t zone, float afr, double blended, std::int64_t nowMs);
    void Correct(int row, int col, std::size_t zone, double afr);
    std::size_t CellIndex(int row, int col) const;

    UserMessages& messages_;
    SettingsStore& settings_;
    AutotuneHost& host_;
    Clock& clock_;
    TableEditor* editor_ = nullptr;
    EPROM* image_ = nullptr;
    std::string mapName_;
    // The user's own box texts (a forced cat-map zone shows others).
    std::array<std::string, kAutotuneZoneCount> target_;
    std::array<std::string, kAutotuneZoneCount> error_;
    std::array<bool, kAutotuneZoneCount> enabled_{true, true, true};
    std::array<AutotuneBand, kAutotuneZoneCount> band_{};
    double warmEngineC_ = kDefaultWarmEngineC;
    std::int64_t delayMs_ = 300;
    std::string status_;
    // The run as one step of the undo history ("Autotune"), open from start to stop.
    std::unique_ptr<EditStep> runStep_;
    bool running_ = false;
    std::int64_t startMs_ = 0;
    int settle_ = 0;
    AutotuneGuardCounts dropped_;
    // The operating points of the last moments of the run, oldest first.
    std::deque<PastPoint> history_;
    // Per cell of the editor's grid, row by row: its evidence, and the zone of its last judged
    // sample (-1: not visited).
    std::vector<Evidence> evidence_;
    std::vector<int> judgedZone_;
    std::vector<float> judgedErrors_;
    // What Start changed in the image, to put back exactly.
    int savedConfigBits_ = 0;
    std::array<std::uint8_t, 2> savedO2Entry_{};
    std::optional<std::int32_t> savedMapPointer_;
};

} // namespace kv
