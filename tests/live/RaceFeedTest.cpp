// gridscope-live's spectator against a race server played by the test over
// loopback UDP, every datagram written out byte by byte in the test: the
// handshake, the events read from what each packet changed (joins, leaves,
// renames, results), Windows-1252 texts as UTF-8, a track without files,
// and a race server that falls silent and comes back.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUdpSocket>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "LiveServer.h"
#include "RaceFeed.h"

namespace gs::live {
namespace {

class FakeRaceServer {
public:
    FakeRaceServer() { socket_.bind(QHostAddress::LocalHost, 0); }
    quint16 Port() const { return socket_.localPort(); }

    // Reads what the spectator sent; true once its init packet came.
    bool Greeted() {
        while (socket_.hasPendingDatagrams()) {
            QByteArray d(static_cast<int>(socket_.pendingDatagramSize()), '\0');
            socket_.readDatagram(d.data(), d.size(), &peer_, &peerPort_);
            if (d.startsWith("ISI")) {
                init_ = d;
                greeted_ = true;
            }
        }
        return greeted_;
    }
    const QByteArray& Init() const { return init_; }

    void Send(const QByteArray& d) { socket_.writeDatagram(d, peer_, peerPort_); }

    static QByteArray Packet(const char* type, int size) {
        QByteArray b(size, '\0');
        std::memcpy(b.data(), type, 3);
        return b;
    }
    static void Put(QByteArray& b, int at, const std::string& bytes) {
        std::memcpy(b.data() + at, bytes.data(), bytes.size());
    }
    static QByteArray State(int count, int mode, const char* track) {
        QByteArray b = Packet("STA", 26);
        b[12] = static_cast<char>(count);
        b[15] = static_cast<char>(mode);
        Put(b, 20, track);
        return b;
    }
    static QByteArray NewPlayer(int slot, const std::string& name, const char* car) {
        QByteArray b = Packet("NPL", 97);
        Put(b, 28, name);
        Put(b, 60, car);
        b[96] = static_cast<char>(slot);
        return b;
    }
    static QByteArray Leaves(const std::string& name) {
        QByteArray b = Packet("PLL", 52);
        Put(b, 28, name);
        return b;
    }
    static QByteArray Rename(const std::string& was, const std::string& now) {
        QByteArray b = Packet("CPR", 76);
        Put(b, 28, was);
        Put(b, 52, now);
        return b;
    }
    static QByteArray Result(const std::string& name, int m, int s, int h, int bm, int bs, int bh) {
        QByteArray b = Packet("RES", 103);
        Put(b, 28, name);
        b[96] = char(m), b[97] = char(s), b[98] = char(h);
        b[100] = char(bm), b[101] = char(bs), b[102] = char(bh);
        return b;
    }
    static QByteArray Chat(const std::string& text) {
        QByteArray b = Packet("MSO", 132);
        Put(b, 4, text);
        return b;
    }

private:
    QUdpSocket socket_;
    QHostAddress peer_;
    quint16 peerPort_ = 0;
    QByteArray init_;
    bool greeted_ = false;
};

bool PumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done()) return true;
    }
    return done();
}

std::vector<std::string> Lines(const RaceFeed& s) {
    std::vector<std::string> out;
    for (const EventLine& e : s.Journal().Between(0, s.Journal().Last(), EventJournal::Capacity)) out.push_back(e.text);
    return out;
}

bool Has(const RaceFeed& s, const std::string& line) {
    for (const std::string& l : Lines(s))
        if (l == line) return true;
    return false;
}

TEST(LiveRaceFeed, JoinsAsTheProgramAndLogsWhatEachPacketChanged) {
    FakeRaceServer server;
    RaceFeedOptions options;
    options.host = "127.0.0.1";
    options.port = server.Port();
    options.admin = "pw\x80";
    options.silentMs = 400;
    RaceFeed spectator(options);
    int changes = 0;
    QObject::connect(&spectator, &RaceFeed::Changed, [&] { ++changes; });
    spectator.Start();

    ASSERT_TRUE(PumpUntil([&] { return server.Greeted(); }, 3000));
    // The init packet the program sends: "ISI", a zero, byte 6 = '1', the password.
    ASSERT_EQ(server.Init().size(), 24);
    EXPECT_EQ(server.Init()[6], '1');
    EXPECT_EQ(server.Init().mid(8, 4), QByteArray("pw\x80\0", 4));

    // Two drivers already in the race, a track without files here.
    server.Send(FakeRaceServer::State(2, 1, "ZZ1"));
    server.Send(FakeRaceServer::NewPlayer(0, "^1Ann", "XRT"));
    server.Send(FakeRaceServer::NewPlayer(1, "B\x80ob", "FZ50"));
    ASSERT_TRUE(PumpUntil(
        [&] { return spectator.Take().cars.size() == 2 && spectator.Take().cars[1].name == "B\u20acob"; }, 3000));
    Snapshot s = spectator.Take();
    EXPECT_EQ(s.cars[0].name, "Ann");
    EXPECT_EQ(s.session.link, "live");
    EXPECT_EQ(s.session.track, "ZZ1");
    EXPECT_FALSE(s.session.trackLoaded);
    EXPECT_TRUE(Has(spectator, "No track files for ZZ1: the map stays empty"));
    for (const std::string& l : Lines(spectator)) EXPECT_EQ(l.find("joins"), std::string::npos) << l;

    // A newcomer past the field, a rename, a leave, a result and chat.
    server.Send(FakeRaceServer::NewPlayer(2, "^3Cid", "RB4"));
    server.Send(FakeRaceServer::State(3, 1, "ZZ1"));
    server.Send(FakeRaceServer::Rename("B\x80ob", "^2Rob \x93R\x94"));
    server.Send(FakeRaceServer::Leaves("^1Ann"));
    server.Send(FakeRaceServer::Result("Rob \x93R\x94", 3, 4, 5, 1, 2, 3));
    server.Send(FakeRaceServer::Chat("hello \x91there\x92"));
    const std::vector<std::string> expected = {"Cid joins the race", "B\u20acob is now called Rob \u201cR\u201d",
                                               "Ann leaves the race", " Rob \u201cR\u201d in 3:04.05, best lap 1:02.03",
                                               "   hello \u2018there\u2019"};
    ASSERT_TRUE(PumpUntil([&] { return Has(spectator, expected.back()); }, 3000));
    std::vector<std::string> lines = Lines(spectator);
    std::size_t at = 0;
    for (const std::string& want : expected) {
        while (at < lines.size() && lines[at].find(want) == std::string::npos) ++at;
        EXPECT_LT(at, lines.size()) << "missing or out of order: " << want;
    }
    s = spectator.Take();
    ASSERT_EQ(s.cars.size(), 2u);
    EXPECT_EQ(s.cars[0].name, "Rob \u201cR\u201d");
    EXPECT_TRUE(s.cars[0].finished);
    EXPECT_EQ(s.cars[1].name, "Cid");
    EXPECT_GT(changes, 0);

    // Silence, then data again.
    ASSERT_TRUE(PumpUntil([&] { return spectator.Take().session.link == "silent"; }, 2000));
    EXPECT_TRUE(Has(spectator, "The race server is silent"));
    server.Send(FakeRaceServer::Chat("back"));
    ASSERT_TRUE(PumpUntil([&] { return spectator.Take().session.link == "live"; }, 2000));
    EXPECT_TRUE(Has(spectator, "Data from the race server again"));
}

}  // namespace
}  // namespace gs::live

namespace gs::live {
namespace {

// The publisher: changes go out at most twenty a second however fast the
// server talks, lose no event line, and a delay holds each back by its
// length.
TEST(LivePublisher, AtMostTwentyChangesASecondEveryLineEachHeldBackByTheDelay) {
    FakeRaceServer server;
    RaceFeedOptions options;
    options.host = "127.0.0.1";
    options.port = server.Port();
    RaceFeed spectator(options);
    Publisher now(spectator, 0), later(spectator, 500);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> nowTimes, laterTimes;
    std::map<std::string, qint64> sent, seenNow, seenLater;
    auto record = [&](std::vector<qint64>& times, std::map<std::string, qint64>& seen, const QByteArray& m) {
        times.push_back(clock.elapsed());
        const QJsonObject o = QJsonDocument::fromJson(m).object();
        for (const auto& e : o["events"].toArray())
            seen.emplace(e.toObject()["text"].toString().toStdString(), clock.elapsed());
    };
    QObject::connect(&now, &Publisher::Broadcast, [&](const QByteArray& m) { record(nowTimes, seenNow, m); });
    QObject::connect(&later, &Publisher::Broadcast, [&](const QByteArray& m) { record(laterTimes, seenLater, m); });
    spectator.Start();
    ASSERT_TRUE(PumpUntil([&] { return server.Greeted(); }, 3000));
    server.Send(FakeRaceServer::State(1, 1, "ZZ1"));
    PumpUntil([] { return false; }, 200);

    // A chat line every 25 ms for two seconds: 40 a second.
    const qint64 start = clock.elapsed();
    for (int i = 0; clock.elapsed() - start < 2000; ++i) {
        const std::string line = "line " + std::to_string(i);
        server.Send(FakeRaceServer::Chat(line));
        sent["   " + line] = clock.elapsed();
        PumpUntil([] { return false; }, 25);
    }
    PumpUntil([] { return false; }, 800);

    const std::size_t perSecond = SendPace::MaxPerSecond;
    ASSERT_GE(nowTimes.size(), 30u) << "about twenty a second still go out";
    // Timed here, a little after each decision: a few milliseconds' slack.
    for (std::size_t i = perSecond; i < nowTimes.size(); ++i)
        EXPECT_GE(nowTimes[i] - nowTimes[i - perSecond], 1000 - 10) << "more than twenty a second";
    // Every line arrives, in one change or another, and the delayed ones
    // half a second after the undelayed.
    for (const auto& [text, at] : sent) {
        ASSERT_TRUE(seenNow.count(text)) << text << " sent at " << at;
        ASSERT_TRUE(seenLater.count(text)) << text << " sent at " << at;
        // Faster than the pace, a line waits for a send: a timer that
        // fires late can move a decision by a pace step, or by the burst.
        EXPECT_NEAR(seenLater[text] - seenNow[text], 500, SendPace::Burst * SendPace::Spacing + 20) << text;
    }
}

}  // namespace
}  // namespace gs::live
