#pragma once

#include "platform/Cancel.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <chrono>
#include <optional>

// One HTTP exchange over the thread's shared network manager, awaited as a coroutine.
// Redirects are followed only to the same scheme, host and port; one to anywhere else
// fails as a transport error, so a request's key and body never reach another host.
namespace Http {

struct Request {
    QByteArray method = "GET";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Qt has no time-out by default; every request names its own. It counts from the
    // last sign of life, so a reply that is still arriving is not cut off.
    std::chrono::milliseconds timeout{60000};
    // A reply body longer than this is not read; the exchange fails instead, so that a
    // hostile or broken server cannot fill the memory.
    qint64 maxBody = qint64(64) * 1024 * 1024;
};

struct Response {
    // Set when no complete HTTP answer came back (no connection, time-out, cancelled, a
    // reply cut off or too large); then `status` is 0 and `body` is empty.
    std::optional<QString> transportError;
    // True when the request ended because its cancel token fired.
    bool cancelled = false;
    int status = 0;
    QByteArray body;

    bool reached() const { return !transportError.has_value(); }
};

// Never throws; a cancelled token aborts the request and reports a transport error.
QCoro::Task<Response> send(Request request, Cancel cancel = {});

// Throws the transport failure as a Fail; any HTTP answer (whatever its status) returns.
QCoro::Task<Response> exchange(Request request, Cancel cancel = {});

// The sentence for a request that got no answer.
QString transportSentence(const QString& detail);

// `base` with `path` added to whatever path it already has ("http://h:1/x" + "/api" →
// "http://h:1/x/api").
QUrl join(const QUrl& base, const QString& path);

} // namespace Http
