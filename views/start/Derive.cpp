#include "views/start/Derive.h"

#include "core/project/Markers.h"
#include "core/services/Pricing.h"
#include "views/kit/Format.h"

#include <QColor>
#include <algorithm>
#include <cmath>

namespace {
QString plural(qint64 n, const QString& word)
{
    return QString::number(n) + u' ' + word + (n == 1 ? QString() : QStringLiteral("s"));
}
} // namespace

QString plainTip(const QString& text)
{
    return text.isEmpty() ? QString() : QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

// ---- the set-up sheet ----

SetupPreview setupPreview(const std::vector<double>& marks, double before, double after, double length,
                          bool hasMarkers, const QString& package, const std::optional<QString>& unwritable)
{
    SetupPreview p;
    const std::vector<Segment> segments = Markers::segments(marks, before, after, length);
    double total = 0;
    for (const Segment& s : segments)
        total += s.end - s.start;
    p.segments = int(segments.size());
    p.minutes = std::llround(total / 60);
    p.package = package;
    p.sentence = QString::number(marks.size()) + QStringLiteral(" markers become ") + QString::number(p.segments)
        + QStringLiteral(" segments, about ") + QString::number(p.minutes)
        + QStringLiteral(" minutes to transcribe. ");
    p.sentence += unwritable
        ? *unwritable
        : QStringLiteral("The recording is not cut or copied; your work is saved beside it as ") + package + u'.';
    p.canOpen = hasMarkers && !marks.empty() && !unwritable;
    return p;
}

QString stepperLabel(double seconds)
{
    return span(seconds).chopped(2);
}

QString setupHelp(const QString& transcriber)
{
    const QString engine = transcriber == u"scribe" ? QStringLiteral("through ElevenLabs") : QStringLiteral("on this computer");
    return QStringLiteral("Transcribing runs ") + engine
        + QStringLiteral(" and takes a few minutes. Summaries and ideas go to OpenRouter and cost a little each; they "
                         "are kept in the project and never asked for twice unless you ask. Anything left off can be "
                         "run later from the Stream menu.");
}

// ---- the workspace key map ----

KeyAction decideKey(int key, Qt::KeyboardModifiers modifiers, const QString& text, const KeyContext& context)
{
    if (context.streamKey || context.noWindow || context.modal || context.textFocus
        || modifiers.testFlag(Qt::ControlModifier))
        return KeyAction::pass;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    switch (key) {
    case Qt::Key_Space:
        return KeyAction::togglePlay;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return KeyAction::remove;
    case Qt::Key_Escape:
        return KeyAction::escape;
    case Qt::Key_Left:
        return shift ? KeyAction::bigStepBack : KeyAction::stepBack;
    case Qt::Key_Right:
        return shift ? KeyAction::bigStepForward : KeyAction::stepForward;
    default:
        break;
    }
    // Letters by the key, so that Shift or Alt do not change their meaning.
    QString letter = text.toLower();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        letter = QChar(u'a' + (key - Qt::Key_A));
    if (letter == u"i")
        return KeyAction::markStart;
    if (letter == u"o")
        return KeyAction::markEnd;
    if (letter == u"a")
        return KeyAction::addRange;
    if (letter == u"b")
        return KeyAction::split;
    if (letter == u"f")
        return KeyAction::favourite;
    if (letter == u"u")
        return KeyAction::unrate;
    return KeyAction::pass;
}

// ---- the split confirmation ----

QString splitTitle(const std::optional<QString>& selection, double playhead)
{
    return QStringLiteral("Split segment ") + selection.value_or(QString()) + QStringLiteral(" at ") + clock(playhead)
        + u'?';
}

QString splitMessage(const Project& project, const std::optional<QString>& selection, double playhead)
{
    if (!selection)
        return {};
    const auto found = std::find_if(project.segments.begin(), project.segments.end(),
                                    [&](const Segment& s) { return s.id == *selection; });
    if (found == project.segments.end())
        return {};
    return QStringLiteral("It becomes two segments, ") + span(std::max(0.0, playhead - found->start))
        + QStringLiteral(" and ") + span(std::max(0.0, found->end - playhead))
        + QStringLiteral(" long, which you can keep or reject separately. Their summary is dropped; ask for new "
                         "ones when you want them. Join puts them back.");
}

// ---- the saved window size ----

std::optional<QRect> restoredGeometry(std::optional<double> width, std::optional<double> height, QRect current,
                                      std::optional<QRect> screen)
{
    if (!width || !height || !std::isfinite(*width) || !std::isfinite(*height) || *width < leastRestored.width()
        || *height < leastRestored.height() || *width > 100000 || *height > 100000)
        return std::nullopt;
    QRect r(current.topLeft(), QSize(int(std::lround(*width)), int(std::lround(*height))));
    if (screen) {
        // Never larger than the screen, and inside it.
        r.setSize(r.size().boundedTo(screen->size()));
        r.moveLeft(std::max(std::min(r.left(), screen->right() + 1 - r.width()), screen->left()));
        r.moveTop(std::max(std::min(r.top(), screen->bottom() + 1 - r.height()), screen->top()));
    }
    return r;
}

// ---- the sidebar ----

std::vector<Idea> unopenedIdeas(const Project& project)
{
    std::vector<Idea> out;
    for (const Idea& idea : project.ideas) {
        const bool opened = std::any_of(project.shorts.begin(), project.shorts.end(),
                                        [&](const Short& s) { return s.idea == idea.id; });
        if (!opened)
            out.push_back(idea);
    }
    return out;
}

int rejectedCount(const Project& project)
{
    return int(std::count_if(project.segments.begin(), project.segments.end(),
                             [](const Segment& s) { return s.rating == -1; }));
}

QString streamLine(const Project& project)
{
    const QString time = std::isfinite(project.duration) ? clock(project.duration) : QStringLiteral("–:––:––");
    return time + QStringLiteral(" · ") + QString::number(project.markerCount) + QStringLiteral(" markers");
}

QString hideRejectedTitle(int rejected)
{
    return rejected > 0 ? QStringLiteral("Hide rejected (%1)").arg(rejected) : QStringLiteral("Hide rejected");
}

std::vector<const Segment*> listedSegments(const Project& project, int filter)
{
    std::vector<const Segment*> out;
    for (const Segment& s : project.segments) {
        const bool keep = filter == 0 ? true : filter == 1 ? s.rating == 1 : s.rating != -1;
        if (keep)
            out.push_back(&s);
    }
    return out;
}

std::vector<MapBlock> mapBlocks(const Project& project, const std::optional<QString>& selection, double width)
{
    const double total = std::isfinite(project.duration) ? std::max(project.duration, 1.0) : 1.0;
    std::vector<MapBlock> out;
    for (const Segment& s : project.segments) {
        MapBlock b;
        b.x = s.start / total * width;
        b.width = std::max(3.0, (s.end - s.start) / total * width);
        b.fill = selection == s.id ? Fill::accent : s.rating == 1 ? Fill::favourite : Fill::plain;
        b.opacity = s.rating == -1 ? 0.3 : 1;
        out.push_back(b);
    }
    return out;
}

double mapTime(const Project& project, double x, double width)
{
    const double total = std::isfinite(project.duration) ? std::max(project.duration, 1.0) : 1.0;
    double f = x / width;
    if (!std::isfinite(f))
        f = 0;
    return std::clamp(f, 0.0, 1.0) * total;
}

QString lookAgainMessage(std::optional<double> estimate, int unopened)
{
    QString text = QStringLiteral("AI reads the whole stream again");
    if (estimate)
        text += QStringLiteral(", ") + Pricing::about(estimate);
    else
        text += QStringLiteral(", which costs about as much as the first time");
    text += QStringLiteral(". The ") + plural(unopened, QStringLiteral("idea"));
    return text + QStringLiteral(" you have not opened will be replaced. Your Shorts are not touched.");
}

QString transcribeNotice(int n)
{
    return QString::number(n) + (n == 1 ? QStringLiteral(" segment is") : QStringLiteral(" segments are"))
        + QStringLiteral(" not transcribed");
}

QString summaryNotice(int n)
{
    return QString::number(n) + (n == 1 ? QStringLiteral(" segment has") : QStringLiteral(" segments have"))
        + QStringLiteral(" no summary");
}

QString ideasEmptyText(const Project& project)
{
    if (!project.ideas.empty())
        return QStringLiteral("Every idea is already one of your Shorts.");
    if (project.ideated == true)
        return QStringLiteral("AI found nothing it would post from this stream.");
    return QStringLiteral("None yet. The sparkle button above can look for some.");
}

// ---- rows ----

RowState rowState(const Segment& segment)
{
    if (segment.error)
        return RowState::retry;
    if (segment.waiting == true)
        return RowState::transcribe;
    if (segment.lines)
        return RowState::vibe;
    return RowState::working;
}

QString segmentTitle(const Segment& segment)
{
    return segment.title.isEmpty() ? QStringLiteral("Segment ") + segment.id : segment.title;
}

QString usedText(int shorts)
{
    return shorts < 1 ? QString() : QStringLiteral("in ") + plural(shorts, QStringLiteral("Short"));
}

QString transcribeTip(const Segment& segment)
{
    return QStringLiteral("This one is ") + span(segment.end - segment.start)
        + QStringLiteral(" long, so it was not transcribed without asking");
}

QString vibeText(const Segment& segment)
{
    return segment.energy.isEmpty() ? QString() : segment.energy + QStringLiteral(" · ") + segment.kind;
}

QColor vibeColour(const QString& energy)
{
    if (energy == u"tense")
        return QColor(255, 149, 0);
    if (energy == u"panic")
        return QColor(255, 59, 48);
    if (energy == u"hype")
        return QColor(175, 82, 222);
    return QColor(142, 142, 147);
}

bool markedByCut(const Segment& segment, const std::vector<Cut>& cuts)
{
    return std::any_of(cuts.begin(), cuts.end(),
                       [&](const Cut& c) { return c.start < segment.end && segment.start < c.end; });
}

ShortInfo shortInfo(const Short& s)
{
    if (s.cuts.empty())
        return {QStringLiteral("empty"), false};
    const double length = s.duration();
    return {span(length) + QStringLiteral(" · ") + plural(qint64(s.cuts.size()), QStringLiteral("cut")), length > 60.0};
}

QString revertTitle(const Short& s)
{
    return QStringLiteral("Revert “") + s.title + QStringLiteral("” to AI's cut?");
}

QString revertMessage(const std::optional<Idea>& idea)
{
    return QStringLiteral("Your trims, reordering and added cuts in this Short will be replaced by the ")
        + QString::number(idea ? idea->cuts.size() : 0) + QStringLiteral(" cuts AI proposed. You can undo this.");
}

std::vector<MenuEntry> segmentMenu(const Segment& segment, bool touchesNext)
{
    std::vector<MenuEntry> out{
        {segment.rating == 1 ? QStringLiteral("Not a Favourite") : QStringLiteral("Favourite")},
        {segment.rating == -1 ? QStringLiteral("Not Rejected") : QStringLiteral("Reject")},
        MenuEntry(),
        {QStringLiteral("Transcribe Again"), false,
         {QStringLiteral("With whisper, on this computer"), QStringLiteral("With ElevenLabs Scribe")}},
    };
    if (touchesNext)
        out.push_back({QStringLiteral("Join With the Next Segment")});
    if (segment.manual == true) {
        out.push_back(MenuEntry());
        out.push_back({QStringLiteral("Remove Segment"), true});
    }
    return out;
}

std::vector<MenuEntry> shortMenu(bool hasIdea, bool edited)
{
    std::vector<MenuEntry> out{{QStringLiteral("Rename…")}, {QStringLiteral("Duplicate")}};
    if (hasIdea && edited)
        out.push_back({QStringLiteral("Revert to AI's Cut…")});
    out.push_back(MenuEntry());
    out.push_back({QStringLiteral("Delete Short"), true});
    return out;
}

// ---- the idea card ----

double ideaLength(const Idea& idea)
{
    double total = 0;
    for (const Cut& c : idea.cuts)
        total += c.end - c.start;
    return total;
}

QString ideaFooter(const Idea& idea)
{
    return span(ideaLength(idea)) + QStringLiteral(" · ") + plural(qint64(idea.cuts.size()), QStringLiteral("cut"));
}

std::vector<double> barWidths(const Idea& idea, double band)
{
    std::vector<double> out;
    if (idea.cuts.empty())
        return out;
    const double total = ideaLength(idea);
    const double room = band - 2.0 * double(idea.cuts.size() - 1);
    for (const Cut& c : idea.cuts)
        out.push_back(std::max(2.0, room * (c.end - c.start) / (total < 0.1 ? 0.1 : total)));
    return out;
}
