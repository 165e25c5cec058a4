// Every name without a separator or a control character is a plain file
// name here.
#include "core/local_name.h"

namespace skarvel::detail {

bool PlatformRefusesName(const std::string&) { return false; }

}  // namespace skarvel::detail
