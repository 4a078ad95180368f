#include "core/project/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <charconv>
#include <cmath>
#include <string>

namespace Text {

QString fromUtf8(QByteArrayView bytes)
{
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes); // the common case, and the fastest
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x0A || u == 0x0B || u == 0x0C || u == 0x0D || u == 0x85 || u == 0x2028
        || u == 0x2029;
}

bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringList lines(QStringView text)
{
    QStringList out;
    qsizetype begin = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (!isLineBreak(text[i]))
            continue;
        out.append(text.mid(begin, i - begin).toString());
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        begin = i + 1;
    }
    out.append(text.mid(begin).toString());
    return out;
}

namespace {
template <class Pred>
QString trimBy(QStringView text, Pred drop)
{
    qsizetype b = 0, e = text.size();
    while (b < e && drop(text[b]))
        ++b;
    while (e > b && drop(text[e - 1]))
        --e;
    return text.mid(b, e - b).toString();
}
} // namespace

QString trimSpacesTabs(QStringView text)
{
    return trimBy(text, [](QChar c) { return c == u' ' || c == u'\t'; });
}

QString trimWhitespace(QStringView text)
{
    return trimBy(text, isBlank);
}

QString trimWhitespaceAndLines(QStringView text)
{
    return trimBy(text, [](QChar c) { return isBlank(c) || isLineBreak(c); });
}

std::optional<double> decimal(QStringView text)
{
    // Check the shape first: from_chars alone would take "inf", "nan" and hex forms.
    std::string s;
    s.reserve(size_t(text.size()));
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digitsAt = [&](qsizetype& k) {
        const qsizetype from = k;
        while (k < n && text[k] >= u'0' && text[k] <= u'9')
            ++k;
        return k - from;
    };
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype whole = digitsAt(i);
    qsizetype fraction = 0;
    if (i < n && text[i] == u'.') {
        ++i;
        fraction = digitsAt(i);
    }
    if (whole + fraction == 0)
        return std::nullopt;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        if (digitsAt(i) == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    for (QChar c : text)
        s.push_back(char(c.unicode()));
    const char* first = s.data();
    if (*first == '+')
        ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint64> integer(QStringView text)
{
    std::string s;
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        s.push_back(char(c.unicode()));
    }
    const char* first = s.data();
    if (!s.empty() && *first == '+')
        ++first;
    if (first == s.data() + s.size() || *first == '+')
        return std::nullopt;
    qint64 value = 0;
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

QString number(double value)
{
    // Fixed notation: ffmpeg refuses "1e+05". The longest such text of a double (the
    // smallest one, "0." and 323 zeros before its digit) fits easily.
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(buffer, end - buffer);
}

QString numberWithPoint(double value)
{
    QString s = number(value);
    if (std::isfinite(value) && !s.contains(u'.'))
        s += QStringLiteral(".0");
    return s;
}

int graphemes(QStringView text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.toString());
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString firstGraphemes(const QString& text, int count)
{
    if (count <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            break;
        end = next;
    }
    return text.left(end);
}

bool hasPrefix(const QString& text, const QString& prefix)
{
    if (!text.startsWith(prefix))
        return false;
    if (prefix.isEmpty() || prefix.size() == text.size())
        return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(prefix.size());
    return finder.isAtBoundary();
}

QString extension(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    return fileName.mid(dot + 1);
}

QString stem(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return fileName;
    return fileName.left(dot);
}

QString absolutePath(const QString& path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace Text
