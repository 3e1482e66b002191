#include "Service.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

namespace gs::live {

namespace {

int stopPipe[2] = {-1, -1};

void RequestStop(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

}  // namespace

std::unique_ptr<QSocketNotifier> PrepareService(QCoreApplication& app) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    if (::pipe2(stopPipe, O_CLOEXEC) != 0) return nullptr;
    auto stop = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(stop.get(), &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    return stop;
}

}  // namespace gs::live
