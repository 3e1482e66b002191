// The recorder's loop: one connected UDP socket watched with poll(), the core's
// connection driven by two timers of our own, every received datagram stamped
// with the time it arrived and appended to the recording.
#include "Recorder.h"

#include "Recording.h"
#include "common/Platform.h"
#include "common/Text.h"
#include "connection/Connection.h"
#include "connection/ServerList.h"
#include "connection/UdpSocket.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

namespace gs::record {

namespace {

using Steady = std::chrono::steady_clock;

// A timer that the loop fires when its time has come.
class LoopTimer final : public Timer {
public:
    explicit LoopTimer(int interval) : interval_(interval) {}
    void SetInterval(int ms) override {
        interval_ = ms;
        due_ = Steady::now() + std::chrono::milliseconds(ms);
    }
    int Interval() const override { return interval_; }
    void SetEnabled(bool on) override {
        if (on && !enabled_) due_ = Steady::now() + std::chrono::milliseconds(interval_);
        enabled_ = on;
    }
    bool Enabled() const override { return enabled_; }
    Steady::time_point Due() const { return due_; }
    // True (and re-armed) when the timer is enabled and its time has come.
    bool Fire(Steady::time_point now) {
        if (!enabled_ || now < due_) return false;
        due_ = now + std::chrono::milliseconds(interval_);
        return true;
    }

private:
    int interval_;
    bool enabled_ = false;
    Steady::time_point due_{};
};

// The connection's socket, with every datagram it hands over appended to the
// recording at the time it was read.
class RecordingSocket final : public DatagramSocket {
public:
    RecordingSocket(peers::RecordingWriter& writer, Steady::time_point start) : writer_(writer), start_(start) {}

    bool Open(const std::string& host, const std::string& port, std::string& error) override {
        return socket_.Open(host, port, error);
    }
    void Send(const void* data, std::size_t size) override { socket_.Send(data, size); }
    int Receive(void* buffer, std::size_t capacity) override {
        const int got = socket_.Receive(buffer, capacity);
        if (got > 0) {
            if (!writer_.Append(Elapsed(), peers::RecordKind::Datagram, static_cast<const std::uint8_t*>(buffer),
                                static_cast<std::size_t>(got)))
                throw std::runtime_error("cannot write the recording (disk full?)");
            ++datagrams;
            lastHeard = Steady::now();
        }
        return got;
    }
    void Close() override { socket_.Close(); }
    bool IsOpen() const override { return socket_.IsOpen(); }
    int Descriptor() const { return socket_.Descriptor(); }

    std::uint64_t Elapsed() const {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - start_).count());
    }

    std::size_t datagrams = 0;
    Steady::time_point lastHeard{};

private:
    UdpSocket socket_;
    peers::RecordingWriter& writer_;
    Steady::time_point start_;
};

std::int64_t UnixMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RecorderResult RunRecorder(const RecorderOptions& options, const volatile std::sig_atomic_t& stop,
                           const std::function<void(const std::string&)>& log) {
    const Steady::time_point start = Steady::now();
    peers::RecordingWriter writer(options.out, UnixMicroseconds());
    RecordingSocket socket(writer, start);
    SteadyClock clock;
    LoopTimer timer1(50), timer2(5000);
    SilentShell shell;
    RaceState race;
    ServerList servers;
    Connection connection(race, servers, ConnectionPorts{clock, timer1, timer2, socket, shell});
    race.InitSampleClock(clock);

    RecorderResult result;
    auto note = [&](const std::string& line) {
        if (log) log(line);
    };
    // The connection's own message lines (connected, disconnected, laps, ...).
    auto flushLog = [&] {
        for (std::size_t i = 0; i < race.Log.Size(); ++i) note(Windows1252ToUtf8(race.Log.At(i)));
        race.Log.Clear();
    };
    auto gap = [&](const std::string& why) {
        const std::string text = why;
        if (!writer.Append(socket.Elapsed(), peers::RecordKind::Gap, reinterpret_cast<const std::uint8_t*>(text.data()),
                           text.size()))
            throw std::runtime_error("cannot write the recording (disk full?)");
        ++result.gaps;
        note("gap: " + text);
    };

    const auto end = options.seconds > 0
                         ? start + std::chrono::microseconds(static_cast<std::int64_t>(options.seconds * 1e6))
                         : Steady::time_point::max();
    const auto timeout = std::chrono::microseconds(static_cast<std::int64_t>(options.timeout * 1e6));
    const auto retry = std::chrono::microseconds(static_cast<std::int64_t>(options.retryDelay * 1e6));
    bool heard = false;  // this connection has received something
    Steady::time_point nextAttempt = start;

    while (!stop) {
        Steady::time_point now = Steady::now();
        if (now >= end) break;

        if (connection.LinkState == lsIdle && !timer1.Enabled() && now >= nextAttempt) {
            heard = false;
            socket.lastHeard = now;
            connection.ConnectCommand(options.host, options.port, options.adminPassword);
            // A server that cannot even be addressed at the start is a mistake in
            // the command; later on it may be a passing failure of the network.
            if (!timer1.Enabled() && socket.datagrams == 0 && result.gaps == 0 && !race.Log.Empty())
                throw std::runtime_error(race.Log.Newest());
            flushLog();
            nextAttempt = now + retry;  // also when the socket could not even be opened
        }

        // Sleep until a datagram arrives or the next timer, attempt or the end is due.
        Steady::time_point wake = end;
        if (timer1.Enabled()) wake = std::min(wake, timer1.Due());
        if (timer2.Enabled()) wake = std::min(wake, timer2.Due());
        if (connection.LinkState == lsIdle && !timer1.Enabled()) wake = std::min(wake, nextAttempt);
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        pollfd watch{socket.Descriptor(), POLLIN, 0};
        ::poll(&watch, socket.IsOpen() ? 1 : 0, static_cast<int>(std::clamp<long long>(waitMs, 0, 1000)));

        // Datagrams go to the connection the moment they arrive, so their times
        // in the file are the arrival times, not the packet timer's.
        if (socket.IsOpen()) {
            std::uint8_t buffer[Connection::ReadSize];
            const std::size_t before = socket.datagrams;
            int got;
            while (socket.IsOpen() && (got = socket.Receive(buffer, sizeof buffer)) > 0)
                connection.ReceiveDatagram(buffer, static_cast<std::size_t>(got));
            heard = heard || socket.datagrams > before;
        }

        now = Steady::now();
        const bool wasOpen = timer1.Enabled();  // the timers run while a connection is open
        const bool wasLive = wasOpen && heard;
        if (timer1.Fire(now)) connection.OnPacketTick();
        if (timer2.Fire(now)) connection.OnKeepAliveTick();
        if (connection.LinkState != lsIdle && options.timeout > 0 && heard && now - socket.lastHeard > timeout) {
            note("no data for " + std::to_string(options.timeout) + " s");
            connection.Disconnect();
        }
        flushLog();
        if (wasOpen && !timer1.Enabled()) {
            if (wasLive)
                gap("connection lost after " +
                    std::to_string(std::chrono::duration<double>(now - socket.lastHeard).count()) + " s of silence");
            nextAttempt = now + retry;
            heard = false;
        }
    }

    connection.Disconnect();
    flushLog();
    result.datagrams = socket.datagrams;
    result.seconds = std::chrono::duration<double>(Steady::now() - start).count();
    if (!writer.Close()) throw std::runtime_error("cannot finish the recording (disk full?)");
    result.bytes = writer.BytesWritten();
    return result;
}

}  // namespace gs::record
