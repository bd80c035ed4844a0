#include "params/param_compare.h"

#include "params/param_page.h"

namespace kv {

std::string ShownSettingText(const ParamPage& page, const std::string& key) {
    const ParamSetting* s = page.Find(key);
    if (s == nullptr) return {};
    switch (s->kind) {
    case SettingKind::Number: {
        if (!s->check.empty() && !page.Checked(key)) return "off";
        std::string text = page.Text(key);
        if (!s->unit.empty()) text += " " + s->unit;
        return text;
    }
    case SettingKind::Option: {
        const int option = page.Option(key);
        if (option < 0 || option >= static_cast<int>(s->optionCaptions.size())) return "none";
        return s->optionCaptions[static_cast<std::size_t>(option)];
    }
    case SettingKind::Check: return page.Checked(key) ? "on" : "off";
    }
    return {};
}

std::string SettingLabel(const ParamPage& page, const std::string& key) {
    const ParamSetting* s = page.Find(key);
    if (s == nullptr) return {};
    std::string caption = s->caption;
    while (!caption.empty() && (caption.back() == ':' || caption.back() == ' ')) caption.pop_back();
    if (caption.empty() || caption == s->frame) return s->frame;
    return s->frame + ": " + caption;
}

std::vector<SettingDifference> CompareSettings(const ParamPage& page, const ParamPage& other) {
    std::vector<SettingDifference> out;
    if (page.TabKey() != other.TabKey()) return out;
    for (const ParamSetting& s : page.Settings()) {
        if (!s.inImage || other.Find(s.key) == nullptr) continue;
        std::string text = ShownSettingText(page, s.key);
        std::string otherText = ShownSettingText(other, s.key);
        if (text != otherText) out.push_back({s.key, SettingLabel(page, s.key), std::move(text), std::move(otherText)});
    }
    return out;
}

} // namespace kv
