// The parallel port through the run-time loaded port library, whose two
// entry points read (Inp32) and write (Out32) a byte at an I/O address.
//
// PELIX_LIB_PPORT names the library (see devlib.h for the search); unset,
// the project's library over ppdev (libpelix_inpout.so) maps the addresses
// 0x378, 0x278 and 0x3BC to /dev/parport0 to 2. The simulated library
// sim/libpelix_ppsim.so latches every register and logs its writes.
//
// A register code is 100 x LPT + register: register 0 data, 1 status,
// 2 control.
#pragma once
#include <cstdint>

struct BoardRec;

// Base addresses by LPT number: [1] 0x378, [2] 0x278, [3] 0x3BC, [4] 0,
// [0] -1.
extern int32_t lptbase[5];

// Loads the library (once), then tests the port at the board's address
// (its parameter; below 16 the LPT's base): 1 (also when the port does not
// answer: output-only ports exist), -1 for an address of 0, -2 when the
// library is missing, -3 when an entry point is missing.
int init_pport(BoardRec* b);
// Unloads the library. 0.
int free_pport();
// True while the library is loaded.
bool pportok();

// portio (flag, port, value): flag 0 and 2 read, 1 and 3 write; the value
// read, 0 after a write, -2 for another flag, -3 for a port outside 16 to
// 65535, -4 when the library is not loaded.
int portio(int flag, int port, int value);
// The portio command: flag (default -1), port (default 0, modulo 65536) and
// value (default -1); the result goes to register 0.
int portcmd();

// Registers by code: the byte read (pportin) or 0 (pportout); -1 for a
// register other than 0 to 2 or an LPT whose base address is 0, -2 for an
// LPT other than 1 to 4, -4 when the library is not loaded.
int pportin(int code);
int pportout(int value, int code);

// An 8-bit ADC behind LPT 1 to 3 (the handshake on the control register,
// the value from the status and control registers); -1 when the library
// is not loaded or the LPT is out of range.
int pport_adc(int lpt);
