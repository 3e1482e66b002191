#include "RaceFeed.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "common/Text.h"
#include "view/Standings.h"

namespace gs::live {

namespace {

void PutU32(QByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xff));
}

void PutU16(QByteArray& out, std::uint16_t v) {
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>(v >> 8));
}

float Channel(const MeshPoint& p, int c) { return c == 0 ? p.r : c == 1 ? p.g : p.b; }

void PutF32(QByteArray& out, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    PutU32(out, bits);
}

// A picture per track code is kept for the pages that still show it.
constexpr std::size_t MaxPictures = 4;

}  // namespace

QByteArray TrackPicture(const TrackMesh& mesh) {
    struct Flat {
        const MeshPoint* p[3];
    };
    std::vector<Flat> kept;
    float minX = std::numeric_limits<float>::max(), minY = minX;
    float maxX = std::numeric_limits<float>::lowest(), maxY = maxX;
    for (const MeshObject& object : mesh.Objects) {
        for (std::int32_t t = 0; t < object.TriangleCount; ++t) {
            const MeshTriangle& tri = object.Triangles[t];
            // The loader guarantees the indices are inside the object.
            const Flat f{{&object.Points[tri.a], &object.Points[tri.b], &object.Points[tri.c]}};
            const double area = (double(f.p[1]->x) - f.p[0]->x) * (double(f.p[2]->y) - f.p[0]->y) -
                                (double(f.p[2]->x) - f.p[0]->x) * (double(f.p[1]->y) - f.p[0]->y);
            if (!(std::fabs(area) > 1e-6)) continue;
            for (const MeshPoint* q : f.p) {
                minX = std::min(minX, q->x);
                minY = std::min(minY, q->y);
                maxX = std::max(maxX, q->x);
                maxY = std::max(maxY, q->y);
            }
            kept.push_back(f);
        }
    }
    if (kept.empty()) minX = minY = maxX = maxY = 0;
    QByteArray out("GSTRACK2");
    out.reserve(static_cast<qsizetype>(28 + kept.size() * TrackPictureTriangleSize));
    PutU32(out, static_cast<std::uint32_t>(kept.size()));
    PutF32(out, minX);
    PutF32(out, minY);
    PutF32(out, maxX);
    PutF32(out, maxY);
    const double spanX = std::max(double(maxX) - minX, 1e-6), spanY = std::max(double(maxY) - minY, 1e-6);
    auto quantise = [](double v) {
        const auto q = static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0));
        return static_cast<std::uint16_t>(q);
    };
    for (const Flat& f : kept) {
        for (const MeshPoint* q : f.p) {
            PutU16(out, quantise((q->x - minX) / spanX));
            PutU16(out, quantise((q->y - minY) / spanY));
        }
        for (int c = 0; c < 3; ++c) {
            const float mean = (Channel(*f.p[0], c) + Channel(*f.p[1], c) + Channel(*f.p[2], c)) / 3;
            out.append(static_cast<char>(std::lround(std::clamp(mean, 0.0f, 1.0f) * 255)));
        }
    }
    return out;
}

// ------------------------------------------------------------ watched socket

class RaceFeed::WatchedSocket final : public DatagramSocket {
public:
    explicit WatchedSocket(RaceFeed& owner) : owner_(owner) {}
    bool Open(const std::string& host, const std::string& port, std::string& error) override {
        owner_.notifier_.reset();
        const bool ok = socket_.Open(host, port, error);
        if (ok) {
            owner_.notifier_ = std::make_unique<QSocketNotifier>(socket_.Descriptor(), QSocketNotifier::Read);
            QObject::connect(owner_.notifier_.get(), &QSocketNotifier::activated, &owner_, &RaceFeed::OnReadable);
        }
        return ok;
    }
    void Send(const void* data, std::size_t size) override { socket_.Send(data, size); }
    // Each read first settles the datagram before it: by now the connection
    // has dispatched it, so its effect on the player table can be seen.
    int Receive(void* buffer, std::size_t capacity) override {
        owner_.AfterDatagram();
        const int got = socket_.Receive(buffer, capacity);
        if (got > 0) {
            std::memcpy(owner_.before_, owner_.race_.Players, sizeof owner_.before_);
            owner_.beforeCount_ = owner_.race_.PlayerCount;
            std::memcpy(owner_.pendingType_, buffer, std::min<std::size_t>(3, static_cast<std::size_t>(got)));
            owner_.lastArrival_ = owner_.clock_.Counter();
            if (owner_.onDatagram)
                owner_.onDatagram(static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(got),
                                  owner_.lastArrival_);
        }
        return got;
    }
    void Close() override {
        owner_.notifier_.reset();
        socket_.Close();
    }
    bool IsOpen() const override { return socket_.IsOpen(); }

private:
    RaceFeed& owner_;
    UdpSocket socket_;
};

// ------------------------------------------------------------------ spectator

RaceFeed::RaceFeed(RaceFeedOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), socket_(std::make_unique<WatchedSocket>(*this)) {
    connection_ = std::make_unique<Connection>(race_, servers_,
                                               ConnectionPorts{clock_, timer1Port_, timer2Port_, *socket_, *this});
    timer1_.setInterval(50);
    timer1_.setTimerType(Qt::PreciseTimer);
    timer2_.setInterval(5000);
    connect(&timer1_, &QTimer::timeout, this, &RaceFeed::Tick);
    connect(&timer2_, &QTimer::timeout, this, [this] {
        connection_->OnKeepAliveTick();
        TakeLogLines();
    });
    reconnect_.setSingleShot(true);
    connect(&reconnect_, &QTimer::timeout, this, &RaceFeed::Connect);
    silence_.setInterval(250);
    connect(&silence_, &QTimer::timeout, this, &RaceFeed::WatchSilence);
    race_.InitSampleClock(clock_);
    nextReconnectMs_ = options_.reconnectMs;
}

RaceFeed::~RaceFeed() {
    connection_->Disconnect();
    notifier_.reset();
}

void RaceFeed::Start() {
    silence_.start();
    Connect();
}

void RaceFeed::Connect() {
    connection_->ConnectCommand(options_.host, options_.port, options_.admin);
    if (!socket_->IsOpen()) ScheduleReconnect();
    lastLink_ = connection_->LinkState;
    TakeLogLines();
    emit Changed();
}

void RaceFeed::Tick() {
    connection_->OnPacketTick();
    AfterDatagram();
    TakeLogLines();
    // A connection that ended (time-out or the server's silence) is opened
    // again, as a user would click Connect.
    if (connection_->LinkState == lsIdle && lastLink_ != lsIdle && !reconnect_.isActive()) ScheduleReconnect();
    if (connection_->LinkState >= lsLive) nextReconnectMs_ = options_.reconnectMs;
    if (connection_->LinkState != lastLink_) {
        lastLink_ = connection_->LinkState;
        emit Changed();
    }
}

// A server that is down is asked less and less often, never less than once
// a minute (by default).
void RaceFeed::ScheduleReconnect() {
    reconnect_.start(nextReconnectMs_);
    nextReconnectMs_ = std::min(std::max(options_.maxReconnectMs, options_.reconnectMs), nextReconnectMs_ * 2);
}

const char* RaceFeed::Link() const {
    const std::int32_t link = connection_->LinkState;
    return link == lsIdle ? "disconnected" : link < lsLive ? "connecting" : silent_ ? "silent" : "live";
}

std::string RaceFeed::ServerName() const {
    return Windows1252ToUtf8(StripColourCodes(race_.ServerName, sizeof race_.ServerName));
}

void RaceFeed::OnReadable() {
    // The same bounds as the packet timer's drain: a flood waits for the
    // next round of the event loop.
    std::uint8_t buffer[Connection::ReadSize];
    for (int n = 0; n < Connection::MaxDatagramsPerTick; ++n) {
        const int got = socket_->Receive(buffer, sizeof buffer);
        if (got <= 0) break;
        connection_->ReceiveDatagram(buffer, static_cast<std::size_t>(got));
    }
    AfterDatagram();
    TakeLogLines();
    lastLink_ = connection_->LinkState;
    emit Changed();
}

void RaceFeed::WatchSilence() {
    const bool live = connection_->LinkState >= lsLive;
    const std::int64_t quiet = (clock_.Counter() - lastArrival_) / 1000000;
    const bool silent = live && quiet > options_.silentMs;
    if (silent != silent_) {
        silent_ = silent;
        journal_.Add(silent ? "The race server is silent" : "Data from the race server again");
        emit Changed();
    }
}

void RaceFeed::TakeLogLines() {
    for (std::size_t i = 0; i < race_.Log.Size(); ++i) journal_.Add(race_.Log.At(i));
    race_.Log.Clear();
}

// The core logs laps, chat and the connection's changes; joins, leaves,
// renames and results are read from what a datagram of that type changed.
void RaceFeed::AfterDatagram() {
    if (pendingType_[0] == '\0') return;
    const std::string type(pendingType_, 3);
    std::memset(pendingType_, 0, sizeof pendingType_);
    TakeLogLines();
    const int count = race_.PlayerCount;
    auto nameOf = [](const PlayerRecord& p) { return FieldText(p.Name, sizeof p.Name); };
    auto wasPresent = [&](const std::string& name) {
        for (int i = 0; i < beforeCount_; ++i)
            if (nameOf(before_[i]) == name) return true;
        return false;
    };
    if (type == "NPL") {
        // A new driver takes the slot just past the field.
        for (int k = beforeCount_; k < MaxPlayers; ++k) {
            const std::string name = nameOf(race_.Players[k]);
            if (!name.empty() && name != nameOf(before_[k]) && !wasPresent(name))
                journal_.Add(name + " joins the race");
        }
    } else if (type == "PLL") {
        for (int i = 0; i < beforeCount_; ++i) {
            const std::string name = nameOf(before_[i]);
            if (!name.empty() && race_.FindPlayer(name) < 0) journal_.Add(name + " leaves the race");
        }
    } else if (type == "CPR") {
        for (int k = 0; k < std::min(count, beforeCount_); ++k) {
            const std::string was = nameOf(before_[k]), now = nameOf(race_.Players[k]);
            if (was != now && !was.empty()) {
                journal_.Add(was + " is now called " + now);
                timing_.Rename(was, now);
            }
        }
    } else if (type == "RES") {
        ComputePositions(race_, track_.PathNodeCount, track_.FinishNode);
        for (int k = 0; k < std::min(count, beforeCount_); ++k) {
            const PlayerRecord& p = race_.Players[k];
            if (!p.Finished || before_[k].Finished) continue;
            journal_.Add("Result: P" + std::to_string(p.Position) + " " + nameOf(p) + " in " +
                         LapTimeText(p.TotalMin, p.TotalSec, p.TotalHund) + ", best lap " +
                         LapTimeText(p.BestMin, p.BestSec, p.BestHund));
        }
    }
    // Node times, sectors and laps from car info; a race start begins a
    // session (this also keeps each sample queue at its newest sample).
    timing_.AfterDatagram(type, lastArrival_ / 1000000, race_, before_, beforeCount_);
    if (silent_) {
        silent_ = false;
        journal_.Add("Data from the race server again");
    }
}

// ---------------------------------------------------------------- track

void RaceFeed::LoadTrack(const char* code) {
    trackLoaded_ = gs::LoadTrack(track_, code, *this);
    const std::string key = FieldText(code, 6);
    if (trackLoaded_) {
        pictures_.erase(key);
        if (pictures_.size() >= MaxPictures) pictures_.erase(pictures_.begin());
        const QByteArray picture = TrackPicture(track_.Mesh);
        // zlib's stream without qCompress's four-byte length: HTTP's deflate.
        pictures_[key] = Picture{picture, qCompress(picture, 6).mid(4)};
    } else {
        // The page ranks without the path and shows no map; the tool goes on.
        track_.PathNodeCount = 0;
        track_.FinishNode = 0;
        journal_.Add("No track files for " + key + ": the map stays empty");
    }
    timing_.SetTrack(track_.PathNodeCount, track_.FinishNode);
    // Only the path values rank; the mesh lives on as the picture.
    track_.Mesh.Release();
}

// A track that cannot be loaded ends the desktop program; this tool puts a
// line in the event log instead (the caller writes it) and goes on.
void RaceFeed::FatalError(const std::string&) {}

RaceFeed::Picture RaceFeed::TrackPictureOf(const std::string& code) const {
    const auto it = pictures_.find(code);
    return it == pictures_.end() ? Picture{} : it->second;
}

Snapshot RaceFeed::Take() {
    Snapshot s = TakeSnapshot(race_, track_.PathNodeCount, track_.FinishNode, &timing_);
    s.session.link = Link();
    s.session.trackLoaded = trackLoaded_ && pictures_.count(s.session.track) != 0;
    s.lastEvent = journal_.Last();
    return s;
}

}  // namespace gs::live
