// What a recording holds, computed by replaying its datagrams through the core's
// connection and race model: the server, tracks, drivers and, per session, the
// result table (ranked by the program's standings rules), each driver's laps, the
// lap chart (positions at the line) and the race trace (gaps to the leader).
// Texts are kept as the server sent them (Windows-1252, colour codes removed);
// the writers turn them into UTF-8.
#pragma once

#include "Recording.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace gs::record {

struct DriverReport {
    std::string name;
    std::string car;
    int slot = 0;      // player slot at the end of the session (its colour)
    int position = 0;  // 1-based; 0 when the driver left before the end
    bool finished = false;
    std::string totalOrGap;              // the standings table's text
    std::int32_t bestHundredths = 0;     // 0: no lap
    std::int32_t totalHundredths = 0;    // the result's total time; 0: no result
    std::vector<std::int32_t> laps;      // lap times, hundredths
    std::vector<std::int32_t> lapEnd;    // session time at the end of each lap, hundredths
    std::vector<int> positionAtLap;      // position at the line after each lap
    std::vector<std::int32_t> gapAtLap;  // hundredths behind the first to finish that lap
};

struct SessionReport {
    std::string track;
    std::uint32_t mode = 0;                   // rmRace or rmQualify
    std::uint32_t laps = 0;                   // race length
    std::uint32_t minutes = 0;                // qualifying length
    double startSeconds = 0, endSeconds = 0;  // in the recording
    bool ended = false;                       // a race-end packet closed it
    std::vector<DriverReport> drivers;        // in result order
    int LapCount() const;                     // most laps any driver completed
    bool HasTimes() const;                    // a lap or a result to report
};

struct RecordingReport {
    double lengthSeconds = 0;
    std::int64_t startUnixUs = 0;
    std::size_t datagrams = 0;
    std::size_t gaps = 0;
    std::string serverName;               // the last one seen, colour codes removed
    std::vector<std::string> tracks;      // in order of first appearance
    std::vector<std::string> drivers;     // every name seen, in order of first appearance
    std::vector<SessionReport> sessions;  // every session that started in the recording
    std::string endNote;                  // why the records end early, or empty
};

// `filesDir` holds the tracks' path files; the ranking needs each track's node
// count and finish node. A track whose path file is missing is ranked by lap and
// node alone.
RecordingReport AnalyseRecording(const peers::Recording& recording, const std::filesystem::path& filesDir);

// The text of `--info`.
void WriteInfo(std::ostream& out, const RecordingReport& report);
// One self-contained HTML page: tables, lap chart and race trace as inline SVG.
void WriteHtmlReport(std::ostream& out, const RecordingReport& report, const std::string& title);

// Where a driver's name links to: an address (ASCII, e.g. percent-encoded)
// for the name as the server sent it, or "" for none.
using DriverHref = std::function<std::string(const std::string& name)>;

// One session's result table, lap chart and race trace (races) and lap
// times, as the report shows them; the page's style sheet for them. With
// `href`, the names in the tables link to each driver's page.
void WriteSessionTables(std::ostream& out, const SessionReport& session, const DriverHref& href = {});
const char* ReportStyle();

// "m:ss.hh" of a time in hundredths.
std::string HundredthsText(std::int32_t hundredths);

}  // namespace gs::record
