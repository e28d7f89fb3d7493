/* Simulated acquisition-board library for tests: the entry points of
 * realtime/devices/mclib.h with exact, documented returns.
 *
 *  - Every call returns 0, except cbAInScan as below.
 *  - cbGetConfig(2, b, 0, 7, &n) gives the board's analog channel count:
 *    PELIX_MCSIM=chans=N, default 16. Other items give 0.
 *  - cbAIn(b, k, range, &v) gives 2048 + 100 x (k + 1).
 *  - cbDIn(b, 10, &v) gives 165, cbDIn(b, 11, &v) 90, other ports 0.
 *  - cbDConfigPort, cbDOut and cbSetConfig append the lines
 *    "DConfigPort %d %d %d", "DOut %d %d %d" and "SetConfig %d %d %d %d %d"
 *    (their arguments) to "mcsim.log" in the working folder. Nothing else
 *    is logged.
 *  - cbAInScan(b, low, high, count, &rate, range, buf, options): 24 for a
 *    rate above 1,000,000 a second per channel; 146 for a count that is no
 *    multiple of the packet size, which for span = high - low + 1 channels
 *    is the largest multiple of span not above 31; else the rate stays as
 *    asked. Without the background option the whole buffer is filled at
 *    once; with it the scan runs, and each cbGetIOStatus of the board
 *    first advances it by 100 rows (wrapping round the buffer with the
 *    continuous option, else ending at its last row), then reports status
 *    1 (running when the call began), the samples written and the index of
 *    the first sample of the newest complete row; -1 before the first.
 *  - Board-local channel c in row r (counted from the start of the scan)
 *    reads (c << 12) | (r & 4095).
 * Built with MCSIM_NODOUT it lacks cbDOut (libpelix_mcsim_nodout.so).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "realtime/devices/mclib.h"

#define NSIMBOARD 16

struct scan {
  uint16_t* buf;
  int32_t total; /* samples in the buffer */
  int32_t span, low, rowcap;
  int64_t rows;  /* rows written since the start */
  int running, cont;
};
static struct scan scans[NSIMBOARD];

static struct scan* scanof(int board) { return board >= 0 && board < NSIMBOARD ? &scans[board] : NULL; }

static void logline(const char* text) {
  FILE* f = fopen("mcsim.log", "a");
  if (f) {
    fputs(text, f);
    fclose(f);
  }
}

static int chans(void) {
  const char* s = getenv("PELIX_MCSIM");
  const char* p = s ? strstr(s, "chans=") : NULL;
  return p ? atoi(p + 6) : 16;
}

/* Writes rows [from, to) of a scan into its buffer. */
static void fill(struct scan* s, int64_t from, int64_t to) {
  if (to - from > s->rowcap) from = to - s->rowcap;
  for (int64_t r = from; r < to; r++) {
    uint16_t* d = s->buf + (r % s->rowcap) * s->span;
    const uint16_t low = (uint16_t)(r & 4095);
    for (int c = 0; c < s->span; c++) d[c] = (uint16_t)(((s->low + c) << 12) | low);
  }
}

int cbGetConfig(int info, int board, int dev, int item, int* value) {
  (void)board;
  (void)dev;
  *value = info == MC_BOARDINFO && item == MC_NUMADCHANS ? chans() : 0;
  return 0;
}

int cbSetConfig(int info, int board, int dev, int item, int value) {
  char line[96];
  snprintf(line, sizeof line, "SetConfig %d %d %d %d %d\n", info, board, dev, item, value);
  logline(line);
  return 0;
}

int cbAIn(int board, int chan, int range, uint16_t* value) {
  (void)board;
  (void)range;
  *value = (uint16_t)(2048 + 100 * (chan + 1));
  return 0;
}

int cbAOut(int board, int chan, int range, uint16_t value) {
  (void)board;
  (void)chan;
  (void)range;
  (void)value;
  return 0;
}

void* cbWinBufAlloc(int32_t count) { return count > 0 ? calloc((size_t)count, sizeof(uint16_t)) : NULL; }

int cbWinBufFree(void* buf) {
  for (int b = 0; b < NSIMBOARD; b++)
    if (scans[b].buf == buf) memset(&scans[b], 0, sizeof scans[b]);
  free(buf);
  return 0;
}

int cbGetIOStatus(int board, int16_t* status, int32_t* count, int32_t* index, int func) {
  (void)func;
  struct scan* s = scanof(board);
  *status = MC_IDLE;
  *count = 0;
  *index = -1;
  if (!s || !s->buf) return 0;
  if (s->running) {
    int64_t to = s->rows + 100;
    if (!s->cont && to >= s->rowcap) {
      to = s->rowcap;
      s->running = 0;
    }
    fill(s, s->rows, to);
    s->rows = to;
    *status = MC_RUNNING;
  }
  const int64_t n = s->rows * s->span;
  *count = n > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)n;
  if (s->rows > 0) *index = (int32_t)(((s->rows - 1) % s->rowcap) * s->span);
  return 0;
}

int cbAInScan(int board, int low, int high, int32_t count, int32_t* rate, int range, void* buf,
              int options) {
  (void)range;
  struct scan* s = scanof(board);
  const int span = high - low + 1;
  if (*rate > 1000000) return MC_BADRATE;
  const int packet = span >= 1 && span <= 31 ? (31 / span) * span : 31 * (span > 0 ? span : 1);
  if (count <= 0 || count % packet != 0) return MC_BADCOUNT;
  if (!s || !buf) return MC_BADBUF;
  memset(s, 0, sizeof *s);
  s->buf = buf;
  s->total = count;
  s->span = span;
  s->low = low;
  s->rowcap = count / span;
  s->cont = (options & MC_CONTINUOUS) != 0;
  if (options & MC_BACKGROUND) {
    s->running = 1;
  } else {
    fill(s, 0, s->rowcap);
    s->rows = s->rowcap;
  }
  return 0;
}

int cbStopIOBackground(int board, int func) {
  (void)func;
  struct scan* s = scanof(board);
  if (s) s->running = 0;
  return 0;
}

int cbWinBufToArray(void* buf, uint16_t* array, int32_t first, int32_t count) {
  if (buf && array && first >= 0 && count > 0) memcpy(array, (uint16_t*)buf + first, (size_t)count * 2);
  return 0;
}

int cbDIn(int board, int port, uint16_t* value) {
  (void)board;
  *value = port == MC_PORTA ? 165 : port == MC_PORTB ? 90 : 0;
  return 0;
}

#ifndef MCSIM_NODOUT
int cbDOut(int board, int port, uint16_t value) {
  char line[64];
  snprintf(line, sizeof line, "DOut %d %d %d\n", board, port, value);
  logline(line);
  return 0;
}
#endif

int cbDConfigPort(int board, int port, int direction) {
  char line[64];
  snprintf(line, sizeof line, "DConfigPort %d %d %d\n", board, port, direction);
  logline(line);
  return 0;
}
