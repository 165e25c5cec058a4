// One window per user session: the listening window and the later start
// that hands it its files.
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QLockFile>

#include "app/open_request.h"
#include "app/single_instance.h"

namespace skarvel {

TSingleInstance::TSingleInstance(TInstanceAddress address, QObject* parent)
    : QObject(parent), address_(std::move(address)) {
    // The socket is made in a private folder of its own and then moved into
    // place, so it is never open to others, not even for a moment.
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
}

TSingleInstance::~TSingleInstance() { Stop(); }

TSingleInstance::TStart TSingleInstance::Start(bool handOver, const QStringList& files) {
    note_.clear();
    if (!address_.Problem.empty()) {
        note_ = QString::fromStdString(address_.Problem);
        return TStart::OwnWindow;
    }
    const QString name = QString::fromStdString(address_.ServerName);
    // A window that closes the connection without an answer is going away:
    // asked again, the next start finds no window, or a new one.
    for (int attempt = 0; attempt < 3; ++attempt) {
        QLockFile lock(QString::fromStdString(address_.LockPath));
        if (!lock.tryLock(LockTimeoutMs)) {
            note_ = QStringLiteral("cannot take the lock %1 (error %2)")
                        .arg(QString::fromStdString(address_.LockPath))
                        .arg(static_cast<int>(lock.error()));
            return TStart::OwnWindow;
        }
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(AnswerTimeoutMs)) {
            lock.unlock();
            if (!handOver) return TStart::OwnWindow;
            switch (Send(socket, files)) {
            case TSend::Handed: return TStart::Handed;
            case TSend::Failed: return TStart::Failed;
            case TSend::Closed: continue;
            }
        }
        switch (socket.error()) {
        case QLocalSocket::ConnectionRefusedError:
            // The socket is there but nobody listens: a crashed window's.
            QLocalServer::removeServer(name);
            [[fallthrough]];
        case QLocalSocket::ServerNotFoundError:
            Listen();
            return TStart::OwnWindow;
        default:
            note_ = name + QStringLiteral(": ") + socket.errorString();
            return TStart::OwnWindow;
        }
    }
    note_ = QStringLiteral("the running window closed the connection without an answer");
    return TStart::Failed;
}

TSingleInstance::TSend TSingleInstance::Send(QLocalSocket& socket, const QStringList& files) {
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    socket.write(EncodeOpenRequest(files));
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
    }
    QByteArray answer;
    for (;;) {
        if (socket.bytesAvailable() > 0) {
            answer = socket.read(1);
            break;
        }
        if (socket.state() != QLocalSocket::ConnectedState) return TSend::Closed;
        if (deadline.hasExpired()) {
            note_ = QStringLiteral("no answer within %1 s").arg(AnswerTimeoutMs / 1000);
            return TSend::Failed;
        }
        socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    if (answer.at(0) == OpenAck) return TSend::Handed;
    note_ = QStringLiteral("an unexpected answer");
    return TSend::Failed;
}

void TSingleInstance::Listen() {
    const QString name = QString::fromStdString(address_.ServerName);
    if (!server_.listen(name)) note_ = name + QStringLiteral(": ") + server_.errorString();
}

void TSingleInstance::Stop() { server_.close(); }

void TSingleInstance::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        if (!PeerIsSameUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        frames_[socket];
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            frames_.erase(socket);
            socket->deleteLater();
        });
        Read(socket);
    }
}

void TSingleInstance::Read(QLocalSocket* socket) {
    const auto it = frames_.find(socket);
    if (it == frames_.end()) return;
    it->second += socket->readAll();
    QStringList files;
    switch (DecodeOpenRequest(it->second, files)) {
    case TFrameState::Incomplete:
        return;
    case TFrameState::Bad:
        frames_.erase(it);
        socket->abort();
        return;
    case TFrameState::Complete:
        frames_.erase(it);
        socket->write(&OpenAck, 1);
        socket->disconnectFromServer();
        emit OpenRequested(files);
        return;
    }
}

}  // namespace skarvel
