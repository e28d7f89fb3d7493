// The MeasComp acquisition board behind the run-time loaded board library
// (device kind meascomp): what the device set-up and the channel routines
// call.
#pragma once
#include <cstdint>

struct BoardRec;

// Sets the board up through the library: 1 on success, or a negative code
// (-2: the library is not there).
int init_meascomp(BoardRec* b);
// One analog value of board-local channel k into *value: a status (>= 0
// good).
int mcain(BoardRec* b, int k, int* value);
// Writes the bits of one digital port (port code 10 or 11): the status.
int mcdout(BoardRec* b, int port, int bits);
// Stops a running background scan and frees its buffer.
int mcstop(int, int);
