// Fuzz harnesses of the file readers: the fuzz input is written as the file
// into a scratch folder and read back through the program's own loader.
//
//   RunSettingsInput - the settings file: what is read stays within its
//                      limits and survives a write and a second read
//   RunTrackInput    - a path file and a mesh file loaded by LoadTrack: a
//                      load either fails with the loader's message or gives
//                      a mesh whose every triangle indexes its own points
//
// Track input layout: byte 0 bit 0 = the path file exists, bit 1 = the mesh
// file exists; byte 1 mod 33 = the path file's length; then the path file's
// bytes; the rest is the mesh file.
//
// Each returns the first broken property, or an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gs::fuzz {

// A folder of this process's own under the temp dir, made on first use.
const std::string& ScratchDir();

// Writes `size` bytes to `path`, replacing it.
void WriteFileBytes(const std::string& path, const std::uint8_t* data, std::size_t size);

std::string RunSettingsInput(const std::uint8_t* data, std::size_t size);
std::string RunTrackInput(const std::uint8_t* data, std::size_t size);

}  // namespace gs::fuzz
