#include "platform/Prefs.h"

#include "core/project/Text.h"

Prefs& Prefs::shared()
{
    static Prefs* prefs = new Prefs;
    return *prefs;
}

Prefs::Prefs(QObject* parent)
    : QObject(parent)
    , settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vantorel"), QStringLiteral("Vantorel"))
{
}

Prefs::Prefs(const QString& file, QObject* parent)
    : QObject(parent)
    , settings(file, QSettings::IniFormat)
{
}

QVariant Prefs::value(const QString& key) const
{
    return settings.value(key);
}

bool Prefs::contains(const QString& key) const
{
    return settings.contains(key);
}

void Prefs::set(const QString& key, const QVariant& value)
{
    if (settings.contains(key) && settings.value(key) == value)
        return;
    settings.setValue(key, value);
    Q_EMIT changed(key);
}

void Prefs::remove(const QString& key)
{
    if (!settings.contains(key))
        return;
    settings.remove(key);
    Q_EMIT changed(key);
}

QString Prefs::text(const QString& key, const QString& fallback) const
{
    const QVariant v = settings.value(key);
    return v.isValid() ? v.toString() : fallback;
}

bool Prefs::flag(const QString& key, bool fallback) const
{
    const QVariant v = settings.value(key);
    if (!v.isValid())
        return fallback;
    // The INI file keeps flags as the words true and false.
    const QString s = v.toString();
    if (s == u"true" || s == u"1")
        return true;
    if (s == u"false" || s == u"0")
        return false;
    return fallback;
}

std::optional<double> Prefs::optionalNumber(const QString& key) const
{
    const QVariant v = settings.value(key);
    if (!v.isValid())
        return std::nullopt;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
        return v.toDouble();
    return Text::decimal(v.toString());
}

double Prefs::number(const QString& key, double fallback) const
{
    return optionalNumber(key).value_or(fallback);
}

int Prefs::integer(const QString& key, int fallback) const
{
    const auto n = optionalNumber(key);
    return n && *n >= -2147483648.0 && *n <= 2147483647.0 ? int(*n) : fallback;
}

QStringList Prefs::recents() const
{
    // Only a list of texts counts. The INI file gives a one-entry list back as a plain
    // text, so that is a list too.
    const QVariant raw = settings.value(QStringLiteral("recents"));
    switch (raw.typeId()) {
    case QMetaType::QStringList:
        return raw.toStringList();
    case QMetaType::QString:
        return {raw.toString()};
    case QMetaType::QVariantList: {
        QStringList list;
        for (const QVariant& v : raw.toList()) {
            if (v.typeId() != QMetaType::QString)
                return {};
            list.append(v.toString());
        }
        return list;
    }
    default:
        return {};
    }
}
