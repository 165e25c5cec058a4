// The frame of the program's modal windows (questions, messages, the
// progress of a transfer): a title and a close button, no minimise or
// maximise, so a window that waits for the user cannot vanish from the
// screen while the main window stays locked behind it. Closing it by the
// window manager answers as Esc does. GUI thread.
#pragma once

#include <Qt>

namespace skarvel {

inline Qt::WindowFlags CloseOnlyDialogFrame() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint;
}

}  // namespace skarvel
