#pragma once
// Dialogs of a run without a user: nothing is shown, every question is cancelled (a plain OK
// box answers OK), input and file dialogs are cancelled, the progress window is never cancelled
// and the clipboard is unavailable. Tools derive from it and override what they need.
#include "platform/dialogs.h"

namespace kv {

class SilentDialogs : public UserDialogs {
public:
    MsgResult MessageBox(const std::string&, const std::string&, MsgButtons buttons, MsgIcon) override {
        return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::Cancel;
    }
    std::optional<std::string> InputBox(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<FileDialogResult> OpenFileDialog(const std::string&, const std::string&, int) override {
        return std::nullopt;
    }
    std::optional<FileDialogResult> SaveFileDialog(const std::string&, const std::string&, const std::string&,
                                                   const std::string&, int) override {
        return std::nullopt;
    }
    void ShowProgress(const std::string&, int) override {}
    void UpdateProgress(int) override {}
    void EnableProgressCancel() override {}
    bool IsProgressCancelled() override { return false; }
    void CloseProgress() override {}
    void ProcessEvents() override {}
    std::string ClipboardText() override { return {}; }
    void SetClipboardText(const std::string&) override {}
    bool TryGetClipboardText(std::string&) override { return false; }
    bool TrySetClipboardText(const std::string&) override { return false; }
    void SetHourglass(bool) override {}
};

} // namespace kv
