// Only kernel headers here: <asm/termbits.h> redefines what <termios.h>
// declares, so the two must not meet in one translation unit.
#include "comport/posix_custom_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vestrel {

bool SetCustomBaudRate(int fd, std::uint32_t rate) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

std::uint32_t GetCustomBaudRate(int fd) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

bool ReadLineRates(int fd, LineRates* rates) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  rates->input = tio.c_ispeed;
  rates->output = tio.c_ospeed;
  rates->output_custom = (tio.c_cflag & CBAUD) == BOTHER;
  rates->input_custom = ((tio.c_cflag >> IBSHIFT) & CBAUD) == BOTHER;
  return true;
}

}  // namespace vestrel
