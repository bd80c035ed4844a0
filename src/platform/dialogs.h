#pragma once
// User-dialog seam: message boxes, questions, input boxes, file dialogs, the progress window,
// the clipboard and the hourglass pointer. The Qt program implements it with real dialogs;
// tests use a scripted fake that records every text and answers from a script.
#include <optional>
#include <string>

enum class MsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Critical, Question };
enum class MsgResult { OK, Cancel, Yes, No };

struct FileDialogResult {
    std::string path;    // full path chosen
    int filterIndex = 1; // 1-based index of the chosen filter entry
};

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // Modal message box; returns the button pressed (OK for a plain OK box; closing the window
    // counts as Cancel, or No for a Yes/No box).
    virtual MsgResult MessageBox(const std::string& text, const std::string& title,
                                 MsgButtons buttons = MsgButtons::OK, MsgIcon icon = MsgIcon::None) = 0;
    // Modal input box; nullopt when the user cancels.
    virtual std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                                const std::string& defaultText = {}) = 0;
    // Open / save dialogs. `filter` is "Name (*.bin)|*.bin|Other|*.x" (pairs joined by "|").
    // nullopt when cancelled.
    virtual std::optional<FileDialogResult> OpenFileDialog(const std::string& title, const std::string& filter,
                                                           int filterIndex = 1) = 0;
    virtual std::optional<FileDialogResult> SaveFileDialog(const std::string& title, const std::string& filter,
                                                           const std::string& defaultExtension,
                                                           const std::string& fileName, int filterIndex = 1) = 0;

    // The shared progress window used by every long device transfer. At most one is shown.
    virtual void ShowProgress(const std::string& caption, int maximum) = 0;
    virtual void UpdateProgress(int value) = 0;
    // Shows a Cancel button; IsProgressCancelled() turns true once it is pressed.
    virtual void EnableProgressCancel() = 0;
    virtual bool IsProgressCancelled() = 0;
    virtual void CloseProgress() = 0;

    // Lets the user interface handle pending events (repaints, the Cancel button) during a long
    // synchronous operation. A no-op headless.
    virtual void ProcessEvents() = 0;

    virtual std::string ClipboardText() = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    // The same, telling whether the clipboard could be opened (false: nothing read or written).
    // Platforms whose clipboard cannot fail keep these defaults.
    virtual bool TryGetClipboardText(std::string& text) {
        text = ClipboardText();
        return true;
    }
    virtual bool TrySetClipboardText(const std::string& text) {
        SetClipboardText(text);
        return true;
    }
    // Hourglass (busy) pointer on or off.
    virtual void SetHourglass(bool busy) = 0;
};
