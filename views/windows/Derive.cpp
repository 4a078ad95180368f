#include "views/windows/Derive.h"

#include "core/project/Text.h"
#include "views/kit/Format.h"

#include <QFileInfo>

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
        else if (c == u':' || c.category() == QChar::Other_Control || Text::isLineBreak(c))
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
