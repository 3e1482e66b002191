// The recorder's live side: joins a race server as a spectator through the core's
// connection (init packet with the admin password, requests, name requests for
// unnamed slots, keep-alive) and appends every datagram the server sends to a
// recording. A lost connection is noted in the file as a gap and joined again.
#pragma once

#include <csignal>
#include <functional>
#include <string>

namespace gs::record {

struct RecorderOptions {
    std::string host;
    int port = 0;
    std::string adminPassword;
    std::string out;
    double seconds = 0;  // 0: until stopped
    // Silence after which a live connection counts as lost and is joined anew;
    // 0 keeps the program's own rule (60.5 s).
    double timeout = 0;
    double retryDelay = 1.0;  // seconds between a lost connection and the next attempt
};

struct RecorderResult {
    std::size_t datagrams = 0;
    std::size_t gaps = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
};

// Records until `options.seconds` have passed or `stop` becomes non-zero.
// `log` gets the connection's message lines and the recorder's own notes.
// Throws std::runtime_error when the file cannot be created or written.
RecorderResult RunRecorder(const RecorderOptions& options, const volatile std::sig_atomic_t& stop,
                           const std::function<void(const std::string&)>& log);

}  // namespace gs::record
