// gridscope-raceserver: a dedicated race server of our own that spectators can
// connect to over UDP; it simulates a field of cars on a generated track.
#include "Options.h"
#include "PathFile.h"
#include "RaceServer.h"
#include "ReplayServer.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

const char* const kUsage = R"(usage: gridscope-raceserver [options]
  --port N              UDP port to listen on (default 29999; 0 picks a free one)
  --bind HOST           address to bind (default 127.0.0.1)
  --cars N              field size, 1..32 (default 12)
  --laps N              race length in laps (default 5)
  --qualify-minutes N   qualifying length (default 5)
  --sessions KIND       race, qualify or both (default both: qualifying, then a race)
  --track CODE          first track, e.g. AS1 or BL2R (default AS1)
  --track-change P      chance 0..1 that a new session moves to another track
                        whose path file is in the files folder (default 0.25)
  --files DIR           folder with the path files (default files)
  --name TEXT           server name with colour codes (default "^1Grid^7scope ^3Demo")
  --names FILE          driver names, one a line, as bytes (Windows-1252, colour codes
                        allowed, at most 24 bytes): the first drivers get them
  --admin TEXT          admin password spectators must send (default empty)
  --version N           version reported to spectators (default 1)
  --seed N              seed of the simulation (default 1)
  --time-scale X        simulated seconds per real second (default 1)
  --spectator-timeout S seconds of silence before a spectator is forgotten (default 90)
  --verbose             log spectators and events on standard output

replay mode: serves a recording made by gridscope-record instead of a simulation
  --replay FILE         the recording to serve (with --port, --bind, --admin,
                        --spectator-timeout and --verbose as above)
  --speed X             recorded seconds per real second (default 1)
  --from SECONDS        each spectator starts this far into the recording (default 0)
  --loop                start again at the end instead of falling silent
)";

int Replay(const gs::peers::Options& args) {
    using namespace gs;
    raceserver::ReplayOptions options;
    options.port = static_cast<std::uint16_t>(args.Integer("port", 29999, 0, 65535));
    options.bindHost = args.Text("bind", "127.0.0.1");
    options.adminPassword = args.Text("admin", "");
    options.speed = args.Number("speed", 1.0, 0.01, 1000.0);
    options.from = args.Number("from", 0.0, 0.0, 1e9);
    options.loop = args.Has("loop");
    options.spectatorTimeout = args.Number("spectator-timeout", 90.0, 0.1, 86400.0);
    if (options.adminPassword.size() > 16) throw std::runtime_error("option --admin: at most 16 bytes");

    const std::string file = args.Text("replay", "");
    const peers::Recording recording = peers::ReadRecordingFile(file);
    if (recording.end != peers::Recording::End::Complete)
        std::cerr << "gridscope-raceserver: " << file << ": " << recording.note << "; the replay ends there"
                  << std::endl;
    if (options.from > recording.LengthSeconds())
        std::cerr << "gridscope-raceserver: --from " << options.from << " is past the end of the recording ("
                  << recording.LengthSeconds() << " s)" << std::endl;

    raceserver::ReplayServer peer(options, recording);
    if (args.Has("verbose")) peer.log = [](const std::string& line) { std::cout << line << std::endl; };
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::cout << "gridscope-raceserver listening on " << options.bindHost << ":" << peer.Port() << " replaying " << file
              << " (" << recording.records.size() << " records, " << recording.LengthSeconds() << " s) at speed "
              << options.speed << std::endl;
    while (!stopRequested) peer.Step(50);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace gs;
    try {
        const peers::Options args(
            argc, argv,
            {"port", "bind", "cars", "laps", "qualify-minutes", "sessions", "track", "track-change", "files", "name",
             "names", "admin", "version", "seed", "time-scale", "spectator-timeout", "replay", "speed", "from"},
            {"verbose", "help", "loop"});
        if (args.Has("help")) {
            std::cout << kUsage;
            return 0;
        }
        if (args.Has("replay")) return Replay(args);
        for (const char* replayOnly : {"speed", "from", "loop"})
            if (args.Has(replayOnly))
                throw std::runtime_error(std::string("option --") + replayOnly + " needs --replay");
        raceserver::SimOptions sim;
        sim.cars = static_cast<int>(args.Integer("cars", 12, 1, 32));
        sim.laps = static_cast<int>(args.Integer("laps", 5, 1, 255));
        sim.qualifyMinutes = static_cast<int>(args.Integer("qualify-minutes", 5, 1, 255));
        sim.seed = static_cast<std::uint32_t>(args.Integer("seed", 1, 0, 4294967295L));
        sim.trackChange = args.Number("track-change", 0.25, 0.0, 1.0);
        if (args.Has("names")) {
            std::ifstream list(args.Text("names", ""), std::ios::binary);
            if (!list) throw std::runtime_error("option --names: cannot read '" + args.Text("names", "") + "'");
            for (std::string line; std::getline(list, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.size() > 24)
                    throw std::runtime_error("option --names: '" + line + "' is longer than 24 bytes");
                if (!line.empty()) sim.names.push_back(line);
            }
        }
        const std::string kinds = args.Text("sessions", "both");
        if (kinds == "race") sim.kinds = raceserver::SessionKinds::Race;
        else if (kinds == "qualify") sim.kinds = raceserver::SessionKinds::Qualify;
        else if (kinds == "both") sim.kinds = raceserver::SessionKinds::Both;
        else throw std::runtime_error("option --sessions needs race, qualify or both, got '" + kinds + "'");

        raceserver::ServerOptions server;
        server.port = static_cast<std::uint16_t>(args.Integer("port", 29999, 0, 65535));
        server.bindHost = args.Text("bind", "127.0.0.1");
        server.serverName = args.Text("name", server.serverName);
        server.adminPassword = args.Text("admin", "");
        server.inSimVersion = static_cast<int>(args.Integer("version", 1, 0, 65535));
        server.timeScale = args.Number("time-scale", 1.0, 0.01, 1000.0);
        server.spectatorTimeout = args.Number("spectator-timeout", 90.0, 0.1, 86400.0);
        if (server.serverName.size() > 32) throw std::runtime_error("option --name: at most 32 bytes");
        if (server.adminPassword.size() > 16) throw std::runtime_error("option --admin: at most 16 bytes");

        const std::filesystem::path files = args.Text("files", "files");
        const std::string first = args.Text("track", "AS1");
        if (!peers::IsCatalogueTrackCode(first))
            throw std::runtime_error("option --track: '" + first +
                                     "' is not a catalogue track (SO, FE, BL, AS, KY or WE, layout 1..3, optional R)");
        std::vector<std::shared_ptr<const raceserver::SimTrack>> tracks;
        tracks.push_back(
            std::make_shared<raceserver::SimTrack>(first, peers::ReadPathFile(peers::PathFileFor(files, first))));
        for (const std::string& code : peers::CatalogueTrackCodes()) {
            const auto file = peers::PathFileFor(files, code);
            if (code == first || !std::filesystem::exists(file)) continue;
            try {
                tracks.push_back(std::make_shared<raceserver::SimTrack>(code, peers::ReadPathFile(file)));
            } catch (const std::exception& e) {
                std::cerr << "gridscope-raceserver: skipping track " << code << ": " << e.what() << "\n";
            }
        }

        raceserver::RaceSim race(sim, tracks, 0);
        raceserver::RaceServer peer(server, race);
        const bool verbose = args.Has("verbose");
        if (verbose) peer.log = [](const std::string& line) { std::cout << line << std::endl; };

        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
        std::cout << "gridscope-raceserver listening on " << server.bindHost << ":" << peer.Port() << " track " << first
                  << " (" << tracks.size() << " tracks available), " << sim.cars << " cars" << std::endl;
        while (!stopRequested) peer.Step(50);
        return 0;
    } catch (const gs::peers::RecordingRefused& e) {
        std::cerr << "gridscope-raceserver: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "gridscope-raceserver: " << e.what() << "\n" << kUsage;
        return 2;
    }
}
