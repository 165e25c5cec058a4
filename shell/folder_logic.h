// What the folder choice dialog decides, kept apart from its widgets so that
// it can be checked without a display: finding a folder in the tree by its
// path, the name of a new folder, and the write test that a folder must pass
// before files are loaded into it.
//
// Paths here are in Qt's form ('/' separators on every platform: "/home/op",
// "C:/Data"); only SelectedPath and the texts a user reads use the
// platform's own separator.
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <functional>

namespace skarvel {

// The folders the tree shows: directories and, on Windows, the drives;
// hidden folders stay out of sight, as in the platform's own file dialogs.
inline constexpr QDir::Filters kFolderFilter = QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot;

// A path split the way the tree holds it: a top-level node ("/", or a drive
// such as "C:/") and the folder names below it.
struct TFolderPath {
    bool Searchable = false;  // false: relative, empty or a network path ("//server/share")
    QString Root;
    QStringList Names;
};
TFolderPath SplitFolderPath(const QString& path);

// What the tree shows under a folder, in display order: for an empty dir the
// top-level paths ("/", or the drives), else the names of dir's sub-folders.
using TFolderLister = std::function<QStringList(const QString& dir)>;
// The real file system, listed with kFolderFilter.
TFolderLister FileSystemLister();

// Walks the tree from its top level down path's names, matching each name
// exactly (letter case included) against what the tree shows; returns the
// folder's path, or an empty string when some part is not in the tree.
QString FindFolder(const QString& path, const TFolderLister& list);

// Whether a name is in use at path: any entry, a dangling link included.
bool PathTaken(const QString& path);

// The default base name of new folders.
QString DefaultNewFolderName();

// The first free name of base, base(1), base(2), ... (base empty: the
// default name); taken says whether a name is in use in the parent folder.
QString NewFolderName(const QString& base, const std::function<bool(const QString& name)>& taken);

// path with separators replaced by separator and one at its end: "/data"
// gives "/data/", "/" stays "/", "C:/Data" gives "C:\Data\" on Windows.
QString NativeFolderPath(const QString& path, QChar separator = QDir::separator());

// The file operations of the write test (the real ones by default; tests
// replace them to reach failures that root cannot meet otherwise).
struct TWriteTestOps {
    std::function<bool(const QString& path)> Exists;
    std::function<bool(const QString& path)> Remove;
    std::function<bool(const QString& path)> CreateEmpty;  // a new empty file, created and closed
};
TWriteTestOps RealWriteTestOps();

enum class TWriteTest { Passed, CreateFailed, DeleteFailed };

// Deletes a stale testPath first (result ignored), then creates it as a new
// empty file, closes and deletes it.
TWriteTest RunWriteTest(const QString& testPath, const TWriteTestOps& ops);

// The outcome of confirming a folder.
struct TChoice {
    QString SelectedPath;  // NativeFolderPath of the folder, also when the test failed
    QString Error;         // the text to show; empty when the folder passed the test
};

// Confirms folder: makes it the process's current directory (a failure is
// ignored, so the next dialog opens there when it can) and runs the write
// test with testFileName in it.
TChoice ChooseFolder(const QString& folder, const QString& testFileName,
                     const TWriteTestOps& ops = RealWriteTestOps());

}  // namespace skarvel
