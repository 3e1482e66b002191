// A program started by a test: its output collected through a pipe, stopped
// with SIGTERM (or killed when the test ends first).
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace gs::test {

class ChildProcess {
public:
    // argv[0] is the program's path; `cwd` empty keeps the test's folder.
    explicit ChildProcess(std::vector<std::string> argv, const std::string& cwd = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // Reads output until `marker` shows up or `ms` pass.
    bool WaitFor(const std::string& marker, int ms = 3000);
    // The port of a peer's first line: "... listening on 127.0.0.1:PORT ...".
    int ListeningPort();
    // SIGTERM, then the exit status (-1 for a signal).
    int Stop();
    // Waits up to `ms` for the program to end by itself; its exit status, or
    // -2 if it is still running.
    int Wait(int ms = -1);
    const std::string& Output() const { return text_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -2;
    std::string text_;
};

// A UDP port on loopback that nothing listens on right now.
int FreeUdpPort();
// A TCP port on loopback that nothing listens on right now.
int FreeTcpPort();

}  // namespace gs::test
