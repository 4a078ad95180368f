#pragma once

// The set-up checklist: which outside pieces the program needs are present, what each is
// for, and the shell command that installs it.

#include <QCoro/QCoroTask>
#include <QString>
#include <optional>
#include <vector>

namespace Setup {

struct Item {
    QString name;                    // "ffmpeg", "whisper", "whisper model", "OpenRouter key"
    bool ready = false;              // the piece is present now
    QString fix;                     // one sentence on what the piece is for
    std::optional<QString> command;  // installs the piece; absent when there is nothing to run
    bool operator==(const Item&) const = default;
};

// Computed afresh on every call from the disk, the preferences and the API key (which
// the first call of a run reads from the key store). The whisper pieces are left out
// while the transcriber preference is "scribe".
QCoro::Task<std::vector<Item>> items();

} // namespace Setup
