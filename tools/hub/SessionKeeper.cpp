#include "SessionKeeper.h"

#include <QDateTime>

#include <chrono>
#include <system_error>

#include "Recording.h"
#include "common/Platform.h"
#include "common/Wire.h"
#include "connection/RaceState.h"

namespace gs::hub {

namespace {

// "2026-12-09T210405Z-AS1-race.gsrec": sorts in time order, and says what
// it holds to someone looking at the folder.
std::string RecordingName(std::int64_t startedMs, const std::string& track, const QString& kind) {
    const QString stamp = QDateTime::fromMSecsSinceEpoch(startedMs, Qt::UTC).toString("yyyy-MM-ddTHHmmssZ");
    std::string safeTrack;
    for (const char c : track)
        if (std::isalnum(static_cast<unsigned char>(c))) safeTrack += c;
    return stamp.toStdString() + "-" + (safeTrack.empty() ? "track" : safeTrack) + "-" + kind.toStdString();
}

}  // namespace

SessionKeeper::SessionKeeper(QString key, Store& store, std::filesystem::path recordings, std::filesystem::path files,
                             Log log)
    : key_(std::move(key)),
      store_(store),
      folder_(std::move(recordings) / key_.toStdString()),
      files_(std::move(files)),
      log_(std::move(log)),
      cutter_(files_, *this, /*openOnStateChange=*/true) {
    steadyOriginNs_ = SteadyClock().Counter();
    wallOriginMs_ = QDateTime::currentMSecsSinceEpoch();
}

SessionKeeper::~SessionKeeper() { CloseRecording(stored_ != 0); }

std::int64_t SessionKeeper::WallMs(std::int64_t arrivalNs) const {
    return wallOriginMs_ + (arrivalNs - steadyOriginNs_) / 1000000;
}

void SessionKeeper::Datagram(const std::uint8_t* data, std::size_t size, std::int64_t arrivalNs) {
    nowNs_ = arrivalNs;
    peers::Record record;
    record.timeUs = static_cast<std::uint64_t>(std::max<std::int64_t>(0, arrivalNs - steadyOriginNs_) / 1000);
    record.kind = peers::RecordKind::Datagram;
    record.bytes.assign(data, data + size);
    // A race start or a state packet may open a session: it goes to the
    // recording of the session it opened. Anything else belongs to the
    // session open when it came, even the car info that closes it, so a
    // replay of the recording ends the session as the hub saw it end.
    const DatagramView view(data, size);
    const bool opens = view.IsType("RST") || view.IsType("STA");
    cutBy_ = view.IsType("RST") ? "the next session began before this one ended"
             : view.IsType("STA") ? "the server changed its track or mode"
                                  : "";
    if (!opens) Record(record, arrivalNs);
    cutter_.Feed(record, scratch_);
    scratch_ = {};
    if (opens) Record(record, arrivalNs);
    known_.Apply(record.bytes);
}

void SessionKeeper::Record(const peers::Record& record, std::int64_t arrivalNs) {
    if (!writer_ || recordingFailed_) return;
    const auto at = static_cast<std::uint64_t>(std::max<std::int64_t>(0, arrivalNs - startNs_) / 1000);
    if (!writer_->Append(at, peers::RecordKind::Datagram, record.bytes)) {
        recordingFailed_ = true;
        log_(key_ + ": cannot write the recording " + QString::fromStdString(recording_.string()) +
             " (disk full?); it ends here, the session is still stored");
    }
}

void SessionKeeper::Lost(const QString& why) {
    why_ = why;
    cutter_.Lost();
    why_.clear();
}

void SessionKeeper::Stop(const QString& why) {
    why_ = why;
    cutter_.Finish();
    why_.clear();
}

void SessionKeeper::Opened(const record::SessionReport& session) {
    start_ = SessionStart{};
    start_.server = key_;
    start_.kind = session.mode == rmRace ? "race" : "qualify";
    start_.track = session.track;
    start_.laps = static_cast<int>(std::min<std::uint32_t>(session.laps, 1000));
    start_.minutes = static_cast<int>(std::min<std::uint32_t>(session.minutes, 1000));
    start_.startedMs = WallMs(nowNs_);
    startNs_ = nowNs_;
    stored_ = 0;
    refused_ = false;
    recordingFailed_ = false;

    // The recording starts with what a spectator joining now is told (the
    // server's name, version, state and each slot's driver), so that it
    // replays on its own.
    std::string name = RecordingName(start_.startedMs, start_.track, start_.kind);
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    std::filesystem::path file = folder_ / (name + ".gsrec");
    for (int n = 2; std::filesystem::exists(file, error) && n < 1000; ++n)
        file = folder_ / (name + "-" + std::to_string(n) + ".gsrec");
    try {
        writer_ = std::make_unique<peers::RecordingWriter>(file, start_.startedMs * 1000);
        recording_ = file;
        start_.recording = key_ + "/" + QString::fromStdString(file.filename().string());
        bool ok = true;
        for (const peers::Bytes* b : {&known_.ServerName(), &known_.Version()})
            if (!b->empty()) ok = ok && writer_->Append(0, peers::RecordKind::Datagram, *b);
        if (const peers::Bytes state = known_.State(); !state.empty()) ok = ok && writer_->Append(0, peers::RecordKind::Datagram, state);
        for (int slot = 0; slot < known_.PlayerCount(); ++slot)
            if (const peers::Bytes npl = known_.NewPlayer(static_cast<std::uint32_t>(slot)); !npl.empty())
                ok = ok && writer_->Append(0, peers::RecordKind::Datagram, npl);
        if (!ok) throw std::runtime_error("cannot write its first records (disk full?)");
    } catch (const std::exception& e) {
        writer_.reset();
        recordingFailed_ = true;
        log_(key_ + ": no recording for this session: " + QString::fromUtf8(e.what()));
    }
}

bool SessionKeeper::EnsureStored() {
    if (stored_ != 0) return true;
    try {
        stored_ = store_.OpenSession(start_);
        return true;
    } catch (const StoreError& e) {
        Refused("the session", e);
        return false;
    }
}

void SessionKeeper::Lap(const std::string& name, const std::string& car, int lap, std::int32_t hundredths,
                        double atSeconds) {
    if (!EnsureStored()) return;
    try {
        store_.AddLap(stored_, name, car, lap, hundredths * 10,
                      wallOriginMs_ + static_cast<std::int64_t>(atSeconds * 1000.0));
    } catch (const StoreError& e) {
        Refused("a lap", e);
    }
}

void SessionKeeper::Closed(const record::SessionReport& session) {
    const bool kept = session.HasTimes() && EnsureStored();
    if (kept) {
        std::vector<ResultRow> results;
        results.reserve(session.drivers.size());
        for (const record::DriverReport& d : session.drivers) {
            ResultRow row;
            row.pos = d.position;
            row.name = d.name;
            row.car = d.car;
            row.laps = static_cast<int>(d.laps.size());
            row.bestMs = d.bestHundredths * 10;
            row.totalMs = d.totalHundredths * 10;
            row.finished = d.finished;
            results.push_back(std::move(row));
        }
        const QString why = session.ended ? QString() : !why_.isEmpty() ? why_ : QString(cutBy_);
        try {
            store_.CloseSession(stored_, WallMs(nowNs_), session.ended, why, results);
        } catch (const StoreError& e) {
            Refused("the results", e);
        }
    }
    CloseRecording(kept);
    stored_ = 0;
}

void SessionKeeper::CloseRecording(bool keep) {
    if (!writer_) return;
    writer_->Close();
    writer_.reset();
    // A session that is not listed has no use for its recording.
    std::error_code error;
    if (!keep) std::filesystem::remove(recording_, error);
    recording_.clear();
}

void SessionKeeper::Refused(const char* what, const std::exception& e) {
    if (refused_) return;
    refused_ = true;
    log_(key_ + ": the store refused " + what + ": " + QString::fromUtf8(e.what()) +
         "; this session's later writes are tried again, its recording goes on");
}

}  // namespace gs::hub
