#pragma once

// What the program runs on the user's behalf, as kept in a project's activity log.

#include "core/project/Json.h"

#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>
#include <variant>
#include <vector>

// What running a job again repeats.
struct Rerun {
    struct Transcribe {
        QString segment;
        QString engine;
        bool operator==(const Transcribe&) const = default;
    };
    struct Summarize {
        std::vector<QString> segments;
        bool operator==(const Summarize&) const = default;
    };
    struct Ideas {
        bool operator==(const Ideas&) const = default;
    };
    struct Ask {
        QString instruction;
        std::vector<QString> segments;
        bool operator==(const Ask&) const = default;
    };

    std::variant<Transcribe, Summarize, Ideas, Ask> value;
    bool operator==(const Rerun&) const = default;
};

// One entry of the activity log.
struct Job {
    QUuid id;
    QString kind; // transcribe, summarize, ideas, ask, export, note
    QString title;
    QString detail;
    QString engine;
    double started = 0; // seconds since 2001-01-01 UTC
    std::optional<double> ended;
    QString state; // running, done, failed, cancelled; read back as interrupted
    std::optional<double> cost; // US dollars
    std::optional<QString> error;
    std::optional<QString> request;
    std::optional<QString> reply;
    std::optional<Rerun> rerun;
    bool operator==(const Job&) const = default;
};

// What one AI or transcription call sent, got back and cost. The caller owns it and
// hands it to the service by reference; the service fills it while the call runs.
struct Trace {
    QString request;
    QString reply;
    double cost = 0;
};
