// The volume check on whole medium images, for the tests: the analysis of
// flashfs/volume_check.h over an image's boot sector, FAT and root, the
// files' bytes read along their chains, and fsck.fat as a second opinion
// that shares nothing with this code.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "flashfs/volume_check.h"

namespace skarvel::test {

// The tables of an image as `zvt check` reads them: sector 0, the first FAT,
// the whole root directory. The device's size is the image's.
TVolumeTables TablesOf(const std::vector<uint8_t>& image);

struct VolumeReport {
    bool Formatted = false;
    TCheckReport Check;
    std::vector<std::string> Problems;                  // one line per problem; empty: consistent
    std::map<std::string, std::vector<uint8_t>> Files;  // displayed name -> contents, as far as the chain holds
};

VolumeReport CheckVolume(const std::vector<uint8_t>& image);

// A problem in one line, for failure messages.
std::string ProblemLine(const TCheckProblem& p);

// The kinds of the problems found, in order.
std::vector<TCheckKind> ProblemKinds(const TCheckReport& r);

// What `fsck.fat -A -n` finds on the image beyond the remarks it makes on
// every volume of this system (no label field in the boot sector; one
// cluster more than whole clusters of bytes, which it calls a chain longer
// than the size). -A makes it take the 16-bit FAT as it is: without it, it
// reads 1014 clusters as a 12-bit FAT. nullopt when fsck.fat is missing.
std::optional<std::vector<std::string>> FsckFindings(const std::vector<uint8_t>& image);

}  // namespace skarvel::test
