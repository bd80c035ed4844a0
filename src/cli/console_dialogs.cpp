#include "cli/console_dialogs.h"

#include <ostream>

namespace kv {

MsgResult ConsoleDialogs::MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon) {
    err_ << title << ": " << text << "\n";
    switch (buttons) {
    case MsgButtons::OK: return MsgResult::OK;
    case MsgButtons::OKCancel: return yes_ ? MsgResult::OK : MsgResult::Cancel;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return yes_ ? MsgResult::Yes : MsgResult::No;
    }
    return MsgResult::OK;
}

std::optional<std::string> ConsoleDialogs::InputBox(const std::string&, const std::string&,
                                                    const std::string& defaultText) {
    return defaultText;
}

std::optional<FileDialogResult> ConsoleDialogs::OpenFileDialog(const std::string&, const std::string&, int) {
    return std::nullopt;
}

std::optional<FileDialogResult> ConsoleDialogs::SaveFileDialog(const std::string&, const std::string&,
                                                               const std::string&, const std::string&, int) {
    return std::nullopt;
}

void ConsoleDialogs::ShowProgress(const std::string& caption, int maximum) {
    if (caption == caption_ && maximum == maximum_) return; // the same window shown again
    caption_ = caption;
    maximum_ = maximum;
    lastPercent_ = -1;
    err_ << caption << "\n";
}

void ConsoleDialogs::UpdateProgress(int value) {
    if (maximum_ <= 1) return;
    const int percent = value * 100 / maximum_;
    if (percent / 25 == lastPercent_ / 25 && lastPercent_ >= 0) return; // a line per quarter
    lastPercent_ = percent;
    err_ << "  " << caption_ << ": " << percent << "%\n";
}

} // namespace kv
