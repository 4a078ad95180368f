#pragma once

#include <QDateTime>
#include <QString>

// Rolling copies of project.json in the per-user data folder (Vantorel/Backups),
// each named "<stem> yyyy-MM-dd HH.mm.ss.vtrl"; the newest 10 of a project stay.
namespace Backups {

QString folder();
// Copies the package's project.json (or the legacy file) and prunes; reports nothing.
void keep(const QString& package);
void keep(const QString& package, const QDateTime& now);

} // namespace Backups
