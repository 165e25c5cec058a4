// Short (8.3) names for PC files. Windows keeps one for each file where the
// volume makes them; Linux has none, so the PC side makes one the way the
// FAT short-name rule does: a name that already fits 8.3 in code page 1251
// is kept; any other gets capitals, loses what cannot stand in a short
// name, and has its base cut to 6 characters plus "~1", "~2", ... so that
// it is unique in its folder. On Windows the rule stands in for volumes
// without short names (NTFS with them switched off, many network shares).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace skarvel {

// True when the code page 1251 name fits 8.3 as it stands.
bool FitsShortName(const std::string& cp1251);

// Tells whether a generated short name (code page 1251) is taken outside the
// file's folder, for instance on the medium the file is going to.
using TShortNameTaken = std::function<bool(const std::string& cp1251ShortName)>;

// The short name (code page 1251) of the file `name` (UTF-8) among the other
// names of its folder (UTF-8, `name` may be among them). Names are given
// their short forms in sorted order, as files would have been created. When
// `taken` is given, the file's own generated "~n" also skips every n it
// reports taken; a name that fits 8.3 as it stands is kept regardless.
std::string ShortNameAmong(const std::string& name, std::vector<std::string> folderNames,
                           const TShortNameTaken& taken = nullptr);

// The short names of all the names of one folder (UTF-8), index for index:
// the same as ShortNameAmong gives each of them among the others, made in
// one pass (a folder of thousands of programs is named at once).
std::vector<std::string> ShortNamesAmong(const std::vector<std::string>& folderNames);

// The short names of the files `names` (UTF-8) in the folder `folder`,
// index for index, as ShortPathName would give each: on Windows the
// system's own where the volume keeps one, otherwise the rule's among
// `names` (short_name_win.cpp, short_name_posix.cpp).
std::vector<std::string> FolderShortNames(const std::string& folder, const std::vector<std::string>& names);

// The short name of the file at `path` (UTF-8), looking at its folder. On
// Windows "\" and "/" both separate folders, and the name is the system's
// own short name when it has one (short_name_win.cpp, short_name_posix.cpp).
// `taken` works as for ShortNameAmong.
std::string ShortPathName(const std::string& path, const TShortNameTaken& taken = nullptr);

}  // namespace skarvel
