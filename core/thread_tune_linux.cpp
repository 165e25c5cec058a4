#include "core/thread_tune.h"

#include <sys/prctl.h>

namespace skarvel {

void TuneThisThread() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

}  // namespace skarvel
