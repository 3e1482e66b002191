// The session cutter: see SessionCutter.h.
#include "SessionCutter.h"

#include "common/Platform.h"
#include "common/Text.h"
#include "common/Wire.h"
#include "connection/Connection.h"
#include "connection/ServerList.h"
#include "track/PathFile.h"
#include "track/TrackData.h"
#include "view/Standings.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

namespace gs::record {

namespace {

// The connection's outside world while reading a file: nothing is sent, the
// clock is the recording's own time.
class NoSocket final : public DatagramSocket {
public:
    bool Open(const std::string&, const std::string&, std::string&) override { return true; }
    void Send(const void*, std::size_t) override {}
    int Receive(void*, std::size_t) override { return -1; }
    void Close() override {}
    bool IsOpen() const override { return false; }
};

class RecordingClock final : public Clock {
public:
    std::int64_t Frequency() const override { return 1'000'000; }
    std::int64_t Counter() const override { return now; }
    std::int64_t now = 0;
};

class PlainTimer final : public Timer {
public:
    void SetInterval(int ms) override { interval_ = ms; }
    int Interval() const override { return interval_; }
    void SetEnabled(bool on) override { enabled_ = on; }
    bool Enabled() const override { return enabled_; }

private:
    int interval_ = 50;
    bool enabled_ = false;
};

PathHeader PathFor(const std::filesystem::path& filesDir, const std::string& track) {
    // The program's own file name for the track, "files/..." , moved to filesDir.
    std::string name = PathFileName(track.c_str());
    name = name.substr(name.find('/') + 1);
    std::ifstream in(filesDir / name, std::ios::binary);
    std::uint8_t header[PathHeaderSize] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() < static_cast<std::streamsize>(sizeof header)) return PathHeader{};
    return DecodePathHeader(header, sizeof header);
}

void AddOnce(std::vector<std::string>& list, const std::string& text) {
    if (!text.empty() && std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
}

std::string GapText(std::int32_t hundredths) { return "+" + HundredthsText(hundredths); }

}  // namespace

class SessionCutter::Analysis {
public:
    Analysis(const std::filesystem::path& filesDir, SessionEvents& events, bool openOnStateChange)
        : filesDir_(filesDir),
          events_(events),
          openOnStateChange_(openOnStateChange),
          connection_(race_, servers_, ConnectionPorts{clock_, timer1_, timer2_, socket_, shell_}) {
        race_.InitSampleClock(clock_);
    }

    void Feed(const peers::Record& record, RecordingReport& report) {
        clock_.now = static_cast<std::int64_t>(record.timeUs);
        now_ = record.Seconds();
        // As the packet timer does: the sample queues drain with time, and a
        // full queue would take no more positions or laps.
        race_.AdvanceSampleClock(clock_);
        if (record.kind != peers::RecordKind::Datagram) {
            ++report.gaps;
            return;
        }
        ++report.datagrams;
        const DatagramView p(record.bytes.data(), record.bytes.size());

        if (p.IsType("RST") && p.Has(6)) Close(ending_);
        if (p.IsType("LAP") && p.Has(89) && open_) OnLap(p);
        if (p.IsType("CPR") && p.Has(76) && open_) OnRename(p);

        connection_.ReceiveDatagram(record.bytes.data(), record.bytes.size());

        if (p.IsType("RST") && p.Has(6)) Open();
        if (p.IsType("STA") && p.Has(26)) OnState();
        if (p.IsType("RES") && p.Has(103) && open_) OnResult(p);
        if (p.IsType("MCI") && open_) OnCarInfo();
        if (p.IsType("REN") && open_) ending_ = true;  // closed by the next car info, once it shows the last finisher
        if (p.IsType("ISM")) report.serverName = StripColourCodes(race_.ServerName);
        if (p.IsType("STA")) AddOnce(report.tracks, FieldText(race_.TrackCode, 6));
        if (p.IsType("NPL") || p.IsType("CPR"))
            for (int i = 0; i < race_.PlayerCount; ++i) AddOnce(report.drivers, race_.Players[i].Name);
    }

    void Finish() { Close(ending_); }
    bool IsOpen() const { return open_; }
    void Lost() {
        Close(ending_);
        lastTrack_.clear();
        lastMode_ = rmNone;
    }

private:
    struct Session {
        SessionReport report;
        std::map<std::string, DriverReport> drivers;
        std::vector<std::vector<std::string>> crossers;  // per lap: names in the order they finished it
        std::map<std::string, std::int32_t> lapAtFlag;   // the lap shown just after each finisher's result
        std::set<std::string> flagPending;               // results whose car info is still to come
    };

    void Open() {
        session_ = Session{};
        session_.report.track = FieldText(race_.TrackCode, 6);
        session_.report.mode = race_.RaceMode;
        session_.report.laps = race_.RaceLaps;
        session_.report.minutes = race_.QualMinutes;
        session_.report.startSeconds = now_;
        open_ = race_.RaceMode == rmRace || race_.RaceMode == rmQualify;
        lastTrack_ = session_.report.track;
        lastMode_ = race_.RaceMode;
        if (open_) events_.Opened(session_.report);
    }

    // A state packet showing a session on another track or in another mode
    // than the last one seen: a spectator that joined during a session (or
    // missed its start) keeps the rest of it. The keep-alive asks for the
    // state every few seconds, so the same state again changes nothing.
    void OnState() {
        const std::string track = FieldText(race_.TrackCode, 6);
        const std::uint32_t mode = race_.RaceMode;
        if (track == lastTrack_ && mode == lastMode_) return;
        lastTrack_ = track;
        lastMode_ = mode;
        if (!openOnStateChange_) return;
        if (open_) Close(false);
        if (mode == rmRace || mode == rmQualify) Open();
    }

    void OnLap(const DatagramView& p) {
        const int slot = p.U8(88);
        if (slot >= race_.PlayerCount) return;
        std::string name = race_.Players[slot].Name;
        if (name.empty()) name = "(slot " + std::to_string(slot + 1) + ")";
        DriverReport& d = session_.drivers[name];
        d.name = name;
        const std::int32_t lap = Hundredths(p.U8(84), p.U8(85), p.U8(86));
        d.laps.push_back(lap);
        events_.Lap(name, race_.Players[slot].Car, static_cast<int>(d.laps.size()), lap, now_);
        d.lapEnd.push_back((d.lapEnd.empty() ? 0 : d.lapEnd.back()) + lap);
        const std::size_t k = d.laps.size() - 1;
        if (session_.crossers.size() <= k) session_.crossers.resize(k + 1);
        session_.crossers[k].push_back(name);
    }

    // A finished driver drives on (a lap to the pits) and the car info keeps
    // counting laps, while the car info before the result may still show the
    // lap before: the ranking takes the lap of the first car info after it.
    void OnResult(const DatagramView& p) {
        char raw[WireNameWidth];
        p.CopyField(28, sizeof raw, raw);
        session_.flagPending.insert(StripColourCodes(raw, WireNameWidth));
    }

    void OnCarInfo() {
        for (auto it = session_.flagPending.begin(); it != session_.flagPending.end();) {
            const int slot = race_.FindPlayer(*it);
            if (slot < 0) {
                ++it;
                continue;
            }
            session_.lapAtFlag[*it] = race_.Players[slot].Lap;
            it = session_.flagPending.erase(it);
        }
        if (ending_) Close(true);
    }

    void OnRename(const DatagramView& p) {
        char oldRaw[WireNameWidth], newRaw[WireNameWidth];
        p.CopyField(28, sizeof oldRaw, oldRaw);
        p.CopyField(52, sizeof newRaw, newRaw);
        const std::string from = StripColourCodes(oldRaw, WireNameWidth), to = StripColourCodes(newRaw, WireNameWidth);
        const auto found = session_.drivers.find(from);
        if (found == session_.drivers.end() || from == to || session_.drivers.count(to)) return;
        DriverReport d = std::move(found->second);
        session_.drivers.erase(found);
        d.name = to;
        session_.drivers[to] = std::move(d);
        for (auto& lap : session_.crossers) std::replace(lap.begin(), lap.end(), from, to);
    }

    // The standings at this moment become the session's result table.
    void Close(bool ended) {
        if (!open_) return;
        open_ = false;
        ending_ = false;
        SessionReport& out = session_.report;
        out.ended = ended;
        out.endSeconds = now_;
        const bool qualifying = out.mode == rmQualify;

        // The standings' own ranking, on a copy whose finishers keep the lap they
        // finished on.
        const PathHeader path = PathFor(filesDir_, out.track);
        auto standings = std::make_unique<RaceState>(race_);
        for (int i = 0; i < standings->PlayerCount; ++i) {
            PlayerRecord& p = standings->Players[i];
            // A slot keeps the times of whoever held it last, and a race start
            // clears only the slots in use then: a driver who joined since
            // (even after the race end) is timed by this session's own laps
            // and result alone.
            if (!session_.lapAtFlag.count(p.Name) && !session_.flagPending.count(p.Name)) {
                p.Finished = 0;
                p.TotalMin = p.TotalSec = p.TotalHund = 0;
                const auto own = session_.drivers.find(p.Name);
                const std::int32_t best = own == session_.drivers.end() || own->second.laps.empty()
                                              ? 0
                                              : *std::min_element(own->second.laps.begin(), own->second.laps.end());
                p.BestMin = best / 6000;
                p.BestSec = best / 100 % 60;
                p.BestHund = best % 100;
            }
            const auto flag = session_.lapAtFlag.find(p.Name);
            if (p.Finished && flag != session_.lapAtFlag.end()) p.Lap = flag->second;
            else if (p.Finished && session_.flagPending.count(p.Name))
                ++p.Lap;  // no car info since the line: it would show the next lap
        }
        ComputePositions(*standings, path.NodeCount, path.FinishNode);
        const LeaderData leader = FindLeader(*standings);
        std::int32_t pole = 0;
        for (int i = 0; i < standings->PlayerCount; ++i) {
            const PlayerRecord& p = standings->Players[i];
            if (p.Position == 1) pole = Hundredths(p.BestMin, p.BestSec, p.BestHund);
        }
        for (int i = 0; i < standings->PlayerCount; ++i) {
            const PlayerRecord& p = standings->Players[i];
            DriverReport& d = session_.drivers[p.Name];
            d.name = p.Name;
            d.car = p.Car;
            d.slot = i;
            d.position = p.Position;
            d.finished = p.Finished != 0;
            d.bestHundredths = Hundredths(p.BestMin, p.BestSec, p.BestHund);
            d.totalHundredths = p.Finished ? Hundredths(p.TotalMin, p.TotalSec, p.TotalHund) : 0;
            if (!qualifying) d.totalOrGap = TotalOrGapText(p, leader);
            else if (d.bestHundredths > 0)
                d.totalOrGap = p.Position == 1 ? HundredthsText(d.bestHundredths) : GapText(d.bestHundredths - pole);
        }
        for (auto& [name, d] : session_.drivers) {
            if (d.bestHundredths == 0 && !d.laps.empty())
                d.bestHundredths = *std::min_element(d.laps.begin(), d.laps.end());
            for (std::size_t k = 0; k < d.laps.size() && k < session_.crossers.size(); ++k) {
                const auto& line = session_.crossers[k];
                const auto at = std::find(line.begin(), line.end(), name);
                d.positionAtLap.push_back(static_cast<int>(at - line.begin()) + 1);
                const auto first = session_.drivers.find(line.front());
                const bool known = first != session_.drivers.end() && k < first->second.lapEnd.size();
                d.gapAtLap.push_back(d.lapEnd[k] - (known ? first->second.lapEnd[k] : d.lapEnd[k]));
            }
            out.drivers.push_back(d);
        }
        // Result order: the standings' positions; drivers who left go last, by
        // laps driven. A qualifier without a timed lap has no place ahead of one
        // with a time, whatever the live table shows meanwhile.
        auto rank = [&](const DriverReport& d) {
            const bool noTime = qualifying && d.bestHundredths == 0;
            return std::make_tuple(d.position == 0, noTime, d.position, -static_cast<int>(d.laps.size()), d.name);
        };
        std::sort(out.drivers.begin(), out.drivers.end(),
                  [&](const DriverReport& a, const DriverReport& b) { return rank(a) < rank(b); });
        int place = 0;
        for (DriverReport& d : out.drivers)
            if (d.position != 0) d.position = ++place;
        events_.Closed(out);
    }

    const std::filesystem::path filesDir_;
    SessionEvents& events_;
    const bool openOnStateChange_;
    std::string lastTrack_;           // the track and mode of the last state or start seen
    std::uint32_t lastMode_ = rmNone;
    RecordingClock clock_;
    PlainTimer timer1_, timer2_;
    NoSocket socket_;
    SilentShell shell_;
    RaceState race_;
    ServerList servers_;
    Connection connection_;
    Session session_;
    bool open_ = false;
    bool ending_ = false;  // a race end came; the session closes at the next car info
    double now_ = 0;
};

SessionCutter::SessionCutter(const std::filesystem::path& filesDir, SessionEvents& events, bool openOnStateChange)
    // The race model is large; keep it off the stack.
    : analysis_(std::make_unique<Analysis>(filesDir, events, openOnStateChange)) {}

SessionCutter::~SessionCutter() = default;

void SessionCutter::Feed(const peers::Record& record, RecordingReport& report) { analysis_->Feed(record, report); }

void SessionCutter::Finish() { analysis_->Finish(); }

void SessionCutter::Lost() { analysis_->Lost(); }

bool SessionCutter::Open() const { return analysis_->IsOpen(); }

}  // namespace gs::record
