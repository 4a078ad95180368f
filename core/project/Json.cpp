#include "core/project/Json.h"
#include "core/project/Text.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace json {

std::string dump(const Json& value)
{
    const std::string plain = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    // A slash can only stand inside a string in JSON text, so escaping every one is safe.
    std::string out;
    out.reserve(plain.size() + plain.size() / 16);
    for (char c : plain) {
        if (c == '/')
            out += "\\/";
        else
            out += c;
    }
    return out;
}

QByteArray dumpBytes(const Json& value)
{
    const std::string text = dump(value);
    return QByteArray(text.data(), qsizetype(text.size()));
}

Json parse(QByteArrayView bytes)
{
    try {
        return Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception&) {
        throw Fail(QStringLiteral("The text is not valid JSON."));
    }
}

Fail typeMismatch(const char* key, const char* expected)
{
    if (key)
        return Fail(QStringLiteral("The value of \u201c%1\u201d has the wrong type.")
                        .arg(QLatin1String(key)));
    return Fail(QStringLiteral("A value is not %1.").arg(QLatin1String(expected)));
}

Json write(double value)
{
    if (!std::isfinite(value))
        throw Fail(QStringLiteral("A number that is not finite cannot be written as JSON."));
    // Whole values are written without a fraction ("150", not "150.0"), like the
    // files this format has always had; they read back as the same double.
    constexpr double exact = 9007199254740992.0; // 2^53
    if (value == std::trunc(value) && std::fabs(value) < exact)
        return Json(qint64(value));
    return Json(value);
}

Json write(qint64 value) { return Json(value); }
Json write(bool value) { return Json(value); }
Json write(const QString& value) { return Json(value.toStdString()); }

Json write(const QUuid& value)
{
    return Json(value.toString(QUuid::WithoutBraces).toUpper().toStdString());
}

Json write(const QByteArray& bytes)
{
    return Json(bytes.toBase64().toStdString());
}

// ---- Writer ----

void Writer::reserve(qsizetype bytes)
{
    if (buffer_.size() < bytes)
        buffer_.resize(bytes);
}

void Writer::grow(qsizetype more)
{
    buffer_.resize(std::max(buffer_.size() * 2, size_ + more));
}

QByteArray Writer::take()
{
    buffer_.truncate(size_);
    size_ = 0;
    return std::exchange(buffer_, QByteArray());
}

void Writer::Fields::name(const char* key)
{
    // Keys are our own plain ASCII names: nothing in them needs escaping.
    const size_t length = std::strlen(key);
    char* p = out_.room(qsizetype(length) + 4);
    if (!first_)
        *p++ = ',';
    first_ = false;
    *p++ = '"';
    std::memcpy(p, key, length);
    p += length;
    *p++ = '"';
    *p++ = ':';
    out_.size_ = p - out_.buffer_.data();
}

void Writer::value(double value)
{
    if (!std::isfinite(value))
        throw Fail(QStringLiteral("A number that is not finite cannot be written as JSON."));
    // The same choice as write(double): whole values as integers.
    constexpr double exact = 9007199254740992.0; // 2^53
    if (value == std::trunc(value) && std::fabs(value) < exact) {
        this->value(qint64(value));
        return;
    }
    // The library's own shortest form, so the digits are those its dump writes.
    char* p = room(64);
    size_ += nlohmann::detail::to_chars(p, p + 64, value) - p;
}

void Writer::value(qint64 value)
{
    char* p = room(24);
    size_ += std::to_chars(p, p + 24, value).ptr - p;
}

void Writer::value(bool value)
{
    char* p = room(5);
    if (value) {
        std::memcpy(p, "true", 4);
        size_ += 4;
    } else {
        std::memcpy(p, "false", 5);
        size_ += 5;
    }
}

namespace {
// What the library writes for each ASCII character inside a string (with "/" escaped as
// dump() does): 0 for the character itself, else the letter after the backslash, or 'u'
// for the \u00xx form.
constexpr std::array<char, 128> escapes = [] {
    std::array<char, 128> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    table['/'] = '/';
    return table;
}();
} // namespace

void Writer::value(const QString& value)
{
    const qsizetype start = size_;
    const qsizetype length = value.size();
    // At most six bytes for one UTF-16 unit (\u001f), and the quotes.
    char* p = room(length * 6 + 2);
    *p++ = '"';
    const char16_t* s = reinterpret_cast<const char16_t*>(value.constData());
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = s[i];
        if (c < 0x80) {
            const char e = escapes[c];
            if (!e) {
                *p++ = char(c);
            } else if (e != 'u') {
                *p++ = '\\';
                *p++ = e;
            } else {
                static constexpr char hex[] = "0123456789abcdef";
                std::memcpy(p, "\\u00", 4);
                p[4] = hex[c >> 4];
                p[5] = hex[c & 15];
                p += 6;
            }
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            const bool paired = c <= 0xDBFF && i + 1 < length && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF;
            if (!paired) {
                // A lone surrogate: the library's own way, whatever it makes of it.
                size_ = start;
                slowText(value, start);
                return;
            }
            const char32_t code = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00);
            ++i;
            *p++ = char(0xF0 | (code >> 18));
            *p++ = char(0x80 | ((code >> 12) & 0x3F));
            *p++ = char(0x80 | ((code >> 6) & 0x3F));
            *p++ = char(0x80 | (code & 0x3F));
        } else {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    *p++ = '"';
    size_ = p - buffer_.data();
}

void Writer::slowText(const QString& value, qsizetype from)
{
    const std::string text = dump(write(value));
    char* p = room(qsizetype(text.size()));
    std::memcpy(p, text.data(), text.size());
    size_ = from + qsizetype(text.size());
}

void Writer::value(const QUuid& value)
{
    // As write(QUuid): 8-4-4-4-12 upper-case hexadecimal digits.
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = value.toRfc4122();
    char* p = room(38);
    *p++ = '"';
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            *p++ = '-';
        const auto b = quint8(bytes[i]);
        *p++ = hex[b >> 4];
        *p++ = hex[b & 15];
    }
    *p++ = '"';
    size_ = p - buffer_.data();
}

void Writer::value(const QByteArray& bytes)
{
    // Base64 with padding, as QByteArray::toBase64 writes it, and its "/" escaped.
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    // Four characters for three bytes, each "/" two; the quotes.
    char* p = room((n + 2) / 3 * 8 + 2);
    auto put = [&p](unsigned index) {
        const char c = alphabet[index];
        if (c == '/')
            *p++ = '\\';
        *p++ = c;
    };
    *p++ = '"';
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        put(v >> 18);
        put((v >> 12) & 63);
        put((v >> 6) & 63);
        put(v & 63);
    }
    if (n - i == 1) {
        const unsigned v = unsigned(in[i]) << 16;
        put(v >> 18);
        put((v >> 12) & 63);
        *p++ = '=';
        *p++ = '=';
    } else if (n - i == 2) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8);
        put(v >> 18);
        put((v >> 12) & 63);
        put((v >> 6) & 63);
        *p++ = '=';
    }
    *p++ = '"';
    size_ = p - buffer_.data();
}

const Json& object(const Json& v)
{
    if (!v.is_object())
        throw typeMismatch(nullptr, "an object");
    return v;
}

void read(const Json& v, double& out)
{
    if (!v.is_number())
        throw typeMismatch(nullptr, "a number");
    out = v.get<double>();
}

void read(const Json& v, qint64& out)
{
    if (v.is_number_integer() && !v.is_number_unsigned()) {
        out = v.get<qint64>();
        return;
    }
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<qint64>::max()))
            throw typeMismatch(nullptr, "a whole number");
        out = qint64(u);
        return;
    }
    if (v.is_number_float()) {
        // 3.0 is a whole number; 3.5 and 1e300 are not.
        const double d = v.get<double>();
        if (d == std::trunc(d) && std::fabs(d) < 9.2e18) {
            out = qint64(d);
            return;
        }
    }
    throw typeMismatch(nullptr, "a whole number");
}

void read(const Json& v, int& out)
{
    qint64 wide = 0;
    read(v, wide);
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        throw typeMismatch(nullptr, "a whole number");
    out = int(wide);
}

void read(const Json& v, bool& out)
{
    if (!v.is_boolean())
        throw typeMismatch(nullptr, "a flag");
    out = v.get<bool>();
}

void read(const Json& v, QString& out)
{
    if (!v.is_string())
        throw typeMismatch(nullptr, "a text");
    out = Text::fromUtf8(v.get_ref<const std::string&>());
}

void read(const Json& v, QUuid& out)
{
    QString text;
    read(v, text);
    // Only the plain 8-4-4-4-12 form, either case; no braces.
    static const auto shape = [](const QString& s) {
        if (s.size() != 36)
            return false;
        for (int i = 0; i < 36; ++i) {
            const QChar c = s[i];
            if (i == 8 || i == 13 || i == 18 || i == 23) {
                if (c != u'-')
                    return false;
            } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')
                           || (c >= u'A' && c <= u'F'))) {
                return false;
            }
        }
        return true;
    };
    if (!shape(text))
        throw typeMismatch(nullptr, "a UUID");
    out = QUuid::fromString(text);
}

void read(const Json& v, QByteArray& out)
{
    QString text;
    read(v, text);
    auto result = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!result || text.size() % 4 != 0)
        throw typeMismatch(nullptr, "Base64 data");
    out = std::move(*result);
}

const Json* member(const Json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<QString> textAt(const Json& object, const char* key)
{
    const Json* value = member(object, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return Text::fromUtf8(value->get_ref<const std::string&>());
}

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - referenceEpoch;
}

} // namespace json
