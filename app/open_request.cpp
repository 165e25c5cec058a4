// The frame of a later start's request to the running window.
#include <QDir>
#include <QStringDecoder>
#include <QtEndian>

#include "app/open_request.h"

namespace skarvel {

namespace {

constexpr char Magic[] = "SKVOPEN1";
constexpr int MagicSize = 8;
constexpr int HeaderSize = MagicSize + 4;

}  // namespace

QByteArray EncodeOpenRequest(const QStringList& files) {
    QByteArray body;
    for (const QString& f : files) {
        body += f.toUtf8();
        body += '\0';
    }
    QByteArray frame(Magic, MagicSize);
    char length[4];
    qToBigEndian(static_cast<quint32>(body.size()), length);
    frame.append(length, 4);
    frame += body;
    return frame;
}

TFrameState DecodeOpenRequest(const QByteArray& received, QStringList& files) {
    files.clear();
    const int seen = static_cast<int>(std::min<qsizetype>(received.size(), MagicSize));
    if (received.left(seen) != QByteArray(Magic, seen)) return TFrameState::Bad;
    if (received.size() < HeaderSize) return TFrameState::Incomplete;
    const quint32 length = qFromBigEndian<quint32>(received.constData() + MagicSize);
    if (length > static_cast<quint32>(MaxOpenRequestBytes)) return TFrameState::Bad;
    const qsizetype whole = HeaderSize + static_cast<qsizetype>(length);
    if (received.size() < whole) return TFrameState::Incomplete;
    if (received.size() > whole) return TFrameState::Bad;
    if (length > 0 && received.back() != '\0') return TFrameState::Bad;
    qsizetype from = HeaderSize;
    while (from < whole) {
        const qsizetype end = received.indexOf('\0', from);
        const QByteArray raw = received.mid(from, end - from);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString path = utf8(raw);
        // Qt takes ":/..." for a resource of its own, never a file.
        if (raw.isEmpty() || utf8.hasError() || !QDir::isAbsolutePath(path) || path.startsWith(u':')) {
            files.clear();
            return TFrameState::Bad;
        }
        files << path;
        from = end + 1;
    }
    return TFrameState::Complete;
}

}  // namespace skarvel
