#include "StoreReaders.h"

namespace gs::hub {

QByteArray StoreReader::Kept(const QString& key, const std::function<QByteArray()>& make) {
    const std::int64_t mark = store->ChangeMark();
    auto found = kept_.find(key);
    if (found != kept_.end() && found->second.first == mark) return found->second.second;
    QByteArray made = make();
    if (found != kept_.end()) {
        keptBytes_ += made.size() - found->second.second.size();
        found->second = {mark, made};
    } else {
        kept_.emplace(key, std::make_pair(mark, made));
        order_.push_back(key);
        keptBytes_ += made.size();
    }
    while (keptBytes_ > MaxKeptBytes && order_.size() > 1) {
        const auto oldest = kept_.find(order_.front());
        keptBytes_ -= oldest->second.second.size();
        kept_.erase(oldest);
        order_.pop_front();
    }
    return made;
}

StoreReaders::StoreReaders(const QString& url, const QString& dataDir, int threads) : url_(url), dataDir_(dataDir) {
    for (int i = 0; i < std::max(threads, 1); ++i) threads_.emplace_back([this] { Run(); });
}

StoreReaders::~StoreReaders() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void StoreReaders::Post(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

std::size_t StoreReaders::Waiting() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

void StoreReaders::Run() {
    StoreReader reader;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (!reader.owned_) {
            try {
                reader.owned_ = Store::OpenReader(url_, dataDir_);
                reader.store = reader.owned_.get();
                reader.failure.clear();
            } catch (const StoreError& e) {
                reader.failure = QString::fromUtf8(e.what());
            }
        }
        job(reader);
    }
    // The connection closes on the thread that opened it.
    reader.store = nullptr;
    reader.owned_.reset();
}

}  // namespace gs::hub
