// A path file turned into something cars can drive along: arc length, direction,
// usable road width and, per car model, the speed profile that comes from the
// path's curvature (slow in corners, braking before them, accelerating out).
#pragma once

#include "CarModels.h"
#include "PathFile.h"

#include <string>
#include <vector>

namespace gs::raceserver {

struct TrackPoint {
    double x = 0, y = 0, z = 0;
    double direction = 0;  // travel direction, radians from +x, counter-clockwise
    int node = 0;
};

class SimTrack {
public:
    SimTrack(std::string code, const peers::PathData& path);

    const std::string& Code() const { return code_; }
    double Length() const { return length_; }
    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    // Arc length (metres) at which the finish node lies.
    double FinishDistance() const { return cumulative_[finish_]; }

    // The point at arc length s (wrapped into the lap), moved `lateral` metres to
    // the left of the centre line.
    TrackPoint At(double s, double lateral) const;
    // Half the usable road width at arc length s, minus a margin, at least 0.
    double HalfWidth(double s) const;
    // Curvature (1/m, unsigned) at node i.
    double Curvature(int node) const { return curvature_[static_cast<std::size_t>(node)]; }
    // Speed (m/s) a car of the given model can hold at arc length s.
    double ProfileSpeed(int model, double s) const;

private:
    std::size_t NodeIndexAt(double s) const;
    double Wrap(double s) const;
    std::vector<double> BuildProfile(const CarModel& model) const;

    std::string code_;
    std::vector<peers::PathNode> nodes_;
    std::vector<double> cumulative_;  // arc length at each node; cumulative_[n] = length
    std::vector<double> curvature_;
    std::vector<std::vector<double>> profiles_;  // per model, speed at each node
    std::size_t finish_ = 0;
    double length_ = 0;
};

}  // namespace gs::raceserver
