// PC files as the command-line client reads and writes them. Paths and
// names are UTF-8; every byte of a file goes through unchanged (no text
// mode anywhere). One implementation per platform: pc_files_posix.cpp,
// pc_files_win.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel {

// Reads a whole regular file; false with a message in error.
bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);

// Writes the bytes to dir/name through a temporary file, flushed to the
// disk and then renamed over the real name (an existing file is replaced),
// so that a failed write never leaves a truncated program under the real
// name.
bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error);

// True when path names an existing folder.
bool IsFolder(const std::string& path);

}  // namespace skarvel
