// gridscope-live: joins one race server as a spectator, as the program does,
// and serves the race to any number of browsers: the live page, a timing
// tower for streaming software, the state as JSON and a WebSocket of changes.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <unistd.h>
#include <cstdio>

#include "LiveServer.h"
#include "Service.h"
#include "RaceFeed.h"
#include "common/Text.h"

namespace {

int Fail(const QString& text) {
    std::fprintf(stderr, "gridscope-live: %s\n", qPrintable(text));
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Qt's own event dispatcher: with hundreds of browser sockets it costs
    // about a third less than the GLib one, which walks lists per notifier.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("gridscope-live");
    QCoreApplication::setApplicationVersion("2.02");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Joins a race server as a spectator and serves the race to browsers:\n"
        "  /          the live page (standings, track, events)\n"
        "  /overlay   a timing tower for streaming software\n"
        "             (?rows=N&side=left|right&show=gap|interval|best&focus=NAME)\n"
        "  /api/state the state as JSON;  /api/laps?name=NAME  a driver's lap history\n"
        "  /api/live  a WebSocket of changes");
    parser.addHelpOption();
    parser.addOptions({
        {"server", "The race server to join.", "HOST:PORT"},
        {"admin", "The race server's admin password (never sent to browsers).", "TEXT"},
        {"http", "Where to serve the page (default 127.0.0.1:8080; port 0 picks a free one).", "ADDR:PORT",
         "127.0.0.1:8080"},
        {"delay", "Hold everything back this many seconds, 0 to 300 (default 0).", "SECONDS", "0"},
        {"files", "The folder holding the track files' folder \"files\" (default: the current one).", "DIR"},
    });
    parser.process(app);

    QString raceHost, httpHost;
    quint16 racePort = 0, httpPort = 0;
    if (!parser.isSet("server") || !gs::live::SplitHostPort(parser.value("server"), raceHost, racePort) || racePort == 0)
        return Fail("--server HOST:PORT is needed");
    if (!gs::live::SplitHostPort(parser.value("http"), httpHost, httpPort)) return Fail("--http needs ADDR:PORT");
    const QHostAddress httpAddress(httpHost);
    if (httpAddress.isNull()) return Fail("--http needs a numeric address, such as 127.0.0.1 or 0.0.0.0");
    bool ok = false;
    const double delay = parser.value("delay").toDouble(&ok);
    if (!ok || !(delay >= 0 && delay <= 300)) return Fail("--delay needs seconds from 0 to 300");
    const std::string admin = gs::Utf8ToWindows1252(parser.value("admin").toStdString());
    if (admin.size() > 16) return Fail("--admin: at most 16 characters");

    // The track files are read from "files" below the current folder, as
    // the program reads them from its run folder.
    if (parser.isSet("files")) {
        QString dir = parser.value("files");
        if (!QFileInfo(dir + "/files").isDir() && QFileInfo(dir).fileName() == "files") dir += "/..";
        if (!QDir::setCurrent(dir)) return Fail("--files: cannot enter " + parser.value("files"));
    }
    if (!QFileInfo("files").isDir())
        std::fprintf(stderr, "gridscope-live: no folder \"files\" in %s: the page shows no track\n",
                     qPrintable(QDir::currentPath()));

    const auto stopNotifier = gs::live::PrepareService(app);
    if (!stopNotifier) return Fail("cannot make a pipe");

    gs::live::RaceFeedOptions options;
    options.host = raceHost.toStdString();
    options.port = racePort;
    options.admin = admin;
    gs::live::RaceFeed spectator(options);
    gs::live::Publisher publisher(spectator, static_cast<int>(delay * 1000 + 0.5));
    gs::live::LiveSite site(publisher, spectator);
    gs::live::WebServer web;
    web.Mount("", site);
    QString error;
    if (!web.Listen(httpAddress, httpPort, error))
        return Fail("cannot serve on " + parser.value("http") + ": " + error);

    const QString shown = httpAddress.protocol() == QAbstractSocket::IPv6Protocol ? "[" + httpHost + "]" : httpHost;
    std::printf("gridscope-live listening on %s:%u for %s:%u, delay %.1f s\n", qPrintable(httpHost),
                static_cast<unsigned>(web.Port()), qPrintable(raceHost), static_cast<unsigned>(racePort), delay);
    std::printf("page: http://%s:%u/  overlay: http://%s:%u/overlay\n", qPrintable(shown),
                static_cast<unsigned>(web.Port()), qPrintable(shown), static_cast<unsigned>(web.Port()));
    std::fflush(stdout);
    spectator.Start();
    return app.exec();
}
