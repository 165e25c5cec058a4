// The volume check: what the boot sector, the FAT and the root directory say
// about a medium, found from their bytes alone. It moves no sector itself:
// `zvt check` reads the bytes through the worker, the tests take them from
// an image. It walks every chain on its own, so that it also catches what
// the file operations get wrong.
//
// Plain functions, no state: callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flashfs/fat_layout.h"

namespace skarvel {

struct TVolumeTables {
    std::vector<uint8_t> Boot;  // sector 0
    std::vector<uint8_t> Fat;   // the first FAT, all its sectors
    std::vector<uint8_t> Root;  // the root directory from its first sector, at least up to its end mark
    uint32_t MediumSectors = 0;  // the device's size (0 = unknown)
};

enum class TCheckKind : uint8_t {
    LostClusters,     // a chain taken in the FAT that no entry reaches: Cluster its first, Value how many;
                      // Name the save that left it, when a reserved slot names it
    CrossLink,        // Name's chain runs into Cluster, which Other's chain holds
    ShortChain,       // Name's chain ends after Value clusters, fewer than its size needs
    LongChain,        // Name's chain has Value clusters, more than its size needs
    Loop,             // Name's chain comes back to Cluster
    LeavesDataArea,   // Name's chain links from Cluster to Value, which is no data cluster
    FreeInChain,      // Name's chain links from Cluster to Value, which the FAT calls free
    BadFirstCluster,  // Name's first cluster Cluster is no data cluster (or 0 with a size above 0)
    UnfinishedSave,   // Name's first cluster Cluster is free: the entry of a save that never finished
    DuplicateName,    // Name and Other answer one name alike, so neither is loaded or deleted by it
    TakenBeyondData,  // Value FAT entries beyond the last data cluster are not free
};

struct TCheckProblem {
    TCheckKind Kind = TCheckKind::LostClusters;
    std::string Name;   // displayed name of the entry (code page 1251), or ""
    std::string Other;  // the second entry of a cross-link or a duplicate
    uint32_t Cluster = 0;
    uint32_t Value = 0;
};

// A file or directory entry of the root with its chain as far as it holds.
struct TCheckedEntry {
    std::string Name;
    uint32_t Size = 0;
    bool Directory = false;
    std::vector<uint16_t> Chain;
};

struct TCheckReport {
    bool Formatted = false;  // the boot sector decodes
    TVolumeFault Foreign = TVolumeFault::None;
    TVolumeGeometry Geometry;
    std::vector<TCheckedEntry> Entries;
    std::vector<TCheckProblem> Problems;
    // Clusters taken in the FAT that no entry reaches: what a repair frees.
    std::vector<uint16_t> Lost;
    // With subdirectories in the root, the taken clusters no root entry
    // reaches may hold their files, which are never read: they are counted
    // here instead of being lost.
    uint32_t Unexplained = 0;

    bool Clean() const { return Formatted && Foreign == TVolumeFault::None && Problems.empty(); }
    // Lost clusters may be freed only when no chain is damaged: a damaged
    // chain's true continuation may be among them.
    bool Repairable() const;
};

TCheckReport CheckVolume(const TVolumeTables& tables);

}  // namespace skarvel
