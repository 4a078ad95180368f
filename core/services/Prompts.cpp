#include "core/services/Prompts.h"

#include "core/project/Text.h"
#include "platform/Prefs.h"

namespace Analyst {

namespace {

const QString sharedParagraph = QStringLiteral(
    "The transcripts are automatic and unreliable, especially for English game terms, which can "
    "come out as odd syllables in the spoken language. Use the streamer's note and the other "
    "segments to work out what was meant. The streamer pressed a marker right after something "
    "worth clipping, so each segment's key moment is usually near where the marker falls, well "
    "into the segment. Every transcript line has an id like 06.03 (segment 06, line 3).");

QString noteParagraph(const Project& project)
{
    if (project.note.isEmpty())
        return {};
    return QStringLiteral("\n\nThe streamer's note about this stream: ") + project.note;
}

using json::textAt;
using json::member;

// The elements of a list member that are objects; anything else counts as empty.
std::vector<const Json*> objectsAt(const Json& object, const char* key)
{
    std::vector<const Json*> out;
    const Json* list = member(object, key);
    if (!list || !list->is_array())
        return out;
    for (const Json& item : *list) {
        if (!item.is_object())
            return {};
        out.push_back(&item);
    }
    return out;
}

std::vector<Message> conversation(const QString& system, const QString& user)
{
    return {{QStringLiteral("system"), system}, {QStringLiteral("user"), user}};
}

template <class Keep>
std::vector<Segment> filtered(const std::vector<Segment>& segments, Keep keep)
{
    std::vector<Segment> out;
    for (const Segment& s : segments) {
        if (keep(s))
            out.push_back(s);
    }
    return out;
}

} // namespace

QString summaryModel()
{
    return Prefs::shared().model();
}

QString editModel()
{
    return Prefs::shared().editModel();
}

QString transcript(const std::vector<Segment>& segments)
{
    QString out;
    for (const Segment& s : segments) {
        out += QStringLiteral("## Segment ") + s.id + QStringLiteral(" (stream time ") + clock(s.start)
            + QStringLiteral(" to ") + clock(s.end) + QStringLiteral(")\n");
        if (s.lines) {
            int n = 0;
            for (const Line& line : *s.lines) {
                out += s.id + u'.' + QString::asprintf("%02d", ++n) + QStringLiteral(" [") + clock(line.t0)
                    + QStringLiteral("] ") + line.text + u'\n';
            }
        }
        out += u'\n';
    }
    return out;
}

QString digest(const std::vector<Segment>& segments)
{
    QStringList rows;
    for (const Segment& s : segments) {
        QString row = QStringLiteral("Segment ") + s.id + QStringLiteral(" (") + clock(s.start)
            + QStringLiteral(", ") + s.energy + u' ' + s.kind;
        if (s.rating == 1)
            row += QStringLiteral(", one of the streamer's favourites");
        row += QStringLiteral("): ") + s.title + QStringLiteral(". ") + s.summary;
        rows.append(row);
    }
    return rows.join(u'\n');
}

std::optional<LineRef> line(const Json* value, const std::vector<Segment>& segments)
{
    const QString text = value && value->is_string()
        ? QString::fromStdString(value->get_ref<const std::string&>())
        : QString();
    const QStringList pieces = text.split(u'.', Qt::SkipEmptyParts);
    if (pieces.size() != 2)
        return std::nullopt;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].id != pieces[0])
            continue;
        const auto n = Text::integer(pieces[1]);
        if (!n || *n < 1 || !segments[i].lines || size_t(*n) > segments[i].lines->size())
            return std::nullopt;
        return LineRef{i, size_t(*n - 1)};
    }
    return std::nullopt;
}

std::vector<Cut> cuts(const Json* value, const std::vector<Segment>& segments)
{
    std::vector<Cut> out;
    if (!value || !value->is_array())
        return out;
    for (const Json& item : *value) {
        if (!item.is_object())
            return {}; // a list with anything but objects in it is not a cut list
    }
    for (const Json& item : *value) {
        const auto from = line(member(item, "from"), segments);
        const auto to = line(member(item, "to"), segments);
        if (!from || !to || from->segment != to->segment || to->line < from->line)
            continue;
        const std::vector<Line>& lines = *segments[from->segment].lines;
        const double start = lines[from->line].t0;
        const double end = lines[to->line].t1;
        if (!(end - start >= 0.3))
            continue;
        out.push_back({QUuid::createUuid(), start, end, textAt(item, "role").value_or(QString())});
    }
    return out;
}

QCoro::Task<std::vector<Segment>> summarize(Project project, std::optional<std::set<QString>> only,
                                            Trace* trace, Cancel cancel)
{
    const QString system = QStringLiteral(
        "You describe the marked segments of one stream, for a streamer who will cut Shorts from them.\n\n")
        + sharedParagraph
        + QStringLiteral(
            "\n\nReply with JSON only, one entry per segment:\n{\"segments\": [{\n  \"id\": \"06\",\n"
            "  \"short\": \"at most 8 words, English, the specific event, sentence case, no commas, never mention the streamer\",\n"
            "  \"long\": \"2 to 3 English sentences: what leads up to it, what happens, how it lands\",\n"
            "  \"energy\": \"calm | tense | panic | hype\",\n"
            "  \"type\": \"fail | win | discovery | banter | rant | wholesome\",\n"
            "  \"key_line\": \"id of the single most quotable line\",\n"
            "  \"unsure\": \"one short sentence on what you could not make out, or empty\"\n}]}")
        + noteParagraph(project);

    QString user;
    if (!only) {
        user = transcript(project.segments);
    } else {
        const auto background = filtered(project.segments, [&](const Segment& s) {
            return !only->count(s.id) && !s.title.isEmpty();
        });
        const auto described = filtered(project.segments, [&](const Segment& s) { return only->count(s.id) > 0; });
        user = QStringLiteral("The rest of the stream, for background only:\n") + digest(background)
            + QStringLiteral("\n\nDescribe just these:\n\n") + transcript(described);
    }

    const Answer answer = co_await ask(summaryModel(), conversation(system, user), 12000, 4000, trace, cancel);

    std::vector<Segment> segments = project.segments;
    for (const Json* entry : objectsAt(answer.json, "segments")) {
        const auto id = textAt(*entry, "id");
        if (!id)
            continue;
        const auto target = std::find_if(segments.begin(), segments.end(),
                                         [&](const Segment& s) { return s.id == *id; });
        if (target == segments.end())
            continue;
        target->title = textAt(*entry, "short").value_or(QString());
        target->summary = textAt(*entry, "long").value_or(QString());
        target->energy = textAt(*entry, "energy").value_or(QString());
        target->kind = textAt(*entry, "type").value_or(QString());
        target->unsure = textAt(*entry, "unsure").value_or(QString());
        const auto key = line(member(*entry, "key_line"), segments);
        const size_t index = size_t(target - segments.begin());
        if (key && key->segment == index)
            target->keyLine = qint64(key->line);
        else
            target->keyLine.reset();
    }
    co_return segments;
}

QCoro::Task<std::vector<Idea>> ideas(Project project, Trace* trace, Cancel cancel)
{
    const auto shown = filtered(project.segments, [](const Segment& s) { return s.rating != -1; });
    const QString system = QStringLiteral(
        "You help a streamer turn one stream into Shorts (vertical videos under 60 seconds).\n\n")
        + sharedParagraph
        + QStringLiteral(
            "\n\nReply with JSON only:\n{\"ideas\": [{\n  \"title\": \"working title, English\",\n"
            "  \"hook\": \"what the first 2 seconds show or say\",\n"
            "  \"format\": \"single moment | montage | setup and payoff | running gag\",\n"
            "  \"why\": \"one sentence on why this would work as a Short\",\n"
            "  \"cuts\": [{\"from\": \"06.02\", \"to\": \"06.05\", \"role\": \"setup | build | payoff | reaction | button\"}]\n}]}\n\n"
            "Give 0 to 3 ideas, only ones you would actually post. One marker does not have to mean one "
            "Short: combine moments from different segments when they belong together, and leave segments "
            "unused when they are weak. Cuts play in the order listed and need not follow stream order. "
            "Each cut is a run of consecutive lines inside one segment. Keep a Short's total under 60 "
            "seconds; tighter is better. The cut list is a rough edit that a person will trim.")
        + noteParagraph(project);
    const QString user = QStringLiteral("What each segment is about:\n") + digest(shown)
        + QStringLiteral("\n\nTranscripts:\n\n") + transcript(shown);

    const Answer answer = co_await ask(editModel(), conversation(system, user), 12000, 5000, trace, cancel);

    std::vector<Idea> out;
    for (const Json* entry : objectsAt(answer.json, "ideas")) {
        std::vector<Cut> found = cuts(member(*entry, "cuts"), shown);
        if (found.empty())
            continue;
        out.push_back({QUuid::createUuid(), textAt(*entry, "title").value_or(QStringLiteral("Untitled")),
                       textAt(*entry, "hook").value_or(QString()), textAt(*entry, "format").value_or(QString()),
                       textAt(*entry, "why").value_or(QString()), std::move(found)});
    }
    co_return out;
}

QCoro::Task<Short> compose(QString instruction, Project project, std::set<QString> include,
                           std::optional<QString> onScreen, Trace* trace,
                           std::function<void(const QString&)> progress, Cancel cancel)
{
    const auto usable = filtered(project.segments, [](const Segment& s) { return s.lines && s.rating != -1; });
    auto isUsable = [&](const QString& id) {
        return std::any_of(usable.begin(), usable.end(), [&](const Segment& s) { return s.id == id; });
    };
    std::set<QString> readable;
    for (const QString& id : include) {
        if (isUsable(id))
            readable.insert(id);
    }
    auto readableSegments = [&](const std::set<QString>& ids) {
        return filtered(usable, [&](const Segment& s) { return ids.count(s.id) > 0; });
    };
    auto report = [&](const QString& text) {
        if (progress)
            progress(text);
    };

    QString system = QStringLiteral(
        "You cut one Short (a vertical video under 60 seconds) from a stream, following the streamer's instruction.\n\n")
        + sharedParagraph
        + QStringLiteral(
            "\n\nYou are given a one-line summary of every marked segment, and the full transcript of some of "
            "them. You can only cut from segments whose transcript you have read. If the instruction needs a "
            "segment you have not read, ask for it by replying with JSON only:\n{\"read\": [\"05\", \"07\"]}\n"
            "You will then get those transcripts. Ask only for what the instruction needs.")
        + QStringLiteral(
            "\n\nWhen you have what you need, choose the cuts that tell the moment well: enough lead-in to make "
            "sense, the moment itself, and a beat of reaction. Cuts play in the order listed. Each cut is a run "
            "of consecutive lines inside one segment. Keep the total under 60 seconds unless told otherwise; a "
            "person will trim it after you. Reply with JSON only:\n{\"title\": \"working title, English\", "
            "\"cuts\": [{\"from\": \"03.07\", \"to\": \"03.11\", \"role\": \"setup | build | payoff | reaction | "
            "button\"}], \"note\": \"one sentence: what you picked, or why you could not find it\"}\n\n"
            "If nothing in the stream matches what was asked for, return no cuts and say so in the note.");
    if (onScreen) {
        system += QStringLiteral("\n\nThe streamer is looking at segment ") + *onScreen
            + QStringLiteral(" while asking, so \"this segment\" or \"here\" means that one.");
    }
    system += noteParagraph(project);

    QString user = QStringLiteral("Instruction: ") + instruction + QStringLiteral("\n\nEvery segment:\n")
        + digest(usable) + QStringLiteral("\n\n");
    if (readable.empty()) {
        user += QStringLiteral(
            "You have not been given any transcript yet. Work out from the summaries which segments the "
            "instruction is about, and ask to read those.");
        report(QStringLiteral("Reading the summaries"));
    } else {
        user += QStringLiteral("Transcripts you can read now:\n\n") + transcript(readableSegments(readable));
        report(QStringLiteral("Reading ") + QString::number(readable.size()) + QStringLiteral(" segment")
               + (readable.size() == 1 ? "" : "s"));
    }

    std::vector<Message> messages = conversation(system, user);
    for (int turn = 0;; ++turn) {
        const Answer answer = co_await ask(editModel(), messages, 10000, 4000, trace, cancel);

        QStringList fresh;
        if (const Json* read = member(answer.json, "read"); read && read->is_array()) {
            for (const Json& item : *read) {
                if (!item.is_string()) {
                    fresh.clear(); // a list with anything but texts in it counts as empty
                    break;
                }
                const QString id = QString::fromStdString(item.get_ref<const std::string&>());
                if (!readable.count(id) && isUsable(id) && !fresh.contains(id))
                    fresh.append(id);
            }
        }
        if (turn < 3 && !fresh.isEmpty()) {
            report(QStringLiteral("It asked to read segment") + (fresh.size() == 1 ? "" : "s") + u' '
                   + fresh.join(QStringLiteral(", ")));
            const std::set<QString> added(fresh.begin(), fresh.end());
            readable.insert(added.begin(), added.end());
            messages.push_back({QStringLiteral("assistant"), answer.text});
            messages.push_back({QStringLiteral("user"), transcript(readableSegments(added))});
            report(QStringLiteral("Reading on"));
            continue;
        }

        Short made;
        made.cuts = cuts(member(answer.json, "cuts"), readableSegments(readable));
        if (made.cuts.empty()) {
            // An empty note would leave the user with an empty error, so it gets the
            // standard sentence too.
            const QString note = textAt(answer.json, "note").value_or(QString());
            throw Fail(note.isEmpty() ? QStringLiteral("Nothing in the transcripts matched that.") : note);
        }
        made.id = QUuid::createUuid();
        made.title = textAt(answer.json, "title").value_or(QStringLiteral("Untitled Short"));
        co_return made;
    }
}

} // namespace Analyst
