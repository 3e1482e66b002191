#include "Store.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

#include "SqlConnection.h"
#include "StoreSchema.h"
#include "common/Text.h"

namespace gs::hub {

namespace {

// The most rows a listing page may ask for.
constexpr int MaxPerPage = 500;

QByteArray Raw(const std::string& bytes) { return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())); }

// Windows-1252 as text, every byte kept (the undefined ones as the control
// characters of the same number): distinct bytes, distinct text.
QString Text(const std::string& windows1252) {
    return QString::fromStdString(Windows1252ToUtf8Keeping(windows1252));
}

QVariant OrNull(std::int32_t ms) { return ms > 0 ? QVariant(ms) : QVariant(QMetaType::fromType<int>()); }

// The columns of a race in the listings, in the order RaceJson reads them.
const QString RaceColumns =
    "s.id, s.server, s.kind, s.track, s.laps, s.minutes, s.started, s.ended, s.state,"
    " (SELECT COUNT(*) FROM entries e WHERE e.session_id = s.id),"
    // A session cut short has a leader, not a winner.
    " (SELECT d.name FROM results r JOIN drivers d ON d.id = r.driver_id"
    "  WHERE r.session_id = s.id AND r.pos = 1 AND s.state = 'finished' ORDER BY r.seq LIMIT 1),"
    " s.why";

QJsonObject RaceJson(const QSqlQuery& q) {
    return QJsonObject{
        {"id", q.value(0).toLongLong()},     {"server", q.value(1).toString()},  {"kind", q.value(2).toString()},
        {"track", q.value(3).toString()},    {"laps", q.value(4).toInt()},        {"minutes", q.value(5).toInt()},
        {"started", q.value(6).toString()},  {"ended", JsonText(q.value(7))},     {"state", q.value(8).toString()},
        {"drivers", q.value(9).toInt()},     {"winner", JsonText(q.value(10))},
        // Why a session was cut short; null for one that finished.
        {"why", q.value(11).toString().isEmpty() ? QJsonValue() : QJsonValue(q.value(11).toString())},
    };
}

class SqlStore final : public Store {
public:
    SqlStore(const SqlTarget& target, bool reader) : sql_(target) {
        if (!reader) {
            Migrate(sql_);
            return;
        }
        // A reader comes after the hub's own connection has migrated the
        // schema; it writes nothing, and refuses a store it does not know.
        const int version = StoredVersion(sql_);
        if (version != SchemaVersion)
            sql_.Fail("opening", QString("a reader found schema version %1, not %2").arg(version).arg(SchemaVersion));
        if (sql_.dialect() == Dialect::Sqlite) sql_.Exec("PRAGMA query_only = ON", "opening for reading");
    }

    void SaveServer(const QString& key, const QString& name, const QString& address) override {
        Guarded([&] {
            sql_.Run("INSERT INTO servers (key, name, address) VALUES (?, ?, ?)"
                     " ON CONFLICT (key) DO UPDATE SET name = excluded.name, address = excluded.address",
                     {key, name, address}, "saving a server");
        });
    }

    std::int64_t OpenSession(const SessionStart& start) override {
        ++writes_;
        if (start.kind != "race" && start.kind != "qualify")
            sql_.Fail("opening a session", QString("unknown kind \"%1\"").arg(start.kind.left(20)));
        if (start.laps < 0 || start.minutes < 0) sql_.Fail("opening a session", "a negative length");
        std::int64_t id = 0;
        Guarded([&] {
            SqlTransaction transaction(sql_);
            // A server the hub did not describe yet still gets its row.
            sql_.Run("INSERT INTO servers (key, name, address) VALUES (?, ?, '') ON CONFLICT (key) DO NOTHING",
                     {start.server, start.server}, "opening a session");
            id = sql_.Value("INSERT INTO sessions (server, kind, track, laps, minutes, started, state, recording)"
                            " VALUES (?, ?, ?, ?, ?, ?, 'open', ?) RETURNING id",
                            {start.server, start.kind, Text(start.track), start.laps, start.minutes,
                             IsoTime(start.startedMs), start.recording},
                            "opening a session")
                     .toLongLong();
            transaction.Commit();
        });
        return id;
    }

    void AddDriver(std::int64_t session, const std::string& name, const std::string& car) override {
        ++writes_;
        Guarded([&] {
            SqlTransaction transaction(sql_);
            Enter(session, DriverId(name), car);
            transaction.Commit();
        });
    }

    void AddLap(std::int64_t session, const std::string& name, const std::string& car, int lap, std::int32_t ms,
                std::int64_t atMs) override {
        ++writes_;
        if (lap < 1 || ms < 0) sql_.Fail("adding a lap", QString("lap %1 of %2 ms is not a lap").arg(lap).arg(ms));
        Guarded([&] {
            SqlTransaction transaction(sql_);
            const qlonglong driver = DriverId(name);
            Enter(session, driver, car);
            // A lap reported twice (a reconnect) keeps its first report.
            const bool added = sql_.Run("INSERT INTO laps (session_id, driver_id, lap, car, ms, done_at)"
                                        " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (session_id, driver_id, lap) DO NOTHING",
                                        {qlonglong(session), driver, lap, Text(car), ms, IsoTime(atMs)}, "adding a lap")
                                   .numRowsAffected() > 0;
            if (added && ms > 0) {
                sql_.Run("INSERT INTO best_laps (session_id, driver_id, car, track, ms, done_at)"
                         " SELECT ?, ?, ?, track, ?, ? FROM sessions WHERE id = ?"
                         " ON CONFLICT (session_id, driver_id, car) DO UPDATE SET ms = excluded.ms,"
                         " done_at = excluded.done_at WHERE excluded.ms < best_laps.ms",
                         {qlonglong(session), driver, Text(car), ms, IsoTime(atMs), qlonglong(session)}, "adding a lap");
            }
            sql_.Run("UPDATE sessions SET listed = 1 WHERE id = ? AND listed = 0", {qlonglong(session)},
                     "adding a lap");
            transaction.Commit();
        });
    }

    void CloseSession(std::int64_t session, std::int64_t endedMs, bool finished, const QString& why,
                      const std::vector<ResultRow>& results) override {
        ++writes_;
        CheckResults(results);
        Guarded([&] {
            SqlTransaction transaction(sql_);
            const int found = sql_.Run("UPDATE sessions SET ended = ?, state = ?, why = ? WHERE id = ?",
                                       {IsoTime(endedMs), finished ? "finished" : "interrupted",
                                        finished ? QString() : why, qlonglong(session)},
                                       "closing a session")
                                  .numRowsAffected();
            if (found != 1) sql_.Fail("closing a session", QString("there is no session %1").arg(session));
            sql_.Run("DELETE FROM results WHERE session_id = ?", {qlonglong(session)}, "closing a session");
            int seq = 0;
            for (const ResultRow& row : results) {
                const qlonglong driver = DriverId(row.name);
                Enter(session, driver, row.car);
                sql_.Run("INSERT INTO results (session_id, driver_id, seq, pos, car, laps, best_ms, total_ms, finished)"
                         " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                         {qlonglong(session), driver, seq++, row.pos, Text(row.car), row.laps, OrNull(row.bestMs),
                          OrNull(row.totalMs), row.finished ? 1 : 0},
                         "writing the results");
            }
            sql_.Run("UPDATE sessions SET listed = CASE WHEN"
                     " EXISTS (SELECT 1 FROM laps WHERE session_id = sessions.id)"
                     " OR EXISTS (SELECT 1 FROM results WHERE session_id = sessions.id) THEN 1 ELSE 0 END"
                     " WHERE id = ?",
                     {qlonglong(session)}, "closing a session");
            transaction.Commit();
        });
    }

    int CloseLeftOpen(const QString& server, const QString& why) override {
        ++writes_;
        int closed = 0;
        Guarded([&] {
            // ISO texts of one width sort in time order: MAX is the last lap.
            closed = sql_.Run("UPDATE sessions SET state = 'interrupted', why = ?,"
                              " ended = COALESCE((SELECT MAX(done_at) FROM laps WHERE session_id = sessions.id), started)"
                              " WHERE state = 'open' AND server = ?",
                              {why, server}, "closing the sessions left open")
                         .numRowsAffected();
        });
        return closed;
    }

    QJsonObject Races(const RaceFilter& filter, int page, int perPage) override {
        perPage = std::clamp(perPage, 1, MaxPerPage);
        page = std::max(page, 1);
        QJsonArray races;
        int pages = 1;
        Guarded([&] {
            // The statement is one of eight fixed texts; every value is bound.
            QString where = "s.listed = 1";
            QVariantList values;
            if (!filter.server.isEmpty()) {
                where += " AND s.server = ?";
                values << filter.server;
            }
            if (!filter.track.isEmpty()) {
                where += " AND s.track = ?";
                values << filter.track;
            }
            if (!filter.driver.isEmpty()) {
                where += " AND s.id IN (SELECT e.session_id FROM entries e JOIN drivers d ON d.id = e.driver_id"
                         " WHERE d.name = ?)";
                values << filter.driver;
            }
            const qlonglong total = Count(where, values, filter.server + '\n' + filter.track + '\n' + filter.driver);
            pages = static_cast<int>(std::max<qlonglong>(1, (total + perPage - 1) / perPage));
            values << perPage << qlonglong(page - 1) * perPage;
            // The page's ids first: the columns (counts, the winner) are
            // then worked out for its rows only, not for those skipped.
            QSqlQuery& q = sql_.Run("SELECT " + RaceColumns + " FROM (SELECT s.id FROM sessions s WHERE " + where +
                                        " ORDER BY s.started DESC, s.id DESC LIMIT ? OFFSET ?) p"
                                        " JOIN sessions s ON s.id = p.id ORDER BY s.started DESC, s.id DESC",
                                    values, "listing races");
            while (q.next()) races.append(RaceJson(q));
            q.finish();
        });
        return {{"races", races}, {"page", page}, {"pages", pages}};
    }

    // The number of listed sessions a filter matches, for the page count:
    // counting every session costs more than the page itself, so the count
    // is kept until the store changes (ChangeMark).
    qlonglong Count(const QString& where, const QVariantList& values, const QString& key) {
        const std::int64_t mark = ChangeMark();
        const auto kept = counts_.find(key);
        if (kept != counts_.end() && kept->second.first == mark) return kept->second.second;
        QSqlQuery& count = sql_.Run("SELECT COUNT(*) FROM sessions s WHERE " + where, values, "counting races");
        const qlonglong total = count.next() ? count.value(0).toLongLong() : 0;
        count.finish();
        if (counts_.size() >= 256) counts_.clear();
        counts_[key] = {mark, total};
        return total;
    }

    std::int64_t ChangeMark() override {
        // SQLite's data_version moves when another connection commits (this
        // one's own writes are counted apart); PostgreSQL tells nothing of
        // other hubs' writes, so its mark moves every second.
        std::int64_t mark = static_cast<std::int64_t>(writes_);
        Guarded([&] {
            mark += sql_.dialect() == Dialect::Sqlite
                        ? sql_.Value("PRAGMA data_version", {}, "reading the store's version").toLongLong()
                        : QDateTime::currentMSecsSinceEpoch() / 1000;
        });
        return mark;
    }

    std::optional<QJsonObject> Race(std::int64_t id) override {
        std::optional<QJsonObject> race;
        Guarded([&] {
            QSqlQuery& q = sql_.Run("SELECT " + RaceColumns + " FROM sessions s WHERE s.id = ? AND s.listed = 1",
                                    {qlonglong(id)}, "reading a race");
            if (!q.next()) return;
            race = RaceJson(q);
            QJsonArray results;
            QSqlQuery& r = sql_.Run("SELECT r.pos, d.name, r.car, r.laps, r.best_ms, r.total_ms, r.finished"
                                    " FROM results r JOIN drivers d ON d.id = r.driver_id WHERE r.session_id = ?"
                                    " ORDER BY CASE WHEN r.pos = 0 THEN 1 ELSE 0 END, r.pos, r.seq",
                                    {qlonglong(id)}, "reading a race's results");
            while (r.next()) {
                results.append(QJsonObject{{"pos", r.value(0).toInt()},
                                           {"name", r.value(1).toString()},
                                           {"car", r.value(2).toString()},
                                           {"laps", r.value(3).toInt()},
                                           {"best_ms", JsonInt(r.value(4))},
                                           {"total_ms", JsonInt(r.value(5))},
                                           {"finished", r.value(6).toInt() != 0}});
            }
            QJsonArray laps;
            QSqlQuery& l = sql_.Run("SELECT d.name, l.lap, l.ms FROM laps l JOIN drivers d ON d.id = l.driver_id"
                                    " WHERE l.session_id = ? ORDER BY l.lap, l.done_at, l.driver_id",
                                    {qlonglong(id)}, "reading a race's laps");
            while (l.next())
                laps.append(QJsonObject{{"name", l.value(0).toString()}, {"lap", l.value(1).toInt()},
                                        {"ms", l.value(2).toInt()}});
            l.finish();
            race->insert("results", results);
            race->insert("race_laps", (*race)["laps"]);
            race->insert("laps", laps);
        });
        return race;
    }

    std::optional<QJsonObject> Driver(const QString& utf8Name) override {
        std::optional<QJsonObject> driver;
        Guarded([&] {
            const QVariant id = sql_.Value("SELECT id FROM drivers WHERE name = ?", {utf8Name}, "reading a driver");
            if (id.isNull()) return;
            QJsonArray races;
            QSqlQuery& q = sql_.Run(
                "SELECT s.id, s.server, s.track, s.kind, s.started, r.pos,"
                " COALESCE(r.best_ms, (SELECT MIN(b.ms) FROM best_laps b"
                "  WHERE b.session_id = s.id AND b.driver_id = e.driver_id))"
                " FROM entries e JOIN sessions s ON s.id = e.session_id"
                " LEFT JOIN results r ON r.session_id = e.session_id AND r.driver_id = e.driver_id"
                " WHERE e.driver_id = ? AND s.listed = 1 ORDER BY s.started DESC, s.id DESC",
                {id}, "reading a driver's races");
            while (q.next()) {
                races.append(QJsonObject{{"id", q.value(0).toLongLong()},
                                         {"server", q.value(1).toString()},
                                         {"track", q.value(2).toString()},
                                         {"kind", q.value(3).toString()},
                                         {"started", q.value(4).toString()},
                                         {"pos", JsonInt(q.value(5))},
                                         {"best_ms", JsonInt(q.value(6))}});
            }
            if (races.isEmpty()) return;
            // Wins and podiums count finished races only: a qualifying's
            // first place is a pole, an interrupted race's order is not a
            // result.
            QSqlQuery& w = sql_.Run("SELECT COALESCE(SUM(CASE WHEN r.pos = 1 THEN 1 ELSE 0 END), 0),"
                                    " COALESCE(SUM(CASE WHEN r.pos BETWEEN 1 AND 3 THEN 1 ELSE 0 END), 0)"
                                    " FROM results r JOIN sessions s ON s.id = r.session_id"
                                    " WHERE r.driver_id = ? AND s.kind = 'race' AND s.state = 'finished'",
                                    {id}, "counting a driver's wins");
            const bool counted = w.next();
            const int wins = counted ? w.value(0).toInt() : 0;
            const int podiums = counted ? w.value(1).toInt() : 0;
            QJsonArray best;
            QSqlQuery& b = sql_.Run(
                "SELECT track, car, ms, session_id FROM ("
                " SELECT b.track, b.car, b.ms, b.session_id, ROW_NUMBER() OVER ("
                "  PARTITION BY b.track, b.car ORDER BY b.ms, b.session_id) AS n"
                " FROM best_laps b WHERE b.driver_id = ?) x"
                " WHERE n = 1 ORDER BY track, car",
                {id}, "reading a driver's best laps");
            while (b.next())
                best.append(QJsonObject{{"track", b.value(0).toString()}, {"car", b.value(1).toString()},
                                        {"ms", b.value(2).toInt()}, {"race", b.value(3).toLongLong()}});
            b.finish();
            driver = QJsonObject{{"name", utf8Name}, {"races", races}, {"wins", wins},
                                 {"podiums", podiums}, {"best_laps", best}};
        });
        return driver;
    }

    QJsonObject Track(const QString& code, const QString& car) override {
        QJsonArray laps, cars;
        Guarded([&] {
            const QString filter = car.isEmpty() ? QString() : QStringLiteral(" AND b.car = ?");
            QVariantList values{code};
            if (!car.isEmpty()) values << car;
            // Each driver's best on the track (in the car); of equal times,
            // the one of the earlier session (ids are handed out as sessions
            // open). The leaderboard indexes hold every column read here.
            QSqlQuery& q = sql_.Run(
                "SELECT d.name, x.car, x.ms, x.session_id FROM ("
                " SELECT b.driver_id, b.car, b.ms, b.session_id, ROW_NUMBER() OVER ("
                "  PARTITION BY b.driver_id ORDER BY b.ms, b.session_id) AS n"
                " FROM best_laps b WHERE b.track = ?" +
                    filter +
                    ") x JOIN drivers d ON d.id = x.driver_id WHERE x.n = 1"
                    " ORDER BY x.ms, x.session_id, d.id",
                values, "reading a track's leaderboard");
            while (q.next())
                laps.append(QJsonObject{{"name", q.value(0).toString()}, {"car", q.value(1).toString()},
                                        {"ms", q.value(2).toInt()}, {"race", q.value(3).toLongLong()}});
            q.finish();
            // Through the (track, car, ms) index.
            QSqlQuery& c = sql_.Run("SELECT DISTINCT car FROM best_laps WHERE track = ? ORDER BY car", {code},
                                    "listing a track's cars");
            while (c.next()) cars.append(c.value(0).toString());
            c.finish();
        });
        return {{"track", code}, {"laps", laps}, {"cars", cars}};
    }

    QJsonArray Tracks() override {
        QJsonArray tracks;
        Guarded([&] {
            // The best of each track through the (track, ms) index; of
            // equal times the one set first, as in the leaderboard.
            const QString best = " FROM best_laps b JOIN drivers d ON d.id = b.driver_id WHERE b.track = t.track"
                                 " ORDER BY b.ms, b.session_id, d.id LIMIT 1";
            QSqlQuery& q = sql_.Run(
                "SELECT t.track, t.races, (SELECT b.ms" + best + "), (SELECT d.name" + best + ")"
                " FROM (SELECT track, COUNT(*) AS races FROM sessions WHERE listed = 1 GROUP BY track) t"
                " ORDER BY t.track",
                {}, "listing the tracks");
            while (q.next())
                tracks.append(QJsonObject{{"track", q.value(0).toString()}, {"races", q.value(1).toInt()},
                                          {"best_ms", JsonInt(q.value(2))}, {"best_name", JsonText(q.value(3))}});
            q.finish();
        });
        return tracks;
    }

    std::optional<QString> RecordingOf(std::int64_t id) override {
        std::optional<QString> file;
        Guarded([&] {
            const QVariant v = sql_.Value("SELECT recording FROM sessions WHERE id = ? AND listed = 1",
                                          {qlonglong(id)}, "reading a recording's name");
            if (!v.isNull() && !v.toString().isEmpty()) file = v.toString();
        });
        return file;
    }

    std::int64_t AddPenalty(const PenaltyRequest& p) override {
        ++writes_;
        if (p.kind != "time" && p.kind != "points" && p.kind != "disqualify")
            throw StoreRefusal("unknown penalty kind \"" + p.kind.left(20).toStdString() + "\"");
        if ((p.kind == "disqualify") != (p.amount == 0) || p.amount < 0)
            throw StoreRefusal("a time or points penalty needs an amount above 0, a disqualification none");
        if (p.reason.trimmed().isEmpty()) throw StoreRefusal("a penalty needs a reason");
        if (p.by.trimmed().isEmpty()) throw StoreRefusal("a penalty needs an author");
        std::int64_t id = 0;
        Guarded([&] {
            SqlTransaction transaction(sql_);
            QSqlQuery& s = sql_.Run("SELECT kind FROM sessions WHERE id = ? AND listed = 1", {qlonglong(p.race)},
                                    "adding a penalty");
            if (!s.next()) throw StoreRefusal(QString("there is no race %1").arg(p.race).toStdString());
            const QString kind = s.value(0).toString();
            s.finish();
            if (kind != "race" && p.kind == "time")
                throw StoreRefusal(QString("session %1 is a qualifying: a time penalty is for a race")
                                       .arg(p.race)
                                       .toStdString());
            const QVariant driver = sql_.Value(
                "SELECT d.id FROM drivers d JOIN entries e ON e.driver_id = d.id WHERE d.name = ? AND e.session_id = ?",
                {p.name, qlonglong(p.race)}, "adding a penalty");
            if (driver.isNull())
                throw StoreRefusal(QString("no driver \"%1\" in race %2").arg(p.name.left(64)).arg(p.race).toStdString());
            id = sql_.Value("INSERT INTO penalties (session_id, driver_id, kind, amount, reason, author, made_at)"
                            " VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id",
                            {qlonglong(p.race), driver, p.kind, qlonglong(p.amount), p.reason, p.by, IsoTime(p.atMs)},
                            "adding a penalty")
                     .toLongLong();
            transaction.Commit();
        });
        return id;
    }

    void RevokePenalty(std::int64_t id, const QString& reason, const QString& by, std::int64_t atMs) override {
        ++writes_;
        if (reason.trimmed().isEmpty()) throw StoreRefusal("a revocation needs a reason");
        if (by.trimmed().isEmpty()) throw StoreRefusal("a revocation needs an author");
        Guarded([&] {
            SqlTransaction transaction(sql_);
            if (sql_.Value("SELECT id FROM penalties WHERE id = ?", {qlonglong(id)}, "revoking a penalty").isNull())
                throw StoreRefusal(QString("there is no penalty %1").arg(id).toStdString());
            // One revocation a penalty: a second one is refused, not stacked.
            const int added = sql_.Run("INSERT INTO penalty_revocations (penalty_id, reason, author, made_at)"
                                       " VALUES (?, ?, ?, ?) ON CONFLICT (penalty_id) DO NOTHING",
                                       {qlonglong(id), reason, by, IsoTime(atMs)}, "revoking a penalty")
                                  .numRowsAffected();
            if (added != 1) throw StoreRefusal(QString("penalty %1 is revoked already").arg(id).toStdString());
            transaction.Commit();
        });
    }

    std::vector<Penalty> Penalties(const SessionSpan& span) override {
        std::vector<Penalty> out;
        Guarded([&] {
            QVariantList values;
            const QString where = SpanWhere(span, values);
            QSqlQuery& q = sql_.Run(
                "SELECT p.id, p.session_id, d.name, p.kind, p.amount, p.reason, p.author, p.made_at,"
                " v.reason, v.author, v.made_at"
                " FROM penalties p JOIN drivers d ON d.id = p.driver_id"
                " LEFT JOIN penalty_revocations v ON v.penalty_id = p.id"
                " WHERE p.session_id IN (SELECT s.id FROM sessions s WHERE " + where + ") ORDER BY p.id",
                values, "reading penalties");
            while (q.next()) {
                Penalty p;
                p.id = q.value(0).toLongLong();
                p.race = q.value(1).toLongLong();
                p.name = q.value(2).toString();
                p.kind = q.value(3).toString();
                p.amount = q.value(4).toLongLong();
                p.reason = q.value(5).toString();
                p.by = q.value(6).toString();
                p.atMs = ParseIsoTime(q.value(7).toString()).value_or(0);
                p.revoked = !q.isNull(8);
                if (p.revoked) {
                    p.revokeReason = q.value(8).toString();
                    p.revokedBy = q.value(9).toString();
                    p.revokedAtMs = ParseIsoTime(q.value(10).toString()).value_or(0);
                }
                out.push_back(std::move(p));
            }
            q.finish();
        });
        return out;
    }

    int PenaltyEvents(std::int64_t race) override {
        int events = 0;
        Guarded([&] {
            events = sql_.Value("SELECT (SELECT COUNT(*) FROM penalties WHERE session_id = ?)"
                                " + (SELECT COUNT(*) FROM penalty_revocations v JOIN penalties p"
                                " ON p.id = v.penalty_id WHERE p.session_id = ?)",
                                {qlonglong(race), qlonglong(race)}, "counting a race's penalties")
                         .toInt();
        });
        return events;
    }

    std::vector<StoredRace> Sessions(const SessionSpan& span) override {
        std::vector<StoredRace> out;
        Guarded([&] {
            QVariantList values;
            const QString where = SpanWhere(span, values);
            std::map<qlonglong, std::size_t> index;
            QSqlQuery& s = sql_.Run("SELECT s.id, s.server, s.kind, s.track, s.state, s.started FROM sessions s WHERE " +
                                        where + " ORDER BY s.started, s.id",
                                    values, "reading a season's sessions");
            while (s.next()) {
                StoredRace race;
                race.id = s.value(0).toLongLong();
                race.server = s.value(1).toString();
                race.kind = s.value(2).toString();
                race.track = s.value(3).toString();
                race.state = s.value(4).toString();
                race.startedMs = ParseIsoTime(s.value(5).toString()).value_or(0);
                index[race.id] = out.size();
                out.push_back(std::move(race));
            }
            s.finish();
            const QString sessions = "(SELECT s.id FROM sessions s WHERE " + where + ")";
            QString rounds = where;
            QVariantList roundValues = values;
            if (span.resultsOf) {
                QStringList marks;
                for (const QString& kind : *span.resultsOf) {
                    marks << "?";
                    roundValues << kind;
                }
                rounds += " AND s.state = 'finished' AND s.kind IN (" + (marks.isEmpty() ? "NULL" : marks.join(", ")) + ")";
            }
            // The finishing order as the race page lists it: the places, then
            // those who left, in the standings' order.
            QSqlQuery& r = sql_.Run(
                "SELECT r.session_id, d.name, r.pos, r.laps, r.best_ms, r.total_ms, r.finished"
                " FROM results r JOIN drivers d ON d.id = r.driver_id WHERE r.session_id IN"
                " (SELECT s.id FROM sessions s WHERE " + rounds + ")"
                " ORDER BY r.session_id, CASE WHEN r.pos = 0 THEN 1 ELSE 0 END, r.pos, r.seq",
                roundValues, "reading a season's results");
            while (r.next()) {
                const auto at = index.find(r.value(0).toLongLong());
                if (at == index.end()) continue;
                out[at->second].results.push_back({r.value(1).toString(), r.value(2).toInt(), r.value(3).toInt(),
                                                   r.value(4).toInt(), r.value(5).toInt(), r.value(6).toInt() != 0});
            }
            r.finish();
            // Each driver's best lap in each car and when he first drove it.
            QSqlQuery& b = sql_.Run("SELECT b.session_id, d.name, b.ms, b.done_at FROM best_laps b"
                                    " JOIN drivers d ON d.id = b.driver_id WHERE b.session_id IN " + sessions,
                                    values, "reading a season's best laps");
            while (b.next()) {
                const auto at = index.find(b.value(0).toLongLong());
                if (at == index.end()) continue;
                out[at->second].best.push_back(
                    {b.value(1).toString(), b.value(2).toInt(), b.value(3).toString()});
            }
            b.finish();
        });
        return out;
    }

    int Version() override {
        int version = 0;
        Guarded([&] { version = StoredVersion(sql_); });
        return version;
    }

private:
    // Runs one call against the store; when it fails, finds out whether the
    // connection was lost (a PostgreSQL server restarted), so that the next
    // call connects again instead of failing for ever.
    void Guarded(const std::function<void()>& call) {
        sql_.ReopenIfLost();
        try {
            call();
        } catch (const StoreError&) {
            sql_.CheckAlive();
            throw;
        }
    }

    // The sessions a span names, as a condition on "sessions s"; its values
    // are appended to `values` (the servers one placeholder each).
    static QString SpanWhere(const SessionSpan& span, QVariantList& values) {
        QString where = "s.listed = 1";
        if (span.race) {
            where += " AND s.id = ?";
            values << qlonglong(*span.race);
        }
        if (span.fromMs > 0) {
            where += " AND s.started >= ?";
            values << IsoTime(span.fromMs);
        }
        if (span.toMs > 0) {
            where += " AND s.started < ?";
            values << IsoTime(span.toMs);
        }
        if (!span.servers.isEmpty()) {
            QStringList marks;
            for (const QString& server : span.servers) {
                marks << "?";
                values << server;
            }
            where += " AND s.server IN (" + marks.join(", ") + ")";
        }
        return where;
    }

    // The driver's id, the row made on first sight. Another hub may add the
    // same name between the look-up and the insert: then it is looked up
    // again.
    qlonglong DriverId(const std::string& name) {
        const QByteArray raw = Raw(name);
        for (int attempt = 0; attempt < 2; ++attempt) {
            QVariant id = sql_.Value("SELECT id FROM drivers WHERE raw = ?", {raw}, "finding a driver");
            if (!id.isNull()) return id.toLongLong();
            id = sql_.Value("INSERT INTO drivers (raw, name) VALUES (?, ?) ON CONFLICT (raw) DO NOTHING RETURNING id",
                            {raw, Text(name)}, "adding a driver");
            if (!id.isNull()) return id.toLongLong();
        }
        sql_.Fail("adding a driver", "the driver could not be added");
    }

    // The driver takes part in the session in `car`.
    void Enter(std::int64_t session, qlonglong driver, const std::string& car) {
        sql_.Run("INSERT INTO entries (session_id, driver_id, car) VALUES (?, ?, ?)"
                 " ON CONFLICT (session_id, driver_id) DO UPDATE SET car = excluded.car"
                 " WHERE entries.car <> excluded.car",
                 {qlonglong(session), driver, Text(car)}, "adding a driver");
    }

    // Standings with a driver twice, a place given twice or a negative one
    // are refused before anything is written.
    void CheckResults(const std::vector<ResultRow>& results) {
        QSet<QByteArray> names;
        QSet<int> places;
        for (const ResultRow& row : results) {
            if (row.pos < 0 || row.laps < 0 || row.bestMs < 0 || row.totalMs < 0)
                sql_.Fail("closing a session", "the results hold a negative number");
            if (names.contains(Raw(row.name))) sql_.Fail("closing a session", "the results name a driver twice");
            if (row.pos > 0 && places.contains(row.pos))
                sql_.Fail("closing a session", QString("the results give place %1 twice").arg(row.pos));
            names.insert(Raw(row.name));
            places.insert(row.pos);
        }
    }

    SqlConnection sql_;

    std::uint64_t writes_ = 0;  // write calls made through this store
    std::map<QString, std::pair<std::int64_t, qlonglong>> counts_;  // filter: mark, total
};

}  // namespace

std::unique_ptr<Store> Store::Open(const QString& url, const QString& dataDir) {
    return std::make_unique<SqlStore>(ParseTarget(url, dataDir), false);
}

std::unique_ptr<Store> Store::OpenReader(const QString& url, const QString& dataDir) {
    return std::make_unique<SqlStore>(ParseTarget(url, dataDir), true);
}

QJsonObject ChampionshipJson(Store& store, const ChampionshipRules& rules, const DriverAliases& aliases) {
    const auto [from, to] = SeasonSpan(rules);
    SessionSpan span;
    span.servers = rules.servers;
    span.fromMs = from;
    span.toMs = to;
    const std::vector<Penalty> penalties = store.Penalties(span);
    // Only the rounds' results are worked with; the qualifyings before the
    // races give their best laps.
    span.resultsOf = QStringList();
    if (rules.races) *span.resultsOf << "race";
    if (rules.qualifyings) *span.resultsOf << "qualify";
    return Standings(rules, aliases, store.Sessions(span), penalties);
}

std::optional<QJsonObject> RaceOrdersOf(Store& store, std::int64_t race) {
    SessionSpan span;
    span.race = race;
    const std::vector<StoredRace> sessions = store.Sessions(span);
    if (sessions.empty()) return std::nullopt;
    return RaceOrders(sessions.front(), store.Penalties(span));
}

QString IsoTime(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ss.zzzZ");
}

std::optional<std::int64_t> ParseIsoTime(const QString& text) {
    static const QRegularExpression shape("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d{3})?Z$");
    if (!shape.match(text).hasMatch()) return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) return std::nullopt;
    return time.toMSecsSinceEpoch();
}

}  // namespace gs::hub
