#include "views/windows/Derive.h"

#include "core/project/Text.h"
#include "views/kit/Format.h"

#include <QFileInfo>
#include <QStringList>

namespace {

bool control(QChar c)
{
    return c.category() == QChar::Other_Control || Text::isLineBreak(c);
}

} // namespace

QString oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (control(c))
            c = u' ';
    }
    return line;
}

QString exportLength(double seconds, int cuts)
{
    return span(seconds) + QStringLiteral(" · ") + QString::number(cuts) + QStringLiteral(" cut")
           + (cuts == 1 ? QString() : QStringLiteral("s"));
}

QString exportName(const std::optional<QString>& video, const std::optional<QString>& title)
{
    const QString head = video ? Text::firstGraphemes(QFileInfo(*video).fileName(), 10) : QString();
    const QString raw = head + u' ' + title.value_or(QStringLiteral("Short"));
    QString name;
    name.reserve(raw.size());
    for (const QChar c : raw) {
        if (c == u'/')
            name += u'-';
        else if (c == u':' || control(c))
            continue;
        else
            name += c;
    }
    return name;
}

std::vector<const Segment*> listedSegments(const Project& project)
{
    std::vector<const Segment*> listed;
    for (const Segment& s : project.segments) {
        if (s.lines && s.rating != -1)
            listed.push_back(&s);
    }
    return listed;
}

int askListHeight(int listed)
{
    return std::min(28 * listed + 4, 280);
}

QString includeCount(const std::set<QString>& include)
{
    return include.empty() ? QStringLiteral("none") : QString::number(include.size());
}

bool canCreate(const QString& instruction, bool composing)
{
    return !composing && !Text::trimSpacesTabs(instruction).isEmpty();
}

QString money(double dollars)
{
    if (dollars < 0.1)
        return QString::asprintf("%.1f", dollars * 100) + QStringLiteral("¢");
    return QString::asprintf("$%.2f", dollars);
}

QString jobLength(const Job& job)
{
    if (!job.ended || job.state == u"note")
        return {};
    const double took = *job.ended - job.started;
    return took >= 60 ? span(took) : QString::asprintf("%.0f s", took);
}

QString jobLine(const Job& job, const QString& when)
{
    QStringList parts{when};
    if (job.state != u"done" && job.state != u"note")
        parts << job.state;
    if (const QString length = jobLength(job); !length.isEmpty())
        parts << length;
    if (job.cost)
        parts << money(*job.cost);
    return parts.join(QStringLiteral(" · "));
}

QString activityFooter(size_t jobs, double spent)
{
    if (jobs == 0)
        return QStringLiteral("Nothing has run yet");
    return QString::number(jobs) + QStringLiteral(" entries · ") + money(spent) + QStringLiteral(" spent");
}

Mark mark(const Job& job)
{
    using C = Mark::Colour;
    if (job.state == u"running")
        return {};
    if (job.state == u"failed")
        return {QStringLiteral("exclamationmark.circle.fill"), C::red};
    if (job.state == u"cancelled" || job.state == u"interrupted")
        return {QStringLiteral("stop.circle"), C::secondary};
    if (job.state == u"note")
        return {QStringLiteral("pencil"), C::secondary};
    if (job.kind == u"transcribe")
        return {QStringLiteral("waveform"), C::accent};
    if (job.kind == u"export")
        return {QStringLiteral("square.and.arrow.up"), C::accent};
    return {QStringLiteral("sparkles"), C::accent};
}

std::optional<size_t> shownJob(const std::vector<Job>& jobs, const std::optional<QUuid>& chosen)
{
    if (chosen) {
        for (size_t i = 0; i < jobs.size(); ++i) {
            if (jobs[i].id == *chosen)
                return i;
        }
    }
    if (jobs.empty())
        return std::nullopt;
    return 0;
}

HeaderButton headerButton(const Job& job, bool stoppable)
{
    if (job.state == u"running")
        return stoppable ? HeaderButton::stop : HeaderButton::none;
    return job.rerun ? HeaderButton::runAgain : HeaderButton::none;
}

QString clipped(const QString& text)
{
    // Every character counts as at least one code unit: a short text needs no counting.
    if (text.size() <= shownCharacters)
        return text;
    const int total = Text::graphemes(text);
    if (total <= shownCharacters)
        return text;
    return Text::firstGraphemes(text, shownCharacters) + QStringLiteral("\n… (") + QString::number(total - shownCharacters)
           + QStringLiteral(" more characters; Copy takes everything)");
}
