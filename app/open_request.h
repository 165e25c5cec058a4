// The message a later start of the program sends to the running window: the
// files to open, as one frame on the local socket.
//
//   "SKVOPEN1"  eight bytes
//   length      32 bits, big-endian: the bytes that follow
//   paths       each an absolute path in UTF-8, ended by a NUL byte
//
// No paths: only bring the window to the front. The window answers a frame
// it has taken with the single byte OpenAck; a frame it cannot read gets no
// answer, and the connection is closed. Plain data; safe on any thread.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace skarvel {

inline constexpr char OpenAck = 'K';
// Longer frames are refused (ten thousand long paths fit).
inline constexpr int MaxOpenRequestBytes = 16 * 1024 * 1024;

// The frame for files; every path must be absolute.
QByteArray EncodeOpenRequest(const QStringList& files);

enum class TFrameState { Incomplete, Complete, Bad };

// Reads the frame at the start of received. Complete: files holds the paths
// and the frame is all that was received. Bad: not this program's frame, a
// frame too long, more bytes than the frame, a path that is empty, not
// UTF-8 or not absolute (the window's folder is not the sender's, so a
// relative path would name another file).
TFrameState DecodeOpenRequest(const QByteArray& received, QStringList& files);

}  // namespace skarvel
