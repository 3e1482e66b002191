// The league's hub: every server of the config watched at once in one event
// loop, each through its own race feed (the core's connection, as
// gridscope-live joins), with its live site mounted at /live/KEY/ and a
// session keeper storing what it hears; and the league's pages and JSON
// API from the store.
//
//   Hub::Start / Stop   - join every server; end every open session
//   Hub::Answer         - the league's own paths (dashboard, races, drivers,
//                         tracks, championships, the API), those read from the
//                         store made on reading threads and sent when ready;
//                         the live sites answer theirs
#pragma once

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "HubConfig.h"
#include "Store.h"
#include "StoreReaders.h"

namespace gs::live {
class RaceFeed;
class Publisher;
class LiveSite;
class WebServer;
class LaterAnswer;
}  // namespace gs::live

namespace gs::hub {

class SessionKeeper;

class Hub final : public QObject {
    Q_OBJECT
public:
    static constexpr int RacesPerPage = 25;
    static constexpr int LatestRaces = 10;
    // Threads reading the store for the pages (each with its connection).
    static constexpr int Readers = 2;

    // `data` holds recordings/; `files` the track files' folder "files".
    Hub(const HubConfig& config, Store& store, const std::filesystem::path& data, const std::filesystem::path& files);
    ~Hub() override;

    void Start();
    // Ends every open session as interrupted with `why`.
    void Stop(const QString& why);
    void MountOn(live::WebServer& web);

    // [{"key","name","address","status","track","session","drivers"}]
    QJsonArray Servers() const;
    // Answers a GET of one of the league's paths; false for a 404.
    bool Answer(const QString& path, const QHttpServerRequest& request, QHttpServerResponder& r);

private:
    struct Watched;
    struct Answered {
        QByteArray json, page;  // each empty until first asked for
        int penaltyEvents = 0;  // the race's penalty events when made
    };
    // What a reading thread made: the body, and whether it is a page or
    // JSON; nothing found is a 404.
    struct Made {
        QByteArray body;
        bool html = false, found = false;
    };
    static constexpr std::size_t KeptRaces = 512;
    // The race's page or JSON; nothing for an unknown race.
    std::optional<QByteArray> RaceAnswer(Store& store, std::int64_t id, bool page);
    // Answers `r` with what `make` makes on a reading thread.
    void Later(QHttpServerResponder& r, std::function<Made(StoreReader&)> make);
    void Deliver(std::uint64_t id, const Made& made, const QString& failure);
    void OnChanged(Watched& w);
    void Log(const QString& line) const;

    const ChampionshipRules* Championship(const QString& key) const;

    Store& store_;
    std::vector<ChampionshipRules> championships_;
    DriverAliases drivers_;
    std::filesystem::path data_;
    std::vector<std::unique_ptr<Watched>> servers_;
    std::mutex racesMutex_;                   // races_ is shared by the readers
    std::map<std::int64_t, Answered> races_;  // ended sessions, by id
    std::uint64_t lastLater_ = 0;
    std::map<std::uint64_t, std::unique_ptr<live::LaterAnswer>> later_;  // answers being made
    // Last: its threads end (finishing their jobs) before the rest goes.
    std::unique_ptr<StoreReaders> readers_;
};

}  // namespace gs::hub
