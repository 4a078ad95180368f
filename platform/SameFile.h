#pragma once

#include <QFile>
#include <QString>
#include <sys/stat.h>

// Whether the file open at `fd` is still the one named `path`: a lock taken on a file that
// was removed or replaced meanwhile holds nothing there.
inline bool sameFile(int fd, const QString& path)
{
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
           && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}
