#include "app/gui/main_window.h"
#include "app/gui/program.h"
#include "app_version.h"

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>

#include <iostream>
#include <string>
#include <vector>

namespace kv {} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Kestrovane");
    QApplication::setApplicationName("Kestrovane");
    QApplication::setApplicationVersion(KV_VERSION_TEXT);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    Parsed<ProgramOptions> options = ParseProgramOptions(args);
    if (!options) {
        std::cerr << options.Error() << "\n" << kUsage;
        return 2;
    }
    // Unsaved edits are kept in the user's data folder until they are saved or given up.
    options->journalFolder =
        (QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/journal").toStdString();
    Program program(*options);
    if (!program.Error().empty()) {
        std::cerr << program.Error() << "\n";
        QMessageBox::critical(nullptr, "Error", QString::fromStdString(program.Error()));
        return 2;
    }
    program.StartUp();
    return QApplication::exec();
}
