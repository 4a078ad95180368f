#pragma once

// The one client of the AI gateway's chat completions, and the API key it uses.

#include "core/project/Activity.h"
#include "core/project/Json.h"
#include "platform/Cancel.h"

#include <QByteArrayView>
#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

namespace Analyst {

struct Message {
    QString role;
    QString content;
    bool operator==(const Message&) const = default;
};

struct Answer {
    Json json;    // the JSON object cut out of the model's answer
    QString text; // the whole answer text
};

// The gateway's base address: https://openrouter.ai, or VANTOREL_API_BASE when set.
QUrl base();

// OPENROUTER_API_KEY when the environment holds that name (even empty), else the key
// store's key, read from the store on the first call of the run (Keychain::load).
QCoro::Task<std::optional<QString>> key();

// One chat-completions call. `trace` may be null.
QCoro::Task<Answer> ask(QString model, std::vector<Message> messages, int maxTokens, int thinking,
                        Trace* trace, Cancel cancel = {});

// One sentence on whether the key works; never throws.
QCoro::Task<QString> checkKey(Cancel cancel = {});

// ---- shared with the other gateway clients ----

// base() with a path of the gateway added ("/api/v1/models").
QUrl endpoint(const QString& path);

// The page where a user makes or copies a key.
QString keysPage(); // "https://openrouter.ai/keys"

// Reads a reply body as JSON without ever throwing: nothing when it is not JSON, or when
// it nests deeper than any honest reply would (a guard against hostile bodies).
std::optional<Json> readJson(QByteArrayView bytes);

// A JSON number as a finite double; nothing for any other value.
std::optional<double> finiteNumber(const Json& value);

// What a gateway reply says the call cost, in dollars (`usage.cost`; 0 when missing).
double reportedCost(const Json& reply);

// The sentence for a body that is not JSON.
QString notJsonSentence(); // "OpenRouter sent a reply that is not JSON."

} // namespace Analyst
