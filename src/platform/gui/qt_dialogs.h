#pragma once
// UserDialogs with Qt widgets: QMessageBox, QInputDialog, QFileDialog, a progress window of
// our own, the system clipboard and the busy pointer. Every call must come from the GUI thread.
#include "platform/dialogs.h"

#include <QPointer>

class QWidget;
#include "platform/gui/progress_window.h"

namespace kv {

class QtUserDialogs final : public UserDialogs {
public:
    // `parent` owns the dialogs on screen (normally the main window); may be null.
    explicit QtUserDialogs(QWidget* parent = nullptr);
    ~QtUserDialogs() override;
    QtUserDialogs(const QtUserDialogs&) = delete;
    QtUserDialogs& operator=(const QtUserDialogs&) = delete;

    void SetParent(QWidget* parent) { parent_ = parent; }

    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons = MsgButtons::OK,
                         MsgIcon icon = MsgIcon::None) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText = {}) override;
    std::optional<FileDialogResult> OpenFileDialog(const std::string& title, const std::string& filter,
                                                   int filterIndex = 1) override;
    std::optional<FileDialogResult> SaveFileDialog(const std::string& title, const std::string& filter,
                                                   const std::string& defaultExtension, const std::string& fileName,
                                                   int filterIndex = 1) override;

    // The progress window is application-modal but not blocking: the caller keeps running and
    // calls ProcessEvents() between blocks, which repaints it and makes its Cancel button live.
    void ShowProgress(const std::string& caption, int maximum) override;
    void UpdateProgress(int value) override;
    void EnableProgressCancel() override;
    bool IsProgressCancelled() override;
    void CloseProgress() override;
    void ProcessEvents() override;

    std::string ClipboardText() override;
    void SetClipboardText(const std::string& text) override;
    // Nested calls are not counted: on/on/off leaves the normal pointer.
    void SetHourglass(bool busy) override;

    // The window shown by ShowProgress (null when none); for tests.
    ProgressWindow* Progress() const { return progress_.data(); }

private:
    QPointer<QWidget> parent_;
    QPointer<ProgressWindow> progress_;
    bool hourglass_ = false;
};

} // namespace kv
