// Long runs and floods, with the program's forms in this process under Xvfb
// and the project's race server as a real process.
//
//   Soak   - 32 cars, short sessions, track changes, joins and leaves; the
//            resident memory, the log's length and the frames drawn are
//            sampled every second. GRIDSCOPE_SOAK_SECONDS sets the length
//            (scripts/soak.sh runs it for longer).
//   Storm  - a proxy between the program and the race server forwards the race
//            and floods the program with random and malformed datagrams of
//            every type; the program keeps drawing and its state stays within
//            its tables.
#include <QApplication>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "app/Forms.h"
#include "e2e/E2ESupport.h"

namespace gs {
namespace {

using test::ChildProcess;

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int SoakSeconds() {
    const char* text = std::getenv("GRIDSCOPE_SOAK_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 24;
}

// The forms of the program, counting the frames they present.
struct Program : Forms {
    long frames = 0;

    Program() {
        form.onFramePresented = [this] { ++frames; };
        form.show();
    }
    // Every table of the race state and the server list within its bounds.
    void CheckBounds() const {
        const RaceState& race = const_cast<MainWindow&>(form).Race();
        ASSERT_GE(race.PlayerCount, 0);
        ASSERT_LE(race.PlayerCount, MaxPlayers);
        ASSERT_GE(race.FollowIndex, -1);
        ASSERT_LT(race.FollowIndex, MaxPlayers);
        for (const PlayerRecord& p : race.Players) {
            ASSERT_GE(p.SampleCount, 0);
            ASSERT_LE(p.SampleCount, MaxSamples);
            ASSERT_LT(std::strlen(p.Name), sizeof p.Name);
            ASSERT_LT(std::strlen(p.Car), sizeof p.Car);
        }
        ASSERT_LE(race.Log.Size(), MessageLog::MaxEntries);
        const ServerList& servers = const_cast<MainWindow&>(form).Servers();
        ASSERT_GE(servers.received, 0);
        ASSERT_LE(servers.received, ServerList::Capacity);
        ASSERT_LE(servers.received, std::max(servers.total, 0));
    }
};

TEST(Soak, ALongRaceKeepsMemoryFlatTheLogShortAndFramesComing) {
    test::E2ERunFolder folder("soak");
    auto server = test::StartRaceServer({"--cars", "32", "--laps", "1", "--qualify-minutes", "1", "--time-scale", "20",
                                         "--track-change", "1", "--seed", "11"});
    const int port = server->ListeningPort();
    ASSERT_NE(port, 0) << server->Output();
    folder.WriteSettings(port);
    Program program;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.form));
    program.form.ConnectCommand();
    ASSERT_TRUE(QTest::qWaitFor([&] { return program.form.Link().LinkState >= lsLive; }, 10000));

    const int seconds = SoakSeconds();
    std::vector<long> rss, frames;
    std::size_t longestLog = 0;
    std::set<std::string> tracks;
    for (int s = 0; s < seconds; ++s) {
        const long before = program.frames;
        QTest::qWait(1000);
        frames.push_back(program.frames - before);
        rss.push_back(ResidentKiB());
        longestLog = std::max(longestLog, program.form.Race().Log.Size());
        tracks.insert(program.form.Race().TrackCode);
        program.CheckBounds();
        ASSERT_TRUE(server->Running()) << server->Output();
        EXPECT_GE(program.form.Link().LinkState, lsLive) << "second " << s;
        EXPECT_GT(frames.back(), 0) << "frames stopped in second " << s;
    }
    // Memory: after a warm-up third, the last third holds no more than the
    // middle third did, give or take what one track's mesh can take.
    const std::size_t third = rss.size() / 3;
    const long middle = *std::max_element(rss.begin() + third, rss.begin() + 2 * third);
    const long last = *std::max_element(rss.begin() + 2 * third, rss.end());
    EXPECT_LE(last, middle + 16 * 1024) << "resident memory grew";
    // A burst of events (a whole field finishing) may outrun the trim of one
    // line a frame for a moment, but the log never piles up.
    EXPECT_LE(longestLog, 40u);
    EXPECT_GE(tracks.size(), 2u) << "no track change happened";
    long total = 0;
    for (long f : frames) total += f;
    std::printf("soak: %d s, %zu tracks, resident %ld KiB at 1 s, %ld KiB at the end, %ld frames, longest log %zu\n",
                seconds, tracks.size(), rss.front(), rss.back(), total, longestLog);
}

// Forwards between the program and the race server, and floods the program.
class StormProxy {
public:
    explicit StormProxy(int serverPort) {
        client_ = Bound(0);
        upstream_ = Bound(0);
        sockaddr_in server = Loopback(serverPort);
        ::connect(upstream_, reinterpret_cast<sockaddr*>(&server), sizeof server);
        thread_ = std::thread([this] { Run(); });
    }
    ~StormProxy() {
        stop_ = true;
        thread_.join();
        ::close(client_);
        ::close(upstream_);
    }
    int Port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(client_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    std::atomic<bool> storming{false};
    std::atomic<long> sent{0};
    // Datagrams a second while storming; 0 sends as fast as the loop goes.
    std::atomic<int> rate{0};

private:
    static sockaddr_in Loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        return a;
    }
    static int Bound(int port) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a = Loopback(port);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        return fd;
    }

    // A random datagram of a random type: the right length or any length,
    // random contents, a few fields kept sane so that the race goes on (the
    // track code names a real track, the relay never says it is full).
    std::vector<std::uint8_t> Garbage() {
        static const char* types[] = {"MCI", "CHL", "ERR", "REO", "VER", "STA", "NPL", "PLL",
                                      "ISM", "LAP", "RES", "CPR", "MSO", "RST", "REN", "XYZ"};
        static const int lengths[] = {300, 280, 5, 68, 20, 28, 100, 52, 40, 92, 104, 76, 132, 8, 4, 16};
        const int t = static_cast<int>(random_() % 16);
        std::size_t size = static_cast<std::size_t>(lengths[t]);
        switch (random_() % 4) {
            case 0: size = random_() % 140; break;
            case 1: size = random_() % 2000; break;
            default: break;
        }
        std::vector<std::uint8_t> d(size);
        for (auto& b : d) b = static_cast<std::uint8_t>(random_());
        if (size >= 3) std::memcpy(d.data(), types[t], 3);
        if (t == 5 && size >= 26) std::memcpy(d.data() + 20, random_() % 50 ? "BL1\0\0\0" : "SO1\0\0\0", 6);
        if (t == 2 && size >= 5) d[4] &= ~2u;
        return d;
    }

    void Run() {
        sockaddr_in program{};
        bool known = false;
        std::uint8_t buffer[65536];
        while (!stop_) {
            pollfd fds[2] = {{client_, POLLIN, 0}, {upstream_, POLLIN, 0}};
            ::poll(fds, 2, storming ? (rate > 0 ? 1 : 0) : 5);
            socklen_t len = sizeof program;
            ssize_t n;
            while ((n = ::recvfrom(client_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&program), &len)) >=
                   0) {
                known = true;
                ::send(upstream_, buffer, static_cast<std::size_t>(n), 0);
            }
            while (known && (n = ::recv(upstream_, buffer, sizeof buffer, 0)) >= 0)
                ::sendto(client_, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&program),
                         sizeof program);
            if (!storming) {
                paced = false;
            } else if (known) {
                int burst = 200;
                if (rate > 0) {
                    // Keep the sent count on the line rate * time since the storm began.
                    const auto now = std::chrono::steady_clock::now();
                    if (!paced) began = now, due = sent, paced = true;
                    const double elapsed = std::chrono::duration<double>(now - began).count();
                    burst = static_cast<int>(due + static_cast<long>(elapsed * rate) - sent);
                }
                for (int i = 0; i < burst; ++i) {
                    const auto d = Garbage();
                    if (::sendto(client_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&program),
                                 sizeof program) >= 0)
                        ++sent;
                }
                if (rate == 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        }
    }

    int client_ = -1, upstream_ = -1;
    bool paced = false;  // a paced storm is on: it began at `began` with `due` sent
    long due = 0;
    std::chrono::steady_clock::time_point began;
    std::mt19937 random_{20261208};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The program's forms watching a 16-car race through a storm proxy.
class Storm : public ::testing::Test {
protected:
    void Join(const std::string& folderName, const std::string& seed) {
        folder_ = std::make_unique<test::E2ERunFolder>(folderName);
        server_ = test::StartRaceServer({"--cars", "16", "--track", "BL1", "--track-change", "0", "--seed", seed});
        const int port = server_->ListeningPort();
        ASSERT_NE(port, 0) << server_->Output();
        proxy_ = std::make_unique<StormProxy>(port);
        folder_->WriteSettings(proxy_->Port());
        program_ = std::make_unique<Program>();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&program_->form));
        program_->form.ConnectCommand();
        ASSERT_TRUE(Live(10000));
    }
    bool Live(int ms) {
        return QTest::qWaitFor([&] { return program_->form.Link().LinkState >= lsLive; }, ms);
    }
    void TearDown() override {
        if (program_) program_->form.close();
    }

    std::unique_ptr<test::E2ERunFolder> folder_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<StormProxy> proxy_;
    std::unique_ptr<Program> program_;
};

TEST_F(Storm, AFloodOfMalformedDatagramsLeavesTheProgramDrawingAndItsStateBounded) {
    ASSERT_NO_FATAL_FAILURE(Join("storm", "13"));
    StormProxy& proxy = *proxy_;
    Program& program = *program_;

    proxy.storming = true;
    for (int s = 0; s < 8; ++s) {
        const long before = program.frames;
        QTest::qWait(1000);
        EXPECT_GT(program.frames - before, 0) << "the program stopped drawing in second " << s;
        program.CheckBounds();
    }
    proxy.storming = false;
    std::printf("storm: %ld datagrams in 8 s, %ld frames drawn\n", proxy.sent.load(), program.frames);
    EXPECT_GT(proxy.sent.load(), 50000);

    // The race goes on: real car info brings the connection back to live.
    EXPECT_TRUE(Live(5000));
    program.CheckBounds();
}

// The median of a second's samples: the GL driver compiles a shader now and
// then, which maps tens of megabytes for a few milliseconds.
long SettledResidentKiB() {
    std::vector<long> samples;
    for (int i = 0; i < 11; ++i) {
        QTest::qWait(100);
        samples.push_back(ResidentKiB());
    }
    std::nth_element(samples.begin(), samples.begin() + 5, samples.end());
    return samples[5];
}

int StormSeconds() {
    const char* text = std::getenv("GRIDSCOPE_STORM_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 12;
}

// A paced storm, 2 000 malformed datagrams a second, as a long-running program
// might meet on an open port: whatever the datagrams add (log lines, names,
// server states, track changes, text pictures) must be given back or reused,
// so resident memory stays put however long the storm lasts. A first short
// storm lets the GL driver reach its high-water mark (shader variants for
// the storm's states, buffers sized for the larger track it switches to).
// The measured storm after it may add at most 48 MB: drawing the glyphs
// through display lists added 145 MB in 10 s. The aim is 20 MB; what stands
// between is the driver's own heap (docs/performance.md).
// GRIDSCOPE_STORM_SECONDS sets the measured storm's length.
TEST_F(Storm, MemoryStaysPutUnderAPacedStorm) {
    ASSERT_NO_FATAL_FAILURE(Join("storm-memory", "17"));
    StormProxy& proxy = *proxy_;
    Program& program = *program_;
    QTest::qWait(3000);  // the race drawn for a while: textures, pictures and the driver's threads warmed up
    const long cold = SettledResidentKiB();

    proxy.rate = 2000;
    auto storm = [&](int seconds) {
        const long sentBefore = proxy.sent;
        proxy.storming = true;
        for (int s = 0; s < seconds; ++s) {
            QTest::qWait(1000);
            program.CheckBounds();
        }
        proxy.storming = false;
        EXPECT_GT(proxy.sent - sentBefore, 1800L * seconds);
        // The window gives freed heap back every few seconds.
        QTest::qWait(MainWindow::HeapTrimIntervalMs);
    };
    storm(5);
    const long before = SettledResidentKiB();
    const int seconds = StormSeconds();
    storm(seconds);
    const long after = SettledResidentKiB();
    std::printf("storm memory: resident %ld KiB at start, %ld KiB after a first 5 s storm, %ld KiB after %d s more\n",
                cold, before, after, seconds);
    EXPECT_LT(after - before, 48 * 1024) << "resident memory grew under the storm";
    EXPECT_TRUE(Live(5000));
}

}  // namespace
}  // namespace gs
