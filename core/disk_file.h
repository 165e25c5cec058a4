// Files on the PC's disk as the medium images and the transfer journal use
// them: an image read and written sector by sector at its offsets, a whole
// file replaced through a temporary file, a line appended in one piece.
// Paths are UTF-8. One implementation per platform: disk_file_posix.cpp,
// disk_file_win.cpp.
//
// A TDiskFile belongs to one thread at a time; the free functions may be
// called on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skarvel {

class TDiskFile {
public:
    TDiskFile();
    ~TDiskFile();  // closes
    TDiskFile(const TDiskFile&) = delete;
    TDiskFile& operator=(const TDiskFile&) = delete;

    // Opens the regular file at path for reading and writing and locks it
    // against every other program that locks it so (a second zvt, a second
    // window): two writers would mix their sectors. False with the reason in
    // error.
    bool Open(const std::string& path, std::string& error);
    // Makes a new file of size zero bytes and opens it as Open does; fails
    // when something exists under path.
    bool Create(const std::string& path, uint64_t size, std::string& error);
    // Flushes what was written to the disk and closes; false (the file is
    // closed all the same) when the flush failed.
    bool Close(std::string& error);
    bool IsOpen() const;
    uint64_t Size() const { return size_; }

    // Whole transfers at an offset within the file: false with the reason
    // in error when fewer bytes moved.
    bool ReadAt(uint64_t offset, void* buffer, size_t count, std::string& error);
    bool WriteAt(uint64_t offset, const void* buffer, size_t count, std::string& error);

private:
    struct THandle;
    std::unique_ptr<THandle> handle_;
    uint64_t size_ = 0;
};

// The whole regular file at path, at most limit bytes; false with the
// reason in error (a larger file included).
bool ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& data, std::string& error);

// A file replaced whole: WriteNewFile writes data to a fresh file at path
// (whatever was there goes first; a link is not followed), flushed to the
// disk; RenameOver then gives it the real name, replacing the file there,
// so that the real name holds either its old bytes or all of the new ones.
bool WriteNewFile(const std::string& path, const std::vector<uint8_t>& data, std::string& error);
bool RenameOver(const std::string& from, const std::string& to, std::string& error);
void RemoveFile(const std::string& path);

// Appends line (its end of line included) to the file at path, creating the
// file (readable by its owner only) and the folders above it as needed.
// The line goes out in one write to a file opened for appending, so lines
// that several programs append at once never mix.
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

// True when something exists under path.
bool PathExists(const std::string& path);

}  // namespace skarvel
