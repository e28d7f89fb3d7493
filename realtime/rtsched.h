// Real-time runs: the state block of a run, the task records and the
// running list, the due-time rules, the run loop, the run log, pause and
// resume, and the clean-up; the realtime command itself.
#pragma once
#include <cstdint>

#include "core/memory.h"
#include "realtime/rtcomp.h"

// RT flags (argument 4 of the realtime command).
enum : uint16_t {
  RF_CHECK = 0x0001,    // check each op's operands when it is prepared
  RF_WIN2 = 0x0002,     // open real-time window 2 as well
  RF_ELAPSED = 0x0004,  // log entries hold elapsed time from the due time
  RF_NOTIME = 0x0008,   // every op but r_synch is due at once
  RF_STEP = 0x0010,     // wait for a key before each op is prepared
  RF_LOGALL = 0x0020,   // log every op
  RF_LATE = 0x0040,     // log ops that start late
  RF_OPTIME = 0x0080,   // op-timing mode
  RF_FIFTHS = 0x0100,   // op times in fifths of a tick
  RF_DORT = 0x0200,     // trace each op on the debug unit
  RF_MAINWIN = 0x0400,  // draw into the main window on a second monitor
  RF_DEFWIN = 0x0800,   // use the default window, no window 2
  RF_TASKBAR = 0x1000,  // hide the task bar during the run
  RF_PAUSED = 0x2000,   // paused by r_pause
  RF_NOPUMP = 0x4000,   // serve no window messages during the run
  RF_LOADED = 0x8000,   // a program is loaded
};

// The priority word of runs (system variable priority): above 0 raises
// the process's scheduling priority while a run lasts.
extern int16_t priority;

constexpr uint32_t RT_NEVER = 0x3FFFFFFF;  // the due time of a waiting task
constexpr int RTSLOTS = 20;                // string slots

// Task record: one per op list in execution (the main list and each block).
// References are stack addresses (0 none).
struct RtTask {
  int32_t list;     // 1: the program's list header
  int32_t cur;      // the op to run next
  int32_t next;     // the op after it
  int32_t block;    // block record (RtRpt), 0 for the main task
  int32_t prev;     // running-list neighbours
  int32_t rnext;
  int32_t chain;    // next task of the chain of all tasks
  uint32_t due;     // tick at which the current op may run
  uint32_t exact;   // tick to which a busy-wait op spins
  int16_t slot[8];  // value slots (or four 32-bit words)
  int16_t opcode;   // of the current op
  int16_t seq;
  int16_t result;   // value logged with the op
  int16_t window;   // real-time window number (1 or 2)
  int32_t clip[4];  // left, top, right, bottom of its drawing area
  int32_t wport;    // window the task draws into (window number + 1, 0 none)
  int16_t hold;     // 1 while the task waits for a block or r_synch: never due
  int16_t inrun;    // 1 while the task is on the running list
};

// List header.
struct RtList {
  uint32_t nops;    // ops remaining for the main task
  uint32_t origin;  // time origin
  int32_t oplist;   // stack address of the op list
  int32_t main;     // main task
  uint16_t nblk;    // running block tasks
};

// Run-log entry, 8 bytes.
struct RtLogEnt {
  uint32_t time;
  uint8_t opc;
  uint8_t code;
  uint16_t value;
};

// The state block of the run.
struct RtState {
  uint16_t flags;
  uint16_t seqctr;
  int32_t logrec;      // run-log variable's pointer record (stack address), 0 none
  int32_t logleft, logall;
  uint32_t reset1;     // first reset time
  uint32_t now;        // clock value of the current loop turn
  RtList lst;
  RtLogEnt* lognext;   // next run-log entry
  int32_t contab, vartab;  // stack addresses of the constant and variable tables
  int32_t nvars, ncons;
  int32_t chain, head, tail;  // tasks: chain of all, running list
  int32_t latelim;
  int32_t oprep, opctr;       // op-timing repeat count and counter
  int32_t savgfl, savfont, savtsz, savdw[2];
  int16_t ophelp;             // base of the op-error help lines
  float frame;                // frame period in ticks
  int16_t lead;               // lead in ticks
  uint32_t frmtime;           // clock of the last colour-table change
  uint16_t frmset;            // the frame time is known
  int16_t fgidx, bgidx;       // current foreground and background colour indices
  uint32_t fgval, bgval;      // and their values
  int32_t movtask;            // the task playing a movie (stack address), 0 none
  uint8_t both, defwin;
  char* str[RTSLOTS];         // string slots
  int32_t cine;               // cine player list
  int32_t clip[4];            // clip rectangle of the default window
  int32_t defport;            // default window (number + 1)
  int16_t winid[2];           // window numbers + 1 of real-time windows 1 and 2
  int32_t sweep;              // sweep record list
  int32_t filtab;             // RT file table (stack address), 0 none
  int32_t varmax, conmax;     // table capacities
  int32_t rtfact;             // table factor N
  int32_t nerr, nchk;         // op errors and ops examined by the operand check
};
extern RtState rts;

inline RtTask* rttask(int32_t a) { return a ? static_cast<RtTask*>(static_cast<void*>(wordp(a))) : nullptr; }
inline RtOp* rtop(int32_t a) { return a ? static_cast<RtOp*>(static_cast<void*>(wordp(a))) : nullptr; }
inline RtRpt* rtrpt(int32_t a) { return a ? static_cast<RtRpt*>(static_cast<void*>(wordp(a))) : nullptr; }

// The realtime command.
int rtime();
// Sets up a run: state block, run log, display; compiles; starts the clock.
// The RT flags, or -1 when the set-up failed.
int runlog();
// A new zero-filled task appended to the chain of all tasks (0 when memory
// is short).
int32_t newlst();
// Advances a task to its next op and prepares it.
void nxtop(RtTask* t);
// The block-pass decision: 0 go on, -1 a new pass starts, 1 the block is done.
int minint(RtTask* t);
// Takes an ended task out of the running list; resumes its parent with go.
void endchk(RtTask* t, int go);
// Writes the next run-log entry.
void rtlog(uint32_t time, const RtOp* op, int mode, int value);
// Sets a task's due time (ending a hold); holds a task: it waits for a
// block or r_synch and is never due by the clock.
void setdue(RtTask* t, uint32_t due);
void rthold(RtTask* t);
// Reads the clock until it reaches `until` (on the virtual clock: moves it there).
uint32_t rtspin(uint32_t until);
// Real-time windows: opens window n (1, 2; 0 the default window) and
// returns its number, 0 when there is none; a task (or, null, the default
// drawing state) takes window n; releases a window.
int rtwin(int n);
int setrtwin(RtTask* t, int n);
void rtwdone(int n);
// Frees everything of a loaded program.
void rtfree();
