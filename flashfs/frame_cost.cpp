#include "flashfs/frame_cost.h"

namespace skarvel {

TFrameCount SaveFrames(const TVolumeGeometry& g, uint32_t size) {
    const uint32_t spc = g.SectorsPerCluster;
    if (spc == 0) return {};
    return {2 * spc, spc * ChainLength(size, g.ClusterBytes()) + 2 * spc + g.SectorsPerFAT};
}

TFrameCount LoadFrames(const TVolumeGeometry& g, uint32_t size) {
    const uint32_t spc = g.SectorsPerCluster;
    if (spc == 0) return {};
    return {spc * (FilledClusters(size, g.ClusterBytes()) + 1), 0};
}

TFrameCount DeleteFrames(const TVolumeGeometry& g) {
    const uint32_t spc = g.SectorsPerCluster;
    if (spc == 0) return {};
    return {spc, spc + g.SectorsPerFAT};
}

TFrameCount VerifyFrames(const TVolumeGeometry& g, uint32_t size) {
    if (g.SectorsPerCluster == 0) return {};
    // The save wrote the entry's block and the whole FAT.
    return {g.SectorsPerCluster + g.SectorsPerFAT + LoadFrames(g, size).Reads, 0};
}

}  // namespace skarvel
