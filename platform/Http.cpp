#include "platform/Http.h"

#include "core/model/Fail.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThreadStorage>

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
} // namespace

QString transportSentence(const QString& detail)
{
    return QStringLiteral("The connection failed: %1.").arg(detail);
}

QCoro::Task<Response> send(Request request, Cancel cancel)
{
    Response out;
    if (cancel.cancelled()) {
        out.transportError = QStringLiteral("The request was cancelled.");
        co_return out;
    }
    QNetworkRequest req(request.url);
    req.setTransferTimeout(int(request.timeout.count()));
    for (const auto& [name, value] : request.headers)
        req.setRawHeader(name, value);

    QNetworkReply* reply = manager().sendCustomRequest(req, request.method, request.body);
    bool cancelledHere = false;
    const int hook = cancel.onCancel([reply = QPointer<QNetworkReply>(reply), &cancelledHere] {
        cancelledHere = true;
        if (reply)
            reply->abort();
    });
    co_await reply;
    cancel.forget(hook);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        out.status = status.toInt();
        out.body = reply->readAll();
    } else if (cancelledHere) {
        out.transportError = QStringLiteral("The request was cancelled.");
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        out.transportError = QStringLiteral("The request timed out.");
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
