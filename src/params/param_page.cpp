#include "params/param_page.h"

#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kv {

namespace {

std::string Trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// A number as a script writes it: "6000", "4.2", "+5", "50%" (the sign and the unit's "%" are
// allowed); nullopt for anything else.
std::optional<double> ParseNumber(std::string s) {
    s = Trimmed(s);
    if (!s.empty() && s.back() == '%') s.pop_back();
    if (!s.empty() && s.front() == '+') s.erase(0, 1);
    if (s.empty()) return std::nullopt;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

} // namespace

ParamPage::ParamPage(EPROM& image, ParamServices services) : image_(image), services_(std::move(services)) {}

std::string ParamPage::Caption() const {
    const std::string key = TabKey();
    return key == "Parameters" || key == "ParametersLH22" ? "Fuel parameters" : "Ignition parameters";
}

ParamPage::Entry& ParamPage::Add(ParamSetting info) {
    auto e = std::make_unique<Entry>();
    e->info = std::move(info);
    e->dynMin = e->info.min;
    e->dynMax = e->info.max;
    e->value = e->info.min;
    settings_.push_back(e->info);
    entries_.push_back(std::move(e));
    return *entries_.back();
}

const ParamSetting* ParamPage::Find(const std::string& key) const {
    const Entry* e = Get(key);
    return e ? &e->info : nullptr;
}

const ParamPage::Entry* ParamPage::Get(const std::string& key) const {
    for (const auto& e : entries_)
        if (e->info.key == key) return e.get();
    return nullptr;
}

ParamPage::Entry& ParamPage::At(const std::string& key) { return *const_cast<Entry*>(Get(key)); }

void ParamPage::Notify() {
    if (onChanged) onChanged();
}

void ParamPage::Load() {
    loading_ = true;
    for (auto& e : entries_) {
        e->dynMin = e->info.min;
        e->dynMax = e->info.max;
    }
    for (auto& e : entries_) {
        if (e->load) e->load(*e);
        if (e->info.typed) e->typedText = std::to_string(e->value);
        if (e->info.kind == SettingKind::Number && !e->presetValues.empty())
            e->enabled = e->option < 0 || e->option >= static_cast<int>(e->presetValues.size());
        if (e->after) e->after(*e);
    }
    loading_ = false;
    Notify();
}

int ParamPage::Value(const std::string& key) const {
    const Entry* e = Get(key);
    if (!e) return 0;
    switch (e->info.kind) {
    case SettingKind::Number: return e->value;
    case SettingKind::Option: return e->option;
    case SettingKind::Check: return e->checked ? 1 : 0;
    }
    return 0;
}

bool ParamPage::Checked(const std::string& key) const {
    const Entry* e = Get(key);
    return e && e->checked;
}

int ParamPage::Option(const std::string& key) const {
    const Entry* e = Get(key);
    return e ? e->option : -1;
}

int ParamPage::Min(const std::string& key) const {
    const Entry* e = Get(key);
    return e ? e->dynMin : 0;
}

int ParamPage::Max(const std::string& key) const {
    const Entry* e = Get(key);
    return e ? e->dynMax : 0;
}

bool ParamPage::Enabled(const std::string& key) const {
    const Entry* e = Get(key);
    return e && e->enabled;
}

std::string ParamPage::Text(const std::string& key) const {
    const Entry* e = Get(key);
    if (!e) return {};
    if (e->info.typed) return e->typedText;
    return e->text ? e->text(e->value) : std::string();
}

std::string ParamPage::ByteText(const std::string& key) const {
    const Entry* e = Get(key);
    return e && e->byteText ? e->byteText(e->value) : std::string();
}

std::string ParamPage::ExtraText(const std::string& key) const {
    const Entry* e = Get(key);
    return e && e->extraText ? e->extraText(e->value) : std::string();
}

std::string ParamPage::ListText(const std::string& key) const {
    const Entry* e = Get(key);
    if (!e) return {};
    switch (e->info.kind) {
    case SettingKind::Number:
        if (!e->info.check.empty() && !e->checked) return "off";
        return Text(key);
    case SettingKind::Option:
        return e->option >= 0 && e->option < static_cast<int>(e->info.optionKeys.size())
                   ? e->info.optionKeys[static_cast<std::size_t>(e->option)]
                   : "other";
    case SettingKind::Check: return e->checked ? "on" : "off";
    }
    return {};
}

void ParamPage::Change(Entry& e, int v) {
    if (!loading_) v = std::clamp(v, e.dynMin, e.dynMax);
    e.value = v;
    if (e.info.typed) e.typedText = std::to_string(v);
    if (!loading_ && e.write) e.write(e);
    if (e.after) e.after(e);
}

std::string ParamPage::StepName(const Entry& e) const {
    std::string field = e.info.caption.empty() ? e.info.frame : e.info.caption;
    while (!field.empty() && (field.back() == ':' || field.back() == ' ')) field.pop_back();
    return Caption() + ": " + field;
}

void ParamPage::SetValue(const std::string& key, int v) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || e->info.kind != SettingKind::Number) return;
    const EditStep step(image_.Context(), StepName(*e));
    Change(*e, v);
    Notify();
}

void ParamPage::SelectOption(const std::string& key, int index) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || index < 0 || index >= static_cast<int>(e->info.optionKeys.size())) return;
    const EditStep step(image_.Context(), StepName(*e));
    e->option = index;
    if (e->info.kind == SettingKind::Number) {
        // Presets: a preset copies its value into the up-down and disables the custom controls.
        const bool preset = index < static_cast<int>(e->presetValues.size());
        e->enabled = !preset;
        if (preset) Change(*e, e->presetValues[static_cast<std::size_t>(index)]);
    } else {
        if (!loading_ && e->write) e->write(*e);
        if (e->after) e->after(*e);
    }
    Notify();
}

void ParamPage::SetChecked(const std::string& key, bool checked) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || (e->info.kind != SettingKind::Check && e->info.check.empty())) return;
    const EditStep step(image_.Context(), StepName(*e));
    e->checked = checked;
    if (e->info.kind == SettingKind::Check) {
        if (!loading_ && e->write) e->write(*e);
    } else if (!loading_ && e->onCheck) {
        e->onCheck(*e);
    }
    Notify();
}

bool ParamPage::TypeText(const std::string& key, const std::string& text) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || !e->info.typed) return false;
    const EditStep step(image_.Context(), StepName(*e));
    e->typedText = text;
    const bool ok = TypeTextValid(*e);
    if (ok) {
        e->value = std::stoi(Trimmed(text));
        if (!loading_ && e->write) e->write(*e);
    }
    Notify();
    return ok;
}

void ParamPage::LeaveText(const std::string& key) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || !e->info.typed) return;
    if (!TypeTextValid(*e)) TypeText(key, "1");
}

bool ParamPage::TypeTextValid(const Entry& e) const {
    const std::string t = Trimmed(e.typedText);
    int n = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    return !t.empty() && ec == std::errc() && ptr == t.data() + t.size() && n >= e.info.min && n <= e.info.max;
}

bool ParamPage::RunCommand(const std::string&) { return false; }

std::optional<std::string> ParamPage::Apply(const std::string& key, const std::string& value) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || !e->info.inImage) return "Unknown setting \"" + key + "\" for this image";
    const std::string v = Trimmed(value);
    if (e->info.kind == SettingKind::Option) {
        const auto& keys = e->info.optionKeys;
        const auto it = std::find(keys.begin(), keys.end(), v);
        if (it == keys.end()) return key + " takes one of: " + Joined(keys);
        SelectOption(key, static_cast<int>(it - keys.begin()));
        return std::nullopt;
    }
    if (e->info.kind == SettingKind::Check || (!e->info.check.empty() && v == "off")) {
        if (v != "on" && v != "off")
            return key + " takes on or off" + (e->info.kind == SettingKind::Check ? "" : " or a number");
        SetChecked(key, v == "on");
        return std::nullopt;
    }
    if (e->info.typed) {
        if (!TypeText(key, v))
            return "The page does not take " + key + " \"" + v + "\": the value must be a whole number from " +
                   std::to_string(e->info.min) + " to " + std::to_string(e->info.max);
        return std::nullopt;
    }
    const auto x = ParseNumber(v);
    if (!x) return key + " takes a number, not \"" + v + "\"";
    auto numberOf = [&](int u) {
        if (e->number) return e->number(u);
        return ParseNumber(e->text(u)).value_or(std::numeric_limits<double>::quiet_NaN());
    };
    if (!e->presetValues.empty()) {
        // A preset whose caption begins with the number is chosen as the page's option would be.
        for (std::size_t i = 0; i < e->presetValues.size(); ++i) {
            const auto preset = ParseNumber(e->info.optionKeys[i]);
            if (preset && *preset == *x) {
                SelectOption(key, static_cast<int>(i));
                return std::nullopt;
            }
        }
        SelectOption(key, static_cast<int>(e->info.optionKeys.size()) - 1);
    }
    if (!e->info.check.empty() && !e->checked) SetChecked(key, true);
    int best = e->dynMin;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int u = e->dynMin; u <= e->dynMax; u += std::max(1, e->info.step)) {
        const double d = std::fabs(numberOf(u) - *x);
        if (d < bestDistance) {
            bestDistance = d;
            best = u;
        }
    }
    SetValue(key, best);
    return std::nullopt;
}

} // namespace kv
