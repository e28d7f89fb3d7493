/* Simulated parallel-port library for tests: the two entry points of the
 * port library over a table of latched registers.
 *
 *  - Every register latches: Inp32 gives the last byte Out32 wrote to that
 *    address, 0 at first.
 *  - The status registers 0x379, 0x279 and 0x3BD read the value of
 *    PELIX_PPSIM_STATUS (decimal, or hex with 0x), 0 when unset.
 *  - Every Out32 appends "out %x %d" and a newline (the address in
 *    lower-case hex, the byte in decimal) to "ppsim.log" in the working
 *    folder. Reads are not logged.
 */
#include <stdio.h>
#include <stdlib.h>

static unsigned char regs[65536];

short Inp32(short port) {
  unsigned short a = (unsigned short)port;
  if (a == 0x379 || a == 0x279 || a == 0x3BD) {
    const char* s = getenv("PELIX_PPSIM_STATUS");
    return (short)(s && *s ? (strtol(s, NULL, 0) & 255) : 0);
  }
  return regs[a];
}

void Out32(short port, short data) {
  unsigned short a = (unsigned short)port;
  unsigned char b = (unsigned char)data;
  regs[a] = b;
  FILE* f = fopen("ppsim.log", "a");
  if (f) {
    fprintf(f, "out %x %d\n", (unsigned)a, (int)b);
    fclose(f);
  }
}
