#include "support/ChildProcess.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace gs::test {

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::string& cwd) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || status_ != -2) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

bool ChildProcess::WaitFor(const std::string& marker, int ms) {
    for (int waited = 0; text_.find(marker) == std::string::npos && waited < ms; waited += 20) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            text_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return text_.find(marker) != std::string::npos;
}

int ChildProcess::ListeningPort() {
    if (!WaitFor("\n")) return 0;
    const auto at = text_.find("listening on 127.0.0.1:");
    return at == std::string::npos ? 0 : std::stoi(text_.substr(at + 23));
}

int ChildProcess::Stop() {
    if (Running()) kill(pid_, SIGTERM);
    return Wait();
}

int ChildProcess::Wait(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (Running()) {
        if (ms >= 0 && std::chrono::steady_clock::now() > until) return -2;
        WaitFor("\x01", 20);  // keep the pipe drained meanwhile
    }
    WaitFor("\x01", 50);
    return status_;
}

namespace {

// A port of `type` on loopback that the system hands out as free now.
int FreePort(int type) {
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

}  // namespace

int FreeUdpPort() { return FreePort(SOCK_DGRAM); }
int FreeTcpPort() { return FreePort(SOCK_STREAM); }

}  // namespace gs::test
