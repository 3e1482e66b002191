// The hub's configuration. QSettings reads the values; a first pass over the
// lines finds what QSettings would silently accept or merge (an unknown
// section or key, a section or key given twice) and gives every value's
// line, so each refusal can say where.
#include "HubConfig.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

#include "LiveServer.h"
#include "common/Text.h"

namespace gs::hub {

namespace {

QString Where(const QString& file, int line) {
    return line > 0 ? file + ":" + QString::number(line) : file;
}

// Where each section and key stands in the file.
struct Layout {
    struct Section {
        QString name;
        int line = 0;
        std::map<QString, int> keys;  // key -> line
    };
    std::vector<Section> sections;
};

Layout ScanLines(const QString& file, const QByteArray& text) {
    static const QRegularExpression header(R"(^\[([^\]]*)\]\s*(;.*)?$)");
    static const QRegularExpression entry(R"(^([^=;\[]+?)\s*=)");
    Layout layout;
    std::set<QString> seen;
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const int line = n + 1;
        const QString t = QString::fromUtf8(lines[n]).trimmed();
        if (t.isEmpty() || t.startsWith(';') || t.startsWith('#')) continue;
        if (const QRegularExpressionMatch m = header.match(t); m.hasMatch()) {
            const QString name = m.captured(1).trimmed();
            if (!seen.insert(name).second) throw ConfigError(file, line, "section [" + name + "] is given twice");
            layout.sections.push_back({name, line, {}});
            continue;
        }
        const QRegularExpressionMatch m = entry.match(t);
        if (!m.hasMatch()) throw ConfigError(file, line, "expected \"[section]\" or \"key = value\"");
        if (layout.sections.empty()) throw ConfigError(file, line, "a key before the first [section]");
        const QString key = m.captured(1).trimmed();
        auto& keys = layout.sections.back().keys;
        if (!keys.emplace(key, line).second)
            throw ConfigError(file, line, "key \"" + key + "\" is given twice in [" + layout.sections.back().name + "]");
    }
    return layout;
}

// A value as QSettings read it; a value that QSettings split at a comma was
// meant as one text and is refused.
QString Text(QSettings& settings, const QString& section, const QString& key, const QString& file, int line) {
    const QVariant v = settings.value(section + "/" + key);
    if (v.userType() == QMetaType::QStringList)
        throw ConfigError(file, line, "\"" + key + "\" holds a comma: write the value in double quotes");
    return v.toString();
}

void CheckKeys(const Layout::Section& section, const std::set<QString>& known, const QString& file) {
    for (const auto& [key, line] : section.keys)
        if (!known.count(key)) {
            QStringList names;
            for (const QString& k : known) names << k;
            throw ConfigError(file, line,
                              "unknown key \"" + key + "\" in [" + section.name + "] (known: " + names.join(", ") + ")");
        }
}

// A whole number in [low, high].
int Whole(const QString& text, int low, int high, const QString& file, int line, const QString& what) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < low || n > high)
        throw ConfigError(file, line, what + QString(" needs a whole number from %1 to %2").arg(low).arg(high));
    return n;
}

// A value QSettings may have split at its commas, as its parts.
QStringList List(QSettings& settings, const QString& section, const QString& key) {
    const QVariant v = settings.value(section + "/" + key);
    QStringList parts = v.userType() == QMetaType::QStringList ? v.toStringList() : QStringList{v.toString()};
    for (QString& part : parts) part = part.trimmed();
    return parts;
}

// A name as the store keeps it: the colour codes a server strips from
// names ("^1Alex" is raced as "Alex") removed, the rest as UTF-8. Nothing
// for a text longer than a name field.
std::optional<QString> StoredName(const QString& typed) {
    const std::string bytes = Utf8ToWindows1252(typed.toStdString());
    if (bytes.size() > 32) return std::nullopt;
    return QString::fromStdString(Windows1252ToUtf8Keeping(StripColourCodes(bytes.c_str(), bytes.size())));
}

ChampionshipRules ReadChampionship(QSettings& settings, const Layout::Section& section, const QString& key,
                                   const QString& file) {
    static const QRegularExpression multiplierKey("^multiplier\\.([0-9]{1,4})$");
    static const std::set<QString> known{"title",  "servers",          "from",       "to",
                                         "sessions", "points",         "fastest-lap", "pole",
                                         "min-laps-percent", "drop-worst"};
    for (const auto& [name, line] : section.keys)
        if (!known.count(name) && !multiplierKey.match(name).hasMatch()) {
            QStringList names;
            for (const QString& k : known) names << k;
            names << "multiplier.N";
            throw ConfigError(file, line,
                              "unknown key \"" + name + "\" in [" + section.name + "] (known: " + names.join(", ") + ")");
        }
    auto line = [&](const QString& k) { return section.keys.at(k); };
    auto has = [&](const QString& k) { return section.keys.count(k) != 0; };
    ChampionshipRules rules;
    rules.key = key;
    rules.title = has("title") ? Text(settings, section.name, "title", file, line("title")).trimmed() : key;
    if (rules.title.isEmpty()) throw ConfigError(file, line("title"), "title is empty");
    if (has("servers")) {
        for (const QString& server : List(settings, section.name, "servers")) {
            if (server.isEmpty()) throw ConfigError(file, line("servers"), "servers: an empty name in the list");
            rules.servers << server;
        }
    }
    for (const char* which : {"from", "to"}) {
        if (!has(which)) continue;
        const QString text = Text(settings, section.name, which, file, line(which)).trimmed();
        const QDate date = QDate::fromString(text, "yyyy-MM-dd");
        if (!date.isValid())
            throw ConfigError(file, line(which), QString(which) + " needs a date as YYYY-MM-DD, not \"" + text + "\"");
        (QString(which) == "from" ? rules.from : rules.to) = date;
    }
    if (rules.from && rules.to && *rules.to < *rules.from)
        throw ConfigError(file, line("to"), "to is before from");
    if (has("sessions")) {
        const QString which = Text(settings, section.name, "sessions", file, line("sessions")).trimmed();
        if (which != "race" && which != "qualify" && which != "both")
            throw ConfigError(file, line("sessions"), "sessions is race, qualify or both");
        rules.races = which != "qualify";
        rules.qualifyings = which != "race";
    }
    if (!has("points")) throw ConfigError(file, section.line, "[" + section.name + "] has no points");
    for (const QString& part : List(settings, section.name, "points"))
        rules.points.push_back(Whole(part, 0, 10000, file, line("points"), "each of points"));
    if (has("fastest-lap"))
        rules.fastestLap = Whole(Text(settings, section.name, "fastest-lap", file, line("fastest-lap")), 0, 10000,
                                 file, line("fastest-lap"), "fastest-lap");
    if (has("pole"))
        rules.pole = Whole(Text(settings, section.name, "pole", file, line("pole")), 0, 10000, file, line("pole"),
                           "pole");
    if (has("min-laps-percent"))
        rules.minLapsPercent = Whole(Text(settings, section.name, "min-laps-percent", file, line("min-laps-percent")),
                                     0, 100, file, line("min-laps-percent"), "min-laps-percent");
    if (has("drop-worst"))
        rules.dropWorst = Whole(Text(settings, section.name, "drop-worst", file, line("drop-worst")), 0, 1000, file,
                                line("drop-worst"), "drop-worst");
    for (const auto& [name, at] : section.keys) {
        const QRegularExpressionMatch m = multiplierKey.match(name);
        if (!m.hasMatch()) continue;
        const int round = m.captured(1).toInt();
        if (round < 1) throw ConfigError(file, at, "rounds are numbered from 1");
        bool ok = false;
        const double factor = Text(settings, section.name, name, file, at).trimmed().toDouble(&ok);
        // Halves and quarters stay exact in the totals; a factor of 0 drops
        // a round for everyone (drop-worst is for that).
        if (!ok || !(factor > 0 && factor <= 10) || std::floor(factor * 4) != factor * 4)
            throw ConfigError(file, at, name + " needs a factor above 0 and at most 10, in quarters (2, 1.5, 0.25)");
        rules.multipliers[round] = factor;
    }
    return rules;
}

}  // namespace

ConfigError::ConfigError(const QString& file_, int line_, const QString& reason_)
    : std::runtime_error((Where(file_, line_) + ": " + reason_).toStdString()),
      file(file_),
      line(line_),
      reason(reason_) {}

HubConfig ReadHubConfig(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) throw ConfigError(file, 0, "cannot read it: " + in.errorString());
    // A config is a few lines; a huge file is a mistake.
    constexpr qint64 MaxBytes = 1 << 20;
    if (in.size() > MaxBytes) throw ConfigError(file, 0, "larger than 1 MB: not a config");
    const Layout layout = ScanLines(file, in.read(MaxBytes));

    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) throw ConfigError(file, 0, "not an INI file QSettings can read");

    static const QRegularExpression serverKey("^server:([A-Za-z0-9_-]+)$");
    HubConfig config;
    for (const Layout::Section& section : layout.sections) {
        auto line = [&](const QString& key) { return section.keys.at(key); };
        auto has = [&](const QString& key) { return section.keys.count(key) != 0; };
        if (section.name == "hub") {
            CheckKeys(section, {"http", "data", "database", "files"}, file);
            for (const char* key : {"http", "data", "database", "files"}) {
                if (!has(key)) continue;
                const QString value = Text(settings, section.name, key, file, line(key));
                if (value.isEmpty()) throw ConfigError(file, line(key), QString("\"") + key + "\" is empty");
                QString& target = QString(key) == "http"   ? config.http
                                  : QString(key) == "data" ? config.data
                                  : QString(key) == "database" ? config.database
                                                               : config.files;
                target = value;
            }
            if (has("http")) {
                QString host;
                quint16 port = 0;
                if (!live::SplitHostPort(config.http, host, port) || QHostAddress(host).isNull())
                    throw ConfigError(file, line("http"), "http needs a numeric ADDRESS:PORT, such as 127.0.0.1:8080");
            }
            continue;
        }
        if (section.name.startsWith("server:") || section.name == "server") {
            const QRegularExpressionMatch m = serverKey.match(section.name);
            if (!m.hasMatch())
                throw ConfigError(file, section.line,
                                  "[" + section.name + "]: a server's key is letters, digits, '-' and '_'");
            CheckKeys(section, {"address", "admin", "delay"}, file);
            ServerConfig server;
            server.key = m.captured(1);
            // Keys name folders and web paths: two that differ only in case
            // would be the same on some systems and confusing on all.
            for (const ServerConfig& other : config.servers)
                if (other.key.compare(server.key, Qt::CaseInsensitive) == 0)
                    throw ConfigError(file, section.line, "server key \"" + server.key + "\" is given twice");
            if (!has("address")) throw ConfigError(file, section.line, "[" + section.name + "] has no address");
            const QString address = Text(settings, section.name, "address", file, line("address"));
            QString host;
            quint16 port = 0;
            if (!live::SplitHostPort(address, host, port) || port == 0)
                throw ConfigError(file, line("address"), "address \"" + address + "\" is not HOST:PORT");
            server.host = host;
            server.port = port;
            if (has("admin")) {
                server.admin = Utf8ToWindows1252(Text(settings, section.name, "admin", file, line("admin")).toStdString());
                if (server.admin.size() > 16) throw ConfigError(file, line("admin"), "admin: at most 16 characters");
            }
            if (has("delay")) {
                bool ok = false;
                server.delaySeconds = Text(settings, section.name, "delay", file, line("delay")).toDouble(&ok);
                if (!ok || !(server.delaySeconds >= 0 && server.delaySeconds <= 300))
                    throw ConfigError(file, line("delay"), "delay needs seconds from 0 to 300");
            }
            config.servers.push_back(std::move(server));
            continue;
        }
        if (section.name.startsWith("championship:") || section.name == "championship") {
            static const QRegularExpression championshipKey("^championship:([A-Za-z0-9_-]+)$");
            const QRegularExpressionMatch m = championshipKey.match(section.name);
            if (!m.hasMatch())
                throw ConfigError(file, section.line,
                                  "[" + section.name + "]: a championship's key is letters, digits, '-' and '_'");
            for (const ChampionshipRules& other : config.championships)
                if (other.key.compare(m.captured(1), Qt::CaseInsensitive) == 0)
                    throw ConfigError(file, section.line, "championship key \"" + m.captured(1) + "\" is given twice");
            config.championships.push_back(ReadChampionship(settings, section, m.captured(1), file));
            continue;
        }
        if (section.name == "drivers") {
            // Each key is a raced name; the value the person. QSettings
            // reads '%', '\' and '/' in a key as escapes and groups, so a
            // name holding them cannot be a key.
            for (const auto& [name, at] : section.keys) {
                if (name.contains('%') || name.contains('\\') || name.contains('/'))
                    throw ConfigError(file, at, "a name holding '%', '\\' or '/' cannot be a key of [drivers]");
                const QString person = Text(settings, section.name, name, file, at).trimmed();
                if (person.isEmpty()) throw ConfigError(file, at, "\"" + name + "\" names no driver");
                // "A=B = C" reads as the name "A"; a name holding '=' cannot be a key.
                if (person.contains('='))
                    throw ConfigError(file, at, "a name holding '=' cannot be a key of [drivers]");
                const std::optional<QString> stored = StoredName(name);
                if (!stored) throw ConfigError(file, at, "\"" + name + "\" is longer than a driver's name can be");
                const QString raced = *stored;
                if (raced.isEmpty()) throw ConfigError(file, at, "\"" + name + "\" is no name without its colour codes");
                const auto [kept, added] = config.drivers.emplace(raced, person);
                if (!added && kept->second != person)
                    throw ConfigError(file, at, "\"" + raced + "\" is given to both \"" + kept->second + "\" and \"" +
                                                    person + "\"");
            }
            continue;
        }
        throw ConfigError(file, section.line, "unknown section [" + section.name + "]");
    }
    if (config.servers.empty()) throw ConfigError(file, 0, "no [server:KEY] section: nothing to watch");
    // A championship's servers are checked once every server is known.
    for (const ChampionshipRules& rules : config.championships)
        for (const QString& server : rules.servers)
            if (std::none_of(config.servers.begin(), config.servers.end(),
                             [&](const ServerConfig& s) { return s.key == server; })) {
                const auto& section = *std::find_if(layout.sections.begin(), layout.sections.end(),
                                                    [&](const Layout::Section& s) {
                                                        return s.name == "championship:" + rules.key;
                                                    });
                throw ConfigError(file, section.keys.at("servers"),
                                  "servers: \"" + server + "\" is not the key of a [server:...] section");
            }
    return config;
}

}  // namespace gs::hub
