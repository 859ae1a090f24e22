/* Test-only: loaded with LD_PRELOAD into wine for the Windows test run.
 *
 * A pseudo-terminal has no modem-control lines: TIOCMGET, TIOCMBIS, TIOCMBIC
 * and TIOCMSET fail on it with ENOTTY. Wine's serial driver asks for the
 * lines when WaitCommEvent starts and when EscapeCommFunction sets DTR or
 * RTS, and gives up when they fail. Here a pty answers those requests as a
 * cable without handshake lines does: every line reads low, setting or
 * clearing one succeeds. Every other request, and every other device, goes
 * to the real ioctl unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Pty slaves of Linux: character devices of majors 136 to 143 (/dev/pts). */
static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
  static ioctl_fn real_ioctl;
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (!real_ioctl) real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  const int result = real_ioctl(fd, request, arg);
  if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !is_pty_slave(fd)) return result;
  switch (request) {
    case TIOCMGET:
      *(int*)arg = 0;
      return 0;
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
      return 0;
    default:
      errno = ENOTTY;
      return result;
  }
}
