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
