// The command-line editor, and the least of the cursors: the pointer flag
// and point picking from the keyboard.
#pragma once
#include <cstdint>

// Reads one line into buf from the keyboard, echoing it in the current text
// window from the text cursor, and returns its length (buf NUL-terminated).
//
// Normally start, length and max are ignored: the line starts empty at the
// cursor column and holds at most 239 characters (fewer when max, the
// buffer's size, is smaller). With status bit 0x40 (editor mode) the line
// already stands in buf and on screen: start is its first column, length
// its length, max the buffer's size; a special key (131 and up, except Del)
// is then returned at once as key + 0x100.
//
// Outside editor mode the next line of the typed-line queue, when it holds
// one, is returned instead of reading the keyboard.
//
// Keys: printable characters insert (or overwrite, after Ins) at the
// cursor; Backspace deletes left of the cursor (at column 0 the character
// under it); Del, Home, End, Left, Right; Tab pads to the next tab stop at
// the end of the line, else moves to the next word; Up/PgUp and Down/PgDn
// recall the previous and next history lines (Histry); Ctrl-U and 131 clear
// the line; Ctrl-C and Ctrl-E clear it and return 0; Esc is ignored on the
// command line and returned as 155 + 0x100 at other prompts; Enter (or a
// left click on a non-empty line) ends it, as does reaching the limit. The
// finished row is ended (jline), so the headless console prints it.
//
// End of input: at the command prompt - editor mode off and no command's
// arguments pending (nargw 0), as when GETLIN reads the command window -
// rdkeys returns -1 and inend() is true; the main loop then runs the quit
// command. The prompt row is left as it stands. At any other prompt end of
// input ends the program with a diagnostic and status 1.
int rdkeys(char* buf, int start, int length, int max);

// When the last line rdkeys read outside editor mode reached its limit
// before its Enter (refused at the command prompt with error 186, cut to the
// limit at any other prompt): that line as it was cut; else null.
const char* keyfull();

// Output made while rdkeys waits for a key outside editor mode (a tool
// window reporting a failure): lnoff takes the line off its row (the text
// before it, the prompt, and what was typed so far) so that the output
// starts there; lnon then shows them again on the row where the output
// ended, or the row after it, and the editing goes on there. Both do
// nothing while no such line is read.
void lnoff();
void lnon();

// Insert mode of the editor (toggled by Ins; initially on).
extern bool insmod;
// Editor mode in detail: Enter, the mouse buttons and Del where nothing
// stands under the cursor, or while a block mark is set (edblock), come back
// as key + 0x100 too; the row is never slid and shows every column of the
// window, characters pushed past its edge stay in buf; a key that takes the
// cursor past the last column, or fills the line, gives back 0x100; Ctrl-C
// and Ctrl-E give 0 and leave the line as it is; the row is not ended. The
// cursor's place in the line when rdkeys returned is in edcol.
extern bool edblock;
extern int edcol;

// Sets (on) or clears the cursor-on flag 0x8000 when `which` has bit 1,
// showing or hiding the system pointer when it changed; returns the previous
// state of that flag (1 on, 0 off).
int curson(int which, int on);
// Shows or hides the system pointer; the display count is traced with
// trace-mask bit 4.
int ShowCursr();
int HideCursr();

// Point picking: follows the cursor point until a key, which it returns
// (0 for Ctrl-A..Ctrl-E), with the point in x and y. Arrow keys move the
// point by the step (8 at the start of a pick with mode 16; Ins cycles
// 64, 8, 1); Enter gives 129 (a left click) while the cursor is on. Mode
// bits: 4 start at the given point, 8 return after the first move, 16 drain
// pending input and set the step to 8, 32 shift the point right by the
// cursor state's shifts, 64 double-click test the buttons. With a key menu
// shown, Space keeps the point and a second Space takes the pointer back;
// cursor flag 0x100 maps the box to image coordinates (ui/cursor.h).
// Defined in ui/pick.cpp with getxyz.
//
// Without a pointer device (the headless console) there is nothing to
// follow: the pick ends at once at the cursor point with 130 (the right
// button, "done"), so that the interactive loops of the drawing commands
// end instead of eating the lines that wait on standard input.
int getxy(int mode, int* x, int* y);
