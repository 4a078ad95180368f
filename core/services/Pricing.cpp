#include "core/services/Pricing.h"

#include "core/project/Json.h"
#include "core/project/Text.h"
#include "core/services/Analyst.h"
#include "platform/Http.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <cmath>

namespace Pricing {

namespace {

constexpr double day = 86400;

QString pricingKey() { return QStringLiteral("pricing"); }
QString fetchedKey() { return QStringLiteral("pricingFetched"); }

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

std::optional<double> numberIn(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const double d = v.toDouble();
        return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// The model's entry when every entry of the cached map is a list of numbers.
std::optional<std::vector<double>> cachedEntry(const QString& model, const Prefs& prefs)
{
    const QVariant stored = prefs.value(pricingKey());
    if (stored.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = stored.toMap();
    std::optional<std::vector<double>> entry;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.value().typeId() != QMetaType::QVariantList)
            return std::nullopt;
        std::vector<double> numbers;
        for (const QVariant& item : it.value().toList()) {
            const std::optional<double> n = numberIn(item);
            if (!n)
                return std::nullopt;
            numbers.push_back(*n);
        }
        if (it.key() == model)
            entry = std::move(numbers);
    }
    return entry;
}

// A price as the model list gives it: a text holding a decimal number.
std::optional<double> priceText(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return Text::decimal(QString::fromStdString(it->get_ref<const std::string&>()));
}

} // namespace

std::optional<Price> price(const QString& model, const Prefs& prefs)
{
    const auto entry = cachedEntry(model, prefs);
    if (!entry || entry->size() != 2)
        return std::nullopt;
    return Price{(*entry)[0], (*entry)[1]};
}

QCoro::Task<> refresh(Cancel cancel, Prefs& prefs)
{
    const double fetched = prefs.number(fetchedKey(), 0);
    if (now() - fetched <= day && price(prefs.editModel(), prefs))
        co_return;

    Http::Request request;
    request.url = Analyst::endpoint(QStringLiteral("/api/v1/models"));
    request.timeout = std::chrono::seconds(60);
    const Http::Response response = co_await Http::send(std::move(request), std::move(cancel));
    if (response.transportError)
        co_return;

    // Whatever the status: a list that reads is a list.
    const std::optional<Json> reply = Analyst::readJson(response.body);
    if (!reply || !reply->is_object())
        co_return;
    const auto data = reply->find("data");
    if (data == reply->end() || !data->is_array())
        co_return;
    for (const Json& model : *data)
        if (!model.is_object())
            co_return;

    QVariantMap map;
    for (const Json& model : *data) {
        const auto id = model.find("id");
        const auto pricing = model.find("pricing");
        if (id == model.end() || !id->is_string() || pricing == model.end() || !pricing->is_object())
            continue;
        const std::optional<double> prompt = priceText(*pricing, "prompt");
        const std::optional<double> completion = priceText(*pricing, "completion");
        if (!prompt || !completion)
            continue;
        map.insert(QString::fromStdString(id->get_ref<const std::string&>()),
                   QVariantList{*prompt, *completion});
    }
    prefs.set(pricingKey(), map);
    prefs.set(fetchedKey(), now());
}

std::optional<double> estimate(const QString& model, const QString& reading, int replying,
                               const Prefs& prefs)
{
    const std::optional<Price> p = price(model, prefs);
    if (!p)
        return std::nullopt;
    return double(replying) * p->output + double(reading.toUtf8().size()) * 0.7 * p->input;
}

QString about(std::optional<double> dollars)
{
    if (!dollars)
        return {};
    const double d = *dollars;
    if (d < 0.005)
        return QStringLiteral("under 1¢");
    if (d < 1.0)
        return QStringLiteral("about ") + QString::number(qint64(std::round(d * 100))) + QStringLiteral("¢");
    return QString::asprintf("about $%.2f", d);
}

} // namespace Pricing
