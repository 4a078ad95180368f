#pragma once

// File helpers shared by the tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QUuid>

namespace testfiles {

// Writes `bytes` to `path`, making its folder first; `executable` adds the owner's x bit.
inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return !executable || file.setPermissions(file.permissions() | QFile::ExeOwner);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A fixed UUID per number, for records whose ids a test compares.
inline QUuid uuid(int n)
{
    return QUuid(QStringLiteral("01234567-89ab-cdef-0123-%1").arg(n, 12, 10, QLatin1Char('0')));
}

} // namespace testfiles
