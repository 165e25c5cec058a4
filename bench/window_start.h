// The main window's start-up: from starting the program to its window on
// the screen, and to the medium's files listed in it. Built only with the
// program (SKARVEL_GUI); without it the figure is left out.
#pragma once

#include <cstdint>

namespace skarvel::bench {

// runs starts of the program on a simulator pacing its line at baud, on the
// display of the environment (offscreen without one), each on a line left
// alone for a while and on a line used a moment before.
void WindowStartBench(uint32_t baud, int runs);

}  // namespace skarvel::bench
