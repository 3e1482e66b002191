// Analysis of a recording: its datagrams go through the session cutter, as if
// a spectator received them, and every session it closes is reported.
#include "RaceReport.h"

#include "SessionCutter.h"
#include "common/Text.h"

#include <algorithm>
#include <memory>

namespace gs::record {

namespace {

class Collector final : public SessionEvents {
public:
    explicit Collector(RecordingReport& report) : report_(report) {}
    void Closed(const SessionReport& session) override { report_.sessions.push_back(session); }

private:
    RecordingReport& report_;
};

}  // namespace

int SessionReport::LapCount() const {
    std::size_t most = 0;
    for (const DriverReport& d : drivers) most = std::max(most, d.laps.size());
    return static_cast<int>(most);
}

bool SessionReport::HasTimes() const {
    return std::any_of(drivers.begin(), drivers.end(),
                       [](const DriverReport& d) { return !d.laps.empty() || d.finished; });
}

std::string HundredthsText(std::int32_t hundredths) {
    return LapTimeText(hundredths / 6000, hundredths / 100 % 60, hundredths % 100);
}

RecordingReport AnalyseRecording(const peers::Recording& recording, const std::filesystem::path& filesDir) {
    RecordingReport report;
    report.lengthSeconds = recording.LengthSeconds();
    report.startUnixUs = recording.startUnixUs;
    report.endNote = recording.note;
    Collector collector(report);
    SessionCutter cutter(filesDir, collector);
    for (const peers::Record& record : recording.records) cutter.Feed(record, report);
    cutter.Finish();
    return report;
}

}  // namespace gs::record
