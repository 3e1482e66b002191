// gridscope-relay: the project's own relay. Lists race servers to spectators and
// forwards the chosen server's traffic.
#include "Options.h"
#include "Relay.h"

#include <csignal>
#include <iostream>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

const char* const kUsage = R"(usage: gridscope-relay [options]
  --port N             UDP port to listen on (default 47474; 0 picks a free one)
  --bind HOST          address to bind (default 127.0.0.1)
  --config FILE        server list, one entry a line: name|players|password|host:port|admin
                       (lines starting with # are comments)
  --server ENTRY       one more entry in the same form; may be repeated
  --max-clients N      spectators held at once before "relay full" (default 16)
  --client-timeout S   seconds of silence before a spectator is forgotten (default 90)
  --verbose            log clients on standard output
An entry without host:port is listed only; spectating it is answered with an
error packet with flags 0. A password makes the entry need a spectator password.
)";

}  // namespace

int main(int argc, char** argv) {
    using namespace gs;
    try {
        const peers::Options args(argc, argv, {"port", "bind", "config", "server", "max-clients", "client-timeout"},
                                  {"verbose", "help"});
        if (args.Has("help")) {
            std::cout << kUsage;
            return 0;
        }
        relay::RelayOptions options;
        options.port = static_cast<std::uint16_t>(args.Integer("port", 47474, 0, 65535));
        options.bindHost = args.Text("bind", "127.0.0.1");
        options.maxClients = static_cast<std::size_t>(args.Integer("max-clients", 16, 0, 100000));
        options.clientTimeout = args.Number("client-timeout", 90.0, 0.1, 86400.0);
        for (const std::string& file : args.All("config"))
            for (auto& entry : relay::ReadRelayConfig(file)) options.servers.push_back(std::move(entry));
        for (const std::string& line : args.All("server")) options.servers.push_back(relay::ParseEntry(line));

        relay::Relay peer(options);
        if (args.Has("verbose")) peer.log = [](const std::string& line) { std::cout << line << std::endl; };
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
        std::cout << "gridscope-relay listening on " << options.bindHost << ":" << peer.Port() << " with "
                  << options.servers.size() << " servers" << std::endl;
        while (!stopRequested) peer.Step(50);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "gridscope-relay: " << e.what() << "\n" << kUsage;
        return 2;
    }
}
