// What a long-running tool (gridscope-live, gridscope-hub) sets up before
// its event loop: every file descriptor the system allows (each browser is
// a socket), SIGPIPE ignored (a browser that goes is not a reason to end),
// a write past a file-size limit failing like a full disk instead of ending
// the process, and SIGINT and SIGTERM quitting the loop cleanly (through a
// pipe: a signal handler may do nothing more).
#pragma once

#include <QCoreApplication>
#include <QSocketNotifier>

#include <memory>

namespace gs::live {

// The watcher of the stop signals, to keep for the loop's life; nothing
// when the pipe could not be made.
std::unique_ptr<QSocketNotifier> PrepareService(QCoreApplication& app);

}  // namespace gs::live
