// Keeps one watched server's sessions: every datagram the feed receives is
// cut into sessions (the race report's own cutter, so the store says what a
// report of the recording would), each session gets a recording of its own,
// and the store hears of it as it happens.
//
//   - A session is stored from its first lap or result on (one with neither
//     is not kept: its recording is removed when it ends); each lap is one
//     transaction, the results and the end state another.
//   - A session ends "finished" at the race end, "interrupted" with a reason
//     at the next start, a change of track or mode, a lost server or the
//     hub's stop.
//   - A store or disk that refuses a write is said once per session in the
//     log; the live pages are another matter and go on.
//
// Times: the feed's arrival times (steady clock, ns) are turned into wall
// time by one reading of both clocks at construction.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ReplayServer.h"
#include "SessionCutter.h"
#include "Store.h"

namespace gs::peers {
class RecordingWriter;
}

namespace gs::hub {

class SessionKeeper final : public record::SessionEvents {
public:
    using Log = std::function<void(const QString& line)>;

    // `recordings` is DATA/recordings; this server's go to recordings/KEY/.
    SessionKeeper(QString key, Store& store, std::filesystem::path recordings, std::filesystem::path files, Log log);
    ~SessionKeeper() override;

    // A datagram as it arrived (ns of the steady clock).
    void Datagram(const std::uint8_t* data, std::size_t size, std::int64_t arrivalNs);
    // The connection to the server was lost (timed out): the open session
    // ends as interrupted, and joining again opens a new one.
    void Lost(const QString& why);
    // The hub stops: the open session ends as interrupted.
    void Stop(const QString& why);

    bool SessionOpen() const { return cutter_.Open(); }
    std::int64_t StoredSession() const { return stored_; }

private:
    void Opened(const record::SessionReport& session) override;
    void Lap(const std::string& name, const std::string& car, int lap, std::int32_t hundredths,
             double atSeconds) override;
    void Closed(const record::SessionReport& session) override;

    std::int64_t WallMs(std::int64_t arrivalNs) const;
    // Appends the datagram to the open session's recording, if any.
    void Record(const peers::Record& record, std::int64_t arrivalNs);
    // Stores the session if it is not stored yet; false when the store
    // refused.
    bool EnsureStored();
    void Refused(const char* what, const std::exception& e);
    void CloseRecording(bool keep);

    QString key_;
    Store& store_;
    std::filesystem::path folder_;
    std::filesystem::path files_;
    Log log_;
    record::SessionCutter cutter_;
    record::RecordingReport scratch_;
    raceserver::RecordedState known_;  // what a spectator joining now would be told

    std::int64_t steadyOriginNs_ = 0, wallOriginMs_ = 0;
    std::int64_t nowNs_ = 0;  // arrival of the datagram being fed

    // The open session.
    SessionStart start_;
    std::int64_t startNs_ = 0;
    std::int64_t stored_ = 0;  // its id in the store; 0 until its first lap or result
    bool refused_ = false;     // the store refused a write this session (said once)
    QString why_;              // why it is being closed, when the keeper closes it
    const char* cutBy_ = "";   // why the datagram being fed would cut it short
    std::unique_ptr<peers::RecordingWriter> writer_;
    std::filesystem::path recording_;
    bool recordingFailed_ = false;
};

}  // namespace gs::hub
