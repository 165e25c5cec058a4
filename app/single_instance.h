// One window per user session. The first start of the program listens on
// the session's local socket (see instance_name.h); a later start connects
// there, hands over the files of its command line in one frame
// (open_request.h), waits until the window has taken them and ends. A socket
// that nobody answers is a crashed window's and is replaced. A lock file
// lets one start at a time decide, so two starts at once never both listen.
//
// GUI thread only: Start, the server, its connections and their buffers
// belong to the thread that made the object (the program's main thread), and
// OpenRequested is emitted there.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>
#include <map>

#include "app/instance_name.h"

class QLocalSocket;

namespace skarvel {

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class TStart {
        OwnWindow,  // this start opens its window (listening, unless Note says why not)
        Handed,     // the running window took the files; this start ends
        Failed,     // a window runs but did not take them (Note says why)
    };

    explicit TSingleInstance(TInstanceAddress address, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // handOver false (--new-instance): a running window is left alone and
    // this start opens a window of its own; it listens only where no window
    // does. files go with a hand-over; none only bring the window up.
    TStart Start(bool handOver, const QStringList& files);
    // Why this window does not listen, or why a hand-over failed.
    const QString& Note() const { return note_; }
    bool Listening() const { return server_.isListening(); }
    // Stops listening (and removes the socket), so that the next start
    // opens a window of its own.
    void Stop();

    // How long a later start waits for the window's answer, and a start for
    // another start that is deciding.
    int AnswerTimeoutMs = 10000;
    int LockTimeoutMs = 10000;

signals:
    // A later start's files (none: only come to the front).
    void OpenRequested(const QStringList& files);

private:
    enum class TSend { Handed, Closed, Failed };
    TSend Send(QLocalSocket& socket, const QStringList& files);
    void Listen();
    void Accept();
    void Read(QLocalSocket* socket);

    TInstanceAddress address_;
    QLocalServer server_;
    QString note_;
    std::map<QLocalSocket*, QByteArray> frames_;
};

}  // namespace skarvel
