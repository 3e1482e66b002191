#include "Championship.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "Store.h"

namespace gs::hub {

namespace {

// The events that stand for one race: every one not revoked.
struct Standing {
    std::map<QString, std::int64_t> timeMs;
    std::map<QString, std::int64_t> points;
    QSet<QString> disqualified;
};

Standing ActiveFor(std::int64_t race, const std::vector<Penalty>& penalties) {
    Standing s;
    for (const Penalty& p : penalties) {
        if (p.race != race || p.revoked) continue;
        if (p.kind == "time") s.timeMs[p.name] += p.amount;
        else if (p.kind == "points") s.points[p.name] += p.amount;
        else if (p.kind == "disqualify") s.disqualified.insert(p.name);
    }
    return s;
}

// The fastest of `best` among `allowed` names (all when empty): the lowest
// time, of equal times the one driven first.
const BestLap* Fastest(const std::vector<BestLap>& best, const QSet<QString>* allowed = nullptr) {
    const BestLap* fastest = nullptr;
    for (const BestLap& b : best) {
        if (b.ms <= 0 || (allowed && !allowed->contains(b.name))) continue;
        if (!fastest || b.ms < fastest->ms || (b.ms == fastest->ms && b.at < fastest->at)) fastest = &b;
    }
    return fastest;
}

QJsonValue Points(double points) { return QJsonValue(points); }

QString Person(const DriverAliases& aliases, const QString& name) {
    const auto found = aliases.find(name);
    return found == aliases.end() ? name : found->second;
}

}  // namespace

std::vector<ClassifiedRow> Classify(const StoredRace& race, const std::vector<Penalty>& penalties, int minLapsPercent) {
    const Standing events = ActiveFor(race.id, penalties);
    std::vector<ClassifiedRow> rows;
    rows.reserve(race.results.size());
    for (std::size_t i = 0; i < race.results.size(); ++i) {
        const StoredResult& r = race.results[i];
        ClassifiedRow row;
        row.result = &r;
        row.finishPos = static_cast<int>(i) + 1;
        row.status = events.disqualified.contains(r.name) ? "dsq" : "classified";
        if (const auto t = events.timeMs.find(r.name); t != events.timeMs.end()) row.penaltyMs = t->second;
        if (r.totalMs > 0) row.totalMs = r.totalMs + row.penaltyMs;
        rows.push_back(row);
    }
    // In a race, the drivers who took the flag are ordered again by laps and
    // race time with the time penalties added; the others keep their places
    // behind them, in the stored order. A qualifying keeps its order.
    auto group = [&](const ClassifiedRow& row) {
        if (row.status == "dsq") return 3;
        return race.kind == "race" && row.result->finished && row.totalMs > 0 ? 0 : 1;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const ClassifiedRow& a, const ClassifiedRow& b) {
        const int ga = group(a), gb = group(b);
        if (ga != gb) return ga < gb;
        if (ga != 0) return false;
        if (a.result->laps != b.result->laps) return a.result->laps > b.result->laps;
        return a.totalMs < b.totalMs;
    });
    // The minimum distance is a share of the winner's laps, rounded up.
    if (minLapsPercent > 0 && !rows.empty() && rows.front().status != "dsq") {
        const std::int64_t winnerLaps = rows.front().result->laps;
        const std::int64_t needed = (winnerLaps * minLapsPercent + 99) / 100;
        for (ClassifiedRow& row : rows)
            if (row.status == "classified" && row.result->laps < needed) row.status = "nc";
        std::stable_sort(rows.begin(), rows.end(), [](const ClassifiedRow& a, const ClassifiedRow& b) {
            auto rank = [](const QString& s) { return s == "classified" ? 0 : s == "nc" ? 1 : 2; };
            return rank(a.status) < rank(b.status);
        });
    }
    int pos = 0;
    for (ClassifiedRow& row : rows)
        if (row.status == "classified") row.pos = ++pos;
    return rows;
}

QJsonObject PenaltyJson(const Penalty& p) {
    QJsonValue value;
    if (p.kind == "time") value = static_cast<double>(p.amount) / 1000.0;
    else if (p.kind == "points") value = static_cast<double>(p.amount);
    QJsonValue revoked;
    if (p.revoked)
        revoked = QJsonObject{{"reason", p.revokeReason}, {"by", p.revokedBy}, {"at", IsoTime(p.revokedAtMs)}};
    return QJsonObject{{"id", static_cast<qint64>(p.id)},
                       {"race", static_cast<qint64>(p.race)},
                       {"name", p.name},
                       {"kind", p.kind},
                       {"value", value},
                       {"reason", p.reason},
                       {"by", p.by},
                       {"at", IsoTime(p.atMs)},
                       {"revoked", revoked}};
}

QJsonObject RaceOrders(const StoredRace& race, const std::vector<Penalty>& penalties) {
    QJsonArray events, classification;
    for (const Penalty& p : penalties)
        if (p.race == race.id) events.append(PenaltyJson(p));
    for (const ClassifiedRow& row : Classify(race, penalties)) {
        classification.append(QJsonObject{
            {"pos", row.pos > 0 ? QJsonValue(row.pos) : QJsonValue()},
            {"name", row.result->name},
            {"status", row.status},
            {"finish_pos", row.finishPos},
            {"laps", row.result->laps},
            {"total_ms", row.totalMs > 0 ? QJsonValue(static_cast<qint64>(row.totalMs)) : QJsonValue()},
            {"penalty_ms", static_cast<qint64>(row.penaltyMs)},
        });
    }
    return {{"penalties", events}, {"classification", classification}};
}

std::pair<std::int64_t, std::int64_t> SeasonSpan(const ChampionshipRules& rules) {
    auto dayStart = [](const QDate& d) { return QDateTime(d, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch(); };
    const std::int64_t first = rules.from ? dayStart(*rules.from) : 0;
    // The last of the dates counts as a whole day.
    const std::int64_t end = rules.to ? dayStart(rules.to->addDays(1)) : std::numeric_limits<std::int64_t>::max() / 4;
    return {std::max<std::int64_t>(0, first - PoleWindowMs), end};
}

QJsonObject Standings(const ChampionshipRules& rules, const DriverAliases& aliases,
                      const std::vector<StoredRace>& sessions, const std::vector<Penalty>& penalties) {
    const std::int64_t first = SeasonSpan(rules).first + (rules.from ? PoleWindowMs : 0);
    const std::int64_t end = SeasonSpan(rules).second;
    auto onServer = [&](const StoredRace& s) { return rules.servers.isEmpty() || rules.servers.contains(s.server); };

    // The rounds: finished sessions of the counted kinds, servers and dates,
    // numbered by start time. An interrupted race's order is not a result.
    std::vector<const StoredRace*> rounds;
    for (const StoredRace& s : sessions) {
        const bool kind = (s.kind == "race" && rules.races) || (s.kind == "qualify" && rules.qualifyings);
        if (kind && s.state == "finished" && onServer(s) && s.startedMs >= first && s.startedMs < end)
            rounds.push_back(&s);
    }
    std::sort(rounds.begin(), rounds.end(), [](const StoredRace* a, const StoredRace* b) {
        return a->startedMs != b->startedMs ? a->startedMs < b->startedMs : a->id < b->id;
    });
    std::map<std::int64_t, int> roundOf;  // race id -> round index
    for (std::size_t i = 0; i < rounds.size(); ++i) roundOf[rounds[i]->id] = static_cast<int>(i);

    // The qualifying just before a race: on its server and track, started
    // at most PoleWindowMs before it, with no finished race of that server
    // between the two (a second race of the evening has no pole of its own).
    auto qualifyingBefore = [&](const StoredRace& race) -> const StoredRace* {
        const StoredRace* found = nullptr;
        for (const StoredRace& s : sessions) {
            if (s.server != race.server || s.startedMs >= race.startedMs) continue;
            if (race.startedMs - s.startedMs > PoleWindowMs) continue;
            if (found && s.startedMs < found->startedMs) continue;
            if (s.kind == "qualify" || (s.kind == "race" && s.state == "finished")) found = &s;
        }
        return found && found->kind == "qualify" && found->track == race.track ? found : nullptr;
    };

    struct Driver {
        QString person;
        QStringList names;
        std::vector<std::optional<double>> rounds;
        std::vector<int> places;           // how often classified 1st, 2nd, ...
        int bestPos = 0;                   // best classified position
        std::int64_t bestAt = 0;           // when it was first reached
        std::int64_t penaltyPoints = 0;
        double total = 0;
        std::vector<int> dropped;
    };
    std::map<QString, Driver> drivers;
    auto driver = [&](const QString& name) -> Driver& {
        const QString person = Person(aliases, name);
        Driver& d = drivers[person];
        if (d.person.isEmpty()) {
            d.person = person;
            d.rounds.assign(rounds.size(), std::nullopt);
        }
        if (!d.names.contains(name)) d.names << name;
        return d;
    };

    QJsonArray roundsJson;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const StoredRace& race = *rounds[i];
        const double multiplier = rules.multipliers.count(static_cast<int>(i) + 1)
                                      ? rules.multipliers.at(static_cast<int>(i) + 1)
                                      : 1.0;
        const std::vector<ClassifiedRow> rows = Classify(race, penalties, rules.minLapsPercent);
        // One person, one result a round: his first row, should he have
        // raced under two of his names at once.
        std::map<QString, const ClassifiedRow*> byPerson;
        for (const ClassifiedRow& row : rows) byPerson.emplace(Person(aliases, row.result->name), &row);
        std::map<QString, double> score;
        QSet<QString> notDisqualified;
        for (const ClassifiedRow& row : rows) {
            if (row.status != "dsq") notDisqualified.insert(row.result->name);
            if (byPerson.at(Person(aliases, row.result->name)) != &row) continue;
            Driver& d = driver(row.result->name);
            const int pos = row.pos;
            score[d.person] = pos > 0 && pos <= static_cast<int>(rules.points.size()) ? rules.points[pos - 1] : 0;
            if (pos > 0) {
                if (static_cast<int>(d.places.size()) < pos) d.places.resize(pos, 0);
                ++d.places[pos - 1];
                if (d.bestPos == 0 || pos < d.bestPos || (pos == d.bestPos && race.startedMs < d.bestAt)) {
                    d.bestPos = pos;
                    d.bestAt = race.startedMs;
                }
            }
        }
        for (const ClassifiedRow& row : rows) driver(row.result->name);  // every name raced under
        if (rules.fastestLap > 0) {
            if (const BestLap* fastest = Fastest(race.best, &notDisqualified)) {
                const QString person = Person(aliases, fastest->name);
                if (score.count(person) && score[person] > 0) score[person] += rules.fastestLap;
            }
        }
        if (rules.pole > 0 && race.kind == "race") {
            if (const StoredRace* q = qualifyingBefore(race); q) {
                if (const BestLap* pole = Fastest(q->best)) {
                    if (notDisqualified.contains(pole->name)) {
                        const QString person = Person(aliases, pole->name);
                        if (score.count(person)) score[person] += rules.pole;
                    }
                }
            }
        }
        for (const auto& [person, points] : score) drivers[person].rounds[i] = points * multiplier;
        QJsonValue winner;
        if (!rows.empty() && rows.front().pos == 1) winner = Person(aliases, rows.front().result->name);
        roundsJson.append(QJsonObject{{"race", static_cast<qint64>(race.id)},
                                      {"started", IsoTime(race.startedMs)},
                                      {"track", race.track},
                                      {"server", race.server},
                                      {"kind", race.kind},
                                      {"multiplier", multiplier},
                                      {"winner", winner}});
    }

    // Points penalties of the rounds come off the total, whatever is dropped.
    QJsonArray penaltiesJson;
    std::vector<const Penalty*> shown;
    for (const Penalty& p : penalties)
        if (roundOf.count(p.race)) shown.push_back(&p);
    std::sort(shown.begin(), shown.end(), [](const Penalty* a, const Penalty* b) { return a->id < b->id; });
    for (const Penalty* p : shown) {
        QJsonObject json = PenaltyJson(*p);
        json.insert("round", roundOf.at(p->race) + 1);
        json.insert("driver", Person(aliases, p->name));
        penaltiesJson.append(json);
        if (p->revoked || p->kind != "points") continue;
        driver(p->name).penaltyPoints += p->amount;
    }

    // Each driver's lowest rounds are dropped (a round he missed counts as
    // nothing and goes first); of equal scores, the earlier round. At least
    // one round always counts.
    const int drop = rounds.empty() ? 0 : std::min<int>(rules.dropWorst, static_cast<int>(rounds.size()) - 1);
    for (auto& [person, d] : drivers) {
        std::vector<int> order(rounds.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return d.rounds[a].value_or(0) < d.rounds[b].value_or(0); });
        d.dropped.assign(order.begin(), order.begin() + drop);
        std::sort(d.dropped.begin(), d.dropped.end());
        for (std::size_t i = 0; i < rounds.size(); ++i)
            if (!std::binary_search(d.dropped.begin(), d.dropped.end(), static_cast<int>(i)))
                d.total += d.rounds[i].value_or(0);
        d.total -= static_cast<double>(d.penaltyPoints);
    }

    std::vector<const Driver*> table;
    for (const auto& [person, d] : drivers) table.push_back(&d);
    std::sort(table.begin(), table.end(), [](const Driver* a, const Driver* b) {
        if (a->total != b->total) return a->total > b->total;
        // Countback: most wins, then most second places, and so on.
        const std::size_t n = std::max(a->places.size(), b->places.size());
        for (std::size_t i = 0; i < n; ++i) {
            const int pa = i < a->places.size() ? a->places[i] : 0, pb = i < b->places.size() ? b->places[i] : 0;
            if (pa != pb) return pa > pb;
        }
        // Then whose best result came first; a driver never classified last.
        if ((a->bestPos == 0) != (b->bestPos == 0)) return b->bestPos == 0;
        if (a->bestAt != b->bestAt) return a->bestAt < b->bestAt;
        return a->person < b->person;
    });
    QJsonArray standings;
    int pos = 0;
    for (const Driver* d : table) {
        QJsonArray points, dropped, names;
        for (const auto& r : d->rounds) points.append(r ? Points(*r) : QJsonValue());
        for (int i : d->dropped) dropped.append(i);
        for (const QString& n : d->names) names.append(n);
        standings.append(QJsonObject{{"pos", ++pos},
                                     {"driver", d->person},
                                     {"points", Points(d->total)},
                                     {"rounds", points},
                                     {"dropped", dropped},
                                     {"names", names},
                                     {"penalty_points", static_cast<qint64>(d->penaltyPoints)}});
    }
    return {{"key", rules.key},
            {"title", rules.title},
            {"rounds", roundsJson},
            {"standings", standings},
            {"penalties", penaltiesJson}};
}

}  // namespace gs::hub
