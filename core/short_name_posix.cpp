// Short names of PC files on Linux, which has none: the rule's name among
// the names of the file's folder.
#include "core/short_name.h"

#include <dirent.h>

namespace skarvel {

std::string ShortPathName(const std::string& path, const TShortNameTaken& taken) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return ShortNameAmong(name, names, taken);
}

}  // namespace skarvel

namespace skarvel {

std::vector<std::string> FolderShortNames(const std::string&, const std::vector<std::string>& names) {
    return ShortNamesAmong(names);
}

}  // namespace skarvel
