// What gridscope-live serves, and to whom.
//
//   Publisher   - takes a snapshot at each of the spectator's changes,
//                 holds it back by the delay, and sends what changed to
//                 every browser as soon as it is due, at most twenty times
//                 a second (SendPace)
//   LiveSite    - one race for browsers: the page's files from the
//                 resources, the state as JSON, the track picture, the lap
//                 history and the live WebSocket, at paths relative to
//                 where it is mounted
//   WebServer   - the HTTP server: sites mounted at prefixes ("" for
//                 gridscope-live, "/live/KEY" in the hub), the rest to a
//                 handler of the tool's own; every connection bounded in
//                 bytes, time and queue
#pragma once

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "LiveModel.h"

class QTcpSocket;

namespace gs::live {

class RaceFeed;

class Publisher final : public QObject {
    Q_OBJECT
public:
    // The datagrams of one update arrive together: a change is taken this
    // long after the first of them, and goes out at once unless the pace
    // (SendPace) holds it back.
    static constexpr int GatherMs = 2;

    Publisher(RaceFeed& spectator, int delayMs, QObject* parent = nullptr);
    // The published state: as a full message for a new browser, as an
    // object for /api/state.
    const QByteArray& Full();
    QJsonObject State() const;
    // The timing's clock at the published snapshot: what /api/laps may show.
    std::int64_t PublishedTimingAt() const { return published_.timingAt; }

signals:
    void Broadcast(const QByteArray& change);

private:
    void OnChanged();
    void TakeNow();
    void ReleaseDue();
    std::int64_t Now() const { return clock_.elapsed(); }

    RaceFeed& spectator_;
    DelayLine delay_;
    QElapsedTimer clock_;
    QTimer gather_, release_;
    SendPace pace_;
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

// One race served to browsers. Paths are the part after the site's mount
// point: "/" the page, "/overlay" the tower, "/api/state", "/api/track",
// "/api/live" (the stream) and "/static/NAME".
class LiveSite final : public QObject {
    Q_OBJECT
public:
    // A browser whose unsent updates pass this many bytes is dropped.
    static constexpr qint64 MaxQueuedBytes = 32 * 1024;
    static constexpr int MaxIncomingMessage = 4096;

    LiveSite(Publisher& publisher, RaceFeed& spectator, QObject* parent = nullptr);
    // Answers a GET of `path`; false when the path is none of the site's.
    bool Answer(const QString& path, const QHttpServerRequest& request, QHttpServerResponder& r);
    static bool IsStream(const QString& path) { return path == "/api/live"; }
    // A browser's WebSocket on the stream, and the connection under it.
    void AddClient(std::unique_ptr<QWebSocket> socket, QTcpSocket* tcp);
    int Clients() const { return static_cast<int>(clients_.size()); }

private:
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        QPointer<QTcpSocket> tcp;
    };
    void Send(const QByteArray& message);
    void Drop(QWebSocket* socket);
    qint64 Queued(const Client& c) const;

    Publisher& publisher_;
    RaceFeed& spectator_;
    std::vector<Client> clients_;
};

// "HOST:PORT" (an IPv6 host may be in brackets) into its parts; false when
// it is not one. The port may be 0.
bool SplitHostPort(const QString& text, QString& host, quint16& port);

// A plain reply with the headers every answer carries (no caching, no
// sniffing, only the page's own scripts and styles).
void Reply(QHttpServerResponder& r, const QByteArray& body, const QByteArray& type,
           QHttpServerResponder::StatusCode status = QHttpServerResponder::StatusCode::Ok);

// An answer made away from the event loop (on a reading thread) and
// written when it is ready. While one is outstanding on a connection, a
// further request that arrives on it (pipelined) is not answered: the
// connection closes once the outstanding answers are out, and the client
// asks again on a new one, as HTTP/1.1 lets a server do. Answers on one
// connection therefore never pass each other.
class LaterAnswer {
public:
    explicit LaterAnswer(QHttpServerResponder&& r);
    ~LaterAnswer();
    LaterAnswer(const LaterAnswer&) = delete;
    LaterAnswer& operator=(const LaterAnswer&) = delete;

    // On the connection's thread: `write` answers, unless the browser has
    // gone meanwhile. Once only.
    void Send(const std::function<void(QHttpServerResponder&)>& write);
    // A request on `socket` must wait: an answer is outstanding there.
    static bool Outstanding(QTcpSocket* socket);

private:
    void Release();
    QHttpServerResponder responder_;
    QPointer<QTcpSocket> socket_;
    bool done_ = false;
};

class WebServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    // Answers a GET of a path no site holds; false for a 404.
    using Handler = std::function<bool(const QString& path, const QHttpServerRequest& request,
                                       QHttpServerResponder& r)>;

    explicit WebServer(QObject* parent = nullptr);
    // Serves `site` below `prefix`: "" for the whole server, or "/live/KEY"
    // (whose bare path is sent on to "/live/KEY/", so the page's relative
    // links resolve below it).
    void Mount(const QString& prefix, LiveSite& site);
    void SetFallback(Handler handler) { fallback_ = std::move(handler); }
    // Listens on address:port; on failure returns false with a reason.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 Port() const;
    int Clients() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // The site whose prefix starts `path`, and the rest of the path.
    LiveSite* Find(const QString& path, QString& rest) const;
    void OnWebSocket();

    GuardedTcpServer* tcp_ = nullptr;
    std::vector<std::pair<QString, LiveSite*>> sites_;
    Handler fallback_;
};

}  // namespace gs::live
