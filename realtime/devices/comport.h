// Serial port slots 0 to 9 (the ports "COM1" to "COM10") on termios.
//
// A slot's device is the path in PELIX_COM<n> (n = slot + 1; relative names
// are taken in the working folder), default /dev/ttyS<slot>. A value
// "exec:COMMAND" makes a fresh pseudo-terminal pair at each open: the slave
// is the port, COMMAND runs through /bin/sh -c in the working folder with
// the master as its standard input and output, in a process group of its
// own that is hung up and reaped when the port closes.
//
// The mode word is the one encoding of the line settings:
//   bits 0-1 data bits (5 + value), bit 2 two stop bits, bits 3-4 parity
//   (0 none, 8 odd, 16 mark, 24 even; any parity also checks it), bits 5-8
//   the index into the baud table, 0x200 XON/XOFF on output, 0x400 XON/XOFF
//   on input, 0x800 CTS flow control on output, 0x1000 DTR raised.
// The port is raw: no canonical input, no echo, no CR/LF translation,
// 8-bit clean.
//
// Port numbers of 100 and up handed to comread and cwrite are parallel-port
// register codes: their bytes go one by one through pportin and pportout.
#pragma once
#include <cstdint>

struct termios;

constexpr int NCOMSLOT = 10;
extern const uint32_t baudtab[16];

// Modes the device set-up uses by default.
enum : int {
  MODE_EECADC = 263,  // 8 data bits, 2 stop bits, no parity, 19200 baud
  MODE_GEADC = 387,   // 8 data bits, 1 stop bit, no parity, 115200 baud
  MODE_EYE = 355,     // 8 data bits, 1 stop bit, no parity, 57600 baud
  MODE_SRBOX = 259,   // 8 data bits, 1 stop bit, no parity, 19200 baud
};

// comini (slot, mode): mode >= 1 opens the slot (or sets a new mode on an
// open one), mode <= 0 closes it. 0 on success; -1 for a slot outside 0..9
// or a port that cannot be opened or set up (error 191 reported).
int comini(int slot, int mode);
// The slot's mode word (0: free), 0 for a slot outside 0..9.
int commode(int slot);
// True when the slot is open.
bool comopen(int slot);

// comread (port, buffer, count, flags): flags 1 wait for count bytes (at
// most 2000 + 50 x count ms, honouring Ctrl-C), 2 return the count waiting,
// 4 silent errors (-1), 8 purge the input first, 16 keep only the newest
// count bytes, 32 as 16 and keep the first non-zero byte of each read
// thrown away. The bytes read; 0 after a reported error ("Comread error:
// %d", error 192).
int comread(int port, char* buffer, int count, int flags);
// cwrite (port, buffer, count): writes and drains the bytes (at most 2000 +
// 50 x count ms, honouring Ctrl-C; past it the output is flushed). The
// bytes written; 0 after a reported error ("Comwrite error: %d", error 192).
int cwrite(int port, const char* buffer, int count);

// Waits up to ms for input on an open slot; true when bytes wait.
bool comwait(int slot, int ms);
// Purges a slot's input or output queue (which: 1 input, 2 output, 3 both).
int compurge(int slot, int which);
// Nonzero when a slot's line saw framing, parity or overrun errors since
// the last call.
int comerr(int slot);

// Closes every slot (shutdown).
void comend();
// Closes every slot from a signal handler (the time-out exit), with
// async-signal-safe calls only: each peer's process group is hung up, has
// up to a second to end and is then killed.
void comkill();

// Builds the termios settings of a mode word on t (raw, the data bits,
// stop bits, parity and flow control); returns the baud rate.
uint32_t comtios(int mode, struct termios* t);
// The baud rate set on a terminal, 0 when it cannot be read.
uint32_t combaud(int fd);
// Sets a baud rate on a terminal, standard or not; 0 on success.
int setbaud(int fd, uint32_t baud);

// The units of formatted output and the open command: unit 100 + slot.
int seropen(int slot);
void sercls(int slot);

// Milliseconds of the real monotonic clock: device deadlines run on it
// even under the virtual program clock (a peer needs real time to answer).
uint64_t devms();

// The descriptor of an open slot, -1 for none (tests).
int comfd(int slot);
// Test seam: installs fd as slot's open port (with mode as its mode word),
// bypassing the device path and the line settings. The slot owns fd.
int comattach(int slot, int fd, int mode);
