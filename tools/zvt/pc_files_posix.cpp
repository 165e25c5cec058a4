// PC files on Linux: plain POSIX calls, which know no text mode.
#include "tools/zvt/pc_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skarvel {

bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": не обычный файл";
        close(fd);
        return false;
    }
    if (st.st_size > 0x7FFFFFFF) {
        error = path + ": файл слишком велик";
        close(fd);
        return false;
    }
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "Ошибка при чтения файла " + path + ": " +
                    (n < 0 ? std::strerror(errno) : "файл стал короче");
            close(fd);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    return true;
}

bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error) {
    const std::string target = dir + "/" + name;
    const std::string temp = dir + "/." + name + ".zvt-part";
    // A fresh file: never through a link or a file that someone left under
    // the temporary name (it could lead outside the folder).
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "Ошибка при записи файла " + target + ": " + std::strerror(errno);
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
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        error = "Ошибка при записи файла " + target + ": " + std::strerror(ok ? errno : savedErrno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace skarvel
