// The two programs as built: started with options, talked to over loopback UDP,
// stopped with SIGTERM; bad options and broken track files end them with a message.
#include "PeerTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/wait.h>

using namespace peertest;

namespace {

// A program started with a pipe on its standard output and error.
struct Process {
    pid_t pid = -1;
    int out = -1;
    std::string text;

    explicit Process(std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    ~Process()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            close(out);
    }
    // Reads output until `marker` shows up or `ms` pass.
    bool WaitFor(const std::string& marker, int ms = 3000)
    {
        for (int waited = 0; text.find(marker) == std::string::npos && waited < ms; waited += 20) {
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buffer[512];
                const ssize_t n = read(out, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                text.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return text.find(marker) != std::string::npos;
    }
    std::uint16_t ListeningPort()
    {
        // The first line names the address: "... listening on 127.0.0.1:PORT ...".
        if (!WaitFor("\n"))
            return 0;
        const auto at = text.find("listening on 127.0.0.1:");
        return at == std::string::npos ? 0 : static_cast<std::uint16_t>(std::stoi(text.substr(at + 23)));
    }
    int Stop()
    {
        kill(pid, SIGTERM);
        return Wait();
    }
    int Wait()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        WaitFor("\x01", 100);  // collect the last output
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

std::vector<Bytes> Collect(Client& client, int ms)
{
    std::vector<Bytes> got;
    for (int waited = 0; waited < ms; waited += 10) {
        client.port.WaitReadable(10);
        for (auto& b : client.Drain())
            got.push_back(b);
    }
    return got;
}

} // namespace

TEST(PeerPrograms, RaceServerAndRelayServeRealSpectators)
{
    TempDir dir;
    Oval().Write(dir.path / "AS1.pth");
    Process server({GS_RACESERVER, "--port", "0", "--files", dir.path.string(), "--admin", "pw", "--cars", "9",
                    "--laps", "1", "--sessions", "race", "--time-scale", "30", "--version", "1", "--seed", "4"});
    const std::uint16_t serverPort = server.ListeningPort();
    ASSERT_NE(serverPort, 0) << server.text;

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
    ASSERT_NE(relayPort, 0) << relay.text;
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

TEST(PeerPrograms, RefuseBadOptionsAndBrokenTracksWithAReason)
{
    TempDir dir;
    {
        Process p({GS_RACESERVER, "--port", "0", "--files", dir.path.string()});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.text.find("AS1.pth"), std::string::npos) << p.text;
    }
    std::ofstream(dir.path / "BL1.pth", std::ios::binary) << "short";
    {
        Process p({GS_RACESERVER, "--port", "0", "--files", dir.path.string(), "--track", "BL1"});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.text.find("header"), std::string::npos) << p.text;
    }
    {
        Process p({GS_RACESERVER, "--track", "ZZ9"});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.text.find("catalogue"), std::string::npos) << p.text;
    }
    {
        Process p({GS_RELAY, "--port", "0", "--max-clients", "lots"});
        EXPECT_EQ(p.Wait(), 2);
        EXPECT_NE(p.text.find("--max-clients"), std::string::npos) << p.text;
    }
}
