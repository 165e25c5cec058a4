// Whole-medium images: every sector of the medium copied into an image file
// on the PC (a backup), and an image written back onto the medium (a
// restore), sector by sector through the worker's transport; the device has
// no command that moves more than one sector.
//
// A restore first writes a zero boot sector, then sectors 1 to the last,
// and the image's boot sector last of all, each read back and compared: a
// restore that is cut off (a cancel, a pulled cable) leaves a medium that
// no longer mounts, never one whose old boot sector and FAT point into the
// new data and would load a wrong program.
//
// Texts are UTF-8. The copies run on the worker thread (inside a request,
// like every operation of the worker); the image checks and the PC files
// on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

// How a whole-medium copy ended.
enum class TCopyEnd : uint8_t {
    Done,
    Failed,    // a transfer failed: Error is the worker's code
    Aborted,   // the user cancelled (FAbort)
    Mismatch,  // a sector read back differs from what was written to it
    Refused,   // the image is none for this medium (Why says why); nothing was written
};

struct TMediumCopy {
    TCopyEnd End = TCopyEnd::Done;
    TFlashError Error = feOk;  // Failed: the error code; Aborted: feAborted
    uint32_t Sector = 0;   // where a failed transfer or a mismatch happened
    uint32_t Sectors = 0;  // the medium's sectors
    std::string Why;       // Refused: the reason

    bool Ok() const { return End == TCopyEnd::Done; }
    // Whether the medium's sectors may have changed (a restore that wrote).
    bool Wrote = false;
};

// The sector transfers a backup and a restore make on a medium of sectors
// sectors whose volume has fatSectors FAT sectors (the mounts included),
// for progress bars.
inline uint32_t BackupTransfers(uint32_t sectors, uint32_t fatSectors) { return 1 + fatSectors + sectors; }
inline uint32_t RestoreTransfers(uint32_t sectors, uint32_t fatSectors) {
    return 2 * (1 + fatSectors) + 2 * (sectors + 1);
}

// The text of a copy that did not succeed ("" for Done).
std::string MediumCopyText(const TMediumCopy& copy);

// Worker thread. Identifies the device, mounts its medium (a medium that
// does not mount has no volume to save: the copy fails with the mount's
// code) and reads every sector into image.
TMediumCopy ReadWholeMedium(TFlash& flash, std::vector<uint8_t>& image);

// Worker thread. Identifies the device, refuses an image that is no volume
// of this medium (CheckMediumImage), then writes and verifies every sector
// in the order above and mounts the volume written.
TMediumCopy WriteWholeMedium(TFlash& flash, const std::vector<uint8_t>& image);

// "" when image can go onto a medium of mediumSize bytes: the same size, a
// boot sector that decodes, and a volume that fits the medium with a 16-bit
// FAT (the mount's rules). Otherwise why not.
std::string CheckMediumImage(const std::vector<uint8_t>& image, uint32_t mediumSize);

// The image file at path, read whole (at most 32 MiB: no medium is larger).
bool LoadMediumImage(const std::string& path, std::vector<uint8_t>& image, std::string& error);

// Saves image at path through a temporary file, renamed over path only
// once it has been read back from the disk byte for byte and its volume
// reads as one of the medium (mediumSize bytes). A failed save leaves path
// as it was.
bool SaveMediumImage(const std::string& path, const std::vector<uint8_t>& image, uint32_t mediumSize,
                     std::string& error);

}  // namespace skarvel
