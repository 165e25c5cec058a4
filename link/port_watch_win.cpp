// Windows has no port watch: the window's link check opens a port that has
// come back at its next tick.
#include "link/port_watch.h"

namespace skarvel {

std::unique_ptr<TPortWatch> TPortWatch::Start(TMainThread*, TPortChangeFn) { return nullptr; }

}  // namespace skarvel
