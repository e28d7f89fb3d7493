// The MeasComp acquisition boards (device kind meascomp) behind the board
// library loaded at run time: the board set-up, single reads and digital
// writes, the call command, and background scans collected into variables.
//
// PELIX_LIB_MEASCOMP names the library (see devlib.h for the search);
// unset, the project's library over Comedi (libpelix_mccomedi.so) drives
// /dev/comedi<board>. The simulated libraries sim/libpelix_mcsim.so (and
// libpelix_mcsim_nodout.so, which lacks cbDOut) serve the tests. The entry
// points are those of mclib.h.
#pragma once
#include <cstdint>

struct BoardRec;

// Sets up a board through the library (null: only loads the library).
// With a board: 1, -2 when the library is missing, -3 when an entry point
// is missing, minus the library's code when a board call fails. Without:
// 0 when the library and all 13 entry points are there, 3 when one is
// missing, -2 when the library is missing.
int init_meascomp(BoardRec* b);
// One analog value of board-local channel k into *value: the status (>= 0
// good). While a scan runs a channel of the scan gets its newest collected
// sample (0 for a channel outside it); 1 when the scan has none yet (the
// channel keeps its last value).
int mcain(BoardRec* b, int k, int* value);
// Writes the bits of one digital port (port code 10 or 11): the status.
int mcdout(BoardRec* b, int port, int bits);
// The call command: n is the argument number of the function name.
int callcb(int n);

// A variable a scan writes into: its first element, element type (8, 16,
// 32 integer, 96 float) and the elements from there to its end.
struct McVar {
  uint8_t* data;
  int type;
  int64_t nelem;
};

// The one scan record, cleared at every board set-up.
struct McScanRec {
  void* buf;          // the library's buffer, null when no scan
  uint16_t options;
  uint16_t span;      // board-local channels low..high
  int32_t board;      // board number
  int32_t low, high;
  int32_t lowbit;     // lowest channel of the mask (global)
  int32_t mask;       // channel mask (global numbering)
  uint16_t nch;       // channels in the mask
  uint16_t packet;    // packet size: 31 after a board set-up with digital bits
  int32_t asked;      // samples asked per channel
  int32_t rate;       // samples per second per channel, as the library set it
  int32_t libcount;
  int32_t last;       // buffer index read up to
  int32_t* counter;   // the caller's sample counter
  McVar data, time;   // the variables collected into (time.data null: none)
  int32_t step;       // elements from one row to the next
  int32_t stride;     // elements from one channel to the next
  int32_t total;      // buffer length in samples
  int32_t cap;        // rows the variables take (the counter stays below)
  uint32_t start;     // rtclock at the start
  double tps;         // ticks per sample (50000 / rate)
  int16_t col[16];    // buffer column of each channel of the mask
  BoardRec* brd;
};
extern McScanRec mcrec;

// Starts a background scan of the channels of mask at rate samples a
// second per channel (see the options in the source), collecting into
// data (and time, when time.data is set) with stride elements between
// channels; the sample counter is *counter. 0 started, -2 a masked channel
// is not on a meascomp board, -4 no buffer, or minus the library's code.
// With rate 0 it only collects the running scan: mcscan's result.
int adcscan(int mask, int rate, int count, int options, const McVar& data, const McVar& time, int stride,
            int32_t* counter);
// Copies what the running scan has acquired since the last call: the rows
// copied, -1 when no scan runs on a meascomp board.
int mcscan();
// Stops the scan (what bit 1) and frees its buffer (bit 2); 0 both. The
// record argument is the one record (0). Returns 0.
int mcstop(int rec, int what);
// True while a scan holds a buffer.
bool mcbusy();
// Forgets the library (tests: the next use loads it again).
void mcunload();
