#pragma once

// The JSON rules every stored record follows: keys in declaration order, absent optionals
// left out, whole numbers written without a fraction, non-finite numbers refused, UUIDs in
// upper case, bytes as Base64, dates as seconds since 2001-01-01 UTC. Reading is strict:
// a missing required key or a value of the wrong type fails the whole decode.

#include "core/project/Fail.h"

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

using Json = nlohmann::ordered_json;

struct Line;
struct Cut;
struct Short;
struct Idea;
struct Segment;
struct Project;
struct Job;
struct Rerun;

namespace json {

// Compact text; forward slashes are written as "\/" like the files written before.
// Invalid UTF-8 in a string is replaced, never thrown on.
std::string dump(const Json& value);
QByteArray dumpBytes(const Json& value);
// Parses one JSON text; a syntax error becomes a Fail.
Json parse(QByteArrayView bytes);

Fail typeMismatch(const char* key, const char* expected);

// ---- writing ----
Json write(double value); // throws Fail when the number is not finite
Json write(qint64 value);
inline Json write(int value) { return write(qint64(value)); }
Json write(bool value);
Json write(const QString& value);
Json write(const QUuid& value);
Json write(const QByteArray& bytes); // Base64
// The records (defined with them) are declared here so the list and optional helpers
// below can find them.
Json write(const Line& v);
Json write(const Cut& v);
Json write(const Short& v);
Json write(const Idea& v);
Json write(const Segment& v);
Json write(const Project& v);
Json write(const Job& v);
Json write(const Rerun& v);
class Writer;
void write(Writer& out, const Line& v);
void write(Writer& out, const Cut& v);
void write(Writer& out, const Short& v);
void write(Writer& out, const Idea& v);
void write(Writer& out, const Segment& v);
void write(Writer& out, const Project& v);
template <class T>
Json write(const std::vector<T>& items)
{
    Json array = Json::array();
    for (const T& item : items)
        array.push_back(write(item));
    return array;
}

template <class T>
void put(Json& object, const char* key, const T& value)
{
    object[key] = write(value);
}
template <class T>
void put(Json& object, const char* key, const std::optional<T>& value)
{
    if (value)
        object[key] = write(*value);
}

// ---- writing text straight away ----

// Writes JSON text without building the tree first, byte for byte what dump(write(x))
// gives for the same value: saving a large project is mostly this, after every edit.
class Writer {
public:
    Writer() { reserve(4096); }
    void reserve(qsizetype bytes);
    // The text written so far; the writer is empty afterwards.
    QByteArray take();

    void value(double value); // throws Fail when the number is not finite
    void value(qint64 value);
    void value(int value) { this->value(qint64(value)); }
    void value(bool value);
    void value(const QString& value);
    void value(const QUuid& value);
    void value(const QByteArray& bytes); // Base64
    template <class T>
    void value(const std::vector<T>& items)
    {
        raw('[');
        bool first = true;
        for (const T& item : items) {
            if (!first)
                raw(',');
            first = false;
            value(item);
        }
        raw(']');
    }
    // A record: its fields are written by the overload of write(Writer&, ...) beside it.
    template <class T>
    void value(const T& record)
    {
        write(*this, record);
    }

    // An object, whose members `fields` adds through the Fields it is given.
    class Fields {
    public:
        template <class T>
        void operator()(const char* key, const T& v)
        {
            name(key);
            out_.value(v);
        }
        template <class T>
        void operator()(const char* key, const std::optional<T>& v)
        {
            if (v)
                (*this)(key, *v);
        }

    private:
        friend class Writer;
        explicit Fields(Writer& out) : out_(out) {}
        void name(const char* key);
        Writer& out_;
        bool first_ = true;
    };
    template <class F>
    void object(F&& fields)
    {
        raw('{');
        Fields members(*this);
        fields(members);
        raw('}');
    }

private:
    void raw(char c)
    {
        if (size_ == buffer_.size())
            grow(1);
        buffer_.data()[size_++] = c;
    }
    // Room for `more` bytes past the end.
    char* room(qsizetype more)
    {
        if (buffer_.size() - size_ < more)
            grow(more);
        return buffer_.data() + size_;
    }
    void grow(qsizetype more);
    void slowText(const QString& value, qsizetype from);

    QByteArray buffer_; // its size is the capacity; size_ bytes are written
    qsizetype size_ = 0;
};

// The fields of a record, for both ways of writing it: a tree (Json) and text (Writer).
struct TreeFields {
    Json& object;
    template <class T>
    void operator()(const char* key, const T& v)
    {
        put(object, key, v);
    }
};

// JSON text of a record, as the files hold it.
template <class T>
QByteArray encode(const T& value)
{
    Writer out;
    out.value(value);
    return out.take();
}

// ---- reading ----
void read(const Json& v, double& out);
void read(const Json& v, qint64& out);
void read(const Json& v, int& out);
void read(const Json& v, bool& out);
void read(const Json& v, QString& out);
void read(const Json& v, QUuid& out);
void read(const Json& v, QByteArray& out); // Base64
void read(const Json& j, Line& out);
void read(const Json& j, Cut& out);
void read(const Json& j, Short& out);
void read(const Json& j, Idea& out);
void read(const Json& j, Segment& out);
void read(const Json& j, Project& out);
void read(const Json& j, Job& out);
void read(const Json& j, Rerun& out);
template <class T>
void read(const Json& v, std::vector<T>& out)
{
    if (!v.is_array())
        throw typeMismatch(nullptr, "an array");
    out.clear();
    out.reserve(v.size());
    for (const Json& item : v) {
        T element{};
        read(item, element);
        out.push_back(std::move(element));
    }
}

const Json& object(const Json& v);

template <class T>
void need(const Json& object, const char* key, T& out)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        throw Fail(QStringLiteral("The key \u201c%1\u201d is missing.").arg(QLatin1String(key)));
    try {
        read(*it, out);
    } catch (const Fail&) {
        throw typeMismatch(key, "another type");
    }
}

template <class T>
void maybe(const Json& object, const char* key, std::optional<T>& out)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        out.reset();
        return;
    }
    T value{};
    try {
        read(*it, value);
    } catch (const Fail&) {
        throw typeMismatch(key, "another type");
    }
    out = std::move(value);
}

// ---- lenient reading, for replies of outside services ----

// The member of an object, or null when the value is no object or lacks the key.
const Json* member(const Json& object, const char* key);
// The member when it is a text.
std::optional<QString> textAt(const Json& object, const char* key);

// Dates: seconds since 2001-01-01 00:00:00 UTC.
constexpr double referenceEpoch = 978307200.0; // that moment in Unix seconds
double now();

} // namespace json
