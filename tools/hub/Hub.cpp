#include "Hub.h"

#include <QFile>
#include <QMetaObject>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

#include <cstdio>

#include "HubPages.h"
#include "LiveServer.h"
#include "RaceReport.h"
#include "RaceFeed.h"
#include "SessionKeeper.h"

namespace gs::hub {

struct Hub::Watched {
    ServerConfig config;
    std::unique_ptr<live::RaceFeed> feed;
    std::unique_ptr<live::Publisher> publisher;
    std::unique_ptr<live::LiveSite> site;
    std::unique_ptr<SessionKeeper> keeper;
    bool connected = false;  // live or silent when last seen
    QString name;            // the server's own name, as last saved
};

namespace {

using Status = QHttpServerResponder::StatusCode;

// The dashboard's word for a feed's link: datagrams flowing, connected but
// quiet, or not connected at all.
QString StatusOf(const char* link) {
    const QString l = link;
    return l == "live" ? "live" : l == "silent" ? "silent" : "offline";
}

QByteArray Compact(const QJsonValue& v) {
    return v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                       : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
}

void Json(QHttpServerResponder& r, const QJsonValue& v) { live::Reply(r, Compact(v), "application/json"); }

void Html(QHttpServerResponder& r, const QByteArray& page, Status status = Status::Ok) {
    // The hub's pages carry no script of their own inline; the report's
    // charts colour their lines with style attributes.
    r.write(page,
            {{"Content-Type", "text/html; charset=utf-8"},
             {"Cache-Control", "no-store"},
             {"X-Content-Type-Options", "nosniff"},
             {"Content-Security-Policy",
              "default-src 'self'; connect-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
              "script-src 'self'; object-src 'none'; base-uri 'none'"}},
            status);
}

// A race id in a path: digits only, and small enough to be one.
std::optional<std::int64_t> IdOf(const QString& text) {
    static const QRegularExpression digits("^[0-9]{1,15}$");
    if (!digits.match(text).hasMatch()) return std::nullopt;
    return text.toLongLong();
}

// The rest of `path` after `prefix`, percent-decoded, when it is one whole
// segment.
std::optional<QString> Segment(const QString& path, const QString& prefix) {
    if (!path.startsWith(prefix)) return std::nullopt;
    const QString rest = path.mid(prefix.size());
    if (rest.isEmpty() || rest.contains('/')) return std::nullopt;
    return QUrl::fromPercentEncoding(rest.toUtf8());
}

QByteArray Resource(const QString& name) {
    QFile file(":/hub/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

Hub::Hub(const HubConfig& config, Store& store, const std::filesystem::path& data, const std::filesystem::path& files)
    : store_(store),
      championships_(config.championships),
      drivers_(config.drivers),
      data_(data),
      readers_(std::make_unique<StoreReaders>(config.database, QString::fromStdString(data.string()), Readers)) {
    for (const ServerConfig& c : config.servers) {
        auto w = std::make_unique<Watched>();
        w->config = c;
        live::RaceFeedOptions options;
        options.host = c.host.toStdString();
        options.port = c.port;
        options.admin = c.admin;
        w->feed = std::make_unique<live::RaceFeed>(options);
        w->publisher = std::make_unique<live::Publisher>(*w->feed, static_cast<int>(c.delaySeconds * 1000 + 0.5));
        w->site = std::make_unique<live::LiveSite>(*w->publisher, *w->feed);
        w->keeper = std::make_unique<SessionKeeper>(c.key, store_, data_ / "recordings", files,
                                                    [this](const QString& line) { Log(line); });
        SessionKeeper* keeper = w->keeper.get();
        w->feed->onDatagram = [keeper](const std::uint8_t* d, std::size_t n, std::int64_t at) {
            keeper->Datagram(d, n, at);
        };
        Watched* raw = w.get();
        connect(w->feed.get(), &live::RaceFeed::Changed, this, [this, raw] { OnChanged(*raw); });
        servers_.push_back(std::move(w));
    }
}

Hub::~Hub() {
    // The reading threads finish first: their answers are then dropped
    // with the connections they were for.
    readers_.reset();
}

void Hub::Log(const QString& line) const {
    std::fprintf(stderr, "gridscope-hub: %s\n", qPrintable(line));
    std::fflush(stderr);
}

void Hub::Start() {
    for (auto& w : servers_) {
        const QString address = w->config.host + ":" + QString::number(w->config.port);
        try {
            store_.SaveServer(w->config.key, w->config.key, address);
            // A hub that was killed during a session left it open: it ends
            // there, and this run keeps what comes next as a session of its own.
            if (const int left = store_.CloseLeftOpen(w->config.key, "the hub stopped during the session"))
                Log(w->config.key + ": " + QString::number(left) + " session(s) left open by an earlier run closed as interrupted");
        } catch (const StoreError& e) {
            Log(w->config.key + ": the store refused: " + QString::fromUtf8(e.what()));
        }
        w->feed->Start();
    }
}

void Hub::Stop(const QString& why) {
    for (auto& w : servers_) w->keeper->Stop(why);
}

void Hub::MountOn(live::WebServer& web) {
    for (auto& w : servers_) web.Mount("/live/" + w->config.key, *w->site);
    web.SetFallback([this](const QString& path, const QHttpServerRequest& request, QHttpServerResponder& r) {
        return Answer(path, request, r);
    });
}

void Hub::OnChanged(Watched& w) {
    const QString status = StatusOf(w.feed->Link());
    const bool connected = status != "offline";
    if (w.connected && !connected) {
        Log(w.config.key + ": the server went offline");
        w.keeper->Lost("the server went offline");
    }
    w.connected = connected;
    if (!connected) return;
    const QString name = QString::fromStdString(w.feed->ServerName());
    if (!name.isEmpty() && name != w.name) {
        w.name = name;
        try {
            store_.SaveServer(w.config.key, name, w.config.host + ":" + QString::number(w.config.port));
        } catch (const StoreError& e) {
            Log(w.config.key + ": the store refused the server's name: " + QString::fromUtf8(e.what()));
        }
    }
}

// A session that has ended changes only by its penalty events, which are
// only ever added: its JSON and page are made once (each when first asked
// for) and kept, the newest few hundred by id, with the count of those
// events, so a race everyone looks at after the evening costs one small
// query, and a penalty added or revoked (by another process) shows at
// once. An open session is read afresh. Called on the reading threads.
std::optional<QByteArray> Hub::RaceAnswer(Store& store, std::int64_t id, bool page) {
    const int events = store.PenaltyEvents(id);
    {
        std::lock_guard lock(racesMutex_);
        if (const auto kept = races_.find(id); kept != races_.end() && kept->second.penaltyEvents == events) {
            const QByteArray& part = page ? kept->second.page : kept->second.json;
            if (!part.isEmpty()) return part;
        }
    }
    std::optional<QJsonObject> race = store.Race(id);
    if (!race) return std::nullopt;
    if (const std::optional<QJsonObject> orders = RaceOrdersOf(store, id))
        for (auto at = orders->begin(); at != orders->end(); ++at) race->insert(at.key(), at.value());
    const QByteArray made = page ? RacePage(*race) : QJsonDocument(*race).toJson(QJsonDocument::Compact);
    if ((*race)["state"].toString() == "open") return made;
    std::lock_guard lock(racesMutex_);
    auto kept = races_.find(id);
    if (kept == races_.end()) {
        if (races_.size() >= KeptRaces) races_.erase(races_.begin());
        kept = races_.emplace(id, Answered{}).first;
    }
    if (kept->second.penaltyEvents != events) kept->second = Answered{{}, {}, events};
    (page ? kept->second.page : kept->second.json) = made;
    return made;
}

QJsonArray Hub::Servers() const {
    QJsonArray out;
    for (const auto& w : servers_) {
        const QString status = StatusOf(w->feed->Link());
        const live::Snapshot s = w->feed->Take();
        const bool known = status != "offline";
        QString session;
        if (known && s.session.mode == "race")
            session = s.session.laps > 0 ? QString("race, %1 laps").arg(s.session.laps) : "race";
        else if (known && s.session.mode == "qualifying")
            session = s.session.minutes > 0 ? QString("qualifying, %1 minutes").arg(s.session.minutes) : "qualifying";
        out.append(QJsonObject{
            {"key", w->config.key},
            {"name", known && !s.session.server.empty() ? QString::fromStdString(s.session.server) : w->config.key},
            {"address", w->config.host + ":" + QString::number(w->config.port)},
            {"status", status},
            {"track", known ? QJsonValue(QString::fromStdString(s.session.track)) : QJsonValue()},
            {"session", known ? QJsonValue(session) : QJsonValue()},
            {"drivers", known ? static_cast<int>(s.cars.size()) : 0},
        });
    }
    return out;
}

const ChampionshipRules* Hub::Championship(const QString& key) const {
    for (const ChampionshipRules& c : championships_)
        if (c.key == key) return &c;
    return nullptr;
}

void Hub::Later(QHttpServerResponder& r, std::function<Made(StoreReader&)> make) {
    const std::uint64_t id = ++lastLater_;
    later_.emplace(id, std::make_unique<live::LaterAnswer>(std::move(r)));
    readers_->Post([this, id, make = std::move(make)](StoreReader& reader) {
        Made made;
        QString failure = reader.failure;
        if (reader.store) {
            try {
                made = make(reader);
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
        }
        QMetaObject::invokeMethod(
            this, [this, id, made = std::move(made), failure] { Deliver(id, made, failure); }, Qt::QueuedConnection);
    });
}

void Hub::Deliver(std::uint64_t id, const Made& made, const QString& failure) {
    const auto found = later_.find(id);
    if (found == later_.end()) return;
    const std::unique_ptr<live::LaterAnswer> answer = std::move(found->second);
    later_.erase(found);
    answer->Send([&](QHttpServerResponder& r) {
        if (!failure.isEmpty()) {
            Log("a page could not be read from the store: " + failure);
            live::Reply(r, "The store cannot be read just now\n", "text/plain; charset=utf-8",
                        Status::ServiceUnavailable);
        } else if (!made.found) {
            live::Reply(r, "Not found\n", "text/plain; charset=utf-8", Status::NotFound);
        } else if (made.html) {
            Html(r, made.body);
        } else {
            live::Reply(r, made.body, "application/json");
        }
    });
}

bool Hub::Answer(const QString& path, const QHttpServerRequest& request, QHttpServerResponder& r) {
    // A query as a browser writes a form: '+' is a space (a '+' itself
    // comes as %2B).
    const QUrlQuery query(request.url().query(QUrl::FullyEncoded).replace('+', "%20"));
    auto arg = [&](const char* name) { return query.queryItemValue(name, QUrl::FullyDecoded); };
    RaceFilter filter;
    filter.server = arg("server");
    filter.track = arg("track");
    filter.driver = arg("driver");
    bool numbered = false;
    const int asked = arg("page").toInt(&numbered);
    const int page = numbered && asked >= 1 ? asked : 1;

    if (path == "/") {
        // The servers' state is the event loop's; the store's part is kept
        // until the store changes (the tracks cost a pass over every lap).
        Later(r, [servers = Servers()](StoreReader& reader) {
            Store& store = *reader.store;
            const QByteArray races = reader.Kept("/ races", [&] { return Compact(store.Races({}, 1, LatestRaces)); });
            const QByteArray tracks = reader.Kept("/ tracks", [&] { return Compact(store.Tracks()); });
            return Made{DashboardPage(servers, QJsonDocument::fromJson(races).object(),
                                      QJsonDocument::fromJson(tracks).array()),
                        true, true};
        });
    } else if (path == "/api/servers") {
        Json(r, Servers());
    } else if (path == "/races" || path == "/api/races") {
        // The form offers the config's server keys (the tracks would cost a
        // query over every session on each page).
        QStringList servers;
        for (const auto& w : servers_) servers << w->config.key;
        const QString key = path + '\n' + filter.server + '\n' + filter.track + '\n' + filter.driver + '\n' +
                            QString::number(page);
        const bool html = path == "/races";
        Later(r, [=](StoreReader& reader) {
            return Made{reader.Kept(key,
                                    [&] {
                                        const QJsonObject races = reader.store->Races(filter, page, RacesPerPage);
                                        return html ? RacesPage(races, filter, servers) : Compact(races);
                                    }),
                        html, true};
        });
    } else if (path.startsWith("/races/") && path.endsWith("/recording")) {
        try {
            const auto id = IdOf(path.mid(7, path.size() - 7 - 10));
            const auto name = id ? store_.RecordingOf(*id) : std::nullopt;
            if (!name) return false;
            auto* file = new QFile(QString::fromStdString((data_ / "recordings").string()) + "/" + *name);
            // A missing recording is a 404; a present one is streamed from
            // the disk (a long session's recording is tens of megabytes).
            if (!file->open(QIODevice::ReadOnly)) {
                delete file;
                return false;
            }
            const QString filename = name->section('/', -1);
            r.write(file, {{"Content-Type", "application/octet-stream"},
                           {"Content-Disposition", ("attachment; filename=\"" + filename + "\"").toUtf8()},
                           {"X-Content-Type-Options", "nosniff"},
                           {"Cache-Control", "no-store"}});
        } catch (const StoreError& e) {
            Log(QString("a recording could not be looked up in the store: ") + e.what());
            live::Reply(r, "The store cannot be read just now\n", "text/plain; charset=utf-8",
                        Status::ServiceUnavailable);
        }
    } else if (const auto id = Segment(path, "/races/"); id || path.startsWith("/api/races/")) {
        const auto number = IdOf(id ? *id : path.mid(11));
        if (!number) return false;
        const bool html = id.has_value();
        Later(r, [this, number, html](StoreReader& reader) {
            const std::optional<QByteArray> race = RaceAnswer(*reader.store, *number, html);
            return race ? Made{*race, html, true} : Made{};
        });
    } else if (const auto name = Segment(path, "/drivers/"); name || path.startsWith("/api/drivers/")) {
        const auto wanted = name ? name : Segment(path, "/api/drivers/");
        if (!wanted) return false;
        const bool html = name.has_value();
        Later(r, [=](StoreReader& reader) {
            const QByteArray made = reader.Kept(path, [&] {
                const auto driver = reader.store->Driver(*wanted);
                return !driver ? QByteArray() : html ? DriverPage(*driver) : Compact(*driver);
            });
            return Made{made, html, !made.isEmpty()};
        });
    } else if (const auto code = Segment(path, "/tracks/"); code || path.startsWith("/api/tracks/")) {
        const auto wanted = code ? code : Segment(path, "/api/tracks/");
        if (!wanted) return false;
        const bool html = code.has_value();
        const QString car = arg("car");
        Later(r, [=](StoreReader& reader) {
            const QByteArray made = reader.Kept(path + '\n' + car, [&] {
                const QJsonObject track = reader.store->Track(*wanted, car);
                return html ? TrackPage(track, car) : Compact(track);
            });
            return Made{made, html, true};
        });
    } else if (path == "/championships" || path == "/api/championships") {
        QJsonArray list;
        for (const ChampionshipRules& c : championships_) list.append(QJsonObject{{"key", c.key}, {"title", c.title}});
        if (path == "/championships") Html(r, ChampionshipsPage(list));
        else Json(r, list);
    } else if (const auto key = Segment(path, "/championships/"); key || path.startsWith("/api/championships/")) {
        const auto wanted = key ? key : Segment(path, "/api/championships/");
        const ChampionshipRules* rules = wanted ? Championship(*wanted) : nullptr;
        if (!rules) return false;
        const bool html = key.has_value();
        // Worked out from the races and the penalty events, again whenever
        // the store has changed: it can never disagree with them.
        Later(r, [this, rules, html, path](StoreReader& reader) {
            const QByteArray made = reader.Kept(path, [&] {
                const QJsonObject table = ChampionshipJson(*reader.store, *rules, drivers_);
                return html ? ChampionshipPage(table) : Compact(table);
            });
            return Made{made, html, true};
        });
    } else if (path == "/static/report.css") {
        live::Reply(r, record::ReportStyle(), "text/css; charset=utf-8");
    } else if (path == "/static/hub.css" || path == "/static/dashboard.js") {
        const QString file = path.mid(8);
        live::Reply(r, Resource(file),
                    file.endsWith(".css") ? "text/css; charset=utf-8" : "text/javascript; charset=utf-8");
    } else {
        return false;
    }
    return true;
}

}  // namespace gs::hub
