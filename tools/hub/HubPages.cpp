// The hub's pages. Sections: HTML helpers; the page shell; one function per
// page; the race report from a stored race.
#include "HubPages.h"

#include <QSet>
#include <QUrl>

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "RaceReport.h"
#include "common/Text.h"
#include "connection/RaceState.h"

namespace gs::hub {

namespace {

// ------------------------------------------------------------ HTML helpers

QString E(const QString& text) { return text.toHtmlEscaped(); }
QString E(const QJsonValue& v) { return v.isString() ? v.toString().toHtmlEscaped() : QString(); }

// A path segment for a name or code: percent-encoded UTF-8.
QString Seg(const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); }

QString When(const QJsonValue& iso) {
    // "2026-12-09T21:04:05.250Z" shown as "2026-12-09 21:04 UTC".
    const QString t = iso.toString();
    return t.size() >= 16 ? t.left(10) + " " + t.mid(11, 5) + " UTC" : QString();
}

// A race's length in laps: "laps" in a listing, "race_laps" in a race's
// own JSON (where "laps" holds its lap times).
int RaceLaps(const QJsonObject& race) { return race[race["laps"].isArray() ? "race_laps" : "laps"].toInt(); }

QString Kind(const QJsonObject& race) {
    const QString kind = race["kind"].toString();
    if (kind == "race") {
        const int laps = RaceLaps(race);
        return laps > 0 ? QString("Race, %1 laps").arg(laps) : "Race";
    }
    const int minutes = race["minutes"].toInt();
    return minutes > 0 ? QString("Qualifying, %1 min").arg(minutes) : "Qualifying";
}

QString DriverLink(const QJsonValue& name) {
    if (!name.isString()) return QString("&ndash;");
    return "<a href=\"/drivers/" + Seg(name.toString()) + "\">" + E(name) + "</a>";
}

QString TrackLink(const QJsonValue& code) {
    return "<a href=\"/tracks/" + Seg(code.toString()) + "\">" + E(code) + "</a>";
}

// A session still open is being raced now: it is listed once it has a lap.
QString StateText(const QJsonObject& race) {
    const QString state = race["state"].toString();
    return state == "finished" ? QString("finished") : state == "open" ? QString("in progress") : QString("interrupted");
}

// The state as a class name for the style sheet.
QString StateClass(const QJsonObject& race) {
    const QString state = race["state"].toString();
    return state == "finished" || state == "open" ? state : QString("interrupted");
}

// ------------------------------------------------------------------ shell

QByteArray Page(const QString& title, const QString& body, const QString& script = {}, bool report = false) {
    QString out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                  E(title) + " &ndash; Gridscope hub</title>\n";
    if (report) out += "<link rel=\"stylesheet\" href=\"/static/report.css\">\n";
    out += "<link rel=\"stylesheet\" href=\"/static/hub.css\">\n";
    if (!script.isEmpty()) out += "<script type=\"module\" src=\"" + script + "\"></script>\n";
    out += "</head>\n<body>\n<nav><a class=\"home\" href=\"/\">Gridscope hub</a> <a href=\"/races\">Races</a> "
           "<a href=\"/championships\">Championships</a></nav>\n"
           "<main>\n" +
           body + "</main>\n</body>\n</html>\n";
    return out.toUtf8();
}

QString RaceRows(const QJsonArray& races, bool withServer) {
    QString out = "<table class=\"races\">\n<thead><tr><th>Started</th>" +
                  QString(withServer ? "<th>Server</th>" : "") +
                  "<th>Track</th><th>Session</th><th class=\"n\">Drivers</th><th>Winner</th><th>State</th></tr></thead>\n"
                  "<tbody>\n";
    for (const QJsonValue& v : races) {
        const QJsonObject race = v.toObject();
        const QString id = QString::number(race["id"].toInteger());
        out += "<tr data-race=\"" + id + "\"><td><a href=\"/races/" + id + "\">" + When(race["started"]) + "</a></td>";
        if (withServer) out += "<td>" + E(race["server"]) + "</td>";
        out += "<td>" + TrackLink(race["track"]) + "</td><td>" + Kind(race) + "</td><td class=\"n\">" +
               QString::number(race["drivers"].toInt()) + "</td><td>" + DriverLink(race["winner"]) +
               "</td><td class=\"state " + StateClass(race) + "\">" + StateText(race) + "</td></tr>\n";
    }
    if (races.isEmpty()) out += "<tr><td colspan=\"7\" class=\"none\">No races yet.</td></tr>\n";
    return out + "</tbody>\n</table>\n";
}

// "12.5 s" of a time in ms.
QString SecondsText(qint64 ms) { return QString::number(static_cast<double>(ms) / 1000.0) + " s"; }

// A penalty's effect in words.
QString PenaltyText(const QJsonObject& p) {
    const QString kind = p["kind"].toString();
    if (kind == "time") return "+" + QString::number(p["value"].toDouble()) + " s";
    if (kind == "points") return "&minus;" + QString::number(p["value"].toDouble()) + " points";
    return "disqualified";
}

// The penalties of a race or a championship, revoked ones struck through
// with why they were revoked.
QString PenaltySection(const QJsonArray& penalties, bool withRace) {
    QString out = "<h2>Penalties</h2>\n";
    if (penalties.isEmpty()) return out + "<p class=\"meta\">No penalties.</p>\n";
    out += "<table class=\"penalties\">\n<thead><tr><th>#</th>" + QString(withRace ? "<th>Round</th>" : "") +
           "<th>Driver</th><th>Penalty</th><th>Reason</th><th>By</th><th>When</th><th>Revoked</th></tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : penalties) {
        const QJsonObject p = v.toObject();
        const bool revoked = p["revoked"].isObject();
        const QString race = QString::number(p["race"].toInteger());
        out += "<tr data-penalty=\"" + QString::number(p["id"].toInteger()) + "\"" +
               (revoked ? " class=\"revoked\"" : "") + "><td class=\"n\">" + QString::number(p["id"].toInteger()) +
               "</td>";
        if (withRace)
            out += "<td class=\"n\"><a href=\"/races/" + race + "\">" + QString::number(p["round"].toInt()) + "</a></td>";
        QString who = DriverLink(p["name"]);
        if (p["driver"].isString() && p["driver"].toString() != p["name"].toString()) who = E(p["driver"]) + " (" + who + ")";
        out += "<td>" + who + "</td><td class=\"penalty\">" + PenaltyText(p) + "</td><td class=\"reason\">" + E(p["reason"]) +
               "</td><td>" + E(p["by"]) + "</td><td>" + When(p["at"]) + "</td><td class=\"revocation\">";
        if (revoked) {
            const QJsonObject r = p["revoked"].toObject();
            out += When(r["at"]) + " by " + E(r["by"]) + ": " + E(r["reason"]);
        }
        out += "</td></tr>\n";
    }
    return out + "</tbody>\n</table>\n";
}

}  // namespace

QString LapText(qint64 ms) {
    if (ms <= 0) return QString();
    const qint64 h = (ms + 5) / 10;
    return QString::fromStdString(record::HundredthsText(static_cast<std::int32_t>(std::min<qint64>(h, 1 << 30))));
}

namespace {

// "+0.56" behind, or "+1:02.30" from a minute on.
QString GapText(qint64 ms) {
    const qint64 h = (std::max<qint64>(ms, 0) + 5) / 10;
    if (h < 6000) return QString("+%1.%2").arg(h / 100).arg(h % 100, 2, 10, QChar('0'));
    return "+" + LapText(ms);
}

}  // namespace

// --------------------------------------------------------------- dashboard

QByteArray DashboardPage(const QJsonArray& servers, const QJsonObject& latestRaces, const QJsonArray& tracks) {
    QString body = "<h2>Servers</h2>\n<table class=\"servers\" id=\"servers\">\n<thead><tr><th>Server</th><th>Status</th>"
                   "<th>Track</th><th>Session</th><th class=\"n\">Drivers</th><th>Watch</th></tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : servers) {
        const QJsonObject s = v.toObject();
        const QString key = E(s["key"]);
        body += "<tr data-key=\"" + key + "\"><td><span class=\"name\">" + E(s["name"]) +
                "</span> <span class=\"address\">" + key + " &middot; " + E(s["address"]) +
                "</span></td><td><span class=\"status " +
                E(s["status"]) + "\">" + E(s["status"]) + "</span></td><td class=\"track\">" + E(s["track"]) +
                "</td><td class=\"session\">" + E(s["session"]) + "</td><td class=\"drivers n\">" +
                QString::number(s["drivers"].toInt()) + "</td><td><a href=\"/live/" + key +
                "/\">live page</a> &middot; <a href=\"/live/" + key + "/overlay\">overlay</a></td></tr>\n";
    }
    // The latest races beside the tracks (one above the other on a narrow
    // screen).
    body += "</tbody>\n</table>\n<div class=\"columns\">\n<section>\n<h2>Latest races</h2>\n" +
            RaceRows(latestRaces["races"].toArray(), true);
    body += "<p class=\"more\"><a href=\"/races\">All races &rarr;</a></p>\n</section>\n<section>\n<h2>Tracks</h2>\n"
            "<table class=\"tracks\">\n<thead><tr><th>Track</th><th class=\"n\">Sessions</th><th class=\"n\">Best lap</th>"
            "<th>By</th></tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : tracks) {
        const QJsonObject t = v.toObject();
        body += "<tr><td>" + TrackLink(t["track"]) + "</td><td class=\"n\">" + QString::number(t["races"].toInt()) +
                "</td><td class=\"n\">" + LapText(t["best_ms"].toInteger()) + "</td><td>" +
                DriverLink(t["best_name"]) + "</td></tr>\n";
    }
    if (tracks.isEmpty()) body += "<tr><td colspan=\"4\" class=\"none\">No laps yet.</td></tr>\n";
    body += "</tbody>\n</table>\n</section>\n</div>\n";
    return Page("Dashboard", body, "/static/dashboard.js");
}

// ------------------------------------------------------------------- races

QByteArray RacesPage(const QJsonObject& races, const RaceFilter& filter, const QStringList& servers) {
    QStringList shown;
    if (!filter.server.isEmpty()) shown << "on server " + E(filter.server);
    if (!filter.track.isEmpty()) shown << "on " + E(filter.track);
    if (!filter.driver.isEmpty()) shown << "with " + E(filter.driver);
    QString body = "<h1>Races" + (shown.isEmpty() ? QString() : " " + shown.join(" ")) + "</h1>\n";
    // The filters as a plain GET form: a browser sends it as the links do.
    auto field = [](const char* name, const char* label, const QString& value, const char* list) {
        return QString("<label>%1 <input name=\"%2\" value=\"%3\"%4 autocomplete=\"off\"></label>\n")
            .arg(label, name, E(value), list ? QString(" list=\"%1\"").arg(list) : QString());
    };
    body += "<form class=\"filter\" method=\"get\" action=\"/races\">\n" +
            field("server", "Server", filter.server, "server-keys") + field("track", "Track", filter.track, nullptr) +
            field("driver", "Driver", filter.driver, nullptr) + "<button type=\"submit\">Show</button>\n";
    if (!shown.isEmpty()) body += "<a href=\"/races\">all races</a>\n";
    body += "<datalist id=\"server-keys\">";
    for (const QString& key : servers) body += "<option value=\"" + E(key) + "\">";
    body += "</datalist>\n</form>\n";
    body += RaceRows(races["races"].toArray(), true);
    const int page = races["page"].toInt(), pages = std::max(races["pages"].toInt(), 1);
    // Every value percent-encoded, '+' too: the hub reads a '+' in a query
    // as a space, as browsers write one in a form.
    auto link = [&](int to, const QString& text) {
        QString query;
        for (const auto& [name, value] : {std::pair{"server", filter.server}, std::pair{"track", filter.track},
                                          std::pair{"driver", filter.driver}})
            if (!value.isEmpty()) query += QString(name) + "=" + Seg(value) + "&";
        return "<a href=\"/races?" + E(query) + "page=" + QString::number(to) + "\">" + text + "</a>";
    };
    body += "<p class=\"pages\">";
    // Past the last page (the list shrank, or a typed URL), "newer" leads back to the last one.
    if (page > 1) body += link(std::min(page - 1, pages), "&larr; newer") + " ";
    body += QString("page %1 of %2").arg(page).arg(pages);
    if (page < pages) body += " " + link(page + 1, "older &rarr;");
    body += "</p>\n";
    return Page("Races", body);
}

// ------------------------------------------------------------- race report

namespace {

// The colour slot of the driver in `place` (0-based) on the charts: a
// stored race has no slots, so the first places take slots whose colours
// stand apart on the charts' dark ground, the rest the other slots in turn.
int ChartSlot(int place) {
    static const std::vector<int> order = [] {
        std::vector<int> o{0, 2, 17, 4, 19, 22, 13, 10, 28, 20};
        for (int slot = 0; slot < MaxPlayers; ++slot)
            if (std::find(o.begin(), o.end(), slot) == o.end()) o.push_back(slot);
        return o;
    }();
    return order[static_cast<std::size_t>(place) % order.size()];
}

// The stored race as the report's session: each driver's laps in order,
// their times at the line, and from those the positions and gaps at each
// line (everyone starts together, so the order of the times at the line is
// the order of crossing).
record::SessionReport SessionOf(const QJsonObject& race) {
    record::SessionReport s;
    s.track = race["track"].toString().toStdString();
    s.mode = race["kind"].toString() == "race" ? rmRace : rmQualify;
    s.laps = static_cast<std::uint32_t>(std::max(0, RaceLaps(race)));
    s.minutes = static_cast<std::uint32_t>(std::max(0, race["minutes"].toInt()));
    s.ended = race["state"].toString() == "finished";
    std::map<QString, std::map<int, std::int32_t>> laps;  // name -> lap -> hundredths
    for (const QJsonValue& v : race["laps"].toArray()) {
        const QJsonObject lap = v.toObject();
        laps[lap["name"].toString()][lap["lap"].toInt()] = static_cast<std::int32_t>(lap["ms"].toInteger() / 10);
    }
    const QJsonArray results = race["results"].toArray();
    std::int64_t winnerTotal = 0;
    int winnerLaps = 0;
    for (const QJsonValue& v : results) {
        const QJsonObject r = v.toObject();
        if (r["pos"].toInt() == 1) {
            winnerTotal = r["total_ms"].toInteger() / 10;
            winnerLaps = r["laps"].toInt();
        }
    }
    int slot = 0;
    for (const QJsonValue& v : results) {
        const QJsonObject r = v.toObject();
        record::DriverReport d;
        const QString name = r["name"].toString();
        d.name = Utf8ToWindows1252(name.toStdString());
        d.car = Utf8ToWindows1252(r["car"].toString().toStdString());
        d.slot = ChartSlot(slot++);
        d.position = r["pos"].toInt();
        d.finished = r["finished"].toBool();
        d.bestHundredths = static_cast<std::int32_t>(r["best_ms"].toInteger() / 10);
        d.totalHundredths = static_cast<std::int32_t>(r["total_ms"].toInteger() / 10);
        for (const auto& [number, time] : laps[name]) {
            d.laps.push_back(time);
            d.lapEnd.push_back((d.lapEnd.empty() ? 0 : d.lapEnd.back()) + time);
        }
        if (s.mode == rmRace && d.totalHundredths > 0) {
            if (d.position == 1) d.totalOrGap = record::HundredthsText(d.totalHundredths);
            else if (r["laps"].toInt() < winnerLaps)
                d.totalOrGap = "+" + std::to_string(winnerLaps - r["laps"].toInt()) + " Laps";
            else if (winnerTotal > 0 && d.totalHundredths >= winnerTotal)
                d.totalOrGap = "+" + record::HundredthsText(static_cast<std::int32_t>(d.totalHundredths - winnerTotal));
        } else if (s.mode == rmQualify && d.bestHundredths > 0) {
            d.totalOrGap = record::HundredthsText(d.bestHundredths);
        }
        s.drivers.push_back(std::move(d));
    }
    // Positions and gaps at each line.
    const int most = s.LapCount();
    for (int k = 0; k < most; ++k) {
        std::vector<std::pair<std::int32_t, std::size_t>> at;
        for (std::size_t i = 0; i < s.drivers.size(); ++i)
            if (k < static_cast<int>(s.drivers[i].lapEnd.size())) at.emplace_back(s.drivers[i].lapEnd[k], i);
        std::stable_sort(at.begin(), at.end());
        for (std::size_t p = 0; p < at.size(); ++p) {
            record::DriverReport& d = s.drivers[at[p].second];
            d.positionAtLap.push_back(static_cast<int>(p) + 1);
            d.gapAtLap.push_back(at[p].first - at.front().first);
        }
    }
    return s;
}

}  // namespace

QByteArray RacePage(const QJsonObject& race) {
    const QString id = QString::number(race["id"].toInteger());
    // Each name of the tables links to the driver's page, by the name as
    // the store holds it.
    const QJsonArray results = race["results"].toArray();
    auto href = [&results](const std::string& name) {
        for (const QJsonValue& v : results) {
            const QString stored = v.toObject()["name"].toString();
            if (Utf8ToWindows1252(stored.toStdString()) == name) return ("/drivers/" + Seg(stored)).toStdString();
        }
        return std::string();
    };
    std::ostringstream tables;
    record::WriteSessionTables(tables, SessionOf(race), href);
    // "2026-12-09 21:04–21:19 UTC"; the end's date only when it differs.
    const QString from = When(race["started"]), to = When(race["ended"]);
    const QString span = to.isEmpty() ? from
                         : from.left(10) == to.left(10) ? from.chopped(4) + "&ndash;" + to.mid(11)
                                                        : from + " &ndash; " + to;
    QString body = "<h1>" + Kind(race) + " on " + TrackLink(race["track"]) + "</h1>\n<p class=\"meta\">Server " +
                   E(race["server"]) + " &middot; " + span + " &middot; " + StateText(race);
    if (StateClass(race) == "interrupted" && race["why"].isString()) body += " (" + E(race["why"]) + ")";
    body += " &middot; <a href=\"/races/" + id + "/recording\">Download the recording</a></p>\n"
            "<section class=\"report\">\n" + QString::fromStdString(tables.str()) + "</section>\n";
    body += PenaltySection(race["penalties"].toArray(), false);
    // The finishing order is the report's results above; the classification
    // is that order with the standing penalties applied.
    body += "<h2>Classification after penalties</h2>\n<table class=\"classification\">\n<thead><tr><th>Pos</th>"
            "<th>Driver</th><th>Finished</th><th>Laps</th><th>Time</th><th>Penalty</th></tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : race["classification"].toArray()) {
        const QJsonObject c = v.toObject();
        const QString status = c["status"].toString();
        const qint64 penalty = c["penalty_ms"].toInteger();
        body += "<tr><td class=\"n\">" +
                (status == "dsq" ? QString("DSQ") : status == "nc" ? QString("NC") : QString::number(c["pos"].toInt())) +
                "</td><td>" + DriverLink(c["name"]) + "</td><td class=\"n\">" + QString::number(c["finish_pos"].toInt()) +
                "</td><td class=\"n\">" + QString::number(c["laps"].toInt()) + "</td><td class=\"n\">" +
                LapText(c["total_ms"].toInteger()) + "</td><td class=\"n penalty\">" +
                (penalty > 0 ? "+" + SecondsText(penalty) : QString()) + "</td></tr>\n";
    }
    body += "</tbody>\n</table>\n";
    return Page(Kind(race) + " on " + race["track"].toString(), body, {}, true);
}

// ----------------------------------------------------------------- drivers

QByteArray DriverPage(const QJsonObject& driver) {
    const QString name = driver["name"].toString();
    const QJsonArray races = driver["races"].toArray();
    auto figure = [](const char* kind, const char* label, qint64 n) {
        return QString("<div class=\"%1\"><dt>%2</dt><dd>%3</dd></div>").arg(kind, label).arg(n);
    };
    QString body = "<h1>" + E(name) + "</h1>\n<dl class=\"figures\">" + figure("sessions", "Sessions", races.size()) +
                   figure("wins", "Wins", driver["wins"].toInt()) + figure("podiums", "Podiums", driver["podiums"].toInt()) +
                   "</dl>\n<p class=\"meta\">Wins and podiums count finished races. <a href=\"/races?driver=" + Seg(name) +
                   "\">Every race with " + E(name) + " &rarr;</a></p>\n";
    body += "<h2>Best laps</h2>\n<table class=\"best\">\n<thead><tr><th>Track</th><th>Car</th><th class=\"n\">Best lap</th>"
            "</tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : driver["best_laps"].toArray()) {
        const QJsonObject b = v.toObject();
        body += "<tr><td>" + TrackLink(b["track"]) + "</td><td>" + E(b["car"]) + "</td><td class=\"n\"><a href=\"/races/" +
                QString::number(b["race"].toInteger()) + "\">" + LapText(b["ms"].toInteger()) + "</a></td></tr>\n";
    }
    body += "</tbody>\n</table>\n<h2>Sessions</h2>\n<table class=\"history\">\n<thead><tr><th>Started</th><th>Server</th>"
            "<th>Track</th><th>Session</th><th class=\"n\">Pos</th><th class=\"n\">Best lap</th></tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : races) {
        const QJsonObject r = v.toObject();
        const QString id = QString::number(r["id"].toInteger());
        const int pos = r["pos"].toInt();
        body += "<tr><td><a href=\"/races/" + id + "\">" + When(r["started"]) + "</a></td><td>" + E(r["server"]) +
                "</td><td>" + TrackLink(r["track"]) + "</td><td>" +
                (r["kind"].toString() == "race" ? "Race" : "Qualifying") + "</td><td class=\"n\">" +
                (pos > 0 ? QString::number(pos) : QString("&ndash;")) + "</td><td class=\"n\">" +
                LapText(r["best_ms"].toInteger()) + "</td></tr>\n";
    }
    body += "</tbody>\n</table>\n";
    return Page(name, body);
}

// ------------------------------------------------------------------ tracks

QByteArray TrackPage(const QJsonObject& track, const QString& car) {
    const QString code = track["track"].toString();
    const QJsonArray laps = track["laps"].toArray();
    QString body = "<h1>" + E(code) + (car.isEmpty() ? QString() : " in the " + E(car)) + "</h1>\n";
    body += "<p class=\"meta\">Each driver's best lap here, fastest first. <a href=\"/races?track=" + Seg(code) +
            "\">Races on " + E(code) + " &rarr;</a></p>\n";
    // Every car with a lap here, as a filter; the one shown is no link.
    body += "<p class=\"filter\">Car: " +
            QString(car.isEmpty() ? "<b>all</b>" : "<a href=\"/tracks/" + Seg(code) + "\">all</a>");
    for (const QJsonValue& v : track["cars"].toArray()) {
        const QString c = v.toString();
        body += " " + (c == car ? "<b>" + E(c) + "</b>"
                                : "<a href=\"/tracks/" + Seg(code) + "?car=" + Seg(c) + "\">" + E(c) + "</a>");
    }
    body += "</p>\n<table class=\"leaderboard\">\n<thead><tr><th class=\"n\">#</th><th>Driver</th><th>Car</th>"
            "<th class=\"n\">Best lap</th><th class=\"n\">Gap</th></tr></thead>\n<tbody>\n";
    const qint64 first = laps.isEmpty() ? 0 : laps.first().toObject()["ms"].toInteger();
    int n = 0;
    for (const QJsonValue& v : laps) {
        const QJsonObject l = v.toObject();
        const qint64 ms = l["ms"].toInteger();
        ++n;
        body += "<tr><td class=\"n\">" + QString::number(n) + "</td><td>" + DriverLink(l["name"]) + "</td><td>" +
                E(l["car"]) + "</td><td class=\"n\"><a href=\"/races/" + QString::number(l["race"].toInteger()) + "\">" +
                LapText(ms) + "</a></td><td class=\"n\">" + (n > 1 ? GapText(ms - first) : QString()) + "</td></tr>\n";
    }
    if (laps.isEmpty()) body += "<tr><td colspan=\"5\" class=\"none\">No laps on this track yet.</td></tr>\n";
    body += "</tbody>\n</table>\n";
    return Page(code, body);
}

// ------------------------------------------------------------ championships

QByteArray ChampionshipsPage(const QJsonArray& championships) {
    QString body = "<h1>Championships</h1>\n<ul class=\"championships\">\n";
    for (const QJsonValue& v : championships) {
        const QJsonObject c = v.toObject();
        body += "<li><a href=\"/championships/" + Seg(c["key"].toString()) + "\">" + E(c["title"]) + "</a></li>\n";
    }
    if (championships.isEmpty()) body += "<li class=\"none\">No championship in the hub's config.</li>\n";
    return Page("Championships", body + "</ul>\n");
}

QByteArray ChampionshipPage(const QJsonObject& table) {
    const QString title = table["title"].toString();
    const QJsonArray rounds = table["rounds"].toArray();
    QString body = "<h1>" + E(title) + "</h1>\n<p class=\"meta\">" + QString::number(rounds.size()) +
                   " rounds. Dropped rounds are struck through; points penalties come off the total.</p>\n";
    body += "<h2>Standings</h2>\n<table class=\"standings\">\n<thead><tr><th>Pos</th><th>Driver</th>";
    for (int i = 0; i < rounds.size(); ++i) {
        const QJsonObject round = rounds[i].toObject();
        const double m = round["multiplier"].toDouble();
        body += "<th class=\"n\"><a href=\"/races/" + QString::number(round["race"].toInteger()) + "\">R" +
                QString::number(i + 1) + "</a>" + (m != 1.0 ? " &times;" + QString::number(m) : QString()) + "</th>";
    }
    body += "<th class=\"n\">Penalty</th><th class=\"n\">Points</th></tr></thead>\n<tbody>\n";
    for (const QJsonValue& v : table["standings"].toArray()) {
        const QJsonObject s = v.toObject();
        const QString person = s["driver"].toString();
        QStringList raced;
        for (const QJsonValue& n : s["names"].toArray())
            if (n.toString() != person || s["names"].toArray().size() > 1) raced << DriverLink(n);
        body += "<tr data-driver=\"" + E(person) + "\"><td class=\"n\">" + QString::number(s["pos"].toInt()) + "</td><td>" +
                E(person) + (raced.isEmpty() ? QString() : " <span class=\"names\">as " + raced.join(", ") + "</span>") +
                "</td>";
        QSet<int> dropped;
        for (const QJsonValue& d : s["dropped"].toArray()) dropped.insert(d.toInt());
        const QJsonArray points = s["rounds"].toArray();
        for (int i = 0; i < points.size(); ++i) {
            const QString text = points[i].isDouble() ? QString::number(points[i].toDouble()) : QString("&ndash;");
            body += dropped.contains(i) ? "<td class=\"n dropped\" title=\"dropped\">" + text + "</td>"
                                        : "<td class=\"n\">" + text + "</td>";
        }
        const qint64 penalty = s["penalty_points"].toInteger();
        body += "<td class=\"n penalty\">" + (penalty > 0 ? "&minus;" + QString::number(penalty) : QString()) +
                "</td><td class=\"n total\">" + QString::number(s["points"].toDouble()) + "</td></tr>\n";
    }
    if (table["standings"].toArray().isEmpty())
        body += "<tr><td colspan=\"4\" class=\"none\">No rounds yet.</td></tr>\n";
    body += "</tbody>\n</table>\n<h2>Rounds</h2>\n<table class=\"rounds\">\n<thead><tr><th>Round</th><th>Started</th>"
            "<th>Server</th><th>Track</th><th>Points</th><th>Winner</th></tr></thead>\n<tbody>\n";
    for (int i = 0; i < rounds.size(); ++i) {
        const QJsonObject round = rounds[i].toObject();
        body += "<tr><td class=\"n\">" + QString::number(i + 1) + "</td><td><a href=\"/races/" +
                QString::number(round["race"].toInteger()) + "\">" + When(round["started"]) + "</a></td><td>" +
                E(round["server"]) + "</td><td>" + TrackLink(round["track"]) + "</td><td class=\"n\">&times;" +
                QString::number(round["multiplier"].toDouble()) + "</td><td>" + E(round["winner"]) + "</td></tr>\n";
    }
    body += "</tbody>\n</table>\n" + PenaltySection(table["penalties"].toArray(), true);
    return Page(title, body);
}

}  // namespace gs::hub
