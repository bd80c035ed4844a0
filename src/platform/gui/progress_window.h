#pragma once
// The shared progress window: a caption, a bar and a Cancel button that is hidden until a
// transfer allows cancelling.
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kv {

class ProgressWindow final : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    void Start(const QString& caption, int maximum);
    void SetValue(int value);
    void EnableCancel();
    bool Cancelled() const { return cancelled_; }

    QPushButton* CancelButton() const { return cancel_; }
    QProgressBar* Bar() const { return bar_; }
    QString Caption() const;

protected:
    // Closing the window with its title-bar button counts as Cancel when Cancel is offered.
    void reject() override;

private:
    QLabel* caption_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    bool cancelled_ = false;
};

} // namespace kv
