#include "flashfs/file_list.h"

#include <stdexcept>

#include "flashfs/my_str.h"

namespace skarvel {

TFileList::~TFileList() = default;

int TFileList::AddFile(const std::string& name, int32_t size, bool flag) {
    // The list is never sorted, so a new entry always goes to the end.
    FStrings.push_back(name);
    FSizes.push_back(size);
    FFlags.push_back(flag);
    return Count() - 1;
}

void TFileList::Clear() {
    FStrings.clear();
    FSizes.clear();
    FFlags.clear();
}

void TFileList::Delete(int index) {
    if (index < 0 || index >= Count()) throw std::out_of_range("TFileList::Delete: list index out of bounds");
    FStrings.erase(FStrings.begin() + index);
    FSizes.erase(FSizes.begin() + index);
    FFlags.erase(FFlags.begin() + index);
}

int TFileList::IndexOf(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& s = FStrings[static_cast<size_t>(i)];
        if (s.size() != name.size()) continue;
        bool same = true;
        for (size_t k = 0; k < s.size() && same; ++k)
            same = CapsTable[static_cast<uint8_t>(s[k])] == CapsTable[static_cast<uint8_t>(name[k])];
        if (same) return i;
    }
    return -1;
}

}  // namespace skarvel
