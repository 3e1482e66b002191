// Championships: a season's standings worked out from the stored races, the
// stewards' penalty events and the championship's written rules. Nothing
// here reads a database: the store hands over the races and events, these
// functions only compute, so the same races and events always give the same
// tables, however often they are asked for.
//
//   ChampionshipRules - one [championship:KEY] section of the hub's config
//   DriverAliases     - [drivers]: the names one person raced under
//   Classify          - one session's classification after its penalties
//   RaceOrders        - a race's penalties and both of its orders, as JSON
//   Standings         - a championship's rounds, standings and penalties,
//                       as the API's JSON
//
// Scoring, in order: each round's classification (time penalties added to
// the race time re-order the finishers; a disqualified driver is listed
// last and scores nothing; a driver short of the minimum laps is not
// classified and scores nothing); points by classified position; the
// fastest-lap bonus to its holder if he scores; the pole bonus to the holder
// of the best lap of the qualifying just before the race; the round's
// multiplier on the whole; each driver's lowest rounds dropped; points
// penalties taken off the total (never dropped with a round). Ties: most
// wins, then most second places and so on, then whose best result came
// first, then the name.
#pragma once

#include <QDate>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace gs::hub {

struct ChampionshipRules {
    QString key;
    QString title;
    QStringList servers;             // empty: every server
    std::optional<QDate> from, to;   // UTC dates of the sessions that count, inclusive
    bool races = true, qualifyings = false;  // which sessions are rounds
    std::vector<int> points;         // by classified position
    int fastestLap = 0;              // bonus points
    int pole = 0;                    // bonus points
    int minLapsPercent = 0;          // of the winner's laps, to be classified
    int dropWorst = 0;               // rounds each driver drops
    std::map<int, double> multipliers;  // round number (from 1) -> factor
};

// A raced name (UTF-8, as the store's drivers.name) -> the person.
using DriverAliases = std::map<QString, QString>;

// A qualifying counts for a race's pole when it started at most this long
// before the race.
constexpr std::int64_t PoleWindowMs = 2 * 3600 * 1000;

// --- what the store hands over

struct StoredResult {
    QString name;          // UTF-8
    int pos = 0;           // as stored: 0 for a driver who left before the end
    int laps = 0;
    std::int32_t bestMs = 0;   // 0: none
    std::int32_t totalMs = 0;  // 0: not finished
    bool finished = false;
};

// A driver's best lap of a session and when it was first driven, as the
// store's ISO 8601 text (one width: it sorts in time order, and a season's
// thousands of best laps need not be parsed to be compared).
struct BestLap {
    QString name;
    std::int32_t ms = 0;
    QString at;
};

struct StoredRace {
    std::int64_t id = 0;
    QString server, kind, track, state;  // kind "race" or "qualify"
    std::int64_t startedMs = 0;
    std::vector<StoredResult> results;   // the finishing order as stored
    std::vector<BestLap> best;
};

struct Penalty {
    std::int64_t id = 0;
    std::int64_t race = 0;
    QString name;          // the raced name (UTF-8)
    QString kind;          // "time", "points" or "disqualify"
    std::int64_t amount = 0;  // ms for "time", points for "points"
    QString reason, by;
    std::int64_t atMs = 0;
    bool revoked = false;
    QString revokeReason, revokedBy;
    std::int64_t revokedAtMs = 0;
};

// --- computing

struct ClassifiedRow {
    const StoredResult* result = nullptr;
    int finishPos = 0;       // 1-based place in the finishing order
    int pos = 0;             // classified position; 0: not classified
    QString status;          // "classified", "nc" (short of the minimum laps) or "dsq"
    std::int64_t penaltyMs = 0;
    std::int64_t totalMs = 0;  // with the time penalties; 0: no race time
};

// The session's classification: `penalties` may hold any race's events;
// revoked ones and other races' are left out.
std::vector<ClassifiedRow> Classify(const StoredRace& race, const std::vector<Penalty>& penalties,
                                    int minLapsPercent = 0);

// {"penalties":[...],"classification":[{"pos","name","status","laps","total_ms","penalty_ms"}]}
QJsonObject RaceOrders(const StoredRace& race, const std::vector<Penalty>& penalties);

// A penalty as JSON: {"id","race","name","kind","value","reason","by","at","revoked"}.
QJsonObject PenaltyJson(const Penalty& p);

// `sessions` holds every stored session that may matter (the rounds and the
// qualifyings before them), in any order; `penalties` every event of them.
// {"key","title","rounds":[{"race","started","track","server","multiplier","winner"}],
//  "standings":[{"pos","driver","points","rounds","dropped","names","penalty_points"}],
//  "penalties":[...]}
QJsonObject Standings(const ChampionshipRules& rules, const DriverAliases& aliases,
                      const std::vector<StoredRace>& sessions, const std::vector<Penalty>& penalties);

// The span of start times (ms, [first, end)) a championship reads: its dates,
// and the pole window before the first.
std::pair<std::int64_t, std::int64_t> SeasonSpan(const ChampionshipRules& rules);

}  // namespace gs::hub
