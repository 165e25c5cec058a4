// The command line of zvt, for the platforms' program entries.
#pragma once

namespace skarvel {

// The whole command line (UTF-8 arguments); returns the exit status.
int ZvtMain(int argc, char** argv);

}  // namespace skarvel
