#pragma once
// UserDialogs for the command-line tool: messages and progress captions go to a text stream
// (standard error), questions are answered with a fixed default, file dialogs are cancelled.
#include "platform/dialogs.h"

#include <iosfwd>

namespace kv {

class ConsoleDialogs final : public UserDialogs {
public:
    // `yes`: the answer to every question (OK / Yes when true, Cancel / No when false).
    explicit ConsoleDialogs(std::ostream& err, bool yes = true) : err_(err), yes_(yes) {}

    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
    std::optional<FileDialogResult> OpenFileDialog(const std::string& title, const std::string& filter,
                                                   int filterIndex) override;
    std::optional<FileDialogResult> SaveFileDialog(const std::string& title, const std::string& filter,
                                                   const std::string& defaultExtension, const std::string& fileName,
                                                   int filterIndex) override;
    void ShowProgress(const std::string& caption, int maximum) override;
    void UpdateProgress(int value) override;
    void EnableProgressCancel() override {}
    bool IsProgressCancelled() override { return false; }
    void CloseProgress() override {}
    void ProcessEvents() override {}
    std::string ClipboardText() override { return clipboard_; }
    void SetClipboardText(const std::string& text) override { clipboard_ = text; }
    void SetHourglass(bool) override {}

private:
    std::ostream& err_;
    bool yes_;
    std::string caption_;
    int maximum_ = 0;
    int lastPercent_ = -1;
    std::string clipboard_;
};

} // namespace kv
