// The in-memory model of the spectated race.
//
//   PlayerRecord / CarSample  - one player slot and its queue of positions
//   SampleClock               - the 500 ms time base of the queues
//   MessageLog                - the on-screen event lines
//   RaceState                 - 32 slots, race info, operations on them
//
// Packet handlers write it, the frame loop derives the drawn poses from it,
// the scene and the standings read it. Players are addressed by slot index
// (0..31) or by driver name; there is no other player identifier. Every
// operation keeps its writes inside the 32 slots whatever it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gs {

class Clock;

constexpr int MaxPlayers = 32;
constexpr int MaxSamples = 8;

enum RaceModeValue : std::uint32_t { rmNone = 0, rmRace = 1, rmQualify = 2 };

struct CarSample {
    float X = 0, Y = 0;  // world units
    float Heading = 0;   // radians
    float Speed = 0;     // km/h
};

struct PlayerRecord {
    std::uint32_t Node = 0;
    CarSample Samples[MaxSamples] = {};
    std::int32_t SampleCount = 0;
    float Z = 0;
    float DrawX = 0, DrawY = 0, DrawHeading = 0, DrawSpeed = 0;
    std::int32_t Lap = 0;
    std::int32_t BestMin = 0, BestSec = 0, BestHund = 0;
    std::int32_t TotalMin = 0, TotalSec = 0, TotalHund = 0;
    char Name[32] = {};  // terminated, colour codes removed
    char Car[17] = {};   // terminated, at most 16 characters
    std::int32_t Position = 0;
    std::uint8_t Finished = 0;
};

struct SampleClock {
    std::int64_t Frequency = 0;
    std::int64_t TicksPer10ms = 0;
    std::int64_t Base = 0;
    std::int64_t Now = 0;
};

struct MessageEntry {
    static constexpr std::size_t MaxLength = 255;
    std::string Text;
};

// The message lines, oldest first. New lines go to the back; the overlay
// trims the front one entry per frame. A flood of event packets could add
// lines far faster than frames trim them, so the log never holds more than
// MaxEntries: beyond that the oldest goes at once. The lines live in a fixed
// ring whose slots keep their capacity, so a busy log allocates nothing once
// every slot has held a long line.
class MessageLog {
public:
    static constexpr std::size_t MaxEntries = 64;

    // Appends the text, cut at MessageEntry::MaxLength characters.
    void Add(std::string_view text);
    void Clear() { first_ = count_ = 0; }
    std::size_t Size() const { return count_; }
    bool Empty() const { return count_ == 0; }
    const std::string& Newest() const { return At(count_ - 1); }
    const std::string& Oldest() const { return At(0); }
    const std::string& At(std::size_t i) const { return slots_[(first_ + i) % MaxEntries].Text; }  // 0 = oldest
    // Drops the oldest entry when `keep` or more entries are newer than it.
    // Returns true when one was dropped.
    bool TrimOldest(std::size_t keep);

private:
    std::array<MessageEntry, MaxEntries> slots_;
    std::size_t first_ = 0;  // slot of the oldest line
    std::size_t count_ = 0;
};

class RaceState {
public:
    PlayerRecord Players[MaxPlayers];
    std::int32_t PlayerCount = 0;
    std::int32_t FollowIndex = -1;
    char ServerName[32] = {};  // as received: colour codes kept, maybe unterminated
    char TrackCode[7] = {};
    std::uint32_t RaceLaps = 0;
    std::uint32_t QualMinutes = 0;
    std::uint32_t RaceMode = rmNone;
    MessageLog Log;
    SampleClock Clock;

    // printf-style line of at most 255 characters, appended as the newest.
    void AddMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

    void InitSampleClock(const gs::Clock& counter);
    // Reads the counter into Now and runs every 500 ms step that is due.
    void AdvanceSampleClock(const gs::Clock& counter);
    // Runs the due 500 ms steps up to the already stored Now.
    void AdvanceSampleClockTo(std::int64_t now);

    // Counts above 32 are clamped to 32, below 0 to 0.
    void ResizePlayers(int newCount);
    void PushSample(int slot, const CarSample& sample, std::uint32_t node, std::int32_t lap, float z);
    // `rawName` is a 24-byte wire field, `car` a 16-byte one.
    void SetPlayer(int slot, const char* rawName, const char* car);
    void RemovePlayerByName(const char* rawName);
    void RenamePlayer(const char* rawOldName, const char* rawNewName);
    // order[i] is the slot that takes position i, for i < the current count.
    // Order entries of 32 or more keep that position's previous content.
    void ReorderPlayers(const std::uint8_t* order, int newCount);
    void RecordLap(int slot, int minutes, int seconds, int hundredths, const char* car);
    void RecordResult(const char* rawName, int totalMin, int totalSec, int totalHund, int bestMin, int bestSec,
                      int bestHund);
    void ResetRace(std::uint32_t laps, std::uint32_t qualMinutes);
    void ResetTimes();

    // Slot of the first live player whose name equals `name`, or -1.
    int FindPlayer(const std::string& name) const;
};

// Width of the wire's driver-name field.
constexpr std::size_t WireNameWidth = 24;
constexpr std::size_t WireCarWidth = 16;

}  // namespace gs
