#include "core/services/Analyst.h"

#include "core/project/Fail.h"
#include "core/project/Text.h"
#include "core/services/Keychain.h"
#include "platform/Http.h"

#include <chrono>
#include <cmath>

namespace Analyst {

namespace {

using namespace std::chrono_literals;
using json::member;

// Nothing the gateway sends honestly nests this deep; a body that does is refused
// before it can exhaust the stack of whoever walks it later.
constexpr int deepestJson = 512;

QString noKeySentence()
{
    return QStringLiteral("Add your OpenRouter key in Settings to use the AI features.");
}

QString traceRequest(const QString& model, const std::vector<Message>& messages)
{
    QString text = QStringLiteral("model: ") + model + QStringLiteral("\n\n");
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (i > 0)
            text += QStringLiteral("\n\n");
        text += QStringLiteral("[") + messages[i].role + QStringLiteral("]\n") + messages[i].content;
    }
    return text;
}

QByteArray requestBody(const QString& model, const std::vector<Message>& messages, int maxTokens,
                       int thinking)
{
    try {
        Json list = Json::array();
        for (const Message& m : messages)
            list.push_back(Json{{"role", m.role.toStdString()}, {"content", m.content.toStdString()}});
        Json body = Json::object();
        body["model"] = model.toStdString();
        body["max_tokens"] = maxTokens;
        body["reasoning"] = Json{{"max_tokens", thinking}};
        body["messages"] = std::move(list);
        return json::dumpBytes(body);
    } catch (const std::exception&) {
        throw Fail(QStringLiteral("The request to OpenRouter could not be written."));
    }
}

// choices[0].message.content, when every step has the right type.
const Json* answerContent(const Json& reply)
{
    const Json* choices = member(reply, "choices");
    if (!choices || !choices->is_array() || choices->empty())
        return nullptr;
    const Json* message = member(choices->front(), "message");
    if (!message || !message->is_object())
        return nullptr;
    const Json* content = member(*message, "content");
    return content && content->is_string() ? content : nullptr;
}

QString text(const Json& string)
{
    return QString::fromStdString(string.get_ref<const std::string&>());
}

// The object between the first "{" and the last "}" of the model's answer.
std::optional<Json> objectIn(const QString& content)
{
    const qsizetype first = content.indexOf(u'{');
    const qsizetype last = content.lastIndexOf(u'}');
    if (first < 0 || last < first)
        return std::nullopt;
    std::optional<Json> cut = readJson(content.mid(first, last - first + 1).toUtf8());
    if (!cut || !cut->is_object())
        return std::nullopt;
    return cut;
}

QString dollars(double amount)
{
    return QString::asprintf("$%.2f", amount);
}

} // namespace

QUrl base()
{
    const QString custom = qEnvironmentVariable("VANTOREL_API_BASE");
    if (!custom.isEmpty())
        return QUrl(custom);
    return QUrl(QStringLiteral("https://openrouter.ai"));
}

QUrl endpoint(const QString& path)
{
    return Http::join(base(), path);
}

QString keysPage()
{
    return QStringLiteral("https://openrouter.ai/keys");
}

QString notJsonSentence()
{
    return QStringLiteral("OpenRouter sent a reply that is not JSON.");
}

std::optional<Json> readJson(QByteArrayView bytes)
{
    bool tooDeep = false;
    // Returning false past the limit keeps the parser from building the deep part at all.
    const Json::parser_callback_t guard = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth > deepestJson) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    Json value = Json::parse(bytes.begin(), bytes.end(), guard, false);
    if (tooDeep || value.is_discarded())
        return std::nullopt;
    return value;
}

std::optional<double> finiteNumber(const Json& value)
{
    if (!value.is_number())
        return std::nullopt;
    const double number = value.get<double>();
    if (!std::isfinite(number))
        return std::nullopt;
    return number;
}

double reportedCost(const Json& reply)
{
    const Json* usage = member(reply, "usage");
    const Json* cost = usage ? member(*usage, "cost") : nullptr;
    return cost ? finiteNumber(*cost).value_or(0) : 0;
}

QCoro::Task<std::optional<QString>> key()
{
    // Set but empty still counts: it is how a user hides a stored key from one run.
    if (qEnvironmentVariableIsSet("OPENROUTER_API_KEY"))
        co_return qEnvironmentVariable("OPENROUTER_API_KEY");
    co_await Keychain::load();
    co_return Keychain::key();
}

QCoro::Task<Answer> ask(QString model, std::vector<Message> messages, int maxTokens, int thinking,
                        Trace* trace, Cancel cancel)
{
    if (trace)
        trace->request = traceRequest(model, messages);

    const std::optional<QString> apiKey = co_await key();
    if (!apiKey || apiKey->isEmpty())
        throw Fail(noKeySentence());

    Http::Request request;
    request.method = "POST";
    request.url = endpoint(QStringLiteral("/api/v1/chat/completions"));
    request.timeout = 900s;
    request.headers = {
        {"Content-Type", "application/json"},
        {"Authorization", "Bearer " + apiKey->toUtf8()},
    };
    request.body = requestBody(model, messages, maxTokens, thinking);

    const Http::Response response = co_await Http::send(std::move(request), std::move(cancel));
    if (response.transportError)
        throw Fail(*response.transportError);

    std::optional<Json> parsed = readJson(response.body);
    if (!parsed)
        throw Fail(notJsonSentence());
    const Json reply = parsed->is_object() ? std::move(*parsed) : Json::object();

    const Json* content = answerContent(reply);
    if (trace) {
        trace->cost += reportedCost(reply);
        if (content)
            trace->reply += text(*content);
        else
            trace->reply += QString::fromUtf8(response.body.left(4000));
        trace->reply += QStringLiteral("\n\n");
    }

    if (response.status == 200 && content) {
        const QString whole = text(*content);
        if (std::optional<Json> object = objectIn(whole))
            co_return Answer{std::move(*object), whole};
    }

    QString why = QStringLiteral("The reply could not be read.");
    if (const Json* error = member(reply, "error"))
        if (const Json* message = member(*error, "message"); message && message->is_string())
            why = text(*message);
    throw Fail(QStringLiteral("OpenRouter did not answer. ") + why);
}

QCoro::Task<QString> checkKey(Cancel cancel)
{
    const std::optional<QString> apiKey = co_await key();
    if (!apiKey || apiKey->isEmpty())
        co_return QStringLiteral("No key is saved.");

    const QString diagnosis = QStringLiteral("The saved key is ")
        + QString::number(Text::graphemes(*apiKey)) + QStringLiteral(" characters and ")
        + (Text::hasPrefix(*apiKey, QStringLiteral("sk-or-"))
               ? QStringLiteral("starts with sk-or-, as it should")
               : QStringLiteral("does not start with sk-or-, so it is probably not an OpenRouter API key"))
        + u'.';

    Http::Request request;
    request.url = endpoint(QStringLiteral("/api/v1/key"));
    request.timeout = 60s;
    request.headers = {{"Authorization", "Bearer " + apiKey->toUtf8()}};

    const Http::Response response = co_await Http::send(std::move(request), std::move(cancel));
    if (response.transportError)
        co_return diagnosis + QStringLiteral(" OpenRouter could not be reached.");

    if (response.status == 200) {
        const std::optional<Json> reply = readJson(response.body);
        const Json* data = reply ? member(*reply, "data") : nullptr;
        if (data && data->is_object()) {
            const Json* usage = member(*data, "usage");
            const Json* limit = member(*data, "limit");
            const double used = usage ? finiteNumber(*usage).value_or(0) : 0;
            const std::optional<double> cap = limit ? finiteNumber(*limit) : std::nullopt;
            co_return QStringLiteral("The key works. Used ") + dollars(used) + QStringLiteral(" of ")
                + (cap ? dollars(*cap) : QStringLiteral("no limit")) + u'.';
        }
    }
    co_return diagnosis + QStringLiteral(" OpenRouter rejected it. Copy the key again from ") + keysPage()
        + QStringLiteral(" and paste it in Settings.");
}

} // namespace Analyst
