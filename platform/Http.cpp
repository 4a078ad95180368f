#include "platform/Http.h"

#include "core/project/Fail.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QThreadStorage>
#include <algorithm>
#include <climits>
#include <coroutine>

namespace Http {

namespace {
QThreadStorage<QNetworkAccessManager*>& managers()
{
    static QThreadStorage<QNetworkAccessManager*> storage;
    return storage;
}

QNetworkAccessManager& manager()
{
    // One manager per thread: a manager may only be used on the thread that made it. A
    // worker's goes when its thread ends; the main thread's goes with the application, as
    // one left to the program's very end is torn down after the application it still calls
    // on, and crashed the program as it closed.
    if (!managers().hasLocalData()) {
        managers().setLocalData(new QNetworkAccessManager);
        if (const QCoreApplication* app = QCoreApplication::instance(); app && app->thread() == QThread::currentThread())
            qAddPostRoutine([] { managers().setLocalData(nullptr); });
    }
    return *managers().localData();
}

// A header with a line break (or a NUL) would split the request; Qt does not check.
bool safeHeaderPart(const QByteArray& part)
{
    for (char c : part)
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    return true;
}

QString cancelledSentence() { return QStringLiteral("The request was cancelled."); }

constexpr int maxRedirects = 10;

// One reply, owned by the coroutine that sent it for as long as its frame lives. However
// the frame ends (its end, an exception, or destroyed while it waits), the reply is cut
// off from the frame and, when still running, aborted, so a late signal from it can
// resume nothing. Qt sends a request on the next turn of the event loop and goes on to
// send it even when it was aborted before that turn; the pending start is taken back, so
// a request cancelled at once never leaves.
class Exchange {
public:
    QNetworkReply* reply;
    bool cancelled = false;
    bool tooLarge = false;

    Exchange(QNetworkReply* sent, Cancel token, qint64 maxBody)
        : reply(sent)
        , cancel(std::move(token))
    {
        hook = cancel.onCancel([this] {
            cancelled = true;
            stop();
        });
        watch = QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                                 [this, maxBody](qint64 received, qint64 total) {
                                     if (maxBody > 0 && (received > maxBody || total > maxBody) && !tooLarge) {
                                         tooLarge = true;
                                         stop();
                                     }
                                 });
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    ~Exchange()
    {
        cancel.forget(hook);
        QObject::disconnect(watch);
        QObject::disconnect(done);
        stop();
        reply->deleteLater();
    }

    // Awaits the reply's end. The connection fires once and goes with the frame.
    struct Finished {
        Exchange& exchange;
        bool await_ready() const noexcept { return exchange.reply->isFinished(); }
        void await_suspend(std::coroutine_handle<> waiting)
        {
            exchange.done = QObject::connect(exchange.reply, &QNetworkReply::finished, exchange.reply,
                                             [&exchange = exchange, waiting] {
                                                 QObject::disconnect(exchange.done);
                                                 waiting.resume();
                                             });
        }
        void await_resume() const noexcept {}
    };
    Finished finished() { return Finished{*this}; }

private:
    // Aborting emits `finished` at once, which may resume and end the frame that holds
    // this object: nothing here is touched after the abort.
    void stop()
    {
        QNetworkReply* const stopping = reply;
        if (stopping->isFinished())
            return;
        QCoreApplication::removePostedEvents(stopping, QEvent::MetaCall);
        stopping->abort();
    }

    Cancel cancel;
    int hook = 0;
    QMetaObject::Connection watch;
    QMetaObject::Connection done;
};
} // namespace

QString transportSentence(const QString& detail)
{
    return QStringLiteral("The connection failed: %1.").arg(detail);
}

QUrl join(const QUrl& base, const QString& path)
{
    QUrl url = base;
    QString prefix = url.path();
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    url.setPath(prefix + path);
    return url;
}

QCoro::Task<Response> send(Request request, Cancel cancel)
{
    Response out;
    if (cancel.cancelled()) {
        out.transportError = cancelledSentence();
        out.cancelled = true;
        co_return out;
    }
    for (const auto& [name, value] : request.headers)
        if (name.isEmpty() || !safeHeaderPart(name) || !safeHeaderPart(value)) {
            out.transportError = transportSentence(QStringLiteral("a request header holds a line break"));
            co_return out;
        }

    const QUrl first = request.url;
    QUrl url = first;
    QByteArray method = request.method;
    QByteArray body = request.body;
    for (int hop = 0;; ++hop) {
        if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
            out.transportError = transportSentence(QStringLiteral("the address is not valid"));
            co_return out;
        }
        QNetworkRequest req(url);
        // Redirects are followed here rather than by Qt: Qt follows them anywhere by
        // default (handing the key in the headers and the body to whatever host a reply
        // names), and its own following of a POST with a body now and then ends a
        // complete answer with an unknown error.
        req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        if (request.timeout.count() > 0)
            req.setTransferTimeout(int(std::min<qint64>(request.timeout.count(), INT_MAX)));
        for (const auto& [name, value] : request.headers)
            req.setRawHeader(name, value);

        Exchange exchange(manager().sendCustomRequest(req, method, body), cancel, request.maxBody);
        co_await exchange.finished();

        QNetworkReply& reply = *exchange.reply;
        const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply.error();
        // Errors 1–99 are the network layer's: the answer never arrived whole. Higher codes
        // only say how Qt files an HTTP status, which the caller judges for itself.
        const bool networkFailure = int(error) >= 1 && int(error) <= 99;
        if (exchange.cancelled) {
            out.transportError = cancelledSentence();
            out.cancelled = true;
            co_return out;
        }
        if (exchange.tooLarge) {
            out.transportError = QStringLiteral("The server sent an answer too large to read.");
            co_return out;
        }
        if (!status.isValid() || networkFailure) {
            if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
                // Nobody else aborts our replies, so this is the transfer time-out.
                out.transportError = QStringLiteral("The server did not answer in time.");
            else
                out.transportError = transportSentence(reply.errorString());
            co_return out;
        }
        const int code = status.toInt();
        const QVariant target = reply.attribute(QNetworkRequest::RedirectionTargetAttribute);
        if (code >= 300 && code < 400 && target.isValid()) {
            const QUrl next = url.resolved(target.toUrl());
            if (next.scheme() != first.scheme() || next.host() != first.host() || next.port() != first.port()) {
                out.transportError = QStringLiteral("The server sent the request on to another address, which is not followed.");
                co_return out;
            }
            if (hop + 1 >= maxRedirects) {
                out.transportError = transportSentence(QStringLiteral("the server sent the request on too many times"));
                co_return out;
            }
            // 307 and 308 repeat the request as it was; the others fetch the new address.
            if (code != 307 && code != 308 && method != "HEAD") {
                method = "GET";
                body.clear();
            }
            url = next;
            continue;
        }
        out.status = code;
        out.body = reply.readAll();
        co_return out;
    }
}

QCoro::Task<Response> exchange(Request request, Cancel cancel)
{
    Response response = co_await send(std::move(request), std::move(cancel));
    if (response.transportError)
        throw Fail(*response.transportError);
    co_return response;
}

} // namespace Http
