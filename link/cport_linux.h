// Internal to the Linux port: how the line settings map onto termios.
// Exposed for the tests and for zvt-sim's serial rates; callers use TComPort.
#pragma once

#include <termios.h>

#include "link/cport.h"

namespace skarvel::detail {

// The B-constant of a rate, or B0 when <termios.h> has none for it (the
// rate then goes through termios2).
speed_t StandardSpeed(uint32_t rate);

// Puts t into raw mode with the framing, parity and flow control of s.
// The rate is not touched (see StandardSpeed).
void FillTermios(termios& t, const TLineSettings& s);

// Asks the serial driver to hand received bytes on at once (low-latency
// mode). True when the port runs in that mode afterwards; false for a port
// without it, which is left untouched.
bool RequestLowLatency(int fd);

// How long at least nothing has been written to a tty whose modification
// time is stampSec (seconds of the real-time clock), at nowMs (the same
// clock, in milliseconds). The tty layer moves that time only when a write
// falls into another 8-second slot of the clock than the one it holds (it
// hides the exact moment of typing): the last write can lie anywhere up to
// the end of the stamp's slot, so the time is counted from there. 0 while
// that end is not yet past (or the clock went back).
uint64_t UnwrittenSinceStamp(int64_t stampSec, int64_t nowMs);

}  // namespace skarvel::detail
