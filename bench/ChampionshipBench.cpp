// A championship's standings as the hub answers /api/championships/KEY:
// the season's sessions and penalty events read from the store, the table
// worked out, the JSON written (and the page, for comparison). The season:
// 40 rounds of 32 drivers (15 laps each), each after a qualifying on the
// same server and track, 200 penalties of every kind (some revoked), and as
// many sessions of another server that the championship leaves out.
//
//   bench_hub_championship [sqlite|postgresql] [--samples N]
//
// Target: the median under 20 ms.
#include <QCoreApplication>
#include <QJsonDocument>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "HubPages.h"
#include "Store.h"
#include "support/PostgresCluster.h"

using namespace gs::hub;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Rounds = 40, Drivers = 32, Laps = 15, Penalties = 200;
constexpr std::int64_t Base = 1796500800000;  // 2026-12-01T00:00:00Z

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Name(int n) { return "Driver " + std::to_string(n); }

// One session through the store, as the session keeper writes it.
std::int64_t Session(Store& store, const QString& server, bool race, const std::string& track, std::int64_t t0,
                     std::mt19937& random) {
    const auto id = store.OpenSession({server, race ? "race" : "qualify", track, race ? Laps : 0, race ? 0 : 15, t0, ""});
    std::vector<std::tuple<int, int, int, int>> rows;  // total, driver, best, laps
    const int laps = race ? Laps : 5;
    for (int d = 0; d < Drivers; ++d) {
        int total = 0, best = 1 << 30;
        for (int lap = 1; lap <= laps; ++lap) {
            const int ms = 60000 + d * 20 + static_cast<int>(random() % 2500);
            total += ms;
            best = std::min(best, ms);
            store.AddLap(id, Name(d), "FZ50", lap, ms, t0 + total);
        }
        rows.emplace_back(total, d, best, laps);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<ResultRow> results;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const auto [total, d, best, done] = rows[k];
        results.push_back({static_cast<int>(k) + 1, Name(d), "FZ50", done, best, race ? total : 0, true});
    }
    store.CloseSession(id, t0 + 1200000, true, "", results);
    return id;
}

void Run(const char* label, const QString& url, const QString& dataDir, int samples) {
    std::printf("%s\n", label);
    auto store = Store::Open(url, dataDir);
    std::mt19937 random(26);
    std::vector<std::int64_t> races;
    const auto generating = Clock::now();
    for (int r = 0; r < Rounds; ++r) {
        const std::int64_t evening = Base + r * 2LL * 86400000 + 19LL * 3600000;
        const std::string track = "T" + std::to_string(r % 8);
        Session(*store, "club", false, track, evening, random);
        races.push_back(Session(*store, "club", true, track, evening + 3600000, random));
        Session(*store, "other", true, track, evening + 1800000, random);
    }
    for (int p = 0; p < Penalties; ++p) {
        PenaltyRequest request;
        request.race = races[static_cast<std::size_t>(p % Rounds)];
        request.name = QString::fromStdString(Name(static_cast<int>(random() % Drivers)));
        request.kind = p % 3 == 0 ? "time" : p % 3 == 1 ? "points" : "disqualify";
        request.amount = request.kind == "time" ? 5000 : request.kind == "points" ? 3 : 0;
        request.reason = "Contact in turn " + QString::number(p % 12 + 1);
        request.by = "Steward";
        request.atMs = Base + 100LL * 86400000 + p;
        const auto id = store->AddPenalty(request);
        if (p % 10 == 9) store->RevokePenalty(id, "Reviewed", "Chief steward", request.atMs + 1000);
    }
    std::printf(" season of %d rounds x %d drivers, %d penalties, written in %.1f s\n", Rounds, Drivers, Penalties,
                Ms(Clock::now() - generating) / 1000);

    ChampionshipRules rules;
    rules.key = "winter";
    rules.title = "Winter";
    rules.servers = {"club"};
    rules.from = QDate(2026, 12, 1);
    rules.to = QDate(2027, 3, 31);
    rules.points = {25, 18, 15, 12, 10, 8, 6, 4, 2, 1};
    rules.fastestLap = 1;
    rules.pole = 1;
    rules.minLapsPercent = 50;
    rules.dropWorst = 4;
    rules.multipliers = {{20, 2}, {40, 2}};
    DriverAliases aliases{{"Driver 31", "Driver 30"}};

    // Where the time goes: the two reads and the computation.
    {
        const auto [from, to] = SeasonSpan(rules);
        SessionSpan span{rules.servers, from, to, std::nullopt, QStringList{"race"}};  // as ChampionshipJson reads
        std::vector<double> sessions, penalties, compute;
        for (int i = 0; i < samples; ++i) {
            auto start = Clock::now();
            const auto s = store->Sessions(span);
            sessions.push_back(Ms(Clock::now() - start));
            start = Clock::now();
            const auto p = store->Penalties(span);
            penalties.push_back(Ms(Clock::now() - start));
            start = Clock::now();
            Standings(rules, aliases, s, p);
            compute.push_back(Ms(Clock::now() - start));
        }
        for (auto* v : {&sessions, &penalties, &compute}) std::sort(v->begin(), v->end());
        std::printf("  parts (median): sessions read %.2f ms, penalties read %.2f ms, computed in %.2f ms\n",
                    sessions[sessions.size() / 2], penalties[penalties.size() / 2], compute[compute.size() / 2]);
    }
    std::vector<double> json, page;
    std::size_t sink = 0;
    for (int i = 0; i < samples; ++i) {
        auto start = Clock::now();
        const QJsonObject table = ChampionshipJson(*store, rules, aliases);
        sink += QJsonDocument(table).toJson(QJsonDocument::Compact).size();
        json.push_back(Ms(Clock::now() - start));
        start = Clock::now();
        sink += ChampionshipPage(ChampionshipJson(*store, rules, aliases)).size();
        page.push_back(Ms(Clock::now() - start));
        if (i == 0) {
            const QJsonArray standings = table["standings"].toArray();
            std::printf(" %lld rounds, %lld drivers, %lld penalties in the answer; leader %s with %g points\n",
                        static_cast<long long>(table["rounds"].toArray().size()),
                        static_cast<long long>(standings.size()),
                        static_cast<long long>(table["penalties"].toArray().size()),
                        qPrintable(standings[0]["driver"].toString()), standings[0]["points"].toDouble());
        }
    }
    for (auto* v : {&json, &page}) std::sort(v->begin(), v->end());
    auto show = [&](const char* what, const std::vector<double>& v) {
        std::printf("  %-32s median %6.2f ms  p90 %6.2f ms  worst %6.2f ms  %s\n", what, v[v.size() / 2],
                    v[v.size() * 9 / 10], v.back(), v[v.size() / 2] < 20 ? "(under 20 ms)" : "(OVER 20 ms)");
    };
    show("/api/championships/KEY", json);
    show("/championships/KEY (page)", page);
    if (sink == 0) std::printf("nothing made\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string which = "sqlite";
    int samples = 100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--samples" && i + 1 < argc) samples = std::max(1, atoi(argv[++i]));
        else which = arg;
    }
    std::string pattern = (fs::temp_directory_path() / "gridscope-champ-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const QString dir = QString::fromStdString(pattern);
    try {
        if (which == "postgresql") {
            gs::test::PostgresCluster cluster;
            cluster.Psql("postgres", "CREATE DATABASE bench");
            Run("PostgreSQL (a throwaway cluster, fsync on)", QString::fromStdString(cluster.Url("bench")), dir, samples);
        } else {
            Run("SQLite (a file in a scratch folder)", "sqlite:" + dir + "/hub.sqlite", dir, samples);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.what());
        fs::remove_all(pattern);
        return 1;
    }
    fs::remove_all(pattern);
    return 0;
}
