#include "Hub.h"

#include <QFile>
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

void Json(QHttpServerResponder& r, const QJsonValue& v) {
    const QByteArray body = v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                                        : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
    live::Reply(r, body, "application/json");
}

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
    : store_(store), championships_(config.championships), drivers_(config.drivers), data_(data) {
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

Hub::~Hub() = default;

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
// only ever added: its JSON and page are made once and kept (the newest few
// hundred by id) with the count of those events, so a race everyone looks at
// after the evening costs one small query, and a penalty added or revoked
// (by another process) shows at once. An open session is read afresh.
const Hub::Answered* Hub::RaceOf(std::int64_t id) {
    const int events = store_.PenaltyEvents(id);
    if (const auto kept = races_.find(id); kept != races_.end()) {
        if (kept->second.penaltyEvents == events) return &kept->second;
        races_.erase(kept);
    }
    std::optional<QJsonObject> race = store_.Race(id);
    if (!race) return nullptr;
    if (const std::optional<QJsonObject> orders = RaceOrdersOf(store_, id))
        for (auto at = orders->begin(); at != orders->end(); ++at) race->insert(at.key(), at.value());
    Answered made{QJsonDocument(*race).toJson(QJsonDocument::Compact), RacePage(*race), events};
    if ((*race)["state"].toString() == "open") {
        fresh_ = std::move(made);
        return &fresh_;
    }
    if (races_.size() >= KeptRaces) races_.erase(races_.begin());
    return &races_.emplace(id, std::move(made)).first->second;
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

bool Hub::Answer(const QString& path, const QHttpServerRequest& request, QHttpServerResponder& r) {
    // A query as a browser writes a form: '+' is a space (a '+' itself
    // comes as %2B).
    const QUrlQuery query(request.url().query(QUrl::FullyEncoded).replace('+', "%20"));
    auto arg = [&](const char* name) { return query.queryItemValue(name, QUrl::FullyDecoded); };
    auto filter = [&] {
        RaceFilter f;
        f.server = arg("server");
        f.track = arg("track");
        f.driver = arg("driver");
        return f;
    };
    auto page = [&] {
        bool ok = false;
        const int n = arg("page").toInt(&ok);
        return ok && n >= 1 ? n : 1;
    };
    try {
        if (path == "/") {
            Html(r, DashboardPage(Servers(), store_.Races({}, 1, LatestRaces), store_.Tracks()));
        } else if (path == "/api/servers") {
            Json(r, Servers());
        } else if (path == "/races" || path == "/api/races") {
            const QJsonObject races = store_.Races(filter(), page(), RacesPerPage);
            if (path == "/races") {
                // The form offers the config's server keys (the tracks would
                // cost a query over every session on each page).
                QStringList servers;
                for (const auto& w : servers_) servers << w->config.key;
                Html(r, RacesPage(races, filter(), servers));
            } else {
                Json(r, races);
            }
        } else if (path.startsWith("/races/") && path.endsWith("/recording")) {
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
        } else if (const auto id = Segment(path, "/races/"); id || path.startsWith("/api/races/")) {
            const auto number = IdOf(id ? *id : path.mid(11));
            const Answered* race = number ? RaceOf(*number) : nullptr;
            if (!race) return false;
            if (id) Html(r, race->page);
            else live::Reply(r, race->json, "application/json");
        } else if (const auto name = Segment(path, "/drivers/"); name || path.startsWith("/api/drivers/")) {
            const auto wanted = name ? name : Segment(path, "/api/drivers/");
            const auto driver = wanted ? store_.Driver(*wanted) : std::nullopt;
            if (!driver) return false;
            if (name) Html(r, DriverPage(*driver));
            else Json(r, *driver);
        } else if (const auto code = Segment(path, "/tracks/"); code || path.startsWith("/api/tracks/")) {
            const auto wanted = code ? code : Segment(path, "/api/tracks/");
            if (!wanted) return false;
            const QJsonObject track = store_.Track(*wanted, arg("car"));
            if (code) Html(r, TrackPage(track, arg("car")));
            else Json(r, track);
        } else if (path == "/championships" || path == "/api/championships") {
            QJsonArray list;
            for (const ChampionshipRules& c : championships_) list.append(QJsonObject{{"key", c.key}, {"title", c.title}});
            if (path == "/championships") Html(r, ChampionshipsPage(list));
            else Json(r, list);
        } else if (const auto key = Segment(path, "/championships/"); key || path.startsWith("/api/championships/")) {
            const auto wanted = key ? key : Segment(path, "/api/championships/");
            const ChampionshipRules* rules = wanted ? Championship(*wanted) : nullptr;
            if (!rules) return false;
            // Worked out from the races and the penalty events on every
            // request: it can never disagree with them.
            const QJsonObject table = ChampionshipJson(store_, *rules, drivers_);
            if (key) Html(r, ChampionshipPage(table));
            else Json(r, table);
        } else if (path == "/static/report.css") {
            live::Reply(r, record::ReportStyle(), "text/css; charset=utf-8");
        } else if (path == "/static/hub.css" || path == "/static/dashboard.js") {
            const QString file = path.mid(8);
            live::Reply(r, Resource(file),
                        file.endsWith(".css") ? "text/css; charset=utf-8" : "text/javascript; charset=utf-8");
        } else {
            return false;
        }
    } catch (const StoreError& e) {
        Log(QString("a page could not be read from the store: ") + e.what());
        live::Reply(r, "The store cannot be read just now\n", "text/plain; charset=utf-8",
                    Status::ServiceUnavailable);
    }
    return true;
}

}  // namespace gs::hub
