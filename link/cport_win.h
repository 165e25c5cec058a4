// Internal to the Windows port: how the settings map onto the device
// control block and the time-outs. Exposed for the tests; callers use
// TComPort. Windows only.
#pragma once

#include <windows.h>

#include "link/cport.h"

namespace skarvel::detail {

// The control block for the line settings: every field that is not set
// here is zero. With the system's defaults (8 data bits, no parity, one
// stop bit, no flow control) the only flag is fBinary, so DTR and RTS are
// held off.
DCB MakeDcb(const TLineSettings& s);

COMMTIMEOUTS MakeCommTimeouts(const TComTimeoutValues& t);

// The line events the port waits for: received bytes, and line errors
// (they are read and cleared so that they cannot pile up).
constexpr DWORD ComEventMask = EV_RXCHAR | EV_ERR;

}  // namespace skarvel::detail
