// The program: its command line, the one window of the user's session, the
// splash, the main window and the message loop. skarvel's main() is
// RunProgram(argc, argv); test programs run the same with hooks that watch
// the window. Main thread only.
#pragma once

#include <functional>

namespace skarvel {

class TForm1;
class TMessageBoxes;

struct TProgramHooks {
    // Where the window's and the entry's message boxes go; null: the real
    // boxes.
    TMessageBoxes* Boxes = nullptr;
    // Once the main window is shown and listens for later starts.
    std::function<void(TForm1&)> WindowShown;
    // A later start's request has arrived (files, or none to come to the front).
    std::function<void(int files)> OpenRequested;
};

int RunProgram(int argc, char** argv, const TProgramHooks& hooks = {});

}  // namespace skarvel
