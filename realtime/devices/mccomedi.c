/* The acquisition-board library over Comedi: the entry points of mclib.h for
 * a board that Linux drives through Comedi. Board number b is the device
 * /dev/comedi<b>, opened on first use and kept; its first analog input,
 * analog output and digital I/O subdevices serve the calls.
 *
 *  - Range codes: 0 +-5 V, 1 +-10 V, 2 +-2.5 V, 3 +-1.25 V, 4 +-1 V,
 *    100 0..10 V, 101 0..5 V; the board's smallest range that holds the
 *    span is used (its first range for other codes). Samples are the
 *    board's raw values (cut to 65535).
 *  - Digital port 10 is channels 0-7 of the digital subdevice, port 11
 *    channels 8-15.
 *  - Scans run as a Comedi command paced by the board. Nothing runs in the
 *    background here: each cbGetIOStatus moves what the board has
 *    acquired into the scan buffer (round it with the continuous option),
 *    so the buffer fills as often as the caller asks for the status.
 *  - Every failure keeps its reason for mcErrText.
 */
#include <comedilib.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "realtime/devices/mclib.h"

#define NBOARD 16

struct board {
  comedi_t* dev;
  int ai, ao, dio;  /* subdevices, -1 none */
  int lsampl;       /* the input subdevice gives 32-bit samples */
  /* the scan */
  uint16_t* buf;
  int32_t total, span, rowcap;
  int64_t written;  /* samples moved into the buffer since the start */
  int running, cont;
  unsigned char part[4];  /* the bytes of a sample cut by a read */
  int npart;
};
static struct board boards[NBOARD];
static char why[240];

static int fail(int code, const char* what) {
  snprintf(why, sizeof why, "%s", what);
  return code;
}

static int cfail(int code, const char* what) {
  snprintf(why, sizeof why, "%s: %s", what, comedi_strerror(comedi_errno()));
  return code;
}

/* The board, opened on first use; null with the reason kept. */
static struct board* board(int b, int* code) {
  char path[32];
  if (b < 0 || b >= NBOARD) {
    *code = fail(MC_NOBOARD, "no such board number");
    return NULL;
  }
  struct board* d = &boards[b];
  if (d->dev) return d;
  snprintf(path, sizeof path, "/dev/comedi%d", b);
  d->dev = comedi_open(path);
  if (!d->dev) {
    snprintf(why, sizeof why, "%s: %s", path, strerror(errno));
    *code = MC_NOBOARD;
    return NULL;
  }
  d->ai = comedi_find_subdevice_by_type(d->dev, COMEDI_SUBD_AI, 0);
  d->ao = comedi_find_subdevice_by_type(d->dev, COMEDI_SUBD_AO, 0);
  d->dio = comedi_find_subdevice_by_type(d->dev, COMEDI_SUBD_DIO, 0);
  d->lsampl = d->ai >= 0 && (comedi_get_subdevice_flags(d->dev, (unsigned)d->ai) & SDF_LSAMPL);
  return d;
}

/* The Comedi range of a range code on a channel. */
static unsigned rangeof(struct board* d, int sub, int chan, int code) {
  double lo = -5, hi = 5;
  switch (code) {
    case 0: break;
    case 1: lo = -10, hi = 10; break;
    case 2: lo = -2.5, hi = 2.5; break;
    case 3: lo = -1.25, hi = 1.25; break;
    case 4: lo = -1, hi = 1; break;
    case 100: lo = 0, hi = 10; break;
    case 101: lo = 0, hi = 5; break;
    default: return 0;
  }
  int r = comedi_find_range(d->dev, (unsigned)sub, (unsigned)chan, UNIT_volt, lo, hi);
  return r < 0 ? 0 : (unsigned)r;
}

static int sub_or(struct board* d, int sub, int nchan_needed, const char* what) {
  if (sub < 0) return fail(MC_NOTSUP, what);
  if (comedi_get_n_channels(d->dev, (unsigned)sub) < nchan_needed) return fail(MC_BADCHAN, "no such channel");
  return 0;
}

int cbGetConfig(int info, int board_, int dev, int item, int* value) {
  (void)dev;
  int code = 0;
  *value = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  if (info == MC_BOARDINFO && item == MC_NUMADCHANS)
    *value = d->ai >= 0 ? comedi_get_n_channels(d->dev, (unsigned)d->ai) : 0;
  return 0;
}

int cbSetConfig(int info, int board_, int dev, int item, int value) {
  (void)info;
  (void)dev;
  (void)item;
  (void)value;
  int code = 0;
  return board(board_, &code) ? 0 : code;
}

int cbAIn(int board_, int chan, int range, uint16_t* value) {
  int code = 0;
  lsampl_t v = 0;
  *value = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  if ((code = sub_or(d, d->ai, chan + 1, "the board has no analog inputs"))) return code;
  if (comedi_data_read(d->dev, (unsigned)d->ai, (unsigned)chan, rangeof(d, d->ai, chan, range), AREF_GROUND, &v) < 0)
    return cfail(MC_IOERR, "analog read");
  *value = (uint16_t)(v > 65535 ? 65535 : v);
  return 0;
}

int cbAOut(int board_, int chan, int range, uint16_t value) {
  int code = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  if ((code = sub_or(d, d->ao, chan + 1, "the board has no analog outputs"))) return code;
  if (comedi_data_write(d->dev, (unsigned)d->ao, (unsigned)chan, rangeof(d, d->ao, chan, range), AREF_GROUND, value) < 0)
    return cfail(MC_IOERR, "analog write");
  return 0;
}

void* cbWinBufAlloc(int32_t count) { return count > 0 ? calloc((size_t)count, sizeof(uint16_t)) : NULL; }

int cbWinBufFree(void* buf) {
  for (int b = 0; b < NBOARD; b++) {
    if (boards[b].buf != buf) continue;
    if (boards[b].running) comedi_cancel(boards[b].dev, (unsigned)boards[b].ai);
    boards[b].buf = NULL;
    boards[b].running = 0;
  }
  free(buf);
  return 0;
}

/* Moves what the board has acquired into the scan buffer; blocking waits
 * for it all when wait is set. */
static int drain(struct board* d, int wait) {
  const int fd = comedi_fileno(d->dev);
  const int ss = d->lsampl ? 4 : 2;
  unsigned char raw[8192];
  while (d->running) {
    int have = d->npart;
    memcpy(raw, d->part, (size_t)have);
    ssize_t n = read(fd, raw + have, sizeof raw - (size_t)have);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && wait) {
        usleep(1000);
        continue;
      }
      if (errno == EAGAIN) return 0;
      d->running = 0;
      return cfail(MC_IOERR, "scan read");
    }
    if (n == 0) { /* the command has ended */
      d->running = 0;
      break;
    }
    have += (int)n;
    int k = 0;
    for (; k + ss <= have; k += ss) {
      uint32_t v = d->lsampl ? (uint32_t)raw[k] | (uint32_t)raw[k + 1] << 8 | (uint32_t)raw[k + 2] << 16 |
                                   (uint32_t)raw[k + 3] << 24
                             : (uint32_t)raw[k] | (uint32_t)raw[k + 1] << 8;
      if (!d->cont && d->written >= d->total) break;
      d->buf[d->written % d->total] = (uint16_t)(v > 65535 ? 65535 : v);
      d->written++;
    }
    d->npart = have - k < 4 ? have - k : 0;
    memcpy(d->part, raw + k, (size_t)d->npart);
    if (!d->cont && d->written >= d->total) {
      comedi_cancel(d->dev, (unsigned)d->ai);
      d->running = 0;
    }
  }
  return 0;
}

int cbGetIOStatus(int board_, int16_t* status, int32_t* count, int32_t* index, int func) {
  (void)func;
  int code = 0;
  *status = MC_IDLE;
  *count = 0;
  *index = -1;
  struct board* d = board(board_, &code);
  if (!d) return code;
  if (!d->buf) return 0;
  const int was = d->running;
  code = drain(d, 0);
  if (was) *status = MC_RUNNING;
  *count = d->written > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)d->written;
  const int64_t rows = d->written / d->span;
  if (rows > 0) *index = (int32_t)(((rows - 1) % d->rowcap) * d->span);
  return code;
}

int cbAInScan(int board_, int low, int high, int32_t count, int32_t* rate, int range, void* buf,
              int options) {
  int code = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  const int span = high - low + 1;
  /* A scan that never ends can only run in the background: waiting for
     it here would never return. */
  if (options & MC_CONTINUOUS) options |= MC_BACKGROUND;
  if (*rate <= 0 || *rate > 1000000) return fail(MC_BADRATE, "the rate must be 1 to 1000000 a second");
  if (span < 1 || span > 64) return fail(MC_BADCHAN, "bad channel range");
  if (count <= 0 || count % span != 0) return fail(MC_BADCOUNT, "the count must be a multiple of the channels");
  if (!buf) return fail(MC_BADBUF, "no buffer");
  if ((code = sub_or(d, d->ai, high + 1, "the board has no analog inputs"))) return code;
  if (d->running) {
    comedi_cancel(d->dev, (unsigned)d->ai);
    d->running = 0;
  }
  unsigned chans[64];
  for (int i = 0; i < span; i++)
    chans[i] = CR_PACK((unsigned)(low + i), rangeof(d, d->ai, low + i, range), AREF_GROUND);
  comedi_cmd cmd;
  memset(&cmd, 0, sizeof cmd);
  if (comedi_get_cmd_generic_timed(d->dev, (unsigned)d->ai, &cmd, (unsigned)span, (unsigned)(1000000000u / (unsigned)*rate)) < 0)
    return cfail(MC_NOTSUP, "the board cannot scan");
  cmd.chanlist = chans;
  cmd.chanlist_len = (unsigned)span;
  cmd.scan_end_arg = (unsigned)span;
  if (options & MC_CONTINUOUS) {
    cmd.stop_src = TRIG_NONE;
    cmd.stop_arg = 0;
  } else {
    cmd.stop_src = TRIG_COUNT;
    cmd.stop_arg = (unsigned)(count / span);
  }
  int t = comedi_command_test(d->dev, &cmd);
  if (t > 0) t = comedi_command_test(d->dev, &cmd);
  if (t != 0) return t < 0 ? cfail(MC_NOTSUP, "scan command") : fail(MC_BADRATE, "the board cannot pace that rate");
  d->buf = buf;
  d->total = count;
  d->span = span;
  d->rowcap = count / span;
  d->written = 0;
  d->npart = 0;
  d->cont = (options & MC_CONTINUOUS) != 0;
  if (comedi_command(d->dev, &cmd) < 0) return cfail(MC_IOERR, "scan start");
  d->running = 1;
  if (cmd.scan_begin_src == TRIG_TIMER && cmd.scan_begin_arg > 0) *rate = (int32_t)(1000000000u / cmd.scan_begin_arg);
  const int fd = comedi_fileno(d->dev);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return (options & MC_BACKGROUND) ? 0 : drain(d, 1);
}

int cbStopIOBackground(int board_, int func) {
  (void)func;
  int code = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  if (d->running) {
    drain(d, 0);
    comedi_cancel(d->dev, (unsigned)d->ai);
    d->running = 0;
  }
  return 0;
}

int cbWinBufToArray(void* buf, uint16_t* array, int32_t first, int32_t count) {
  if (!buf || !array || first < 0 || count < 0) return fail(MC_BADBUF, "no buffer");
  memcpy(array, (uint16_t*)buf + first, (size_t)count * 2);
  return 0;
}

/* The first channel of a digital port code. */
static int portbase(struct board* d, int port, int* code) {
  if (port < MC_PORTA || port > MC_PORTA + 3) {
    *code = fail(MC_BADPORT, "no such digital port");
    return -1;
  }
  const int base = (port - MC_PORTA) * 8;
  if ((*code = sub_or(d, d->dio, base + 1, "the board has no digital I/O"))) return -1;
  return base;
}

int cbDIn(int board_, int port, uint16_t* value) {
  int code = 0;
  unsigned bits = 0;
  *value = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  const int base = portbase(d, port, &code);
  if (base < 0) return code;
  if (comedi_dio_bitfield2(d->dev, (unsigned)d->dio, 0, &bits, (unsigned)base) < 0) return cfail(MC_IOERR, "digital read");
  *value = (uint16_t)(bits & 0xFF);
  return 0;
}

int cbDOut(int board_, int port, uint16_t value) {
  int code = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  const int base = portbase(d, port, &code);
  if (base < 0) return code;
  unsigned bits = value & 0xFFu;
  if (comedi_dio_bitfield2(d->dev, (unsigned)d->dio, 0xFFu, &bits, (unsigned)base) < 0) return cfail(MC_IOERR, "digital write");
  return 0;
}

int cbDConfigPort(int board_, int port, int direction) {
  int code = 0;
  struct board* d = board(board_, &code);
  if (!d) return code;
  const int base = portbase(d, port, &code);
  if (base < 0) return code;
  const int n = comedi_get_n_channels(d->dev, (unsigned)d->dio);
  for (int c = base; c < base + 8 && c < n; c++)
    if (comedi_dio_config(d->dev, (unsigned)d->dio, (unsigned)c, direction == MC_DIGOUT ? COMEDI_OUTPUT : COMEDI_INPUT) < 0)
      return cfail(MC_IOERR, "digital port set-up");
  return 0;
}

int mcErrText(int code, char* msg, int max) {
  (void)code;
  if (!msg || max < 1 || !why[0]) return -1;
  snprintf(msg, (size_t)max, "%s", why);
  return 0;
}
