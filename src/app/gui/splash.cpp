#include "app/gui/splash.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace kv {

SplashWindow::SplashWindow(const QString& versionLabel, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("frmSplash");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel("Kestrovane", this);
    title->setObjectName("lblTitle");
    QFont font = title->font();
    font.setPointSize(font.pointSize() * 2);
    font.setBold(true);
    title->setFont(font);
    auto* subtitle = new QLabel("Live tuning for the engine-control units of the 928", this);
    lblVersion_ = new QLabel(versionLabel, this);
    lblVersion_->setObjectName("lblVersion");
    for (QLabel* l : {title, subtitle, lblVersion_}) {
        l->setAlignment(Qt::AlignCenter);
        layout->addWidget(l);
    }
    setStyleSheet("SplashWindow { border: 1px solid gray; }");
    resize(420, 180);
}

void SplashWindow::ShowAndPaint() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    PaintNow();
}

void SplashWindow::PaintNow() {
    repaint();
    QCoreApplication::processEvents();
}

} // namespace kv
