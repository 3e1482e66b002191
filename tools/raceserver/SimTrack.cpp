// Track geometry and speed profiles of the simulated race.
#include "SimTrack.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace gs::raceserver {

namespace {

constexpr double kGravity = 9.81;
// Curvature is measured over at least this much track on each side of a node, so
// that a dense path does not turn tiny wobbles into hairpins.
constexpr double kMinCurvatureSpan = 12.0;
constexpr double kDefaultHalfWidth = 5.0;

double AngleDiff(double a, double b) {
    double d = std::fmod(a - b, 2.0 * std::numbers::pi);
    if (d > std::numbers::pi) d -= 2.0 * std::numbers::pi;
    if (d < -std::numbers::pi) d += 2.0 * std::numbers::pi;
    return d;
}

}  // namespace

SimTrack::SimTrack(std::string code, const peers::PathData& path)
    : code_(std::move(code)), nodes_(path.nodes), finish_(path.finishNode) {
    const std::size_t n = nodes_.size();
    if (n < 3 || finish_ >= n)
        throw std::runtime_error("track " + code_ + ": path too short or finish node outside it");
    cumulative_.assign(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& a = nodes_[i];
        const auto& b = nodes_[(i + 1) % n];
        cumulative_[i + 1] = cumulative_[i] + std::hypot(b.x - a.x, b.y - a.y);
    }
    length_ = cumulative_[n];
    if (!(length_ > 10.0)) throw std::runtime_error("track " + code_ + ": path is shorter than 10 m");

    // On a sparse path a bend sits at a node but belongs to the segments around
    // it: measure over at least one and a half average segments.
    const double span = std::max(kMinCurvatureSpan, 1.5 * length_ / static_cast<double>(n));
    curvature_.assign(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double s = cumulative_[i];
        const TrackPoint back = At(s - span, 0), here = At(s, 0), ahead = At(s + span, 0);
        const double inAngle = std::atan2(here.y - back.y, here.x - back.x);
        const double outAngle = std::atan2(ahead.y - here.y, ahead.x - here.x);
        curvature_[i] = std::abs(AngleDiff(outAngle, inAngle)) / span;
    }
    for (const CarModel& model : kCarModels) profiles_.push_back(BuildProfile(model));
}

double SimTrack::Wrap(double s) const {
    s = std::fmod(s, length_);
    return s < 0 ? s + length_ : s;
}

std::size_t SimTrack::NodeIndexAt(double s) const {
    s = Wrap(s);
    const auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), s);
    const std::size_t index = static_cast<std::size_t>(it - cumulative_.begin());
    return std::min(index == 0 ? 0 : index - 1, nodes_.size() - 1);
}

TrackPoint SimTrack::At(double s, double lateral) const {
    s = Wrap(s);
    const std::size_t i = NodeIndexAt(s);
    const std::size_t j = (i + 1) % nodes_.size();
    const auto& a = nodes_[i];
    const auto& b = nodes_[j];
    const double segment = cumulative_[i + 1] - cumulative_[i];
    const double t = segment > 0 ? std::clamp((s - cumulative_[i]) / segment, 0.0, 1.0) : 0.0;
    TrackPoint p;
    p.node = static_cast<int>(i);
    p.direction = std::atan2(b.y - a.y, b.x - a.x);
    p.x = a.x + (b.x - a.x) * t - std::sin(p.direction) * lateral;
    p.y = a.y + (b.y - a.y) * t + std::cos(p.direction) * lateral;
    p.z = a.z + (b.z - a.z) * t;
    return p;
}

double SimTrack::HalfWidth(double s) const {
    // A path without road limits falls back on its outer limits, and one without
    // either on an ordinary road's width, so that cars can still pass each other.
    const auto& node = nodes_[NodeIndexAt(s)];
    double half = std::min(std::abs(node.roadLeft), std::abs(node.roadRight));
    if (half < 0.5) half = std::min(std::abs(node.outerLeft), std::abs(node.outerRight));
    if (half < 0.5) half = kDefaultHalfWidth;
    return std::max(0.0, half - 1.2);
}

std::vector<double> SimTrack::BuildProfile(const CarModel& model) const {
    const std::size_t n = nodes_.size();
    const double top = model.topKmh / 3.6;
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double k = curvature_[i];
        v[i] = k > 1e-6 ? std::min(top, std::sqrt(model.gripG * kGravity / k)) : top;
    }
    // Braking before corners and accelerating out of them: relax the limits over
    // the lap twice in each direction so the loop closes.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t step = 0; step < n; ++step) {
            const std::size_t i = n - 1 - step;
            const std::size_t next = (i + 1) % n;
            const double d = cumulative_[i + 1] - cumulative_[i];
            v[i] = std::min(v[i], std::sqrt(v[next] * v[next] + 2.0 * model.brake * d));
        }
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t next = (i + 1) % n;
            const double d = cumulative_[i + 1] - cumulative_[i];
            // Less thrust at speed: drag eats into the acceleration towards top speed.
            const double accel = model.accel * std::max(0.15, 1.0 - v[i] / top);
            v[next] = std::min(v[next], std::sqrt(v[i] * v[i] + 2.0 * accel * d));
        }
    }
    return v;
}

double SimTrack::ProfileSpeed(int model, double s) const {
    const auto& v = profiles_[static_cast<std::size_t>(model)];
    s = Wrap(s);
    const std::size_t i = NodeIndexAt(s);
    const std::size_t j = (i + 1) % nodes_.size();
    const double segment = cumulative_[i + 1] - cumulative_[i];
    const double t = segment > 0 ? std::clamp((s - cumulative_[i]) / segment, 0.0, 1.0) : 0.0;
    return v[i] + (v[j] - v[i]) * t;
}

}  // namespace gs::raceserver
