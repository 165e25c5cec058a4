// zvt-sim: a stand-in for the ZVT on a pseudo-terminal or a serial device.
//
// The parts: options.h (the command line), medium.h (the image file or
// memory), device.h (frames in, answers out, fault dice), line.h (the pty
// or serial device and the pacing of its bytes). RunSimulator puts them
// together and serves the line.
//
// Threads: the simulator has one thread, which owns every part; SIGINT and
// SIGTERM only set a flag that the serving loop reads between waits.
#pragma once

#include "tools/zvt-sim/options.h"

namespace skarvel::sim {

// Runs the simulator until SIGINT or SIGTERM; returns the exit code.
int RunSimulator(const TSimOptions& options);

}  // namespace skarvel::sim
