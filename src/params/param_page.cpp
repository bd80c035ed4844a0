#include "params/param_page.h"

#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

namespace kv {

namespace {

std::string Trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// A plain decimal number: an optional sign, digits with an optional decimal point ("6000", "4.2",
// "-3", "+5", ".5"), and a trailing "%" where `percent` allows it. No exponent, no second sign,
// no spaces inside, no "inf" or "nan": nullopt for anything else.
std::optional<double> ParsePlainNumber(const std::string& text, bool percent) {
    std::string s = Trimmed(text);
    if (percent && !s.empty() && s.back() == '%') s.pop_back();
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    bool point = false;
    for (std::size_t k = i; k < s.size(); ++k) {
        const char c = s[k];
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;
    // from_chars takes no "+".
    const std::size_t from = s[0] == '+' ? 1 : 0;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(s.data() + from, s.data() + s.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool EndsWithPercent(const std::string& s) { return !s.empty() && s.back() == '%'; }

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

std::string ParamPage::FieldName(const Entry& e) {
    std::string field = e.info.caption.empty() ? e.info.frame : e.info.caption;
    while (!field.empty() && (field.back() == ':' || field.back() == ' ')) field.pop_back();
    return field;
}

std::string ParamPage::StepName(const Entry& e) const { return Caption() + ": " + FieldName(e); }

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
        const int v = std::stoi(Trimmed(text));
        const bool same = v == e->value;
        e->value = v;
        if (!loading_ && !same && e->write) e->write(*e);
    }
    Notify();
    return ok;
}

void ParamPage::LeaveText(const std::string& key) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || !e->info.typed) return;
    if (!TypeTextValid(*e)) TypeText(key, "1");
}

std::string ParamPage::WholeNumberRange(const Entry& e) {
    return "the value must be a whole number from " + std::to_string(e.info.min) + " to " + std::to_string(e.info.max);
}

bool ParamPage::TypeTextValid(const Entry& e) const { return TypeTextValid(e, e.typedText); }

bool ParamPage::TypeTextValid(const Entry& e, const std::string& text) const {
    const std::string t = Trimmed(text);
    int n = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    return !t.empty() && ec == std::errc() && ptr == t.data() + t.size() && n >= e.info.min && n <= e.info.max;
}

ParamPage::Nearest ParamPage::Resolve(const Entry& e, const std::string& text, Box box) const {
    const auto& shown = box == Box::Extra ? e.extraText : e.text;
    Nearest out;
    if (!shown) {
        out.refused = e.info.key + " takes no typed value";
        return out;
    }
    // Every reachable value with the number it shows, and the ends of the range.
    std::vector<std::pair<int, double>> reachable;
    int low = e.dynMin;
    int high = e.dynMin;
    double lowN = std::numeric_limits<double>::infinity();
    double highN = -lowN;
    for (int u = e.dynMin; u <= e.dynMax; ++u) {
        const auto n = ParsePlainNumber(shown(u), true);
        if (!n) continue;
        reachable.emplace_back(u, *n);
        if (*n < lowN) std::tie(low, lowN) = std::pair{u, *n};
        if (*n > highN) std::tie(high, highN) = std::pair{u, *n};
    }
    const auto x = ParsePlainNumber(text, EndsWithPercent(shown(e.value)));
    if (!x || reachable.empty() || *x < lowN || *x > highN) {
        std::string why = " takes a number from " + shown(low) + " to " + shown(high);
        if (e.boundBy) {
            const std::string bound = e.boundBy();
            if (!bound.empty()) why += " (" + bound + ")";
        }
        out.refused = why + ", not \"" + Trimmed(text) + "\"";
        return out;
    }
    // The nearest; among equally near ones the value held now, then one on the up-down's steps.
    double best = std::numeric_limits<double>::infinity();
    auto rank = [&](int u) { return u == e.value ? 0 : (u - e.info.min) % std::max(1, e.info.step) == 0 ? 1 : 2; };
    for (const auto& [u, n] : reachable) {
        const double d = std::fabs(n - *x);
        if (d < best || (d == best && rank(u) < rank(out.value))) {
            best = d;
            out.value = u;
        }
    }
    out.exact = best < 1e-9;
    return out;
}

std::optional<std::string> ParamPage::CommitText(const std::string& key, const std::string& text, Box box) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || e->info.kind != SettingKind::Number) return "Unknown setting \"" + key + "\" for this page";
    if (e->info.typed && box == Box::Value) {
        if (!TypeTextValid(*e, text)) return FieldName(*e) + ": " + WholeNumberRange(*e);
        TypeText(key, text);
        return std::nullopt;
    }
    const Nearest n = Resolve(*e, text, box);
    if (n.refused) return FieldName(*e) + *n.refused;
    if (n.value != e->value) SetValue(key, n.value);
    return std::nullopt;
}

bool ParamPage::RunCommand(const std::string&) { return false; }

std::optional<std::string> ParamPage::Apply(const std::string& key, const std::string& value, std::string* note) {
    Entry* e = const_cast<Entry*>(Get(key));
    if (!e || !e->info.inImage) return "Unknown setting \"" + key + "\" for this image";
    const std::string v = Trimmed(value);
    if (e->info.kind == SettingKind::Option) {
        const auto& keys = e->info.optionKeys;
        // "other" is what an option that matches none of its choices lists.
        if (v == "other" && e->option < 0) return std::nullopt;
        const auto it = std::find(keys.begin(), keys.end(), v);
        if (it == keys.end()) return key + " takes one of: " + Joined(keys);
        const int index = static_cast<int>(it - keys.begin());
        if (index != e->option) SelectOption(key, index);
        return std::nullopt;
    }
    if (e->info.kind == SettingKind::Check || (!e->info.check.empty() && v == "off")) {
        if (v != "on" && v != "off")
            return key + " takes on or off" + (e->info.kind == SettingKind::Check ? "" : " or a number");
        if ((v == "on") != e->checked) SetChecked(key, v == "on");
        return std::nullopt;
    }
    if (e->info.typed) {
        if (!TypeTextValid(*e, v)) return "The page does not take " + key + " \"" + v + "\": " + WholeNumberRange(*e);
        TypeText(key, v);
        return std::nullopt;
    }
    const Nearest n = Resolve(*e, v, Box::Value);
    if (n.refused) return key + *n.refused;
    if (!e->presetValues.empty()) {
        // A preset whose caption begins with the number is chosen as the page's option would be;
        // the size it holds already is left as it is.
        const auto x = ParsePlainNumber(v, false);
        for (std::size_t i = 0; x && i < e->presetValues.size(); ++i) {
            const auto preset = ParsePlainNumber(e->info.optionKeys[i], false);
            if (preset && *preset == *x) {
                if (e->presetValues[i] != e->value) SelectOption(key, static_cast<int>(i));
                return std::nullopt;
            }
        }
    }
    if (!n.exact && note) *note = key + ": " + v + " cannot be stored; took the nearest, " + e->text(n.value);
    if (!e->info.check.empty() && !e->checked) SetChecked(key, true);
    if (n.value == e->value) return std::nullopt;
    if (!e->presetValues.empty()) SelectOption(key, static_cast<int>(e->info.optionKeys.size()) - 1);
    SetValue(key, n.value);
    return std::nullopt;
}

} // namespace kv
