// Text macros and flow control: calling and returning from text macros, the
// macro frames in the bottom area of the low stack (arguments and local
// symbol table per level), and the flow-control commands if, while, repeat,
// "}", else, break, next, goto, label, return, default and argshift,
// including loops typed at the command prompt.
//
// Lines are not stored: a text macro is read line by line from its file (or
// its macro-library entry) by the main loop's line reader; loops and jumps
// re-read and skip lines.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "lang/mainloop.h"  // PendQ

// ---- Macro state cells ---------------------------------------------------

// Macro mode: 0 no macro; otherwise the PutMac mode + 1 (1 a frame without a
// file, 3 a text macro, 5 a compiled macro); bit 0x800 while "sysstart" runs,
// bit 0x1000 while "start" runs.
extern uint16_t macmod;
enum : uint16_t { MM_SYSSTART = 0x800, MM_START = 0x1000 };
extern int16_t maclev;  // macro level: depth of nested macro calls
extern int16_t maclin;  // number of the current line of the running macro
extern int16_t mcunit;  // the unit the running macro is read from
extern int16_t lstlbl;  // last label passed
extern int16_t brclev;  // brace depth: open "{" blocks
extern int16_t lopdep;  // loop depth: loop stack entries in use
extern int32_t ipcoff;  // compiled-macro command offset (reset by a frame push)
extern uint32_t libps[3];  // library positions {current, start, end}

constexpr int MAXLOOP = 20;   // loop stack entries
constexpr int MAXMARG = 19;   // saved arguments of a macro
constexpr uint32_t FRMMAGIC = 123456;

// A loop stack entry, 20 bytes.
struct LoopEnt {
  int16_t line;   // macro line of the loop head; 0 marks the entry free
  int16_t brace;  // brace depth outside the loop's block
  PendQ q;        // a typed loop's whole text to replay (len 0: a macro loop)
  int16_t count;  // remaining repeat count
  int16_t spare;  // 1: the loop's "}" or next sent the macro back to its head
};
static_assert(sizeof(LoopEnt) == 20, "a loop entry is 20 bytes");
extern LoopEnt lopstk[MAXLOOP];

// A macro frame: 91 words at the top of the bottom area.
struct MacFrame {
  uint32_t magic;     // 123456
  uint16_t brace;     // this macro's brace depth while its callee runs
  uint16_t loops;     // this macro's loop depth while its callee runs
  uint16_t outsav;    // the caller's OUTPUT unit
  uint16_t nargs;     // argument count (words after the macro name)
  int32_t argtab;     // stack address of the saved-arguments table
  float regs[9];      // the caller's registers #1 .. #9
  PendQ dfltq;        // the caller's default queue
  PendQ typq;         // the caller's typed-line queue
  int32_t symtab;     // stack address of the local symbol table
  int32_t prev;       // stack address of the previous frame (0: outermost)
  uint16_t line;      // this macro's line while its callee runs
  uint16_t label;     // this macro's last label while its callee runs
  uint32_t libpos[3]; // library positions; start = -1 for a macro file
  char name[256];     // the macro's file path (or library name)
  uint16_t mode;      // this macro's mode while its callee runs
  int32_t loopsav;    // stack address of the saved loop stack, 0 none
};
static_assert(sizeof(MacFrame) == 364, "a macro frame is 91 words");
static_assert(offsetof(MacFrame, dfltq) == 52 && offsetof(MacFrame, symtab) == 76 &&
                  offsetof(MacFrame, libpos) == 88 && offsetof(MacFrame, name) == 100 &&
                  offsetof(MacFrame, mode) == 356 && offsetof(MacFrame, loopsav) == 360,
              "macro frame layout");
constexpr int FRMWDS = 91;

// The current frame (null at top level) and its stack address (0).
MacFrame* curfrm();
extern int32_t frmadr;

// The file path (or library name) of the running macro; "" when none.
const char* macnam();
// Records the running macro's name in its frame (at most 255 characters).
void setmacnam(const char* name);

// ---- Calls and returns -----------------------------------------------------

// Calls a text macro. Modes: 1 implied call (the name is argument 1); 2 the
// run command (argument 2); -2 a quiet call by the help command; 128 the
// start-up macro "sysstart"; 8 the macro "start"; 256 a frame without a file
// (nested input); -1 error 80. Returns 0, or -1 when no macro was started.
int Runmac(int mode);
// Pushes a frame for the macro `name` whose arguments follow argument
// `argi` of the current command (0: none); mode 2 text, 4 compiled, 0 a
// frame without a file. Returns 0 or -1 (error 42, interrupt bit set).
int PutMac(const char* name, int argi, int mode);
// Saves `count` arguments from argument `first` on into the table at *table
// (0: a fresh 20-slot table is taken, its slot 0 a string record of the
// name in the frame at `frame`, `namlen` characters); with dflt only the
// empty slots are filled. Each saved argument is a copy of its pointer
// record in the bottom area (30 words for the kinds 0x7E9, else 9), with
// two words ahead of it that let a variable's copy follow the variable;
// data in the scratch or bottom area is copied along. The name record is a
// full 30-word string record, since string records are read whole.
// Returns the words saved, or -1.
int SVMARG(int first, int count, int32_t* table, int dflt, int32_t frame, int namlen);
// The return command (how > 0; code 17), the end of a macro file (how 0, the
// line reader) or an abort (how < 0). Returns 0.
int MRETRN(int how);
// Pops the current frame. Returns 0, or -1 (error 62) for a broken frame.
int popmac();
// Reopens the caller after a return. Returns 0 or -1 (error 80).
int mreopn();
// Reads n lines of the running macro. Returns 0, or 1 when it ended first.
int mskip(int n);
// Aborts every running macro.
int macabt();
// The text of argument n as a macro name; its length (0 when it is no text).
int argname(int n, char* name, int max);

// ---- Flow control (the dispatcher's handlers) -----------------------------

int DEFALT();           // default (16)
int argshift();         // argshift (56)
int IFTEST(int code);   // if (6), while (10), repeat (59)
int Mendif();           // "}" (operator 104)
int MBREAK(int code);   // break (11), next (27)
int mgoto(int mode);    // goto (8) with mode 0; block skipping with mode 1
int mlabel();           // label (9)
// Whether the parsed head's command word carries no condition (no list,
// or "()"): error 25 where it runs.
bool nocond();
// What the main loop does with a flow-control line the line reader
// refused (form: HF_* of lang/rdline.h; code: the head's command code):
// a head's block is passed over as a false condition's is, an if alone on
// its line passes over the next command line, and a "} else {" line's "}"
// closes its block (the else block of words after its "{" is passed over).
void hdpass(int form, int code);

// ---- Services for other modules -------------------------------------------

// The saved argument n of the running macro (the stack address of its
// pointer record), 0 when there is none; installed as the argument
// access's `tokhdr`.
int32_t mactok(int n);
// The argument count of the current frame (nargs) inside a macro, else the
// current command's word count.
int nargsv();
// The line reader's hooks: the macro unit (-1 without a macro), the library
// positions of a running library macro (null otherwise), line counting.
int macunt();
uint32_t* libpos();
void macinc();
// One more line read, the next starting at byte pos.
void macstep(uint32_t pos);

// Services of the macro compiler and the compiled-macro runner that the
// calls and loops use: run the compiled macro named by argument argi (-1:
// not run); compile the loop whose head line was just read (-1: not
// compiled; the lines a typed loop read go to *read).
int runipc(int argi);
int loopcompil(int code, std::string* read);
// The compiled runner's sections kept by its loader, freed at the pop of a
// compiled macro's frame.
void ipcfre();

// ---- Shared by the calls and the flow control -------------------------------

// Byte positions in the running macro: after the last line read and at its
// start (file offsets, or library offsets).
extern uint32_t curpos;
extern uint32_t prvpos;
// Whether the running macro is read from the library.
bool libmac();
// Positions the running macro so that `line` is read next: at byte `pos` -
// 1 when pos is above 0, else by rewinding and reading line - 1 lines.
// Returns 0, or 1 when the macro's text ended first.
int repos(int line, uint32_t pos);
// The bottom area: takes words (0 when there is no room; error 42 was
// reported) and cuts it back to an address.
int32_t botget(int32_t words);
void botcut(int32_t to);
// The owner of the headed block that holds addr (0 none), and a new owner.
int32_t blkown(int32_t addr);
void setown(int32_t addr, int32_t owner);

// Keeps the running macro's state for a call (in its frame, or in the
// top-level save area) and raises the level; callbk undoes it when the
// call could not be made (framed: a macro was running).
void callsv();
void callbk(bool framed);

// Puts every macro cell back to its start-up value (tests, start-up).
void macini();
