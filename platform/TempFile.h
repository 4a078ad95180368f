#pragma once

#include <QFile>
#include <QString>

// Removes a temporary file when the scope ends, however it ends; a failed removal is
// not worth a word.
struct RemoveWhenDone {
    QString path;
    ~RemoveWhenDone() { QFile::remove(path); }
};
