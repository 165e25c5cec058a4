// Text between the project's own strings (UTF-8) and the wide Win32 calls
// (UTF-16). Windows only.
#pragma once

#include <string>
#include <string_view>

namespace skarvel {

// Invalid input is converted with U+FFFD in place of what cannot be read.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The system's text for a Win32 error code, as UTF-8, without the trailing
// line break ("error N" when the system has none).
std::string SystemErrorText(unsigned long code);

}  // namespace skarvel
