#pragma once
// The data-logging tab's set-up without widgets: which variable slots are shown for the loaded
// units (captions, keys, places in columns of 7), which are ticked, the remembered selection
// list, the rate and the trigger, the knock counter's frame, and the section "DataLog" of the
// settings that keeps them between sessions. The set-up panel (datalog/gui) shows a LogSetup and
// forwards the user's clicks to it; the recorder (datalog/log_recorder.h) reads it.
//
// Use: LoadDataLogSettings at start-up, SetupLogVariables("") when the window is made, then with
// the tab state text ("LH", "!LH", "EZK", ...) whenever a unit's image comes or goes, and with
// "Refresh" after the aux inputs changed; FillRateList when the tab is set up;
// SaveDataLogSettings at shut-down.
#include "datalog/log_catalogue.h"
#include "monitor/monitor_ignition.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class AuxInputs;
class EPROM;
class SettingsStore;

inline constexpr const char* kDataLogSection = "DataLog";
inline constexpr int kSelectionListSize = kLogSlotCount;
// Layout in twips.
inline constexpr int kSlotRows = 7;
inline constexpr int kSlotTop0 = 240, kSlotRowStep = 240, kSlotLeft0 = 240, kSlotColumnStep = 2040;
inline constexpr int kDefaultRate = 10;
inline constexpr const char* kRefreshCommand = "Refresh";

// The trigger options in button order (radioDataLogTrigger 0..2).
enum class LogTrigger { None = 0, Wot = 1, Rpm = 2 };
// "None", "WOT", "RPM" (the tags kept in the settings) and the captions of the option buttons.
const char* LogTriggerTag(LogTrigger trigger);
const char* LogTriggerCaption(LogTrigger trigger);
std::optional<LogTrigger> LogTriggerFromTag(std::string_view tag);

// The rates offered, samples per second.
const std::array<const char*, 3>& LogRateTexts();
// The integer nearest to 1000 / rate milliseconds (0 for a rate of 0 or less).
int LogPeriodMs(int rate);

// Section "DataLog" of the settings, typed and validated.
class DataLogSettings {
public:
    explicit DataLogSettings(SettingsStore& store) : store_(store) {}
    // "Variables" split at ","; empty when missing.
    std::vector<std::string> Variables() const;
    void SetVariables(const std::vector<std::string>& keys); // the non-empty keys joined by ","
    // "Rate": an integer 1..99, else 10.
    int Rate() const;
    void SetRate(const std::string& text);
    // "Trigger": the option with that tag; nothing for any other value.
    std::optional<LogTrigger> Trigger() const;
    void SetTrigger(LogTrigger trigger);

private:
    SettingsStore& store_;
};

// One check box chkDataLog(slot).
struct LogSlotState {
    std::string caption; // empty: an empty slot (hidden, disabled, cleared)
    std::string key;     // the tag
    bool visible = false;
    bool enabled = false;
    bool checked = false;
    int top = 0;  // twips within its frame
    int left = 0; // twips within its frame
};

// The knock counter of the data-logging tab (fraDataLogKnockCount, lblDataLogKnockCount).
struct LogKnockDisplay {
    bool frameVisible = false;
    bool labelEnabled = false;
    KnockLabel label{"-", false};
    KnockCountState state;
};

class LogSetup {
public:
    LogSetup();

    // ---- settings ----
    void LoadDataLogSettings(SettingsStore& store);
    void SaveDataLogSettings(SettingsStore& store) const;

    // ---- slots ----
    // `ignition` decides slot 31 (its revision); `aux` the aux slots.
    void SetupLogVariables(std::string_view command, const EPROM& ignition, const AuxInputs& aux);
    // The user ticked (on) or cleared a slot's box.
    void OnVariableChecked(int slot, bool on);
    const std::array<LogSlotState, kLogSlotCount>& Slots() const { return slots_; }
    bool IsSelected(int slot) const;
    bool AnySelected() const;
    const std::vector<std::string>& SelectionList() const { return selection_; }

    // ---- rate ----
    // The texts of cmbDataLogRate and the selected index (-1 none).
    const std::vector<std::string>& RateItems() const { return rateItems_; }
    int RateIndex() const { return rateIndex_; }
    std::string SelectedRateText() const;
    // Fills "5", "10", "20", keeping the selected text when it is one of them, else "10".
    void FillRateList();
    // The user picked item `index`; returns the new interval of tmrDataLog in ms.
    int OnRateChanged(int index);
    // tmrDataLog's interval: 100 ms until a rate is picked.
    int TimerIntervalMs() const { return timerIntervalMs_; }

    // ---- trigger ----
    std::optional<LogTrigger> Trigger() const { return trigger_; }
    void SetTrigger(LogTrigger trigger) { trigger_ = trigger; }

    // ---- knock counter ----
    LogKnockDisplay& Knock() { return knock_; }
    const LogKnockDisplay& Knock() const { return knock_; }

    // ---- while a run is recorded ----
    // The variable frames, the rate and trigger controls and every slot.
    bool SetupEnabled() const { return setupEnabled_; }
    void SetSetupEnabled(bool enabled) { setupEnabled_ = enabled; }

private:
    void SetSlot(int slot, const std::string& caption, const std::string& key);
    void ClearSlots(int first, int last);
    void SetCatalogueSlots(int first, int last);
    void RefreshAuxSlots(const AuxInputs& aux);
    void LayOut(int first, int last);
    void ApplySelection();

    std::array<LogSlotState, kLogSlotCount> slots_{};
    std::vector<std::string> selection_;
    bool applyingSelection_ = false;
    std::vector<std::string> rateItems_;
    int rateIndex_ = -1;
    int timerIntervalMs_ = 100;
    std::optional<LogTrigger> trigger_;
    LogKnockDisplay knock_;
    bool setupEnabled_ = true;
};

} // namespace kv
