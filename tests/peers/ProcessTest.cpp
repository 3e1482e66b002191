// The two programs as built: started with options, talked to over loopback UDP,
// stopped with SIGTERM; bad options and broken track files end them with a message.
#include "PeerTestSupport.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <csignal>
#include <cstdio>

using namespace peertest;

namespace {

using Process = gs::test::ChildProcess;

std::vector<Bytes> Collect(Client& client, int ms) {
    std::vector<Bytes> got;
    for (int waited = 0; waited < ms; waited += 10) {
        client.port.WaitReadable(10);
        for (auto& b : client.Drain()) got.push_back(b);
    }
    return got;
}

}  // namespace

TEST(PeerPrograms, RaceServerAndRelayServeRealSpectators) {
    TempDir dir;
    Oval().Write(dir.path / "AS1.pth");
    Process server({GS_RACESERVER, "--port", "0", "--files", dir.path.string(), "--admin", "pw", "--cars", "9",
                    "--laps", "1", "--sessions", "race", "--time-scale", "30", "--version", "1", "--seed", "4"});
    const std::uint16_t serverPort = server.ListeningPort();
    ASSERT_NE(serverPort, 0) << server.Output();

    Client direct(serverPort);
    direct.Send(Isi("pw"));
    auto got = Collect(direct, 1000);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(Type(got[0]), "VER");
    const auto mci = OfType(got, "MCI");
    ASSERT_GE(mci.size(), 4u);
    EXPECT_EQ(U8(mci[0], 8), 9u);
    EXPECT_FALSE(OfType(got, "RST").empty()) << "the first race starts 5 simulated seconds in";

    Process relay({GS_RELAY, "--port", "0", "--server", "^1Demo|9||127.0.0.1:" + std::to_string(serverPort) + "|pw",
                   "--server", "Elsewhere|3|x"});
    const std::uint16_t relayPort = relay.ListeningPort();
    ASSERT_NE(relayPort, 0) << relay.Output();
    Client viaRelay(relayPort);
    viaRelay.Send(Ccn(3));
    got = Collect(viaRelay, 300);
    const auto chl = OfType(got, "CHL");
    ASSERT_EQ(chl.size(), 1u);
    EXPECT_EQ(U16(chl[0], 4), 2u);
    EXPECT_EQ(Field(chl[0], 8, 32), "^1Demo");
    EXPECT_EQ(U8(chl[0], 272 + 1) & 1u, 1u);
    viaRelay.Send(Hos("^1Demo", ""));
    got = Collect(viaRelay, 1000);
    EXPECT_GE(OfType(got, "MCI").size(), 4u);
    viaRelay.Send(General("SST", 0));
    got = Collect(viaRelay, 300);
    ASSERT_FALSE(OfType(got, "STA").empty());
    EXPECT_EQ(Field(OfType(got, "STA")[0], 20, 6), "AS1");

    EXPECT_EQ(relay.Stop(), 0);
    EXPECT_EQ(server.Stop(), 0);
}

TEST(PeerPrograms, RefuseBadOptionsAndBrokenTracksWithAReason) {
    TempDir dir;
    {
        Process p({GS_RACESERVER, "--port", "0", "--files", dir.path.string()});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.Output().find("AS1.pth"), std::string::npos) << p.Output();
    }
    std::ofstream(dir.path / "BL1.pth", std::ios::binary) << "short";
    {
        Process p({GS_RACESERVER, "--port", "0", "--files", dir.path.string(), "--track", "BL1"});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.Output().find("header"), std::string::npos) << p.Output();
    }
    {
        Process p({GS_RACESERVER, "--track", "ZZ9"});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.Output().find("catalogue"), std::string::npos) << p.Output();
    }
    {
        Process p({GS_RELAY, "--port", "0", "--max-clients", "lots"});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.Output().find("--max-clients"), std::string::npos) << p.Output();
    }
}
