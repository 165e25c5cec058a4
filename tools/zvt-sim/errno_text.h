// "what: <the text of errno>", for the simulator's messages.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace skarvel::sim {

inline std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace skarvel::sim
