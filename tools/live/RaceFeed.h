// The one upstream spectator of gridscope-live: joins a race server through
// the core's connection, the same code the program joins with, keeps the core's race
// state, loads each track through the core's loader, and turns what happens
// into numbered event lines.
//
//   RaceFeed         - timers, socket, reconnect, track, events
//   TrackPicture     - the track's mesh seen from above, for the page
//
// The program's packet timer polls the socket every 50 ms; here a socket
// notifier also drains it the moment a datagram arrives, so an update
// reaches the browsers without waiting for the next tick. The timers still
// run the connection's steps, time-outs and keep-alive.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "LiveModel.h"
#include "Timing.h"
#include "common/Platform.h"
#include "connection/Connection.h"
#include "connection/RaceState.h"
#include "connection/ServerList.h"
#include "connection/UdpSocket.h"
#include "qtcore/QtTimer.h"
#include "track/TrackData.h"

namespace gs::live {

// The track's triangles as seen from above, in a small binary form the page
// draws: "GSTRACK2", the triangle count (u32), the bounds (min x, min y,
// max x, max y as f32), then per triangle three points, each x and y as a
// u16 fraction of the bounds (0 = min, 65535 = max), and the mean of its
// points' colours (r, g, b bytes). Little-endian. Triangles that cover no
// area seen from above (walls) are left out; the order is the mesh's, so
// later triangles cover earlier ones as in the program.
constexpr std::size_t TrackPictureTriangleSize = 15;
QByteArray TrackPicture(const TrackMesh& mesh);

struct RaceFeedOptions {
    std::string host;
    int port = 0;
    std::string admin;
    // After a connection ends or an attempt fails, the next attempt; each
    // failed attempt in a row doubles the wait, up to maxReconnectMs, and
    // a live connection starts it again from reconnectMs.
    int reconnectMs = 5000;
    int maxReconnectMs = 60000;
    int silentMs = 3000;     // no datagram for this long: the race is silent
};

class RaceFeed final : public QObject, public Shell {
    Q_OBJECT
public:
    explicit RaceFeed(RaceFeedOptions options, QObject* parent = nullptr);
    ~RaceFeed() override;

    void Start();
    Snapshot Take();
    const EventJournal& Journal() const { return journal_; }
    // The picture of a track code loaded during this run (empty when none),
    // plain and deflated.
    struct Picture {
        QByteArray plain, deflated;
    };
    Picture TrackPictureOf(const std::string& code) const;
    // The monotonic arrival time of the newest datagram (ns; 0 before any).
    std::int64_t LastArrival() const { return lastArrival_; }
    // "disconnected", "connecting", "live" or "silent".
    const char* Link() const;
    // The server's name as UTF-8, colour codes removed (empty before it
    // said it).
    std::string ServerName() const;

    // Each datagram as it arrived, with its arrival time (ns of the steady
    // clock), before the race state takes it: the hub records it and cuts
    // sessions from it.
    std::function<void(const std::uint8_t* data, std::size_t size, std::int64_t arrivalNs)> onDatagram;
    // Node times, sectors and lap history, timed by the datagrams' arrival (ms).
    const Timing& Times() const { return timing_; }

    // Shell
    void SetCaption(const std::string&) override {}
    void RepaintNow() override {}
    void LoadTrack(const char* code) override;
    void ServerListChanged() override {}
    void FatalError(const std::string& text) override;

signals:
    // Something the page shows may have changed.
    void Changed();

private:
    // The connection's socket, seen through a wrapper so that each datagram
    // can be compared with the state it leaves behind.
    class WatchedSocket;

    void Connect();
    void OnReadable();
    void AfterDatagram();
    void TakeLogLines();
    void Tick();
    void WatchSilence();
    void ScheduleReconnect();

    RaceFeedOptions options_;
    RaceState race_;
    ServerList servers_;
    TrackData track_;
    bool trackLoaded_ = false;
    std::map<std::string, Picture> pictures_;
    EventJournal journal_;
    Timing timing_;

    SteadyClock clock_;
    QTimer timer1_, timer2_, reconnect_, silence_;
    QtTimer timer1Port_{timer1_}, timer2Port_{timer2_};
    std::unique_ptr<WatchedSocket> socket_;
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<QSocketNotifier> notifier_;

    // The player table as the previous datagram left it, and that
    // datagram's type.
    PlayerRecord before_[MaxPlayers];
    int beforeCount_ = 0;
    char pendingType_[4] = {};
    std::int64_t lastArrival_ = 0;
    bool silent_ = false;
    std::int32_t lastLink_ = lsIdle;
    int nextReconnectMs_ = 0;
};

}  // namespace gs::live
