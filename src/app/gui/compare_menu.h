#pragma once

namespace kv {

class FileDialogs;
class MainWindow;
class UserMessages;

// File > Compare with (one entry for each image) and File > End comparison in the main window,
// over the window's map tabs. The window owns everything made here.
void InstallImageComparison(MainWindow& window, FileDialogs& files, UserMessages& messages);

} // namespace kv
