// Test doubles for the core's platform interfaces.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/Platform.h"

namespace gs::test {

using Bytes = std::vector<std::uint8_t>;

class FakeClock : public Clock {
public:
    std::int64_t frequency = 1000000;  // a microsecond counter
    mutable std::int64_t now = 5000000;
    std::int64_t Frequency() const override { return frequency; }
    std::int64_t Counter() const override { return now; }
    void AdvanceMs(std::int64_t ms) { now += ms * frequency / 1000; }
};

class FakeTimer : public Timer {
public:
    explicit FakeTimer(int ms = 0, bool on = false) : interval(ms), enabled(on) {}
    int interval;
    bool enabled;
    void SetInterval(int ms) override { interval = ms; }
    int Interval() const override { return interval; }
    void SetEnabled(bool on) override { enabled = on; }
    bool Enabled() const override { return enabled; }
};

// Records what is sent; hands out queued datagrams on receive.
class FakeSocket : public DatagramSocket {
public:
    bool open = false;
    bool failOpen = false;
    std::string host, port;
    std::vector<Bytes> sent;
    std::deque<Bytes> incoming;
    int opens = 0, closes = 0;

    bool Open(const std::string& h, const std::string& p, std::string& error) override;
    void Send(const void* data, std::size_t size) override;
    int Receive(void* buffer, std::size_t capacity) override;
    void Close() override;
    bool IsOpen() const override { return open; }

    // The type letters of every datagram sent, in order ("ISI", "NLI", ...).
    std::vector<std::string> SentTypes() const;
};

class RecordingShell : public Shell {
public:
    std::vector<std::string> captions;
    std::vector<std::string> tracks;
    std::vector<std::string> fatalErrors;
    int repaints = 0;
    int serverListChanges = 0;

    void SetCaption(const std::string& caption) override { captions.push_back(caption); }
    void RepaintNow() override { ++repaints; }
    void LoadTrack(const char* code) override { tracks.emplace_back(code); }
    void ServerListChanged() override { ++serverListChanges; }
    void FatalError(const std::string& text) override { fatalErrors.push_back(text); }
    std::string Caption() const { return captions.empty() ? std::string() : captions.back(); }
};

// Builds packets byte by byte in tests: a zero-filled buffer of `size`
// bytes with the type letters at its start.
struct PacketBuilder {
    Bytes bytes;
    PacketBuilder(const char* type, std::size_t size);
    PacketBuilder& U8(std::size_t at, std::uint8_t v);
    PacketBuilder& U16(std::size_t at, std::uint16_t v);
    PacketBuilder& I32(std::size_t at, std::int32_t v);
    PacketBuilder& Text(std::size_t at, const std::string& text);
    operator Bytes() const { return bytes; }
};

}  // namespace gs::test
