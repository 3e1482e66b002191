#include "Timing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "common/Text.h"
#include "connection/RaceState.h"
#include "view/Standings.h"

namespace gs::live {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

std::int64_t Mod(std::int64_t a, std::int64_t m) {
    const std::int64_t r = a % m;
    return r < 0 ? r + m : r;
}

int ClampInt(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, 0, INT_MAX)); }

}  // namespace

// ------------------------------------------------------------------- set-up

void Timing::SetTrack(int nodeCount, int finishNode) {
    const bool usable = nodeCount >= 3 && finishNode >= 0 && finishNode < nodeCount;
    nodes_ = usable ? nodeCount : 0;
    finish_ = usable ? finishNode : 0;
    // Sectors end a third and two thirds of the way round, and at the line.
    split_[0] = 0;
    split_[1] = nodes_ / 3;
    split_[2] = 2 * nodes_ / 3;
    split_[3] = nodes_;
    cars_.clear();
    bestSectors_ = {};
    bestLap_.reset();
    firstAcross_.clear();
    standingStart_.reset();
    epoch_.reset();
}

void Timing::StartSession(std::int64_t at, bool standingStart) {
    cars_.clear();
    bestSectors_ = {};
    bestLap_.reset();
    firstAcross_.clear();
    standingStart_.reset();
    if (standingStart) standingStart_ = at;
    epoch_ = at;
    now_ = std::max(now_, at);
}

int Timing::SplitNode(int sector) const {
    if (nodes_ == 0 || sector < 1 || sector > 2) return 0;
    return (finish_ + split_[sector]) % nodes_;
}

std::int64_t Timing::LapOf(std::int64_t a) const { return FloorDiv(a, nodes_) + 1; }

// ------------------------------------------------------------------ drivers

Timing::Car* Timing::Find(const std::string& name) {
    for (Car& c : cars_)
        if (c.name == name) return &c;
    return nullptr;
}

const Timing::Car* Timing::Find(const std::string& name) const {
    for (const Car& c : cars_)
        if (c.name == name) return &c;
    return nullptr;
}

Timing::Car& Timing::Admit(const std::string& name) {
    if (Car* c = Find(name)) return *c;
    if (cars_.size() >= MaxDrivers) {
        // The driver not heard of for longest makes room.
        auto oldest = std::min_element(cars_.begin(), cars_.end(),
                                       [](const Car& a, const Car& b) { return a.lastSample < b.lastSample; });
        cars_.erase(oldest);
    }
    Car c;
    c.name = name;
    c.first = reports_++;
    cars_.push_back(std::move(c));
    return cars_.back();
}

void Timing::Rename(const std::string& from, const std::string& to) {
    if (from == to || !Find(from)) return;
    // A driver of the new name timed before is replaced by the renamed one.
    cars_.erase(std::remove_if(cars_.begin(), cars_.end(), [&](const Car& c) { return c.name == to; }), cars_.end());
    Find(from)->name = to;
    if (bestLap_ && bestLap_->name == from) bestLap_->name = to;
}

std::vector<std::string> Timing::Drivers() const {
    std::vector<const Car*> order;
    for (const Car& c : cars_) order.push_back(&c);
    std::sort(order.begin(), order.end(), [](const Car* a, const Car* b) { return a->first < b->first; });
    std::vector<std::string> names;
    for (const Car* c : order) names.push_back(c->name);
    return names;
}

// ------------------------------------------------------------ node times

void Timing::Record(Car& c, std::int64_t a, std::optional<std::int64_t> t) {
    std::int32_t v = Absent;
    if (t) v = static_cast<std::int32_t>(std::clamp<std::int64_t>(*t - epoch_.value_or(0), INT32_MIN + 1, INT32_MAX));
    c.times[static_cast<std::size_t>(Mod(a, 2 * std::int64_t{nodes_}))] = v;
}

std::optional<std::int64_t> Timing::TimeAt(const Car& c, std::int64_t a) const {
    if (!c.anchored || a > c.hw || a <= c.hw - 2 * std::int64_t{nodes_}) return std::nullopt;
    const std::int32_t v = c.times[static_cast<std::size_t>(Mod(a, 2 * std::int64_t{nodes_}))];
    if (v == Absent) return std::nullopt;
    return epoch_.value_or(0) + v;
}

// The time from reaching `from` to reaching `to`, when both are known and
// every node between was driven.
std::optional<int> Timing::Span(const Car& c, std::int64_t from, std::int64_t to) const {
    if (c.lastSkipEnd > from) return std::nullopt;
    const auto a = TimeAt(c, from), b = TimeAt(c, to);
    if (!a || !b) return std::nullopt;
    return ClampInt(*b - *a);
}

void Timing::Anchor(Car& c, std::int64_t at, std::int64_t a, int lap, int d, bool first) {
    c.anchored = true;
    c.hw = c.anchorA = a;
    c.anchorT = at;
    c.lastSkipEnd = a;
    c.farSince.reset();
    c.rate = 0;
    c.times.assign(2 * static_cast<std::size_t>(nodes_), Absent);
    c.currentLap = LapOf(a);
    c.current.clear();
    // A race's first lap starts at the start, with the car on the grid.
    if (first && standingStart_ && lap == 1 && d < split_[1] && at >= *standingStart_) {
        Record(c, 0, *standingStart_);
        c.lastSkipEnd = 0;
    }
}

void Timing::Report(std::int64_t at, const CarSampleReport& s) {
    now_ = std::max(now_, at);
    if (nodes_ == 0 || s.name.empty()) return;
    Car& c = Admit(s.name);
    c.pos = s.pos;
    c.lastSample = at;
    if (c.finishA) return;
    if (s.node < 0 || s.node >= nodes_) return;  // no place on this path
    if (!epoch_) epoch_ = at;
    const std::int64_t n = nodes_;
    const int d = static_cast<int>((s.node - finish_ + n) % n);
    std::int64_t a = LapStart(s.lap) + d;
    if (!c.anchored) {
        Anchor(c, at, a, s.lap, d, true);
    } else {
        // Near the line, a counter one lap off from the node's continuity
        // turned early or late.
        if (d < n / 8 || d >= n - n / 8) {
            for (const std::int64_t alt : {a - n, a + n})
                if (std::llabs(alt - c.anchorA) < std::llabs(a - c.anchorA) && std::llabs(alt - c.anchorA) < n / 4)
                    a = alt;
        }
        const std::int64_t delta = a - c.anchorA;
        if (delta <= -(n / 2)) {
            // Far behind: a glitch unless it lasts.
            if (!c.farSince) c.farSince = at;
            else if (at - *c.farSince >= ReanchorMs) Anchor(c, at, a, s.lap, d, false);
        } else {
            c.farSince.reset();
            if (delta > 0) {
                Advance(c, at, a);
            } else {
                // Standing, or reversing: the next move starts from here.
                c.anchorA = a;
                c.anchorT = at;
            }
        }
    }
    if (s.finished && !c.finishA) c.finishA = FloorDiv(c.hw, n) * n;
}

void Timing::Advance(Car& c, std::int64_t at, std::int64_t a) {
    if (a <= c.hw) {
        // Still behind the furthest node after reversing.
        c.anchorA = a;
        c.anchorT = at;
        return;
    }
    const std::int64_t n = nodes_;
    const std::int64_t delta = a - c.anchorA, dt = at - c.anchorT;
    const double plausible = std::max(static_cast<double>(n) / 8.0, 4.0 * c.rate * static_cast<double>(dt));
    // Two samples of a car read closer together than MinSampleGapMs waited
    // in the socket together: when they arrived is not known.
    const bool driven = dt >= MinSampleGapMs && dt <= MaxSampleGapMs && delta <= n / 2 &&
                        static_cast<double>(delta) <= plausible;
    const std::int64_t old = c.hw;
    if (driven) {
        for (std::int64_t m = old + 1; m <= a; ++m)
            Record(c, m,
                   c.anchorT + std::llround(static_cast<double>(m - c.anchorA) * static_cast<double>(dt) /
                                            static_cast<double>(delta)));
        c.rate = static_cast<double>(delta) / static_cast<double>(dt);
    } else {
        const std::int64_t count = std::min(a - old, 2 * n);
        for (std::int64_t m = a - count + 1; m <= a; ++m) Record(c, m, std::nullopt);
        c.lastSkipEnd = a;
    }
    c.hw = c.anchorA = a;
    c.anchorT = at;
    // The sector and lap ends passed, in order; a jump over many laps ends
    // the last of them only. The line k x N ends lap k, not k + 1: a car
    // sampled on the last node before it ends that lap with its next step.
    const std::int64_t from = std::max(old, a - n);
    for (std::int64_t k = LapEndingAt(from + 1); k <= LapEndingAt(a); ++k)
        for (int sector = 1; sector <= 3; ++sector) {
            const std::int64_t b = LapStart(k) + split_[sector];
            if (b > from && b <= a) Boundary(c, b, at);
        }
}

// A sector end (and at the line, a lap end) reached at absolute node `b`.
void Timing::Boundary(Car& c, std::int64_t b, std::int64_t at) {
    const std::int64_t k = LapEndingAt(b);
    const std::int64_t s = b - LapStart(k);
    const int sector = s == split_[1] ? 1 : s == split_[2] ? 2 : 3;
    if (c.currentLap != k) {
        c.currentLap = k;
        c.current.clear();
    }
    const std::optional<int> time = Span(c, LapStart(k) + split_[sector - 1], b);
    c.current.resize(static_cast<std::size_t>(sector - 1));
    c.current.push_back(time);
    if (time) {
        std::optional<int>& mine = c.best[static_cast<std::size_t>(sector - 1)];
        if (!mine || *time < *mine) mine = time;
        std::optional<int>& overall = bestSectors_[static_cast<std::size_t>(sector - 1)];
        if (!overall || *time < *overall) overall = time;
    }
    if (sector != 3) return;

    LapRecord r;
    r.lap = static_cast<int>(std::clamp<std::int64_t>(k, INT_MIN, INT_MAX));
    r.ms = Span(c, LapStart(k), b);
    for (std::size_t i = 0; i < 3 && i < c.current.size(); ++i) r.sectors[i] = c.current[i];
    r.pos = c.pos;
    r.at = at;
    r.crossed = TimeAt(c, b);
    if (r.ms) {
        r.personalBest = !c.bestLap || *r.ms < *c.bestLap;
        if (r.personalBest) c.bestLap = r.ms;
        r.sessionBest = !bestLap_ || *r.ms < bestLap_->ms;
        if (r.sessionBest) bestLap_ = BestLap{c.name, *r.ms};
    }
    if (r.crossed) {
        auto [it, fresh] = firstAcross_.emplace(b, *r.crossed);
        if (!fresh) it->second = std::min(it->second, *r.crossed);
        if (firstAcross_.size() > MaxLaps) firstAcross_.erase(firstAcross_.begin());
    }
    c.laps.push_back(r);
    if (c.laps.size() > MaxLaps) c.laps.erase(c.laps.begin());
    ++c.completed;
    c.currentLap = k + 1;
    c.current.clear();
}

// --------------------------------------------------------------- queries

void Timing::Compare(const Car& x, const Car* y, std::optional<int>& ms, int& laps) const {
    ms.reset();
    laps = 0;
    if (!y || !x.anchored || !y->anchored) return;
    if (!x.finishA && now_ - x.lastSample > StaleMs) return;
    const std::int64_t px = Progress(x), py = Progress(*y);
    if (py - px >= nodes_) laps = static_cast<int>(std::min<std::int64_t>(FloorDiv(py - px, nodes_), INT_MAX));
    for (std::int64_t m = px; m > px - CompareSearchNodes; --m) {
        const auto tx = TimeAt(x, m), ty = TimeAt(*y, m);
        if (tx && ty) {
            ms = ClampInt(*tx - *ty);
            return;
        }
    }
}

std::vector<CarTiming> Timing::Standing(const std::vector<std::string>& ranked) const {
    std::vector<CarTiming> out(ranked.size());
    if (nodes_ == 0) return out;
    const Car* leader = ranked.empty() ? nullptr : Find(ranked.front());
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        const Car* x = Find(ranked[i]);
        if (!x) continue;
        CarTiming& t = out[i];
        if (i > 0) {
            Compare(*x, Find(ranked[i - 1]), t.intervalMs, t.intervalLaps);
            Compare(*x, leader, t.gapMs, t.gapLaps);
        }
        t.sectors = x->current;
        t.bestSectors = x->best;
    }
    return out;
}

std::optional<std::vector<LapRecord>> Timing::LapsOf(const std::string& name, std::int64_t upTo) const {
    const Car* c = Find(name);
    if (!c) return std::nullopt;
    std::vector<LapRecord> laps;
    for (const LapRecord& r : c->laps)
        if (r.at <= upTo) laps.push_back(r);
    return laps;
}

int Timing::LapsCompleted(const std::string& name) const {
    const Car* c = Find(name);
    return c ? c->completed : 0;
}

std::optional<LapRecord> Timing::LastLap(const std::string& name) const {
    const Car* c = Find(name);
    if (!c || c->laps.empty()) return std::nullopt;
    return c->laps.back();
}

std::optional<int> Timing::GapAtLine(const LapRecord& lap) const {
    if (!lap.crossed || nodes_ == 0) return std::nullopt;
    const auto it = firstAcross_.find(std::int64_t{lap.lap} * nodes_);
    if (it == firstAcross_.end()) return std::nullopt;
    return ClampInt(*lap.crossed - it->second);
}

// ------------------------------------------------------------------ glue

void Timing::AfterDatagram(std::string_view type, std::int64_t at, RaceState& race, const PlayerRecord* before,
                           int beforeCount) {
    if (type == "RST") {
        StartSession(at, race.RaceMode == rmRace);
        return;
    }
    if (type != "MCI") return;
    if (nodes_ != 0) {
        ComputePositions(race, nodes_, finish_);
        for (int i = 0; i < race.PlayerCount; ++i) {
            const PlayerRecord& p = race.Players[i];
            // A car of this datagram has one sample more than before it.
            const int prior = i < beforeCount ? before[i].SampleCount : 0;
            if (p.SampleCount <= prior) continue;
            Report(at, CarSampleReport{FieldText(p.Name, sizeof p.Name), static_cast<int>(p.Node), p.Lap, p.Position,
                                       p.Finished != 0});
        }
    }
    // Only the newest pose matters (the page smooths on its own), so each
    // queue keeps just that one: it never fills, whatever the server's rate
    // (a full queue would refuse newer samples), and the next datagram's
    // cars are those whose queue grew.
    for (int i = 0; i < race.PlayerCount; ++i) {
        PlayerRecord& p = race.Players[i];
        if (p.SampleCount > 1 && p.SampleCount <= MaxSamples) {
            p.Samples[0] = p.Samples[p.SampleCount - 1];
            p.SampleCount = 1;
        }
    }
}

}  // namespace gs::live
