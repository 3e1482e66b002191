// Benchmarks of the core that need no display, each timed against a
// reference measured in the same iteration, so that the ratio holds on a
// shared machine whose speed drifts:
//
//   TrackLoad   - LoadTrack of the largest generated track, warm cache,
//                 against reading the same two files' bytes into memory
//   PacketPath  - a burst of 8-car car-info datagrams drained and dispatched
//                 by OnPacketTick from a real loopback socket, against a bare
//                 receive loop over the same burst on the same socket
//
// Each benchmark's iteration time is the program's path; the counters carry
// the reference's time and the ratio (program / reference).
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "connection/Connection.h"
#include "connection/UdpSocket.h"
#include "support/FakePlatform.h"
#include "support/LoopbackPeer.h"
#include "track/MeshFile.h"
#include "track/TrackData.h"

namespace gs {
namespace {

using Stopwatch = std::chrono::steady_clock;

double Seconds(Stopwatch::time_point a, Stopwatch::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Program and reference times of a benchmark, summed over its iterations.
struct Pair {
    double program = 0, reference = 0;
    void Report(benchmark::State& state, double perIteration = 1) const {
        const double n = static_cast<double>(state.iterations()) * perIteration;
        state.counters["reference_us"] = reference / n * 1e6;
        state.counters["program_us"] = program / n * 1e6;
        state.counters["ratio"] = reference > 0 ? program / reference : 0;
    }
};

// ---------------------------------------------------------------- track load

// The largest track of the run folder, the program's default.
constexpr const char* LargestTrack = "AS1";

// The whole file in a fresh buffer, as a load has to get it.
std::size_t ReadWholeFile(const char* name) {
    std::FILE* f = std::fopen(name, "rb");
    if (!f) throw std::runtime_error(std::string("cannot open ") + name);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    auto buffer = std::make_unique_for_overwrite<std::byte[]>(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(buffer.get(), 1, static_cast<std::size_t>(size), f);
    std::fclose(f);
    benchmark::DoNotOptimize(buffer.get());
    benchmark::ClobberMemory();
    return got;
}

void TrackLoad(benchmark::State& state) {
    if (::chdir(GRIDSCOPE_RUN_DIR) != 0) {
        state.SkipWithError("no run folder");
        return;
    }
    const std::string pathName = PathFileName(LargestTrack);
    const char* meshName = MeshFileName(LargestTrack);
    test::RecordingShell shell;
    TrackData track;
    // Warm the page cache and check the files load at all.
    if (!LoadTrack(track, LargestTrack, shell) || !shell.fatalErrors.empty()) {
        state.SkipWithError("the track does not load");
        return;
    }
    std::size_t triangles = 0;
    for (const MeshObject& o : track.Mesh.Objects) triangles += static_cast<std::size_t>(o.TriangleCount);
    Pair time;
    for (auto _ : state) {
        auto t0 = Stopwatch::now();
        ReadWholeFile(pathName.c_str());
        ReadWholeFile(meshName);
        auto t1 = Stopwatch::now();
        LoadTrack(track, LargestTrack, shell);
        benchmark::DoNotOptimize(track.Mesh.Objects.data());
        auto t2 = Stopwatch::now();
        time.reference += Seconds(t0, t1);
        time.program += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }
    time.Report(state);
    state.counters["objects"] = track.Mesh.ObjectCount();
    state.counters["triangles"] = static_cast<double>(triangles);
}
BENCHMARK(TrackLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// --------------------------------------------------------------- packet path

class BenchClock final : public Clock {
public:
    std::int64_t Frequency() const override { return 1000000000; }
    std::int64_t Counter() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Stopwatch::now().time_since_epoch()).count();
    }
};

// Reads whatever the client sent, without waiting; returns how many.
std::size_t Absorb(test::LoopbackPeer& server) { return server.ReceiveAll(0, 0).size(); }

constexpr int Cars = 32;

// The car-info datagram of cars first..first+7 of a 32-car race, in round r.
std::vector<std::uint8_t> CarInfo(int first, int round) {
    std::vector<std::uint8_t> d(12 + 24 * 8, 0);
    std::memcpy(d.data(), "MCI", 3);
    d[8] = Cars;
    d[9] = static_cast<std::uint8_t>(first);
    for (int k = 0; k < 8; ++k) {
        std::uint8_t* e = d.data() + 12 + 24 * k;
        const int car = first + k;
        const std::uint16_t node = static_cast<std::uint16_t>(car * 29 + round * 3);
        const std::int32_t x = (car * 4000 + round * 300) * 65536, y = (car * -2500 + round * 200) * 65536,
                           z = 12 * 65536;
        const std::uint16_t speed = static_cast<std::uint16_t>(14000 + car * 50),
                            heading = static_cast<std::uint16_t>(car * 2000);
        std::memcpy(e, &node, 2);
        e[2] = static_cast<std::uint8_t>(3 + car % 2);
        std::memcpy(e + 4, &x, 4);
        std::memcpy(e + 8, &y, 4);
        std::memcpy(e + 12, &z, 4);
        std::memcpy(e + 16, &speed, 2);
        std::memcpy(e + 20, &heading, 2);
    }
    return d;
}

void PacketPath(benchmark::State& state) {
    const int rounds = static_cast<int>(state.range(0));
    const int burst = rounds * Cars / 8;
    test::LoopbackPeer server;
    BenchClock clock;
    test::FakeTimer timer1(50, false), timer2(5000, false);
    UdpSocket socket;
    test::RecordingShell shell;
    RaceState race;
    ServerList servers;
    Connection link(race, servers, ConnectionPorts{clock, timer1, timer2, socket, shell});
    race.InitSampleClock(clock);
    link.ConnectCommand("127.0.0.1", server.Port(), "");
    link.OnPacketTick();  // the init packet: the server learns the address
    Absorb(server);
    // Named players, as after the new-player packets: car info then asks
    // for nothing.
    for (const auto& d : {CarInfo(0, 0), CarInfo(8, 0), CarInfo(16, 0), CarInfo(24, 0)}) server.Send(d);
    link.OnPacketTick();
    for (int i = 0; i < Cars; ++i) {
        char name[24] = {}, car[16] = {};
        std::snprintf(name, sizeof name, "Driver %02d", i);
        std::snprintf(car, sizeof car, "XR GT");
        race.SetPlayer(i, name, car);
    }
    Absorb(server);
    if (link.LinkState < lsLive || race.PlayerCount != Cars) {
        state.SkipWithError("the connection did not go live");
        return;
    }

    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int r = 0; r < rounds; ++r)
        for (int first = 0; first < Cars; first += 8) datagrams.push_back(CarInfo(first, r + 1));
    std::uint8_t buffer[Connection::ReadSize];
    Pair time;
    auto sendBurst = [&] {
        for (const auto& d : datagrams) server.Send(d);
    };
    for (auto _ : state) {
        sendBurst();
        auto t0 = Stopwatch::now();
        int received = 0;
        while (socket.Receive(buffer, sizeof buffer) > 0) ++received;
        auto t1 = Stopwatch::now();
        if (received != burst) {
            state.SkipWithError("datagrams were lost on loopback");
            break;
        }
        // Room in every queue for the burst's samples, as the sample
        // clock's steps make in a live race.
        for (int i = 0; i < Cars; ++i) race.Players[i].SampleCount = 2;
        sendBurst();
        auto t2 = Stopwatch::now();
        link.OnPacketTick();
        auto t3 = Stopwatch::now();
        if (race.Players[Cars - 1].SampleCount != 2 + rounds) {
            state.SkipWithError("the tick did not take the whole burst");
            break;
        }
        time.reference += Seconds(t0, t1);
        time.program += Seconds(t2, t3);
        state.SetIterationTime(Seconds(t2, t3));
    }
    if (Absorb(server) != 0) state.SkipWithError("the client sent requests during the burst");
    time.Report(state, burst);
    state.counters["datagrams"] = burst;
}
BENCHMARK(PacketPath)->Arg(4)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace
}  // namespace gs

BENCHMARK_MAIN();
