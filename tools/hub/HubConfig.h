// The hub's configuration: an INI file read with QSettings, checked line by
// line first so that a mistake is refused with its file, line and reason.
//
//   [hub]             http, data, database, files (the command line's
//                     options override them)
//   [server:KEY]      address, admin, delay: one watched race server each;
//                     KEY is letters, digits, '-' and '_'
//   [championship:KEY] title, servers, from, to, sessions, points,
//                     fastest-lap, pole, min-laps-percent, drop-worst,
//                     multiplier.N: one championship each
//   [drivers]         NAME = PERSON: the names one person races under
//
// `;` starts a comment; a value holding `;` or `,` is written in double
// quotes.
#pragma once

#include <QString>

#include "Championship.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace gs::hub {

// A refused config: where and why, for the user.
class ConfigError : public std::runtime_error {
public:
    ConfigError(const QString& file, int line, const QString& reason);
    QString file;
    int line;  // 0: the file as a whole
    QString reason;
};

struct ServerConfig {
    QString key;
    QString host;
    std::uint16_t port = 0;
    std::string admin;  // Windows-1252, at most 16 bytes; never shown
    double delaySeconds = 0;
};

struct HubConfig {
    QString http = "127.0.0.1:8080";
    QString data = ".";
    QString database = "sqlite";
    QString files = ".";
    std::vector<ServerConfig> servers;  // in the file's order
    std::vector<ChampionshipRules> championships;  // in the file's order
    DriverAliases drivers;
};

// Reads and checks `file`; throws ConfigError.
HubConfig ReadHubConfig(const QString& file);

}  // namespace gs::hub
