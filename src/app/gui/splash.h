#pragma once
// The splash window shown during start-up, with the program's version label.
#include <QWidget>

class QLabel;

namespace kv {

class SplashWindow final : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(const QString& versionLabel, QWidget* parent = nullptr);
    // Shows and paints it at once (the event loop is not running yet during start-up).
    void ShowAndPaint();
    void PaintNow();
    QLabel* VersionLabel() const { return lblVersion_; }

private:
    QLabel* lblVersion_;
};

} // namespace kv
