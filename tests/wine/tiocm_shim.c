/* Preloaded into wine for the Windows tests. wine asks a COM port's tty for
 * its modem lines; a pty has none and refuses with ENOTTY, and wine then
 * fails GetCommModemStatus (error 50) and aborts every pending WaitCommEvent
 * a few milliseconds after it is issued. Here those requests succeed on any
 * tty that refuses them: the lines read as all off, and setting them does
 * nothing. Every other request, and every descriptor that is no tty, goes
 * to the C library as it is. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

int ioctl(int fd, unsigned long request, ...) {
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    const int r = real_ioctl(fd, request, arg);
    const int err = errno;
    if (r == 0 || (err != ENOTTY && err != EINVAL) || !isatty(fd)) {
        errno = err;
        return r;
    }
    switch (request) {
    case TIOCMGET:
        *(int*)arg = 0;
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        return 0;
    default:
        errno = err;
        return r;
    }
}
