#pragma once
// The cell input dialog ("Edit cell"): the limits it shows, the check run when OK is pressed,
// and the seam through which the table editor asks for a typed value. The Qt dialog implements
// CellInput with these checks; DialogCellInput runs the same exchange over UserMessages.
#include "platform/parsed.h"

#include <optional>
#include <string>
#include <string_view>

namespace kv {

class UserMessages;

// Limits of the current column as the dialog shows them (texts by the map's data type, lower
// first) and their numeric values.
struct CellInputLimits {
    std::string minText;
    std::string maxText;
    double minValue = 0;
    double maxValue = 0;
};

// A number written in a cell: blanks around it, an optional sign, digits with at most one "." or
// "," as decimal separator. `whole` = the entire text must be that number; otherwise the number
// at the start of the text is read and the rest ignored. A failure when there is no number.
Parsed<double> ParseCellNumber(std::string_view text, bool whole);

// The OK check: the accepted number, otherwise the message to show ("Invalid value!",
// "Value cannot be less than <min>!", "Value cannot be greater than <max>!").
Parsed<double> CheckCellInput(std::string_view text, const CellInputLimits& limits);

inline constexpr std::string_view kCellInputCaption = "Edit cell";
inline constexpr std::string_view kCellInputPrompt = "Enter value for cell:";
inline constexpr std::string_view kProgramTitle = "Kestrovane";

class CellInput {
public:
    virtual ~CellInput() = default;
    // Shows the dialog with `initialText`; returns the accepted text, or nullopt (or an empty
    // text) when the user cancels. Only texts that pass CheckCellInput are returned.
    virtual std::optional<std::string> Ask(const std::string& initialText, const CellInputLimits& limits) = 0;
};

// The dialog as an input box: asks until the text passes the check (each refusal shown in a
// message box titled "Kestrovane") or the user cancels.
class DialogCellInput final : public CellInput {
public:
    explicit DialogCellInput(UserMessages& dialogs) : dialogs_(dialogs) {}
    std::optional<std::string> Ask(const std::string& initialText, const CellInputLimits& limits) override;

private:
    UserMessages& dialogs_;
};

} // namespace kv
