// gridscope-hub under load, two measurements:
//
//   1. watching: 16 race servers of 32 cars, each moving ten times a second,
//      with a lap per car about every 40 s (so the store is written as in a
//      real evening); the hub's CPU (cores) and resident memory.
//   2. answering: a store of 10 000 generated sessions (bench_hub_store
//      --keep makes it), 50 clients at once, each asking its next page as
//      soon as the last one came (keep-alive HTTP/1.1): the race list, race
//      pages, track leaderboards (with and without a car), driver pages;
//      the median and 99th percentile per kind of page.
//
//   bench_hub HUB RUNDIR STOREBENCH [--servers N] [--cars N] [--rate HZ]
//             [--seconds S] [--clients N] [--requests N] [--store DIR]
//
// The benchmark plays the race servers itself (the handshake's answers, the
// state, the drivers, car info and laps, written from the packet layout).
#include "BenchProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

using gs::bench::CpuSeconds;
using gs::bench::MemoryMb;
using gs::bench::Percentile;

namespace {

void U16(QByteArray& b, int at, unsigned v) {
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}
void U32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xff);
}
void Text(QByteArray& b, int at, const std::string& text) { std::memcpy(b.data() + at, text.data(), text.size()); }
QByteArray Packet(const char* type, int size) {
    QByteArray b(size, '\0');
    Text(b, 0, type);
    return b;
}


// One race server: answers a spectator's init and state requests with the
// state, name, version and drivers, then sends the field's car info at the
// rate and a lap for each car now and then.
class FakeServer {
public:
    FakeServer(int index, int cars) : index_(index), cars_(cars) {
        udp_.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&udp_, &QUdpSocket::readyRead, [this] { Read(); });
    }
    quint16 Port() const { return udp_.localPort(); }

    void Tick(long update, int rate) {
        if (!peerPort_) return;
        for (int first = 0; first < cars_; first += 8) {
            const int n = std::min(8, cars_ - first);
            QByteArray mci = Packet("MCI", 12 + 24 * n);
            mci[8] = char(cars_);
            mci[9] = char(first);
            for (int k = 0; k < n; ++k) {
                const int car = first + k, at = 12 + 24 * k;
                U16(mci, at, unsigned((car * 7 + update) % 400));
                mci[at + 2] = char(2 + update / (rate * 40));
                U32(mci, at + 4, std::uint32_t(std::int32_t((100.0 + car * 10 + (update % 50) * 0.5) * 327680)));
                U32(mci, at + 8, std::uint32_t(std::int32_t((50.0 + car + update * 0.25) * 327680)));
                U16(mci, at + 16, 18000);
                U16(mci, at + 20, unsigned(update * 300 + car * 1000) % 65536);
            }
            Send(mci);
        }
        // Each car crosses the line once every 40 s, the field spread out.
        const long period = 40L * rate;
        for (int car = 0; car < cars_; ++car) {
            if ((update + car * period / cars_ + index_ * 3) % period != 0) continue;
            QByteArray lap = Packet("LAP", 92);
            Text(lap, 52, "XR GT TURBO");
            lap[84] = 1;
            lap[85] = char(20 + car % 30);
            lap[86] = char((update / 7 + car) % 100);
            lap[88] = char(car);
            Send(lap);
        }
    }

private:
    void Send(const QByteArray& b) { udp_.writeDatagram(b, peer_, peerPort_); }
    void Read() {
        while (udp_.hasPendingDatagrams()) {
            QByteArray d(int(udp_.pendingDatagramSize()), '\0');
            udp_.readDatagram(d.data(), d.size(), &peer_, &peerPort_);
            if (d.startsWith("ISI") || d.startsWith("SST")) Greet(d.startsWith("ISI"));
        }
    }
    void Greet(bool start) {
        QByteArray ver = Packet("VER", 19);
        ver[18] = 1;
        Send(ver);
        QByteArray sta = Packet("STA", 26);
        sta[12] = char(cars_);
        sta[15] = 1;
        Text(sta, 20, "AS1");
        Send(sta);
        QByteArray ism = Packet("ISM", 40);
        Text(ism, 8, "^1Bench ^7Server " + std::to_string(index_));
        Send(ism);
        for (int i = 0; i < cars_; ++i) {
            QByteArray npl = Packet("NPL", 97);
            Text(npl, 28, "^" + std::to_string(i % 10) + "Driver " + std::to_string(index_) + "-" + std::to_string(i));
            Text(npl, 60, "XR GT TURBO");
            npl[96] = char(i);
            Send(npl);
        }
        if (start) {
            QByteArray rst = Packet("RST", 8);
            rst[4] = 50;
            Send(rst);
        }
    }

    int index_, cars_;
    QUdpSocket udp_;
    QHostAddress peer_;
    quint16 peerPort_ = 0;
};

// The hub, started on a config of the given servers; its port, or 0.
int StartHub(QProcess& hub, const QString& binary, const QString& dir, const QString& run,
             const std::vector<quint16>& ports) {
    std::ofstream config(fs::path(dir.toStdString()) / "hub.ini");
    config << "[hub]\nhttp = 127.0.0.1:0\ndata = " << dir.toStdString() << "\nfiles = " << run.toStdString() << "\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        config << "[server:s" << i << "]\naddress = 127.0.0.1:" << ports[i] << "\n";
    config.close();
    hub.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    hub.start(binary, {"--config", dir + "/hub.ini"});
    if (!hub.waitForStarted(5000)) return 0;
    QString all;
    for (int i = 0; i < 50 && !all.contains("dashboard:"); ++i) {
        hub.waitForReadyRead(200);
        all += QString::fromUtf8(hub.readAll());
    }
    const auto m = QRegularExpression("dashboard: http://127.0.0.1:(\\d+)/").match(all);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// A keep-alive HTTP/1.1 client: one request at a time, the answer read to
// its Content-Length.
class Client {
public:
    explicit Client(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    // The status, or 0 when the connection failed.
    int Get(const std::string& path) {
        if (!ok_) return 0;
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) < 0) return ok_ = false, 0;
        std::string text;
        char buffer[65536];
        std::size_t end = std::string::npos, length = 0;
        while (true) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) return ok_ = false, 0;
            text.append(buffer, static_cast<std::size_t>(got));
            if (end == std::string::npos && (end = text.find("\r\n\r\n")) != std::string::npos) {
                std::string head = text.substr(0, end);
                std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
                const auto at = head.find("content-length:");
                length = at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 15, nullptr, 10);
                end += 4;
            }
            if (end != std::string::npos && text.size() >= end + length) break;
        }
        return std::atoi(text.c_str() + 9);
    }

private:
    int fd_ = -1;
    bool ok_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: bench_hub HUB RUNDIR STOREBENCH [--servers N] [--cars N] [--rate HZ] [--seconds S]\n"
                     "                 [--clients N] [--requests N] [--store DIR]\n");
        return 2;
    }
    const QString hubBinary = QFileInfo(argv[1]).absoluteFilePath(), run = QFileInfo(argv[2]).absoluteFilePath();
    const QString storeBench = QFileInfo(argv[3]).absoluteFilePath();
    int servers = 16, cars = 32, rate = 10, seconds = 30, clients = 50, requests = 100;
    QString storeDir;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--servers") servers = std::atoi(argv[i + 1]);
        else if (o == "--cars") cars = std::atoi(argv[i + 1]);
        else if (o == "--rate") rate = std::atoi(argv[i + 1]);
        else if (o == "--seconds") seconds = std::atoi(argv[i + 1]);
        else if (o == "--clients") clients = std::atoi(argv[i + 1]);
        else if (o == "--requests") requests = std::atoi(argv[i + 1]);
        else if (o == "--store") storeDir = argv[i + 1];
    }
    std::string scratchPattern = (fs::temp_directory_path() / "gridscope-hub-bench-XXXXXX").string();
    if (!mkdtemp(scratchPattern.data())) return 1;
    const QString scratch = QString::fromStdString(scratchPattern);

    // ---- 1. watching
    {
        std::vector<std::unique_ptr<FakeServer>> fakes;
        std::vector<quint16> ports;
        for (int i = 0; i < servers; ++i) {
            fakes.push_back(std::make_unique<FakeServer>(i, cars));
            ports.push_back(fakes.back()->Port());
        }
        QProcess hub;
        fs::create_directories((scratch + "/watch").toStdString());
        if (!StartHub(hub, hubBinary, scratch + "/watch", run, ports)) {
            std::fprintf(stderr, "bench_hub: the hub did not start\n");
            return 1;
        }
        long update = 0;
        QTimer race;
        race.setTimerType(Qt::PreciseTimer);
        QObject::connect(&race, &QTimer::timeout, [&] {
            ++update;
            for (auto& f : fakes) f->Tick(update, rate);
        });
        race.start(1000 / rate);
        double cpu0 = 0, wall0 = 0;
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(5000, [&] {
            cpu0 = CpuSeconds(hub.processId());
            wall0 = double(clock.elapsed());
        });
        QTimer::singleShot(5000 + seconds * 1000, [&] {
            const double cpu = CpuSeconds(hub.processId()) - cpu0, wall = (double(clock.elapsed()) - wall0) / 1000;
            std::printf("watching %d servers of %d cars at %d updates/s: hub CPU %.3f cores over %.1f s; "
                        "resident %.1f MB (peak %.1f MB)\n",
                        servers, cars, rate, cpu / wall, wall, MemoryMb(hub.processId(), "VmRSS:"),
                        MemoryMb(hub.processId(), "VmHWM:"));
            std::fflush(stdout);
            app.quit();
        });
        app.exec();
        race.stop();
        hub.terminate();
        hub.waitForFinished(10000);
        QProcess sqlite;
        sqlite.start("sqlite3", {scratch + "/watch/hub.sqlite", "SELECT count(*) FROM laps"});
        sqlite.waitForFinished(10000);
        std::printf("  laps stored while watching: %s", sqlite.readAllStandardOutput().constData());
    }

    // ---- 2. answering, from a store of generated sessions
    if (storeDir.isEmpty()) {
        storeDir = scratch + "/store";
        std::printf("generating a store of 10 000 sessions (bench_hub_store sqlite --keep)...\n");
        std::fflush(stdout);
        QProcess gen;
        gen.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        gen.start(storeBench, {"sqlite", "--keep", storeDir, "--samples", "1"});
        if (!gen.waitForFinished(600000) || gen.exitCode() != 0) return 1;
    }
    QProcess hub;
    const int port = StartHub(hub, hubBinary, storeDir, run, {1});  // port 1: nothing answers there
    if (!port) return 1;

    struct Kind {
        const char* name;
        std::function<std::string(std::mt19937&)> path;
    };
    const char* carNames[] = {"XRT", "FZ50", "XR GT TURBO", "FXO"};
    const Kind listing{"/api/races?page=N",
                       [](std::mt19937& r) { return "/api/races?page=" + std::to_string(1 + r() % 400); }};
    const Kind racePage{"/races/ID (page)", [](std::mt19937& r) { return "/races/" + std::to_string(1 + r() % 10000); }};
    const std::vector<Kind> alone{
        listing,
        racePage,
        {"/api/races/ID", [](std::mt19937& r) { return "/api/races/" + std::to_string(1 + r() % 10000); }},
        {"/races?track=T", [](std::mt19937& r) { return "/races?track=T" + std::to_string(10 + r() % 10); }},
        {"/api/tracks/T", [](std::mt19937& r) { return "/api/tracks/T" + std::to_string(10 + r() % 10); }},
        {"/tracks/T?car=C",
         [&](std::mt19937& r) {
             return "/tracks/T" + std::to_string(10 + r() % 10) + "?car=" +
                    QUrl::toPercentEncoding(carNames[r() % 4]).toStdString();
         }},
        {"/drivers/NAME", [](std::mt19937& r) { return "/drivers/Pilot%20" + std::to_string(r() % 200); }},
        {"/ (dashboard)", [](std::mt19937&) { return std::string("/"); }},
    };

    // `n` clients at once, each asking `per` pages of `kinds` (at random)
    // one after the other; the latencies per kind.
    auto load = [&](const std::vector<Kind>& kinds, int n, int per) {
        std::vector<std::vector<std::vector<double>>> times(kinds.size(), std::vector<std::vector<double>>(n));
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        const auto start = std::chrono::steady_clock::now();
        for (int c = 0; c < n; ++c)
            threads.emplace_back([&, c] {
                std::mt19937 random(static_cast<unsigned>(c) + 1);
                auto client = std::make_unique<Client>(port);
                for (int i = 0; i < per; ++i) {
                    const std::size_t k = random() % kinds.size();
                    const std::string path = kinds[k].path(random);
                    const auto before = std::chrono::steady_clock::now();
                    int status = client->Get(path);
                    if (status == 0) {  // the hub closes a connection after a minute: a browser opens another
                        client = std::make_unique<Client>(port);
                        status = client->Get(path);
                    }
                    const double ms =
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
                    if (status != 200 && status != 404) ++failures;
                    times[k][static_cast<std::size_t>(c)].push_back(ms);
                }
            });
        for (auto& t : threads) t.join();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%d client(s) at once, %d requests each (%.1f s, %.0f requests/s), failures %d:\n", n, per, wall,
                    n * per / wall, failures.load());
        std::vector<double> all;
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            std::vector<double> t;
            for (const auto& each : times[k]) t.insert(t.end(), each.begin(), each.end());
            all.insert(all.end(), t.begin(), t.end());
            std::printf("  %-20s %5zu requests  median %6.2f ms  99th %6.2f ms\n", kinds[k].name, t.size(),
                        Percentile(t, 0.5), Percentile(t, 0.99));
        }
        if (kinds.size() > 1)
            std::printf("  %-20s %5zu requests  median %6.2f ms  99th %6.2f ms\n", "all", all.size(),
                        Percentile(all, 0.5), Percentile(all, 0.99));
        std::fflush(stdout);
    };
    std::printf("answering from a store of 10 000 sessions; one client, each kind of page:\n");
    load(alone, 1, 50 * int(alone.size()));
    std::printf("the race list and race pages:\n");
    load({listing, racePage}, clients, requests);
    hub.terminate();
    hub.waitForFinished(10000);
    fs::remove_all(scratch.toStdString());
    return 0;
}
