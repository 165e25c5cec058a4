// PC files as the window reads and writes them. Every failure is one of the
// window's own result codes, whose texts are in its message table; nothing
// here throws. Safe on any thread.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "ui/window_result.h"

namespace skarvel {

// No file of the medium comes near this size.
constexpr uint64_t PcFileNoLimit = 0x7FFFFFFF;

// Reads the regular file at path, opened for reading only, to its end
// whatever size it records (a file in /proc records none). What is no
// regular file (a folder, a named pipe whose open would wait for a writer,
// a device) is refused before any open; so is a file that changes while it
// is read. At most limit bytes are taken: a file with more (by its recorded
// size, before a byte is read, or by what the read finds) gives feNoRoom
// and no bytes; the write passes the medium's free space.
// Returns feOk, pcNoMemory, pcReadFailed or feNoRoom.
TWindowResult ReadPcFile(const QString& path, std::vector<uint8_t>& data, uint64_t limit = PcFileNoLimit);

// Writes folder + name through a temporary file in that folder, renamed over
// the target only once every byte is on the disk: a failed write leaves any
// earlier file of that name as it was, and no partial file behind.
// folder ends with a path separator. Returns feOk or pcWriteFailed.
TWindowResult WritePcFile(const QString& folder, const QString& name, const std::vector<uint8_t>& data);

// The name of a medium file's copy inside a PC folder, for the medium's name
// as the list shows it (bytes of another code page escaped as \xHH, which
// become %HH); empty when the name cannot stand as a file name there (the
// rule of core/local_name.h).
QString LocalNameOf(const QString& shownName);

}  // namespace skarvel
