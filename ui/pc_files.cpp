#include "ui/pc_files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <new>

#include "core/local_name.h"

namespace skarvel {

uint8_t ReadPcFile(const QString& path, std::vector<uint8_t>& data) {
    data.clear();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return pcReadFailed;
    const qint64 size = file.size();
    if (size < 0 || size > INT32_MAX) return pcReadFailed;
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return pcNoMemory;
    }
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(reinterpret_cast<char*>(data.data()) + got, size - got);
        if (n <= 0) return pcReadFailed;  // an error, or the file got shorter
        got += n;
    }
    return 0;
}

uint8_t WritePcFile(const QString& folder, const QString& name, const std::vector<uint8_t>& data) {
    const QString target = folder + name;
    // The save follows a symbolic link to its target, which may lie outside
    // the folder: the link itself is replaced instead.
    if (QFileInfo(target).isSymLink() && !QFile::remove(target)) return pcWriteFailed;
    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) return pcWriteFailed;
    const auto size = static_cast<qint64>(data.size());
    if (size > 0 && file.write(reinterpret_cast<const char*>(data.data()), size) != size) {
        file.cancelWriting();
        return pcWriteFailed;
    }
    return file.commit() ? 0 : pcWriteFailed;
}

bool IsLocalFileName(const QString& name) { return IsLocalFileName(name.toStdString()); }

}  // namespace skarvel
