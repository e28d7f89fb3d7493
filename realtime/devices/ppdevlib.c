/* The parallel-port library over Linux ppdev: the two entry points of the
 * port library for the standard port addresses. The base addresses 0x378,
 * 0x278 and 0x3BC are /dev/parport0, 1 and 2; their registers 0, 1 and 2
 * are the data, status and control registers. A port is opened and claimed
 * on its first use and kept. Other addresses read 255 and ignore writes.
 */
#include <fcntl.h>
#include <linux/ppdev.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

static const unsigned short bases[3] = {0x378, 0x278, 0x3BC};
static int fds[3] = {-2, -2, -2}; /* -2 not tried, -1 not there */

static int portfd(unsigned short addr, int* reg) {
  for (int i = 0; i < 3; i++) {
    if (addr < bases[i] || addr > bases[i] + 2) continue;
    *reg = addr - bases[i];
    if (fds[i] == -2) {
      char name[32];
      snprintf(name, sizeof name, "/dev/parport%d", i);
      fds[i] = open(name, O_RDWR | O_CLOEXEC);
      if (fds[i] >= 0 && ioctl(fds[i], PPCLAIM) != 0) {
        close(fds[i]);
        fds[i] = -1;
      }
    }
    return fds[i];
  }
  return -1;
}

short Inp32(short port) {
  int reg = 0;
  int fd = portfd((unsigned short)port, &reg);
  unsigned char b = 255;
  if (fd < 0) return 255;
  unsigned long req = reg == 0 ? PPRDATA : reg == 1 ? PPRSTATUS : PPRCONTROL;
  if (ioctl(fd, req, &b) != 0) return 255;
  return b;
}

void Out32(short port, short data) {
  int reg = 0;
  int fd = portfd((unsigned short)port, &reg);
  unsigned char b = (unsigned char)data;
  if (fd < 0 || reg == 1) return; /* the status register is read-only */
  ioctl(fd, reg == 0 ? PPWDATA : PPWCONTROL, &b);
}
