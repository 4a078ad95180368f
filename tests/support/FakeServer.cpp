#include "support/FakeServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

QByteArray pathOnly(const QByteArray& target)
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

struct FakeServer::Connection {
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
};

QByteArray FakeServer::Request::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool FakeServer::Request::hasHeader(QByteArrayView name) const
{
    for (const auto& entry : headers)
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

FakeServer::FakeServer(QObject* parent)
    : QObject(parent)
    , server_(new QTcpServer(this))
{
    server_->listen(QHostAddress::LocalHost, 0);
    connect(server_, &QTcpServer::newConnection, this, &FakeServer::accept);
}

FakeServer::~FakeServer()
{
    close();
}

QString FakeServer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

quint16 FakeServer::port() const
{
    return server_->serverPort();
}

void FakeServer::reply(const QByteArray& path, int status, const QByteArray& body,
                       const QByteArray& contentType)
{
    Reply r;
    r.status = status;
    r.body = body;
    r.contentType = contentType;
    reply(path, std::move(r));
}

void FakeServer::reply(const QByteArray& path, Reply reply)
{
    script_[path].queued.push_back(std::move(reply));
}

void FakeServer::hang(const QByteArray& path)
{
    Reply r;
    r.silent = true;
    reply(path, std::move(r));
}

std::vector<FakeServer::Request> FakeServer::requests(const QByteArray& path) const
{
    std::vector<Request> out;
    for (const Request& r : received_)
        if (pathOnly(r.path) == path)
            out.push_back(r);
    return out;
}

void FakeServer::clear()
{
    script_.clear();
    received_.clear();
}

void FakeServer::close()
{
    server_->close();
    // The records stay until the server goes, so a reader still on the stack is safe.
    for (auto& connection : connections_)
        if (connection->socket) {
            connection->socket->abort();
            connection->socket->deleteLater();
        }
}

void FakeServer::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        Connection* raw = connection.get();
        connections_.push_back(std::move(connection));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(*raw); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

FakeServer::Reply FakeServer::next(const QByteArray& path)
{
    Script& script = script_[path];
    if (!script.queued.empty()) {
        script.last = std::move(script.queued.front());
        script.queued.pop_front();
    }
    if (script.last)
        return *script.last;
    Reply missing;
    missing.status = 404;
    missing.body = "{}";
    return missing;
}

void FakeServer::readFrom(Connection& connection)
{
    const QPointer<QTcpSocket> socket = connection.socket;
    if (!socket)
        return;
    connection.buffer += socket->readAll();
    // One connection may carry several requests one after another (keep-alive).
    for (;;) {
        const qsizetype headEnd = connection.buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = connection.buffer.left(headEnd).split('\n');
        Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        const qsizetype total = headEnd + 4 + length;
        if (connection.buffer.size() < total)
            return;
        request.body = connection.buffer.mid(headEnd + 4, length);
        connection.buffer.remove(0, total);

        received_.push_back(request);
        const Reply answer = next(pathOnly(request.path));
        Q_EMIT received(request);
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return; // the test closed the server while told of the request
        if (answer.silent)
            continue;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reason(answer.status) + "\r\n";
        out += "Content-Type: " + answer.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        for (const auto& [name, value] : answer.headers)
            out += name + ": " + value + "\r\n";
        out += "\r\n" + answer.body;
        socket->write(out);
    }
}
