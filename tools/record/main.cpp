// gridscope-record: records a race server's traffic as a spectator, tells what a
// recording holds, and writes a race report from it.
#include "Options.h"
#include "RaceReport.h"
#include "Recorder.h"
#include "Recording.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iostream>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

const char* const kUsage = R"(usage:
  gridscope-record --server HOST:PORT [--admin TEXT] --out FILE [--seconds S]
                   [--timeout S] [--verbose]
      joins the race server as a spectator and records everything it sends,
      until S seconds have passed (default: until Ctrl-C or SIGTERM)
      --timeout S   join again after S seconds of silence (default: the
                    program's own 60.5 s)
  gridscope-record --info FILE [--files DIR]
      prints the length, datagrams, server, tracks, sessions and drivers
  gridscope-record --report FILE --html OUT.html [--files DIR]
      writes a self-contained race report page
  --files DIR   folder with the tracks' path files, for the ranking (default files)
)";

void Warn(const gs::peers::Recording& recording, const std::string& file) {
    if (recording.end != gs::peers::Recording::End::Complete)
        std::cerr << "gridscope-record: " << file << ": " << recording.note << "; reading stops there\n";
}

int Record(const gs::peers::Options& args) {
    using namespace gs;
    record::RecorderOptions options;
    const std::string server = args.Text("server", "");
    const auto colon = server.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw std::runtime_error("option --server needs HOST:PORT, got '" + server + "'");
    options.host = server.substr(0, colon);
    try {
        std::size_t used = 0;
        options.port = std::stoi(server.substr(colon + 1), &used);
        if (used != server.size() - colon - 1 || options.port < 1 || options.port > 65535)
            throw std::invalid_argument("port");
    } catch (const std::exception&) {
        throw std::runtime_error("option --server: '" + server.substr(colon + 1) + "' is not a port (1..65535)");
    }
    options.adminPassword = args.Text("admin", "");
    if (options.adminPassword.size() > 16) throw std::runtime_error("option --admin: at most 16 bytes");
    options.out = args.Text("out", "");
    if (options.out.empty()) throw std::runtime_error("option --out FILE is needed to record");
    options.seconds = args.Number("seconds", 0.0, 0.0, 1e9);
    options.timeout = args.Number("timeout", 0.0, 0.0, 86400.0);
    const bool verbose = args.Has("verbose");

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::cout << "gridscope-record recording " << options.host << ":" << options.port << " to " << options.out
              << std::endl;
    record::RecorderResult result;
    try {
        result = record::RunRecorder(options, stopRequested, [&](const std::string& line) {
            if (verbose || line.rfind("gap:", 0) == 0) std::cout << line << std::endl;
        });
    } catch (const std::exception& e) {
        // What was recorded so far stays readable.
        std::cerr << "gridscope-record: " << e.what() << "\n";
        return 1;
    }
    std::cout << "gridscope-record wrote " << result.datagrams << " datagrams, " << result.gaps << " gaps, "
              << result.bytes << " bytes in " << result.seconds << " s to " << options.out << std::endl;
    return 0;
}

int Info(const gs::peers::Options& args) {
    const std::string file = args.Text("info", "");
    const gs::peers::Recording recording = gs::peers::ReadRecordingFile(file);
    Warn(recording, file);
    std::cout << "Recording: " << file << "\n";
    gs::record::WriteInfo(std::cout, gs::record::AnalyseRecording(recording, args.Text("files", "files")));
    return 0;
}

int Report(const gs::peers::Options& args) {
    const std::string file = args.Text("report", "");
    const std::string html = args.Text("html", "");
    if (html.empty()) throw std::runtime_error("option --report needs --html OUT.html");
    const gs::peers::Recording recording = gs::peers::ReadRecordingFile(file);
    Warn(recording, file);
    const auto report = gs::record::AnalyseRecording(recording, args.Text("files", "files"));
    std::ofstream out(html, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + html);
    gs::record::WriteHtmlReport(out, report, file);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + html);
    const auto reported = std::count_if(report.sessions.begin(), report.sessions.end(),
                                        [](const gs::record::SessionReport& s) { return s.HasTimes(); });
    std::cout << "gridscope-record wrote the report of " << reported << " sessions to " << html << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const gs::peers::Options args(
            argc, argv, {"server", "admin", "out", "seconds", "timeout", "info", "report", "html", "files"},
            {"verbose", "help"});
        if (args.Has("help")) {
            std::cout << kUsage;
            return 0;
        }
        const int modes = args.Has("server") + args.Has("info") + args.Has("report");
        if (modes != 1) throw std::runtime_error("give one of --server, --info or --report");
        if (args.Has("info")) return Info(args);
        if (args.Has("report")) return Report(args);
        return Record(args);
    } catch (const gs::peers::RecordingRefused& e) {
        std::cerr << "gridscope-record: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "gridscope-record: " << e.what() << "\n" << kUsage;
        return 2;
    }
}
