// Input events and the message loops.
//
// The program keeps its own message queue. Backends post platform input into
// it as messages with the original message numbers; the loops below take
// messages out, hand each to the one window procedure `wndproc`, which turns
// it into the single input-event record `evtrec`, and `evtkey`/`dokey` turn
// that event into a key code. A later message overwrites an earlier event:
// the record is no queue. Paint messages are made up when nothing else is
// pending, for windows marked invalid.
//
// Key codes: characters below 128 as typed; special keys are 128 plus the PC
// scan code (Up 200, Down 208, Left 203, Right 205, Home 199, End 207,
// PgUp 201, PgDn 209, Ins 210, Del 211, F1..F10 187..196); F11 and F12 are
// 113 and 114; Esc is 27 from the keyboard (the editor makes it 155).
#pragma once
#include <cstdint>

// Message numbers.
enum : uint32_t {
  WM_NULL = 0x0000,
  WM_CREATE = 0x0001,
  WM_DESTROY = 0x0002,
  WM_MOVE = 0x0003,
  WM_SIZE = 0x0005,
  WM_SETFOCUS = 0x0007,
  WM_KILLFOCUS = 0x0008,
  WM_PAINT = 0x000F,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_ERASEBKGND = 0x0014,
  WM_ACTIVATEAPP = 0x001C,
  WM_SETCURSOR = 0x0020,
  WM_MOUSEACTIVATE = 0x0021,
  WM_WINDOWPOSCHANGING = 0x0046,
  WM_NCPAINT = 0x0085,
  WM_SYNCPAINT = 0x0088,
  WM_KEYDOWN = 0x0100,
  WM_KEYUP = 0x0101,
  WM_CHAR = 0x0102,
  WM_SYSKEYDOWN = 0x0104,
  WM_SYSKEYUP = 0x0105,
  WM_SYSCHAR = 0x0106,
  WM_KEYLAST = 0x0109,  // 265: the end of the key messages
  WM_COMMAND = 0x0111,
  WM_SYSCOMMAND = 0x0112,
  WM_MOUSEMOVE = 0x0200,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONUP = 0x0202,
  WM_RBUTTONDOWN = 0x0204,
  WM_RBUTTONUP = 0x0205,
  WM_MBUTTONDOWN = 0x0207,
  WM_MBUTTONUP = 0x0208,
  WM_MOUSELAST = 0x020E,  // 526: the end of the mouse messages
  WM_ENTERSIZEMOVE = 0x0231,
  WM_EXITSIZEMOVE = 0x0232,
  MM_WOM_OPEN = 955,   // sound output opened
  MM_WOM_CLOSE = 956,  // sound output closed
  MM_WOM_DONE = 957,   // sound output buffer done
  WM_MAKDLG = 90001,   // private: create a modeless dialog
};

// Virtual-key codes of WM_KEYDOWN.
enum : uint32_t {
  VK_BACK = 0x08,
  VK_TAB = 0x09,
  VK_RETURN = 0x0D,
  VK_SHIFT = 0x10,
  VK_CONTROL = 0x11,
  VK_MENU = 0x12,
  VK_ESCAPE = 0x1B,
  VK_PRIOR = 0x21,
  VK_NEXT = 0x22,
  VK_END = 0x23,
  VK_HOME = 0x24,
  VK_LEFT = 0x25,
  VK_UP = 0x26,
  VK_RIGHT = 0x27,
  VK_DOWN = 0x28,
  VK_SNAPSHOT = 0x2C,
  VK_INSERT = 0x2D,
  VK_DELETE = 0x2E,
  VK_ADD = 0x6B,  // keypad +
  VK_SUBTRACT = 0x6D,  // keypad -
  VK_F1 = 0x70,
  VK_F10 = 0x79,
  VK_F11 = 0x7A,
  VK_F12 = 0x7B,
};

// Modifier bits of a message and of the event record.
enum : uint16_t {
  MK_SHIFT = 4,
  MK_CTRL = 8,
  MK_ALT = 32,
  // A WM_CHAR typed as text (the console, standard input, a script's type
  // step, a text event): a byte 128-255 is a character of the text, not
  // the code of a special key.
  MK_TYPED = 0x4000,
};

// One message of the queue. `keys` holds the modifier keys down when the
// message was made (what the window procedure asks the platform's key state
// for); x and y the pointer position.
struct Msg {
  int32_t hwnd;      // window handle (0: none)
  uint32_t message;  // message number
  uint32_t wParam;
  uint32_t lParam;
  uint32_t time;     // tickms(1) when posted
  int16_t x, y;
  uint16_t keys;     // MK_SHIFT | MK_CTRL | MK_ALT
  uint16_t pad;
};

// The input-event record (24 bytes), written only by `wndproc`.
struct EvtRec {
  int16_t v;          //  0 mouse point y, client coordinates
  int16_t h;          //  2 mouse point x
  int16_t what;       //  4 0 none, 1 button down, 2 button up, 3 key, 10 Alt+key, 100 menu
  int16_t modifiers;  //  6 buttons 1 left, 2 right, 16 middle; 4 Shift, 8 Ctrl, 32 Alt
  int16_t window;     //  8 window number
  int16_t pad;        // 10
  uint32_t message;   // 12 key code, menu command word, or the modifiers again
  uint32_t param;     // 16 the message's lParam
  int32_t hwnd;       // 20 window handle of a mouse event
};
static_assert(sizeof(EvtRec) == 24);
extern EvtRec evtrec;

// The modeless dialog table: the platform window handles of up to 32
// modeless dialogs (0: empty) and the count of slots in use (one more than
// the highest slot filled). WM_MAKDLG fills it; dlgdrop empties a slot.
constexpr int NDLGTAB = 32;
extern int32_t dlgtab[NDLGTAB];
extern int16_t ndlgtab;
// Set by a modeless dialog when one of its buttons has queued a command.
extern uint32_t dlgcmd;
void dlgdrop(int32_t dialog);

// ---- The message queue (the platform side) --------------------------------
// Appends a message; 0, or -1 when the queue is full (the message is lost
// and the log says so).
int postmsg(int32_t hwnd, uint32_t message, uint32_t wParam, uint32_t lParam, uint16_t keys = 0);
// Free places in the queue. A backend puts typed input in only while at
// least MSGRESERVE places are free, and otherwise leaves it where it is
// until the program has taken some: nothing typed is lost, and a Ctrl-C or
// a window's message still finds room.
constexpr int MSGRESERVE = 64;
int msgroom();
// The first message numbered lo..hi (0, 0: any), after asking the backend for
// pending events. remove: take it out of the queue. 1 when one was found.
// A paint message is made up for an invalid window when the range takes it
// and no other message is there.
int peekmsg(Msg* m, uint32_t lo, uint32_t hi, int remove);
// Takes the next message, waiting for input. 0 at the end of input (the
// quit message), else 1.
int getmsg(Msg* m);
// Hands a message to the window procedure. Returns its result.
int32_t dispmsg(const Msg* m);
// Marks a window for repaint (it gets a WM_PAINT when nothing else is
// pending); validwin takes the mark away.
void invalwin(int32_t hwnd);
void validwin(int32_t hwnd);
// Drops every queued message and paint mark (tests, start-up).
void clrmsgs();
// Whether a modifier key (VK_SHIFT, VK_CONTROL, VK_MENU) was down for the
// message being handled.
bool keyheld(uint32_t vk);

// The platform name of a message number for the message log (numbers 0 to
// 136; an empty name below 160, " " from 160 on).
const char* msgname(uint32_t m);

// ---- The window procedure ------------------------------------------------
int32_t wndproc(int32_t hwnd, uint32_t message, uint32_t wParam, uint32_t lParam);

// ---- The loops -----------------------------------------------------------
// Next key code. Flags: 0 wait; 1 one pass, no wait; 0x800 skip the
// type-ahead buffer; exactly 0x901 look only at input already pending as
// events (a blocking read of typed input does not count). Returns 0, or a
// negative poll result, when nothing came in a call that does not wait.
// At the end of input a waiting call returns -1 while `inprompt` is set,
// and otherwise ends the program with a diagnostic on standard error and
// status 1.
int getkey(int flags);
// Turns the current event into a key code (0 when it gives none).
int evtkey(int have, int flags);
// The keyboard handler: turns a key (character in the low byte, scan byte
// in the next) with its modifiers into a key code, or 0 when it consumed
// it. mode < 0 skips the translation tables; mode bit 0x200 is the
// cursor-key mode of point picking. Ctrl-A prints the progress of the
// running array loop, Ctrl-B empties the type-ahead buffer, Ctrl-C sets
// status bit 0x100, Ctrl-D sets the trace mask, Ctrl-E sets status 0x80.
// With pflags bit 8 Ctrl-C ends the program (finish (2)): at once, or when
// a poll (chkio) took it, once the running operation has returned (endreq).
int dokey(int event, int modifiers, int mode);
// The exit status of an end that Ctrl-C asked for during a poll, 0 when
// none: the operation that polled may have threads working on its data, so
// it stops first (the interrupt bit), and the end comes at the main loop's
// next turn or the next wait for input, whichever is first (endnow).
extern int endreq;
// Ends the program (finish) when an end is pending.
void endnow();
// The non-blocking interrupt poll of long loops. Level 0 keeps a key it gets
// in the type-ahead buffer and returns it, level 1 only returns it (and
// also takes typed input), above 2 first answers from the type-ahead buffer.
// 0 when nothing arrived.
int chkio(int level);
// Counts the calls of chkio (whatever a poll served, code that keeps
// checked state across commands checks it again after one).
extern uint32_t iogen;
// The per-command poll of the command loops: chkio(0) when messages wait,
// else on every 64th call, so a stream of short commands does not pay a
// full poll each (Ctrl-C is still seen within 64 commands).
int pollio();
// Nonzero when input waits, removing nothing: which nonzero a key or mouse
// message, 0 any input.
int inpend(int which);
// Dispatches every pending message; events go through evtkey(1, -1).
int pumpmsg();
// Dispatches pending paint messages only.
int flushpnt();
// Waits for the next key (loops on getkey(0)).
int waitky();
// Waits time ms (unit 1) or s (unit 0) while polling input, or with a
// negative time until a key, whose code it returns. Ends early on Ctrl-C
// (status bit 0x100 stays set). Returns the last poll result, -1 when no poll
// ran. Keys pressed during a timed wait stay in the type-ahead buffer.
int waitev(int time, int unit);
// Double-click check after a press: waits until 200 ms after the press,
// polling input; the code | 8 when the left button was released and pressed
// again meanwhile, else the code.
int dblclk(int code, int);
// Prints a prompt on the terminal and reads a decimal number from key
// messages, each digit echoed; the first other key ends it. -1 when no digit
// came.
int keynum(const char* prompt, int value);
// The Shift bit (4) of the event's modifiers.
int shiftdn();
// A debug line drawn straight onto the main window: a white strip from x 300
// to 600 at y, the formatted text at (310, y + 3).
int dbgtxt(const char* format, int a, int b, int c, int y);
// Registers a window class: its atom, 0 for an unknown kind.
int regcls(const char* name, int style, int icon, int smallicon, int colour);
// One byte from the digitizer tablet's serial port, -1 when none came.
int comgetc();
// Moves the pointer to (x, y).
int setcurs(int x, int y);
// Dispatches pending sound-output notifications (955-957) only; 1 when one
// was there.
int wommsg();
// Empties pending key input, then waits for a key that dokey makes a code
// of (returned) or a button press (its point (v, h) into point, 0 returned).
int waitevt(int16_t* point);
// Deadline pair: time non-zero sets it (unit 0 seconds, else ms) on the
// calendar; time 0 answers 1 once it has passed, else 0.
int settmo(int time, int unit);
// The pause of the array loops: mode 1-2 timed (interval ms), 3-4 until a
// key, 5-6 until a trigger (none here: refused with -1); odd modes act once.
int setpause(int mode, uint32_t interval);

// The trace mask that Ctrl-F put aside while stepping through a macro (0:
// none); the macro return puts it back.
extern int32_t savdbg;
// Pixels per arrow key in the cursor-key mode of point picking (Ins cycles
// 64, 8, 1).
extern int16_t curstep;

// ---- The type-ahead buffer -------------------------------------------------
// Appends a key code (98 places; a full buffer whose keys are all unread
// drops it); text marks a typed character 128-255 (keytext). Returns 0.
int pushkey(int code, bool text = false);
// Takes the next key of the type-ahead buffer, 0 when it is empty; sets
// keytext for it.
int peek();
// The next key of the type-ahead buffer without taking it, 0 when empty.
int peekky();
// Empties the type-ahead buffer.
void clrpeek();

// Set by the command-line editor while it waits at the command prompt: end
// of input then makes getkey return -1, so that the program can end as quit
// does. Anywhere else end of input while waiting for a key ends the program
// with a diagnostic and a non-zero status.
extern int inprompt;
// The message of the last key event (WM_CHAR for a key of the type-ahead
// buffer): Esc comes both as WM_KEYDOWN and as WM_CHAR.
extern uint32_t keymsg;
// The last key getkey (or peek) gave is a character 128-255 typed as text,
// which the line editor takes as text: the same codes that come as keys
// are the special keys (Home 199, PgUp 201 ...).
extern bool keytext;
// Nonzero once the keyboard input has ended.
int inend();
// Forgets the end of input (tests).
void inreset();
