#include "core/project/Json.h"

#include <QDateTime>
#include <cmath>
#include <limits>

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
    out = QString::fromStdString(v.get_ref<const std::string&>());
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
    return QString::fromStdString(value->get_ref<const std::string&>());
}

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - referenceEpoch;
}

} // namespace json
