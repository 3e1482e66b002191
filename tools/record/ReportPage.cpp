// The two texts made from a recording's analysis: the `--info` summary and the
// self-contained HTML race report (inline CSS and SVG, nothing fetched).
//
//   Info           - length, datagrams, server, tracks, sessions, drivers
//   HTML helpers   - escaping, colours, numbers
//   Charts         - lap chart and race trace as SVG
//   Page           - one section per session
#include "RaceReport.h"

#include "common/Text.h"
#include "connection/RaceState.h"
#include "view/SceneText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace gs::record {

namespace {

std::string SessionTitle(const SessionReport& s) {
    if (s.mode == rmRace) return "Race, " + std::to_string(s.laps) + " laps on " + s.track;
    return "Qualifying, " + std::to_string(s.minutes) + " minutes on " + s.track;
}

std::string Clock(double seconds) {
    return HundredthsText(static_cast<std::int32_t>(std::lround(std::max(seconds, 0.0) * 100)));
}

std::string UtcText(std::int64_t unixUs) {
    const std::time_t t = static_cast<std::time_t>(unixUs / 1000000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string Utf8(const std::string& serverText) { return Windows1252ToUtf8(serverText); }

std::string Html(const std::string& serverText) {
    std::string out;
    for (const char c : Utf8(serverText)) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Colour(int slot) {
    const Rgb c = PlayerColour(slot);
    auto channel = [](float v) {
        return std::to_string(static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)));
    };
    return "rgb(" + channel(c.r) + "," + channel(c.g) + "," + channel(c.b) + ")";
}

// One decimal, as printf's "%.1f" in the C locale (a chart has hundreds of
// them: a stream each cost more than the rest of the chart).
std::string Num(double v) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1);
    return end.ec == std::errc() ? std::string(text, end.ptr) : std::string("0.0");
}

// ------------------------------------------------------------------- charts

constexpr double kLeft = 40, kRight = 170, kTop = 20, kBottom = 30, kWidth = 820;

void LapChart(std::ostream& out, const SessionReport& s) {
    const int laps = s.LapCount();
    const int field = static_cast<int>(s.drivers.size());
    if (laps == 0 || field == 0) return;
    const double rowH = 18, height = kTop + kBottom + rowH * std::max(field - 1, 1);
    const double plotW = kWidth - kLeft - kRight;
    auto x = [&](int lap) { return kLeft + (laps == 1 ? plotW / 2 : plotW * (lap - 1) / (laps - 1)); };
    auto y = [&](int position) { return kTop + rowH * (position - 1); };
    out << "<h3>Lap chart</h3>\n<svg class=\"chart lapchart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth
        << "\" height=\"" << Num(height) << "\" role=\"img\" aria-label=\"position at the end of each lap\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#111\"/>\n";
    for (int p = 1; p <= field; ++p)
        out << "<text x=\"" << Num(kLeft - 8) << "\" y=\"" << Num(y(p) + 4) << "\" text-anchor=\"end\">" << p
            << "</text>\n";
    for (int lap = 1; lap <= laps; ++lap)
        out << "<text x=\"" << Num(x(lap)) << "\" y=\"" << Num(height - 8) << "\" text-anchor=\"middle\">" << lap
            << "</text>\n";
    for (const DriverReport& d : s.drivers) {
        if (d.positionAtLap.empty()) continue;
        std::ostringstream points, positions;
        for (std::size_t k = 0; k < d.positionAtLap.size(); ++k) {
            points << (k ? " " : "") << Num(x(static_cast<int>(k) + 1)) << "," << Num(y(d.positionAtLap[k]));
            positions << (k ? " " : "") << d.positionAtLap[k];
        }
        const std::string colour = Colour(d.slot);
        out << "<polyline data-driver=\"" << Html(d.name) << "\" data-positions=\"" << positions.str() << "\" points=\""
            << points.str() << "\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\"><title>" << Html(d.name)
            << "</title></polyline>\n";
        const double lx = x(static_cast<int>(d.positionAtLap.size())), ly = y(d.positionAtLap.back());
        out << "<circle cx=\"" << Num(lx) << "\" cy=\"" << Num(ly) << "\" r=\"3\" fill=\"" << colour << "\"/>\n"
            << "<text x=\"" << Num(lx + 8) << "\" y=\"" << Num(ly + 4) << "\" fill=\"" << colour << "\">"
            << Html(d.name) << "</text>\n";
    }
    out << "</svg>\n";
}

void RaceTrace(std::ostream& out, const SessionReport& s) {
    std::int32_t maxTime = 0, maxGap = 0;
    for (const DriverReport& d : s.drivers) {
        if (!d.lapEnd.empty()) maxTime = std::max(maxTime, d.lapEnd.back());
        for (const std::int32_t g : d.gapAtLap) maxGap = std::max(maxGap, g);
    }
    if (maxTime == 0) return;
    const double height = 320, plotW = kWidth - kLeft - kRight, plotH = height - kTop - kBottom;
    const double gapTop = std::max(1.0, std::ceil(maxGap / 100.0));
    auto x = [&](std::int32_t t) { return kLeft + plotW * t / maxTime; };
    auto y = [&](std::int32_t gap) { return kTop + plotH * (gap / 100.0) / gapTop; };
    out << "<h3>Race trace</h3>\n<svg class=\"chart racetrace\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth
        << "\" height=\"" << Num(height) << "\" role=\"img\" aria-label=\"gap to the leader at the end of each lap\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#111\"/>\n";
    const int steps = 4;
    for (int i = 0; i <= steps; ++i) {
        const double g = gapTop * i / steps;
        const double gy = kTop + plotH * i / steps;
        out << "<line x1=\"" << Num(kLeft) << "\" x2=\"" << Num(kLeft + plotW) << "\" y1=\"" << Num(gy) << "\" y2=\""
            << Num(gy) << "\" stroke=\"#333\"/>\n<text x=\"" << Num(kLeft - 6) << "\" y=\"" << Num(gy + 4)
            << "\" text-anchor=\"end\">+" << Num(g) << "</text>\n";
    }
    out << "<text x=\"" << Num(kLeft + plotW) << "\" y=\"" << Num(height - 8) << "\" text-anchor=\"end\">"
        << Clock(maxTime / 100.0) << "</text>\n<text x=\"" << Num(kLeft) << "\" y=\"" << Num(height - 8)
        << "\">0:00.00</text>\n";
    for (const DriverReport& d : s.drivers) {
        if (d.gapAtLap.empty()) continue;
        std::ostringstream points, gaps;
        points << Num(x(0)) << "," << Num(y(0));
        for (std::size_t k = 0; k < d.gapAtLap.size(); ++k) {
            points << " " << Num(x(d.lapEnd[k])) << "," << Num(y(d.gapAtLap[k]));
            gaps << (k ? " " : "") << d.gapAtLap[k];
        }
        const std::string colour = Colour(d.slot);
        out << "<polyline data-driver=\"" << Html(d.name) << "\" data-gaps=\"" << gaps.str() << "\" points=\""
            << points.str() << "\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\"><title>" << Html(d.name)
            << "</title></polyline>\n";
    }
    out << "</svg>\n";
}

// --------------------------------------------------------------------- page

// The driver's name, as a link when the page has one for him.
std::string NameCell(const DriverReport& d, const DriverHref& href) {
    const std::string to = href ? href(d.name) : std::string();
    if (to.empty()) return Html(d.name);
    return "<a href=\"" + Html(to) + "\">" + Html(d.name) + "</a>";
}

void ResultTable(std::ostream& out, const SessionReport& s, const DriverHref& href) {
    const bool race = s.mode == rmRace;
    out << "<table class=\"result\">\n<tr><th>Pos</th><th>Driver</th><th>Car</th><th>Laps</th><th>Best lap</th><th>"
        << (race ? "Total or gap" : "Gap") << "</th></tr>\n";
    for (const DriverReport& d : s.drivers) {
        out << "<tr data-driver=\"" << Html(d.name) << "\" data-position=\"" << d.position << "\"><td>"
            << (d.position ? std::to_string(d.position) : "&ndash;")
            << "</td><td><span class=\"swatch\" style=\"background:" << Colour(d.slot) << "\"></span>" << NameCell(d, href)
            << "</td><td>" << Html(d.car) << "</td><td>" << d.laps.size() << "</td><td>"
            << (d.bestHundredths ? HundredthsText(d.bestHundredths) : "") << "</td><td>"
            << (d.position == 0 ? "left" : Html(d.totalOrGap)) << "</td></tr>\n";
    }
    out << "</table>\n";
}

void LapTable(std::ostream& out, const SessionReport& s, const DriverHref& href) {
    const int laps = s.LapCount();
    if (laps == 0) return;
    out << "<h3>Lap times</h3>\n<table class=\"laps\">\n<tr><th>Driver</th>";
    for (int k = 1; k <= laps; ++k) out << "<th>" << k << "</th>";
    out << "</tr>\n";
    for (const DriverReport& d : s.drivers) {
        out << "<tr data-driver=\"" << Html(d.name) << "\"><td>" << NameCell(d, href) << "</td>";
        const auto best = std::min_element(d.laps.begin(), d.laps.end());
        for (int k = 0; k < laps; ++k) {
            if (k >= static_cast<int>(d.laps.size())) {
                out << "<td></td>";
                continue;
            }
            const bool isBest = d.laps.begin() + k == best;
            out << (isBest ? "<td class=\"best\" title=\"best lap\">" : "<td>") << HundredthsText(d.laps[k]) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table>\n";
}

constexpr const char* kStyle =
    R"(body{font-family:"Liberation Sans",Arial,sans-serif;margin:2em;color:#222;background:#fafafa}
h1{margin-bottom:0.2em}h2{margin-top:2em;border-bottom:2px solid #c00}p.meta{color:#555}
table{border-collapse:collapse;margin:0.5em 0}th,td{padding:3px 8px;border-bottom:1px solid #ddd;text-align:right}
th:nth-child(2),td:nth-child(2){text-align:left}table.laps td:first-child,table.laps th:first-child{text-align:left}
td.best{font-weight:bold;background:#e6f4e6}td.best::after{content:" \2605"}
.swatch{display:inline-block;width:0.8em;height:0.8em;margin-right:0.4em;border:1px solid #444;vertical-align:middle}
svg.chart{display:block;margin:0.5em 0}svg.chart text{font-size:11px;fill:#ccc;font-family:"Liberation Sans",Arial,sans-serif}
)";

}  // namespace

void WriteInfo(std::ostream& out, const RecordingReport& r) {
    out << "Recorded: " << UtcText(r.startUnixUs) << "\n"
        << "Length: " << Clock(r.lengthSeconds) << " (" << Num(r.lengthSeconds) << " s)\n"
        << "Datagrams: " << r.datagrams << "\n"
        << "Gaps: " << r.gaps << "\n"
        << "Server: " << Utf8(r.serverName) << "\n"
        << "Tracks:";
    for (const std::string& t : r.tracks) out << " " << t;
    out << "\nSessions: " << r.sessions.size() << "\n";
    for (std::size_t i = 0; i < r.sessions.size(); ++i) {
        const SessionReport& s = r.sessions[i];
        out << "  " << i + 1 << ". " << SessionTitle(s) << ", from " << Clock(s.startSeconds) << " to "
            << Clock(s.endSeconds) << (s.ended ? "" : " (not finished)");
        if (!s.HasTimes()) out << ", no lap completed";
        else if (!s.drivers.empty() && s.drivers.front().position == 1)
            out << (s.ended ? ", won by " : ", led by ") << Utf8(s.drivers.front().name);
        out << "\n";
    }
    out << "Drivers: " << r.drivers.size() << "\n";
    for (const std::string& d : r.drivers) out << "  " << Utf8(d) << "\n";
    if (!r.endNote.empty()) out << "Note: the recording ends early: " << r.endNote << "\n";
}

const char* ReportStyle() { return kStyle; }

void WriteSessionTables(std::ostream& out, const SessionReport& s, const DriverHref& href) {
    ResultTable(out, s, href);
    if (s.mode == rmRace) {
        LapChart(out, s);
        RaceTrace(out, s);
    }
    LapTable(out, s, href);
}

void WriteHtmlReport(std::ostream& out, const RecordingReport& r, const std::string& title) {
    const std::string server = r.serverName.empty() ? title : r.serverName;
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << Html(server)
        << " &ndash; race report</title>\n<style>\n"
        << kStyle << "</style>\n</head>\n<body>\n<h1>" << Html(server) << "</h1>\n<p class=\"meta\">Recorded "
        << UtcText(r.startUnixUs) << ", " << Clock(r.lengthSeconds) << " long; tracks:";
    for (const std::string& t : r.tracks) out << " " << Html(t);
    out << ".</p>\n";
    if (!r.endNote.empty()) out << "<p class=\"meta\">The recording ends early: " << Html(r.endNote) << ".</p>\n";
    if (std::none_of(r.sessions.begin(), r.sessions.end(), [](const SessionReport& s) { return s.HasTimes(); }))
        out << "<p>No session with laps or results in this recording.</p>\n";
    for (const SessionReport& s : r.sessions) {
        if (!s.HasTimes()) continue;  // started, but no lap was completed while recording
        out << "<section class=\"session\" data-kind=\"" << (s.mode == rmRace ? "race" : "qualifying")
            << "\" data-track=\"" << Html(s.track) << "\">\n<h2>" << Html(SessionTitle(s)) << "</h2>\n"
            << "<p class=\"meta\">From " << Clock(s.startSeconds) << " to " << Clock(s.endSeconds)
            << " of the recording" << (s.ended ? "" : "; the session had not ended") << ".</p>\n";
        WriteSessionTables(out, s);
        out << "</section>\n";
    }
    out << "</body>\n</html>\n";
}

}  // namespace gs::record
