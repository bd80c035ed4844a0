#include "app_version.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kestrovane");
    QApplication::setApplicationVersion(KV_VERSION_TEXT);
    QMainWindow window;
    window.setObjectName("frmMain");
    window.setWindowTitle("Kestrovane");
    window.resize(1024, 720);
    window.show();
    return QApplication::exec();
}
