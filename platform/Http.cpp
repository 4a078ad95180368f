#include "platform/Http.h"

#include "core/project/Fail.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThreadStorage>
#include <algorithm>
#include <climits>

namespace Http {

namespace {
QNetworkAccessManager& manager()
{
    // One manager per thread: a manager may only be used on the thread that made it.
    static QThreadStorage<QNetworkAccessManager*> managers;
    if (!managers.hasLocalData())
        managers.setLocalData(new QNetworkAccessManager);
    return *managers.localData();
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
    if (!request.url.isValid() || request.url.scheme().isEmpty() || request.url.host().isEmpty()) {
        out.transportError = transportSentence(QStringLiteral("the address is not valid"));
        co_return out;
    }
    QNetworkRequest req(request.url);
    // Qt follows redirects anywhere by default, which would hand the key in the headers
    // and the body to whatever host a reply names.
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (request.timeout.count() > 0)
        req.setTransferTimeout(int(std::min<qint64>(request.timeout.count(), INT_MAX)));
    for (const auto& [name, value] : request.headers) {
        if (name.isEmpty() || !safeHeaderPart(name) || !safeHeaderPart(value)) {
            out.transportError = transportSentence(QStringLiteral("a request header holds a line break"));
            co_return out;
        }
        req.setRawHeader(name, value);
    }

    QNetworkReply* reply = manager().sendCustomRequest(req, request.method, request.body);
    bool cancelledHere = false;
    bool tooLarge = false;
    const int hook = cancel.onCancel([reply = QPointer<QNetworkReply>(reply), &cancelledHere] {
        cancelledHere = true;
        if (reply)
            reply->abort();
    });
    const qint64 maxBody = request.maxBody;
    const auto watch = QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
        [reply, maxBody, &tooLarge](qint64 received, qint64 total) {
            if (maxBody > 0 && (received > maxBody || total > maxBody) && !tooLarge) {
                tooLarge = true;
                reply->abort();
            }
        });
    co_await reply;
    cancel.forget(hook);
    QObject::disconnect(watch);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int error = int(reply->error());
    // Errors 1–99 are the network layer's: the answer never arrived whole. Higher codes
    // only say how Qt files an HTTP status, which the caller judges for itself.
    const bool networkFailure = error >= 1 && error <= 99;
    if (cancelledHere) {
        out.transportError = cancelledSentence();
        out.cancelled = true;
    } else if (tooLarge) {
        out.transportError = QStringLiteral("The server sent an answer too large to read.");
    } else if (status.isValid() && !networkFailure) {
        out.status = status.toInt();
        out.body = reply->readAll();
    } else if (reply->error() == QNetworkReply::InsecureRedirectError) {
        out.transportError = QStringLiteral("The server sent the request on to another address, which is not followed.");
    } else if (reply->error() == QNetworkReply::OperationCanceledError
               || reply->error() == QNetworkReply::TimeoutError) {
        // Nobody else aborts our replies, so this is the transfer time-out.
        out.transportError = QStringLiteral("The server did not answer in time.");
    } else {
        out.transportError = transportSentence(reply->errorString());
    }
    reply->deleteLater();
    co_return out;
}

QCoro::Task<Response> exchange(Request request, Cancel cancel)
{
    Response response = co_await send(std::move(request), std::move(cancel));
    if (response.transportError)
        throw Fail(*response.transportError);
    co_return response;
}

} // namespace Http
