// The core's view of the outside world.
//
// Everything the core needs from the platform goes through these few
// interfaces: a monotonic counter, the timers of the main window, one UDP
// socket, the asynchronous key table and the "shell" requests (caption,
// repaint, track load, fatal errors). The Qt main window implements them;
// tests implement them with fakes or real loopback sockets, so a whole
// connection can be driven without an event loop or a display.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace gs {

// A monotonic high-resolution counter with a known frequency.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t Frequency() const = 0;  // ticks per second
    virtual std::int64_t Counter() const = 0;    // current tick count
};

// The system's steady clock in nanoseconds: the clock of the program and of
// the headless tools that run a connection in real time.
class SteadyClock final : public Clock {
public:
    std::int64_t Frequency() const override { return 1000000000; }
    std::int64_t Counter() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// One of the main window's timers: an interval in milliseconds and an
// enabled flag. The core only reads and sets them; the shell fires them.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void SetInterval(int ms) = 0;
    virtual int Interval() const = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
};

// The one datagram socket of the program: connected to a single peer,
// non-blocking on receive.
class DatagramSocket {
public:
    virtual ~DatagramSocket() = default;
    // Resolves host and port and connects. On failure returns false and puts
    // a one-line reason into `error`; the socket is then closed.
    virtual bool Open(const std::string& host, const std::string& port, std::string& error) = 0;
    virtual void Send(const void* data, std::size_t size) = 0;
    // One datagram into `buffer`; returns its size, or 0 or less when nothing
    // is pending, on any error, or when the socket is closed.
    virtual int Receive(void* buffer, std::size_t capacity) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
};

// Requests from the core to the window that hosts it.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void RepaintNow() = 0;
    // A state packet named a new track; the shell loads it.
    virtual void LoadTrack(const char* code) = 0;
    // The relay's server list changed; the server list window refills.
    virtual void ServerListChanged() = 0;
    // An unrecoverable failure: show an "Error" box with `text`, then end
    // the process with a non-zero status. Test shells record and return.
    virtual void FatalError(const std::string& text) = 0;
};

// The shell of a tool without a window: it shows nothing, loads no track
// and leaves failures to the connection's own state.
class SilentShell final : public Shell {
public:
    void SetCaption(const std::string&) override {}
    void RepaintNow() override {}
    void LoadTrack(const char*) override {}
    void ServerListChanged() override {}
    void FatalError(const std::string&) override {}
};

// The asynchronous key state of the platform: a key counts as pressed when
// it is held now or was pressed since the previous query of that key.
class KeyState {
public:
    virtual ~KeyState() = default;
    virtual bool Pressed(int virtualKey) = 0;
    virtual bool WindowActive() const = 0;
};

}  // namespace gs
