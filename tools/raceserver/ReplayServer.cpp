// Replay of a recording to spectators.
#include "ReplayServer.h"

#include "Audience.h"

#include <algorithm>
#include <cmath>

namespace gs::raceserver {

namespace {

constexpr std::size_t kNameWidth = 24;

// Offsets of the fields the replay keeps track of.
constexpr std::size_t kMciCount = 8, kStaCount = 12, kStaMode = 15, kNplName = 28, kNplSlot = 96, kPllName = 28,
                      kCprOld = 28, kCprNew = 52, kReoFirst = 4, kReoCount = 61, kRstLaps = 4, kRstMinutes = 5;

std::string PlainName(const peers::PacketReader& in, std::size_t offset) {
    return StripColours(in.Text(offset, kNameWidth));
}

}  // namespace

// ------------------------------------------------------------- recorded state

void RecordedState::Apply(const Bytes& datagram) {
    const peers::PacketReader in(datagram);
    if (in.IsType("ISM")) {
        ism_ = datagram;
    } else if (in.IsType("VER")) {
        ver_ = datagram;
    } else if (in.IsType("STA") && in.Has(kStaCount, 1)) {
        sta_ = datagram;
        players_ = static_cast<int>(std::min<std::uint32_t>(in.U8(kStaCount), 32));
    } else if (in.IsType("MCI") && in.Has(kMciCount, 1)) {
        players_ = static_cast<int>(std::min<std::uint32_t>(in.U8(kMciCount), 32));
    } else if (in.IsType("NPL") && in.Has(kNplSlot, 1)) {
        const std::uint32_t slot = in.U8(kNplSlot);
        if (slot < npl_.size()) npl_[slot] = datagram;
    } else if (in.IsType("PLL") && in.Has(kPllName, kNameWidth)) {
        const int k = FindSlot(PlainName(in, kPllName));
        if (k >= 0) {
            std::move(npl_.begin() + k + 1, npl_.begin() + players_, npl_.begin() + k);
            npl_[static_cast<std::size_t>(players_ - 1)].clear();
            --players_;
        }
    } else if (in.IsType("CPR") && in.Has(kCprNew, kNameWidth)) {
        const int k = FindSlot(PlainName(in, kCprOld));
        Bytes& npl = npl_[static_cast<std::size_t>(std::max(k, 0))];
        if (k >= 0 && npl.size() >= kNplName + kNameWidth)
            std::copy_n(datagram.begin() + kCprNew, kNameWidth, npl.begin() + kNplName);
    } else if (in.IsType("REO") && in.Has(kReoCount, 1)) {
        std::array<Bytes, 32> reordered = npl_;
        for (int i = 0; i < players_; ++i) {
            const std::uint32_t from = in.U8(kReoFirst + 2 * static_cast<std::size_t>(i));
            if (from < npl_.size()) reordered[static_cast<std::size_t>(i)] = npl_[from];
        }
        npl_ = std::move(reordered);
        players_ = static_cast<int>(std::min<std::uint32_t>(in.U8(kReoCount), 32));
    } else if (in.IsType("RST") && in.Has(kRstMinutes, 1) && sta_.size() > kStaMode) {
        sta_[kStaMode] = in.U8(kRstLaps) != 0 ? kModeRace : in.U8(kRstMinutes) != 0 ? kModeQualify : kModeNone;
    }
}

int RecordedState::FindSlot(const std::string& plainName) const {
    for (int i = 0; i < players_; ++i) {
        const Bytes& npl = npl_[static_cast<std::size_t>(i)];
        if (!npl.empty() && PlainName(peers::PacketReader(npl), kNplName) == plainName) return i;
    }
    return -1;
}

Bytes RecordedState::State() const {
    Bytes sta = sta_;
    if (sta.size() > kStaCount) sta[kStaCount] = static_cast<std::uint8_t>(players_);
    return sta;
}

Bytes RecordedState::NewPlayer(std::uint32_t slot) const {
    if (slot >= static_cast<std::uint32_t>(players_) || slot >= npl_.size()) return {};
    Bytes npl = npl_[slot];
    if (npl.size() > kNplSlot) npl[kNplSlot] = static_cast<std::uint8_t>(slot);
    return npl;
}

// ------------------------------------------------------------------ playback

ReplayServer::ReplayServer(ReplayOptions options, const peers::Recording& recording, Clock clock)
    : options_(std::move(options)), recording_(recording), clock_(std::move(clock)) {
    options_.speed = std::clamp(options_.speed, 0.01, 1000.0);
    const auto& records = recording_.records;
    while (firstIndex_ < records.size() && records[firstIndex_].Seconds() < options_.from) {
        if (records[firstIndex_].kind == peers::RecordKind::Datagram) stateAtFirst_.Apply(records[firstIndex_].bytes);
        ++firstIndex_;
    }
    socket_.Bind(options_.bindHost, options_.port);
}

void ReplayServer::Log(const std::string& line) const {
    if (log) log(line);
}

void ReplayServer::Start(Spectator& spectator, double now) const {
    spectator.startReal = now;
    spectator.skipped = 0;
    spectator.next = firstIndex_;
    spectator.ended = false;
    spectator.state = stateAtFirst_;
}

double ReplayServer::DueAt(const Spectator& spectator) const {
    const double recorded = recording_.records[spectator.next].Seconds() - std::max(options_.from, 0.0);
    return spectator.startReal + (recorded - spectator.skipped) / options_.speed;
}

void ReplayServer::Play(const peers::Address& address, Spectator& spectator, double now) {
    const auto& records = recording_.records;
    while (!spectator.ended) {
        if (spectator.next >= records.size()) {
            if (options_.loop && firstIndex_ < records.size()) {
                Log("spectator " + address.ToString() + ": end of the recording, starting again");
                Start(spectator, now);
                continue;
            }
            Log("spectator " + address.ToString() + ": end of the recording");
            spectator.ended = true;
            break;
        }
        // A gap note is taken at once: it shortens the silence that precedes it.
        if (records[spectator.next].kind != peers::RecordKind::Gap && DueAt(spectator) > now) break;
        const peers::Record& record = records[spectator.next++];
        if (record.kind == peers::RecordKind::Gap) {
            // The silence around a lost connection: from the last datagram before
            // the gap note to the first one after it.
            double before = record.Seconds();
            for (std::size_t i = spectator.next - 1; i-- > firstIndex_;)
                if (records[i].kind == peers::RecordKind::Datagram) {
                    before = records[i].Seconds();
                    break;
                }
            for (std::size_t i = spectator.next; i < records.size(); ++i)
                if (records[i].kind == peers::RecordKind::Datagram) {
                    spectator.skipped += std::max(0.0, records[i].Seconds() - before - options_.gapSilence);
                    break;
                }
            continue;
        }
        spectator.state.Apply(record.bytes);
        socket_.SendTo(address, record.bytes);
    }
}

void ReplayServer::Step(int maxWaitMs) {
    double now = clock_();
    int wait = std::max(0, maxWaitMs);
    for (const auto& [address, spectator] : spectators_)
        if (!spectator.ended && spectator.next < recording_.records.size())
            wait = std::min(wait, std::max(0, static_cast<int>(std::ceil((DueAt(spectator) - now) * 1000.0))));
    socket_.WaitReadable(wait);

    now = clock_();
    while (const auto datagram = socket_.Receive()) Handle(*datagram, now);
    for (auto& [address, spectator] : spectators_) Play(address, spectator, now);

    ForgetSilentSpectators(spectators_, now, options_.spectatorTimeout, log);
}

// ------------------------------------------------------------------ requests

void ReplayServer::Handle(const peers::Datagram& datagram, double now) {
    const peers::PacketReader in(datagram.bytes);
    if (in.IsType("ISI")) {
        Spectator* joined = AdmitSpectator(spectators_, datagram, options_.adminPassword, now, log);
        if (!joined) return;
        Start(*joined, now);
        Log("spectator " + datagram.from.ToString() + " joined, playing from " + std::to_string(options_.from) + " s");
        socket_.SendTo(datagram.from, joined->state.Version().empty() ? BuildVer(1) : joined->state.Version());
        return;
    }
    Spectator* known = HeardFrom(spectators_, datagram.from, now);
    if (!known) return;
    Spectator& spectator = *known;
    const RecordedState& state = spectator.state;
    auto answer = [&](const Bytes& packet) {
        if (!packet.empty()) socket_.SendTo(datagram.from, packet);
    };
    if (in.IsType("SST")) {
        answer(state.State());
    } else if (in.IsType("ISM")) {
        answer(state.ServerName());
    } else if (in.IsType("VER")) {
        answer(state.Version().empty() ? BuildVer(1) : state.Version());
    } else if (in.IsType("NPL")) {
        answer(state.NewPlayer(in.U32(4)));
    } else if (in.IsType("ISC")) {
        SpectatorLeft(spectators_, datagram.from, log);
    }
    // "NLI" cannot change a recording's cadence; it, "ACK" and anything else
    // only count as a sign of life.
}

}  // namespace gs::raceserver
