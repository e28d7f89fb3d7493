/* The entry points of the acquisition-board library that the system loads at
 * run time (PELIX_LIB_MEASCOMP), as this system defines them. Two libraries
 * implement them: the simulated sim/libpelix_mcsim.so for tests, and
 * libpelix_mccomedi.so over Comedi for real boards.
 *
 * Every call returns 0 on success or a positive error code. Samples are
 * unsigned 16-bit values; a scan buffer (cbWinBufAlloc) holds `count` of
 * them, the channels of a scan interleaved row by row.
 */
#ifndef PELIX_MCLIB_H
#define PELIX_MCLIB_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Values the system passes. */
enum {
  MC_BOARDINFO = 2,     /* cbGetConfig info kind: board information */
  MC_NUMADCHANS = 7,    /* cbGetConfig item: the number of analog inputs */
  MC_AIFUNCTION = 1,    /* cbGetIOStatus, cbStopIOBackground: analog input */
  MC_PORTA = 10,        /* digital ports */
  MC_PORTB = 11,
  MC_DIGOUT = 1,        /* cbDConfigPort directions */
  MC_DIGIN = 2,
  MC_BACKGROUND = 1,    /* cbAInScan options: return at once, fill in the background */
  MC_CONTINUOUS = 2,    /*   wrap round the buffer until stopped */
  MC_IDLE = 0,          /* cbGetIOStatus status */
  MC_RUNNING = 1
};

/* Error codes. */
enum {
  MC_NOBOARD = 1,       /* no such board (its device cannot be opened) */
  MC_BADCHAN = 2,       /* no such channel */
  MC_BADPORT = 3,       /* no such digital port */
  MC_NOTSUP = 4,        /* the board has no such subdevice or function */
  MC_IOERR = 5,         /* the device refused a transfer */
  MC_BUSY = 6,          /* a scan already runs */
  MC_BADBUF = 7,        /* no buffer, or one too small */
  MC_BADRATE = 24,      /* a rate the board cannot pace */
  MC_BADCOUNT = 146     /* a count that is no multiple of the packet size */
};

int cbGetConfig(int info, int board, int dev, int item, int* value);
int cbSetConfig(int info, int board, int dev, int item, int value);
int cbAIn(int board, int chan, int range, uint16_t* value);
int cbAOut(int board, int chan, int range, uint16_t value);
void* cbWinBufAlloc(int32_t count);
int cbWinBufFree(void* buf);
/* status MC_RUNNING while a scan runs; count the samples written so far;
 * index the buffer position of the first sample of the newest complete
 * row, -1 before the first. */
int cbGetIOStatus(int board, int16_t* status, int32_t* count, int32_t* index, int func);
/* Scans channels low..high into buf (count samples); *rate is the rate
 * asked per channel and gets the rate set. */
int cbAInScan(int board, int low, int high, int32_t count, int32_t* rate, int range, void* buf,
              int options);
int cbStopIOBackground(int board, int func);
int cbWinBufToArray(void* buf, uint16_t* array, int32_t first, int32_t count);
int cbDIn(int board, int port, uint16_t* value);
int cbDOut(int board, int port, uint16_t value);
int cbDConfigPort(int board, int port, int direction);
/* Optional: a text saying why the last call with this code failed (into
 * msg, at most max bytes with the NUL); 0 when there is one. */
int mcErrText(int code, char* msg, int max);

#ifdef __cplusplus
}
#endif
#endif
