#include "maps/cell_input.h"

#include "platform/messages.h"

#include <cctype>
#include <charconv>

namespace kv {

Parsed<double> ParseCellNumber(std::string_view text, bool whole) {
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    std::string number;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) number += text[i++];
    bool digits = false;
    bool separator = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            number += c;
            digits = true;
        } else if ((c == '.' || c == ',') && !separator) {
            number += '.';
            separator = true;
        } else {
            break;
        }
    }
    if (!digits) return ParseError{"not a number"};
    if (whole) {
        skipBlanks();
        if (i != text.size()) return ParseError{"not a number"};
    }
    // Only a sign, digits and one point remain; from_chars reads them whatever the C locale says.
    const char* first = number.c_str();
    if (*first == '+') ++first;
    double value = 0;
    const auto result = std::from_chars(first, number.c_str() + number.size(), value);
    if (result.ec != std::errc()) return ParseError{"not a number"};
    return value;
}

Parsed<double> CheckCellInput(std::string_view text, const CellInputLimits& limits) {
    const auto value = ParseCellNumber(text, true);
    if (!value) return ParseError{"Invalid value!"};
    if (*value < limits.minValue) return ParseError{"Value cannot be less than " + limits.minText + "!"};
    if (*value > limits.maxValue) return ParseError{"Value cannot be greater than " + limits.maxText + "!"};
    return *value;
}

std::optional<std::string> DialogCellInput::Ask(const std::string& initialText, const CellInputLimits& limits) {
    std::string text = initialText;
    const std::string prompt = std::string(kCellInputPrompt) + " (" + limits.minText + " .. " + limits.maxText + ")";
    for (;;) {
        auto answer = dialogs_.InputBox(prompt, std::string(kCellInputCaption), text);
        if (!answer) return std::nullopt;
        const Parsed<double> checked = CheckCellInput(*answer, limits);
        if (checked) return answer;
        dialogs_.MessageBox(checked.Error(), std::string(kProgramTitle), MsgButtons::OK, MsgIcon::Warning);
        text = *answer;
    }
}

} // namespace kv
