// The hub's configuration. QSettings reads the values; a first pass over the
// lines finds what QSettings would silently accept or merge (an unknown
// section or key, a section or key given twice) and gives every value's
// line, so each refusal can say where.
#include "HubConfig.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>

#include <map>
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
        throw ConfigError(file, section.line, "unknown section [" + section.name + "]");
    }
    if (config.servers.empty()) throw ConfigError(file, 0, "no [server:KEY] section: nothing to watch");
    return config;
}

}  // namespace gs::hub
