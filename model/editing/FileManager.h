#pragma once

#include <QCoro/QCoroTask>
#include <QString>

namespace FileManager {

// Shows the file or folder at `path` selected in the desktop's file manager (over D-Bus,
// org.freedesktop.FileManager1), or opens the folder that holds it when no file manager
// answers. False when neither worked, so that the user can be told; always false without
// a graphical session (command-line jobs).
QCoro::Task<bool> show(QString path);

} // namespace FileManager
