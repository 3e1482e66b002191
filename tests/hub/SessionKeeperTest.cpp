// The session rules, one by one: datagrams written in the test fed to the
// keeper at known times, a real SQLite store on disk read back with SQL,
// and the recordings on disk read back with the recording reader.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QRegularExpression>
#include <QSqlQuery>

#include <unistd.h>

#include <filesystem>

#include "Datagrams.h"
#include "Recording.h"
#include "SessionKeeper.h"
#include "common/Platform.h"

namespace fs = std::filesystem;
using gs::test::Lap;
using gs::test::Packet;
using gs::test::Timed;
using gs::test::TwoCars;

namespace {

class Keeper : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(GS_TEST_OUT) / ("keeper-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        store_ = gs::hub::Store::Open(QString::fromStdString("sqlite:" + (dir_ / "hub.sqlite").string()),
                                      QString::fromStdString(dir_.string()));
        keeper_ = std::make_unique<gs::hub::SessionKeeper>("club", *store_, dir_ / "recordings",
                                                           fs::path(GS_RUN_DIR) / "files",
                                                           [this](const QString& line) { log_ << line; });
        origin_ = gs::SteadyClock().Counter();
    }
    void TearDown() override {
        keeper_.reset();
        store_.reset();
        if (!HasFailure()) fs::remove_all(dir_);
    }

    // Feeds each datagram at `offset` plus its own time.
    void Feed(const Timed& datagrams, double offset = 0) {
        for (const auto& [seconds, p] : datagrams)
            keeper_->Datagram(p.b.data(), p.b.size(), origin_ + static_cast<std::int64_t>((offset + seconds) * 1e9));
    }
    // "state track laps why" of every stored session, oldest first.
    std::string Sessions() {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(QString::fromStdString((dir_ / "hub.sqlite").string()));
        QStringList out;
        {
            EXPECT_TRUE(db.open());
            QSqlQuery q("SELECT s.state, s.why, s.track, (SELECT count(*) FROM laps l WHERE l.session_id = s.id) "
                        "FROM sessions s ORDER BY s.id",
                        db);
            while (q.next())
                out << q.value(0).toString() + " " + q.value(2).toString() + " " + q.value(3).toString() + " " +
                           q.value(1).toString();
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("check");
        return out.replaceInStrings(QRegularExpression(" $"), "").join(" | ").toStdString();
    }
    std::vector<fs::path> Recordings() {
        std::vector<fs::path> out;
        if (fs::exists(dir_ / "recordings" / "club"))
            for (const auto& e : fs::directory_iterator(dir_ / "recordings" / "club")) out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path dir_;
    std::unique_ptr<gs::hub::Store> store_;
    std::unique_ptr<gs::hub::SessionKeeper> keeper_;
    std::int64_t origin_ = 0;
    QStringList log_;
};

Timed Start(int laps = 2) { return {{0, Packet("RST", 8).U8(4, laps)}}; }
Timed OneLap() { return {{0, TwoCars(1, 12)}, {0.1, Lap(0, "XRT", 1, 1, 0)}, {0.2, TwoCars(2, 3)}}; }
Timed State(const char* track, int mode) { return {{0, Packet("STA", 28).U8(12, 2).U8(15, mode).Text(20, track)}}; }

// A race start opens a session and the race end (with the car info after
// it) closes it as finished; its recording starts with what a spectator
// joining would be told and replays as the same race.
TEST_F(Keeper, ARaceFromStartToEndIsFinishedAndItsRecordingStandsAlone) {
    Feed(gs::test::HandmadeRace());
    EXPECT_FALSE(keeper_->SessionOpen());
    EXPECT_EQ(Sessions(), "finished BL1 4");
    const auto files = Recordings();
    ASSERT_EQ(files.size(), 1u);
    const gs::peers::Recording r = gs::peers::ReadRecordingFile(files[0]);
    ASSERT_GE(r.records.size(), 6u);
    const char* first[] = {"ISM", "STA", "NPL", "NPL", "RST"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::string(r.records[static_cast<std::size_t>(i)].bytes.begin(),
                              r.records[static_cast<std::size_t>(i)].bytes.begin() + 3),
                  first[i]);
    // The car info that closed the session is its last record.
    EXPECT_EQ(std::string(r.records.back().bytes.begin(), r.records.back().bytes.begin() + 3), "MCI");
    EXPECT_NEAR(r.records.back().Seconds(), 2.6 - 0.2, 0.01);
}

// The next start before the race end: the first is cut short and says why.
// A session without a lap or a result is not stored and leaves no file.
TEST_F(Keeper, TheNextStartCutsASessionShortAndAnEmptyOneLeavesNothing) {
    Feed(gs::test::Greeting());
    Feed(Start(), 1);
    Feed(OneLap(), 2);
    Feed(Start(), 3);               // cut: one lap stored
    Feed({{0, TwoCars(1, 5)}}, 4);  // the new session: no lap
    Feed(Start(), 5);               // cut again, nothing to keep
    Feed(OneLap(), 6);
    keeper_->Stop("the hub stopped");
    EXPECT_EQ(Sessions(), "interrupted BL1 1 the next session began before this one ended | "
                          "interrupted BL1 1 the hub stopped");
    EXPECT_EQ(Recordings().size(), 2u);
}

// A spectator that joins during a race keeps its rest as a session; a change
// of track cuts it; a lost server cuts it too, and once joined again the same
// race's state opens a new session.
TEST_F(Keeper, JoiningMidRaceAChangedTrackAndALostServer) {
    Feed(gs::test::Greeting("AS1"));  // no start seen: a race on AS1
    EXPECT_TRUE(keeper_->SessionOpen());
    Feed(OneLap(), 1);
    Feed(State("AS1", 1), 2);  // the keep-alive's state again: nothing changes
    Feed(OneLap(), 3);
    Feed(State("BL2", 1), 4);  // another track
    Feed(OneLap(), 5);
    keeper_->Lost("the server went offline");
    EXPECT_FALSE(keeper_->SessionOpen());
    Feed(State("BL2", 1), 70);  // joined again
    Feed(OneLap(), 71);
    Feed(State("BL2", 0), 72);  // no session any more: nothing opens
    EXPECT_EQ(Sessions(), "interrupted AS1 2 the server changed its track or mode | "
                          "interrupted BL2 1 the server went offline | "
                          "interrupted BL2 1 the server changed its track or mode");
    EXPECT_FALSE(keeper_->SessionOpen());
}

// A slot keeps its last driver's times: a driver who takes it after the
// race end (into a slot past the field of the race start) is in the results
// without them, as a replay of the recording has him.
TEST_F(Keeper, ADriverWhoJoinsAfterTheEndInheritsNoTimes) {
    Feed(gs::test::Greeting());
    Feed({{0, Packet("STA", 28).U8(12, 3).U8(15, 1).Text(20, "BL1")},
          {0, Packet("NPL", 97).Text(28, "Old").Text(60, "RB4").U8(96, 2)}});
    Feed(Start(1), 1);
    Feed({{0, Packet("MCI", 12 + 3 * 24).U8(8, 3)},
          {0.1, Lap(2, "RB4", 0, 50, 0)},
          {0.2, Packet("RES", 104).Text(28, "Old").U8(97, 50).U8(101, 50)},
          {0.3, Packet("REN", 4)},
          {0.4, Packet("MCI", 12 + 3 * 24).U8(8, 3)},
          {0.5, Packet("PLL", 52).Text(28, "Old")}},
         2);
    Feed(Start(1), 3);
    Feed({{0, TwoCars(1, 10)},
          {0.1, Lap(0, "XRT", 1, 1, 0)},
          {0.2, Packet("RES", 104).Text(28, "^3J\xF6rg").U8(96, 1).U8(97, 1).U8(100, 1).U8(101, 1)},
          {0.3, Packet("REN", 4)},
          {0.4, Packet("NPL", 97).Text(28, "New").Text(60, "FXO").U8(96, 2)},
          {0.5, Packet("STA", 28).U8(12, 3).U8(15, 1).Text(20, "BL1")},
          // J\xF6rg past the line on lap 2, the other still on lap 1, the
          // newcomer in the pits.
          {0.6, Packet("MCI", 12 + 3 * 24).U8(8, 3).U16(12, 5).U8(14, 2).U16(36, 40).U8(38, 1)}},
         4);
    const QJsonArray races = store_->Races({}, 1, 10)["races"].toArray();
    ASSERT_EQ(races.size(), 2);
    const QJsonObject second = *store_->Race(races[0]["id"].toInteger());
    QStringList rows;
    for (const QJsonValue& r : second["results"].toArray())
        rows << r["name"].toString() + " " + QString::number(r["pos"].toInt()) + " " +
                    (r["best_ms"].isNull() ? "-" : QString::number(r["best_ms"].toInteger())) +
                    (r["finished"].toBool() ? " finished" : "");
    EXPECT_EQ(rows.join(" | ").toStdString(),
              "J\u00f6rg 1 61000 finished | '); DROP TABLE sessions; 2 - | New 3 -");
}

}  // namespace
