// Track path files ("<code>.pth") as the peers use them: the node chain a race
// server drives its simulated cars along, and the catalogue's track codes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gs::peers {

struct PathNode {
    double x = 0, y = 0, z = 0;  // metres (stored as 1/65536 m)
    float dirX = 0, dirY = 0, dirZ = 0;
    float outerLeft = 0, outerRight = 0, roadLeft = 0, roadRight = 0;  // metres from the centre line
};

struct PathData {
    std::vector<PathNode> nodes;
    std::uint32_t finishNode = 0;
};

constexpr std::size_t kPathHeaderSize = 16;
constexpr std::size_t kPathNodeSize = 40;

// Reads and checks a path file. Throws std::runtime_error naming the file and the
// fault when the file cannot be read, is shorter than its header and node count
// say, has fewer than 3 or more than 65535 nodes, a finish node outside the chain,
// or non-finite values.
PathData ReadPathFile(const std::filesystem::path& file);

// True for the codes the spectator's track catalogue knows: two letters of
// SO, FE, BL, AS, KY, WE, a layout digit 1..3 and an optional trailing R.
bool IsCatalogueTrackCode(const std::string& code);
// "AS1" -> <dir>/AS1.pth, "AS1R" -> <dir>/AS1r.pth.
std::filesystem::path PathFileFor(const std::filesystem::path& dir, const std::string& code);
// Every catalogue code in the catalogue's order.
std::vector<std::string> CatalogueTrackCodes();

}  // namespace gs::peers
