// The simulated race behind the race server: a field of drivers in catalogue
// cars driving along a track's path, sessions of racing and qualifying with laps,
// results and race ends, and the life around them (joins, leaves, renames, grid
// reorders, chat, track changes). Deterministic for a given seed: it advances in
// fixed steps of simulated time and draws every random choice from one generator.
//
// Sections: options and car state; the session cycle; one step of driving.
#pragma once

#include "ServerPackets.h"
#include "SimTrack.h"

#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace gs::raceserver {

enum class SessionKinds { Race, Qualify, Both };

struct SimOptions {
    int cars = 12;           // field size at start and the most the field grows to (1..32)
    int laps = 5;            // race length
    int qualifyMinutes = 5;  // qualifying length
    SessionKinds kinds = SessionKinds::Both;
    std::uint32_t seed = 1;
    double trackChange = 0.25;  // chance that a new session moves to another track
    // Driver names (server texts, Windows-1252, with colour codes) given
    // first to new drivers, in order; then generated ones.
    std::vector<std::string> names;
};

// Race mode numbers as the state packet carries them.
enum RaceModeNumber { kModeNone = 0, kModeRace = 1, kModeQualify = 2 };

class RaceSim {
public:
    static constexpr double kStep = 0.05;         // seconds of simulated time per step
    static constexpr double kFirstSessionAt = 5;  // the first session starts this late
    static constexpr double kIntermission = 12;   // between a race end and the next start

    // `tracks` must not be empty; the race starts on tracks[firstTrack].
    RaceSim(SimOptions options, std::vector<std::shared_ptr<const SimTrack>> tracks, std::size_t firstTrack = 0);

    // Runs whole steps until the simulated clock reaches `seconds`.
    void AdvanceTo(double seconds);
    double Time() const { return time_; }
    // Event packets produced since the last call, in order.
    std::vector<Bytes> TakeEvents();

    int PlayerCount() const { return static_cast<int>(cars_.size()); }
    int RaceMode() const { return raceMode_; }
    const std::string& TrackCode() const { return track_->Code(); }
    const SimTrack& Track() const { return *track_; }
    std::vector<CarInfo> CarInfos() const;
    // Driver name (with colour codes) and car model of a slot; empty when out of range.
    std::string DriverName(int slot) const;
    std::string CarName(int slot) const;
    // Speed in m/s of a slot (for tests and the log).
    double CarSpeed(int slot) const;

private:
    struct Car {
        std::string name;
        int model = 0;
        double skill = 1;        // driver's share of the car's pace
        double form = 1;         // this lap's share of the driver's pace
        double startOffset = 0;  // arc length from the finish line at the session start
        double dist = 0;         // metres driven this session
        double v = 0;            // m/s
        double lateral = 0, targetLateral = 0, lateralRate = 0;
        int lapsDone = 0;
        double lapStart = -1;  // session time at which the timed lap began; -1: out-lap
        double best = 0;       // best lap in seconds, 0 = none
        double total = 0;      // session time at the finish
        bool finished = false;
        double spinUntil = -1, spinRate = 0, spinHeading = 0;
        double passingUntil = -1;
    };
    enum class Phase { Intermission, Session };

    void Step();
    void StartSession();
    void EndSession();
    void ChangePlayers();
    void Reorder(const std::vector<int>& order);
    void Drive(std::size_t index, const std::vector<double>& positions);
    void CompleteLap(std::size_t index);
    void Chat(const std::string& line);

    Car NewCar();
    std::string NewName();
    double Uniform(double low, double high);
    bool Chance(double p) { return Uniform(0, 1) < p; }
    double Position(const Car& car) const;  // arc length on the track

    SimOptions options_;
    std::vector<std::shared_ptr<const SimTrack>> tracks_;
    std::shared_ptr<const SimTrack> track_;
    std::mt19937 rng_;
    std::vector<Car> cars_;
    std::vector<Bytes> events_;
    double time_ = 0;
    std::int64_t steps_ = 0;

    Phase phase_ = Phase::Intermission;
    bool sessionIsRace_ = true;
    bool lastWasQualify_ = false;
    int raceMode_ = kModeNone;
    double sessionStart_ = 0;
    double phaseEnd_ = kFirstSessionAt;  // intermission: next start; session: hard end
    bool playersChanged_ = true;         // the intermission's changes are done
    bool leaderFinished_ = false;
    double leaderFinishedAt_ = 0;
    int finishCount_ = 0;
    double qualifyEnd_ = 0;
    std::size_t nextGivenName_ = 0;
};

// The name without its colour codes ("^" and the character after it).
std::string StripColours(const std::string& name);

}  // namespace gs::raceserver
