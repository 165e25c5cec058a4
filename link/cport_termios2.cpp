// The only source file that sees <asm/termbits.h>; see cport_termios2.h.
#include "link/cport_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>

namespace skarvel::detail {

int SetTermiosWithRate(int fd, const TRawTermios& t, uint32_t rate) {
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0) return errno;
    t2.c_iflag = t.iflag;
    t2.c_oflag = t.oflag;
    t2.c_lflag = t.lflag;
    // BOTHER takes the rates from c_ispeed/c_ospeed; both directions alike.
    t2.c_cflag = (t.cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER | (BOTHER << IBSHIFT);
    t2.c_ispeed = rate;
    t2.c_ospeed = rate;
    for (size_t i = 0; i < sizeof t2.c_cc && i < sizeof t.cc; ++i) t2.c_cc[i] = t.cc[i];
    if (ioctl(fd, TCSETS2, &t2) != 0) return errno;
    return 0;
}

int GetTermiosRate(int fd, uint32_t& rate) {
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0) return errno;
    rate = t2.c_ospeed;
    return 0;
}

}  // namespace skarvel::detail
