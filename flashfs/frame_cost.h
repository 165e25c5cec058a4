// How many sector frames each file operation of the worker exchanges with
// the device, as progress bars count them. Reads and writes are told apart:
// the window counts one direction per operation, zvt counts every frame.
//
// The counts hold while the root directory's live entries and its end mark
// fit into its first block (a cluster's worth of sectors); each further
// block a walk reads adds to the reads. A save whose end mark moves into a
// new sector writes that sector once more.
#pragma once

#include <cstdint>

#include "flashfs/fat_layout.h"

namespace skarvel {

struct TFrameCount {
    uint32_t Reads = 0;
    uint32_t Writes = 0;
    uint32_t All() const { return Reads + Writes; }
};

// Every count is 0 while the geometry is unknown (no sectors per cluster).
// A save of size bytes: the directory read to find a slot, the slot's block
// written reserved, ChainLength clusters, the whole FAT, the block read again
// and written with the entry made live.
TFrameCount SaveFrames(const TVolumeGeometry& g, uint32_t size);
// A load of size bytes: the directory, then the clusters its bytes fill.
TFrameCount LoadFrames(const TVolumeGeometry& g, uint32_t size);
// A delete: the directory read, the block without the entry written, then
// the FAT.
TFrameCount DeleteFrames(const TVolumeGeometry& g);
// The check after a save of size bytes: each FAT and directory sector the
// save wrote, read back, then the file loaded.
TFrameCount VerifyFrames(const TVolumeGeometry& g, uint32_t size);

}  // namespace skarvel
