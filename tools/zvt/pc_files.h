// PC files as the command-line client reads and writes them. Paths and
// names are UTF-8; every byte of a file goes through unchanged (no text
// mode anywhere). One implementation per platform: pc_files_posix.cpp,
// pc_files_win.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace skarvel {

// What a PC file is, looked at without opening it: opening a named pipe
// waits for a writer, a device may block or change state.
enum class TPcKind : uint8_t { Missing, Regular, Folder, Pipe, Device, Other };

// The kind of path and, for a regular file, its size as the file system
// records it (a file in /proc records 0 and has bytes all the same); for
// every other kind, error says what it is, naming the path.
TPcKind LookAtPcFile(const std::string& path, uint64_t& size, std::string& error);

enum class TPcRead : uint8_t {
    Ok,
    Failed,  // not a regular file, unreadable, or changed while it was read (error says which)
    TooBig,  // more than limit bytes; nothing is kept
};

// Reads the regular file at path to its end, whatever size it records,
// holding at most limit + 1 bytes: a file whose recorded size is above
// limit is refused before a byte is read. A file whose size or time of
// change moves while it is read fails: the bytes may be a mix of old and
// new. onChunk, when given, is called with the count read so far after each
// piece.
TPcRead ReadPcFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& data, std::string& error,
                   const std::function<void(uint64_t got)>& onChunk = {});
// The whole regular file (at most 2 GiB - 1 bytes); false with a message in
// error.
bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);

// The pieces a file is read in.
constexpr size_t PcReadChunk = 64 * 1024;

namespace detail {
// "path: <what it is instead of a file>" for the kinds that are no file.
std::string NotAFileText(const std::string& path, TPcKind kind);
// The text of a file that changed while it was read.
std::string ChangedWhileReadText(const std::string& path);
}  // namespace detail

// Writes the bytes to dir/name through a temporary file, flushed to the
// disk and then renamed over the real name, so that a failed write never
// leaves a truncated program under the real name. An existing file is
// replaced unless replace is false: then it stays as it is, even one that
// appeared while the bytes were written, and the write fails naming it.
bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error, bool replace = true);

// True when path names an existing folder.
bool IsFolder(const std::string& path);

// A path as this system writes it: on Windows "/" becomes "\" (both
// separate folders there, and what zvt prints shows the system's one);
// elsewhere the path as it is.
std::string NativePath(const std::string& path);
// dir and name joined by the system's separator (none is added after one,
// nor on Windows after a bare drive: "C:" is that drive's current folder).
std::string PcPath(const std::string& dir, const std::string& name);

}  // namespace skarvel
