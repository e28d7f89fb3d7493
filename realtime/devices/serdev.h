// The serial instruments on board records: the ADC boxes (device kinds
// eecadc and geadc) and the response box (srbox).
//
// An eecadc box answers each request pair (k + 4, k) with two bytes, the
// 12-bit value (big-endian, high nibble in the low bits of the first byte)
// of the channel requested by the pair before: a request for n channels
// sends n pairs in rising channel order and the last pair again, and its
// reply of 2 x (n + 1) bytes skips its first pair. A geadc box sends
// 12-byte packets on its own: six little-endian 16-bit words, word 0 a
// header, words 1 to 4 the channels, word 5 the sum of bytes 0 to 9.
#pragma once
#include <cstdint>

struct BoardRec;

// adbread (board-local channel mask, destination, stride, flags, board):
// flags 1 sends a request, 4 waits for the reply with the board's time-out
// (times half the request bytes); without 4 the reply is read until
// complete (at most 2000 + 50 x its length ms). The values of the mask's
// channels go to destination[0], [stride], ... in rising channel order.
// The bytes received, or -2 short reply, -3 port not open, -4 time-out, -5
// no valid geadc packet (also in destination[0]).
int adbread(int mask, int16_t* dest, int stride, int flags, BoardRec* b);
// The board-local channels whose values adbread gives for a board-local
// mask, in its order; their count.
int adbchans(const BoardRec* b, int mask, int* local);
// adbval (board-local channel, &value, flags, board): one channel; flags
// exactly 1 only sends the request (result 4). -1 (value -1) for a channel
// outside the board, -3 when its port is not open.
int adbval(int channel, int* value, int flags, BoardRec* b);
// Opens (mode non-zero) or closes an ADC box's serial slot: 1, or the
// negative comini result; 0 for a record without a kind.
int init_adb(int slot, int mode, BoardRec* b);

// comdev (COM number, mode, board): opens the response box's port and sends
// it 0xA0 0xE0, or (mode 0) closes it; the comini result.
int comdev(int com, int mode, BoardRec* b);
// comdig (board, &status, flags): one byte of the response box (comread
// flags, 20 when 0: the newest byte, silent); without a new byte the last
// one again, cleared once the board's hold time has passed since it came.
int comdig(BoardRec* b, int* status, int flags);
