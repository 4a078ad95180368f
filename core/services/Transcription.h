#pragma once

// Speech to timed transcript lines: the engines behind one interface, the choice of
// engine from the settings, and the transcription of a whole segment.

#include "core/project/Activity.h"
#include "core/project/Records.h"
#include "platform/Cancel.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <memory>
#include <vector>

class Transcriber {
public:
    virtual ~Transcriber() = default;
    // The engine's display name, recorded as a job's engine.
    virtual QString name() const = 0;
    // Lines in seconds from the start of the WAV. `trace` may be null.
    virtual QCoro::Task<std::vector<Line>> transcribe(QString wav, QString language, QString hint, Trace* trace,
                                                      Cancel cancel = {}) const = 0;
};

// whisper-cli on this computer, with a local model file.
class WhisperCLI final : public Transcriber {
public:
    explicit WhisperCLI(QString model) : model(std::move(model)) {}
    QString name() const override;
    QCoro::Task<std::vector<Line>> transcribe(QString wav, QString language, QString hint, Trace* trace,
                                              Cancel cancel = {}) const override;

    // ~/.whisper-models/ggml-large-v3-turbo.bin
    static QString defaultModel();
    // Where a model file of this name is downloaded: the whisper.cpp models on Hugging Face.
    static QString modelAddress(const QString& name);

    QString model;
};

// ElevenLabs Scribe through the gateway; the timed words that come back are grouped
// into lines.
class ScribeOpenRouter final : public Transcriber {
public:
    struct Word {
        QString text;
        double start = 0;
        double end = 0;
    };

    QString name() const override;
    QCoro::Task<std::vector<Line>> transcribe(QString wav, QString language, QString hint, Trace* trace,
                                              Cancel cancel = {}) const override;

    static std::vector<Line> lines(const std::vector<Word>& words);
};

namespace Transcribers {
// The engine the settings choose: "scribe" picks Scribe, anything else whisper.
std::shared_ptr<const Transcriber> current();
// The engine a key names (the key of a job's re-run).
std::shared_ptr<const Transcriber> named(const QString& key);
} // namespace Transcribers

namespace Pipeline {

struct Transcript {
    std::vector<Line> lines; // in seconds of the recording
    QByteArray peaks;
};

// Cuts the segment's audio, transcribes it, moves the lines onto the recording's time
// line (no line ends after the segment) and computes the peaks. The WAV is always removed.
// A segment shorter than `Audio::shortestCut` gives no lines and no peaks, without an engine;
// one that begins before the recording is cut from its start.
QCoro::Task<Transcript> transcribe(Segment segment, QString video, QString language, QString hint,
                                   std::shared_ptr<const Transcriber> engine, Trace* trace, Cancel cancel = {});

} // namespace Pipeline
