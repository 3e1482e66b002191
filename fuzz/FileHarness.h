// Fuzz harnesses of the file readers: the fuzz input is written as the file
// into a scratch folder and read back through the program's own loader.
//
//   RunSettingsInput - the settings file: what is read stays within its
//                      limits and survives a write and a second read
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

}  // namespace gs::fuzz
