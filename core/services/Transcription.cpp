#include "core/services/Transcription.h"

#include "core/project/Json.h"
#include "core/project/Text.h"
#include "core/services/Analyst.h"
#include "core/services/Audio.h"
#include "core/services/Tool.h"
#include "platform/Http.h"
#include "platform/Prefs.h"
#include "platform/TempFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>

namespace {

QString withoutWavExtension(const QString& wav)
{
    const QFileInfo info(wav);
    const QString stem = Text::stem(info.fileName());
    return info.dir().filePath(stem);
}

using json::member;
using json::textAt;

// whisper's JSON: every item needs offsets.from, offsets.to (numbers) and a text.
std::vector<Line> readWhisper(const QByteArray& bytes)
{
    // whisper cuts pieces at byte counts, so a piece can end inside a character (Thai
    // text does): invalid sequences become U+FFFD and are dropped below.
    const QString text = QString::fromUtf8(bytes);
    const std::optional<Json> parsed = Analyst::readJson(text.toUtf8());
    const Fail unreadable(QStringLiteral("whisper-cli wrote a transcript that could not be read."));
    if (!parsed || !parsed->is_object())
        throw unreadable;
    const Json* items = member(*parsed, "transcription");
    if (!items || !items->is_array())
        throw unreadable;
    std::vector<Line> lines;
    for (const Json& item : *items) {
        const Json* offsets = member(item, "offsets");
        const Json* from = offsets ? member(*offsets, "from") : nullptr;
        const Json* to = offsets ? member(*offsets, "to") : nullptr;
        const auto piece = textAt(item, "text");
        const auto t0 = from ? Analyst::finiteNumber(*from) : std::nullopt;
        const auto t1 = to ? Analyst::finiteNumber(*to) : std::nullopt;
        if (!t0 || !t1 || !piece)
            throw unreadable;
        QString cleaned = *piece;
        cleaned.remove(QChar(0xFFFD));
        cleaned = Text::trimWhitespaceAndLines(cleaned);
        if (!cleaned.isEmpty())
            lines.push_back({*t0 / 1000.0, *t1 / 1000.0, cleaned});
    }
    return lines;
}

bool startsAscii(const QString& text)
{
    const QString first = Text::firstGraphemes(text, 1);
    return !first.isEmpty() && std::all_of(first.begin(), first.end(), [](QChar c) { return c.unicode() < 0x80; });
}

bool endsAscii(const QString& text)
{
    return !text.isEmpty() && text.back().unicode() < 0x80;
}

} // namespace

// ---- whisper ----

QString WhisperCLI::name() const
{
    return QStringLiteral("whisper (on this computer)");
}

QString WhisperCLI::defaultModel()
{
    return QDir::homePath() + QStringLiteral("/.whisper-models/ggml-large-v3-turbo.bin");
}

QString WhisperCLI::modelAddress(const QString& name)
{
    return QStringLiteral("https://huggingface.co/ggerganov/whisper.cpp/resolve/main/") + name;
}

QCoro::Task<std::vector<Line>> WhisperCLI::transcribe(QString wav, QString language, QString hint, Trace* trace,
                                                      Cancel) const
{
    // The model is not installed with whisper-cli: the sentence says where it comes from.
    if (!QFileInfo(model).isFile()) {
        const QString name = QFileInfo(model).fileName();
        throw Fail(QStringLiteral("The whisper model is missing at ") + model + QStringLiteral(". Download ") + name
                   + QStringLiteral(" from the whisper.cpp models on Hugging Face, ") + modelAddress(name)
                   + QStringLiteral(", and put it there."));
    }
    const QString base = withoutWavExtension(wav);
    QStringList args{"-m", model, "-f", wav, "-l", language, "-np", "-ml", "60", "-oj", "-of", base};
    if (!hint.isEmpty())
        args << QStringLiteral("--prompt") << hint;
    if (trace)
        trace->request = QStringLiteral("whisper-cli ") + args.join(u' ');

    const RemoveWhenDone output{base + QStringLiteral(".json")};
    co_await Tool::run(QStringLiteral("whisper-cli"), args);
    QFile file(output.path);
    if (!file.open(QIODevice::ReadOnly))
        throw Fail(QStringLiteral("whisper-cli wrote no transcript."));
    co_return readWhisper(file.readAll());
}

// ---- Scribe ----

QString ScribeOpenRouter::name() const
{
    return QStringLiteral("ElevenLabs Scribe (OpenRouter)");
}

QCoro::Task<std::vector<Line>> ScribeOpenRouter::transcribe(QString wav, QString language, QString, Trace* trace,
                                                            Cancel cancel) const
{
    const std::optional<QString> key = co_await Analyst::key();
    if (!key || key->isEmpty())
        throw Fail(QStringLiteral("Add your OpenRouter key in Settings to use Scribe."));
    if (trace) {
        const qint64 seconds = std::max<qint64>(0, QFileInfo(wav).size() / 32000);
        trace->request = QStringLiteral("elevenlabs/scribe-v2, language ") + language + QStringLiteral(", ")
            + QString::number(seconds) + QStringLiteral(" s of audio");
    }

    QFile file(wav);
    if (!file.open(QIODevice::ReadOnly))
        throw Fail(QStringLiteral("The segment's audio could not be read: %1.").arg(file.errorString()));
    const QByteArray audio = file.readAll();

    Json body = Json::object();
    body["model"] = "elevenlabs/scribe-v2";
    body["language"] = language.toStdString();
    body["response_format"] = "verbose_json";
    body["timestamp_granularities"] = Json::array({"word"});
    body["input_audio"] = Json{{"data", audio.toBase64().toStdString()}, {"format", "wav"}};

    Http::Request request;
    request.method = "POST";
    request.url = Analyst::endpoint(QStringLiteral("/api/v1/audio/transcriptions"));
    request.timeout = std::chrono::seconds(300);
    request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + key->toUtf8()}};
    request.body = json::dumpBytes(body);
    const Http::Response response = co_await Http::exchange(std::move(request), std::move(cancel));

    std::optional<Json> parsed = Analyst::readJson(response.body);
    if (!parsed)
        throw Fail(Analyst::notJsonSentence());
    const Json reply = parsed->is_object() ? std::move(*parsed) : Json::object();

    if (trace)
        trace->cost += Analyst::reportedCost(reply);

    const Json* words = member(reply, "words");
    const bool allObjects = words && words->is_array()
        && std::all_of(words->begin(), words->end(), [](const Json& w) { return w.is_object(); });
    if (response.status == 200 && allObjects) {
        if (trace)
            trace->reply = textAt(reply, "text").value_or(QString());
        std::vector<Word> timed;
        for (const Json& w : *words) {
            const auto text = textAt(w, "word") ? textAt(w, "word") : textAt(w, "text");
            const Json* start = member(w, "start");
            const Json* end = member(w, "end");
            const auto t0 = start ? Analyst::finiteNumber(*start) : std::nullopt;
            const auto t1 = end ? Analyst::finiteNumber(*end) : std::nullopt;
            if (text && t0 && t1)
                timed.push_back({*text, *t0, *t1});
        }
        co_return lines(timed);
    }

    QString message = QStringLiteral("No timed words came back.");
    if (const Json* error = member(reply, "error"))
        if (const auto text = textAt(*error, "message"))
            message = *text;
    if (trace)
        trace->reply = QString::fromUtf8(response.body.left(4000));
    throw Fail(QStringLiteral("Scribe could not transcribe this. ") + message);
}

std::vector<Line> ScribeOpenRouter::lines(const std::vector<Word>& words)
{
    std::vector<Line> out;
    for (const Word& word : words) {
        if (Text::trimWhitespaceAndLines(word.text).isEmpty())
            continue; // the blank spacing entries between words
        if (!out.empty()) {
            Line& last = out.back();
            const double gap = word.start - last.t1;
            const double length = word.end - last.t0;
            if (gap < 0.6 && length < 9.0 && (gap < 0.15 || length < 5.0)) {
                // Languages written without blanks (Thai) join directly.
                const bool blank = !last.text.isEmpty() && endsAscii(last.text) && startsAscii(word.text)
                    && !word.text.startsWith(u' ');
                if (blank)
                    last.text += u' ';
                last.text += word.text;
                last.t1 = word.end;
                continue;
            }
        }
        out.push_back({word.start, word.end, Text::trimWhitespace(word.text)});
    }
    return out;
}

// ---- choosing an engine ----

namespace Transcribers {

std::shared_ptr<const Transcriber> named(const QString& key)
{
    if (key == u"scribe")
        return std::make_shared<ScribeOpenRouter>();
    return std::make_shared<WhisperCLI>(WhisperCLI::defaultModel());
}

std::shared_ptr<const Transcriber> current()
{
    return named(Prefs::shared().transcriber());
}

} // namespace Transcribers

// ---- a whole segment ----

namespace Pipeline {

QCoro::Task<Transcript> transcribe(Segment segment, QString video, QString language, QString hint,
                                   std::shared_ptr<const Transcriber> engine, Trace* trace, Cancel cancel)
{
    // Sound begins at the recording's start: ffmpeg cuts a stretch that begins before it
    // from there, so the lines are counted from there too.
    const double from = std::max(segment.start, 0.0);
    // A stretch too short to cut holds no speech; no engine is run (nor paid) for it.
    if (!(segment.end - from >= Audio::shortestCut))
        co_return Transcript{};
    const QString wav = co_await Audio::extract(video, from, segment.end - from);
    const RemoveWhenDone cleanup{wav};
    std::vector<Line> lines = co_await engine->transcribe(wav, language, hint, trace, cancel);
    for (Line& line : lines) {
        line.t0 += from;
        line.t1 = std::min(line.t1 + from, segment.end);
    }
    co_return Transcript{std::move(lines), Audio::peaks(wav)};
}

} // namespace Pipeline
