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

// Track inputs (layout in FileHarness.h): hand-made meshes, and when a run
// folder is given, its generated tracks cut after the last whole object
// that fits in `maxBytes`.
std::vector<NamedPacket> TrackSeeds(const std::string& runFolder, std::size_t maxBytes);

// Small bitmaps of every header kind and depth the loader accepts, and
// when a run folder is given, a few of its generated bitmaps.
std::vector<NamedPacket> BitmapSeeds(const std::string& runFolder, std::size_t maxBytes);

}  // namespace gs::fuzz
