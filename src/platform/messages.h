#pragma once
// Message seam: modal message boxes and input boxes. Texts break lines with CR LF. The Qt program
// shows real dialogs; windowless runs answer from a script or cancel.
#include <optional>
#include <string>

namespace kv {

enum class MsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Critical, Question };
enum class MsgResult { OK, Cancel, Yes, No };

class UserMessages {
public:
    virtual ~UserMessages() = default;
    // Modal message box; returns the button pressed (OK for a plain OK box; closing the window
    // counts as Cancel, or No for a Yes/No box).
    virtual MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons = MsgButtons::OK,
                                 MsgIcon icon = MsgIcon::None) = 0;
    // Modal input box; nullopt when the user cancels.
    virtual std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                                const std::string& defaultText = {}) = 0;
};

} // namespace kv
