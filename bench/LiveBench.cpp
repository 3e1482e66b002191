// gridscope-live under load: 500 browsers' WebSockets on loopback watching a
// 32-car race that moves ten times a second, lap after lap round AS1's path.
//
//   bench_live LIVE RUNDIR [--clients N] [--seconds S] [--rate HZ]
//
// The benchmark is the race server itself (a minimal one: the handshake's
// answers and car info, packets written from the layout), so it knows when
// each update's datagrams left: on loopback that is when they arrive. Car
// 0's x position carries the update's number, so each client can tell which
// update a change message holds. The cars drive round the path file's
// nodes from its finish node, one lap in LapUpdates updates, each crossing
// of the line followed by its lap packet, so the tool times sectors, laps
// and intervals as in a race. Prints, for the time from an update's
// datagrams to its change reaching a client: the median and 99th
// percentile over all clients and updates, and the same for the last
// client of each update; the tool's CPU (cores) and resident memory; the
// sizes of the full and change messages.
#include "BenchProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using gs::bench::CpuSeconds;
using gs::bench::MemoryMb;
using gs::bench::Percentile;

namespace {

constexpr int Cars = 32;
constexpr int LapUpdates = 80;  // one lap in 8 s at ten updates a second
constexpr int CarSpacing = 3;   // updates between two cars on the road

void U16(QByteArray& b, int at, unsigned v) {
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}
void U32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xff);
}
void Text(QByteArray& b, int at, const char* text) { std::memcpy(b.data() + at, text, std::strlen(text)); }

QByteArray Packet(const char* type, int size) {
    QByteArray b(size, '\0');
    Text(b, 0, type);
    return b;
}

// Node count and finish node from a path file's 16-byte header.
bool ReadPathHeader(const std::string& path, int& nodes, int& finish) {
    std::ifstream f(path, std::ios::binary);
    unsigned char h[16] = {};
    if (!f.read(reinterpret_cast<char*>(h), sizeof h)) return false;
    nodes = h[8] | (h[9] << 8);
    finish = h[12] | (h[13] << 8);
    return nodes > 3 && finish < nodes;
}


}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_live LIVE RUNDIR [--clients N] [--seconds S] [--rate HZ]\n");
        return 2;
    }
    int clients = 500, seconds = 30, rate = 10;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--clients") clients = std::atoi(argv[i + 1]);
        else if (o == "--seconds") seconds = std::atoi(argv[i + 1]);
        else if (o == "--rate") rate = std::atoi(argv[i + 1]);
    }

    int pathNodes = 0, finishNode = 0;
    if (!ReadPathHeader(std::string(argv[2]) + "/files/AS1.pth", pathNodes, finishNode)) {
        std::fprintf(stderr, "bench_live: no path file %s/files/AS1.pth\n", argv[2]);
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    auto nowMs = [&] { return double(clock.nsecsElapsed()) / 1e6; };

    // ---- the race server
    QUdpSocket udp;
    udp.bind(QHostAddress::LocalHost, 0);
    QHostAddress peer;
    quint16 peerPort = 0;
    auto send = [&](const QByteArray& b) { udp.writeDatagram(b, peer, peerPort); };
    auto greet = [&] {
        QByteArray ver = Packet("VER", 19);
        ver[18] = 1;
        send(ver);
        QByteArray sta = Packet("STA", 26);
        sta[12] = char(Cars);
        sta[15] = 1;  // race
        Text(sta, 20, "AS1");
        send(sta);
        QByteArray ism = Packet("ISM", 40);
        Text(ism, 8, "^1Bench ^7Race");
        send(ism);
        for (int i = 0; i < Cars; ++i) {
            QByteArray npl = Packet("NPL", 97);
            const std::string name = "^" + std::to_string(i % 10) + "Driver " + std::to_string(i) + " \x80\x93Q\x94";
            Text(npl, 28, name.c_str());
            Text(npl, 60, "XR GT TURBO");
            npl[96] = char(i);
            send(npl);
        }
    };
    QObject::connect(&udp, &QUdpSocket::readyRead, [&] {
        while (udp.hasPendingDatagrams()) {
            QByteArray d(int(udp.pendingDatagramSize()), '\0');
            udp.readDatagram(d.data(), d.size(), &peer, &peerPort);
            if (d.startsWith("ISI") || d.startsWith("SST")) greet();
        }
    });

    // ---- the tool
    QProcess live;
    live.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    live.setWorkingDirectory(argv[2]);
    live.start(QFileInfo(argv[1]).absoluteFilePath(),
               {"--server", "127.0.0.1:" + QString::number(udp.localPort()), "--http", "127.0.0.1:0"});
    if (!live.waitForStarted(5000) || !live.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench_live: %s did not start\n", argv[1]);
        return 1;
    }
    const QString first = QString::fromUtf8(live.readLine());
    const auto m = QRegularExpression("listening on [^ ]*:(\\d+)").match(first);
    if (!m.hasMatch()) return 1;
    const QUrl url("ws://127.0.0.1:" + m.captured(1) + "/api/live");

    // ---- the clients
    std::map<long, double> sentAt;                 // update number -> ms
    std::map<long, std::vector<double>> arrivals;  // update number -> ms per client
    std::vector<int> fullSizes, changeSizes;
    bool measuring = false;
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    int open = 0;
    for (int i = 0; i < clients; ++i) {
        auto ws = std::make_unique<QWebSocket>();
        QWebSocket* raw = ws.get();
        QObject::connect(raw, &QWebSocket::connected, [&] { ++open; });
        QObject::connect(raw, &QWebSocket::textMessageReceived, [&](const QString& text) {
            const double t = nowMs();
            const QByteArray msg = text.toUtf8();
            const bool full = msg.startsWith("{\"cars\"") || msg.contains("\"type\":\"full\"");
            if (full) {
                fullSizes.push_back(int(msg.size()));
                (void)raw;
                return;
            }
            if (measuring) changeSizes.push_back(int(msg.size()));
            const QByteArray mark = "\"moves\":[[0,";
            const qsizetype at = msg.indexOf(mark);
            if (at < 0 || !measuring) return;
            const long update = std::strtol(msg.constData() + at + mark.size(), nullptr, 10);
            arrivals[update].push_back(t);
        });
        raw->open(url);
        sockets.push_back(std::move(ws));
    }

    // ---- the race: every car moves every update, car k CarSpacing updates
    // behind car k-1, each a little slower so that the gaps grow.
    long update = 0;
    QTimer race;
    race.setTimerType(Qt::PreciseTimer);
    auto progress = [&](int car, long u) {  // nodes from the start, on the path
        const double pace = double(pathNodes) / LapUpdates * (1.0 - 0.002 * car);
        return std::max(0.0, (double(u) - car * CarSpacing) * pace);
    };
    QObject::connect(&race, &QTimer::timeout, [&] {
        if (!peerPort) return;
        ++update;
        sentAt[update] = nowMs();
        for (int firstCar = 0; firstCar < Cars; firstCar += 8) {
            QByteArray mci = Packet("MCI", 12 + 24 * 8);
            mci[8] = char(Cars);
            mci[9] = char(firstCar);
            for (int k = 0; k < 8; ++k) {
                const int car = firstCar + k, at = 12 + 24 * k;
                const long nodes = long(progress(car, update));
                U16(mci, at, unsigned((finishNode + nodes) % pathNodes));
                mci[at + 2] = char(std::min<long>(1 + nodes / pathNodes, 255));
                // Car 0's x is the update's number in world units: a whole
                // number, which the tool's rounding to 0.1 leaves as it is.
                const double x = car == 0 ? double(update) : 100.0 + car * 10 + (update % 50) * 0.5;
                U32(mci, at + 4, std::uint32_t(std::int32_t(x * 327680)));
                U32(mci, at + 8, std::uint32_t(std::int32_t((50.0 + car + update * 0.25) * 327680)));
                U16(mci, at + 16, 18000);
                U16(mci, at + 20, unsigned(update * 300 + car * 1000) % 65536);
            }
            send(mci);
        }
        // A lap packet for each car that crossed the line in this update.
        for (int car = 0; car < Cars; ++car) {
            const long before = long(progress(car, update - 1)) / pathNodes, now = long(progress(car, update)) / pathNodes;
            if (now <= before) continue;
            const int hundredths = int(LapUpdates * 10 / (1.0 - 0.002 * car));
            QByteArray lap = Packet("LAP", 92);
            Text(lap, 52, "XR GT TURBO");
            lap[84] = char(hundredths / 6000);
            lap[85] = char(hundredths / 100 % 60);
            lap[86] = char(hundredths % 100);
            lap[88] = char(car);
            send(lap);
        }
    });
    race.start(1000 / rate);

    double cpuStart = 0, ownCpuStart = 0, wallStart = 0;
    QTimer::singleShot(5000, [&] {
        measuring = true;
        cpuStart = CpuSeconds(live.processId());
        ownCpuStart = CpuSeconds(QCoreApplication::applicationPid());
        wallStart = nowMs();
    });
    // The full state a browser gets once the race has run: one more client
    // connects just before the end.
    QWebSocket late;
    int lateFull = 0;
    QObject::connect(&late, &QWebSocket::textMessageReceived, [&](const QString& text) {
        if (!lateFull) lateFull = int(text.toUtf8().size());
    });
    QTimer::singleShot(5000 + seconds * 1000 - 1000, [&] { late.open(url); });
    QTimer::singleShot(5000 + seconds * 1000, [&] {
        const double cpu = CpuSeconds(live.processId()) - cpuStart;
        const double ownCpu = CpuSeconds(QCoreApplication::applicationPid()) - ownCpuStart;
        const double wall = (nowMs() - wallStart) / 1000;
        const double rss = MemoryMb(live.processId(), "VmRSS:"), hwm = MemoryMb(live.processId(), "VmHWM:");
        measuring = false;
        std::vector<double> all, last;
        int complete = 0;
        for (const auto& [u, times] : arrivals) {
            const auto s = sentAt.find(u);
            if (s == sentAt.end()) continue;
            for (double t : times) all.push_back(t - s->second);
            if (int(times.size()) == open) {
                ++complete;
                last.push_back(*std::max_element(times.begin(), times.end()) - s->second);
            }
        }
        std::printf("clients connected: %d of %d; updates measured: %zu (%d reached every client)\n", open, clients,
                    arrivals.size(), complete);
        std::printf("datagram to client, all deliveries: median %.1f ms, p99 %.1f ms, max %.1f ms\n",
                    Percentile(all, 0.5), Percentile(all, 0.99), Percentile(all, 1.0));
        std::printf("datagram to the last client: median %.1f ms, p99 %.1f ms, max %.1f ms\n", Percentile(last, 0.5),
                    Percentile(last, 0.99), Percentile(last, 1.0));
        std::printf("gridscope-live CPU: %.2f cores over %.1f s at %d updates/s; resident %.1f MB (peak %.1f MB)\n",
                    cpu / wall, wall, rate, rss, hwm);
        std::ifstream loadavg("/proc/loadavg");
        std::string load;
        std::getline(loadavg, load);
        std::printf("the clients' own CPU: %.2f cores; machine: %ld cores, load average %s\n", ownCpu / wall,
                    sysconf(_SC_NPROCESSORS_ONLN), load.c_str());
        auto maxOf = [](const std::vector<int>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); };
        double mean = 0;
        for (int s : changeSizes) mean += s;
        if (!changeSizes.empty()) mean /= double(changeSizes.size());
        std::printf("messages: full state %d bytes at connect, %d bytes after %d s of racing (32 cars, 20 events at "
                    "most); change mean %.0f, max %d bytes\n",
                    maxOf(fullSizes), lateFull, 4 + seconds, mean, maxOf(changeSizes));
        for (auto& ws : sockets) ws->abort();
        late.abort();
        live.terminate();
        live.waitForFinished(5000);
        app.quit();
    });
    return app.exec();
}
