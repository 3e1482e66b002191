// Benchmarks of the live view under an X server (Xvfb with Mesa):
//
//   Frame/default, Frame/whole - one OnFrameTick tick of the real main
//       window (smoothing, DrawScene with cars, overlay and standings, the
//       visibility pass) on the largest track with 32 named cars, at the
//       default camera and zoomed out over the whole track. Reference, in the
//       same iteration: the same visible triangles, each in the colour of its
//       first point, drawn through client-side vertex arrays with nothing
//       else. Before timing, the frame is read back and checked against the
//       reference picture wherever cars, labels and overlay leave the track
//       in view; every timed frame is read back and must equal that frame.
//   FrameParts/* - where a frame's time goes: the track in immediate mode
//       and through vertex arrays, the scene with and without its track, and
//       the whole tick with the buffer swap that shows the frame.
//   Startup - the forms created and shown until the first frame is drawn,
//       split by the main window's start-up stamps: up to its constructor
//       (1_window), the rest of the construction, showing, the window's GL
//       context and GLInit (2_glinit), then font, textures, default track
//       and the first frame. Run it in a fresh process for a cold start.
//
// The run folder is a scratch folder that links the build's tracks and
// bitmaps and has its own settings file, so nothing of the build's run
// folder is changed.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <GL/gl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/Forms.h"
#include "common/Units.h"
#include "render/GLSurface.h"
#include "track/TrackData.h"

// Every allocation through operator new in this process is counted, so the
// frame benchmark can say how many a drawn frame makes.
namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace gs {
namespace {

namespace fs = std::filesystem;
using Stopwatch = std::chrono::steady_clock;

double Seconds(Stopwatch::time_point a, Stopwatch::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// ------------------------------------------------------------ run folder

// A scratch run folder: links to the build's tracks and bitmaps, and a
// settings file with names and speeds shown, smoothing on, icon size 25,
// 20 frames per second.
fs::path MakeRunFolder() {
    const fs::path source = GRIDSCOPE_RUN_DIR;
    char pattern[] = "/tmp/gridscope-bench-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a scratch folder");
    const fs::path folder = pattern;
    fs::create_directory_symlink(source / "files", folder / "files");
    for (const auto& entry : fs::directory_iterator(source))
        if (entry.path().extension() == ".bmp") fs::create_symlink(entry.path(), folder / entry.path().filename());
    std::ofstream(folder / "Gridscope.ini") << "127.0.0.1\n29999\n(null)\n1\n1\n1\n1\n0\n25\n20\n";
    return folder;
}

// -------------------------------------------------------------- the race

struct PathNode {
    float x, y, dx, dy;
};

// The centre line of a path file, in world units.
std::vector<PathNode> ReadPathNodes(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<PathNode> nodes;
    for (std::size_t at = 16; at + 40 <= bytes.size(); at += 40) {
        std::int32_t x, y;
        float dx, dy;
        std::memcpy(&x, &bytes[at], 4);
        std::memcpy(&y, &bytes[at + 4], 4);
        std::memcpy(&dx, &bytes[at + 12], 4);
        std::memcpy(&dy, &bytes[at + 16], 4);
        nodes.push_back({static_cast<float>(x * WorldScaleD), static_cast<float>(y * WorldScaleD), dx, dy});
    }
    return nodes;
}

constexpr const char* DriverNames[] = {
    "Alex Moreau",    "Bea Lindqvist", "Carlos Ibarra", "Dana Whitlock", "Emil Sorensen", "Fay Okafor",  "Gus Tremblay",
    "Hana Kovac",     "Ivo Marchetti", "Jill Ashby",    "Kai Nakamura",  "Lena Brandt",   "Milo Duarte", "Nora Fitzroy",
    "Otto Halvorsen", "Pia Castell",   "Quinn Abara",   "Rosa Vidal",    "Sven Ekholm",   "Tara Quill",  "Uma Patel",
    "Vic Romano",     "Wes Harlan",    "Xena Morrow",   "Yuri Antonov",  "Zoe Kessler",   "Aron Blake",  "Bo Jensen",
    "Cleo Marsh",     "Dirk Vos",      "Elsa Horn",     "Finn Doyle"};
constexpr const char* CarNames[] = {"XF GTI", "XR GT",  "XR GT TURBO", "FXO TURBO", "RB4 GT", "LX4",
                                    "LX6",    "MRT5",   "RA",          "FZ50",      "UF1",    "FORMULA XR",
                                    "XF GTR", "UF GTR", "FORMULA V8",  "FXO GTR",   "XR GTR", "FZ50 GTR"};

// 32 players spread along the track, standing still (three equal samples
// and one more, so smoothing runs its whole course but every frame draws
// the same poses), with laps, best laps and a log of race events.
void FillRace(RaceState& race, const std::vector<PathNode>& path) {
    race.PlayerCount = MaxPlayers;
    race.RaceMode = rmRace;
    race.FollowIndex = -1;
    for (int i = 0; i < MaxPlayers; ++i) {
        PlayerRecord& p = race.Players[i];
        const std::size_t n = path.size() * static_cast<std::size_t>(i) / MaxPlayers;
        const PathNode& node = path[n];
        CarSample s;
        s.X = node.x;
        s.Y = node.y;
        s.Heading = static_cast<float>(std::fmod(std::atan2(-node.dx, node.dy) + 2 * M_PI, 2 * M_PI));
        s.Speed = 80.0f + 3.7f * static_cast<float>(i);
        for (int k = 0; k < 4; ++k) p.Samples[k] = s;
        p.SampleCount = 4;
        p.Node = static_cast<std::uint32_t>(n);
        p.Lap = 3 + (i % 3 == 0 ? 1 : 0);
        p.BestMin = 1;
        p.BestSec = 5 + i % 50;
        p.BestHund = (i * 37) % 100;
        std::snprintf(p.Name, sizeof p.Name, "%s", DriverNames[i]);
        std::snprintf(p.Car, sizeof p.Car, "%s", CarNames[i % std::size(CarNames)]);
    }
    for (int i = 0; i < 14; ++i)
        race.AddMessage("%s finishes Lap %d in 1:%02d.%02d", DriverNames[i], 3, 5 + i, (i * 13) % 100);
}

// ------------------------------------------------------------ the picture

using Pixels = std::vector<std::uint32_t>;

// The frame drawn into the panel's back buffer and not shown, bottom row first.
Pixels ReadBack(LivePanel& panel) {
    panel.makeCurrent();
    Pixels p(static_cast<std::size_t>(panel.width()) * panel.height());
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, panel.width(), panel.height(), GL_RGBA, GL_UNSIGNED_BYTE, p.data());
    for (std::uint32_t& v : p) v |= 0xFF000000u;  // alpha is not part of the picture
    return p;
}

// The frame on screen, taken from the X server, in the same layout.
Pixels OnScreen(LivePanel& panel) {
    const QImage image =
        panel.screen()->grabWindow(panel.winId()).toImage().convertToFormat(QImage::Format_RGBA8888).mirrored();
    const int w = panel.width(), h = panel.height();
    Pixels p(static_cast<std::size_t>(w) * h);
    if (image.width() != w || image.height() != h) return {};
    for (int y = 0; y < h; ++y) std::memcpy(&p[static_cast<std::size_t>(y) * w], image.constScanLine(y), w * 4u);
    for (std::uint32_t& v : p) v |= 0xFF000000u;
    return p;
}

void Save(const Pixels& p, int w, int h, const fs::path& name) {
    QImage image(reinterpret_cast<const uchar*>(p.data()), w, h, QImage::Format_RGBA8888);
    image.mirrored().save(QString::fromStdString(name.string()));
}

// The same visible triangles as the scene's track, each in the colour of its
// first point, as client-side vertex arrays.
struct ReferenceTrack {
    std::vector<float> vertices, colours;
    GLsizei count = 0;

    explicit ReferenceTrack(const TrackMesh& mesh) {
        for (const MeshObject& o : mesh.Objects) {
            if (!o.Visible) continue;
            for (std::int32_t t = 0; t < o.TriangleCount; ++t) {
                const MeshTriangle& tri = o.Triangles[t];
                const MeshPoint& first = o.Points[tri.a];
                for (const std::uint16_t i : {tri.a, tri.b, tri.c}) {
                    const MeshPoint& v = o.Points[i];
                    vertices.insert(vertices.end(), {v.x, v.y, v.z});
                    colours.insert(colours.end(), {first.r, first.g, first.b});
                }
            }
        }
        count = static_cast<GLsizei>(vertices.size() / 3);
    }

    // Draws into the panel's framebuffer with the scene's camera, background
    // and state, and waits for the drawing to finish.
    void Draw(LivePanel& panel, const Camera& camera) const {
        panel.makeCurrent();
        BeginFrame(camera);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, vertices.data());
        glColorPointer(3, GL_FLOAT, 0, colours.data());
        glDrawArrays(GL_TRIANGLES, 0, count);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
        glFinish();
    }
};

// ------------------------------------------------------------------ rig

fs::path RunFolder;

struct Rig {
    std::unique_ptr<MainWindow> form;
    int frames = 0;

    Rig() {
        form = std::make_unique<MainWindow>();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()) ||
            !QTest::qWaitFor([&] { return form->Startup().firstFrame.time_since_epoch().count() != 0; }, 10000))
            throw std::runtime_error("the main window did not draw");
        // Frames are drawn on demand below. A zero interval keeps the
        // standings on their first page, so that every frame is the same.
        form->FrameTimer().stop();
        form->FrameTimer().setInterval(0);
        form->onFramePresented = [this] { ++frames; };
        FillRace(form->Race(), ReadPathNodes("files/AS1.pth"));
    }
};

std::unique_ptr<Rig> TheRigHolder;  // goes before the application object

Rig& TheRig() {
    if (!TheRigHolder) TheRigHolder = std::make_unique<Rig>();
    return *TheRigHolder;
}

void Tick(MainWindow& form) { form.OnFrameTick(); }

// The bounding square of the track's objects: where "whole track" looks.
void ZoomOutOverTrack(Camera& camera, const TrackMesh& mesh) {
    float x0 = 1e30f, y0 = 1e30f, x1 = -1e30f, y1 = -1e30f;
    for (const MeshObject& o : mesh.Objects) {
        x0 = std::min(x0, o.CentreX), x1 = std::max(x1, o.CentreX);
        y0 = std::min(y0, o.CentreY), y1 = std::max(y1, o.CentreY);
    }
    camera.CameraX = (x0 + x1) / 2;
    camera.CameraY = (y0 + y1) / 2;
    // The farthest the zoom keys go.
    camera.CameraDistance = 500;
}

std::vector<std::uint8_t> VisibleFlags(const TrackMesh& mesh) {
    std::vector<std::uint8_t> flags;
    for (const MeshObject& o : mesh.Objects) flags.push_back(o.Visible);
    return flags;
}

// Checks the frame on screen against the reference picture; returns an
// empty string when it is right.
std::string CheckPicture(Rig& rig, const ReferenceTrack& reference, const Pixels& frame, const std::string& label) {
    MainWindow& form = *rig.form;
    LivePanel& panel = form.Panel();
    TrackMesh& mesh = form.Track().Mesh;
    const auto flags = VisibleFlags(mesh);
    // The same frame without its track: what cars, labels and overlay cover.
    for (MeshObject& o : mesh.Objects) o.Visible = 0;
    panel.makeCurrent();
    form.PaintFrame();
    const Pixels bare = ReadBack(panel);
    for (std::size_t i = 0; i < flags.size(); ++i) mesh.Objects[i].Visible = flags[i];
    reference.Draw(panel, form.View());
    const Pixels ref = ReadBack(panel);

    std::map<std::uint32_t, std::size_t> histogram;
    for (std::uint32_t v : bare) ++histogram[v];
    const std::uint32_t background = std::max_element(histogram.begin(), histogram.end(), [](auto& a, auto& b) {
                                         return a.second < b.second;
                                     })->first;
    // Covered: anything drawn over the background, and the pixels next to
    // it, where an edge blended over the background can round back to it.
    const int w = panel.width(), h = panel.height();
    std::vector<bool> near(frame.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (bare[static_cast<std::size_t>(y) * w + x] != background)
                for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, h - 1); ++yy)
                    for (int xx = std::max(x - 1, 0); xx <= std::min(x + 1, w - 1); ++xx)
                        near[static_cast<std::size_t>(yy) * w + xx] = true;
    std::size_t open = 0, track = 0, wrong = 0, covered = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (near[i]) {
            ++covered;
            continue;
        }
        ++open;
        if (ref[i] != background) ++track;
        if (frame[i] != ref[i]) ++wrong;
    }
    if (const char* dir = std::getenv("GRIDSCOPE_BENCH_FRAMES")) {
        Save(frame, panel.width(), panel.height(), fs::path(dir) / ("frame-" + label + ".png"));
        Save(ref, panel.width(), panel.height(), fs::path(dir) / ("reference-" + label + ".png"));
        Pixels marks(frame.size());
        for (std::size_t i = 0; i < frame.size(); ++i)
            marks[i] = near[i] ? 0xFF404040u : frame[i] != ref[i] ? 0xFFFFFFFFu : 0xFF000000u;
        Save(marks, panel.width(), panel.height(), fs::path(dir) / ("differences-" + label + ".png"));
    }
    const std::size_t all = frame.size();
    char text[256];
    std::snprintf(text, sizeof text, "%zu of %zu open pixels differ from the reference (track %zu, covered %zu)", wrong,
                  open, track, covered);
    if (wrong != 0) return text;
    if (track < all / 10) return std::string("too little track in view: ") + text;
    if (covered < all / 50) return std::string("cars and overlay missing: ") + text;
    return {};
}

// Puts the camera at the benchmark's view (default, or over the whole track)
// and settles the visibility flags for it, and the message log, which the
// overlay trims by one line a frame down to 13. Returns the camera as it was.
Camera PrepareView(MainWindow& form, bool whole) {
    Camera& camera = form.View();
    const Camera saved = camera;
    if (whole) ZoomOutOverTrack(camera, form.Track().Mesh);
    for (int i = 0; i < 12; ++i) Tick(form);
    return saved;
}

void Frame(benchmark::State& state, bool whole) {
    Rig& rig = TheRig();
    MainWindow& form = *rig.form;
    Camera& camera = form.View();
    const Camera saved = PrepareView(form, whole);
    const auto flags = VisibleFlags(form.Track().Mesh);
    const ReferenceTrack reference(form.Track().Mesh);

    Tick(form);
    const Pixels expected = OnScreen(form.Panel());
    // The log and the standings come from cached pictures: the frame must
    // equal, pixel for pixel, the one that draws every glyph.
    form.Scene().cacheText = false;
    Tick(form);
    const Pixels direct = OnScreen(form.Panel());
    form.Scene().cacheText = true;
    if (direct != expected) {
        std::size_t differing = 0;
        for (std::size_t i = 0; i < std::min(direct.size(), expected.size()); ++i)
            differing += direct[i] != expected[i];
        const std::string text = "the frame with cached text differs from the frame drawn glyph by glyph in " +
                                 std::to_string(differing) + " pixels";
        state.SkipWithError(text.c_str());
        camera = saved;
        return;
    }
    const std::string fault = CheckPicture(rig, reference, expected, whole ? "whole" : "default");
    if (!fault.empty()) {
        state.SkipWithError(fault.c_str());
        camera = saved;
        return;
    }

    // The check must be able to fail: a reference that lacks the largest
    // visible object is a wrong picture.
    {
        TrackMesh& mesh = form.Track().Mesh;
        std::size_t largest = 0;
        for (std::size_t i = 0; i < mesh.Objects.size(); ++i)
            if (mesh.Objects[i].Visible && mesh.Objects[i].TriangleCount > mesh.Objects[largest].TriangleCount)
                largest = i;
        mesh.Objects[largest].Visible = 0;
        const ReferenceTrack wrong(mesh);
        mesh.Objects[largest].Visible = 1;
        if (CheckPicture(rig, wrong, expected, whole ? "whole-wrong" : "default-wrong").empty()) {
            state.SkipWithError("the picture check does not see a missing object");
            camera = saved;
            return;
        }
    }

    double program = 0, ref = 0;
    const int rebuildsBefore = form.Scene().logText.Rebuilds() + form.Scene().standingsText.Rebuilds();
    for (auto _ : state) {
        auto t0 = Stopwatch::now();
        reference.Draw(form.Panel(), camera);
        auto t1 = Stopwatch::now();
        const int before = rig.frames;
        form.OnFrameTick();
        form.Panel().makeCurrent();
        glFinish();
        auto t2 = Stopwatch::now();
        if (rig.frames != before + 1 || VisibleFlags(form.Track().Mesh) != flags ||
            OnScreen(form.Panel()) != expected) {
            state.SkipWithError("a timed frame was not the checked picture");
            break;
        }
        ref += Seconds(t0, t1);
        program += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }
    // Allocations while frames are drawn (the state brought up to date and
    // the scene drawn), after the frames above have warmed every buffer.
    form.Panel().makeCurrent();
    constexpr int CountedFrames = 100;
    const std::uint64_t allocationsBefore = allocations.load();
    for (int i = 0; i < CountedFrames; ++i) form.PaintFrame();
    state.counters["allocations_per_frame"] =
        static_cast<double>(allocations.load() - allocationsBefore) / CountedFrames;

    const double n = static_cast<double>(state.iterations());
    state.counters["reference_ms"] = ref / n * 1e3;
    state.counters["program_ms"] = program / n * 1e3;
    state.counters["ratio"] = ref > 0 ? program / ref : 0;
    state.counters["triangles"] = reference.count / 3;
    // Text pictures drawn anew during the timed frames (the texts stay the same).
    state.counters["text_rebuilds"] =
        form.Scene().logText.Rebuilds() + form.Scene().standingsText.Rebuilds() - rebuildsBefore;
    camera = saved;
}
BENCHMARK_CAPTURE(Frame, default, false)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(Frame, whole, true)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Where a frame's time goes, each part timed on its own with glFinish:
// the track in immediate mode as DrawScene draws it, the whole scene drawn
// into the panel without presenting it, the same scene without its track,
// and the whole tick (which also shows the frame).
void FrameParts(benchmark::State& state, bool whole) {
    Rig& rig = TheRig();
    MainWindow& form = *rig.form;
    Camera& camera = form.View();
    const Camera saved = PrepareView(form, whole);
    LivePanel& panel = form.Panel();
    TrackMesh& mesh = form.Track().Mesh;
    const auto flags = VisibleFlags(mesh);
    const ReferenceTrack reference(mesh);
    std::map<std::string, double> parts;
    auto timed = [&](const char* name, auto&& draw) {
        panel.makeCurrent();
        const auto t0 = Stopwatch::now();
        draw();
        panel.makeCurrent();
        glFinish();
        parts[name] += Seconds(t0, Stopwatch::now());
    };
    for (auto _ : state) {
        timed("arrays_ms", [&] { reference.Draw(panel, camera); });
        timed("immediate_ms", [&] {
            glLoadIdentity();
            glClear(GL_COLOR_BUFFER_BIT);
            glTranslatef(-camera.CameraX, -camera.CameraY, -camera.CameraDistance);
            glRotatef(camera.CameraRotation, 0, 0, 1);
            for (const MeshObject& object : mesh.Objects) {
                if (!object.Visible) continue;
                glBegin(GL_TRIANGLES);
                for (std::int32_t t = 0; t < object.TriangleCount; ++t) {
                    const MeshTriangle& tri = object.Triangles[t];
                    const MeshPoint &a = object.Points[tri.a], &b = object.Points[tri.b], &c = object.Points[tri.c];
                    glColor3f(a.r, a.g, a.b);
                    glVertex3f(a.x, a.y, a.z);
                    glVertex3f(b.x, b.y, b.z);
                    glVertex3f(c.x, c.y, c.z);
                }
                glEnd();
            }
        });
        timed("scene_ms", [&] { form.PaintFrame(); });
        for (MeshObject& o : mesh.Objects) o.Visible = 0;
        timed("scene_without_track_ms", [&] { form.PaintFrame(); });
        for (std::size_t i = 0; i < flags.size(); ++i) mesh.Objects[i].Visible = flags[i];
        timed("tick_ms", [&] { form.OnFrameTick(); });
        state.SetIterationTime(1e-3);
    }
    const double n = static_cast<double>(state.iterations());
    for (const auto& [name, total] : parts) state.counters[name] = total / n * 1e3;
    camera = saved;
}
BENCHMARK_CAPTURE(FrameParts, default, false)->UseManualTime()->Iterations(20);
BENCHMARK_CAPTURE(FrameParts, whole, true)->UseManualTime()->Iterations(20);

// --------------------------------------------------------------- start-up

double AppSeconds = 0;  // creating the application object, measured in main

void Startup(benchmark::State& state) {
    std::map<std::string, double> steps;
    for (auto _ : state) {
        const auto t0 = Stopwatch::now();
        auto forms = std::make_unique<Forms>();
        MainWindow* form = &forms->form;
        form->show();
        const StartupTimes& s = form->Startup();
        if (!QTest::qWaitFor([&] { return s.firstFrame.time_since_epoch().count() != 0; }, 10000)) {
            state.SkipWithError("no first frame");
            break;
        }
        state.SetIterationTime(Seconds(t0, s.firstFrame));
        steps["1_window_ms"] += Seconds(t0, s.created);
        steps["2_glinit_ms"] += Seconds(s.created, s.glInit);
        steps["3_font_ms"] += Seconds(s.glInit, s.font);
        steps["4_textures_ms"] += Seconds(s.font, s.textures);
        steps["5_track_ms"] += Seconds(s.textures, s.track);
        steps["6_frame_ms"] += Seconds(s.track, s.firstFrame);
        form->FrameTimer().stop();
    }
    const double n = static_cast<double>(state.iterations());
    for (const auto& [name, total] : steps) state.counters[name] = total / n * 1e3;
    state.counters["qapplication_ms"] = AppSeconds * 1e3;
}
BENCHMARK(Startup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace gs

int main(int argc, char** argv) {
    gs::SetDefaultSurfaceFormat();  // as the program sets it up
    const auto t0 = std::chrono::steady_clock::now();
    QApplication app(argc, argv);
    gs::AppSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    gs::RunFolder = gs::MakeRunFolder();
    if (::chdir(gs::RunFolder.c_str()) != 0) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gs::TheRigHolder.reset();
    std::filesystem::remove_all(gs::RunFolder);
    return 0;
}
