// An independent checker of a medium image, for the tests: it reads the
// boot sector, the FAT and the root directory itself (sharing no code with
// the file system) and reports every inconsistency it finds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace skarvel::test {

struct VolumeReport {
    bool Formatted = false;
    std::vector<std::string> Problems;             // empty: the volume is consistent
    std::map<std::string, std::vector<uint8_t>> Files;  // displayed name -> contents
};

// Checks the image: cross-linked, looping, lost or out-of-range clusters,
// chains that end on a free cluster, and sizes that disagree with chain
// lengths (a file of n bytes has n / cluster bytes + 1 clusters).
VolumeReport CheckVolume(const std::vector<uint8_t>& image);

}  // namespace skarvel::test
