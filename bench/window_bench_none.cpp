// Built without the program: no window to drive.
#include "bench/window_bench.h"

namespace skarvel::bench {

std::unique_ptr<TWindowBench> TWindowBench::Create(uint32_t) { return nullptr; }

}  // namespace skarvel::bench
