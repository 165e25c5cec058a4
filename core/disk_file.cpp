// What both platforms share of the disk files.
#include "core/disk_file.h"

namespace skarvel {

bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    const std::string temp = path + ".part";
    if (!WriteNewFile(temp, data, error)) return false;
    if (RenameOver(temp, path, error)) return true;
    RemoveFile(temp);
    return false;
}

}  // namespace skarvel
