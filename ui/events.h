// Input events: key codes, the type-ahead buffer and the interrupt poll.
#pragma once
#include <cstdint>

// The non-blocking interrupt poll of long loops. A Ctrl-C sets status bit
// 0x100. Level 0 keeps a key it gets in the type-ahead buffer and returns it,
// level 1 only returns it, above 2 first answers from the type-ahead buffer.
// Never blocks; 0 when nothing arrived.
int chkio(int level);
// Next key code. Flags: 0 wait; 1 one pass, no wait; 0x800 skip the
// type-ahead buffer; exactly 0x901 look only at pending input. 0 when
// nothing came in a call that does not wait; -1 at end of input while
// `inprompt` is set (see below).
int getkey(int flags);
// Waits for the next key (-1 at end of input at the command prompt).
int waitky();
// Appends a key code to the type-ahead buffer (98 places; a full buffer
// whose keys are all unread drops it). Returns 0.
int pushkey(int code);
// Takes the next key of the type-ahead buffer, 0 when it is empty.
int peek();

// Set by the command-line editor while it waits at the command prompt: end
// of input then makes getkey return -1, so that the editor can end the
// program as quit does. Anywhere else end of input while waiting for a key
// ends the program with a diagnostic and a non-zero status.
extern int inprompt;
// Nonzero once the keyboard input has ended (console at end of file).
int inend();
