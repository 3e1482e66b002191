// trackgen: writes the six catalogue tracks of the run folder, a mesh file
// per track and a path file per layout and direction.
//
//   trackgen OUTDIR [--preview DIR]
//
// Each track is a closed circuit drawn through hand-placed control points
// (centripetal Catmull-Rom, so tight corners do not loop), with a rolling
// height profile. Layout 1 is the full circuit; layouts 2 and 3 each take
// one side of it and close through a link road across the infield. Around
// the roads the generator lays grass, kerbs, gravel and asphalt run-off,
// barriers, a pit lane with garages, a grandstand, the start/finish lines
// and grid boxes, and fills the land with trees and buildings away from
// the roads. The scene is seen from above and drawn flat, each triangle in
// the colour of its first point, with later objects covering earlier ones,
// so objects are written in layer order: land, verges, road, paint,
// barriers, structures, trees.
//
// Everything is derived from fixed tables and a seeded generator of our
// own, so the output is the same byte for byte on every run. --preview also
// writes a top-view PPM picture of every track.
//
// File formats (all little-endian):
//   mesh  "<name>_3DH.smx": 64-byte header ("LFSSMX", byte 8 version 0,
//         byte 9 dimensions 3, byte 11 coloured points 1, bytes 48..50
//         ground colour, offset 60 object count); per object a 24-byte
//         header (centre x, y, z, radius, point count, triangle count,
//         all signed 32-bit integers; lengths in 1/65536 m), 16-byte points
//         (x, y, z as signed 32-bit integers in 1/65536 m, colour
//         0xAARRGGBB) and 8-byte triangles (three 16-bit indices into the
//         object's points, a spare).
//   path  "<CODE><layout>.pth", reversed "<CODE><layout>r.pth": 16-byte
//         header ("LFSPTH", version 0, revision 0, node count, finish node
//         as 32-bit integers), then per node 40 bytes: centre x, y, z as
//         32-bit integers in 1/65536 m; direction x, y, z as floats (unit);
//         outer limit left, outer limit right, road limit left, road limit
//         right as floats: signed metres along the node's horizontal right
//         vector (direction turned 90 degrees clockwise seen from above), so
//         left limits are negative.
//
// Sections, in file order:
//   small maths        vectors, the seeded generator, value noise
//   colours            the palette of every surface
//   the mesh being     objects of coloured points and triangles, quads and
//     built            strips added in layer order
//   centrelines        centripetal Catmull-Rom through the control points,
//                      sampled by distance, with heights and headings
//   track designs      the six circuits' control points and link roads
//   roads              a road's samples and widths; the index that keeps
//                      buildings and trees off every road
//   one track          TrackBuilder: heights and land use, the loop, links
//                      and pit lane, the layouts and their path nodes, then
//                      the layers (land, verges, run-off, surface, paint,
//                      barriers, structures, trees)
//   files              the mesh and path writers, the preview, main
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;

// ---- small maths ----------------------------------------------------------

struct V3 {
    double x = 0, y = 0, z = 0;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, double k) { return {a.x * k, a.y * k, a.z * k}; }
double Len(V3 a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
double Len2D(V3 a) { return std::hypot(a.x, a.y); }
double Clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }
double Smooth(double t) {
    t = Clamp(t, 0, 1);
    return t * t * (3 - 2 * t);
}

// A seeded generator of our own: splitmix64.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

private:
    std::uint64_t s_;
};

// Smooth value noise in 0..1 over the plane, `scale` metres per cell.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : seed_(seed) {}
    double At(double x, double y, double scale) const {
        const double fx = x / scale, fy = y / scale;
        const double ix = std::floor(fx), iy = std::floor(fy);
        const double tx = Smooth(fx - ix), ty = Smooth(fy - iy);
        const auto h = [&](double a, double b) { return Hash(std::int64_t(a), std::int64_t(b)); };
        const double top = h(ix, iy) + (h(ix + 1, iy) - h(ix, iy)) * tx;
        const double bottom = h(ix, iy + 1) + (h(ix + 1, iy + 1) - h(ix, iy + 1)) * tx;
        return top + (bottom - top) * ty;
    }

private:
    double Hash(std::int64_t a, std::int64_t b) const {
        Rng r(seed_ ^ (std::uint64_t(a) * 0x632BE59BD9B4E019ull) ^ (std::uint64_t(b) * 0x85157AF5ull));
        return r.Uniform();
    }
    std::uint64_t seed_;
};

// ---- colours --------------------------------------------------------------

using Colour = std::uint32_t;  // 0xAARRGGBB

Colour Rgb(double r, double g, double b) {
    const auto c = [](double v) { return std::uint32_t(Clamp(std::lround(v), 0, 255)); };
    return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}
Colour Shade(Colour c, double k) { return Rgb(((c >> 16) & 255) * k, ((c >> 8) & 255) * k, (c & 255) * k); }
Colour Mix(Colour a, Colour b, double t) {
    const auto ch = [&](int s) { return ((a >> s) & 255) * (1 - t) + ((b >> s) & 255) * t; };
    return Rgb(ch(16), ch(8), ch(0));
}

constexpr Colour Asphalt = 0xFF55585C, PitAsphalt = 0xFF4A4D52, RunOff = 0xFF6E7A86;
constexpr Colour Gravel = 0xFFD8C79A, White = 0xFFF2F2F2, KerbRed = 0xFFD02820;
constexpr Colour Black = 0xFF1A1A1A, Armco = 0xFFB8BEC4, Concrete = 0xFFA8A49C;
constexpr Colour Pavement = 0xFF9A9890;

// ---- the mesh being built -------------------------------------------------

struct Point {
    std::int32_t x, y, z;  // 1/65536 m
    Colour colour;
};
struct Object {
    std::vector<Point> points;
    std::vector<std::array<std::uint16_t, 3>> triangles;
};

class Mesh {
public:
    // Starts a new object; objects are written in the order they are begun.
    void Begin() {
        if (objects_.empty() || !objects_.back().triangles.empty()) objects_.emplace_back();
    }
    // Keeps an object below the 16-bit index limit: call before adding a
    // piece of `points` points that must stay within one object.
    void Reserve(std::size_t points) {
        if (objects_.back().points.size() + points > 60000) Begin();
    }
    std::uint16_t P(V3 at, Colour colour) {
        Object& o = objects_.back();
        o.points.push_back({std::int32_t(std::lround(at.x * 65536)), std::int32_t(std::lround(at.y * 65536)),
                            std::int32_t(std::lround(at.z * 65536)), colour});
        return std::uint16_t(o.points.size() - 1);
    }
    // The triangle takes the colour of `a`.
    void T(std::uint16_t a, std::uint16_t b, std::uint16_t c) { objects_.back().triangles.push_back({a, b, c}); }
    // A quad p0 p1 p2 p3 (in order round its edge) as two triangles both
    // starting at p0, so the quad is one colour.
    void Q(std::uint16_t p0, std::uint16_t p1, std::uint16_t p2, std::uint16_t p3) {
        T(p0, p1, p2);
        T(p0, p2, p3);
    }
    void Quad(V3 a, V3 b, V3 c, V3 d, Colour colour) {
        Reserve(4);
        Q(P(a, colour), P(b, colour), P(c, colour), P(d, colour));
    }
    std::vector<Object>& Objects() {
        if (!objects_.empty() && objects_.back().triangles.empty()) objects_.pop_back();
        return objects_;
    }

private:
    std::vector<Object> objects_;
};

// ---- centrelines ----------------------------------------------------------

// A road sampled every few metres: position, unit tangent, left normal and
// the signed curvature (1/m, positive turning left).
struct Sample {
    V3 pos, tangent, left;
    double s = 0, curvature = 0;
    double outerLeft = 0, outerRight = 0;  // metres from the centre to the barriers
    double runOffLeft = 0, runOffRight = 0;
    bool gravelLeft = false, gravelRight = false;
};

// Centripetal Catmull-Rom through `pts` (closed when `closed`), as a dense
// polyline.
std::vector<V3> Spline(const std::vector<V3>& pts, bool closed, int steps = 24) {
    std::vector<V3> out;
    const int n = int(pts.size());
    const auto at = [&](int i) {
        if (closed) return pts[std::size_t((i % n + n) % n)];
        return pts[std::size_t(Clamp(i, 0, n - 1))];
    };
    const int segments = closed ? n : n - 1;
    for (int i = 0; i < segments; ++i) {
        V3 p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        if (!closed && i == 0) p0 = p1 - (p2 - p1);
        if (!closed && i == segments - 1) p3 = p2 + (p2 - p1);
        const auto knot = [](V3 a, V3 b) { return std::max(1e-6, std::sqrt(Len(b - a))); };
        const double t0 = 0, t1 = knot(p0, p1), t2 = t1 + knot(p1, p2), t3 = t2 + knot(p2, p3);
        for (int k = 0; k < steps; ++k) {
            const double t = t1 + (t2 - t1) * k / steps;
            const V3 a1 = p0 * ((t1 - t) / (t1 - t0)) + p1 * ((t - t0) / (t1 - t0));
            const V3 a2 = p1 * ((t2 - t) / (t2 - t1)) + p2 * ((t - t1) / (t2 - t1));
            const V3 a3 = p2 * ((t3 - t) / (t3 - t2)) + p3 * ((t - t2) / (t3 - t2));
            const V3 b1 = a1 * ((t2 - t) / (t2 - t0)) + a2 * ((t - t0) / (t2 - t0));
            const V3 b2 = a2 * ((t3 - t) / (t3 - t1)) + a3 * ((t - t1) / (t3 - t1));
            out.push_back(b1 * ((t2 - t) / (t2 - t1)) + b2 * ((t - t1) / (t2 - t1)));
        }
    }
    if (!closed) out.push_back(pts.back());
    return out;
}

double PolyLength(const std::vector<V3>& line, bool closed) {
    double length = 0;
    for (std::size_t i = 1; i < line.size(); ++i) length += Len(line[i] - line[i - 1]);
    if (closed) length += Len(line.front() - line.back());
    return length;
}

// Resamples a polyline at equal steps of about `step` metres and fills in
// tangents, normals and curvature.
std::vector<Sample> Resample(std::vector<V3> line, bool closed, double step) {
    if (closed) line.push_back(line.front());
    const double length = PolyLength(line, false);
    const int count = std::max(2, int(std::lround(length / step)));
    const double ds = length / count;
    std::vector<Sample> out;
    std::size_t seg = 0;
    double segStart = 0;
    for (int i = 0; i < count + (closed ? 0 : 1); ++i) {
        const double s = i * ds;
        while (seg + 2 < line.size() && segStart + Len(line[seg + 1] - line[seg]) < s) {
            segStart += Len(line[seg + 1] - line[seg]);
            ++seg;
        }
        const double segLen = std::max(1e-9, Len(line[seg + 1] - line[seg]));
        Sample x;
        x.pos = line[seg] + (line[seg + 1] - line[seg]) * Clamp((s - segStart) / segLen, 0, 1);
        x.s = s;
        out.push_back(x);
    }
    const int n = int(out.size());
    const auto idx = [&](int i) { return std::size_t(closed ? (i % n + n) % n : Clamp(i, 0, n - 1)); };
    for (int i = 0; i < n; ++i) {
        const V3 d = out[idx(i + 1)].pos - out[idx(i - 1)].pos;
        out[std::size_t(i)].tangent = d * (1.0 / std::max(1e-9, Len(d)));
        const double h = std::max(1e-9, Len2D(d));
        out[std::size_t(i)].left = {-d.y / h, d.x / h, 0};
    }
    for (int i = 0; i < n; ++i) {
        const V3 a = out[idx(i - 2)].tangent, b = out[idx(i + 2)].tangent;
        const double turn = std::atan2(a.x * b.y - a.y * b.x, a.x * b.x + a.y * b.y);
        const double dist = Len2D(out[idx(i + 2)].pos - out[idx(i - 2)].pos);
        out[std::size_t(i)].curvature = dist > 1e-6 ? turn / dist : 0;
    }
    return out;
}

// ---- track designs --------------------------------------------------------

enum class Style { Parkland, Coastal, Forest, City, Ring, Hills };

struct Design {
    const char* code;
    const char* meshName;
    std::uint64_t seed;
    Style style;
    double halfWidth;                           // metres
    double hills;                               // height amplitude, metres
    double treeDensity;                         // 0..1
    double buildingDensity;                     // 0..1
    double detail;                              // > 1 subdivides the land more finely
    int linkA, linkB;                           // control points joined by the link road
    int finishA, finishB;                       // control points of the two start/finish lines
    std::vector<std::array<double, 2>> points;  // counter-clockwise, metres
};

std::vector<Design> Designs() {
    return {
        // Aston: long and fast, a chicane on the main straight, a hairpin at
        // the far end, a sweeping back section. The largest of the six.
        {"AS",
         "Aston_3DH.smx",
         0xA5701,
         Style::Parkland,
         6.5,
         9,
         0.75,
         0.35,
         1.6,
         5,
         13,
         1,
         10,
         {{-700, 0},  {-150, 0},   {150, 0},    {190, 12},   {230, 12},   {270, 0},    {700, 0},    {860, 60},
          {900, 220}, {840, 360},  {900, 480},  {860, 560},  {780, 540},  {700, 420},  {520, 380},  {300, 470},
          {80, 430},  {-120, 520}, {-380, 560}, {-600, 470}, {-620, 330}, {-760, 260}, {-850, 130}, {-820, 30}}},
        // Blackwood: compact club circuit with a hairpin and an esses section.
        {"BL",
         "Blackwood_3DH.smx",
         0xB1AC,
         Style::Forest,
         6.0,
         6,
         0.9,
         0.25,
         1.4,
         4,
         11,
         1,
         8,
         {{-350, 0},
          {-50, 0},
          {250, 0},
          {380, 40},
          {420, 170},
          {350, 260},
          {250, 240},
          {230, 170},
          {160, 160},
          {130, 260},
          {50, 330},
          {-80, 300},
          {-160, 380},
          {-300, 400},
          {-420, 300},
          {-470, 130}}},
        // South City: a street circuit of right angles between city blocks.
        {"SO",
         "South City_3DH.smx",
         0x50C17,
         Style::City,
         5.5,
         3,
         0.15,
         1.0,
         1.4,
         4,
         13,
         1,
         8,
         {{-300, 0},
          {0, 0},
          {150, 0},
          {300, 0},
          {310, 120},
          {310, 260},
          {200, 270},
          {190, 390},
          {60, 400},
          {-100, 400},
          {-110, 300},
          {-200, 290},
          {-320, 300},
          {-325, 230},
          {-330, 160},
          {-400, 150},
          {-410, 10}}},
        // Fern Bay: twisty and hilly, between the trees and the shore.
        {"FE",
         "Fern Bay_3DH.smx",
         0xFE4B,
         Style::Coastal,
         5.5,
         14,
         0.8,
         0.2,
         1.4,
         4,
         12,
         1,
         9,
         {{-250, 0},
          {-20, 0},
          {200, 0},
          {320, 70},
          {300, 180},
          {380, 260},
          {330, 380},
          {200, 360},
          {120, 430},
          {0, 380},
          {-60, 470},
          {-200, 450},
          {-230, 330},
          {-330, 290},
          {-300, 180},
          {-400, 90}}},
        // Kyoto Ring: a banked oval with a tight infield section.
        {"KY",
         "Kyoto Ring_3DH.smx",
         0x4B0,
         Style::Ring,
         7.0,
         4,
         0.5,
         0.5,
         1.2,
         2,
         9,
         1,
         6,
         {{-600, 0},
          {0, 0},
          {600, 0},
          {820, 120},
          {860, 320},
          {700, 470},
          {400, 500},
          {100, 430},
          {-100, 500},
          {-400, 520},
          {-700, 480},
          {-860, 320},
          {-820, 110}}},
        // Westhill: sweeping corners over big hills.
        {"WE",
         "Westhill_3DH.smx",
         0x3E57,
         Style::Hills,
         6.5,
         22,
         0.55,
         0.3,
         1.2,
         4,
         11,
         1,
         8,
         {{-450, 0},
          {-50, 0},
          {350, 0},
          {600, 100},
          {640, 300},
          {520, 420},
          {560, 560},
          {400, 650},
          {200, 560},
          {0, 620},
          {-200, 520},
          {-420, 600},
          {-600, 460},
          {-560, 300},
          {-700, 180}}},
    };
}

// ---- roads ----------------------------------------------------------------

struct Road {
    std::vector<Sample> samples;
    bool closed = false;
    double halfWidth = 6;
    Colour surface = Asphalt;
    bool verges = true;  // kerbs, run-off, barriers
};

// Every road's centreline samples in a grid, for "how far is the nearest
// road" queries.
class RoadIndex {
public:
    static constexpr double Cell = 16;
    void Add(const std::vector<Road>& roads) {
        for (std::size_t r = 0; r < roads.size(); ++r)
            for (std::size_t i = 0; i < roads[r].samples.size(); ++i) {
                const V3 p = roads[r].samples[i].pos;
                cells_[Key(p.x, p.y)].push_back({int(r), p, roads[r].halfWidth, roads[r].samples[i].pos.z});
            }
    }
    // Distance from (x, y) to the edge of the nearest road other than
    // `except`, searched within `radius`; a large value when none is near.
    double EdgeDistance(double x, double y, double radius, int except = -1, double* height = nullptr) const {
        double best = 1e9;
        const int reach = int(std::ceil(radius / Cell));
        const long cx = long(std::floor(x / Cell)), cy = long(std::floor(y / Cell));
        for (long i = cx - reach; i <= cx + reach; ++i)
            for (long j = cy - reach; j <= cy + reach; ++j) {
                auto it = cells_.find((std::uint64_t(std::uint32_t(i)) << 32) | std::uint32_t(j));
                if (it == cells_.end()) continue;
                for (const Entry& e : it->second) {
                    if (e.road == except) continue;
                    const double d = std::hypot(e.pos.x - x, e.pos.y - y) - e.halfWidth;
                    if (d < best) {
                        best = d;
                        if (height) *height = e.z;
                    }
                }
            }
        return best;
    }

private:
    struct Entry {
        int road;
        V3 pos;
        double halfWidth, z;
    };
    std::uint64_t Key(double x, double y) const {
        return (std::uint64_t(std::uint32_t(long(std::floor(x / Cell)))) << 32) |
               std::uint32_t(long(std::floor(y / Cell)));
    }
    std::unordered_map<std::uint64_t, std::vector<Entry>> cells_;
};

// ---- one track ------------------------------------------------------------

struct PathNode {
    V3 pos, direction;
    double outerLeft, outerRight, roadHalfWidth;  // metres, all positive here
};

struct Layout {
    std::string name;  // "AS1"
    std::vector<PathNode> nodes;
    int finish = 0;
};

class TrackBuilder {
public:
    explicit TrackBuilder(const Design& d) : d_(d), noise_(d.seed * 7 + 1) {}

    void Build() {
        LayLoop();
        LayLinks();
        for (Road& r : roads_) Verges(r);
        LayPitLane();
        index_.Add(roads_);
        MakeLayouts();

        Land();
        for (std::size_t r = 0; r < roads_.size(); ++r) GrassVerges(int(r));
        for (std::size_t r = 0; r < roads_.size(); ++r) RunOffs(int(r));
        Paddock();
        for (std::size_t r = 0; r < roads_.size(); ++r) Surface(int(r));
        for (std::size_t r = 0; r < roads_.size(); ++r) Paint(int(r));
        StartLine(finishA_, true);
        StartLine(finishB_, false);
        for (std::size_t r = 0; r < roads_.size(); ++r) Barriers(int(r));
        PitWall();
        Garages();
        Grandstand();
        Buildings();
        Trees();
    }

    Mesh mesh;
    std::vector<Layout> layouts;
    Colour ground = 0xFF4C8A3A;

private:
    // ---- heights and land use ----
    double Height(double x, double y) const {
        return d_.hills * (2 * noise_.At(x, y, 420) - 1) + 0.35 * d_.hills * (2 * noise_.At(x + 977, y, 130) - 1);
    }
    bool Sea(double, double y) const { return d_.style == Style::Coastal && y < seaY_; }

    // ---- centrelines ----
    void LayLoop() {
        std::vector<V3> control;
        for (auto& p : d_.points) control.push_back({p[0], p[1], 0});
        std::vector<V3> dense = Spline(control, true);
        Road loop;
        loop.closed = true;
        loop.halfWidth = d_.halfWidth;
        loop.samples = Resample(dense, true, 2.0);
        // Heights follow the land, smoothed along the road so it stays
        // drivable.
        const int n = int(loop.samples.size());
        std::vector<double> raw(std::size_t(n), 0), smooth(std::size_t(n), 0);
        for (int i = 0; i < n; ++i)
            raw[std::size_t(i)] = Height(loop.samples[std::size_t(i)].pos.x, loop.samples[std::size_t(i)].pos.y);
        const int window = 30;
        for (int i = 0; i < n; ++i) {
            double sum = 0;
            for (int k = -window; k <= window; ++k) sum += raw[std::size_t(((i + k) % n + n) % n)];
            smooth[std::size_t(i)] = sum / (2 * window + 1);
        }
        for (int i = 0; i < n; ++i) loop.samples[std::size_t(i)].pos.z = smooth[std::size_t(i)];
        Retangent(loop);
        roads_.push_back(loop);

        const auto nearest = [&](int c) {
            const V3 p{d_.points[std::size_t(c)][0], d_.points[std::size_t(c)][1], 0};
            int best = 0;
            double bestD = 1e18;
            for (int i = 0; i < n; ++i) {
                const double dd = Len2D(loop.samples[std::size_t(i)].pos - p);
                if (dd < bestD) bestD = dd, best = i;
            }
            return best;
        };
        linkA_ = nearest(d_.linkA);
        linkB_ = nearest(d_.linkB);
        finishA_ = nearest(d_.finishA);
        finishB_ = nearest(d_.finishB);
        double minY = 1e9;
        for (const Sample& s : loop.samples) minY = std::min(minY, s.pos.y);
        seaY_ = minY - 140;
    }

    static void Retangent(Road& r) {
        const int n = int(r.samples.size());
        for (int i = 0; i < n; ++i) {
            const int a = r.closed ? (i - 1 + n) % n : std::max(0, i - 1);
            const int b = r.closed ? (i + 1) % n : std::min(n - 1, i + 1);
            const V3 d = r.samples[std::size_t(b)].pos - r.samples[std::size_t(a)].pos;
            r.samples[std::size_t(i)].tangent = d * (1.0 / std::max(1e-9, Len(d)));
        }
    }

    const Sample& Loop(int i) const {
        const auto& s = roads_[0].samples;
        const int n = int(s.size());
        return s[std::size_t(((i % n) + n) % n)];
    }

    // The link road from loop sample `from` to loop sample `to`: a left
    // turn off the circuit into the infield, a straight, and a left turn
    // back onto the circuit in its direction. Both turns are arcs of one
    // radius joined by their common tangent, so the direction never jumps
    // and no corner is tighter than the radius.
    Road Link(int from, int to) {
        const Sample& a = Loop(from);
        const Sample& b = Loop(to);
        const double radius = 20;
        const double ha = std::atan2(a.tangent.y, a.tangent.x), hb = std::atan2(b.tangent.y, b.tangent.x);
        const V3 ca = a.pos + a.left * radius, cb = b.pos + b.left * radius;
        const double hs = std::atan2(cb.y - ca.y, cb.x - ca.x);
        const auto sweep = [](double h0, double h1) { return std::fmod(std::fmod(h1 - h0, 2 * Pi) + 2 * Pi, 2 * Pi); };
        std::vector<V3> line;
        const auto arc = [&](V3 centre, double h0, double turn) {
            const int steps = std::max(2, int(turn * radius));
            for (int k = 0; k <= steps; ++k) {
                const double h = h0 + turn * k / steps;
                line.push_back({centre.x + radius * std::sin(h), centre.y - radius * std::cos(h), 0});
            }
        };
        arc(ca, ha, sweep(ha, hs));
        arc(cb, hs, sweep(hs, hb));
        // Heights run evenly from one end to the other.
        const double length = PolyLength(line, false);
        double run = 0;
        for (std::size_t k = 0; k < line.size(); ++k) {
            if (k > 0) run += Len2D(line[k] - line[k - 1]);
            line[k].z = a.pos.z + (b.pos.z - a.pos.z) * run / std::max(1e-9, length);
        }
        Road r;
        r.halfWidth = d_.halfWidth * 0.85;
        r.samples = Resample(line, false, 2.0);
        return r;
    }

    void LayLinks() {
        roads_.push_back(Link(linkB_, linkA_));  // layout 2 closes b -> a
        roads_.push_back(Link(linkA_, linkB_));  // layout 3 closes a -> b
    }

    // Kerbs, run-off on the outside of corners and the barrier offsets.
    void Verges(Road& r) {
        const int n = int(r.samples.size());
        const auto at = [&](int i) { return std::size_t(r.closed ? ((i % n) + n) % n : std::clamp(i, 0, n - 1)); };
        const bool city = d_.style == Style::City;
        const double margin = city ? 2.5 : d_.style == Style::Ring ? 14 : d_.style == Style::Forest ? 7 : 10;
        std::vector<double> rawL(std::size_t(n), 0), rawR(std::size_t(n), 0);
        std::vector<char> gravelL(std::size_t(n), 0), gravelR(std::size_t(n), 0);
        for (int i = 0; i < n; ++i) {
            const double k = r.samples[std::size_t(i)].curvature;
            const double severity = std::abs(k) * 100;
            const double width = severity > 0.5 ? std::min(city ? 4.0 : 28.0, (city ? 2 : 12) * severity) : 0;
            const bool gravel = !city && severity > 1.4;
            (k > 0 ? rawR : rawL)[std::size_t(i)] = width;
            (k > 0 ? gravelR : gravelL)[std::size_t(i)] = gravel;
        }
        for (int i = 0; i < n; ++i) {
            // Cars leave the road late in a corner: the run-off reaches
            // further after the corner than before it.
            double wl = 0, wr = 0;
            bool gl = false, gr = false;
            for (int k = -4; k <= 14; ++k) {
                wl = std::max(wl, rawL[at(i - k)]);
                wr = std::max(wr, rawR[at(i - k)]);
                gl = gl || gravelL[at(i - k)];
                gr = gr || gravelR[at(i - k)];
            }
            Sample& s = r.samples[std::size_t(i)];
            s.runOffLeft = wl;
            s.runOffRight = wr;
            s.gravelLeft = gl;
            s.gravelRight = gr;
        }
        // Smooth widths so the edges curve instead of stepping.
        std::vector<double> l(std::size_t(n), 0), rr(std::size_t(n), 0);
        for (int i = 0; i < n; ++i) {
            double a = 0, b = 0;
            for (int k = -5; k <= 5; ++k) a += r.samples[at(i + k)].runOffLeft, b += r.samples[at(i + k)].runOffRight;
            l[std::size_t(i)] = a / 11;
            rr[std::size_t(i)] = b / 11;
        }
        for (int i = 0; i < n; ++i) {
            Sample& s = r.samples[std::size_t(i)];
            s.runOffLeft = l[std::size_t(i)];
            s.runOffRight = rr[std::size_t(i)];
            s.outerLeft = r.halfWidth + KerbWidth + std::max(s.runOffLeft + 3, margin);
            s.outerRight = r.halfWidth + KerbWidth + std::max(s.runOffRight + 3, margin);
        }
    }

    void LayPitLane() {
        Road pit;
        pit.halfWidth = 4.5;
        pit.surface = PitAsphalt;
        pit.verges = false;
        pitOffset_ = d_.halfWidth + 17;
        for (int k = PitFrom; k <= PitTo; ++k) {
            const Sample& base = Loop(finishA_ + k);
            Sample s = base;
            s.pos = base.pos + base.left * PitOffsetAt(k);
            pit.samples.push_back(s);
        }
        Retangent(pit);
        for (Sample& s : pit.samples) {
            const double h = std::max(1e-9, Len2D(s.tangent));
            s.left = {-s.tangent.y / h, s.tangent.x / h, 0};
            s.outerLeft = s.outerRight = pit.halfWidth + 1;
        }
        roads_.push_back(pit);
    }
    double PitOffsetAt(int k) const {
        return pitOffset_ * Smooth(double(k - PitFrom) / 35) * Smooth(double(PitTo - k) / 35);
    }

    // ---- layouts ----
    void AddLayout(const std::string& name, const std::vector<const Sample*>& line, int finishIndex,
                   std::vector<double> halfWidths) {
        // Cumulative distance along the samples, then one node every `step`.
        const std::size_t n = line.size();
        std::vector<double> cum(n + 1, 0);
        for (std::size_t i = 0; i < n; ++i) cum[i + 1] = cum[i] + Len(line[(i + 1) % n]->pos - line[i]->pos);
        const double length = cum[n];
        const int count = int(std::lround(length / std::max(4.0, length / 950)));
        const double step = length / count;
        // Shift the nodes along so that one of them lies exactly on the
        // start/finish line.
        const double finishAt = cum[std::size_t(finishIndex)];
        int finish = int(finishAt / step);
        const double phase = finishAt - finish * step;  // 0 <= phase < step
        Layout fwd;
        fwd.name = name;
        fwd.finish = finish % count;
        std::size_t seg = 0;
        for (int j = 0; j < count; ++j) {
            const double s = j * step + phase;
            while (seg + 1 < n && cum[seg + 1] <= s) ++seg;
            const Sample& a = *line[seg];
            const Sample& b = *line[(seg + 1) % n];
            const double t = (s - cum[seg]) / std::max(1e-9, cum[seg + 1] - cum[seg]);
            const Sample& near = t < 0.5 ? a : b;
            PathNode node;
            node.pos = a.pos + (b.pos - a.pos) * t;
            const V3 d = b.pos - a.pos;
            node.direction = d * (1.0 / std::max(1e-9, Len(d)));
            node.outerLeft = near.outerLeft;
            node.outerRight = near.outerRight;
            node.roadHalfWidth = halfWidths[t < 0.5 ? seg : (seg + 1) % n];
            fwd.nodes.push_back(node);
        }
        layouts.push_back(fwd);

        // The reversed layout: the same road driven the other way, so the
        // node order, the direction and the sides swap.
        Layout rev;
        rev.name = name + "r";
        for (int j = count - 1; j >= 0; --j) {
            PathNode node = fwd.nodes[std::size_t(j)];
            node.direction = node.direction * -1;
            std::swap(node.outerLeft, node.outerRight);
            rev.nodes.push_back(node);
        }
        rev.finish = count - 1 - fwd.finish;
        layouts.push_back(rev);
    }

    void MakeLayouts() {
        const auto& loop = roads_[0].samples;
        const int n = int(loop.size());
        std::vector<const Sample*> line;
        std::vector<double> widths;
        // The full circuit's nodes start a quarter lap before the line.
        const int start = ((finishA_ - n / 4) % n + n) % n;
        for (int k = 0; k < n; ++k) line.push_back(&loop[std::size_t((start + k) % n)]), widths.push_back(d_.halfWidth);
        AddLayout(std::string(d_.code) + "1", line, (finishA_ - start + n) % n, widths);

        // Layouts 2 and 3: one side of the circuit, closed by a link road.
        for (int layout = 2; layout <= 3; ++layout) {
            const int from = layout == 2 ? linkA_ : linkB_;
            const int to = layout == 2 ? linkB_ : linkA_;
            const Road& link = roads_[std::size_t(layout - 1)];
            line.clear();
            widths.clear();
            int finish = 0;
            const int span = ((to - from) % n + n) % n;
            for (int k = 0; k <= span; ++k) {
                const int i = (from + k) % n;
                if (i == finishA_ || i == finishB_) finish = int(line.size());
                line.push_back(&loop[std::size_t(i)]);
                widths.push_back(d_.halfWidth);
            }
            for (std::size_t k = 1; k + 1 < link.samples.size(); ++k) {
                line.push_back(&link.samples[k]);
                widths.push_back(link.halfWidth);
            }
            AddLayout(std::string(d_.code) + char('0' + layout), line, finish, widths);
        }
    }

    // ---- strips along a road ----
    // Lays cells between signed offsets (left positive) inner(i) and
    // outer(i) over road samples [from, to], `across` cells wide; colour(i,
    // j) gives each cell's colour, lift(i, t) the height above the road at
    // fraction t of the width. Cells narrower than 5 cm are left out, and
    // skip(i) leaves a whole row out.
    template <class Off, class Col, class Lift, class Skip>
    void Strip(const Road& r, int from, int to, Off offsets, int across, Col colour, Lift lift, Skip skip) {
        const int n = int(r.samples.size());
        const auto at = [&](int i) -> const Sample& {
            return r.samples[std::size_t(r.closed ? ((i % n) + n) % n : i)];
        };
        mesh.Begin();
        mesh.Reserve(std::size_t((to - from + 1) * (across + 1)));
        std::vector<std::uint16_t> prev, row;
        bool prevWide = false;
        for (int i = from; i <= to; ++i) {
            const Sample& s = at(i);
            const auto [inner, outer] = offsets(i);
            row.clear();
            for (int j = 0; j <= across; ++j) {
                const double t = double(j) / across;
                const double off = inner + (outer - inner) * t;
                V3 p = s.pos + s.left * off;
                p.z += lift(i, t, p);
                row.push_back(mesh.P(p, colour(i, j)));
            }
            const bool wide = std::abs(outer - inner) > 0.05;
            if (i > from && (wide || prevWide) && !skip(i - 1))
                for (int j = 0; j < across; ++j)
                    mesh.Q(prev[std::size_t(j)], row[std::size_t(j)], row[std::size_t(j + 1)],
                           prev[std::size_t(j + 1)]);
            prevWide = wide;
            std::swap(prev, row);
        }
    }
    // Chunks a road into pieces of about 60 m for the objects.
    template <class F>
    void Chunks(const Road& r, F piece) {
        const int n = int(r.samples.size());
        const int last = r.closed ? n : n - 1;
        for (int from = 0; from < last; from += Chunk) piece(from, std::min(from + Chunk, last));
    }
    static constexpr int Chunk = 30;
    static constexpr double KerbWidth = 1.2;
    static constexpr double VergeWidth = 46;

    Colour GrassAt(double x, double y, int band) const {
        Colour base = d_.style == Style::Coastal  ? 0xFF7FA04A
                      : d_.style == Style::Hills  ? 0xFF5C8C3C
                      : d_.style == Style::Forest ? 0xFF4E8A3A
                                                  : 0xFF5A9A40;
        const double k = 0.86 + 0.22 * noise_.At(x, y, 23) + (band % 2 ? 0.06 : 0);
        return Shade(base, k);
    }

    // ---- layers ----
    void Land() {
        double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
        for (const Road& r : roads_)
            for (const Sample& s : r.samples) {
                minX = std::min(minX, s.pos.x), maxX = std::max(maxX, s.pos.x);
                minY = std::min(minY, s.pos.y), maxY = std::max(maxY, s.pos.y);
            }
        const double margin = d_.style == Style::Coastal ? 320 : 260;
        landMin_ = {minX - margin, minY - margin, 0};
        landMax_ = {maxX + margin, maxY + margin, 0};
        const double cell = 10.0 / d_.detail;
        const int cellsX = int(std::ceil((landMax_.x - landMin_.x) / cell));
        const int cellsY = int(std::ceil((landMax_.y - landMin_.y) / cell));
        const int tile = 12;
        for (int ty = 0; ty < cellsY; ty += tile)
            for (int tx = 0; tx < cellsX; tx += tile) {
                mesh.Begin();
                const int w = std::min(tile, cellsX - tx), h = std::min(tile, cellsY - ty);
                std::vector<std::uint16_t> ids(std::size_t((w + 1) * (h + 1)));
                for (int j = 0; j <= h; ++j)
                    for (int i = 0; i <= w; ++i) {
                        const double x = landMin_.x + (tx + i) * cell, y = landMin_.y + (ty + j) * cell;
                        const double z = Sea(x, y) ? Height(0, seaY_) - 3 : Height(x, y) - 0.4;
                        ids[std::size_t(j * (w + 1) + i)] = mesh.P({x, y, z}, LandColour(x + cell / 2, y + cell / 2));
                    }
                for (int j = 0; j < h; ++j)
                    for (int i = 0; i < w; ++i) {
                        const auto id = [&](int a, int b) { return ids[std::size_t((j + b) * (w + 1) + i + a)]; };
                        // Both triangles start at a different corner, so
                        // the land is mottled at half-cell scale.
                        mesh.T(id(0, 0), id(1, 0), id(1, 1));
                        mesh.T(id(1, 1), id(0, 1), id(0, 0));
                    }
            }
    }

    Colour LandColour(double x, double y) const {
        const double n1 = noise_.At(x, y, 31), n2 = noise_.At(x + 5000, y, 180);
        switch (d_.style) {
            case Style::City: {
                // Streets every 80 m between blocks of paving.
                const double bx = std::fmod(std::fmod(x + 4000, 80) + 80, 80),
                             by = std::fmod(std::fmod(y + 4000, 80) + 80, 80);
                if (bx < 10 || by < 10) return Shade(0xFF505356, 0.95 + 0.1 * n1);
                return Shade(n2 > 0.7 ? 0xFF5E8F45 : Pavement, 0.9 + 0.15 * n1);
            }
            case Style::Coastal:
                if (y < seaY_)
                    return Mix(0xFF1F5F8F, 0xFF2F7FAF, n1 * (0.5 + 0.5 * Clamp((y - seaY_ + 200) / 200, 0, 1)));
                if (y < seaY_ + 35) return Shade(0xFFE3D3A0, 0.92 + 0.12 * n1);
                break;
            case Style::Hills:
                if (n2 > 0.78) return Shade(0xFF8A8678, 0.85 + 0.25 * n1);  // rock
                break;
            case Style::Ring:
                if (n2 > 0.8) return Shade(0xFF6A6C6E, 0.9 + 0.1 * n1);  // car parks
                break;
            default: break;
        }
        // Fields: large patches of different crops and meadows.
        const int field = int(n2 * 6);
        static const Colour fields[] = {0xFF4F8A35, 0xFF6A9A3C, 0xFF8FA24C, 0xFF5D9442, 0xFFB8A860, 0xFF47803A};
        return Shade(fields[field % 6], 0.88 + 0.2 * n1);
    }

    void GrassVerges(int id) {
        const Road& r = roads_[std::size_t(id)];
        const bool city = d_.style == Style::City;
        Chunks(r, [&](int from, int to) {
            for (int side : {1, -1}) {
                const auto offsets = [&](int) {
                    return std::pair<double, double>(side * r.halfWidth, side * (r.halfWidth + VergeWidth));
                };
                const auto colour = [&](int i, int j) {
                    const Sample& s = r.samples[std::size_t(i % int(r.samples.size()))];
                    const V3 p = s.pos + s.left * (side * (r.halfWidth + j * VergeWidth / 6));
                    if (city) return j < 1 ? Shade(Pavement, 1.1) : LandColour(p.x, p.y);
                    return GrassAt(p.x, p.y, j);
                };
                const auto lift = [&](int i, double t, V3 p) {
                    const Sample& s = r.samples[std::size_t(i % int(r.samples.size()))];
                    return (Height(p.x, p.y) - s.pos.z) * Smooth((t - 0.3) / 0.7) - 0.2;
                };
                Strip(r, from, to, offsets, 6, colour, lift, [](int) { return false; });
            }
        });
    }

    void RunOffs(int id) {
        const Road& r = roads_[std::size_t(id)];
        if (!r.verges) return;
        const int n = int(r.samples.size());
        Chunks(r, [&](int from, int to) {
            for (int side : {1, -1}) {
                bool any = false;
                for (int i = from; i <= to; ++i) {
                    const Sample& s = r.samples[std::size_t(i % n)];
                    any = any || (side > 0 ? s.runOffLeft : s.runOffRight) > 0.05;
                }
                if (!any) continue;
                const auto offsets = [&](int i) {
                    const Sample& s = r.samples[std::size_t(i % n)];
                    const double w = side > 0 ? s.runOffLeft : s.runOffRight;
                    return std::pair<double, double>(side * (r.halfWidth + KerbWidth),
                                                     side * (r.halfWidth + KerbWidth + w));
                };
                const auto colour = [&](int i, int j) {
                    const Sample& s = r.samples[std::size_t(i % n)];
                    const V3 p = s.pos + s.left * (side * (r.halfWidth + 2 + j * 4));
                    if (side > 0 ? s.gravelLeft : s.gravelRight) {
                        // Asphalt first, the gravel bed beyond it.
                        if (j == 0) return Shade(RunOff, 0.95 + 0.1 * noise_.At(p.x, p.y, 5));
                        return Shade(Gravel, 0.86 + 0.2 * noise_.At(p.x, p.y, 3));
                    }
                    // Asphalt run-off with painted bands at its edge.
                    if (j == 0) return (i / 3) % 2 ? 0xFF2A5AB0u : White;
                    return Shade(RunOff, 0.94 + 0.1 * noise_.At(p.x, p.y, 9));
                };
                Strip(
                    r, from, to, offsets, 4, colour, [](int, double, V3) { return 0.0; }, [](int) { return false; });
            }
        });
    }

    void Surface(int id) {
        const Road& r = roads_[std::size_t(id)];
        const int n = int(r.samples.size());
        Chunks(r, [&](int from, int to) {
            const auto offsets = [&](int) { return std::pair<double, double>(-r.halfWidth, r.halfWidth); };
            const auto colour = [&](int i, int j) {
                const Sample& s = r.samples[std::size_t(i % n)];
                const V3 p = s.pos + s.left * (-r.halfWidth + j * r.halfWidth / 2);
                // The rubbered racing line runs a little darker.
                const double rubber = (j == 1 || j == 2) ? 0.93 : 1.0;
                return Shade(r.surface, rubber * (0.95 + 0.1 * noise_.At(p.x, p.y, 4)));
            };
            Strip(
                r, from, to, offsets, 4, colour, [](int, double, V3) { return 0.02; }, [](int) { return false; });
        });
    }

    // True when the point lies on another road than `id`.
    bool OnOtherRoad(int id, V3 p, double clearance) const { return index_.EdgeDistance(p.x, p.y, 24, id) < clearance; }

    void Paint(int id) {
        const Road& r = roads_[std::size_t(id)];
        const int n = int(r.samples.size());
        const auto severity = [&](int i) {
            return std::abs(r.samples[std::size_t(((i % n) + n) % n)].curvature) * 100;
        };
        Chunks(r, [&](int from, int to) {
            for (int side : {1, -1}) {
                // Kerbs through corners, a white edge line elsewhere.
                const auto kerb = [&](int i) {
                    if (!r.verges) return false;
                    for (int k = -3; k <= 3; ++k)
                        if (severity(i + k) > 0.75) return true;
                    return false;
                };
                const auto edge = [&](int i, double off) {
                    const Sample& s = r.samples[std::size_t(i % n)];
                    return s.pos + s.left * (side * off);
                };
                const auto kerbOffsets = [&](int i) {
                    return kerb(i) ? std::pair<double, double>(side * r.halfWidth, side * (r.halfWidth + KerbWidth))
                                   : std::pair<double, double>(side * r.halfWidth, side * r.halfWidth);
                };
                const auto kerbColour = [&](int i, int) { return i % 2 ? KerbRed : White; };
                const auto skipKerb = [&](int i) {
                    return !kerb(i) || !kerb(i + 1) || OnOtherRoad(id, edge(i, r.halfWidth), 0.5) ||
                           OnOtherRoad(id, edge(i + 1, r.halfWidth), 0.5);
                };
                Strip(
                    r, from, to, kerbOffsets, 2, kerbColour, [](int, double, V3) { return 0.05; }, skipKerb);
                const auto lineOffsets = [&](int) {
                    return std::pair<double, double>(side * (r.halfWidth - 0.55), side * (r.halfWidth - 0.25));
                };
                const auto skipLine = [&](int i) {
                    return (kerb(i) && kerb(i + 1)) || OnOtherRoad(id, edge(i, r.halfWidth), 0.3) ||
                           OnOtherRoad(id, edge(i + 1, r.halfWidth), 0.3);
                };
                Strip(
                    r, from, to, lineOffsets, 1, [](int, int) { return White; }, [](int, double, V3) { return 0.04; },
                    skipLine);
            }
        });
    }

    // A chequered line across the circuit at loop sample `at`, grid boxes
    // behind it, and pit box markings for the main line.
    void StartLine(int at, bool main) {
        const Sample& s = Loop(at);
        const V3 fwd{s.tangent.x, s.tangent.y, 0};
        const double w = d_.halfWidth;
        const int squares = int(std::lround(2 * w / 1.0));
        const double size = 2 * w / squares;
        mesh.Begin();
        for (int row = 0; row < 2; ++row)
            for (int q = 0; q < squares; ++q) {
                const V3 base = s.pos + s.left * (-w + q * size) + fwd * ((row - 1) * size) + V3{0, 0, 0.06};
                mesh.Quad(base, base + fwd * size, base + fwd * size + s.left * size, base + s.left * size,
                          (row + q) % 2 ? Black : White);
            }
        // Grid boxes, two columns staggered, behind the line.
        mesh.Begin();
        const int boxes = main ? 24 : 12;
        for (int b = 0; b < boxes; ++b) {
            const Sample& g = Loop(at - 4 - b * 4);
            const V3 gf{g.tangent.x, g.tangent.y, 0};
            const double side = (b % 2 ? -1 : 1) * w * 0.45;
            const V3 c = g.pos + g.left * side + V3{0, 0, 0.06};
            const V3 l = g.left * 1.6, t = gf * 0.3;
            mesh.Quad(c - l, c - l + t, c + l + t, c + l, White);
            mesh.Quad(c - l - gf * 3.5, c - l, c - l + g.left * 0.3, c - l + g.left * 0.3 - gf * 3.5, White);
            mesh.Quad(c + l - g.left * 0.3 - gf * 3.5, c + l - g.left * 0.3, c + l, c + l - gf * 3.5, White);
        }
        if (!main) return;
        // Pit box lines on the garage side of the pit lane.
        const Road& pit = roads_.back();
        mesh.Begin();
        for (std::size_t k = 40; k + 40 < pit.samples.size(); k += 6) {
            const Sample& p = pit.samples[k];
            const V3 a = p.pos + p.left * 0.5 + V3{0, 0, 0.06};
            const V3 t{p.tangent.x * 0.25, p.tangent.y * 0.25, 0};
            mesh.Quad(a, a + t, a + t + p.left * 3.8, a + p.left * 3.8, White);
        }
    }

    void Barriers(int id) {
        const Road& r = roads_[std::size_t(id)];
        if (!r.verges) return;
        const int n = int(r.samples.size());
        const bool city = d_.style == Style::City;
        Chunks(r, [&](int from, int to) {
            for (int side : {1, -1}) {
                const auto offset = [&](int i) {
                    const Sample& s = r.samples[std::size_t(((i % n) + n) % n)];
                    return side > 0 ? s.outerLeft : s.outerRight;
                };
                const auto offsets = [&](int i) {
                    return std::pair<double, double>(side * offset(i), side * (offset(i) + (city ? 0.9 : 0.7)));
                };
                const auto colour = [&](int i, int) {
                    const Sample& s = r.samples[std::size_t(((i % n) + n) % n)];
                    if (city) return i % 3 ? Concrete : Shade(Concrete, 0.85);
                    if (side > 0 ? s.gravelLeft : s.gravelRight) return i % 2 ? Black : (i % 4 ? KerbRed : White);
                    return i % 2 ? Armco : Shade(Armco, 0.9);
                };
                const auto point = [&](int i) {
                    const Sample& s = r.samples[std::size_t(((i % n) + n) % n)];
                    return s.pos + s.left * (side * offset(i));
                };
                const auto skip = [&](int i) {
                    return OnOtherRoad(id, point(i), 3) || OnOtherRoad(id, point(i + 1), 3) ||
                           (id == 0 && side > 0 && NearPit(i));
                };
                Strip(
                    r, from, to, offsets, 1, colour, [](int, double, V3) { return 1.0; }, skip);
            }
        });
    }
    bool NearPit(int i) const {
        const int n = int(roads_[0].samples.size());
        const int k = ((i - finishA_) % n + n) % n;
        const int rel = k > n / 2 ? k - n : k;
        return rel >= PitFrom + 20 && rel <= PitTo - 20;
    }

    void PitWall() {
        const Road& loop = roads_[0];
        const double o = d_.halfWidth + 6;
        const auto offsets = [&](int) { return std::pair<double, double>(o, o + 0.8); };
        Strip(
            loop, finishA_ + PitFrom + 30, finishA_ + PitTo - 30, offsets, 1,
            [](int i, int) { return i % 2 ? Concrete : White; }, [](int, double, V3) { return 1.1; },
            [](int) { return false; });
    }

    // The paddock: asphalt behind the garages.
    void Paddock() {
        const Road& loop = roads_[0];
        const double o = pitOffset_ + 4.5;
        const auto offsets = [&](int) { return std::pair<double, double>(o, o + 70); };
        const auto colour = [&](int i, int j) {
            const Sample& s = Loop(i);
            const V3 p = s.pos + s.left * (o + j * 17);
            return Shade(PitAsphalt, 1.05 + 0.1 * noise_.At(p.x, p.y, 7));
        };
        Strip(
            loop, finishA_ + PitFrom + 35, finishA_ + PitTo - 35, offsets, 4, colour,
            [](int, double, V3) { return 0.01; }, [](int) { return false; });
        Occupy(Loop(finishA_).pos + Loop(finishA_).left * (o + 35), 170);
    }

    // A box building: walls first, then the roof over them. Gabled roofs
    // show two shades along the ridge, flat ones a parapet and a plant room.
    void Building(V3 centre, V3 axis, double length, double width, double height, Colour wall, Colour roof,
                  bool gabled) {
        const V3 u = axis * (length / 2), v = V3{-axis.y, axis.x, 0} * (width / 2);
        const V3 up{0, 0, height};
        const V3 c[4] = {centre - u - v, centre + u - v, centre + u + v, centre - u + v};
        mesh.Reserve(40);
        for (int k = 0; k < 4; ++k)
            mesh.Quad(c[k], c[(k + 1) % 4], c[(k + 1) % 4] + up, c[k] + up, Shade(wall, 0.75 + 0.08 * k));
        if (gabled) {
            const V3 ridge = up + V3{0, 0, width * 0.35};
            mesh.Quad(c[0] + up, c[1] + up, centre + u + ridge, centre - u + ridge, roof);
            mesh.Quad(c[2] + up, c[3] + up, centre - u + ridge, centre + u + ridge, Shade(roof, 0.72));
        } else {
            mesh.Quad(c[0] + up, c[1] + up, c[2] + up, c[3] + up, Shade(roof, 0.8));
            const V3 in = up + V3{0, 0, 0.3};
            const double k = 0.88;
            const V3 u2 = u * k, v2 = v * k;
            mesh.Quad(centre - u2 - v2 + in, centre + u2 - v2 + in, centre + u2 + v2 + in, centre - u2 + v2 + in, roof);
            const V3 pc = centre + u * 0.3 + v * 0.2 + in;
            const V3 pu = axis * 2.5, pv = V3{-axis.y, axis.x, 0} * 2;
            mesh.Quad(pc - pu - pv + V3{0, 0, 2}, pc + pu - pv + V3{0, 0, 2}, pc + pu + pv + V3{0, 0, 2},
                      pc - pu + pv + V3{0, 0, 2}, Shade(Concrete, 1.1));
        }
    }

    void Garages() {
        mesh.Begin();
        const double o = pitOffset_ + 4.5 + 8.5;
        for (int k = PitFrom + 40; k + 6 <= PitTo - 40; k += 6) {
            const Sample& s = Loop(finishA_ + k + 3);
            const V3 axis{s.tangent.x, s.tangent.y, 0};
            const V3 c = s.pos + s.left * o;
            Building({c.x, c.y, s.pos.z}, axis * (1 / std::max(1e-9, Len(axis))), 11.6, 16, 7, 0xFFDDDDDD,
                     ((k / 6) % 2) ? 0xFFE8E8E8 : 0xFFD0D4DA, false);
        }
        // Race control tower at the line.
        const Sample& s = Loop(finishA_);
        const V3 axis{s.tangent.x, s.tangent.y, 0};
        Building(s.pos + s.left * (o + 20), axis * (1 / Len(axis)), 24, 14, 16, 0xFFCCCCCC, 0xFF3A4A6A, false);
    }

    void Grandstand() {
        const Road& loop = roads_[0];
        const int from = finishA_ - 55, to = finishA_ + 40;
        const double base = Loop(finishA_).outerRight + 4;
        for (int row = 0; row < 10; ++row) {
            const double o0 = base + row * 2.4, o1 = o0 + 2.4;
            const bool roofed = row >= 6;
            const auto offsets = [&](int) { return std::pair<double, double>(-o0, -o1); };
            const auto colour = [&](int i, int) -> Colour {
                if (roofed) return (i % 3) ? 0xFFE0E2E6 : 0xFFB0B4BA;
                if (i % 12 == 0) return 0xFF9C9C9C;  // aisles
                return row % 2 ? 0xFF1F4FA0 : 0xFF2A62C0;
            };
            const double lift = roofed ? 6 * 1.1 + 6 : row * 1.1 + 0.5;
            Strip(
                loop, from, to, offsets, 1, colour, [&](int, double, V3) { return lift; }, [](int) { return false; });
        }
        Occupy(Loop(finishA_).pos - Loop(finishA_).left * (base + 12), 110);
    }

    void Occupy(V3 at, double radius) { occupied_.push_back({at.x, at.y, radius}); }
    bool Free(double x, double y, double clearance) const {
        for (const V3& o : occupied_)
            if (std::hypot(o.x - x, o.y - y) < o.z + clearance) return false;
        return true;
    }

    void Buildings() {
        const bool city = d_.style == Style::City;
        const double step = city ? 40 : 70;
        const double tile = city ? 120 : 200;
        for (double ty = landMin_.y; ty < landMax_.y; ty += tile)
            for (double tx = landMin_.x; tx < landMax_.x; tx += tile) {
                mesh.Begin();
                for (double y = ty + step / 2; y < std::min(ty + tile, landMax_.y); y += step)
                    for (double x = tx + step / 2; x < std::min(tx + tile, landMax_.x); x += step) {
                        Rng r(d_.seed ^ (std::uint64_t(std::int64_t(x * 16)) * 31 +
                                         std::uint64_t(std::int64_t(y * 16)) * 1000003));
                        if (r.Uniform() > d_.buildingDensity * (city ? 0.9 : 0.18)) continue;
                        const double length = city ? r.Range(14, 32) : r.Range(9, 22);
                        const double width = city ? r.Range(12, 28) : r.Range(7, 12);
                        const double cx = x + (city ? 5 : r.Range(-20, 20)), cy = y + (city ? 5 : r.Range(-20, 20));
                        const double reach = std::hypot(length, width) / 2;
                        if (Sea(cx, cy - reach - 40) || !Free(cx, cy, reach)) continue;
                        if (index_.EdgeDistance(cx, cy, reach + 48, -1) < reach + 28) continue;
                        const double angle = city ? 0 : r.Range(0, Pi);
                        static const Colour roofs[] = {0xFFA0442C, 0xFF6C6C72, 0xFF8C5A3C, 0xFF465A6E, 0xFFB8B8B0};
                        const Colour roof = roofs[r.Next() % 5];
                        const double height = city ? r.Range(9, 45) : r.Range(4, 8);
                        Building({cx, cy, Height(cx, cy)}, {std::cos(angle), std::sin(angle), 0}, length, width, height,
                                 city ? 0xFFB8B0A0 : 0xFFE0D6C0, roof, !city && r.Uniform() < 0.8);
                        Occupy({cx, cy, 0}, reach);
                    }
            }
    }

    void Trees() {
        const double step = 8.5 / std::sqrt(d_.detail);
        const double tile = 100;
        const int rim = 9;
        for (double ty = landMin_.y; ty < landMax_.y; ty += tile)
            for (double tx = landMin_.x; tx < landMax_.x; tx += tile) {
                mesh.Begin();
                for (double y = ty; y < std::min(ty + tile, landMax_.y); y += step)
                    for (double x = tx; x < std::min(tx + tile, landMax_.x); x += step) {
                        Rng r(d_.seed * 3 ^ (std::uint64_t(std::int64_t(x * 8)) * 0x9E37 +
                                             std::uint64_t(std::int64_t(y * 8)) * 0x85EBCA6B));
                        const double px = x + r.Range(-3, 3), py = y + r.Range(-3, 3);
                        // Woods where the noise is high, single trees elsewhere.
                        const double wood = noise_.At(px + 300, py - 200, 140);
                        const double chance = wood > 1 - 0.55 * d_.treeDensity ? 0.9 : 0.03 * d_.treeDensity;
                        if (r.Uniform() > chance) continue;
                        const double radius = r.Range(2.2, 4.6);
                        if (Sea(px, py - 30) || !Free(px, py, radius + 2)) continue;
                        if (index_.EdgeDistance(px, py, 48, -1) < 40) continue;
                        const double z = Height(px, py) + r.Range(7, 15);
                        const Colour leaf = Shade(r.Uniform() < 0.3 ? 0xFF2E6B2A : 0xFF3A7A30, r.Range(0.85, 1.1));
                        mesh.Reserve(rim + 1);
                        const std::uint16_t centre = mesh.P({px, py, z + radius * 0.4}, leaf);
                        std::uint16_t first = 0, prev = 0;
                        for (int k = 0; k <= rim; ++k) {
                            const double a = 2 * Pi * k / rim;
                            // Lit from the north-west: the crown shades
                            // towards the south-east.
                            const double light = 0.62 + 0.4 * std::cos(a - 2.36);
                            const std::uint16_t p =
                                k == rim ? first
                                         : mesh.P({px + radius * std::cos(a), py + radius * std::sin(a), z},
                                                  Shade(leaf, light));
                            if (k == 0) first = p;
                            else mesh.T(prev, p, centre);
                            prev = p;
                        }
                    }
            }
    }

    static constexpr int PitFrom = -120, PitTo = 90;  // loop samples from the line

    const Design& d_;
    Noise noise_;
    std::vector<Road> roads_;
    RoadIndex index_;
    std::vector<V3> occupied_;  // x, y, radius
    int linkA_ = 0, linkB_ = 0, finishA_ = 0, finishB_ = 0;
    double seaY_ = -1e9, pitOffset_ = 0;
    V3 landMin_, landMax_;
};

// ---- files ----------------------------------------------------------------

class Bytes {
public:
    void U8(std::uint8_t v) { b_.push_back(v); }
    void U16(std::uint16_t v) { U8(std::uint8_t(v)), U8(std::uint8_t(v >> 8)); }
    void U32(std::uint32_t v) { U16(std::uint16_t(v)), U16(std::uint16_t(v >> 16)); }
    void I32(std::int32_t v) { U32(std::uint32_t(v)); }
    void F32(float v) {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        U32(u);
    }
    void Text(const char* t, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) U8(i < std::strlen(t) ? std::uint8_t(t[i]) : 0);
    }
    bool Save(const std::filesystem::path& path) const {
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        if (!f) return false;
        const bool ok = std::fwrite(b_.data(), 1, b_.size(), f) == b_.size();
        return std::fclose(f) == 0 && ok;
    }
    std::size_t Size() const { return b_.size(); }

private:
    std::vector<std::uint8_t> b_;
};

struct Stats {
    std::size_t objects = 0, points = 0, triangles = 0, bytes = 0;
};

Stats WriteMesh(std::vector<Object>& objects, Colour ground, const std::filesystem::path& path, bool& ok) {
    Bytes out;
    out.Text("LFSSMX", 6);
    out.U16(0);
    out.U8(0);  // version
    out.U8(3);  // dimensions
    out.U8(0);
    out.U8(1);  // points carry colours
    for (int i = 12; i < 48; ++i) out.U8(0);
    out.U8(std::uint8_t(ground >> 16)), out.U8(std::uint8_t(ground >> 8)), out.U8(std::uint8_t(ground));
    for (int i = 51; i < 60; ++i) out.U8(0);
    out.I32(std::int32_t(objects.size()));
    Stats stats;
    stats.objects = objects.size();
    for (const Object& o : objects) {
        // The file holds whole units of 1/65536 m: measure the bounds from
        // the rounded values that are written.
        auto fixed = [](double v) { return std::int32_t(std::lround(v)); };
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (const Point& p : o.points) {
            const double v[3] = {double(fixed(p.x)), double(fixed(p.y)), double(fixed(p.z))};
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
        }
        std::int32_t centre[3];
        for (int k = 0; k < 3; ++k) centre[k] = fixed((lo[k] + hi[k]) / 2);
        double radius = 0;
        for (const Point& p : o.points) {
            const double dx = double(fixed(p.x)) - centre[0], dy = double(fixed(p.y)) - centre[1],
                         dz = double(fixed(p.z)) - centre[2];
            radius = std::max(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
        }
        // A millimetre more, so the reader's float rounding never leaves a
        // point outside.
        for (std::int32_t c : centre) out.I32(c);
        out.I32(std::int32_t(std::ceil(radius)) + 64);
        out.I32(std::int32_t(o.points.size()));
        out.I32(std::int32_t(o.triangles.size()));
        for (const Point& p : o.points) {
            out.I32(fixed(p.x)), out.I32(fixed(p.y)), out.I32(fixed(p.z));
            out.U32(p.colour);
        }
        for (const auto& t : o.triangles) out.U16(t[0]), out.U16(t[1]), out.U16(t[2]), out.U16(0);
        stats.points += o.points.size();
        stats.triangles += o.triangles.size();
    }
    stats.bytes = out.Size();
    ok = out.Save(path) && ok;
    return stats;
}

bool WritePath(const Layout& layout, const std::filesystem::path& path) {
    Bytes out;
    out.Text("LFSPTH", 6);
    out.U8(0);  // version
    out.U8(0);  // revision
    out.I32(std::int32_t(layout.nodes.size()));
    out.I32(layout.finish);
    for (const PathNode& n : layout.nodes) {
        out.I32(std::int32_t(std::lround(n.pos.x * 65536)));
        out.I32(std::int32_t(std::lround(n.pos.y * 65536)));
        out.I32(std::int32_t(std::lround(n.pos.z * 65536)));
        out.F32(float(n.direction.x)), out.F32(float(n.direction.y)), out.F32(float(n.direction.z));
        out.F32(float(-n.outerLeft)), out.F32(float(n.outerRight));
        out.F32(float(-n.roadHalfWidth)), out.F32(float(n.roadHalfWidth));
    }
    return out.Save(path);
}

// A top view of the mesh as drawn: objects in order, each triangle flat in
// the colour of its first point.
bool WritePreview(const std::vector<Object>& objects, const std::filesystem::path& path, int width) {
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    for (const Object& o : objects)
        for (const Point& p : o.points)
            lo[0] = std::min(lo[0], double(p.x)), hi[0] = std::max(hi[0], double(p.x)),
            lo[1] = std::min(lo[1], double(p.y)), hi[1] = std::max(hi[1], double(p.y));
    const double scale = width / (hi[0] - lo[0]);
    const int height = int((hi[1] - lo[1]) * scale) + 1;
    std::vector<std::uint8_t> image(std::size_t(width) * std::size_t(height) * 3, 0);
    for (const Object& o : objects)
        for (const auto& t : o.triangles) {
            double x[3], y[3];
            for (int k = 0; k < 3; ++k) {
                x[k] = (o.points[t[std::size_t(k)]].x - lo[0]) * scale;
                y[k] = (hi[1] - o.points[t[std::size_t(k)]].y) * scale;
            }
            const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
            if (std::abs(area) < 1e-12) continue;
            const Colour c = o.points[t[0]].colour;
            const int x0 = std::max(0, int(std::floor(std::min({x[0], x[1], x[2]}))));
            const int x1 = std::min(width - 1, int(std::ceil(std::max({x[0], x[1], x[2]}))));
            const int y0 = std::max(0, int(std::floor(std::min({y[0], y[1], y[2]}))));
            const int y1 = std::min(height - 1, int(std::ceil(std::max({y[0], y[1], y[2]}))));
            for (int py = y0; py <= y1; ++py)
                for (int px = x0; px <= x1; ++px) {
                    const double sx = px + 0.5, sy = py + 0.5;
                    const double w0 = ((x[1] - sx) * (y[2] - sy) - (x[2] - sx) * (y[1] - sy)) / area;
                    const double w1 = ((x[2] - sx) * (y[0] - sy) - (x[0] - sx) * (y[2] - sy)) / area;
                    if (w0 < 0 || w1 < 0 || w0 + w1 > 1) continue;
                    std::uint8_t* px3 = &image[(std::size_t(py) * std::size_t(width) + std::size_t(px)) * 3];
                    px3[0] = std::uint8_t(c >> 16), px3[1] = std::uint8_t(c >> 8), px3[2] = std::uint8_t(c);
                }
        }
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: trackgen OUTDIR [--preview DIR]\n");
        return 2;
    }
    const std::filesystem::path outDir = argv[1];
    const std::filesystem::path previewDir = argc >= 4 && std::string(argv[2]) == "--preview" ? argv[3] : "";
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (!previewDir.empty()) std::filesystem::create_directories(previewDir, ec);
    bool ok = true;
    for (const Design& design : Designs()) {
        TrackBuilder track(design);
        track.Build();
        std::vector<Object>& objects = track.mesh.Objects();
        const Stats s = WriteMesh(objects, track.ground, outDir / design.meshName, ok);
        std::printf("%-22s %5zu objects %7zu points %7zu triangles %9zu bytes;", design.meshName, s.objects, s.points,
                    s.triangles, s.bytes);
        for (const Layout& layout : track.layouts) {
            ok = WritePath(layout, outDir / (layout.name + ".pth")) && ok;
            if (layout.name.back() != 'r')
                std::printf(" %s %zu/%d", layout.name.c_str(), layout.nodes.size(), layout.finish);
        }
        std::printf("\n");
        if (!previewDir.empty())
            ok = WritePreview(objects, previewDir / (std::string(design.code) + ".ppm"), 1400) && ok;
    }
    if (!ok) std::fprintf(stderr, "trackgen: could not write every file\n");
    return ok ? 0 : 1;
}
