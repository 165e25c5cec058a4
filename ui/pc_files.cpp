#include "ui/pc_files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <new>

#include "flashfs/fs_flash.h"

#include "core/cp1251.h"
#include "core/local_name.h"

namespace skarvel {

TWindowResult ReadPcFile(const QString& path, std::vector<uint8_t>& data, uint64_t limit) {
    data.clear();
    limit = std::min<uint64_t>(limit, PcFileNoLimit);
    // Looked at before the open: opening a named pipe waits for a writer.
    const QFileInfo before(path);
    if (!before.isFile()) return pcReadFailed;
    if (static_cast<uint64_t>(std::max<qint64>(before.size(), 0)) > limit) return feNoRoom;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return pcReadFailed;
    constexpr qint64 chunk = 64 * 1024;
    try {
        for (;;) {
            const size_t got = data.size();
            const auto want = static_cast<size_t>(std::min<uint64_t>(chunk, limit + 1 - got));
            data.resize(got + want);
            const qint64 n = file.read(reinterpret_cast<char*>(data.data()) + got, static_cast<qint64>(want));
            if (n < 0) {
                data.clear();
                return pcReadFailed;
            }
            data.resize(got + static_cast<size_t>(n));
            if (n == 0) break;
            if (data.size() > limit) {
                data.clear();
                return feNoRoom;
            }
        }
    } catch (const std::bad_alloc&) {
        data.clear();
        return pcNoMemory;
    }
    // A file that changed meanwhile may have given a mix of old and new bytes.
    const QFileInfo after(path);
    if (after.size() != before.size() || after.lastModified() != before.lastModified()) {
        data.clear();
        return pcReadFailed;
    }
    return feOk;
}

TWindowResult WritePcFile(const QString& folder, const QString& name, const std::vector<uint8_t>& data) {
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
    return file.commit() ? TWindowResult() : pcWriteFailed;
}

QString LocalNameOf(const QString& shownName) {
    std::string medium;
    if (!Utf8ToMediumName(shownName.toStdString(), medium)) return QString();
    return QString::fromStdString(SafeLocalName(medium));
}

}  // namespace skarvel
