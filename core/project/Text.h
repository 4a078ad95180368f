#pragma once

// Small text helpers shared by the file formats, the prompts and the replies.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace Text {

// Cuts a text at every line-break character: LF, VT, FF, CR, CR LF (as one break),
// NEL U+0085, LINE SEPARATOR U+2028 and PARAGRAPH SEPARATOR U+2029. Empty lines are kept.
QStringList lines(QStringView text);

// UTF-8 bytes as text, exactly: a leading U+FEFF stays (QString::fromUtf8 drops it as a
// byte-order mark). For texts inside a document; a whole file's byte-order mark is the
// reader's business. Invalid sequences become U+FFFD, as with QString::fromUtf8.
QString fromUtf8(QByteArrayView bytes);

bool isLineBreak(QChar c);
// Unicode white space without line breaks: tab and the space separators.
bool isBlank(QChar c);

// The three kinds of trimming: only spaces and tabs; white space (tab and every space
// separator); white space and line breaks.
QString trimSpacesTabs(QStringView text);
QString trimWhitespace(QStringView text);
QString trimWhitespaceAndLines(QStringView text);

// A decimal number in plain notation: optional sign, digits with an optional fraction,
// optional exponent. No blanks, no hexadecimal, no infinity or NaN, nothing out of range.
std::optional<double> decimal(QStringView text);
// A whole decimal number with an optional sign that fits in 64 bits.
std::optional<qint64> integer(QStringView text);

// The shortest plain decimal that reads back as the same double ("150", "0.1",
// "100000", "0.0001"); never an exponent.
QString number(double value);
// The same, but a whole value keeps one decimal ("150.0"), as the program's older texts read.
QString numberWithPoint(double value);

// Characters as a user sees them (grapheme clusters).
int graphemes(QStringView text);
QString firstGraphemes(const QString& text, int count);
// True when `text` begins with `prefix` and the prefix ends on a character boundary.
bool hasPrefix(const QString& text, const QString& prefix);

// File-name pieces: a leading dot does not start an extension (".csv" has none).
QString extension(const QString& fileName);
QString stem(const QString& fileName);
// The absolute, clean form of a path ("clips/../Stream.mp4" → "/home/me/Stream.mp4"), so
// that one file is always kept under one name; empty stays empty.
QString absolutePath(const QString& path);

} // namespace Text
