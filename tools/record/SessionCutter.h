// Cuts a race server's datagrams into sessions, as a spectator saw them: the
// datagrams go through the core's connection and race model, a session opens
// at a race start and closes at the race end (once the car info after it
// shows the last finisher), at the next start, or when told to, and its
// result table is the standings' ranking at that moment.
//
// The race report reads a whole recording through it; the league's hub feeds
// it each datagram as it arrives and stores what it hears as it happens.
//
//   SessionEvents - what a live reader hears: a session opened, a driver's
//                   lap, a session closed with its report
//   SessionCutter - the cutting; time is whatever clock the caller uses
//                   (a recording's own, or the hub's arrival times)
#pragma once

#include "RaceReport.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace gs::record {

class SessionEvents {
public:
    virtual ~SessionEvents() = default;
    // A session began: track, mode, length and start are filled in.
    virtual void Opened(const SessionReport& session) { (void)session; }
    // A driver completed lap `lap` (1-based within this session) of
    // `hundredths`; names and car as the server sent them (Windows-1252,
    // colour codes removed).
    virtual void Lap(const std::string& name, const std::string& car, int lap, std::int32_t hundredths,
                     double atSeconds) {
        (void)name, (void)car, (void)lap, (void)hundredths, (void)atSeconds;
    }
    // The session is over; `session.ended` tells whether a race end closed it.
    virtual void Closed(const SessionReport& session) { (void)session; }
};

class SessionCutter {
public:
    // `filesDir` holds the tracks' path files (the ranking needs each
    // track's node count and finish node). With `openOnStateChange`, a
    // state packet that shows a race or qualifying on another track or in
    // another mode than the last one seen opens a session too: a spectator
    // that joins during a session keeps its rest.
    SessionCutter(const std::filesystem::path& filesDir, SessionEvents& events, bool openOnStateChange = false);
    ~SessionCutter();
    SessionCutter(const SessionCutter&) = delete;
    SessionCutter& operator=(const SessionCutter&) = delete;

    // One datagram at `timeUs` of the caller's clock, or a gap in the
    // records (a lost connection), which the report counts.
    void Feed(const peers::Record& record, RecordingReport& report);
    // Closes the open session, if any: as ended when a race end came (the
    // car info that would show the last finisher may never come), as cut
    // short otherwise.
    void Finish();
    // The connection was lost: the open session closes as Finish closes
    // it, and the next state seen after joining again opens a new one.
    void Lost();
    bool Open() const;

private:
    class Analysis;
    std::unique_ptr<Analysis> analysis_;
};

}  // namespace gs::record
