#pragma once

// The records of a project. They are plain values, copied freely; the whole project is
// one Project value saved whole as project.json.

#include "core/project/Json.h"

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <optional>
#include <vector>

// One transcript line, in seconds of the recording.
struct Line {
    double t0 = 0;
    double t1 = 0;
    QString text;
    bool operator==(const Line&) const = default;
};

// One piece of a Short or an idea.
struct Cut {
    QUuid id;
    double start = 0;
    double end = 0;
    QString role;
    bool operator==(const Cut&) const = default;
};

struct Short {
    QUuid id;
    QString title;
    std::optional<QUuid> idea; // the idea it was opened from
    std::vector<Cut> cuts;
    std::optional<bool> closed; // its tab is closed

    // The sum of the cuts' lengths, nothing clamped.
    double duration() const;
    bool operator==(const Short&) const = default;
};

// A Short proposed by the language model.
struct Idea {
    QUuid id;
    QString title;
    QString hook;
    QString format;
    QString why;
    std::vector<Cut> cuts;
    bool operator==(const Idea&) const = default;
};

// One marked stretch of the recording.
struct Segment {
    QString id; // "01" for marker segments, "06a" for added or split ones
    double start = 0;
    double end = 0;
    std::vector<double> markers;
    std::optional<std::vector<Line>> lines; // absent until transcribed
    std::optional<QByteArray> peaks;        // one byte per 1/20 s
    QString title;
    QString summary;
    QString energy;
    QString kind;
    QString unsure;
    // Whole-number fields are 64-bit, as a JSON reader of any size may have written them.
    std::optional<qint64> keyLine; // index into lines
    std::optional<QString> error;
    std::optional<qint64> rating; // 1 favourite, -1 rejected
    std::optional<bool> manual;
    std::optional<bool> waiting;
    bool operator==(const Segment&) const = default;
};

// What a package's document held when it was last read or written here, as a digest of its
// bytes. Whether anyone has written it since is told by its content: a file system may give
// a file a new number or time as it is renamed (FAT), and another process may write the
// same bytes, which loses nothing.
struct DiskVersion {
    QByteArray digest;
    bool operator==(const DiskVersion&) const = default;
};

struct Project {
    qint64 format = 1;
    QString video; // absolute path of the recording
    QString markersName;
    QString markersCSV;
    QString note;
    double before = 150;
    double after = 60;
    double duration = 0;
    qint64 markerCount = 0;
    std::vector<Segment> segments;
    std::vector<Idea> ideas;
    std::vector<Short> shorts;
    bool analyzed = false;
    std::optional<bool> ideated;
    std::optional<bool> autoTranscribe;
    std::optional<bool> autoSummarize;
    std::optional<bool> autoIdeas;

    // The first segment (in stored order) under time t, with a millisecond of slack.
    const Segment* segment(double t) const;

    // The package on disk.
    static QString newFile(const QString& video, const std::optional<QString>& markers);
    static std::optional<QString> existingFile(const QString& video);
    // What stands at the names a project of `video` is given (`newFile`'s, then "<stem>
    // 2.vtrl" and on, as far as packages stand there) and is not another recording's
    // project: this recording's own, or one that cannot be read, which may be its own and
    // is never passed over. None when the names lead to a free one.
    static std::optional<QString> namedFile(const QString& video, const std::optional<QString>& markers);
    static Project load(const QString& package);
    // True when the package at `package` may be written for `video`: nothing is there yet,
    // or it holds this recording's project. An unreadable package is kept: the user may
    // still want it.
    static bool mayWrite(const QString& package, const QString& video);
    // The sentence for a package whose folder (or, before it is made, the folder it would
    // be made in) cannot be written; none when a save may be made there.
    static std::optional<QString> unwritable(const QString& package);
    // Writes the document whole and returns the version written.
    DiskVersion save(const QString& package) const;
    // The version of the document that the package holds now (it is read whole); none when
    // it holds no plain file there or it cannot be read.
    static std::optional<DiskVersion> version(const QString& package);
    std::optional<QString> recording(const QString& package) const;
    // True when the stored recording has the file name of `video` (a moved recording
    // still counts as the same one).
    bool isOf(const QString& video) const;

    bool operator==(const Project&) const = default;
};

// Seconds of the recording as "H:MM:SS".
QString clock(double seconds);
