// Valid packets of every type the program receives, written from the wire
// layouts: the seeds from which the dispatch fuzzer mutates.
#pragma once

#include <string>
#include <vector>

#include "DispatchHarness.h"

namespace gs::fuzz {

struct NamedPacket {
    std::string name;  // type letters and a short variant tag, e.g. "MCI-11cars"
    Bytes bytes;
};

// At least one packet of each of the 15 received types, and the variants
// that reach the handlers' other branches.
std::vector<NamedPacket> ValidPackets();

// Whole fuzz inputs: starting states with packet sequences such as a direct
// handshake, a relay list followed by spectating, a race with laps and
// results, and one input per single packet.
std::vector<NamedPacket> DispatchSeeds();

// A few settings files: the written form, a short one, one with spaces and
// "(null)" texts, one with Windows line breaks.
std::vector<NamedPacket> SettingsSeeds();

}  // namespace gs::fuzz
