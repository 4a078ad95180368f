#pragma once

// The one client of the AI gateway's chat completions, and the API key it uses.

#include "core/model/Activity.h"
#include "core/model/Json.h"
#include "platform/Cancel.h"

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

// OPENROUTER_API_KEY when the environment holds that name (even empty), else the key store.
std::optional<QString> key();

// One chat-completions call. `trace` may be null.
QCoro::Task<Answer> ask(QString model, std::vector<Message> messages, int maxTokens, int thinking,
                        Trace* trace, Cancel cancel = {});

// One sentence on whether the key works; never throws.
QCoro::Task<QString> checkKey(Cancel cancel = {});

} // namespace Analyst
