// The hub's store under load, on SQLite (a file in a scratch folder) and on
// PostgreSQL (a throwaway cluster with default durability, fsync on):
//
//   1. a finished race of 32 drivers and 50 laps: each lap committed as it
//      happens (each call's latency), then CloseSession; and the same race
//      written in one go (every call back to back, timed as a whole);
//   2. a generated store of 10 000 sessions (16 drivers, 10 laps each, on 20
//      tracks): Races page 1, by track, by driver; Race(id); Track(code);
//      Track(code, car); the 50th and 99th percentiles and the worst.
//
//   bench_hub_store [sqlite|postgresql] [--sessions N] [--samples N] [--keep DIR]
//
// --keep writes the SQLite store into DIR/hub.sqlite and leaves it there.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "Store.h"
#include "support/PostgresCluster.h"

using namespace gs::hub;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
    double p50, p99, worst;
};

Figures Percentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))]; };
    return {at(0.50), at(0.99), samples.back()};
}

void Print(const char* what, const Figures& f, double target) {
    std::printf("  %-34s p50 %7.2f ms  p99 %7.2f ms  worst %7.2f ms  %s\n", what, f.p50, f.p99, f.worst,
                f.p99 < target ? "(under target)" : "(OVER TARGET)");
}

const char* const Cars[] = {"FZ50", "XRT", "RB4", "FXO"};
constexpr std::int64_t Base = 1796500800000;  // 2026-12-01T00:00:00Z

std::string DriverName(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "Driver %03d", n);
    return text;
}

// One race as the session keeper writes it.
struct RaceTimes {
    std::vector<double> laps;   // each AddLap
    double close = 0, whole = 0;
};

RaceTimes WriteRace(Store& store, int number) {
    RaceTimes times;
    const auto start = Clock::now();
    const std::int64_t t0 = Base + 365LL * 86400000 + number * 3600000LL;
    const auto id = store.OpenSession({"bench", "race", "AS1", 50, 0, t0, "bench/race.gsrec"});
    for (int car = 0; car < 32; ++car) store.AddDriver(id, DriverName(car), Cars[car % 4]);
    for (int lap = 1; lap <= 50; ++lap) {
        for (int car = 0; car < 32; ++car) {
            const auto before = Clock::now();
            store.AddLap(id, DriverName(car), Cars[car % 4], lap, 60000 + car * 37 + lap % 7,
                         t0 + lap * 61000 + car * 150);
            times.laps.push_back(Ms(Clock::now() - before));
        }
    }
    std::vector<ResultRow> results;
    for (int car = 0; car < 32; ++car)
        results.push_back({car + 1, DriverName(car), Cars[car % 4], 50, 60000 + car * 37, 3050000 + car * 1850, true});
    const auto before = Clock::now();
    store.CloseSession(id, t0 + 51 * 61000, true, "", results);
    times.close = Ms(Clock::now() - before);
    times.whole = Ms(Clock::now() - start);
    return times;
}

// Rows straight into the tables, many to a statement, in large
// transactions: a league's history without playing it through the API.
void Generate(QSqlDatabase& db, int sessions) {
    std::mt19937 random(25);
    auto exec = [&](QSqlQuery& q) {
        if (!q.exec()) {
            std::fprintf(stderr, "generating: %s\n", qPrintable(q.lastError().text()));
            std::exit(1);
        }
    };
    // Multi-row INSERTs: `rows` tuples of `width` bound values.
    struct Batch {
        QSqlDatabase& db;
        QString head;
        int width;
        QVariantList values;
        void Add(std::initializer_list<QVariant> row) {
            values.append(QVariantList(row));
            if (values.size() >= 16 * width) Flush();  // SQLite looks parameters up by name: few a statement
        }
        void Flush() {
            if (values.isEmpty()) return;
            QStringList tuples;
            const QString tuple = "(" + QString("?, ").repeated(width - 1) + "?)";
            for (int i = 0; i < values.size() / width; ++i) tuples << tuple;
            QSqlQuery q(db);
            q.prepare(head + tuples.join(", "));
            for (int i = 0; i < values.size(); ++i) q.bindValue(i, values[i]);
            if (!q.exec()) {
                std::fprintf(stderr, "generating: %s\n", qPrintable(q.lastError().text()));
                std::exit(1);
            }
            values.clear();
        }
    };
    QSqlQuery q(db);
    q.exec("BEGIN");
    q.exec("INSERT INTO servers (key, name, address) VALUES ('s0', 'One', 'a:1'), ('s1', 'Two', 'a:2'),"
           " ('s2', 'Three', 'a:3'), ('s3', 'Four', 'a:4')");
    Batch drivers{db, "INSERT INTO drivers (raw, name) VALUES ", 2, {}};
    for (int d = 0; d < 200; ++d) {
        const std::string name = "Pilot " + std::to_string(d);
        drivers.Add({QByteArray::fromStdString(name), QString::fromStdString(name)});
    }
    drivers.Flush();
    q.exec("COMMIT");
    std::vector<qlonglong> pilots;
    q.exec("SELECT id FROM drivers WHERE name LIKE 'Pilot %' ORDER BY id");
    while (q.next()) pilots.push_back(q.value(0).toLongLong());
    q.finish();
    QSqlQuery session(db);
    session.prepare("INSERT INTO sessions (server, kind, track, laps, minutes, started, ended, state, why, recording,"
                    " listed) VALUES (?, ?, ?, ?, ?, ?, ?, 'finished', '', ?, 1) RETURNING id");
    Batch entries{db, "INSERT INTO entries (session_id, driver_id, car) VALUES ", 3, {}};
    Batch laps{db, "INSERT INTO laps (session_id, driver_id, lap, car, ms, done_at) VALUES ", 6, {}};
    Batch results{db, "INSERT INTO results (session_id, driver_id, seq, pos, car, laps, best_ms, total_ms, finished) VALUES ", 9, {}};
    Batch bests{db, "INSERT INTO best_laps (session_id, driver_id, car, track, ms) VALUES ", 5, {}};
    for (int s = 0; s < sessions; ++s) {
        if (s % 500 == 0) q.exec("BEGIN");
        const QString track = QString("T%1").arg(s % 20, 2, 10, QChar('0'));
        const std::int64_t t0 = Base + s * 1800000LL;
        const bool race = s % 5 != 0;
        session.bindValue(0, QString("s%1").arg(s % 4));
        session.bindValue(1, race ? "race" : "qualify");
        session.bindValue(2, track);
        session.bindValue(3, race ? 10 : 0);
        session.bindValue(4, race ? 0 : 15);
        session.bindValue(5, IsoTime(t0));
        session.bindValue(6, IsoTime(t0 + 1500000));
        session.bindValue(7, QString("s%1/%2.gsrec").arg(s % 4).arg(s));
        exec(session);
        session.next();
        const qlonglong id = session.value(0).toLongLong();
        session.finish();
        std::vector<int> field(pilots.size());
        for (std::size_t d = 0; d < field.size(); ++d) field[d] = static_cast<int>(d);
        std::shuffle(field.begin(), field.end(), random);
        std::vector<std::tuple<int, int, int>> totals;  // total, pilot, best
        for (int k = 0; k < 16; ++k) {
            const int pilot = field[k];
            const qlonglong driver = pilots[pilot];
            const QString car = Cars[(pilot + s / 100) % 4];
            entries.Add({id, driver, car});
            int total = 0, best = 1 << 30;
            for (int lap = 1; lap <= 10; ++lap) {
                const int ms = 60000 + (s % 20) * 1000 + pilot * 10 + static_cast<int>(random() % 3000);
                total += ms;
                best = std::min(best, ms);
                laps.Add({id, driver, lap, car, ms, IsoTime(t0 + total)});
            }
            bests.Add({id, driver, car, track, best});
            totals.emplace_back(total, pilot, best);
        }
        std::sort(totals.begin(), totals.end());
        for (int k = 0; k < 16; ++k) {
            const auto [total, pilot, best] = totals[k];
            results.Add({id, pilots[pilot], k, k + 1, Cars[(pilot + s / 100) % 4], 10, best, total, 1});
        }
        if (s % 500 == 499 || s == sessions - 1) {
            for (Batch* b : {&entries, &laps, &results, &bests}) b->Flush();
            q.exec("COMMIT");
        }
    }
    // Statistics for the planner, and on PostgreSQL the generated rows
    // vacuumed and flushed now, so that neither autovacuum nor a checkpoint
    // runs during the timings.
    if (db.driverName() == "QPSQL") {
        q.exec("VACUUM ANALYZE");
        q.exec("CHECKPOINT");
    } else {
        q.exec("ANALYZE");
    }
}

void Run(const QString& url, const QString& dataDir, const char* label, const QSqlDatabase& plainTemplate,
         int sessions, int samples) {
    std::printf("%s\n", label);
    {
        auto store = Store::Open(url, dataDir);
        std::vector<double> laps, closes, wholes;
        for (int race = 0; race < 5; ++race) {
            const RaceTimes t = WriteRace(*store, race);
            laps.insert(laps.end(), t.laps.begin(), t.laps.end());
            closes.push_back(t.close);
            wholes.push_back(t.whole);
        }
        std::printf(" a race of 32 drivers and 50 laps (5 races):\n");
        Print("AddLap, each committed", Percentiles(laps), 50);
        Print("CloseSession (32 results)", Percentiles(closes), 50);
        Print("the whole race in one go", Percentiles(wholes), 50);
        double sum = 0, slow = 0;
        int slowCalls = 0;
        for (const double t : laps) {
            sum += t;
            if (t > 1.0) slow += t, ++slowCalls;
        }
        std::printf("  AddLap: %.0f calls, mean %.3f ms; %d calls over 1 ms took %.1f ms of %.1f ms\n",
                    double(laps.size()), sum / laps.size(), slowCalls, slow, sum);
    }

    QSqlDatabase plain = QSqlDatabase::cloneDatabase(plainTemplate, "generator");
    if (!plain.open()) {
        std::fprintf(stderr, "generator: %s\n", qPrintable(plain.lastError().text()));
        std::exit(1);
    }
    const auto generating = Clock::now();
    Generate(plain, sessions);
    std::printf(" %d sessions generated in %.1f s\n", sessions, Ms(Clock::now() - generating) / 1000);
    plain.close();
    plain = QSqlDatabase();
    QSqlDatabase::removeDatabase("generator");

    auto store = Store::Open(url, dataDir);
    std::mt19937 random(7);
    auto time = [&](const char* what, const std::function<void()>& call) {
        std::vector<double> t;
        for (int i = 0; i < samples; ++i) {
            const auto before = Clock::now();
            call();
            t.push_back(Ms(Clock::now() - before));
        }
        Print(what, Percentiles(t), 50);
    };
    auto track = [&] { return QString("T%1").arg(random() % 20, 2, 10, QChar('0')); };
    std::size_t sink = 0;
    time("Races page 1", [&] { sink += store->Races({}, 1, 25)["races"].toArray().size(); });
    time("Races page 100", [&] { sink += store->Races({}, 100, 25)["races"].toArray().size(); });
    time("Races by track", [&] { sink += store->Races({"", track(), ""}, 1, 25)["races"].toArray().size(); });
    time("Races by driver", [&] {
        sink += store->Races({"", "", QString("Pilot %1").arg(random() % 200)}, 1, 25)["races"].toArray().size();
    });
    time("Race(id), 16 drivers, 160 laps", [&] { sink += store->Race(1 + random() % sessions)->size(); });
    time("Track(code)", [&] { sink += store->Track(track(), "")["laps"].toArray().size(); });
    time("Track(code, car)", [&] { sink += store->Track(track(), Cars[random() % 4])["laps"].toArray().size(); });
    time("Driver(name)", [&] { sink += store->Driver(QString("Pilot %1").arg(random() % 200))->size(); });
    time("Tracks()", [&] { sink += store->Tracks().size(); });
    if (sink == 0) std::printf("nothing read\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString only, keep;
    int sessions = 10000, samples = 200;
    for (int i = 1; i < argc; ++i) {
        const QString arg = argv[i];
        if (arg == "--sessions" && i + 1 < argc) sessions = std::max(1, atoi(argv[++i]));
        else if (arg == "--samples" && i + 1 < argc) samples = std::max(1, atoi(argv[++i]));
        else if (arg == "--keep" && i + 1 < argc) keep = argv[++i];
        else only = arg;
    }
    std::string pattern = (fs::temp_directory_path() / "gridscope-hub-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const QString scratch = QString::fromStdString(pattern);
    const QString sqliteDir = keep.isEmpty() ? scratch : keep;

    if (only.isEmpty() || only == "sqlite") {
        QSqlDatabase plain = QSqlDatabase::addDatabase("QSQLITE", "template-sqlite");
        fs::create_directories(sqliteDir.toStdString());
        plain.setDatabaseName(sqliteDir + "/hub.sqlite");
        Run("sqlite", sqliteDir, "SQLite (WAL, synchronous=NORMAL)", plain, sessions, samples);
        plain = QSqlDatabase();
        QSqlDatabase::removeDatabase("template-sqlite");
    }
    if (only.isEmpty() || only == "postgresql") {
        try {
            gs::test::PostgresCluster cluster;
            cluster.Psql("postgres", "CREATE DATABASE hub");
            QSqlDatabase plain = QSqlDatabase::addDatabase("QPSQL", "template-psql");
            plain.setHostName("127.0.0.1");
            plain.setPort(cluster.Port());
            plain.setUserName(QString::fromStdString(gs::test::PostgresCluster::User()));
            plain.setPassword(QString::fromStdString(gs::test::PostgresCluster::Password()));
            plain.setDatabaseName("hub");
            Run(QString::fromStdString(cluster.Url("hub")), scratch, "PostgreSQL (default settings, fsync on)", plain,
                sessions, samples);
            plain = QSqlDatabase();
            QSqlDatabase::removeDatabase("template-psql");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "PostgreSQL: %s\n", e.what());
            fs::remove_all(pattern);
            return 1;
        }
    }
    fs::remove_all(pattern);
    return 0;
}
