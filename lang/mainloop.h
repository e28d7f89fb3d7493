// The main loop, the pending-command queues, output redirection, the
// history of typed lines and the journal.
//
// Two queues hold command text as lines separated by newline characters:
//  - the default queue (`dfltq`): text queued by savcmd/xeqstr from the
//    execute command, menus, dialogs, alarms and the interrupt trap; GETLIN
//    takes its lines before any other source;
//  - the typed-line queue (`typq`): text the command-line editor (rdkeys)
//    returns line by line before it reads the keyboard, as if typed; the
//    main loop puts the maincmd text there, and error() empties it.
// A queue's text lives in a headed low-stack block.
//
// The line editor and the main loop agree on the keyboard's end:
//  - rdkeys takes the typed-line queue first (gtpstr(&typq, buf)) and then
//    the keyboard; it recalls history lines with Histry(-1/-2, 0, 0), which
//    leave the line in linbuf;
//  - at end of input at the prompt rdkeys returns -1 (with inend() true);
//    GETLIN then yields the quit command, so the program ends as quit does
//    (the quitstr text runs first).
//  - keys on standard input: ESC [ A is Up (200), ESC [ B Down (208), which
//    the editor turns into PgUp/PgDn (history recall).
#pragma once
#include <cstdint>

// A pending-command queue (12 bytes).
struct PendQ {
  int32_t blk;  // stack address of the text block (0: empty)
  int32_t rd;   // offset of the unread rest of the text
  int32_t len;  // length of the text, its final NUL included (0: empty)
};
static_assert(sizeof(PendQ) == 12);

extern PendQ dfltq;  // the default queue
extern PendQ typq;   // the typed-line queue

// Queue flag: 0 nothing pending; 1 the default queue has text; -1 dispatch
// the parsed line again; -1 - k dispatch it again without its first k
// arguments.
extern int16_t qflag;

// Whether a queue holds unread text.
bool qpend(const PendQ* q);

// Puts text in front of the unread rest of a queue (null: the default
// queue, whose unread rest is kept behind the new text; another queue's old
// text is replaced). argn < 0 takes the text of string argument -argn of
// the current command instead; length < 1 means up to 1024 characters.
// Returns the length queued, 0 when nothing was queued.
int savcmd(const char* text, int argn, int length, PendQ* q);
// The execute command: source >= 1 a string variable's symbol entry whose
// text (up to 1024 bytes) is queued; 0 queues text (length 0: counted);
// < 0 queues string argument -source of the current command.
int xeqstr(const char* text, int source, int length);
// The next line of a queue (null: the default queue) into buf (at most 239
// characters and a NUL); -1 when the queue is empty (it is then freed).
int gtpstr(void* queue, char* buf);
// Frees a queue's text.
int clrpst(PendQ* q);
// The typed-line queue: queues text for the line editor (replacing what it
// held); empties it.
int tlqput(const char* text, int length);
void tlqclr();

// The history ring: 24 entries over a 1024-byte text pool.
constexpr int NHIST = 24;
constexpr int HISTPOOL = 1024;
// Records, lists and recalls history lines (also the journal command).
//  mode 0: records the line in linbuf (length characters) and writes it to
//          the journal unit; flag nonzero: the line came from a queue, so it
//          goes to the journal only (unless pflags bit 0x100).
//  mode > 0: the journal command (arguments 2 and 3 of the current line).
//  mode -1: recalls the previous line into linbuf; mode < -1 the next one.
// Returns the length of the line recalled or queued, else 0.
int Histry(int mode, int length, int flag);
// Puts the recall cursor back on the newest entry.
void hstrst();
// Entry i (0-based from the oldest) of the ring, null past the newest.
const char* hstent(int i);
// Number of entries in the ring.
int hstcnt();
// Forgets every history line (start-up and tests).
void hstclr();

// The main loop: runs until the program ends.
void MAIN();
// One turn of the main loop (MAIN repeats it). Returns the code dispatched.
int mainturn();
// Runs a command through run (the main loop: DOCMND). An exception that
// escapes it (a failed allocation, a library's stream failure) becomes an
// error, 42 "Out of memory" or 71 "Internal error" (the exception's text
// then goes to the log), and the loop goes on. Exceptions that are not
// the standard library's kind pass (a test harness unwinds with its own).
int cmdguard(int (*run)(int), int code);
// Gets, preprocesses, parses and orders the next line of `unit`. Returns
// the argument count (0: no line or an error), the command code in *code.
int GETLIN(int unit, int* code, int flags);
// Serves the interrupt bit: drops the default queue, then aborts the
// macros or queues the ctrap text.
int intrpt();
// The DEBUG> prompt: reads one line from the command window.
int dbgprm();
// Due alarms: -1 when an alarm's command was queued, else 0.
int alarmck(int force);
// Starts the redirection of one command's output (the line's last two
// arguments are ">" or ">>" and the target). Returns the code without
// 0x2000, or -1 when nothing could be redirected.
int Redrct(int code);
// Ends a redirection (at the start of the next turn).
int lstout();
// Resets the tablet reader and drains pending input events.
int flushq();
// Gives the focus to one of the command windows around listing commands
// (sw 1 before, 0 after).
int setfoc(int sw, int reasons);
// Makes the main command window current; nonzero when the text cursor must
// be redrawn.
int cmdwin();
// The current input unit of the main loop (0: the command window).
int inpunt();
extern int16_t inunit;
// The saved listing unit: the unit listings go back to after a redirection.
extern int16_t savlst;
// Turns of the main loop so far, and consecutive turns begun with an error.
// What the last line GETLIN read and refused was when it was a flow-control
// line (HF_* of lang/rdline.h, 0 for any other), and its head's command
// code: the callers pass its block over (hdpass) or keep their blocks
// paired.
extern int16_t hdfail;
extern int16_t hdcode;
extern int32_t nturns;
extern int32_t nerrtn;
