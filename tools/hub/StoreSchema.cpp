#include "StoreSchema.h"

namespace gs::hub {

namespace {

// Version 1: what happened. Times are ISO 8601 text in UTC, so they sort
// in time order and read well in a SQL shell; a driver is his raw name
// bytes, with their UTF-8 reading beside them.
const char* const Version1[] = {
    "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE servers (key TEXT PRIMARY KEY, name TEXT NOT NULL, address TEXT NOT NULL)",
    "CREATE TABLE drivers (id @ID@, raw @BLOB@ NOT NULL UNIQUE, name TEXT NOT NULL)",
    "CREATE TABLE sessions ("
    " id @ID@,"
    " server TEXT NOT NULL REFERENCES servers (key),"
    " kind TEXT NOT NULL CHECK (kind IN ('race', 'qualify')),"
    " track TEXT NOT NULL,"
    " laps INTEGER NOT NULL CHECK (laps >= 0),"
    " minutes INTEGER NOT NULL CHECK (minutes >= 0),"
    " started TEXT NOT NULL,"
    " ended TEXT,"
    " state TEXT NOT NULL CHECK (state IN ('open', 'finished', 'interrupted')),"
    " why TEXT NOT NULL DEFAULT '',"
    " recording TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE entries ("
    " session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " driver_id BIGINT NOT NULL REFERENCES drivers (id),"
    " car TEXT NOT NULL,"
    " PRIMARY KEY (session_id, driver_id))",
    "CREATE TABLE laps ("
    " session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " driver_id BIGINT NOT NULL REFERENCES drivers (id),"
    " lap INTEGER NOT NULL CHECK (lap >= 1),"
    " car TEXT NOT NULL,"
    " ms INTEGER NOT NULL CHECK (ms >= 0),"
    " done_at TEXT NOT NULL,"
    " PRIMARY KEY (session_id, driver_id, lap))",
    "CREATE TABLE results ("
    " session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " driver_id BIGINT NOT NULL REFERENCES drivers (id),"
    " seq INTEGER NOT NULL,"
    " pos INTEGER NOT NULL CHECK (pos >= 0),"
    " car TEXT NOT NULL,"
    " laps INTEGER NOT NULL CHECK (laps >= 0),"
    " best_ms INTEGER CHECK (best_ms > 0),"
    " total_ms INTEGER CHECK (total_ms > 0),"
    " finished INTEGER NOT NULL CHECK (finished IN (0, 1)),"
    " PRIMARY KEY (session_id, driver_id))",
};

// Version 2: what the pages read fast. Each driver's best lap of each
// session (per car) with the session's track, so a leaderboard reads a few
// rows a session instead of every lap; a flag for the sessions that are
// listed (a lap or a result); the indexes of the listings, the filters and
// the driver pages. Both filled from what version 1 holds.
const char* const Version2[] = {
    "ALTER TABLE sessions ADD COLUMN listed INTEGER NOT NULL DEFAULT 0",
    "UPDATE sessions SET listed = 1"
    " WHERE EXISTS (SELECT 1 FROM laps WHERE laps.session_id = sessions.id)"
    " OR EXISTS (SELECT 1 FROM results WHERE results.session_id = sessions.id)",
    "CREATE TABLE best_laps ("
    " session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " driver_id BIGINT NOT NULL REFERENCES drivers (id),"
    " car TEXT NOT NULL,"
    " track TEXT NOT NULL,"
    " ms INTEGER NOT NULL CHECK (ms > 0),"
    " PRIMARY KEY (session_id, driver_id, car))",
    "INSERT INTO best_laps (session_id, driver_id, car, track, ms)"
    " SELECT l.session_id, l.driver_id, l.car, s.track, MIN(l.ms)"
    " FROM laps l JOIN sessions s ON s.id = l.session_id WHERE l.ms > 0"
    " GROUP BY l.session_id, l.driver_id, l.car, s.track",
    "CREATE INDEX sessions_listing ON sessions (listed, started, id)",
    "CREATE INDEX sessions_by_server ON sessions (server, started, id)",
    "CREATE INDEX sessions_by_track ON sessions (track, started, id)",
    "CREATE INDEX sessions_open ON sessions (state, server)",
    "CREATE UNIQUE INDEX drivers_by_name ON drivers (name)",
    "CREATE INDEX entries_by_driver ON entries (driver_id, session_id)",
    "CREATE INDEX laps_by_driver ON laps (driver_id)",
    "CREATE INDEX results_by_driver ON results (driver_id, pos)",
    // Leaderboards read each driver's rows of a track (of a car) in time
    // order straight from these, without the table.
    "CREATE INDEX best_laps_by_track ON best_laps (track, ms, session_id)",
    "CREATE INDEX best_laps_leaderboard ON best_laps (track, driver_id, ms, session_id, car)",
    "CREATE INDEX best_laps_by_car ON best_laps (track, car, driver_id, ms, session_id)",
    "CREATE INDEX best_laps_by_driver ON best_laps (driver_id, track, car, ms, session_id)",
};

// Version 3: the stewards' decisions, as events that are only ever added.
// A penalty names a driver of a race; its revocation is a row of its own
// (one at most), so the history of a decision is never lost and nothing is
// applied twice. Results are never edited: standings and classifications
// are computed from the results and these events. Each best lap also keeps
// when it was first driven (of equal times the earlier wins the fastest
// lap and the pole), filled from the laps already there.
const char* const Version3[] = {
    "ALTER TABLE best_laps ADD COLUMN done_at TEXT",
    "UPDATE best_laps SET done_at = (SELECT MIN(l.done_at) FROM laps l WHERE l.session_id = best_laps.session_id"
    " AND l.driver_id = best_laps.driver_id AND l.car = best_laps.car AND l.ms = best_laps.ms)",
    "CREATE TABLE penalties ("
    " id @ID@,"
    " session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,"
    " driver_id BIGINT NOT NULL REFERENCES drivers (id),"
    " kind TEXT NOT NULL CHECK (kind IN ('time', 'points', 'disqualify')),"
    " amount BIGINT NOT NULL CHECK (amount >= 0),"
    " reason TEXT NOT NULL,"
    " author TEXT NOT NULL,"
    " made_at TEXT NOT NULL)",
    "CREATE TABLE penalty_revocations ("
    " penalty_id BIGINT PRIMARY KEY REFERENCES penalties (id) ON DELETE CASCADE,"
    " reason TEXT NOT NULL,"
    " author TEXT NOT NULL,"
    " made_at TEXT NOT NULL)",
    "CREATE INDEX penalties_by_session ON penalties (session_id, id)",
};

QStringList Spelt(Dialect dialect, const char* const* begin, const char* const* end) {
    QStringList out;
    for (auto at = begin; at != end; ++at) {
        QString sql = *at;
        if (dialect == Dialect::Sqlite) {
            // AUTOINCREMENT: an id is never handed out twice, even after the
            // newest session was deleted; ids are in the pages' links.
            sql.replace("@ID@", "INTEGER PRIMARY KEY AUTOINCREMENT").replace("@BLOB@", "BLOB");
        } else {
            sql.replace("@ID@", "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY").replace("@BLOB@", "BYTEA");
        }
        out << sql;
    }
    return out;
}

}  // namespace

std::vector<QStringList> SchemaSteps(Dialect dialect) {
    return {Spelt(dialect, std::begin(Version1), std::end(Version1)),
            Spelt(dialect, std::begin(Version2), std::end(Version2)),
            Spelt(dialect, std::begin(Version3), std::end(Version3))};
}

int StoredVersion(SqlConnection& sql) {
    if (!sql.database().tables().contains("meta")) return 0;
    const QVariant value = sql.Value("SELECT value FROM meta WHERE key = ?", {QString("schema_version")},
                                     "reading the schema version");
    bool ok = false;
    const int version = value.toString().toInt(&ok);
    if (!ok || version < 1) sql.Fail("reading the schema version", "the meta table holds no valid schema_version");
    return version;
}

void Migrate(SqlConnection& sql) {
    const auto steps = SchemaSteps(sql.dialect());
    static_assert(SchemaVersion == 3, "a new version needs its step here");
    for (;;) {
        SqlTransaction transaction(sql);
        // Hubs on several machines may open one PostgreSQL store at once:
        // the first migrates, the others wait here and find it done. On
        // SQLite, BEGIN IMMEDIATE already holds the write lock.
        if (sql.dialect() == Dialect::Postgres)
            sql.Value("SELECT pg_advisory_xact_lock(?)", {qlonglong(0x6873746f7265)}, "locking the schema");
        const int version = StoredVersion(sql);
        if (version > SchemaVersion) {
            sql.Fail("opening", QString("the store has schema version %1, newer than version %2 that this "
                                        "gridscope-hub knows; it is left as it is: use a newer gridscope-hub")
                                    .arg(version)
                                    .arg(SchemaVersion));
        }
        if (version == SchemaVersion) {
            transaction.Commit();
            return;
        }
        for (const QString& statement : steps[static_cast<std::size_t>(version)])
            sql.Exec(statement, version == 0 ? "creating the schema" : "upgrading the schema");
        sql.Run("DELETE FROM meta WHERE key = ?", {QString("schema_version")}, "writing the schema version");
        sql.Run("INSERT INTO meta (key, value) VALUES (?, ?)", {QString("schema_version"), QString::number(version + 1)},
                "writing the schema version");
        transaction.Commit();
    }
}

}  // namespace gs::hub
