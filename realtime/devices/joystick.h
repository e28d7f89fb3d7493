// The joystick board (device kind gameport) through SDL2's joystick calls;
// SDL is loaded when a joystick is first asked for.
//
// Positions are 0 to 65535 (the SDL axis value + 32768) and are given
// halved (0 to 32767); buttons are bits, button 0 the lowest.
// PELIX_JOYSTICK=x,y,z,nbuttons,pressed attaches one SDL virtual joystick
// as id 0 with those positions and the buttons of the mask pressed; other
// joysticks follow it.
#pragma once
#include <cstdint>

struct BoardRec;

// Opens (open non-zero) the joystick of the board's id (its input unit), or
// with id -1 the first that answers: 1, or -1 when none. Closing gives the
// id back.
int Init_gameport(BoardRec* b, int open);
// Positions (halved) into x, y, z; the button bits are the result. status
// gets 0, or -1 when the joystick cannot be read.
int getjoy(BoardRec* b, int* x, int* y, int* z, int flags, int* status);
// Axis 1 gives y, any other x.
int joyaxis(BoardRec* b, int axis, int* status);

// After a read error a position of 32767 (the stick seen as far right or
// down) is taken as a fault: such readings give the previous position
// until one with both positions below 32767 comes.
struct JoyHold {
  uint32_t since;  // tickms(1) of the error, 0 none
  int px, py;      // the last position given
};
// Applies the rule to one reading; err 1 notes a read error.
void joyhold(JoyHold* h, int err, int* x, int* y, uint32_t now);

// Closes every joystick and forgets the virtual one (tests).
void joyend();
