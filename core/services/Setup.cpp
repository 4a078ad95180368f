#include "core/services/Setup.h"

#include "core/services/Analyst.h"
#include "core/services/Tool.h"
#include "core/services/Transcription.h"
#include "platform/Prefs.h"

#include <QDir>
#include <QFileInfo>

namespace Setup {

QCoro::Task<std::vector<Item>> items()
{
    // The key first: everything else is read after the wait, so it is current.
    const std::optional<QString> key = co_await Analyst::key();

    // Read raw: an absent preference is not "scribe", whatever the typed default says.
    const QVariant transcriber = Prefs::shared().value(QStringLiteral("transcriber"));
    const bool scribe = transcriber.isValid() && transcriber.toString() == u"scribe";

    std::vector<Item> out;
    out.push_back({QStringLiteral("ffmpeg"), Tool::find(QStringLiteral("ffmpeg")).has_value(),
                   QStringLiteral("Reads the sound out of a recording."), QStringLiteral("sudo apt install ffmpeg")});
    if (!scribe) {
        out.push_back({QStringLiteral("whisper"), Tool::find(QStringLiteral("whisper-cli")).has_value(),
                       QStringLiteral("Transcribes on this computer."), QStringLiteral("brew install whisper-cpp")});
        const QString model = QDir::homePath() + QStringLiteral("/.whisper-models/ggml-large-v3-turbo.bin");
        out.push_back({QStringLiteral("whisper model"), QFileInfo(model).isFile(),
                       QStringLiteral("The model whisper listens with, 1.6 GB."),
                       QStringLiteral("mkdir -p ~/.whisper-models && curl -L -o ~/.whisper-models/ggml-large-v3-turbo.bin ")
                           + WhisperCLI::modelAddress(QStringLiteral("ggml-large-v3-turbo.bin"))});
    }
    out.push_back({QStringLiteral("OpenRouter key"), key && !key->isEmpty(),
                   QStringLiteral("For summaries, Short ideas and Ask AI")
                       + (scribe ? QStringLiteral(", and for ElevenLabs transcription") : QString())
                       + QStringLiteral(". Paste it in Settings."),
                   std::nullopt});
    co_return out;
}

} // namespace Setup
