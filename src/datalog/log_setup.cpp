#include "datalog/log_setup.h"

#include "auxinputs/aux_inputs.h"
#include "eprom/eprom_image.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kv {

namespace {

constexpr std::array<const char*, 3> kRates{"5", "10", "20"};
constexpr int kDefaultRateIndex = 1;

std::optional<int> ParseInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

} // namespace

const char* LogTriggerTag(LogTrigger trigger) {
    switch (trigger) {
    case LogTrigger::None: return "None";
    case LogTrigger::Wot: return "WOT";
    case LogTrigger::Rpm: return "RPM";
    }
    return "";
}

const char* LogTriggerCaption(LogTrigger trigger) {
    switch (trigger) {
    case LogTrigger::None: return "None (start immediately)";
    case LogTrigger::Wot: return "WOT switch";
    case LogTrigger::Rpm: return "RPM > 2000";
    }
    return "";
}

std::optional<LogTrigger> LogTriggerFromTag(std::string_view tag) {
    for (LogTrigger t : {LogTrigger::None, LogTrigger::Wot, LogTrigger::Rpm})
        if (tag == LogTriggerTag(t)) return t;
    return std::nullopt;
}

const std::array<const char*, 3>& LogRateTexts() { return kRates; }

int LogPeriodMs(int rate) {
    if (rate <= 0) return 0;
    return static_cast<int>(std::lround(1000.0 / rate));
}

// ---------------------------------------------------------------------------------------------
// Settings

std::vector<std::string> DataLogSettings::Variables() const {
    const std::string text = store_.GetSetting(kDataLogSection, "Variables");
    std::vector<std::string> keys;
    if (text.empty()) return keys;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        keys.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return keys;
}

void DataLogSettings::SetVariables(const std::vector<std::string>& keys) {
    std::string text;
    for (const std::string& k : keys) {
        if (k.empty()) continue;
        if (!text.empty()) text += ',';
        text += k;
    }
    store_.SaveSetting(kDataLogSection, "Variables", text);
}

int DataLogSettings::Rate() const {
    const std::optional<int> rate = ParseInteger(store_.GetSetting(kDataLogSection, "Rate", "10"));
    if (!rate || *rate < 1 || *rate > 99) return kDefaultRate;
    return *rate;
}

void DataLogSettings::SetRate(const std::string& text) { store_.SaveSetting(kDataLogSection, "Rate", text); }

std::optional<LogTrigger> DataLogSettings::Trigger() const {
    return LogTriggerFromTag(store_.GetSetting(kDataLogSection, "Trigger"));
}

void DataLogSettings::SetTrigger(LogTrigger trigger) {
    store_.SaveSetting(kDataLogSection, "Trigger", LogTriggerTag(trigger));
}

// ---------------------------------------------------------------------------------------------
// Set-up

LogSetup::LogSetup() : selection_(kSelectionListSize) {}

void LogSetup::LoadDataLogSettings(SettingsStore& store) {
    const DataLogSettings settings(store);
    selection_.assign(kSelectionListSize, std::string());
    const std::vector<std::string> saved = settings.Variables();
    for (std::size_t i = 0; i < saved.size() && i < selection_.size(); ++i) selection_[i] = saved[i];
    rateItems_ = {std::to_string(settings.Rate())};
    rateIndex_ = 0;
    trigger_ = settings.Trigger();
}

void LogSetup::SaveDataLogSettings(SettingsStore& store) const {
    DataLogSettings settings(store);
    settings.SetVariables(selection_);
    settings.SetRate(SelectedRateText());
    if (trigger_) settings.SetTrigger(*trigger_);
}

void LogSetup::SetSlot(int slot, const std::string& caption, const std::string& key) {
    LogSlotState& s = slots_[static_cast<std::size_t>(slot)];
    s.caption = caption;
    s.key = key;
}

void LogSetup::ClearSlots(int first, int last) {
    for (int s = first; s <= last; ++s) slots_[static_cast<std::size_t>(s)].caption.clear();
}

void LogSetup::SetCatalogueSlots(int first, int last) {
    for (int s = first; s <= last; ++s) {
        const LogSlotEntry& e = LogSlotTable()[static_cast<std::size_t>(s)];
        SetSlot(s, e.caption, e.key);
    }
}

void LogSetup::RefreshAuxSlots(const AuxInputs& aux) {
    for (int s = kAuxSlotFirst; s <= kAuxSlotLast; ++s) {
        const int n = SlotAuxInput(s);
        std::string caption;
        if (aux.IsAuxEnabled(n)) {
            caption = aux.GetAuxName(n);
            if (caption.empty()) caption = aux.GetAuxDisplayName(n);
        }
        SetSlot(s, caption, SlotKey(s));
    }
}

void LogSetup::LayOut(int first, int last) {
    int k = 0;
    for (int s = first; s <= last; ++s) {
        LogSlotState& slot = slots_[static_cast<std::size_t>(s)];
        if (slot.caption.empty()) {
            slot.visible = false;
            slot.enabled = false;
            slot.checked = false;
            continue;
        }
        slot.top = kSlotTop0 + kSlotRowStep * (k % kSlotRows);
        slot.left = kSlotLeft0 + kSlotColumnStep * (k / kSlotRows);
        slot.visible = true;
        slot.enabled = true;
        ++k;
    }
}

void LogSetup::ApplySelection() {
    applyingSelection_ = true;
    for (const std::string& entry : selection_) {
        if (entry.empty()) continue;
        for (LogSlotState& slot : slots_)
            if (!slot.caption.empty() && slot.key == entry) slot.checked = true;
    }
    applyingSelection_ = false;
}

void LogSetup::SetupLogVariables(std::string_view command, const EPROM& ignition, const AuxInputs& aux) {
    if (command.empty()) {
        ClearSlots(0, kLogSlotCount - 1);
        knock_.frameVisible = false;
    } else if (command == "LH") {
        SetCatalogueSlots(kLh23First, kLh23Last);
    } else if (command == "!LH") {
        ClearSlots(kLh23First, kLh23Last);
    } else if (command == "EZK") {
        knock_.frameVisible = true;
        knock_.label = KnockLabel{"-", false};
        knock_.labelEnabled = false;
        SetCatalogueSlots(kEzkFirst, kKnockRetardSlot - 1);
        if (ignition.GetRevision() >= kKnockRetardMinRevision)
            SetCatalogueSlots(kKnockRetardSlot, kKnockRetardSlot);
        else
            ClearSlots(kKnockRetardSlot, kKnockRetardSlot);
    } else if (command == "!EZK") {
        ClearSlots(kEzkFirst, kEzkLast);
        knock_.frameVisible = false;
    } else if (command == "LH22") {
        SetCatalogueSlots(kLh22First, kLh22Last);
    } else if (command == "!LH22") {
        ClearSlots(kLh22First, kLh22Last);
    } else if (command == "EZF") {
        SetCatalogueSlots(kEzfFirst, kEzfLast);
    } else if (command == "!EZF") {
        ClearSlots(kEzfFirst, kEzfLast);
    }
    RefreshAuxSlots(aux);
    LayOut(0, kFuelSlotLast);
    LayOut(kIgnitionSlotFirst, kIgnitionSlotLast);
    LayOut(kAuxSlotFirst, kAuxSlotLast);
    ApplySelection();
}

void LogSetup::OnVariableChecked(int slot, bool on) {
    if (slot < 0 || slot >= kLogSlotCount) return;
    LogSlotState& s = slots_[static_cast<std::size_t>(slot)];
    if (s.caption.empty() || !s.enabled) return;
    s.checked = on;
    if (applyingSelection_) return;
    if (on) {
        if (std::find(selection_.begin(), selection_.end(), s.key) != selection_.end()) return;
        const auto free = std::find(selection_.begin(), selection_.end(), std::string());
        if (free != selection_.end()) *free = s.key;
    } else {
        for (std::string& entry : selection_)
            if (entry == s.key) entry.clear();
    }
}

bool LogSetup::IsSelected(int slot) const {
    return slot >= 0 && slot < kLogSlotCount && slots_[static_cast<std::size_t>(slot)].checked;
}

bool LogSetup::AnySelected() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const LogSlotState& s) { return s.checked; });
}

std::string LogSetup::SelectedRateText() const {
    if (rateIndex_ < 0 || rateIndex_ >= static_cast<int>(rateItems_.size())) return {};
    return rateItems_[static_cast<std::size_t>(rateIndex_)];
}

void LogSetup::FillRateList() {
    const std::string remembered = SelectedRateText();
    rateItems_.assign(kRates.begin(), kRates.end());
    rateIndex_ = kDefaultRateIndex;
    for (std::size_t i = 0; i < kRates.size(); ++i)
        if (remembered == kRates[i]) rateIndex_ = static_cast<int>(i);
}

int LogSetup::OnRateChanged(int index) {
    if (index >= 0 && index < static_cast<int>(rateItems_.size())) rateIndex_ = index;
    const std::optional<int> rate = ParseInteger(SelectedRateText());
    if (rate && *rate > 0) timerIntervalMs_ = LogPeriodMs(*rate);
    return timerIntervalMs_;
}

} // namespace kv
