#pragma once

// Model prices from the gateway, kept in the preferences (`pricing`, `pricingFetched`),
// and the cost estimates shown before a job runs.

#include "platform/Cancel.h"
#include "platform/Prefs.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

namespace Pricing {

// Dollars per token.
struct Price {
    double input = 0;  // per prompt token
    double output = 0; // per completion token
    bool operator==(const Price&) const = default;
};

// Every operation reads the program's one preferences store unless handed another (tests).

// The cached price of a model. A cached list with any malformed entry gives no price at all.
std::optional<Price> price(const QString& model, const Prefs& prefs = Prefs::shared());

// Fetches the gateway's model list again when the cached one is more than a day old or
// lacks the edit model. Never throws; a failed fetch keeps the old list.
QCoro::Task<> refresh(Cancel cancel = {}, Prefs& prefs = Prefs::shared());

// What a call is expected to cost: `replying` tokens written, and `reading` read at
// about 0.7 tokens per UTF-8 byte. Nothing when the model has no price.
std::optional<double> estimate(const QString& model, const QString& reading, int replying,
                               const Prefs& prefs = Prefs::shared());

// An estimate in words: "", "under 1¢", "about 12¢" or "about $1.25".
QString about(std::optional<double> dollars);

} // namespace Pricing
