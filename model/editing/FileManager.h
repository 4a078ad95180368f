#pragma once

#include <QString>

namespace FileManager {

// Shows the file or folder at `path` selected in the desktop's file manager (over D-Bus,
// org.freedesktop.FileManager1), or opens the folder that holds it when no file manager
// answers. Does nothing without a graphical session (command-line jobs).
void show(const QString& path);

} // namespace FileManager
