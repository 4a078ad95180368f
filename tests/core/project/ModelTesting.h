#pragma once

// Small helpers shared by the tests of the project records and their files.

#include "core/project/Activity.h"
#include "core/project/Records.h"
#include "support/Files.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <ostream>
#include <string>

// Readable failure messages: records print as their JSON, texts as UTF-8.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
template <class T>
void printAsJson(const T& value, std::ostream* os)
{
    try {
        *os << json::dump(json::write(value));
    } catch (const Fail& fail) {
        *os << "(not writable: " << fail.what() << ")";
    }
}
inline void PrintTo(const Segment& v, std::ostream* os) { printAsJson(v, os); }
inline void PrintTo(const Short& v, std::ostream* os) { printAsJson(v, os); }
inline void PrintTo(const Project& v, std::ostream* os) { printAsJson(v, os); }
inline void PrintTo(const Job& v, std::ostream* os) { printAsJson(v, os); }
inline void PrintTo(const Rerun& v, std::ostream* os) { printAsJson(v, os); }

namespace testing_model {

using testfiles::readFile;
using testfiles::uuid;
using testfiles::writeFile;

inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

template <class T>
std::string encode(const T& value)
{
    return json::dump(json::write(value));
}

template <class T>
T decode(const std::string& text)
{
    T value{};
    json::read(json::parse(QByteArrayView(text.data(), qsizetype(text.size()))), value);
    return value;
}

template <class T>
T decode(const Json& value)
{
    return decode<T>(json::dump(value));
}

// The sentence of the Fail that decoding raises; empty when it succeeds.
template <class T>
QString decodeFailure(const std::string& text)
{
    try {
        decode<T>(text);
    } catch (const Fail& fail) {
        return fail.errorDescription.isEmpty() ? QStringLiteral("?") : fail.errorDescription;
    }
    return {};
}

} // namespace testing_model
