// The simulated race: session cycle, driving, and the events both produce.
#include "RaceSim.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace gs::raceserver {

namespace {

const char* const kFirstNames[] = {"Alex", "Mira",  "Jonas", "Kai",  "Lena",  "Tomas", "Ines", "Rafa", "Noor",
                                   "Emil", "Sanne", "Oskar", "Yuki", "Pavel", "Lotte", "Bram", "Ada",  "Milo",
                                   "Vera", "Hugo",  "Tariq", "Elin", "Dario", "Fenna", "Ivo",  "Juna"};
const char* const kLastNames[] = {"Berg",   "Costa", "Dahl",  "Eriks",  "Falk",  "Grau",  "Holm",  "Ito",
                                  "Jansen", "Kovac", "Lund",  "Moreau", "Nagy",  "Olsen", "Petri", "Quist",
                                  "Rossi",  "Sato",  "Toivo", "Ueda",   "Varga", "Wolff", "Young", "Zeller"};
const char* const kTags[] = {"[GS]", "RX|", "Team7 ", "NRG.", "FM-"};
const char* const kChatLines[] = {"gl everyone",
                                  "sorry, my bad",
                                  "nice move!",
                                  "blue flag please",
                                  "lag spike, sorry",
                                  "gg",
                                  "that corner is tricky",
                                  "close one!",
                                  "brb",
                                  "good race all",
                                  "who set up this track?",
                                  "watch the kerbs"};

constexpr std::size_t kNameBytes = 24;

int RandomIndex(std::mt19937& rng, std::size_t size) {
    return static_cast<int>(std::uniform_int_distribution<std::size_t>(0, size - 1)(rng));
}

}  // namespace

std::string StripColours(const std::string& name) {
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '^') {
            ++i;
            continue;
        }
        plain.push_back(name[i]);
    }
    return plain;
}

RaceSim::RaceSim(SimOptions options, std::vector<std::shared_ptr<const SimTrack>> tracks, std::size_t firstTrack)
    : options_(options), tracks_(std::move(tracks)), rng_(options.seed) {
    if (tracks_.empty() || firstTrack >= tracks_.size()) throw std::invalid_argument("race needs at least one track");
    options_.cars = std::clamp(options_.cars, 1, 32);
    options_.laps = std::clamp(options_.laps, 1, 255);
    options_.qualifyMinutes = std::clamp(options_.qualifyMinutes, 1, 255);
    track_ = tracks_[firstTrack];
    for (int i = 0; i < options_.cars; ++i) cars_.push_back(NewCar());
    // Before the first session the field cruises round, spread over the lap.
    for (std::size_t i = 0; i < cars_.size(); ++i) {
        cars_[i].startOffset = track_->Length() * static_cast<double>(i) / static_cast<double>(cars_.size());
        cars_[i].v = 20;
    }
}

double RaceSim::Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(rng_); }

std::string RaceSim::NewName() {
    std::set<std::string> taken;
    for (const Car& car : cars_) taken.insert(StripColours(car.name));
    while (nextGivenName_ < options_.names.size()) {
        const std::string& given = options_.names[nextGivenName_++];
        if (!given.empty() && given.size() <= kNameBytes && !taken.count(StripColours(given))) return given;
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string first = kFirstNames[RandomIndex(rng_, std::size(kFirstNames))];
        const std::string last = kLastNames[RandomIndex(rng_, std::size(kLastNames))];
        const char c1 = static_cast<char>('0' + RandomIndex(rng_, 10));
        const char c2 = static_cast<char>('0' + RandomIndex(rng_, 10));
        std::string name;
        switch (RandomIndex(rng_, 4)) {
            case 0: name = std::string("^") + c1 + first + " ^" + c2 + last; break;
            case 1: name = std::string("^") + c1 + first + "^" + c2 + " " + last; break;
            case 2: name = std::string("^") + c1 + kTags[RandomIndex(rng_, std::size(kTags))] + "^" + c2 + first; break;
            default: name = std::string("^") + c1 + first + " " + last; break;
        }
        if (name.size() <= kNameBytes && !taken.count(StripColours(name))) return name;
    }
    // More drivers than names: number them (the field never exceeds 32).
    for (int n = 1;; ++n) {
        const std::string name = "^7Driver " + std::to_string(n);
        if (!taken.count(StripColours(name))) return name;
    }
}

RaceSim::Car RaceSim::NewCar() {
    Car car;
    car.name = NewName();
    car.model = RandomIndex(rng_, kCarModels.size());
    car.skill = Uniform(0.93, 1.0);
    car.form = Uniform(0.975, 1.0);
    return car;
}

double RaceSim::Position(const Car& car) const { return track_->FinishDistance() + car.startOffset + car.dist; }

void RaceSim::AdvanceTo(double seconds) {
    while (static_cast<double>(steps_ + 1) * kStep <= seconds + 1e-9) Step();
}

std::vector<Bytes> RaceSim::TakeEvents() {
    std::vector<Bytes> taken;
    taken.swap(events_);
    return taken;
}

std::vector<CarInfo> RaceSim::CarInfos() const {
    std::vector<CarInfo> infos;
    for (std::size_t i = 0; i < cars_.size(); ++i) {
        const Car& car = cars_[i];
        const TrackPoint p = track_->At(Position(car), car.lateral);
        CarInfo info;
        info.node = static_cast<std::uint16_t>(p.node);
        info.lap = static_cast<std::uint8_t>(std::min(car.lapsDone + 1, 255));
        info.slot = static_cast<std::uint8_t>(i);
        info.x = PositionToWire(p.x);
        info.y = PositionToWire(p.y);
        info.z = PositionToWire(p.z);
        info.speed = SpeedToWire(car.v * 3.6);
        // Travel direction (from +x) plus the drift of a lane change and a spin;
        // the wire's heading 0 points along +y, hence the quarter turn.
        const double drift = car.v > 1 ? std::atan2(car.lateralRate, car.v) : 0.0;
        info.heading = HeadingToWire(p.direction + drift + car.spinHeading - std::numbers::pi / 2);
        infos.push_back(info);
    }
    return infos;
}

std::string RaceSim::DriverName(int slot) const {
    return slot >= 0 && slot < PlayerCount() ? cars_[static_cast<std::size_t>(slot)].name : std::string();
}

std::string RaceSim::CarName(int slot) const {
    return slot >= 0 && slot < PlayerCount()
               ? std::string(kCarModels[static_cast<std::size_t>(cars_[static_cast<std::size_t>(slot)].model)].name)
               : std::string();
}

double RaceSim::CarSpeed(int slot) const {
    return slot >= 0 && slot < PlayerCount() ? cars_[static_cast<std::size_t>(slot)].v : 0.0;
}

void RaceSim::Chat(const std::string& line) { events_.push_back(BuildMso(line)); }

// ---- The session cycle ---------------------------------------------------------

void RaceSim::Step() {
    ++steps_;
    time_ = static_cast<double>(steps_) * kStep;

    if (phase_ == Phase::Intermission) {
        if (!playersChanged_ && time_ >= phaseEnd_ - kIntermission + 3) {
            playersChanged_ = true;
            ChangePlayers();
        }
        if (time_ >= phaseEnd_) StartSession();
    }

    std::vector<double> positions(cars_.size());
    for (std::size_t i = 0; i < cars_.size(); ++i) positions[i] = Position(cars_[i]);
    for (std::size_t i = 0; i < cars_.size(); ++i) Drive(i, positions);

    if (phase_ == Phase::Session) {
        const bool allFinished = std::all_of(cars_.begin(), cars_.end(), [](const Car& c) { return c.finished; });
        if (allFinished || time_ >= phaseEnd_) EndSession();
        else if (Chance(kStep / 45.0) && !cars_.empty())
            Chat(StripColours(cars_[static_cast<std::size_t>(RandomIndex(rng_, cars_.size()))].name) + " : " +
                 kChatLines[RandomIndex(rng_, std::size(kChatLines))]);
    }
}

void RaceSim::StartSession() {
    switch (options_.kinds) {
        case SessionKinds::Race: sessionIsRace_ = true; break;
        case SessionKinds::Qualify: sessionIsRace_ = false; break;
        case SessionKinds::Both: sessionIsRace_ = lastWasQualify_; break;
    }

    // Sometimes the next session is held elsewhere.
    if (tracks_.size() > 1 && steps_ * kStep > kFirstSessionAt + kStep && Chance(options_.trackChange)) {
        std::vector<std::size_t> others;
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            if (tracks_[i] != track_) others.push_back(i);
        track_ = tracks_[others[static_cast<std::size_t>(RandomIndex(rng_, others.size()))]];
    }
    raceMode_ = sessionIsRace_ ? kModeRace : kModeQualify;
    events_.push_back(BuildSta(PlayerCount(), raceMode_, track_->Code()));

    // The grid: after qualifying by best lap (no lap goes last), otherwise shuffled.
    std::vector<int> order(cars_.size());
    std::iota(order.begin(), order.end(), 0);
    if (sessionIsRace_ && lastWasQualify_) {
        std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
            const double ba = cars_[static_cast<std::size_t>(a)].best, bb = cars_[static_cast<std::size_t>(b)].best;
            return (ba > 0 ? ba : 1e9) < (bb > 0 ? bb : 1e9);
        });
    } else if (sessionIsRace_) {
        std::shuffle(order.begin(), order.end(), rng_);
    }
    Reorder(order);

    const double length = track_->Length();
    const std::size_t n = cars_.size();
    for (std::size_t p = 0; p < n; ++p) {
        Car& car = cars_[p];
        car.dist = 0;
        car.lapsDone = 0;
        car.best = 0;
        car.total = 0;
        car.finished = false;
        car.spinUntil = -1;
        car.spinHeading = 0;
        car.passingUntil = -1;
        car.lateralRate = 0;
        if (sessionIsRace_) {
            // Two by two just past the line, pole furthest ahead.
            car.startOffset = 6.0 + 8.0 * static_cast<double>(n - 1 - p);
            const double half = track_->HalfWidth(Position(car));
            car.lateral = std::clamp(p % 2 ? -2.0 : 2.0, -half, half);
            car.v = 0;
            car.lapStart = 0;
        } else {
            // Out of the pits, spread over the lap: the first crossing starts the clock.
            car.startOffset = length * (static_cast<double>(p) + Uniform(0, 0.5)) / static_cast<double>(n);
            car.lateral = 0;
            car.v = 15;
            car.lapStart = -1;
        }
        car.targetLateral = car.lateral;
    }

    phase_ = Phase::Session;
    sessionStart_ = time_;
    leaderFinished_ = false;
    finishCount_ = 0;
    if (sessionIsRace_) {
        events_.push_back(BuildRst(options_.laps, 0, PlayerCount()));
        // A race that runs far too long (everyone stuck) ends all the same.
        phaseEnd_ = time_ + 3600.0 + options_.laps * length / 10.0;
        Chat("Race of " + std::to_string(options_.laps) + " laps on " + track_->Code() + " - go go go!");
    } else {
        events_.push_back(BuildRst(0, options_.qualifyMinutes, PlayerCount()));
        qualifyEnd_ = time_ + 60.0 * options_.qualifyMinutes;
        phaseEnd_ = qualifyEnd_ + 600.0;
        Chat("Qualifying: " + std::to_string(options_.qualifyMinutes) + " minutes on " + track_->Code());
    }
    lastWasQualify_ = !sessionIsRace_;
}

void RaceSim::EndSession() {
    events_.push_back(BuildRen());
    phase_ = Phase::Intermission;
    phaseEnd_ = time_ + kIntermission;
    playersChanged_ = false;
}

void RaceSim::Reorder(const std::vector<int>& order) {
    bool identity = true;
    for (std::size_t i = 0; i < order.size(); ++i) identity = identity && order[i] == static_cast<int>(i);
    if (identity) return;
    std::vector<Car> reordered;
    for (const int from : order) reordered.push_back(cars_[static_cast<std::size_t>(from)]);
    cars_ = std::move(reordered);
    events_.push_back(BuildReo(order));
}

void RaceSim::ChangePlayers() {
    const int before = PlayerCount();
    if (PlayerCount() > 2 && Chance(0.35)) {
        const auto leaving = static_cast<std::size_t>(RandomIndex(rng_, cars_.size()));
        events_.push_back(BuildPll(cars_[leaving].name));
        Chat(StripColours(cars_[leaving].name) + " left the server");
        cars_.erase(cars_.begin() + static_cast<std::ptrdiff_t>(leaving));
    }
    if (PlayerCount() < options_.cars && Chance(0.5)) {
        Car car = NewCar();
        car.startOffset = Uniform(0, track_->Length());
        car.v = 10;
        car.finished = true;  // cruises until the next session
        cars_.push_back(car);
        const int slot = PlayerCount() - 1;
        events_.push_back(BuildNpl(slot, car.name, CarName(slot)));
    }
    if (!cars_.empty() && Chance(0.3)) {
        Car& car = cars_[static_cast<std::size_t>(RandomIndex(rng_, cars_.size()))];
        const std::string renamed = NewName();
        events_.push_back(BuildCpr(car.name, renamed));
        car.name = renamed;
    }
    if (PlayerCount() != before) events_.push_back(BuildSta(PlayerCount(), raceMode_, track_->Code()));
    if (Chance(0.5) && !cars_.empty())
        Chat(StripColours(cars_[static_cast<std::size_t>(RandomIndex(rng_, cars_.size()))].name) + " : gg");
}

// ---- One step of driving -------------------------------------------------------

void RaceSim::Drive(std::size_t index, const std::vector<double>& positions) {
    Car& car = cars_[index];
    const CarModel& model = kCarModels[static_cast<std::size_t>(car.model)];
    const double length = track_->Length();
    const double s = positions[index];
    const double top = model.topKmh / 3.6;
    const bool racing = phase_ == Phase::Session && !car.finished;

    double desired = track_->ProfileSpeed(car.model, s) * car.skill * car.form;
    if (!racing) desired *= 0.55;

    // The nearest car ahead on much the same line: follow it, or try to pass.
    double gapAhead = 1e9;
    std::size_t ahead = index;
    for (std::size_t j = 0; j < cars_.size(); ++j) {
        if (j == index) continue;
        double gap = std::fmod(positions[j] - s, length);
        if (gap < 0) gap += length;
        if (gap > 0.01 && gap < gapAhead && std::abs(cars_[j].lateral - car.lateral) < 1.9) {
            gapAhead = gap;
            ahead = j;
        }
    }
    const double half = track_->HalfWidth(s);
    if (ahead != index && gapAhead < 15.0 && desired > cars_[ahead].v) {
        const Car& other = cars_[ahead];
        if (car.passingUntil < time_ && half > 2.0 && Chance(1.5 * kStep)) {
            const double left = other.lateral + 3.0, right = other.lateral - 3.0;
            car.targetLateral = std::clamp(half - left > right + half ? left : right, -half, half);
            car.passingUntil = time_ + 6.0;
        } else if (car.passingUntil < time_ || gapAhead < 4.0) {
            desired = std::min(desired, other.v * (gapAhead < 4.0 ? 0.97 : 1.0));
        }
    }
    if (car.passingUntil >= 0 && car.passingUntil < time_) {
        car.passingUntil = -1;
        car.targetLateral = 0;
    }

    // The odd spin, likelier where the car is slow for a corner.
    if (car.spinUntil < time_ && racing && car.v > 15) {
        const double cornering = 1.0 - std::min(1.0, desired / top);
        if (Chance(kStep / 3000.0 * (1.0 + 6.0 * cornering))) {
            car.spinUntil = time_ + Uniform(2.0, 3.5);
            car.spinRate = Uniform(3.0, 5.0) * (Chance(0.5) ? 1 : -1);
            if (Chance(0.4)) Chat(StripColours(car.name) + " : " + (Chance(0.5) ? "oops" : "sorry, spun"));
        }
    }
    if (car.spinUntil >= time_) {
        car.v = std::max(0.0, car.v - 9.0 * kStep);
        car.spinHeading += car.spinRate * kStep;
        car.spinRate *= std::exp(-0.6 * kStep);
    } else {
        if (car.spinHeading != 0) {
            // Back on course: settle the nose towards the road the short way round.
            car.spinHeading = std::remainder(car.spinHeading, 2.0 * std::numbers::pi) * std::exp(-3.0 * kStep);
            if (std::abs(car.spinHeading) < 0.01) car.spinHeading = 0;
        }
        if (car.v < desired) car.v = std::min(desired, car.v + model.accel * std::max(0.15, 1.0 - car.v / top) * kStep);
        else car.v = std::max(desired, car.v - model.brake * 1.3 * kStep);
    }

    const double target = std::clamp(car.targetLateral, -half, half);
    const double move = std::clamp(target - car.lateral, -2.0 * kStep, 2.0 * kStep);
    car.lateral += move;
    car.lateralRate = move / kStep;

    const int crossingsBefore = static_cast<int>(std::floor((car.startOffset + car.dist) / length));
    car.dist += car.v * kStep;
    const int crossingsAfter = static_cast<int>(std::floor((car.startOffset + car.dist) / length));
    if (crossingsAfter > crossingsBefore) CompleteLap(index);
}

void RaceSim::CompleteLap(std::size_t index) {
    Car& car = cars_[index];
    car.lapsDone += 1;
    car.form = Uniform(0.975, 1.0);
    if (phase_ != Phase::Session || car.finished) return;
    const double sessionTime = time_ - sessionStart_;
    if (car.lapStart >= 0) {
        const double lap = sessionTime - car.lapStart;
        if (car.best == 0 || lap < car.best) car.best = lap;
        events_.push_back(BuildLap(static_cast<int>(index), car.name, CarName(static_cast<int>(index)), SplitTime(lap),
                                   car.lapsDone));
    }
    car.lapStart = sessionTime;

    const bool done = sessionIsRace_ ? (car.lapsDone >= options_.laps || leaderFinished_) : time_ >= qualifyEnd_;
    if (done) {
        car.finished = true;
        car.total = sessionTime;
        if (!leaderFinished_) {
            leaderFinished_ = true;
            leaderFinishedAt_ = time_;
            // Stragglers get two minutes after the winner to cross the line.
            if (sessionIsRace_) phaseEnd_ = std::min(phaseEnd_, time_ + 120.0);
        }
        events_.push_back(BuildRes(car.name, CarName(static_cast<int>(index)), SplitTime(car.total),
                                   SplitTime(car.best), ++finishCount_));
    }
}

}  // namespace gs::raceserver
