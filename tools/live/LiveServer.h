// What gridscope-live serves, and to whom.
//
//   Publisher   - takes a snapshot at each of the spectator's changes,
//                 holds it back by the delay, and sends what changed to
//                 every browser, at most ten times a second
//   WebServer   - the page's files from the resources, the state as JSON,
//                 the track picture, and the live WebSocket; every
//                 connection bounded in bytes, time and queue
#pragma once

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>

#include <deque>
#include <memory>
#include <vector>

#include "LiveModel.h"

class QTcpSocket;

namespace gs::live {

class RaceFeed;

class Publisher final : public QObject {
    Q_OBJECT
public:
    // Never two updates closer than this, so at most ten a second: a
    // change that comes later than that after the last one goes out at
    // once, a faster server is spread evenly.
    static constexpr int MinSpacingMs = 100;
    static constexpr int GatherMs = 2;  // datagrams of one update arrive together

    Publisher(RaceFeed& spectator, int delayMs, QObject* parent = nullptr);
    // The published state: as a full message for a new browser, as an
    // object for /api/state.
    const QByteArray& Full();
    QJsonObject State() const;

signals:
    void Broadcast(const QByteArray& change);

private:
    void OnChanged();
    void TakeNow();
    void ReleaseDue();
    std::int64_t NextSendAllowed() const;
    std::int64_t Now() const { return clock_.elapsed(); }

    RaceFeed& spectator_;
    DelayLine delay_;
    QElapsedTimer clock_;
    QTimer gather_, release_;
    std::int64_t lastSend_ = -MinSpacingMs;
    Snapshot published_;
    QByteArray full_;
};

// A listening socket that refuses connections beyond a limit and gives each
// accepted one a watchdog before the HTTP server sees it.
class GuardedTcpServer final : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int MaxConnections = 4000;
    static constexpr int IdleMs = 10000;      // an HTTP connection silent this long is closed
    static constexpr int LifetimeMs = 60000;  // and any HTTP connection after this long
    static constexpr qint64 MaxRequestBytes = 64 * 1024;

    explicit GuardedTcpServer(QObject* parent = nullptr) : QTcpServer(parent) {}
    // The connections die with the server; they must not reach back into it.
    ~GuardedTcpServer() override {
        for (QObject* child : children()) child->disconnect(this);
    }
    // The connection of a WebSocket's peer, which from now on is a live
    // client: its watchdog stops.
    QTcpSocket* TakeOver(const QHostAddress& address, quint16 port);
    int Open() const { return open_; }
    // A request was answered: the connection's byte count starts again.
    static void Answered(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QHash<QString, QPointer<QTcpSocket>> sockets_;
    int open_ = 0;
};

class WebServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    // A browser whose unsent updates pass this many bytes is dropped.
    static constexpr qint64 MaxQueuedBytes = 32 * 1024;
    static constexpr int MaxIncomingMessage = 4096;

    WebServer(Publisher& publisher, RaceFeed& spectator, QObject* parent = nullptr);
    // Listens on address:port; on failure returns false with a reason.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 Port() const;
    int Clients() const { return static_cast<int>(clients_.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        QPointer<QTcpSocket> tcp;
    };
    void OnWebSocket();
    void Send(const QByteArray& message);
    void Drop(QWebSocket* socket);
    qint64 Queued(const Client& c) const;

    Publisher& publisher_;
    RaceFeed& spectator_;
    GuardedTcpServer* tcp_ = nullptr;
    std::vector<Client> clients_;
};

}  // namespace gs::live
