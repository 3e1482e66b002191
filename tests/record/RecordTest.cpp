// The recorder, the recording format, the race server's replay mode and the race
// report: recordings written byte by byte from docs/recording.md, the programs as
// built talking over loopback UDP, and the program's own connection as the
// spectator of a replay.
#include "PeerTestSupport.h"
#include "Recording.h"
#include "common/Text.h"
#include "connection/Connection.h"
#include "connection/ServerList.h"
#include "connection/UdpSocket.h"
#include "support/ChildProcess.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <poll.h>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

using namespace peertest;
using gs::test::ChildProcess;

namespace {

using Steady = std::chrono::steady_clock;

// ------------------------------------------------ files written by hand

void Put(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes FileHeader(std::uint16_t version = 1, std::int64_t startUs = 1'796'817'600'000'000) {
    Bytes b{'G', 'S', 'R', 'E', 'C', 0x0D, 0x0A, 0x1A};
    Put(b, version, 2);
    Put(b, 20, 2);
    Put(b, static_cast<std::uint64_t>(startUs), 8);
    return b;
}

void AddRecord(Bytes& file, double seconds, std::uint8_t kind, const Bytes& payload) {
    Bytes h;
    Put(h, static_cast<std::uint64_t>(std::llround(seconds * 1e6)), 8);
    Put(h, payload.size(), 2);
    h.push_back(kind);
    h.push_back(0);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, h.data(), 12);
    crc = crc32(crc, payload.data(), static_cast<uInt>(payload.size()));
    Put(h, crc, 4);
    file.insert(file.end(), h.begin(), h.end());
    file.insert(file.end(), payload.begin(), payload.end());
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Server packets laid out by hand at the offsets the spectator reads.
Bytes Packet(const char* type, std::size_t size) {
    Bytes b(size, 0);
    std::memcpy(b.data(), type, 3);
    return b;
}
void Text(Bytes& b, std::size_t at, const std::string& text) { std::memcpy(b.data() + at, text.data(), text.size()); }
Bytes Ism(const std::string& name) {
    Bytes b = Packet("ISM", 40);
    Text(b, 8, name);
    return b;
}
Bytes Sta(int players, int mode, const std::string& track) {
    Bytes b = Packet("STA", 28);
    b[12] = static_cast<std::uint8_t>(players);
    b[15] = static_cast<std::uint8_t>(mode);
    Text(b, 20, track);
    return b;
}
Bytes Npl(int slot, const std::string& name, const std::string& car) {
    Bytes b = Packet("NPL", 100);
    Text(b, 28, name);
    Text(b, 60, car);
    b[96] = static_cast<std::uint8_t>(slot);
    return b;
}
Bytes Mso(const std::string& text) {
    Bytes b = Packet("MSO", 132);
    Text(b, 4, text);
    return b;
}
Bytes Cpr(const std::string& from, const std::string& to) {
    Bytes b = Packet("CPR", 76);
    Text(b, 28, from);
    Text(b, 52, to);
    return b;
}

// ------------------------------------------------ spectators

struct Arrival {
    double at;  // seconds since the collection began
    Bytes bytes;
};

// Everything the clients receive within `ms`, each datagram stamped with its
// arrival time relative to `zero`; all clients are watched at once.
void Pump(const std::vector<std::pair<Client*, std::vector<Arrival>*>>& clients, int ms, Steady::time_point zero) {
    const auto end = Steady::now() + std::chrono::milliseconds(ms);
    do {
        std::vector<pollfd> fds;
        for (const auto& c : clients) fds.push_back(pollfd{c.first->port.Fd(), POLLIN, 0});
        ::poll(fds.data(), fds.size(), 2);
        const double at = std::chrono::duration<double>(Steady::now() - zero).count();
        for (const auto& [client, got] : clients)
            for (auto& b : client->Drain()) got->push_back({at, b});
    } while (Steady::now() < end);
}

std::vector<Arrival> CollectTimed(Client& client, int ms, Steady::time_point zero) {
    std::vector<Arrival> got;
    Pump({{&client, &got}}, ms, zero);
    return got;
}

std::vector<Arrival> Only(const std::vector<Arrival>& all, const std::string& type) {
    std::vector<Arrival> out;
    for (const auto& a : all)
        if (Type(a.bytes) == type) out.push_back(a);
    return out;
}

// The program's own connection as a spectator over loopback, its timers ticked
// by hand every 50 ms.
struct ProgramSpectator {
    gs::test::FakeClock clock;
    gs::test::FakeTimer timer1{50}, timer2{5000};
    gs::UdpSocket socket;
    gs::test::RecordingShell shell;
    gs::RaceState race;
    gs::ServerList servers;
    gs::Connection link{race, servers, gs::ConnectionPorts{clock, timer1, timer2, socket, shell}};

    ProgramSpectator() { race.InitSampleClock(clock); }
    // Ticks until `done` holds or `ms` pass.
    template <class Done>
    bool RunUntil(Done done, int ms) {
        for (int t = 0; t < ms; t += 50) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            clock.AdvanceMs(50);
            link.OnPacketTick();
            if (done()) return true;
        }
        return false;
    }
};

std::string RunProgram(const std::vector<std::string>& argv, int* status) {
    ChildProcess p(argv);
    *status = p.Wait(20000);
    return p.Output();
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(RecordingFile, HandWrittenRecordsCutsDamageAndRefusals) {
    Bytes file = FileHeader();
    AddRecord(file, 0.0, 1, Ism("^1Hand"));
    AddRecord(file, 1.5, 2, Bytes{'l', 'o', 's', 't'});
    AddRecord(file, 2.25, 1, Bytes{'R', 'E', 'N', 0});
    const std::size_t ends[] = {20, 20 + 16 + 40, 20 + 16 + 40 + 16 + 4, file.size()};

    const auto whole = gs::peers::ParseRecording(file.data(), file.size());
    EXPECT_EQ(whole.end, gs::peers::Recording::End::Complete);
    EXPECT_EQ(whole.startUnixUs, 1'796'817'600'000'000);
    ASSERT_EQ(whole.records.size(), 3u);
    EXPECT_EQ(whole.records[0].timeUs, 0u);
    EXPECT_EQ(whole.records[0].bytes, Ism("^1Hand"));
    EXPECT_EQ(whole.records[1].kind, gs::peers::RecordKind::Gap);
    EXPECT_EQ(whole.records[1].timeUs, 1'500'000u);
    EXPECT_EQ(whole.records[2].timeUs, 2'250'000u);
    EXPECT_DOUBLE_EQ(whole.LengthSeconds(), 2.25);

    // Cut anywhere: every complete record survives, the rest is reported.
    for (std::size_t cut = 20; cut <= file.size(); ++cut) {
        const auto r = gs::peers::ParseRecording(file.data(), cut);
        const std::size_t complete =
            static_cast<std::size_t>(std::upper_bound(std::begin(ends), std::end(ends), cut) - std::begin(ends)) - 1;
        ASSERT_EQ(r.records.size(), complete) << "cut at " << cut;
        const bool onBoundary = std::find(std::begin(ends), std::end(ends), cut) != std::end(ends);
        EXPECT_EQ(r.end, onBoundary ? gs::peers::Recording::End::Complete : gs::peers::Recording::End::Truncated)
            << "cut at " << cut;
    }

    // Damage: a changed payload byte, an unknown kind, time running backwards.
    auto damaged = [&](std::function<void(Bytes&)> harm) {
        Bytes b = file;
        harm(b);
        return gs::peers::ParseRecording(b.data(), b.size());
    };
    auto flipped = damaged([&](Bytes& b) { b[ends[1] + 16 + 2] ^= 0x20; });
    EXPECT_EQ(flipped.end, gs::peers::Recording::End::Damaged);
    EXPECT_EQ(flipped.records.size(), 1u);
    EXPECT_NE(flipped.note.find("checksum"), std::string::npos) << flipped.note;
    EXPECT_NE(flipped.note.find("byte " + std::to_string(ends[1])), std::string::npos) << flipped.note;
    auto kind = damaged([&](Bytes& b) { b[ends[2] + 10] = 9; });
    EXPECT_EQ(kind.end, gs::peers::Recording::End::Damaged);
    EXPECT_EQ(kind.records.size(), 2u);
    Bytes backwards = FileHeader();
    AddRecord(backwards, 3.0, 1, Mso("a"));
    AddRecord(backwards, 2.0, 1, Mso("b"));
    const auto back = gs::peers::ParseRecording(backwards.data(), backwards.size());
    EXPECT_EQ(back.end, gs::peers::Recording::End::Damaged);
    EXPECT_EQ(back.records.size(), 1u);
    // A length that claims more than the file holds is a cut-off record, not a read.
    Bytes huge = FileHeader();
    AddRecord(huge, 0.1, 1, Bytes(8, 'x'));
    huge[20 + 8] = 0xFF;
    huge[20 + 9] = 0xFF;
    EXPECT_EQ(gs::peers::ParseRecording(huge.data(), huge.size()).end, gs::peers::Recording::End::Truncated);

    // Not a recording, a newer version, a cut header: refused with the reason.
    const std::string text = "RACE LOG 2026\n";
    auto refusal = [](const Bytes& b) {
        try {
            gs::peers::ParseRecording(b.data(), b.size());
        } catch (const gs::peers::RecordingRefused& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(refusal(Bytes(text.begin(), text.end())).find("not a Gridscope recording"), std::string::npos);
    EXPECT_NE(refusal(FileHeader(2)).find("version 2, newer"), std::string::npos);
    EXPECT_NE(refusal(Bytes(file.begin(), file.begin() + 12)).find("not a Gridscope recording"), std::string::npos);
    EXPECT_NE(refusal(FileHeader(0)).find("not a Gridscope recording"), std::string::npos);
}

TEST(RecordingFile, ProgramsRefuseForeignFilesAndReadUpToTheDamage) {
    TempDir dir;
    WriteFile(dir.path / "notes.gsrec", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    Bytes newer = FileHeader(7);
    AddRecord(newer, 0.5, 1, Mso("x"));
    WriteFile(dir.path / "newer.gsrec", newer);
    Bytes cut = FileHeader();
    AddRecord(cut, 0.0, 1, Ism("^2Cut ^7Server"));
    AddRecord(cut, 0.5, 1, Sta(0, 1, "BL2"));
    cut.resize(cut.size() - 5);
    WriteFile(dir.path / "cut.gsrec", cut);

    int status = 0;
    std::string out = RunProgram({GS_RECORD, "--info", (dir.path / "notes.gsrec").string()}, &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("not a Gridscope recording"), std::string::npos) << out;
    out = RunProgram(
        {GS_RECORD, "--report", (dir.path / "newer.gsrec").string(), "--html", (dir.path / "r.html").string()},
        &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("version 7, newer"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir.path / "r.html"));
    out = RunProgram({GS_RACESERVER, "--replay", (dir.path / "notes.gsrec").string(), "--port", "0"}, &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("not a Gridscope recording"), std::string::npos) << out;

    out = RunProgram({GS_RECORD, "--server", "no-such-host.invalid:29999", "--out", (dir.path / "x.gsrec").string()},
                     &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("no-such-host.invalid"), std::string::npos) << out;
    out = RunProgram({GS_RECORD, "--info", (dir.path / "cut.gsrec").string()}, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Server: Cut Server"), std::string::npos) << out;
    EXPECT_NE(out.find("record cut off"), std::string::npos) << out;
    EXPECT_NE(out.find("Datagrams: 1"), std::string::npos) << out;
}

TEST(Replay, SpectatorsAtTheirOwnPositionsWithSpeedFromAndLoop) {
    TempDir dir;
    Bytes file = FileHeader();
    AddRecord(file, 0.00, 1, Ism("^1Hand ^7Made"));
    AddRecord(file, 0.00, 1, Sta(2, 1, "BL1"));
    AddRecord(file, 0.05, 1, Npl(0, "^3Ann", "XRT"));
    AddRecord(file, 0.05, 1, Npl(1, "Bob", "FZ5"));
    for (int i = 1; i <= 10; ++i) {
        AddRecord(file, 0.2 * i, 1, Mso("m" + std::to_string(i)));
        if (i == 9) AddRecord(file, 1.8, 1, Cpr("Bob", "^5Rob"));
    }
    WriteFile(dir.path / "hand.gsrec", file);

    // Half speed is too slow for a test; twice the speed: 0.2 s apart become 0.1 s.
    ChildProcess server({GS_RACESERVER, "--replay", (dir.path / "hand.gsrec").string(), "--port", "0", "--speed", "2",
                         "--admin", "pw"});
    const int port = server.ListeningPort();
    ASSERT_NE(port, 0) << server.Output();

    Client a(static_cast<std::uint16_t>(port)), b(static_cast<std::uint16_t>(port));
    const auto zero = Steady::now();
    std::vector<Arrival> gotA, gotB;
    a.Send(Isi("pw"));
    Pump({{&a, &gotA}, {&b, &gotB}}, 500, zero);
    b.Send(Isi("pw"));
    Pump({{&a, &gotA}, {&b, &gotB}}, 1100, zero);
    // Both hear the whole recording from its start, each on its own clock.
    const auto msoA = Only(gotA, "MSO"), msoB = Only(gotB, "MSO");
    ASSERT_EQ(msoA.size(), 10u);
    ASSERT_EQ(msoB.size(), 10u);
    double worst = 0;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Field(msoA[i].bytes, 4, 128), "m" + std::to_string(i + 1));
        EXPECT_EQ(Field(msoB[i].bytes, 4, 128), "m" + std::to_string(i + 1));
        const double wanted = 0.1 * i;
        worst =
            std::max({worst, std::abs(msoA[i].at - msoA[0].at - wanted), std::abs(msoB[i].at - msoB[0].at - wanted)});
    }
    EXPECT_LT(worst, 0.04) << "replayed times stray from the recorded ones scaled by 2";
    EXPECT_GT(msoB[0].at - msoA[0].at, 0.4) << "the second spectator starts at its own join";
    std::cout << "[ timing ] --speed 2, 20 sends: worst deviation " << worst * 1000 << " ms\n";
    EXPECT_EQ(Type(gotA.front().bytes), "VER");

    // Requests are answered from each spectator's own moment: A is past the
    // rename, B (joined later) is not yet.
    Client c(static_cast<std::uint16_t>(port));
    c.Send(Isi("pw"));
    CollectTimed(c, 150, zero);  // c is at about 0.3 s recorded, well before the rename
    c.Send(General("NPL", 1));
    c.Send(General("SST", 0));
    c.Send(General("ISM", 0));
    a.Send(General("NPL", 1));
    a.Send(General("NPL", 2));  // no such slot: no answer
    const auto answersC = CollectTimed(c, 100, zero), answersA = CollectTimed(a, 100, zero);
    ASSERT_EQ(Only(answersC, "NPL").size(), 1u);
    EXPECT_EQ(Field(Only(answersC, "NPL")[0].bytes, 28, 24), "Bob");
    ASSERT_EQ(Only(answersC, "STA").size(), 1u);
    EXPECT_EQ(Field(Only(answersC, "STA")[0].bytes, 20, 6), "BL1");
    EXPECT_EQ(U8(Only(answersC, "STA")[0].bytes, 12), 2u);
    ASSERT_EQ(Only(answersC, "ISM").size(), 1u);
    EXPECT_EQ(Field(Only(answersC, "ISM")[0].bytes, 8, 32), "^1Hand ^7Made");
    ASSERT_EQ(Only(answersA, "NPL").size(), 1u);
    EXPECT_EQ(Field(Only(answersA, "NPL")[0].bytes, 28, 24), "^5Rob");
    EXPECT_EQ(U8(Only(answersA, "NPL")[0].bytes, 96), 1u);
    EXPECT_EQ(server.Stop(), 0);

    // --from skips ahead (the state before it still answers), --loop starts again.
    ChildProcess looping({GS_RACESERVER, "--replay", (dir.path / "hand.gsrec").string(), "--port", "0", "--speed", "4",
                          "--from", "1.1", "--loop"});
    const int loopPort = looping.ListeningPort();
    ASSERT_NE(loopPort, 0) << looping.Output();
    Client d(static_cast<std::uint16_t>(loopPort));
    d.Send(Isi(""));
    d.Send(General("NPL", 1));
    const auto gotD = CollectTimed(d, 700, Steady::now());
    const auto msoD = Only(gotD, "MSO");
    ASSERT_GE(msoD.size(), 8u);
    const std::vector<std::string> expected = {"m6", "m7", "m8", "m9", "m10", "m6", "m7", "m8"};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Field(msoD[i].bytes, 4, 128), expected[i]) << i;
    ASSERT_FALSE(Only(gotD, "NPL").empty());
    EXPECT_EQ(Field(Only(gotD, "NPL")[0].bytes, 28, 24), "Bob");
    EXPECT_EQ(Field(Only(gotD, "NPL")[0].bytes, 60, 16), "FZ5");
    EXPECT_EQ(looping.Stop(), 0);

    // The silence around a gap the recorder noted is shortened to a second.
    Bytes gapped = FileHeader();
    AddRecord(gapped, 0.0, 1, Mso("before"));
    AddRecord(gapped, 20.0, 2, Bytes{'g', 'o', 'n', 'e'});
    AddRecord(gapped, 25.0, 1, Mso("after"));
    WriteFile(dir.path / "gapped.gsrec", gapped);
    ChildProcess gapServer({GS_RACESERVER, "--replay", (dir.path / "gapped.gsrec").string(), "--port", "0"});
    const int gapPort = gapServer.ListeningPort();
    ASSERT_NE(gapPort, 0) << gapServer.Output();
    Client e(static_cast<std::uint16_t>(gapPort));
    e.Send(Isi(""));
    const auto msoE = Only(CollectTimed(e, 1400, Steady::now()), "MSO");
    ASSERT_EQ(msoE.size(), 2u);
    EXPECT_NEAR(msoE[1].at - msoE[0].at, 1.0, 0.05);
    EXPECT_EQ(gapServer.Stop(), 0);
}

namespace {

// A race server on an oval in `dir`, started with `extra` options.
std::vector<std::string> RaceServerArgs(const TempDir& dir, std::vector<std::string> extra) {
    std::vector<std::string> args = {GS_RACESERVER, "--files", dir.path.string(), "--sessions", "race", "--seed", "3"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// The values of `first` and `second` in every element of `html` that starts with
// `<tag first="..." second="...`, in order.
std::vector<std::pair<std::string, std::string>> Attributes(const std::string& html, const std::string& tag,
                                                            const std::string& first, const std::string& second) {
    std::vector<std::pair<std::string, std::string>> found;
    const std::string open = "<" + tag + " " + first + "=\"";
    for (auto at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
        const auto a = at + open.size(), aEnd = html.find('"', a);
        const std::string next = "\" " + second + "=\"";
        if (aEnd == std::string::npos || html.compare(aEnd, next.size(), next) != 0) continue;
        const auto b = aEnd + next.size(), bEnd = html.find('"', b);
        if (bEnd != std::string::npos) found.emplace_back(html.substr(a, aEnd - a), html.substr(b, bEnd - b));
    }
    return found;
}

std::vector<std::string> InfoLines(const std::string& out, const std::string& heading) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind(heading, 0) == 0) {
            inside = true;
            continue;
        }
        if (inside && line.rfind("  ", 0) != 0) break;
        if (inside) lines.push_back(line.substr(2));
    }
    return lines;
}

}  // namespace

TEST(RecordAndReplay, TheProgramReachesTheLiveStateOfARecordedServer) {
    TempDir dir;
    Oval().Write(dir.path / "AS1.pth");
    ChildProcess live(RaceServerArgs(
        dir, {"--port", "0", "--cars", "6", "--admin", "secret", "--name", "^3Rec ^7Server", "--track", "AS1"}));
    const int livePort = live.ListeningPort();
    ASSERT_NE(livePort, 0) << live.Output();
    const auto original = dir.path / "live.gsrec";
    int status = 0;
    std::string out = RunProgram({GS_RECORD, "--server", "127.0.0.1:" + std::to_string(livePort), "--admin", "secret",
                                  "--out", original.string(), "--seconds", "4"},
                                 &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(live.Stop(), 0);

    out = RunProgram({GS_RECORD, "--info", original.string(), "--files", dir.path.string()}, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Server: Rec Server\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Tracks: AS1\n"), std::string::npos) << out;
    const auto drivers = InfoLines(out, "Drivers:");
    ASSERT_EQ(drivers.size(), 6u) << out;

    // The unchanged connection of the program, as a spectator of the replay.
    ChildProcess replay({GS_RACESERVER, "--replay", original.string(), "--port", "0", "--admin", "again"});
    const int replayPort = replay.ListeningPort();
    ASSERT_NE(replayPort, 0) << replay.Output();
    ProgramSpectator program;
    program.link.ConnectCommand("127.0.0.1", replayPort, "again");
    const bool live_ = program.RunUntil(
        [&] {
            if (program.link.LinkState < gs::lsLive || program.race.PlayerCount != 6) return false;
            for (int i = 0; i < 6; ++i)
                if (program.race.Players[i].Name[0] == '\0') return false;
            return true;
        },
        4000);
    ASSERT_TRUE(live_) << "link state " << program.link.LinkState << ", players " << program.race.PlayerCount;
    EXPECT_EQ(gs::StripColourCodes(program.race.ServerName), "Rec Server");
    EXPECT_EQ(std::string(program.race.TrackCode), "AS1");
    ASSERT_FALSE(program.shell.tracks.empty());
    EXPECT_EQ(program.shell.tracks.back(), "AS1");
    EXPECT_EQ(program.shell.Caption(), "Gridscope  -  connected to Rec Server");
    for (int i = 0; i < 6; ++i)
        EXPECT_NE(std::find(drivers.begin(), drivers.end(), program.race.Players[i].Name), drivers.end())
            << program.race.Players[i].Name;
    EXPECT_GT(program.race.Players[0].SampleCount, 0);

    // The replay, recorded in turn, repeats the original's car info at its times.
    const auto again = dir.path / "again.gsrec";
    out = RunProgram({GS_RECORD, "--server", "127.0.0.1:" + std::to_string(replayPort), "--admin", "again", "--out",
                      again.string(), "--seconds", "4.6"},
                     &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(replay.Stop(), 0);
    const auto a = gs::peers::ReadRecordingFile(original), b = gs::peers::ReadRecordingFile(again);
    std::vector<const gs::peers::Record*> mciA, mciB;
    for (const auto& r : a.records)
        if (Type(r.bytes) == "MCI") mciA.push_back(&r);
    for (const auto& r : b.records)
        if (Type(r.bytes) == "MCI") mciB.push_back(&r);
    ASSERT_GE(mciA.size(), 5u);
    ASSERT_EQ(mciB.size(), mciA.size());
    double sum = 0, worst = 0;
    for (std::size_t i = 0; i < mciA.size(); ++i) {
        ASSERT_EQ(mciA[i]->bytes, mciB[i]->bytes) << i;
        const double deviation = (mciB[i]->Seconds() - mciB[0]->Seconds()) - (mciA[i]->Seconds() - mciA[0]->Seconds());
        sum += std::abs(deviation);
        worst = std::max(worst, std::abs(deviation));
    }
    std::cout << "[ timing ] " << mciA.size() << " car-info datagrams replayed: mean deviation "
              << sum / mciA.size() * 1000 << " ms, worst " << worst * 1000 << " ms\n";
    EXPECT_LT(worst, 0.05);
}

TEST(Recorder, SurvivesARestartOfTheServerAndNotesTheGap) {
    TempDir dir;
    Oval().Write(dir.path / "AS1.pth");
    const int port = gs::test::FreeUdpPort();
    const auto file = dir.path / "restart.gsrec";
    auto server = std::make_unique<ChildProcess>(
        RaceServerArgs(dir, {"--port", std::to_string(port), "--cars", "4", "--name", "First"}));
    ASSERT_EQ(server->ListeningPort(), port) << server->Output();
    ChildProcess recorder({GS_RECORD, "--server", "127.0.0.1:" + std::to_string(port), "--out", file.string(),
                           "--timeout", "1", "--verbose"});
    ASSERT_TRUE(recorder.WaitFor("Connected to Server : First", 3000)) << recorder.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(server->Stop(), 0);
    server.reset();
    ASSERT_TRUE(recorder.WaitFor("gap: connection lost", 4000)) << recorder.Output();
    server = std::make_unique<ChildProcess>(
        RaceServerArgs(dir, {"--port", std::to_string(port), "--cars", "5", "--name", "Second"}));
    ASSERT_EQ(server->ListeningPort(), port) << server->Output();
    ASSERT_TRUE(recorder.WaitFor("Connected to Server : Second", 6000)) << recorder.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(recorder.Stop(), 0) << recorder.Output();  // SIGTERM ends it with a complete file
    EXPECT_EQ(server->Stop(), 0);

    const auto rec = gs::peers::ReadRecordingFile(file);
    EXPECT_EQ(rec.end, gs::peers::Recording::End::Complete) << rec.note;
    std::size_t gapAt = rec.records.size();
    for (std::size_t i = 0; i < rec.records.size(); ++i)
        if (rec.records[i].kind == gs::peers::RecordKind::Gap && gapAt == rec.records.size()) gapAt = i;
    ASSERT_LT(gapAt, rec.records.size());
    auto names = [&](std::size_t from, std::size_t to) {
        std::set<std::string> seen;
        for (std::size_t i = from; i < to; ++i)
            if (Type(rec.records[i].bytes) == "ISM") seen.insert(Field(rec.records[i].bytes, 8, 32));
        return seen;
    };
    EXPECT_EQ(names(0, gapAt), std::set<std::string>{"First"});
    EXPECT_EQ(names(gapAt + 1, rec.records.size()), std::set<std::string>{"Second"});
    std::size_t mciAfter = 0;
    for (std::size_t i = gapAt + 1; i < rec.records.size(); ++i) mciAfter += Type(rec.records[i].bytes) == "MCI";
    EXPECT_GE(mciAfter, 2u);
}

TEST(Report, ResultTableAndLapChartMatchWhatTheRaceServerDecided) {
    TempDir dir;
    Oval oval;
    oval.straight = 120;
    oval.radius = 30;
    oval.Write(dir.path / "AS1.pth");
    // Qualifying, then the race: the race's standings must not be held back by
    // what the qualifying left in the race model.
    ChildProcess server({GS_RACESERVER,
                         "--files",
                         dir.path.string(),
                         "--sessions",
                         "both",
                         "--qualify-minutes",
                         "1",
                         "--seed",
                         "3",
                         "--port",
                         "0",
                         "--cars",
                         "8",
                         "--laps",
                         "2",
                         "--time-scale",
                         "10",
                         "--name",
                         "^1L&ague <Final>",
                         "--verbose"});
    const int port = server.ListeningPort();
    ASSERT_NE(port, 0) << server.Output();
    const auto file = dir.path / "race.gsrec";
    ChildProcess recorder({GS_RECORD, "--server", "127.0.0.1:" + std::to_string(port), "--out", file.string()});
    auto ends = [&] {
        const std::string& log = server.Output();
        std::size_t n = 0;
        for (auto at = log.find("event REN"); at != std::string::npos; at = log.find("event REN", at + 1)) ++n;
        return n;
    };
    for (int waited = 0; ends() < 2 && waited < 40000; waited += 100) server.WaitFor("\x01", 100);
    ASSERT_EQ(ends(), 2u) << server.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder.Stop(), 0) << recorder.Output();
    EXPECT_EQ(server.Stop(), 0);

    // What the server decided, read straight from its packets: who finished
    // with how many laps in what total (RES: driver at 28, total at 96..98) and
    // the order in which each lap was completed (LAP: driver at 28, laps done
    // at 80). The classification: more laps first, then the shorter total.
    const auto rec = gs::peers::ReadRecordingFile(file);
    std::map<std::string, std::uint32_t> totals;
    std::map<std::string, std::vector<int>> lapPositions;
    std::map<int, int> crossedLap;
    std::map<std::string, std::uint32_t> bestInQualifying;
    bool raceOn = false, qualifyingOn = false;
    for (const auto& r : rec.records) {
        if (Type(r.bytes) == "RST") {
            raceOn = U8(r.bytes, 4) != 0;
            qualifyingOn = !raceOn;
        }
        if (qualifyingOn && Type(r.bytes) == "LAP") {
            const std::uint32_t lap = U8(r.bytes, 84) * 6000 + U8(r.bytes, 85) * 100 + U8(r.bytes, 86);
            auto& best = bestInQualifying[StripCodes(Field(r.bytes, 28, 24))];
            best = best == 0 ? lap : std::min(best, lap);
        }
        if (!raceOn) continue;
        if (Type(r.bytes) == "RES")
            totals[StripCodes(Field(r.bytes, 28, 24))] =
                U8(r.bytes, 96) * 6000 + U8(r.bytes, 97) * 100 + U8(r.bytes, 98);
        if (Type(r.bytes) == "LAP") {
            const int lap = static_cast<int>(U16(r.bytes, 80));
            lapPositions[StripCodes(Field(r.bytes, 28, 24))].push_back(++crossedLap[lap]);
        }
        if (Type(r.bytes) == "REN") break;
    }
    ASSERT_EQ(totals.size(), 8u);

    const auto html = dir.path / "report.html";
    int status = 0;
    const std::string out = RunProgram(
        {GS_RECORD, "--report", file.string(), "--html", html.string(), "--files", dir.path.string()}, &status);
    ASSERT_EQ(status, 0) << out;
    const Bytes page = ReadFile(html);
    const std::string text(page.begin(), page.end());
    EXPECT_NE(text.find("<h1>L&amp;ague &lt;Final&gt;</h1>"), std::string::npos);
    EXPECT_EQ(text.find("<script"), std::string::npos);
    EXPECT_EQ(text.find("src="), std::string::npos);
    EXPECT_EQ(text.find("href="), std::string::npos);
    const auto race = text.find("<section class=\"session\" data-kind=\"race\" data-track=\"AS1\">");
    ASSERT_NE(race, std::string::npos);
    const std::string section = text.substr(race, text.find("</section>", race) - race);

    std::vector<std::string> table;
    for (const auto& [driver, position] : Attributes(section, "tr", "data-driver", "data-position"))
        table.push_back(driver);
    std::vector<std::tuple<int, std::uint32_t, std::string>> classified;
    for (const auto& [name, total] : totals)
        classified.emplace_back(-static_cast<int>(lapPositions[name].size()), total, name);
    std::sort(classified.begin(), classified.end());
    std::vector<std::string> expected;
    for (const auto& entry : classified) expected.push_back(std::get<2>(entry));
    EXPECT_EQ(table, expected);

    std::map<std::string, std::vector<int>> chart;
    for (const auto& [driver, list] : Attributes(section, "polyline", "data-driver", "data-positions")) {
        std::istringstream positions(list);
        for (int p; positions >> p;) chart[driver].push_back(p);
    }
    EXPECT_EQ(chart, lapPositions);
    EXPECT_NE(section.find("class=\"chart racetrace\""), std::string::npos);
    EXPECT_NE(section.find("<td class=\"best\""), std::string::npos);

    // Qualifying: ranked by best lap, the drivers without one last.
    const auto qualifying = text.find("<section class=\"session\" data-kind=\"qualifying\" data-track=\"AS1\">");
    ASSERT_NE(qualifying, std::string::npos);
    ASSERT_LT(qualifying, race);
    const std::string qualifyingSection = text.substr(qualifying, race - qualifying);
    std::vector<std::string> grid;
    for (const auto& [driver, position] : Attributes(qualifyingSection, "tr", "data-driver", "data-position"))
        grid.push_back(driver);
    std::vector<std::pair<std::uint32_t, std::string>> byBest;
    for (const auto& [name, best] : bestInQualifying) byBest.push_back({best, name});
    std::sort(byBest.begin(), byBest.end());
    ASSERT_GE(grid.size(), byBest.size());
    for (std::size_t i = 0; i < byBest.size(); ++i) EXPECT_EQ(grid[i], byBest[i].second) << i;
    EXPECT_EQ(qualifyingSection.find("lapchart"), std::string::npos);
}
