#pragma once

// A small HTTP/1.1 server on 127.0.0.1 inside the test process, standing in for the AI
// gateway, the update feed or any other host the program talks to. Replies are scripted
// per path; every request is recorded.
//
//     FakeServer server;
//     server.reply("/api/v1/chat/completions", 200, body);
//     qputenv("VANTOREL_API_BASE", server.base().toUtf8());
//     … run the code …
//     EXPECT_EQ(server.requests().size(), 1);

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QTcpServer;
class QTcpSocket;

class FakeServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path;   // as sent, with any query ("/api/v1/models?x=1")
        QList<QPair<QByteArray, QByteArray>> headers; // in the order sent
        QByteArray body;

        // The value of a header, its name matched without regard to case; empty when absent.
        QByteArray header(QByteArrayView name) const;
        bool hasHeader(QByteArrayView name) const;
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        QList<QPair<QByteArray, QByteArray>> headers; // added to the usual ones
        bool silent = false; // never answer; the connection stays open
    };

    explicit FakeServer(QObject* parent = nullptr);
    ~FakeServer() override;

    // "http://127.0.0.1:PORT"
    QString base() const;
    quint16 port() const;

    // Queues a reply for a path (the query is ignored when matching). Replies go out in
    // the order queued; when the queue has run dry, the last one sent is sent again. A
    // path that never had a reply answers 404 with an empty JSON object.
    void reply(const QByteArray& path, int status, const QByteArray& body,
               const QByteArray& contentType = "application/json");
    void reply(const QByteArray& path, Reply reply);
    // Requests to the path are read and recorded but never answered.
    void hang(const QByteArray& path);

    const std::vector<Request>& requests() const { return received_; }
    // The requests to one path, in order.
    std::vector<Request> requests(const QByteArray& path) const;
    void clear();

    // Stops listening and drops every open connection (a gateway that went away).
    void close();

Q_SIGNALS:
    // A request was read whole (before it is answered).
    void received(const FakeServer::Request& request);

private:
    struct Connection;
    void accept();
    void readFrom(Connection& connection);
    Reply next(const QByteArray& path);

    QTcpServer* server_;
    std::vector<std::unique_ptr<Connection>> connections_;
    struct Script {
        std::deque<Reply> queued;
        std::optional<Reply> last; // repeated once the queue runs dry
    };
    QMap<QByteArray, Script> script_;
    std::vector<Request> received_;
};
