// Per-platform tuning of the threads the project starts.
#pragma once

namespace skarvel {

// Called at the start of every TThread. On Linux it asks for timed waits
// without the kernel's default slack of 50 us: the driver sleeps 1 ms after
// each exchange, and on a 115200 baud line every such lag is lost time.
void TuneThisThread();

}  // namespace skarvel
