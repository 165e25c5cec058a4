// PC files on Linux: plain POSIX calls, which know no text mode.
#include "tools/zvt/pc_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skarvel {

namespace {

TPcKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return TPcKind::Regular;
    if (S_ISDIR(mode)) return TPcKind::Folder;
    if (S_ISFIFO(mode)) return TPcKind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return TPcKind::Device;
    return TPcKind::Other;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The system's reason in zvt's language: the C library speaks English
// unless the program switches its locale, which would also change what the
// rest of the client takes a byte for. The reasons a PC file's read or
// write meets in practice; any other keeps the library's text.
std::string ErrnoText(int code) {
    switch (code) {
        case ENOENT: return "нет такого файла или папки";
        case EACCES:
        case EPERM: return "доступ запрещён";
        case ENOTDIR: return "часть пути не является папкой";
        case EISDIR: return "это папка";
        case ENAMETOOLONG: return "слишком длинное имя";
        case ELOOP: return "слишком много символических ссылок";
        case ENOSPC: return "на диске нет места";
        case EDQUOT: return "превышена дисковая квота";
        case EROFS: return "файловая система только для чтения";
        case EIO: return "ошибка ввода-вывода";
        case EEXIST: return "файл уже существует";
        default: return std::strerror(code);
    }
}

// Closes a descriptor when it goes out of scope.
struct TFd {
    int fd;
    ~TFd() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

TPcKind LookAtPcFile(const std::string& path, uint64_t& size, std::string& error) {
    size = 0;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = path + ": " + ErrnoText(errno);
        return TPcKind::Missing;
    }
    const TPcKind kind = KindOf(st.st_mode);
    if (kind != TPcKind::Regular) {
        error = detail::NotAFileText(path, kind);
        return kind;
    }
    size = static_cast<uint64_t>(st.st_size);
    return kind;
}

TPcRead ReadPcFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& data, std::string& error,
                   const std::function<void(uint64_t)>& onChunk) {
    data.clear();
    // No file of the medium comes near; the bound keeps the count in range.
    limit = std::min<uint64_t>(limit, 0x7FFFFFFF);
    uint64_t recorded = 0;
    if (LookAtPcFile(path, recorded, error) != TPcKind::Regular) return TPcRead::Failed;
    if (recorded > limit) return TPcRead::TooBig;
    // Without blocking: should a pipe have taken the file's place since the
    // look, the open returns at once and the check below refuses it.
    TFd file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (file.fd < 0) {
        error = path + ": " + ErrnoText(errno);
        return TPcRead::Failed;
    }
    struct stat before {};
    if (fstat(file.fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        error = detail::NotAFileText(path, KindOf(before.st_mode));
        return TPcRead::Failed;
    }
    if (static_cast<uint64_t>(before.st_size) > limit) return TPcRead::TooBig;
    // To its end, whatever size it records; one piece beyond the limit
    // tells a file that is too big.
    for (;;) {
        const size_t got = data.size();
        const size_t want = static_cast<size_t>(std::min<uint64_t>(PcReadChunk, limit + 1 - got));
        data.resize(got + want);
        const ssize_t n = read(file.fd, data.data() + got, want);
        if (n < 0 && errno == EINTR) {
            data.resize(got);
            continue;
        }
        if (n < 0) {
            error = "Ошибка при чтения файла " + path + ": " + ErrnoText(errno);
            data.clear();
            return TPcRead::Failed;
        }
        data.resize(got + static_cast<size_t>(n));
        if (n == 0) break;
        if (data.size() > limit) {
            data.clear();
            return TPcRead::TooBig;
        }
        if (onChunk) onChunk(data.size());
    }
    struct stat after {};
    if (fstat(file.fd, &after) != 0 || !SameFile(before, after)) {
        error = detail::ChangedWhileReadText(path);
        data.clear();
        return TPcRead::Failed;
    }
    return TPcRead::Ok;
}

namespace {

// Gives the temporary file the name target only while no file holds it:
// a hard link takes a name atomically (EEXIST otherwise). A file system
// without hard links (a FAT stick) gets a look first and a rename.
bool PlaceIfFree(const std::string& temp, const std::string& target) {
    if (link(temp.c_str(), target.c_str()) == 0) return true;
    if (errno == EEXIST) return false;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(temp.c_str(), target.c_str()) == 0;
}

}  // namespace

bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error, bool replace) {
    const std::string target = PcPath(dir, name);
    const std::string temp = PcPath(dir, "." + name + ".zvt-part");
    // A fresh file: never through a link or a file that someone left under
    // the temporary name (it could lead outside the folder).
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "Ошибка при записи файла " + target + ": " + ErrnoText(errno);
        return false;
    }
    size_t put = 0;
    while (put < data.size()) {
        const ssize_t n = write(fd, data.data() + put, data.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        put += static_cast<size_t>(n);
    }
    const bool ok = put == data.size() && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    const bool placed = ok && (replace ? rename(temp.c_str(), target.c_str()) == 0 : PlaceIfFree(temp, target));
    if (!placed) {
        const int why = ok ? errno : savedErrno;
        error = "Ошибка при записи файла " + target + ": " +
                (ok && !replace && why == EEXIST ? std::string("файл уже есть, не заменён") : ErrnoText(why));
        unlink(temp.c_str());
        return false;
    }
    if (!replace) unlink(temp.c_str());
    return true;
}

std::string NativePath(const std::string& path) { return path; }

std::string PcPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace skarvel
