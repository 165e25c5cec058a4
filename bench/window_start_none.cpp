#include "bench/window_start.h"

namespace skarvel::bench {

void WindowStartBench(uint32_t, int) {}

}  // namespace skarvel::bench
