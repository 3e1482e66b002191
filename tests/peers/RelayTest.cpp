// The relay in-process on loopback: list chunks, errors, and forwarding both ways
// to an in-process race server, all over real UDP datagrams.
#include "PeerTestSupport.h"

#include "PathFile.h"
#include "RaceServer.h"
#include "Relay.h"

#include <gtest/gtest.h>

using namespace peertest;
namespace rs = gs::raceserver;
using gs::relay::RelayEntry;

namespace {

RelayEntry Entry(const std::string& name, int players, const std::string& password = "", std::uint16_t port = 0,
                 const std::string& admin = "") {
    RelayEntry e;
    e.name = name;
    e.players = players;
    e.password = password;
    if (port) e.address = gs::peers::Resolve("127.0.0.1", port);
    e.admin = admin;
    return e;
}

struct RelayRig {
    double now = 50.0;
    Oval oval;
    std::unique_ptr<rs::RaceSim> sim;
    std::unique_ptr<rs::RaceServer> server;
    std::unique_ptr<gs::relay::Relay> relay;

    explicit RelayRig(std::size_t maxClients = 16, int extraListed = 0) {
        TempDir dir;
        oval.Write(dir.path / "AS1.pth");
        rs::SimOptions simOptions;
        simOptions.cars = 10;
        sim = std::make_unique<rs::RaceSim>(
            simOptions, std::vector<std::shared_ptr<const rs::SimTrack>>{
                            std::make_shared<rs::SimTrack>("AS1", gs::peers::ReadPathFile(dir.path / "AS1.pth"))});
        rs::ServerOptions serverOptions;
        serverOptions.port = 0;
        serverOptions.adminPassword = "adm";
        server = std::make_unique<rs::RaceServer>(serverOptions, *sim, [this] { return now; });

        gs::relay::RelayOptions options;
        options.port = 0;
        options.maxClients = maxClients;
        options.servers.push_back(Entry("^1Grid^7scope ^3Demo", 10, "", server->Port(), "adm"));
        options.servers.push_back(Entry("^2Locked ^7Server", 4, "sesame", server->Port(), "adm"));
        options.servers.push_back(Entry("^5Far Away", 20));  // listed only
        for (int i = 0; i < extraListed; ++i) options.servers.push_back(Entry("Listed " + std::to_string(i), i));
        relay = std::make_unique<gs::relay::Relay>(options, [this] { return now; });
    }
    // A few rounds of both peers, collecting what the client gets.
    std::vector<Bytes> Pump(Client& client, double seconds = 0.1) {
        std::vector<Bytes> got;
        for (double t = 0; t < seconds - 1e-9; t += 0.05) {
            now += 0.05;
            relay->Step(0);
            server->Step(0);
            relay->Step(0);
            for (auto& b : client.Drain()) got.push_back(b);
        }
        return got;
    }
};

}  // namespace

TEST(Relay, ListsItsServersInChunksOfEight) {
    RelayRig rig(16, 10);  // 13 entries
    Client client(rig.relay->Port());
    client.Send(Ccn(3));
    auto chunks = OfType(rig.Pump(client), "CHL");
    ASSERT_EQ(chunks.size(), 2u);
    for (const auto& c : chunks) {
        ASSERT_EQ(c.size(), 280u);
        EXPECT_EQ(U16(c, 4), 13u);
    }
    EXPECT_EQ(Field(chunks[0], 8, 32), "^1Grid^7scope ^3Demo");
    EXPECT_EQ(U8(chunks[0], 264), 10u);
    EXPECT_EQ(U8(chunks[0], 272) & 1u, 0u);
    EXPECT_EQ(Field(chunks[0], 8 + 32, 32), "^2Locked ^7Server");
    EXPECT_EQ(U8(chunks[0], 264 + 1), 4u);
    EXPECT_EQ(U8(chunks[0], 272 + 1) & 1u, 1u) << "a password is flagged";
    EXPECT_EQ(Field(chunks[0], 8 + 64, 32), "^5Far Away");
    EXPECT_EQ(Field(chunks[1], 8 + 32 * 4, 32), "Listed 9");
    EXPECT_EQ(U8(chunks[1], 8 + 32 * 5), 0u);

    client.Send(Ccn(2));  // refresh
    EXPECT_EQ(OfType(rig.Pump(client), "CHL").size(), 2u);
}

TEST(Relay, ReportsWrongPasswordsUnreachableServersAndAFullRelay) {
    RelayRig rig(2);
    Client first(rig.relay->Port()), second(rig.relay->Port()), third(rig.relay->Port());

    first.Send(Hos("^2Locked ^7Server", "guess"));
    auto got = rig.Pump(first);
    ASSERT_EQ(OfType(got, "ERR").size(), 1u);
    EXPECT_EQ(U8(OfType(got, "ERR")[0], 4), 1u) << "wrong spectator password";
    EXPECT_TRUE(OfType(rig.Pump(first, 1.0), "MCI").empty()) << "no forwarding after a wrong password";

    first.Send(Hos("^5Far Away", ""));
    got = OfType(rig.Pump(first), "ERR");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(U8(got[0], 4), 0u) << "a listed-only server cannot be spectated";

    first.Send(Hos("Grid scope Demo", ""));  // colour codes missing: not the listed name
    got = OfType(rig.Pump(first), "ERR");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(U8(got[0], 4), 0u);

    second.Send(Ccn(3));
    EXPECT_FALSE(OfType(rig.Pump(second), "CHL").empty());
    third.Send(Ccn(3));
    got = rig.Pump(third);
    ASSERT_EQ(OfType(got, "ERR").size(), 1u);
    EXPECT_EQ(U8(OfType(got, "ERR")[0], 4), 2u) << "relay full";
    EXPECT_TRUE(OfType(got, "CHL").empty());

    // A spectator that leaves makes room.
    second.Send(General("ISC", 0));
    rig.Pump(second);
    third.Send(Ccn(3));
    EXPECT_FALSE(OfType(rig.Pump(third), "CHL").empty());
}

TEST(Relay, ForwardsTrafficBothWaysBetweenSpectatorAndServer) {
    RelayRig rig;
    Client alice(rig.relay->Port()), bob(rig.relay->Port());
    alice.Send(Ccn(3));
    rig.Pump(alice);
    alice.Send(Hos("^1Grid^7scope ^3Demo", ""));
    bob.Send(Hos("^2Locked ^7Server", "sesame"));
    auto got = rig.Pump(alice, 1.5);
    auto gotBob = rig.Pump(bob, 0.1);
    // The relay opened the server connection with the admin password: the server
    // answered the init and streams car info through the relay.
    EXPECT_EQ(OfType(got, "VER").size(), 1u);
    EXPECT_GE(OfType(got, "MCI").size(), 3u * 2);
    for (const auto& mci : OfType(got, "MCI")) EXPECT_EQ(U8(mci, 8), 10u);
    EXPECT_EQ(rig.server->SpectatorCount(), 2u) << "each relayed spectator is its own address upstream";

    // Spectator to server: requests go up, answers come back.
    alice.Send(General("ISM", 0));
    alice.Send(General("NPL", 4));
    got = rig.Pump(alice);
    const auto ism = OfType(got, "ISM");
    ASSERT_EQ(ism.size(), 1u);
    EXPECT_EQ(Field(ism[0], 8, 32), "^1Grid^7scope ^3Demo");
    const auto npl = OfType(got, "NPL");
    ASSERT_EQ(npl.size(), 1u);
    EXPECT_EQ(U8(npl[0], 96), 4u);
    EXPECT_TRUE(OfType(rig.Pump(bob), "ISM").empty()) << "answers go only to the spectator who asked";

    // Goodbye travels on and ends the upstream connection.
    alice.Send(General("ISC", 0));
    rig.Pump(alice);
    EXPECT_EQ(rig.server->SpectatorCount(), 1u);
    EXPECT_EQ(rig.relay->ClientCount(), 1u);
    alice.Drain();
    EXPECT_TRUE(rig.Pump(alice, 1.0).empty());
}

TEST(Relay, ForgetsSilentClientsAndClosesTheirUpstream) {
    RelayRig rig;
    Client quiet(rig.relay->Port());
    quiet.Send(Hos("^1Grid^7scope ^3Demo", ""));
    rig.Pump(quiet, 1.0);
    ASSERT_EQ(rig.server->SpectatorCount(), 1u);
    rig.now += 91;
    rig.Pump(quiet);
    EXPECT_EQ(rig.relay->ClientCount(), 0u);
    EXPECT_EQ(rig.server->SpectatorCount(), 0u) << "the relay said goodbye upstream";
}
