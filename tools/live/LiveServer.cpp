#include "LiveServer.h"

#include <QDir>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "RaceFeed.h"

namespace gs::live {

// ------------------------------------------------------------------ publisher

Publisher::Publisher(RaceFeed& spectator, int delayMs, QObject* parent)
    : QObject(parent), spectator_(spectator), delay_(delayMs) {
    clock_.start();
    gather_.setSingleShot(true);
    gather_.setTimerType(Qt::PreciseTimer);
    release_.setSingleShot(true);
    release_.setTimerType(Qt::PreciseTimer);
    connect(&gather_, &QTimer::timeout, this, &Publisher::TakeNow);
    connect(&release_, &QTimer::timeout, this, &Publisher::ReleaseDue);
    connect(&spectator_, &RaceFeed::Changed, this, &Publisher::OnChanged);
    published_ = spectator_.Take();
}

void Publisher::OnChanged() {
    if (!gather_.isActive()) gather_.start(GatherMs);
}

// Every change is taken as it comes and timed by its arrival; the pace is
// kept on the way out, so a delayed stream is the undelayed one shifted,
// decision for decision.
void Publisher::TakeNow() {
    delay_.Push(Now(), spectator_.Take());
    ReleaseDue();
}

void Publisher::ReleaseDue() {
    const std::int64_t now = Now();
    if (now >= pace_.NextAllowed()) {
        if (std::optional<Snapshot> due = delay_.Release(now)) {
            const QByteArray change = ChangeMessage(published_, *due, spectator_.Journal());
            published_ = std::move(*due);
            full_.clear();
            if (!change.isEmpty()) {
                pace_.Sent(now);
                emit Broadcast(change);
            }
        }
    }
    if (const auto next = delay_.NextDue())
        release_.start(static_cast<int>(std::max<std::int64_t>(0, std::max(*next, pace_.NextAllowed()) - now)));
}

const QByteArray& Publisher::Full() {
    if (full_.isEmpty()) full_ = FullMessage(published_, spectator_.Journal());
    return full_;
}

QJsonObject Publisher::State() const { return StateObject(published_, spectator_.Journal()); }

// -------------------------------------------------------- guarded connections

namespace {

QString Key(const QHostAddress& address, quint16 port) { return address.toString() + '|' + QString::number(port); }

}  // namespace

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    if (open_ >= MaxConnections) {
        ::close(static_cast<int>(descriptor));
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    ++open_;
    // An answer is written as its head and its body: without this, a body
    // past one segment waits for the browser's delayed acknowledgement of
    // the head (some 40 ms) before it leaves.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QString key = Key(socket->peerAddress(), socket->peerPort());
    sockets_.insert(key, socket);
    connect(socket, &QObject::destroyed, this, [this, key] {
        --open_;
        sockets_.remove(key);
    });
    // Until it becomes a live client, a connection must keep talking, must
    // not stay for ever, and must not send more than a request's worth of
    // bytes between answers. The HTTP server buffers a request whole, so
    // this bound is what keeps a huge header or body from costing memory.
    auto* idle = new QTimer(socket);
    auto* life = new QTimer(socket);
    idle->setSingleShot(true);
    life->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    connect(life, &QTimer::timeout, socket, &QTcpSocket::abort);
    idle->start(IdleMs);
    life->start(LifetimeMs);
    socket->setProperty("gsRequestBytes", qint64{0});
    connect(socket, &QTcpSocket::readyRead, socket, [socket, idle] {
        idle->start(IdleMs);
        const qint64 bytes = socket->property("gsRequestBytes").toLongLong() + socket->bytesAvailable();
        socket->setProperty("gsRequestBytes", bytes);
        if (bytes > MaxRequestBytes) socket->abort();
    });
    addPendingConnection(socket);
}

void GuardedTcpServer::Answered(QTcpSocket* socket) {
    if (socket) socket->setProperty("gsRequestBytes", qint64{0});
}

QTcpSocket* GuardedTcpServer::TakeOver(const QHostAddress& address, quint16 port) {
    QTcpSocket* socket = sockets_.value(Key(address, port));
    if (!socket) return nullptr;
    for (QTimer* t : socket->findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) t->stop();
    // Each update is one small write that should leave at once, not wait
    // for the browser's acknowledgement of the one before.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return socket;
}

// ----------------------------------------------------------------- web server

namespace {

QByteArray Resource(const QString& name) {
    QFile file(":/web/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray MimeType(const QString& name) {
    if (name.endsWith(".js")) return "text/javascript; charset=utf-8";
    if (name.endsWith(".css")) return "text/css; charset=utf-8";
    if (name.endsWith(".html")) return "text/html; charset=utf-8";
    return "application/octet-stream";
}

}  // namespace

void Reply(QHttpServerResponder& r, const QByteArray& body, const QByteArray& type,
           QHttpServerResponder::StatusCode status) {
    r.write(body,
            {{"Content-Type", type},
             {"Cache-Control", "no-store"},
             {"X-Content-Type-Options", "nosniff"},
             {"Content-Security-Policy",
              "default-src 'self'; connect-src 'self'; img-src 'self' data:; style-src 'self'; "
              "script-src 'self'; object-src 'none'; base-uri 'none'"}},
            status);
}


bool SplitHostPort(const QString& text, QString& host, quint16& port) {
    const qsizetype colon = text.lastIndexOf(':');
    if (colon <= 0) return false;
    bool ok = false;
    const uint value = text.mid(colon + 1).toUInt(&ok);
    if (!ok || value > 65535) return false;
    host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
    port = static_cast<quint16>(value);
    return !host.isEmpty();
}

// ------------------------------------------------------------------- site

LiveSite::LiveSite(Publisher& publisher, RaceFeed& spectator, QObject* parent)
    : QObject(parent), publisher_(publisher), spectator_(spectator) {
    connect(&publisher_, &Publisher::Broadcast, this, &LiveSite::Send);
}

bool LiveSite::Answer(const QString& path, const QHttpServerRequest& request, QHttpServerResponder& r) {
    using Status = QHttpServerResponder::StatusCode;
    if (path == "/" || path == "/overlay") {
        Reply(r, Resource(path == "/" ? "index.html" : "overlay.html"), "text/html; charset=utf-8");
    } else if (path == "/api/state") {
        Reply(r, QJsonDocument(publisher_.State()).toJson(QJsonDocument::Compact), "application/json");
    } else if (path == "/api/track") {
        const RaceFeed::Picture picture =
            spectator_.TrackPictureOf(request.query().queryItemValue("code").toStdString());
        if (picture.plain.isEmpty()) Reply(r, "No such track\n", "text/plain; charset=utf-8", Status::NotFound);
        else if (request.value("accept-encoding").contains("deflate"))
            r.write(picture.deflated, {{"Content-Type", "application/octet-stream"},
                                       {"Content-Encoding", "deflate"},
                                       {"Cache-Control", "no-store"},
                                       {"X-Content-Type-Options", "nosniff"}});
        else Reply(r, picture.plain, "application/octet-stream");
    } else if (path == "/api/laps") {
        // As far as the published (delayed) state has come.
        const auto laps =
            LapsMessage(spectator_.Times(), request.query().queryItemValue("name", QUrl::FullyDecoded).toStdString(),
                        publisher_.PublishedTimingAt());
        if (laps) Reply(r, *laps, "application/json");
        else Reply(r, "No such driver\n", "text/plain; charset=utf-8", Status::NotFound);
    } else if (IsStream(path)) {
        Reply(r, "WebSocket only\n", "text/plain; charset=utf-8", Status::UpgradeRequired);
    } else {
        // Only the page's own files, by their plain names: anything with a
        // dot-dot, an escape or a folder is no file of the page.
        static const QRegularExpression plainName("^/static/([a-z0-9-]+\\.(js|css))$");
        const QRegularExpressionMatch m = plainName.match(path);
        const QByteArray body = m.hasMatch() ? Resource(m.captured(1)) : QByteArray();
        if (body.isEmpty()) return false;
        Reply(r, body, MimeType(m.captured(1)));
    }
    return true;
}

void LiveSite::AddClient(std::unique_ptr<QWebSocket> ws, QTcpSocket* tcp) {
    // Browsers send nothing that matters; anything big is junk.
    ws->setMaxAllowedIncomingFrameSize(MaxIncomingMessage);
    ws->setMaxAllowedIncomingMessageSize(MaxIncomingMessage);
    QWebSocket* raw = ws.get();
    connect(raw, &QWebSocket::disconnected, this, [this, raw] { Drop(raw); });
    raw->sendTextMessage(QString::fromUtf8(publisher_.Full()));
    clients_.push_back(Client{std::move(ws), tcp});
}

// ----------------------------------------------------------------- web server

WebServer::WebServer(QObject* parent) : QAbstractHttpServer(parent) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::OnWebSocket);
}

void WebServer::Mount(const QString& prefix, LiveSite& site) { sites_.emplace_back(prefix, &site); }

bool WebServer::Listen(const QHostAddress& address, quint16 port, QString& error) {
    tcp_ = new GuardedTcpServer(this);
    if (!tcp_->listen(address, port)) {
        error = tcp_->errorString();
        return false;
    }
    bind(tcp_);
    return true;
}

quint16 WebServer::Port() const { return tcp_ ? tcp_->serverPort() : 0; }

int WebServer::Clients() const {
    int n = 0;
    for (const auto& [prefix, site] : sites_) n += site->Clients();
    return n;
}

LiveSite* WebServer::Find(const QString& path, QString& rest) const {
    for (const auto& [prefix, site] : sites_) {
        if (prefix.isEmpty()) {
            rest = path;
            return site;
        }
        if (path == prefix) {
            rest.clear();
            return site;
        }
        if (path.startsWith(prefix) && path.at(prefix.size()) == '/') {
            rest = path.mid(prefix.size());
            return site;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------- later answer

namespace {
constexpr char OutstandingProperty[] = "gsOutstanding";
constexpr char CloseAfterProperty[] = "gsCloseAfter";
}  // namespace

LaterAnswer::LaterAnswer(QHttpServerResponder&& r) : responder_(std::move(r)), socket_(responder_.socket()) {
    if (socket_) socket_->setProperty(OutstandingProperty, socket_->property(OutstandingProperty).toInt() + 1);
}

LaterAnswer::~LaterAnswer() { Release(); }

bool LaterAnswer::Outstanding(QTcpSocket* socket) {
    if (socket->property(OutstandingProperty).toInt() <= 0) return false;
    socket->setProperty(CloseAfterProperty, true);
    return true;
}

void LaterAnswer::Send(const std::function<void(QHttpServerResponder&)>& write) {
    if (done_) return;
    // A connection that closed meanwhile was deleted with the request the
    // responder refers to: nothing may be written then.
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState) write(responder_);
    Release();
}

void LaterAnswer::Release() {
    if (done_) return;
    done_ = true;
    if (!socket_) return;
    const int left = socket_->property(OutstandingProperty).toInt() - 1;
    socket_->setProperty(OutstandingProperty, left);
    if (left <= 0 && socket_->property(CloseAfterProperty).toBool()) socket_->disconnectFromHost();
}

// ---------------------------------------------------------------- web server

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    using Status = QHttpServerResponder::StatusCode;
    if (LaterAnswer::Outstanding(socket)) return true;
    GuardedTcpServer::Answered(socket);
    QHttpServerResponder r = makeResponder(request, socket);
    if (request.method() != QHttpServerRequest::Method::Get) {
        Reply(r, "Only GET\n", "text/plain; charset=utf-8", Status::MethodNotAllowed);
        return true;
    }
    const QString path = request.url().path(QUrl::FullyEncoded);
    QString rest;
    LiveSite* site = Find(path, rest);
    // The HTTP server asks about a WebSocket upgrade before it hands the
    // connection over: accepted, silently, for a site's stream alone.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return site && LiveSite::IsStream(rest);
    if (site && rest.isEmpty()) {
        r.write(QByteArray(), {{"Location", (path + '/').toUtf8()}, {"Cache-Control", "no-store"}},
                Status::MovedPermanently);
        return true;
    }
    if (site && site->Answer(rest, request, r)) return true;
    if (!site && fallback_ && fallback_(path, request, r)) return true;
    Reply(r, "Not found\n", "text/plain; charset=utf-8", Status::NotFound);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder r = makeResponder(request, socket);
    Reply(r, "Not found\n", "text/plain; charset=utf-8", QHttpServerResponder::StatusCode::NotFound);
}

void WebServer::OnWebSocket() {
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> ws = nextPendingWebSocketConnection();
        if (!ws) break;
        QTcpSocket* tcp = tcp_->TakeOver(ws->peerAddress(), ws->peerPort());
        QString rest;
        LiveSite* site = Find(ws->requestUrl().path(QUrl::FullyEncoded), rest);
        if (!site || !LiveSite::IsStream(rest)) {
            ws->close(QWebSocketProtocol::CloseCodePolicyViolated, "No such stream");
            ws.release()->deleteLater();
            continue;
        }
        site->AddClient(std::move(ws), tcp);
    }
}

// Bytes written but not yet taken by the browser: the socket's own buffer
// and what the kernel still holds unacknowledged.
qint64 LiveSite::Queued(const Client& c) const {
    qint64 queued = c.socket->bytesToWrite();
    if (c.tcp) {
        int kernel = 0;
        if (::ioctl(static_cast<int>(c.tcp->socketDescriptor()), SIOCOUTQ, &kernel) == 0) queued += kernel;
    }
    return queued;
}

namespace {

// A text message as one WebSocket frame the way a server sends it (final,
// unmasked), made once for every browser: framing it per browser cost more
// than anything else the stream does.
QByteArray TextFrame(const QByteArray& payload) {
    const auto n = static_cast<quint64>(payload.size());
    QByteArray frame;
    frame.reserve(payload.size() + 10);
    frame.append(char(0x81));
    if (n < 126) {
        frame.append(char(n));
    } else if (n <= 0xffff) {
        frame.append(char(126));
        for (int shift = 8; shift >= 0; shift -= 8) frame.append(char((n >> shift) & 0xff));
    } else {
        frame.append(char(127));
        for (int shift = 56; shift >= 0; shift -= 8) frame.append(char((n >> shift) & 0xff));
    }
    frame.append(payload);
    return frame;
}

}  // namespace

void LiveSite::Send(const QByteArray& message) {
    const QByteArray frame = TextFrame(message);
    std::vector<QWebSocket*> slow;
    for (Client& c : clients_) {
        if (Queued(c) + message.size() > MaxQueuedBytes) {
            slow.push_back(c.socket.get());
        } else if (c.tcp) {
            // The frame goes under the WebSocket, whole, between its own
            // frames (everything runs on this thread), and straight to the
            // kernel: waiting for the event loop to flush 500 sockets one
            // notifier at a time costs a round and a notifier each.
            c.tcp->write(frame);
            c.tcp->flush();
        } else {
            c.socket->sendTextMessage(QString::fromUtf8(message));
        }
    }
    for (QWebSocket* s : slow) {
        // Reset rather than closed: what it did not take is thrown away at
        // once, instead of waiting in the kernel for a reader that may never
        // come.
        for (const Client& c : clients_) {
            if (c.socket.get() != s || !c.tcp) continue;
            const linger reset{1, 0};
            ::setsockopt(static_cast<int>(c.tcp->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        Drop(s);
    }
}

void LiveSite::Drop(QWebSocket* socket) {
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if (it->socket.get() != socket) continue;
        QWebSocket* s = it->socket.release();
        clients_.erase(it);
        s->disconnect(this);
        s->abort();
        s->deleteLater();
        return;
    }
}

}  // namespace gs::live
