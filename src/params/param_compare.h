#pragma once
// Comparing the parameter pages of two images of the same unit setting by setting, in the texts
// the pages show, so that a difference reads as a tuner knows the setting ("Rev limiter: 6200
// rpm") rather than as parameter bytes.
#include <string>
#include <vector>

namespace kv {

class ParamPage;

// A setting as its page shows it, on one line: a number's text and unit ("off" while its check
// box is clear), the caption of the option chosen ("none" when none matches), "on" or "off" for a
// check box.
std::string ShownSettingText(const ParamPage& page, const std::string& key);

// The frame and caption of a setting as one label, without the caption's closing colon ("Rev
// limiter: Fuel cut off RPM"; the frame alone when the setting has no caption of its own).
std::string SettingLabel(const ParamPage& page, const std::string& key);

struct SettingDifference {
    std::string key;
    std::string label;     // SettingLabel
    std::string text;      // shown on `page`
    std::string otherText; // shown on `other`
    friend bool operator==(const SettingDifference&, const SettingDifference&) = default;
};

// The settings kept in the image that show differently on two loaded pages, in the page's order.
// Pages of different units have nothing in common to compare: the result is then empty.
std::vector<SettingDifference> CompareSettings(const ParamPage& page, const ParamPage& other);

} // namespace kv
