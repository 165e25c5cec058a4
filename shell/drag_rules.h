// The two small rules of a drag-out from the file list: when the pointer
// has moved far enough from the press to start a drag, and which folder the
// medium's files are loaded into before the desktop gets their paths.
//
// Threads: plain functions; StagingFolder reads the process environment, so
// call it from the GUI thread like everything else that drags.
#pragma once

#include <QPoint>
#include <QString>

namespace skarvel {

// A move to pos after a left-button press at press starts a drag when the
// pointer has gone 2 pixels or more (|dx| + |dy|): one pixel is the jitter of
// an ordinary click. A press with a coordinate of -1 means "no press".
bool DragOutStarts(QPoint press, QPoint pos);

// The folder files of the medium are staged in for a drag-out, ending in the
// platform's separator: the variable "TEMP"; where it is unset or empty
// (usual on Linux), "TMPDIR"; then the system's temporary folder. A relative
// value is taken from the current directory at the time of the call, since
// the desktop needs whole paths.
QString StagingFolder();

}  // namespace skarvel
