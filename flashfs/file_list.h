// A list of file names with two columns kept index for index beside the
// names: Sizes (32-bit signed sizes in bytes) and Flags (one Boolean each).
// Names are code page 1251 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel {

using sizeArr = std::vector<int32_t>;
using boolArr = std::vector<bool>;

class TFileList {
public:
    TFileList() = default;
    virtual ~TFileList();
    TFileList(const TFileList&) = default;
    TFileList& operator=(const TFileList&) = default;

    // Appends Name with its size and flag; returns the new entry's index.
    int AddFile(const std::string& name, int32_t size, bool flag);
    // Removes every entry. Derived lists may keep some (they override this).
    virtual void Clear();
    // Removes entry index; later entries move down by one. Throws
    // std::out_of_range for an index that is not in the list.
    virtual void Delete(int index);

    int Count() const { return static_cast<int>(FStrings.size()); }
    // Index of the first entry whose name equals name, letter case ignored
    // (code page 1251 capitals, Cyrillic included); -1 when absent.
    int IndexOf(const std::string& name) const;

    // Element access; an index outside the list throws std::out_of_range.
    const std::string& Strings(int index) const { return FStrings.at(Checked(index)); }
    int32_t Sizes(int index) const { return FSizes.at(Checked(index)); }
    bool Flags(int index) const { return FFlags.at(Checked(index)); }
    void SetString(int index, const std::string& name) { FStrings.at(Checked(index)) = name; }
    void SetSize(int index, int32_t size) { FSizes.at(Checked(index)) = size; }
    void SetFlag(int index, bool flag) { FFlags.at(Checked(index)) = flag; }

    // The whole columns, read-only.
    const std::vector<std::string>& StringList() const { return FStrings; }
    const sizeArr& SizeArray() const { return FSizes; }
    const boolArr& FlagArray() const { return FFlags; }

private:
    static size_t Checked(int index) {
        return index < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(index);
    }

    std::vector<std::string> FStrings;
    sizeArr FSizes;
    boolArr FFlags;
};

}  // namespace skarvel
