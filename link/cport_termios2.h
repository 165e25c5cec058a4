// Line rates outside the fixed B-constants of <termios.h> (14400, 56000,
// 128000, 256000, any CustomBaudRate) go through the termios2 ioctls. Their
// header <asm/termbits.h> clashes with <termios.h>, so they live in a source
// file of their own and meet the rest through these plain structures.
#pragma once

#include <cstdint>

namespace skarvel::detail {

// The mode words and control characters of a termios record; flag bits and
// character indices are the kernel's, shared by both headers.
struct TRawTermios {
    uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
    uint8_t cc[32] = {};
};

// Sets flags and control characters (TCSANOW) with input and output rate
// `rate` in bits per second. Returns 0 or the errno of the failing ioctl.
int SetTermiosWithRate(int fd, const TRawTermios& t, uint32_t rate);

// Reads the output rate of the line in bits per second. Returns 0 or errno.
int GetTermiosRate(int fd, uint32_t& rate);

}  // namespace skarvel::detail
