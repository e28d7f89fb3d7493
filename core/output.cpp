// Placeholder output layer: prints to standard output until the unit
// layer and the text window exist.
#include "core/output.h"
#include "core/state.h"

#include <cstdio>

int16_t lstlun = 1, errlun = 1, jrnlun = -1, dbglun = 1, hlplun = -1;
int16_t loglun = -1, outlun = 1, prtlun = 4, fndlun = -1, keylun = -1;

int vjprintf(int, const char* fmt, va_list ap) {
  vprintf(fmt, ap);
  return 0;
}

int jprintf(int unit, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vjprintf(unit, fmt, ap);
  va_end(ap);
  return 0;
}

int jputc(int, int c) {
  putchar(c);
  return 0;
}
int jline(int row) { return row + 1; }
int jflush(int) {
  fflush(stdout);
  return 0;
}
int wintext(const char* text, int n) {
  fwrite(text, 1, n, stdout);
  return 0;
}
FILE* logfp = nullptr;
int logprintf(const char* fmt, ...) {
  if (!logfp) return 0;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(logfp, fmt, ap);
  va_end(ap);
  return 0;
}

int error(int arg, int code) {
  if (arg > 0)
    printf("ERROR %3d (arg %d):\n", code, arg);
  else
    printf("ERROR %3d:\n", code);
  state |= ST_ERROR;
  return 0;
}
