// Reads of the store on threads of their own, so that the league's pages
// are made side by side and never wait behind the event loop (the feeds,
// the live pages, the store's writes), nor it behind them.
//
// Each thread opens its own connection when it first has work (Qt SQL
// connections belong to the thread that opened them; SQLite's write-ahead
// log lets readers run beside the writer) and keeps, beside it, answers
// made at the store's current change mark, reused until the mark moves.
// A connection that cannot be opened is tried again at the next job; the
// job is told there is none.
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Store.h"

namespace gs::hub {

// A reading thread's own: its connection (null when it could not be
// opened, with why) and the answers it keeps.
class StoreReader {
public:
    Store* store = nullptr;
    QString failure;

    // The answer kept under `key` when made at the store's current mark,
    // else `make`'s, kept (up to MaxKeptBytes in all: the oldest go first).
    QByteArray Kept(const QString& key, const std::function<QByteArray()>& make);

    static constexpr qsizetype MaxKeptBytes = 16 * 1024 * 1024;

private:
    friend class StoreReaders;
    std::unique_ptr<Store> owned_;
    std::map<QString, std::pair<std::int64_t, QByteArray>> kept_;
    std::deque<QString> order_;  // keys, oldest first
    qsizetype keptBytes_ = 0;
};

class StoreReaders {
public:
    using Job = std::function<void(StoreReader&)>;

    // `threads` readers of the store `url` (as Store::OpenReader takes it).
    StoreReaders(const QString& url, const QString& dataDir, int threads);
    // Runs what was posted, then ends the threads.
    ~StoreReaders();
    StoreReaders(const StoreReaders&) = delete;
    StoreReaders& operator=(const StoreReaders&) = delete;

    // Runs `job` on the first free reader. It must not throw.
    void Post(Job job);
    // Jobs posted and not yet started.
    std::size_t Waiting() const;

private:
    void Run();

    const QString url_, dataDir_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace gs::hub
