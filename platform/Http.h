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
namespace Http {

struct Request {
    QByteArray method = "GET";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Qt has no time-out by default; every request names its own.
    std::chrono::milliseconds timeout{60000};
};

struct Response {
    // Set when no HTTP answer came back at all (no connection, time-out, cancelled).
    std::optional<QString> transportError;
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

} // namespace Http
