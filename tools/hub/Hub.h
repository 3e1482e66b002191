// The league's hub: every server of the config watched at once in one event
// loop, each through its own race feed (the core's connection, as
// gridscope-live joins), with its live site mounted at /live/KEY/ and a
// session keeper storing what it hears; and the league's pages and JSON
// API from the store.
//
//   Hub::Start / Stop   - join every server; end every open session
//   Hub::Answer         - the league's own paths (dashboard, races, drivers,
//                         tracks, championships, the API); the live sites answer theirs
#pragma once

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QObject>

#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "HubConfig.h"
#include "Store.h"

namespace gs::live {
class RaceFeed;
class Publisher;
class LiveSite;
class WebServer;
}  // namespace gs::live

namespace gs::hub {

class SessionKeeper;

class Hub final : public QObject {
    Q_OBJECT
public:
    static constexpr int RacesPerPage = 25;
    static constexpr int LatestRaces = 10;

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
        QByteArray json, page;
        int penaltyEvents = 0;  // the race's penalty events when made
    };
    static constexpr std::size_t KeptRaces = 512;
    const Answered* RaceOf(std::int64_t id);
    void OnChanged(Watched& w);
    void Log(const QString& line) const;

    const ChampionshipRules* Championship(const QString& key) const;

    Store& store_;
    std::vector<ChampionshipRules> championships_;
    DriverAliases drivers_;
    std::filesystem::path data_;
    std::vector<std::unique_ptr<Watched>> servers_;
    std::map<std::int64_t, Answered> races_;  // ended sessions, by id
    Answered fresh_;                          // the open session last asked for
};

}  // namespace gs::hub
