// The race server in-process on a loopback port, driven by a test clock, with a
// spectator exchanging real UDP datagrams with it.
#include "PeerTestSupport.h"

#include "PathFile.h"
#include "RaceServer.h"

#include <gtest/gtest.h>

using namespace peertest;
namespace rs = gs::raceserver;

namespace {

struct ServerRig {
    Oval oval;
    double now = 1000.0;
    std::unique_ptr<rs::RaceSim> sim;
    std::unique_ptr<rs::RaceServer> server;

    explicit ServerRig(rs::ServerOptions options = {}, rs::SimOptions simOptions = {}) {
        TempDir dir;
        oval.Write(dir.path / "AS1.pth");
        auto track = std::make_shared<rs::SimTrack>("AS1", gs::peers::ReadPathFile(dir.path / "AS1.pth"));
        sim = std::make_unique<rs::RaceSim>(simOptions, std::vector<std::shared_ptr<const rs::SimTrack>>{track});
        options.port = 0;
        options.adminPassword = options.adminPassword.empty() ? "letmein" : options.adminPassword;
        server = std::make_unique<rs::RaceServer>(options, *sim, [this] { return now; });
    }
    // Lets `seconds` of test time pass in steps of `tick`, collecting what `client` gets.
    std::vector<Bytes> Run(Client& client, double seconds, double tick = 0.05) {
        std::vector<Bytes> got;
        for (double t = 0; t < seconds - 1e-9; t += tick) {
            now += tick;
            server->Step(0);
            for (auto& b : client.Drain()) got.push_back(b);
        }
        return got;
    }
    std::vector<Bytes> Exchange(Client& client, const Bytes& request) {
        client.Send(request);
        server->Step(0);
        return client.Drain();
    }
};

}  // namespace

TEST(RaceServer, AnswersInitOnlyWithTheRightPassword) {
    rs::ServerOptions options;
    options.inSimVersion = 1;
    ServerRig rig(options);
    Client client(rig.server->Port());

    EXPECT_TRUE(rig.Exchange(client, Isi("wrong")).empty());
    EXPECT_TRUE(rig.Exchange(client, General("SST", 0)).empty()) << "requests before a good init are ignored";
    EXPECT_TRUE(rig.Run(client, 2.0).empty()) << "no car info for a refused spectator";
    EXPECT_EQ(rig.server->SpectatorCount(), 0u);

    const auto reply = rig.Exchange(client, Isi("letmein"));
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(Type(reply[0]), "VER");
    EXPECT_EQ(U8(reply[0], 18), 1u);
    EXPECT_EQ(rig.server->SpectatorCount(), 1u);
}

TEST(RaceServer, AnswersStateNameVersionAndPlayerRequests) {
    rs::ServerOptions options;
    options.serverName = "^1Grid^7scope ^3Demo";
    options.inSimVersion = 3;  // to test a mismatch on the spectator's side
    rs::SimOptions simOptions;
    simOptions.cars = 11;
    ServerRig rig(options, simOptions);
    Client client(rig.server->Port());
    rig.Exchange(client, Isi("letmein"));

    auto got = OfType(rig.Exchange(client, General("SST", 0)), "STA");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(U8(got[0], 12), 11u);
    EXPECT_EQ(Field(got[0], 20, 6), "AS1");

    got = OfType(rig.Exchange(client, General("ISM", 0)), "ISM");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Field(got[0], 8, 32), "^1Grid^7scope ^3Demo");

    got = OfType(rig.Exchange(client, General("VER", 0)), "VER");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(U8(got[0], 18), 3u);

    got = OfType(rig.Exchange(client, General("NPL", 10)), "NPL");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(U8(got[0], 96), 10u);
    EXPECT_EQ(Field(got[0], 28, 24), rig.sim->DriverName(10));
    EXPECT_EQ(Field(got[0], 60, 16), rig.sim->CarName(10));
    EXPECT_NE(Field(got[0], 28, 24).find('^'), std::string::npos) << "names carry colour codes";

    EXPECT_TRUE(OfType(rig.Exchange(client, General("NPL", 11)), "NPL").empty()) << "no player in slot 11";
    EXPECT_TRUE(OfType(rig.Exchange(client, General("NPL", 0xFFFFFFFF)), "NPL").empty());
}

TEST(RaceServer, SendsCarInfoAtTheRequestedIntervalInChunksOfEight) {
    rs::SimOptions simOptions;
    simOptions.cars = 19;
    ServerRig rig({}, simOptions);
    Client client(rig.server->Port());
    rig.Exchange(client, Isi("letmein"));

    // Default 500 ms: 4 rounds in 2 s (one more or less at the edges), 3 packets
    // a round for 19 cars.
    auto mci = OfType(rig.Run(client, 2.0), "MCI");
    EXPECT_GE(mci.size(), 3u * 3);
    EXPECT_LE(mci.size(), 3u * 5);

    rig.Exchange(client, General("NLI", 200));
    mci = OfType(rig.Run(client, 2.0), "MCI");
    EXPECT_GE(mci.size(), 3u * 9);  // 200 ms: 10 rounds
    EXPECT_LE(mci.size(), 3u * 11);
    for (std::size_t p = 0; p < mci.size(); ++p) {
        const Bytes& b = mci[p];
        const std::size_t first = U8(b, 9);
        ASSERT_EQ(U8(b, 8), 19u);
        ASSERT_EQ(first, 8 * (p % 3));
        const std::size_t entries = std::min<std::size_t>(8, 19 - first);
        ASSERT_EQ(b.size(), 12 + 24 * entries);
        for (std::size_t k = 0; k < entries; ++k) {
            const std::size_t at = 12 + 24 * k;
            const double x = I32(b, at + 4) / 65536.0, y = I32(b, at + 8) / 65536.0;
            EXPECT_LE(rig.oval.OffCentre(x, y), rig.oval.half + 0.5);
            EXPECT_LT(U16(b, at), rig.oval.Points().size());
            EXPECT_GE(U8(b, at + 2), 1u);
            EXPECT_LT(U16(b, at + 16) * 0.011, 300.0);
        }
    }

    rig.Exchange(client, General("NLI", 0));
    EXPECT_TRUE(OfType(rig.Run(client, 2.0), "MCI").empty()) << "NLI 0 stops car info";
}

TEST(RaceServer, BroadcastsSessionEventsToEveryLiveSpectator) {
    rs::ServerOptions options;
    options.timeScale = 40;  // 40 simulated seconds per test second
    rs::SimOptions simOptions;
    simOptions.cars = 6;
    simOptions.laps = 2;
    simOptions.kinds = rs::SessionKinds::Race;
    ServerRig rig(options, simOptions);
    Client a(rig.server->Port()), b(rig.server->Port()), outsider(rig.server->Port());
    rig.Exchange(a, Isi("letmein"));
    rig.Exchange(b, Isi("letmein"));
    outsider.Send(Isi("nope"));

    std::vector<Bytes> gotA, gotB;
    for (int i = 0; i < 400; ++i) {  // 20 test seconds = 800 simulated seconds
        rig.now += 0.05;
        rig.server->Step(0);
        for (auto& p : a.Drain()) gotA.push_back(p);
        for (auto& p : b.Drain()) gotB.push_back(p);
        if (i % 100 == 0) {  // stay alive
            a.Send(General("ACK", 0));
            b.Send(General("ACK", 0));
        }
    }
    EXPECT_TRUE(outsider.Drain().empty());
    auto events = [](const std::vector<Bytes>& all) {
        std::vector<Bytes> e;
        for (const auto& p : all)
            if (Type(p) != "MCI" && Type(p) != "VER") e.push_back(p);
        return e;
    };
    const auto eventsA = events(gotA);
    EXPECT_EQ(eventsA, events(gotB)) << "both spectators see the same events in the same order";
    EXPECT_GE(OfType(eventsA, "RST").size(), 2u);
    EXPECT_GE(OfType(eventsA, "LAP").size(), 2u * 6);
    EXPECT_GE(OfType(eventsA, "RES").size(), 6u);
    EXPECT_GE(OfType(eventsA, "REN").size(), 1u);
    for (const auto& lap : OfType(eventsA, "LAP")) EXPECT_LT(U8(lap, 88), 7u);
}

TEST(RaceServer, ForgetsSpectatorsThatSayGoodbyeOrFallSilent) {
    rs::ServerOptions options;
    options.spectatorTimeout = 90;
    ServerRig rig(options);
    Client leaving(rig.server->Port()), silent(rig.server->Port()), chatty(rig.server->Port());
    for (Client* c : {&leaving, &silent, &chatty}) rig.Exchange(*c, Isi("letmein"));
    ASSERT_EQ(rig.server->SpectatorCount(), 3u);

    rig.Exchange(leaving, General("ISC", 0));
    EXPECT_EQ(rig.server->SpectatorCount(), 2u);
    leaving.Drain();
    EXPECT_TRUE(rig.Run(leaving, 1.0).empty()) << "nothing more after ISC";

    for (int i = 0; i < 10; ++i) {  // 100 s: the chatty one keeps sending ACK
        rig.Run(silent, 10.0, 0.5);
        chatty.Send(General("ACK", 0));
    }
    EXPECT_EQ(rig.server->SpectatorCount(), 1u);
    silent.Drain();
    EXPECT_TRUE(rig.Run(silent, 2.0).empty());
    EXPECT_FALSE(OfType(rig.Run(chatty, 2.0), "MCI").empty());
}
