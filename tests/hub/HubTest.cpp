// gridscope-hub as a real process against real peers: the project's race
// server, the replay of a recording whose datagrams this test writes byte by
// byte, an address where nothing answers, and a store on disk (SQLite read
// back with the sqlite3 command) or in a PostgreSQL cluster the test starts.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HubConfig.h"
#include "Store.h"
#include "RaceReport.h"
#include "Recording.h"
#include "common/Text.h"
#include "Datagrams.h"
#include "support/ChildProcess.h"
#include "support/PostgresCluster.h"

namespace fs = std::filesystem;
using gs::test::ChildProcess;
using gs::test::Injection;

namespace {

// ------------------------------------------------------------------ helpers

struct Http {
    int status = 0;
    std::string body;
    QJsonDocument Json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)); }
};

Http Get(int port, const std::string& path) {
    Http out;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return out;
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        ::close(fd);
        return out;
    }
    // The server keeps the connection open: the answer ends after its
    // Content-Length.
    std::string text;
    char buffer[65536];
    std::size_t headerEnd = std::string::npos, length = 0;
    for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
        if (headerEnd == std::string::npos && (headerEnd = text.find("\r\n\r\n")) != std::string::npos) {
            std::string lower = text.substr(0, headerEnd);
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            const auto at = lower.find("content-length:");
            length = at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 15, nullptr, 10);
            headerEnd += 4;
        }
        if (headerEnd != std::string::npos && text.size() >= headerEnd + length) break;
    }
    ::close(fd);
    if (text.size() > 12) out.status = std::atoi(text.c_str() + 9);
    if (headerEnd != std::string::npos) out.body = text.substr(headerEnd, length);
    return out;
}

// Polls `check` every 200 ms for up to `seconds`.
bool WaitUntil(double seconds, const std::function<bool()>& check) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (check()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return check();
}

// The sqlite3 command's answer to `sql` on the store: plain SQL, as a
// league's own script would read it.
std::string Sqlite(const fs::path& store, const std::string& sql) {
    const std::string command = "sqlite3 -batch '" + store.string() + "' \"" + sql + "\" 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, p)) out += line;
        ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void WriteHandmadeRace(const fs::path& file) {
    const gs::test::Timed at = gs::test::HandmadeRace();
    gs::peers::RecordingWriter writer(file, 1765000000000000);
    for (const auto& [seconds, packet] : at)
        ASSERT_TRUE(writer.Append(static_cast<std::uint64_t>(seconds * 1e6), gs::peers::RecordKind::Datagram, packet.b));
    ASSERT_TRUE(writer.Close());
}

// ------------------------------------------------------------------- the rig

class HubRig {
public:
    explicit HubRig(const std::string& name) {
        dir_ = fs::path(GS_TEST_OUT) / (name + "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~HubRig() {
        hub.reset();
        servers.clear();
        // What a failed test leaves is kept to look at.
        if (!::testing::Test::HasFailure()) fs::remove_all(dir_);
    }
    fs::path Dir() const { return dir_; }
    fs::path Data() const { return dir_ / "data"; }
    fs::path Store() const { return Data() / "hub.sqlite"; }

    // The project's race server: a short race after a short race, fast.
    int StartRaceServer(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{GS_RACESERVER, "--port", "0", "--cars", "4", "--laps", "2", "--sessions",
                                      "race", "--time-scale", "20", "--track-change", "0", "--files",
                                      std::string(GS_RUN_DIR) + "/files", "--admin", "pw", "--seed", "5"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return Start(std::move(argv));
    }
    int StartReplay(const fs::path& recording) {
        return Start({GS_RACESERVER, "--replay", recording.string(), "--port", "0", "--admin", "pw"});
    }
    int Start(std::vector<std::string> argv) {
        servers.push_back(std::make_unique<ChildProcess>(std::move(argv)));
        return servers.back()->ListeningPort();
    }

    void WriteConfig(const std::vector<std::pair<std::string, int>>& watched) {
        std::ofstream out(dir_ / "hub.ini");
        out << "[hub]\nhttp = 127.0.0.1:0\ndata = " << Data().string() << "\nfiles = " << GS_RUN_DIR << "\n";
        for (const auto& [key, port] : watched)
            out << "\n[server:" << key << "]\naddress = 127.0.0.1:" << port << "\nadmin = pw\n";
    }
    void StartHub(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{GS_HUB, "--config", (dir_ / "hub.ini").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        hub = std::make_unique<ChildProcess>(std::move(argv));
        ASSERT_TRUE(hub->WaitFor("dashboard: http://", 10000)) << hub->Output();
        const std::string& out = hub->Output();
        const auto at = out.find("dashboard: http://127.0.0.1:");
        port = std::atoi(out.c_str() + at + 28);
        ASSERT_GT(port, 0);
    }

    QJsonArray Races(const std::string& query = "") { return Get(port, "/api/races" + query).Json()["races"].toArray(); }
    // The newest listed session of `server` that `pick` accepts.
    QJsonObject Race(const std::string& server, const std::function<bool(const QJsonObject&)>& pick) {
        for (const QJsonValue& v : Races("?server=" + server))
            if (pick(v.toObject())) return v.toObject();
        return {};
    }

    std::vector<std::unique_ptr<ChildProcess>> servers;
    std::unique_ptr<ChildProcess> hub;
    int port = 0;

private:
    fs::path dir_;
};

bool Finished(const QJsonObject& r) { return r["state"].toString() == "finished"; }

// ------------------------------------------------------------------- tests

TEST(HubConfig, RefusesEachMistakeWithItsFileLineAndReason) {
    const fs::path dir = fs::path(GS_TEST_OUT) / ("config-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Case {
        const char* text;
        int line;
        const char* reason;
    } cases[] = {
        {"[hub]\nhttp = 127.0.0.1:8080\n", 0, "no [server:KEY] section"},
        {"[server:a]\naddress = 127.0.0.1:1\ncolour = red\n", 3, "unknown key \"colour\""},
        {"[server:a]\naddress = 127.0.0.1:1\n[server:a]\naddress = 127.0.0.1:2\n", 3, "given twice"},
        {"[server:a]\naddress = 127.0.0.1:1\n[server:A]\naddress = 127.0.0.1:2\n", 3, "given twice"},
        {"[server:a b]\naddress = 127.0.0.1:1\n", 1, "letters, digits"},
        {"[server:a]\naddress = 127.0.0.1:1\naddress = 127.0.0.1:2\n", 3, "given twice"},
        {"; league\n[server:a]\naddress = somewhere\n", 3, "not HOST:PORT"},
        {"[server:a]\naddress = 127.0.0.1:70000\n", 2, "not HOST:PORT"},
        {"[server:a]\naddress = 127.0.0.1:1\ndelay = 301\n", 3, "0 to 300"},
        {"[server:a]\naddress = 127.0.0.1:1\nadmin = a, b\n", 3, "double quotes"},
        {"[hub]\nhttp = localhost:80\n[server:a]\naddress = 127.0.0.1:1\n", 2, "numeric"},
        {"[servers]\n", 1, "unknown section"},
        {"address = 127.0.0.1:1\n", 1, "before the first"},
        // Championships and drivers.
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 10, x\n", 4, "each of points needs a whole"},
        {"[championship:w]\npoints = 10\nservers = a, b\n[server:a]\naddress = 127.0.0.1:1\n", 3, "\"b\" is not the key"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\nfrom = 2026-13-01\n", 5, "YYYY-MM-DD"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\nfrom = 2026-12-02\nto = 2026-12-01\n", 6,
         "before from"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\nsessions = heats\n", 5, "race, qualify or both"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\nmultiplier.0 = 2\n", 5, "from 1"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\nmultiplier.2 = 0\n", 5, "above 0"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\nmin-laps-percent = 150\n", 5, "0 to 100"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\ndrop = 1\n", 5, "unknown key \"drop\""},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\ntitle = W\n", 3, "has no points"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w w]\npoints = 1\n", 3, "letters, digits"},
        {"[server:a]\naddress = 127.0.0.1:1\n[championship:w]\npoints = 1\n[championship:W]\npoints = 1\n", 5,
         "given twice"},
        {"[server:a]\naddress = 127.0.0.1:1\n[drivers]\nRX|Alex = Alex\n^1RX|Alex = Bob\n", 5, "given to both"},
        {"[server:a]\naddress = 127.0.0.1:1\n[drivers]\n100%Alex = Alex\n", 4, "cannot be a key"},
        {"[server:a]\naddress = 127.0.0.1:1\n[drivers]\nA=lex = Alex\n", 4, "holding '='"},
    };
    for (const Case& c : cases) {
        const fs::path file = dir / "hub.ini";
        std::ofstream(file) << c.text;
        try {
            gs::hub::ReadHubConfig(QString::fromStdString(file.string()));
            ADD_FAILURE() << "accepted:\n" << c.text;
        } catch (const gs::hub::ConfigError& e) {
            EXPECT_EQ(e.line, c.line) << c.text << e.what();
            EXPECT_NE(e.reason.toStdString().find(c.reason), std::string::npos) << e.what();
            EXPECT_EQ(e.file.toStdString(), file.string());
        }
    }
    // The whole program says so and ends with status 2.
    std::ofstream(dir / "hub.ini") << "[server:club]\naddress = 127.0.0.1:29999\nadmin = \"se;cret\"\nmystery = 1\n";
    ChildProcess hub({GS_HUB, "--config", (dir / "hub.ini").string()});
    EXPECT_EQ(hub.Wait(10000), 2);
    EXPECT_NE(hub.Output().find("hub.ini:4: unknown key \"mystery\""), std::string::npos) << hub.Output();
    EXPECT_EQ(hub.Output().find("se;cret"), std::string::npos);
    // A championship's mistake too, before anything starts.
    std::ofstream(dir / "hub.ini") << "[server:club]\naddress = 127.0.0.1:29999\n[championship:w]\npoints = 3,2,1\n"
                                      "drop-worst = some\n";
    ChildProcess refused({GS_HUB, "--config", (dir / "hub.ini").string()});
    EXPECT_EQ(refused.Wait(10000), 2);
    EXPECT_NE(refused.Output().find("hub.ini:5: drop-worst needs a whole number"), std::string::npos) << refused.Output();
}

// The championship section as a league writes it (comments, a list of
// servers), read into its rules; names with colour codes read as the
// store keeps them.
TEST(HubConfig, ReadsChampionshipsAndDrivers) {
    const fs::path dir = fs::path(GS_TEST_OUT) / ("config-ok-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "hub.ini") << "[server:club]\naddress = 127.0.0.1:1\n[server:gt]\naddress = 127.0.0.1:2\n"
                                      "[championship:winter-2026]\n"
                                      "title = Winter Cup 2026\n"
                                      "servers = club, gt               ; whose races count\n"
                                      "from = 2026-12-01\nto = 2027-02-28\nsessions = race\n"
                                      "points = 25,18,15,12,10,8,6,4,2,1\nfastest-lap = 1\npole = 1\n"
                                      "min-laps-percent = 50\ndrop-worst = 1\nmultiplier.3 = 2\nmultiplier.7 = 1.5\n"
                                      "[championship:sprint]\npoints = 3,2,1\nsessions = both\n"
                                      "[drivers]\nRX|Alex = Alex Jansen\n^1Alex = Alex Jansen\n";
    const gs::hub::HubConfig config = gs::hub::ReadHubConfig(QString::fromStdString((dir / "hub.ini").string()));
    ASSERT_EQ(config.championships.size(), 2u);
    const gs::hub::ChampionshipRules& w = config.championships[0];
    EXPECT_EQ(w.key, "winter-2026");
    EXPECT_EQ(w.title, "Winter Cup 2026");
    EXPECT_EQ(w.servers, (QStringList{"club", "gt"}));
    EXPECT_EQ(*w.from, QDate(2026, 12, 1));
    EXPECT_EQ(*w.to, QDate(2027, 2, 28));
    EXPECT_TRUE(w.races && !w.qualifyings);
    EXPECT_EQ(w.points, (std::vector<int>{25, 18, 15, 12, 10, 8, 6, 4, 2, 1}));
    EXPECT_EQ(w.fastestLap + w.pole * 10 + w.minLapsPercent * 100 + w.dropWorst * 10000, 1 + 10 + 5000 + 10000);
    EXPECT_EQ(w.multipliers, (std::map<int, double>{{3, 2.0}, {7, 1.5}}));
    // Keys left out: no bonus, no minimum, no dropped round, every server,
    // every date, the key as the title.
    const gs::hub::ChampionshipRules& s = config.championships[1];
    EXPECT_EQ(s.title, "sprint");
    EXPECT_TRUE(s.servers.isEmpty() && !s.from && !s.to && s.races && s.qualifyings);
    EXPECT_EQ(s.fastestLap + s.pole + s.minLapsPercent + s.dropWorst, 0);
    EXPECT_TRUE(s.multipliers.empty());
    EXPECT_EQ(config.drivers, (gs::hub::DriverAliases{{"RX|Alex", "Alex Jansen"}, {"Alex", "Alex Jansen"}}));
}

// The penalty command as a real process on a store of two races, then the
// hub's championship and race pages and API from it; a penalty revoked
// while the hub runs shows at once. Worked out by hand (points 10,6,4; one
// dropped round):
//
//   R1 finish: RX|Alex, <b>Bo</b>, Jörg; RX|Alex +3 s -> Bo 10, Jörg 6, Alex 4
//   R2 finish: Jörg, Alex, <b>Bo</b> (disqualified, revoked) -> Jörg 10, Alex 6, Bo 4
//   Bo 10 (R2 dropped), Alex Jansen 6 (R1 dropped), Jörg 10 - 30 = -20 (R1 dropped)
//   with the 3 s revoked: Alex Jansen 10, Bo 6, Jörg -20
TEST(Hub, PenaltyCommandAndChampionshipPages) {
    HubRig rig("championship");
    fs::create_directories(rig.Data());
    const std::string bo = "<b>Bo</b>", jorg = "J\xF6rg", jorgUtf8 = "J\u00f6rg";
    std::int64_t r1 = 0, r2 = 0;
    {
        auto store = gs::hub::Store::Open(QString::fromStdString("sqlite:" + rig.Store().string()),
                                          QString::fromStdString(rig.Data().string()));
        auto race = [&](const char* started, const std::vector<std::string>& order) {
            const std::int64_t t0 = *gs::hub::ParseIsoTime(started);
            const auto id = store->OpenSession({"club", "race", "AS1", 10, 0, t0, ""});
            std::vector<gs::hub::ResultRow> rows;
            for (std::size_t i = 0; i < order.size(); ++i) {
                store->AddLap(id, order[i], "FZ50", 1, 60000 + static_cast<int>(i), t0 + 60000);
                rows.push_back({static_cast<int>(i) + 1, order[i], "FZ50", 10, 60000 + static_cast<std::int32_t>(i),
                                600000 + 1000 * static_cast<std::int32_t>(i), true});
            }
            store->CloseSession(id, t0 + 700000, true, "", rows);
            return id;
        };
        r1 = race("2026-12-01T20:00:00.000Z", {"RX|Alex", bo, jorg});
        r2 = race("2026-12-08T20:00:00.000Z", {jorg, "Alex", bo});
    }
    std::ofstream(rig.Dir() / "hub.ini") << "[hub]\nhttp = 127.0.0.1:0\ndata = " << rig.Data().string()
                                         << "\nfiles = " << GS_RUN_DIR << "\n[server:club]\naddress = 127.0.0.1:"
                                         << gs::test::FreeUdpPort()
                                         << "\n[championship:winter]\ntitle = Winter <Cup>\nservers = club\n"
                                            "points = 10,6,4\ndrop-worst = 1\n[drivers]\nRX|Alex = Alex Jansen\n"
                                            "Alex = Alex Jansen\n";
    auto penalty = [&](std::vector<std::string> args) {
        std::vector<std::string> argv{GS_HUB, "--config", (rig.Dir() / "hub.ini").string(), "penalty"};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess p(argv);
        const int status = p.Wait(20000);
        return std::make_pair(status, p.Output());
    };
    const std::string one = std::to_string(r1), two = std::to_string(r2);
    auto added = penalty({"--race", one, "--driver", "RX|Alex", "--seconds", "3", "--reason", "Cut the chicane"});
    EXPECT_EQ(added, std::make_pair(0, std::string("penalty 1 added\n")));
    EXPECT_EQ(penalty({"--race", two, "--driver", jorgUtf8, "--points", "30", "--reason", "Blocking", "--by", "Anna"}).first, 0);
    EXPECT_EQ(penalty({"--race", two, "--driver", bo, "--disqualify", "--reason", "Underweight", "--by", "Anna"}).first, 0);
    EXPECT_EQ(penalty({"--revoke", "3", "--reason", "Scales were wrong", "--by", "Chief"}).first, 0);
    // Mistakes: status 2 with the reason, nothing written.
    struct Refused {
        std::vector<std::string> args;
        const char* reason;
    } refused[] = {
        {{"--revoke", "3", "--reason", "again"}, "revoked already"},
        {{"--race", two, "--driver", "Nobody", "--points", "1", "--reason", "x"}, "no driver \"Nobody\""},
        {{"--race", "999", "--driver", bo, "--points", "1", "--reason", "x"}, "no race 999"},
        {{"--race", two, "--driver", bo, "--points", "1", "--seconds", "2", "--reason", "x"}, "one of --seconds"},
        {{"--race", two, "--driver", bo, "--seconds", "soon", "--reason", "x"}, "--seconds needs"},
        {{"--race", two, "--driver", bo, "--points", "1"}, "--reason TEXT is needed"},
        {{"--list", "--revoke", "1"}, "give one of"},
        {{"--race", "x1", "--list"}, "--race needs"},
        {{"--frobnicate"}, "Unknown option"},
    };
    for (const Refused& r : refused) {
        const auto [status, output] = penalty(r.args);
        EXPECT_EQ(status, 2) << output;
        EXPECT_NE(output.find(r.reason), std::string::npos) << output;
    }
    const auto missing = penalty({"--list", "--database", "sqlite:" + (rig.Dir() / "none.sqlite").string()});
    EXPECT_EQ(missing.first, 1) << missing.second;
    EXPECT_FALSE(fs::exists(rig.Dir() / "none.sqlite"));
    const auto [listed, list] = penalty({"--list"});
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3) << list;
    EXPECT_NE(list.find("revoked "), std::string::npos) << list;
    EXPECT_NE(list.find("by Chief: Scales were wrong"), std::string::npos) << list;
    EXPECT_NE(list.find("\t+3 s\tCut the chicane\tby "), std::string::npos) << list;
    const auto [oneListed, oneList] = penalty({"--list", "--race", one});
    EXPECT_EQ(std::count(oneList.begin(), oneList.end(), '\n'), 1) << oneList;
    EXPECT_EQ(Sqlite(rig.Store(), "SELECT COUNT(*) FROM penalties"), "3");

    rig.StartHub();
    auto table = [&] {
        QStringList rows;
        for (const QJsonValue& v : Get(rig.port, "/api/championships/winter").Json()["standings"].toArray()) {
            QStringList rounds, dropped;
            for (const QJsonValue& p : v["rounds"].toArray()) rounds << QString::number(p.toDouble());
            for (const QJsonValue& d : v["dropped"].toArray()) dropped << QString::number(d.toInt());
            rows << QString("%1 %2 %3 [%4] dropped %5").arg(v["pos"].toInt()).arg(v["driver"].toString())
                        .arg(v["points"].toDouble()).arg(rounds.join(" ")).arg(dropped.join(" "));
        }
        return rows.join(", ").toStdString();
    };
    EXPECT_EQ(table(), "1 " + bo + " 10 [10 4] dropped 1, 2 Alex Jansen 6 [4 6] dropped 0, 3 " + jorgUtf8 +
                           " -20 [6 10] dropped 0");
    const QJsonObject api = Get(rig.port, "/api/championships/winter").Json().object();
    EXPECT_EQ(api["title"].toString(), "Winter <Cup>");
    EXPECT_EQ(api["rounds"][0]["race"].toInteger(), r1);
    EXPECT_EQ(api["rounds"][1]["multiplier"].toDouble(), 1.0);
    EXPECT_EQ(api["penalties"].toArray().size(), 3);
    EXPECT_EQ(api["penalties"][0]["driver"].toString(), "Alex Jansen");
    EXPECT_EQ(api["penalties"][0]["name"].toString(), "RX|Alex");

    const Http page = Get(rig.port, "/championships/winter");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body.find("<b>Bo</b>"), std::string::npos);
    EXPECT_EQ(page.body.find("<Cup>"), std::string::npos);
    EXPECT_NE(page.body.find("&lt;b&gt;Bo&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(page.body.find("/drivers/J%C3%B6rg"), std::string::npos);
    EXPECT_NE(page.body.find("/drivers/%3Cb%3EBo%3C%2Fb%3E"), std::string::npos);
    EXPECT_NE(page.body.find("class=\"n dropped\""), std::string::npos);
    EXPECT_NE(page.body.find("Cut the chicane"), std::string::npos);
    EXPECT_NE(page.body.find("class=\"revoked\""), std::string::npos);
    EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    EXPECT_NE(Get(rig.port, "/championships").body.find("href=\"/championships/winter\""), std::string::npos);
    EXPECT_EQ(Get(rig.port, "/api/championships/summer").status, 404);
    EXPECT_EQ(Get(rig.port, "/championships/winter/x").status, 404);

    auto classification = [&] {
        QStringList rows;
        for (const QJsonValue& v : Get(rig.port, "/api/races/" + one).Json()["classification"].toArray())
            rows << QString("%1 %2").arg(v["pos"].toInt()).arg(v["name"].toString());
        return rows.join(", ").toStdString();
    };
    EXPECT_EQ(classification(), "1 " + bo + ", 2 " + jorgUtf8 + ", 3 RX|Alex");
    const QJsonObject race = Get(rig.port, "/api/races/" + one).Json().object();
    EXPECT_EQ(race["results"][0]["name"].toString(), "RX|Alex");  // the finishing order, as stored
    EXPECT_EQ(race["penalties"][0]["reason"].toString(), "Cut the chicane");
    EXPECT_NE(Get(rig.port, "/races/" + one).body.find("Classification after penalties"), std::string::npos);

    // Revoked while the hub runs: the kept race page and the table follow.
    EXPECT_EQ(penalty({"--revoke", "1", "--reason", "Video showed no gain"}).first, 0);
    EXPECT_EQ(classification(), "1 RX|Alex, 2 " + bo + ", 3 " + jorgUtf8);
    EXPECT_EQ(table(), "1 Alex Jansen 10 [10 6] dropped 1, 2 " + bo + " 6 [6 4] dropped 1, 3 " + jorgUtf8 +
                           " -20 [4 10] dropped 0");
    EXPECT_EQ(rig.hub->Stop(), 0);
}

// Pages are made on reading threads: many browsers at once each get their
// own answers, two requests sent together on one connection are answered
// in order or the second is left for a new connection (never the second
// first), and what another connection writes shows on the next page even
// where the hub had kept the page.
TEST(Hub, AnswersBrowsersSideBySideInOrderAndFresh) {
    HubRig rig("readers");
    fs::create_directories(rig.Data());
    const QString url = QString::fromStdString("sqlite:" + rig.Store().string());
    const QString data = QString::fromStdString(rig.Data().string());
    std::vector<std::int64_t> ids;
    auto race = [&](gs::hub::Store& store, int n) {
        const std::int64_t t0 = *gs::hub::ParseIsoTime("2026-12-01T20:00:00.000Z") + n * 3600000LL;
        const auto id = store.OpenSession({"club", "race", "AS1", 3, 0, t0, ""});
        const std::string name = "Driver " + std::to_string(n);
        store.AddLap(id, name, "FZ50", 1, 60000 + n, t0 + 60000);
        store.CloseSession(id, t0 + 200000, true, "", {{1, name, "FZ50", 3, 60000 + n, 180000 + n, true}});
        return id;
    };
    {
        auto store = gs::hub::Store::Open(url, data);
        for (int n = 0; n < 30; ++n) ids.push_back(race(*store, n));
    }
    rig.WriteConfig({{"club", gs::test::FreeUdpPort()}});
    rig.StartHub();

    // 12 browsers at once, 25 pages each: every answer is the one asked for.
    std::atomic<int> wrong{0};
    std::vector<std::thread> browsers;
    for (int b = 0; b < 12; ++b)
        browsers.emplace_back([&, b] {
            for (int i = 0; i < 25; ++i) {
                const std::size_t k = static_cast<std::size_t>(b * 7 + i * 3) % ids.size();
                if (i % 3 == 2) {
                    const Http list = Get(rig.port, "/api/races?page=" + std::to_string(1 + i % 2));
                    if (list.status != 200 || list.Json()["page"].toInt() != 1 + i % 2) ++wrong;
                } else if (i % 3 == 1) {
                    const Http page = Get(rig.port, "/races/" + std::to_string(ids[k]));
                    if (page.status != 200 || page.body.find("Driver " + std::to_string(k) + "<") == std::string::npos)
                        ++wrong;
                } else {
                    const Http one = Get(rig.port, "/api/races/" + std::to_string(ids[k]));
                    if (one.status != 200 || one.Json()["id"].toInteger() != ids[k]) ++wrong;
                }
            }
        });
    for (std::thread& t : browsers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(Get(rig.port, "/api/races/999999").status, 404);
    EXPECT_EQ(Get(rig.port, "/drivers/Nobody").status, 404);

    // Two requests in one write, the first a page read from the store.
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(rig.port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        const timeval wait{3, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const std::string two = "GET /api/races/" + std::to_string(ids[4]) + " HTTP/1.1\r\nHost: x\r\n\r\n" +
                                "GET /api/races?page=1 HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(::send(fd, two.data(), two.size(), MSG_NOSIGNAL), static_cast<ssize_t>(two.size()));
        std::string text;
        char buffer[65536];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
        ::close(fd);
        std::vector<std::string> bodies;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t head = text.find("\r\n\r\n", at);
            ASSERT_NE(head, std::string::npos) << text;
            ASSERT_EQ(text.compare(at, 12, "HTTP/1.1 200"), 0) << text.substr(at);
            const std::size_t length = std::strtoul(text.c_str() + text.find("Content-Length: ", at) + 16, nullptr, 10);
            bodies.push_back(text.substr(head + 4, length));
            at = head + 4 + length;
        }
        ASSERT_GE(bodies.size(), 1u);
        ASSERT_LE(bodies.size(), 2u);
        EXPECT_EQ(bodies[0].rfind("{\"classification\":[{\"finish_pos\":1,", 0), 0u) << bodies[0];
        EXPECT_NE(bodies[0].find("\"id\":" + std::to_string(ids[4]) + ","), std::string::npos) << bodies[0];
        if (bodies.size() == 2) {
            EXPECT_EQ(bodies[1].rfind("{\"page\":1,\"pages\":2,", 0), 0u) << bodies[1];
        }
    }

    // Kept pages follow another connection's write at once.
    const std::string before = Get(rig.port, "/api/races?page=1").body;
    const std::string track = Get(rig.port, "/api/tracks/AS1").body;
    EXPECT_NE(track.find("Driver 0"), std::string::npos);
    std::int64_t fresh = 0;
    {
        auto store = gs::hub::Store::Open(url, data);
        fresh = race(*store, 40);
    }
    const QJsonDocument after = Get(rig.port, "/api/races?page=1").Json();
    EXPECT_NE(after.toJson(QJsonDocument::Compact).toStdString(), before);
    EXPECT_EQ(after["races"][0]["id"].toInteger(), fresh);
    EXPECT_EQ(after["races"][0]["winner"].toString(), "Driver 40");
    EXPECT_EQ(after["pages"].toInt(), 2);
    EXPECT_NE(Get(rig.port, "/api/tracks/AS1").body.find("Driver 40"), std::string::npos);
    EXPECT_EQ(rig.hub->Stop(), 0);
}

// Two servers at once (the race server and the replay of a race written by
// hand) and one where nothing answers; the sessions in the store read back
// with plain SQL, the names as text, and the hub's own recording of a race
// analysed as the race report would: the same results as stored.
TEST(Hub, KeepsTwoServersAtOnceAndShowsTheSilentOneOffline) {
    HubRig rig("two-servers");
    WriteHandmadeRace(rig.Dir() / "handmade.gsrec");
    const int club = rig.StartRaceServer();
    const int replay = rig.StartReplay(rig.Dir() / "handmade.gsrec");
    const int nobody = gs::test::FreeUdpPort();
    rig.WriteConfig({{"club", club}, {"cup", replay}, {"nobody", nobody}});
    const auto start = std::chrono::steady_clock::now();
    rig.StartHub();

    auto status = [&](const std::string& key) {
        for (const QJsonValue& v : Get(rig.port, "/api/servers").Json().array())
            if (v["key"].toString().toStdString() == key) return v["status"].toString().toStdString();
        return std::string("missing");
    };
    ASSERT_TRUE(WaitUntil(15, [&] { return status("nobody") == "offline" && status("club") == "live"; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));

    // The race written by hand, exactly as written.
    QJsonObject cup;
    ASSERT_TRUE(WaitUntil(20, [&] { return !(cup = rig.Race("cup", Finished)).isEmpty(); })) << rig.hub->Output();
    EXPECT_EQ(cup["kind"].toString(), "race");
    EXPECT_EQ(cup["track"].toString(), "BL1");
    EXPECT_EQ(cup["laps"].toInt(), 2);
    EXPECT_EQ(cup["winner"].toString(), QString::fromUtf8("J\u00f6rg"));
    EXPECT_TRUE(cup["started"].toString().endsWith("Z"));
    const QJsonObject race = Get(rig.port, "/api/races/" + std::to_string(cup["id"].toInteger())).Json().object();
    const QJsonArray results = race["results"].toArray();
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[0]["name"].toString(), QString::fromUtf8("J\u00f6rg"));
    EXPECT_EQ(results[0]["car"].toString(), "XRT");
    EXPECT_EQ(results[0]["best_ms"].toInteger(), 60000);
    EXPECT_EQ(results[0]["total_ms"].toInteger(), 121230);
    EXPECT_EQ(results[0]["laps"].toInt(), 2);
    EXPECT_EQ(results[1]["name"].toString().toStdString(), Injection);
    EXPECT_EQ(results[1]["best_ms"].toInteger(), 59800);
    EXPECT_EQ(results[1]["total_ms"].toInteger(), 122300);
    QStringList laps;
    for (const QJsonValue& v : race["laps"].toArray())
        laps << v["name"].toString().left(5).trimmed() + " " + QString::number(v["lap"].toInt()) + " " +
                    QString::number(v["ms"].toInteger());
    laps.sort();
    EXPECT_EQ(laps.join(", ").toStdString(), "'); D 1 62500, '); D 2 59800, J\u00f6rg 1 61230, J\u00f6rg 2 60000");

    // The same with plain SQL, and the SQL name is only a name.
    EXPECT_EQ(Sqlite(rig.Store(), "SELECT count(*) FROM sessions WHERE state = 'finished' AND track = 'BL1'"), "1");
    EXPECT_NE(Sqlite(rig.Store(), "SELECT name FROM drivers").find(Injection), std::string::npos);
    const Http page = Get(rig.port, "/races/" + std::to_string(cup["id"].toInteger()));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("&#39;); DROP TABLE sessions;"), std::string::npos);
    EXPECT_NE(page.body.find("<svg"), std::string::npos);  // lap chart and race trace

    // A race of the race server seen from its start (one the hub joined
    // under way does not know its length) and not the first (whose drivers
    // the hub may still be asking the server for as it starts), and the
    // hub's recording of it: analysed on its own it gives the results the
    // hub stored.
    QJsonObject first;
    auto fromStart = [](const QJsonObject& r) { return Finished(r) && r["laps"].toInt() == 2; };
    ASSERT_TRUE(WaitUntil(90, [&] {
        int seen = 0;
        for (const QJsonValue& v : rig.Races("?server=club"))
            if (fromStart(v.toObject()) && ++seen == 1) first = v.toObject();
        return seen >= 2;
    })) << rig.hub->Output();
    const std::string id = std::to_string(first["id"].toInteger());
    const Http download = Get(rig.port, "/races/" + id + "/recording");
    ASSERT_EQ(download.status, 200);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(download.body.data());
    const gs::record::RecordingReport report =
        gs::record::AnalyseRecording(gs::peers::ParseRecording(bytes, download.body.size()),
                                     fs::path(GS_RUN_DIR) / "files");
    ASSERT_EQ(report.sessions.size(), 1u);
    const QJsonArray stored = Get(rig.port, "/api/races/" + id).Json()["results"].toArray();
    ASSERT_EQ(stored.size(), static_cast<qsizetype>(report.sessions[0].drivers.size()));
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const gs::record::DriverReport& d = report.sessions[0].drivers[static_cast<std::size_t>(i)];
        EXPECT_EQ(stored[i]["name"].toString().toStdString(), gs::Windows1252ToUtf8(d.name));
        EXPECT_EQ(stored[i]["pos"].toInt(), d.position);
        EXPECT_EQ(stored[i]["best_ms"].toInteger(), d.bestHundredths * 10);
        EXPECT_EQ(stored[i]["laps"].toInt(), static_cast<int>(d.laps.size()));
    }
    EXPECT_TRUE(report.sessions[0].ended);

    // The dashboard and the live site of each server answer.
    const Http dashboard = Get(rig.port, "/");
    EXPECT_NE(dashboard.body.find("Replay Cup"), std::string::npos);
    EXPECT_EQ(Get(rig.port, "/live/club/api/state").Json()["session"]["track"].toString(), "AS1");
    EXPECT_EQ(Get(rig.port, "/live/club").status, 301);
    EXPECT_EQ(Get(rig.port, "/races/999999").status, 404);
    EXPECT_EQ(Get(rig.port, "/races/x1").status, 404);
    EXPECT_EQ(Get(rig.port, "/live/nope/").status, 404);
    // The admin password reaches neither a page, nor the log, nor the store.
    for (const std::string& text : {dashboard.body, rig.hub->Output(), Sqlite(rig.Store(), ".dump")})
        EXPECT_EQ(text.find("admin = pw"), std::string::npos);

    EXPECT_EQ(rig.hub->Stop(), 0);
}

// kill -9 during a race: the store is whole and every earlier race listed; a
// hub started again closes the killed run's session as interrupted and goes
// on. Then the disk fills: a clear line, the live page goes on, nothing
// earlier is lost. SIGTERM closes the open session as interrupted.
TEST(Hub, SurvivesKillAndFullDiskWithoutLosingARace) {
    HubRig rig("kill");
    const int club = rig.StartRaceServer();
    rig.WriteConfig({{"club", club}});
    rig.StartHub();
    QJsonObject first;
    ASSERT_TRUE(WaitUntil(60, [&] { return !(first = rig.Race("club", Finished)).isEmpty(); })) << rig.hub->Output();
    // Into the next race, one lap stored at least.
    ASSERT_TRUE(WaitUntil(60, [&] {
        return Sqlite(rig.Store(), "SELECT count(*) FROM sessions s WHERE state = 'open' AND EXISTS "
                                   "(SELECT 1 FROM laps l WHERE l.session_id = s.id)") == "1";
    })) << Sqlite(rig.Store(), "SELECT * FROM sessions");
    ::kill(rig.hub->Pid(), SIGKILL);
    rig.hub->Wait(5000);
    EXPECT_EQ(Sqlite(rig.Store(), "PRAGMA integrity_check"), "ok");
    const std::string open = Sqlite(rig.Store(), "SELECT id FROM sessions WHERE state = 'open'");
    ASSERT_FALSE(open.empty());

    rig.StartHub();
    EXPECT_EQ(Sqlite(rig.Store(), "SELECT state FROM sessions WHERE id = " + open), "interrupted");
    EXPECT_NE(Sqlite(rig.Store(), "SELECT why FROM sessions WHERE id = " + open).find("hub stopped"), std::string::npos);
    const QJsonObject cut = Get(rig.port, "/api/races/" + open).Json().object();
    EXPECT_EQ(cut["why"].toString(), "the hub stopped during the session");
    EXPECT_TRUE(cut["winner"].isNull());  // a race cut short has a leader, not a winner
    EXPECT_TRUE(Finished(Get(rig.port, "/api/races/" + std::to_string(first["id"].toInteger())).Json().object()));

    // The disk fills: no file of the hub may grow past what it has now.
    ASSERT_TRUE(WaitUntil(30, [&] { return Get(rig.port, "/live/club/api/state").Json()["cars"].toArray().size() > 0; }));
    rlimit room{};
    ASSERT_EQ(::prlimit(rig.hub->Pid(), RLIMIT_FSIZE, nullptr, &room), 0);
    const rlimit full{4096, room.rlim_max};
    ASSERT_EQ(::prlimit(rig.hub->Pid(), RLIMIT_FSIZE, &full, nullptr), 0);
    ASSERT_TRUE(rig.hub->WaitFor("the store refused", 60000) || rig.hub->WaitFor("cannot write the recording", 1000))
        << rig.hub->Output();
    const Http live = Get(rig.port, "/live/club/api/state");
    EXPECT_EQ(live.status, 200);
    EXPECT_GT(live.Json()["cars"].toArray().size(), 0);
    EXPECT_EQ(Get(rig.port, "/api/races/" + std::to_string(first["id"].toInteger())).status, 200);
    ASSERT_EQ(::prlimit(rig.hub->Pid(), RLIMIT_FSIZE, &room, nullptr), 0);

    EXPECT_EQ(rig.hub->Stop(), 0);
    EXPECT_EQ(Sqlite(rig.Store(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Sqlite(rig.Store(), "SELECT count(*) FROM sessions WHERE state = 'open'"), "0");
    EXPECT_EQ(Sqlite(rig.Store(), "SELECT state FROM sessions WHERE id = " + std::to_string(first["id"].toInteger())),
              "finished");
}

// The same archive in PostgreSQL: the race written by hand, read back
// through the API.
TEST(Hub, KeepsItsArchiveInPostgreSQL) {
    HubRig rig("postgresql");
    gs::test::PostgresCluster cluster({"fsync=off"});
    cluster.Psql("postgres", "CREATE DATABASE hub");
    WriteHandmadeRace(rig.Dir() / "handmade.gsrec");
    rig.WriteConfig({{"cup", rig.StartReplay(rig.Dir() / "handmade.gsrec")}});
    rig.StartHub({"--database", cluster.Url("hub")});
    QJsonObject cup;
    ASSERT_TRUE(WaitUntil(20, [&] { return !(cup = rig.Race("cup", Finished)).isEmpty(); })) << rig.hub->Output();
    const QJsonObject race = Get(rig.port, "/api/races/" + std::to_string(cup["id"].toInteger())).Json().object();
    ASSERT_EQ(race["results"].toArray().size(), 2);
    EXPECT_EQ(race["results"][1]["name"].toString().toStdString(), Injection);
    EXPECT_EQ(race["laps"].toArray().size(), 4);
    const QJsonObject driver = Get(rig.port, "/api/drivers/J%C3%B6rg").Json().object();
    EXPECT_EQ(driver["wins"].toInt(), 1);
    EXPECT_EQ(Get(rig.port, "/api/tracks/BL1").Json()["laps"][0]["ms"].toInteger(), 59800);
    EXPECT_FALSE(fs::exists(rig.Store()));
    EXPECT_EQ(rig.hub->Stop(), 0);
}

}  // namespace
