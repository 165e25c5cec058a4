// What a save wrote to the medium and what reading it back found.
//
// A save writes the file's clusters, then the whole FAT and the directory
// block that holds its entry, a block that holds other files' entries too.
// Reading back only the file's bytes misses a sector the device stored
// wrongly among the others: a flipped bit in a neighbour's entry renames
// that file, one in the FAT cuts or bends a chain. The record keeps every
// sector of the FAT and the directory as the save last sent it, so that the
// check can read each back and name the files a difference touches.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace skarvel {

struct TSaveRecord {
    std::string Name;   // as given to SaveFile (code page 1251)
    std::string Shown;  // the entry's displayed name (TSaveFault::Files names it so)
    uint32_t Size = 0;
    bool Finished = false;  // the save ended with its entry written
    // Sector number -> its 512 bytes as last written; FAT and directory
    // sectors only.
    std::map<uint16_t, std::vector<uint8_t>> Sectors;
    // The first version of a sector written more than once. The entry's
    // block is written when its slot is taken and again, as read back from
    // the medium, when the entry goes live: a byte the device stored wrongly
    // the first time is in the second version too, and only the first tells.
    std::map<uint16_t, std::vector<uint8_t>> Earlier;
    // The saved entry's slot: the one slot meant to change between the
    // versions of its sector.
    uint16_t EntrySector = 0;
    uint16_t EntryOffset = 0;
};

enum class TSaveArea : uint8_t {
    Fat,        // a FAT sector reads back otherwise than it was written
    Directory,  // a directory sector does
    Data,       // the file's bytes read back differ, or it cannot be loaded
};

struct TSaveFault {
    TSaveArea Area = TSaveArea::Data;
    uint16_t Sector = 0;  // Fat and Directory: the sector
    // The displayed names (code page 1251) of the files the difference
    // touches: whose entries changed in a directory sector (by the name as
    // written and, when it changed, as read back), whose chains hold a
    // cluster whose FAT entry changed. Empty for a difference that touches
    // no file (an entry of a free cluster, an unused slot).
    std::vector<std::string> Files;
};

struct TSaveCheck {
    std::vector<TSaveFault> Faults;
    bool Clean() const { return Faults.empty(); }
    // True when a fault touches the saved file itself.
    bool Touches(const std::string& displayName) const;
};

}  // namespace skarvel
