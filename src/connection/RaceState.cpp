#include "connection/RaceState.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/Platform.h"
#include "common/Text.h"

namespace gs {

namespace {

// Copies text into a fixed terminated field, cut to the field's width.
template <std::size_t N>
void StoreText(char (&field)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

bool ValidSlot(int slot) { return slot >= 0 && slot < MaxPlayers; }

// Compares two time triples field by field.
bool EarlierTime(int m1, int s1, int h1, int m2, int s2, int h2) {
    if (m1 != m2) return m1 < m2;
    if (s1 != s2) return s1 < s2;
    return h1 < h2;
}

}  // namespace

void MessageLog::Add(std::string_view text) {
    if (count_ == MaxEntries) TrimOldest(0);
    slots_[(first_ + count_) % MaxEntries].Text.assign(text.substr(0, MessageEntry::MaxLength));
    ++count_;
}

bool MessageLog::TrimOldest(std::size_t keep) {
    if (count_ == 0 || count_ - 1 < keep) return false;
    first_ = (first_ + 1) % MaxEntries;
    --count_;
    return true;
}

void RaceState::AddMessage(const char* format, ...) {
    char buffer[MessageEntry::MaxLength + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    Log.Add(buffer);
}

void RaceState::InitSampleClock(const gs::Clock& counter) {
    Clock.Frequency = counter.Frequency();
    // A counter slower than 100 Hz would make the step zero ticks long and
    // the catch-up loop endless; one tick per 10 ms is the floor.
    Clock.TicksPer10ms = std::max<std::int64_t>(Clock.Frequency / 100, 1);
    Clock.Base = counter.Counter();
    Clock.Now = Clock.Base;
}

void RaceState::AdvanceSampleClock(const gs::Clock& counter) { AdvanceSampleClockTo(counter.Counter()); }

void RaceState::AdvanceSampleClockTo(std::int64_t now) {
    Clock.Now = now;
    const std::int64_t step = 50 * std::max<std::int64_t>(Clock.TicksPer10ms, 1);
    if (Clock.Now < Clock.Base + step) return;
    const std::int64_t steps = (Clock.Now - Clock.Base) / step;
    Clock.Base += steps * step;
    // Each step drops the oldest sample of every queue holding 6 or more; a
    // queue holds at most 8, so no step after the third can change anything.
    const std::int64_t effective = std::min<std::int64_t>(steps, MaxSamples);
    for (std::int64_t s = 0; s < effective; ++s) {
        for (int i = 0; i < PlayerCount; ++i) {
            PlayerRecord& p = Players[i];
            if (p.SampleCount >= 6) {
                std::memmove(&p.Samples[0], &p.Samples[1], sizeof(CarSample) * (MaxSamples - 1));
                --p.SampleCount;
            }
        }
    }
}

void RaceState::ResizePlayers(int newCount) {
    newCount = std::clamp(newCount, 0, MaxPlayers);
    for (int i = PlayerCount; i < newCount; ++i) Players[i].SampleCount = 0;
    PlayerCount = newCount;
}

void RaceState::PushSample(int slot, const CarSample& sample, std::uint32_t node, std::int32_t lap, float z) {
    if (!ValidSlot(slot)) return;
    PlayerRecord& p = Players[slot];
    if (p.SampleCount < 0 || p.SampleCount >= MaxSamples) return;
    p.Samples[p.SampleCount] = sample;
    p.Node = node;
    p.Lap = lap;
    p.Z = z;
    ++p.SampleCount;
}

void RaceState::SetPlayer(int slot, const char* rawName, const char* car) {
    if (!ValidSlot(slot)) return;
    StoreText(Players[slot].Name, StripColourCodes(rawName, WireNameWidth));
    StoreText(Players[slot].Car, FieldText(car, WireCarWidth));
}

int RaceState::FindPlayer(const std::string& name) const {
    for (int i = 0; i < PlayerCount; ++i)
        if (name == Players[i].Name) return i;
    return -1;
}

void RaceState::RemovePlayerByName(const char* rawName) {
    const int k = FindPlayer(StripColourCodes(rawName, WireNameWidth));
    if (k < 0) return;
    for (int j = k + 1; j < PlayerCount; ++j) {
        if (FollowIndex == j) FollowIndex = j - 1;
        Players[j - 1] = Players[j];
    }
    --PlayerCount;
}

void RaceState::RenamePlayer(const char* rawOldName, const char* rawNewName) {
    const int k = FindPlayer(StripColourCodes(rawOldName, WireNameWidth));
    if (k < 0) return;
    StoreText(Players[k].Name, StripColourCodes(rawNewName, WireNameWidth));
}

void RaceState::ReorderPlayers(const std::uint8_t* order, int newCount) {
    // Positions that get no valid slot (an order byte of 32 or more, or a
    // count that grows) keep what they held.
    PlayerRecord scratch[MaxPlayers];
    std::copy(std::begin(Players), std::end(Players), std::begin(scratch));
    for (int i = 0; i < PlayerCount; ++i)
        if (order[i] < MaxPlayers) scratch[i] = Players[order[i]];
    PlayerCount = std::clamp(newCount, 0, MaxPlayers);
    std::copy(scratch, scratch + PlayerCount, Players);
}

void RaceState::RecordLap(int slot, int minutes, int seconds, int hundredths, const char* car) {
    if (!ValidSlot(slot)) return;
    PlayerRecord& p = Players[slot];
    const bool noBest = p.BestMin == 0 && p.BestSec == 0 && p.BestHund == 0;
    if (noBest || EarlierTime(minutes, seconds, hundredths, p.BestMin, p.BestSec, p.BestHund)) {
        p.BestMin = minutes;
        p.BestSec = seconds;
        p.BestHund = hundredths;
    }
    if (!p.Finished) {
        p.TotalHund += hundredths;
        p.TotalSec += p.TotalHund / 100 + seconds;
        p.TotalHund %= 100;
        // Laps reported without end stop the minutes at the largest value
        // instead of overflowing them.
        const std::int64_t totalMin = std::int64_t{p.TotalMin} + p.TotalSec / 60 + minutes;
        p.TotalMin = static_cast<std::int32_t>(std::clamp<std::int64_t>(totalMin, INT32_MIN, INT32_MAX));
        p.TotalSec %= 60;
    }
    StoreText(p.Car, FieldText(car, WireCarWidth));
}

void RaceState::RecordResult(const char* rawName, int totalMin, int totalSec, int totalHund, int bestMin, int bestSec,
                             int bestHund) {
    const std::string name = StripColourCodes(rawName, WireNameWidth);
    for (int i = 0; i < PlayerCount; ++i) {
        PlayerRecord& p = Players[i];
        if (name != p.Name) continue;
        p.Finished = 1;
        p.TotalMin = totalMin;
        p.TotalSec = totalSec;
        p.TotalHund = totalHund;
        p.BestMin = bestMin;
        p.BestSec = bestSec;
        p.BestHund = bestHund;
    }
}

void RaceState::ResetRace(std::uint32_t laps, std::uint32_t qualMinutes) {
    for (int i = 0; i < PlayerCount; ++i) {
        PlayerRecord& p = Players[i];
        p.Finished = 0;
        p.BestMin = p.BestSec = p.BestHund = 0;
        p.TotalMin = p.TotalSec = p.TotalHund = 0;
    }
    RaceLaps = laps;
    QualMinutes = qualMinutes;
    RaceMode = laps != 0 ? rmRace : qualMinutes != 0 ? rmQualify : rmNone;
}

void RaceState::ResetTimes() {
    for (int i = 0; i < PlayerCount; ++i) {
        PlayerRecord& p = Players[i];
        p.BestMin = p.BestSec = p.BestHund = 0;
        p.TotalMin = p.TotalSec = p.TotalHund = 0;
    }
    PlayerCount = 0;
}

}  // namespace gs
