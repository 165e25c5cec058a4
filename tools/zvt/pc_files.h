// PC files as the command-line client reads and writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel {

// Reads a whole regular file; false with a message in error.
bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);

// Writes the bytes to dir/name through a temporary file, so that a failed
// write never leaves a truncated program under the real name.
bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error);

}  // namespace skarvel
