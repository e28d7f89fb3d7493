// Baud rates of a terminal through the kernel's termios2 interface, which
// also takes rates outside the standard list (14400, 56000, 128000 and
// 256000 of the baud table). Kept apart: the kernel's termios headers and
// the C library's cannot meet in one file.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

int setbaud2(int fd, uint32_t baud) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return -1;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &t) == 0 ? 0 : -1;
}

uint32_t getbaud2(int fd) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}
