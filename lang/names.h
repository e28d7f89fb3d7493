// Names of the command language: the system symbol table made at start-up,
// the 145 system variables (codes 101 to 245), the 35 predefined names and
// the system string variables, and how a word resolves to one of them.
#pragma once
#include <cstdint>
#include <string>

constexpr int NSYSVAR = 145;   // system variables
constexpr int NPREDEF = 35;    // predefined names
constexpr int NSTRVAR = 24;    // system string variables (prompt included)
constexpr int SVBASE = 100;    // code of system variable i (1-based) is 100 + i
constexpr int SVFLAGS = 20;    // kind flags namvar gives a system variable: Number + not on the stack

// System variable codes that other modules name.
enum : int {
  SV_STATE = 101, SV_DEBUG = 102, SV_UNIT = 103, SV_OUTLUN = 104, SV_PFLAGS = 108,
  SV_CURSOR = 113, SV_NVECS = 114, SV_OBASE = 115, SV_GETX = 129, SV_GETY = 130,
  SV_IBASE = 132, SV_GFLAGS = 133, SV_AFLAGS = 135, SV_HIMEMSIZE = 136, SV_TABLET = 143,
  SV_COM1 = 149, SV_COM2 = 150, SV_TABS = 166, SV_VMODE = 199, SV_CLOCK = 200,
  SV_STACKTRAP = 221, SV_VWINDOW = 240, SV_VEC0 = 241, SV_LAST = 245,
};

// The system variable names in code order (sysnam[code - 101]).
extern const char* const sysnam[NSYSVAR];

// A predefined name: kind flags, index, name.
struct PreDef {
  uint16_t kind;
  uint16_t index;
  const char* name;
};
extern const PreDef prdnam[NPREDEF];

// The system string variables in the order mksyms makes them.
extern const char* const strnam[NSTRVAR];

// Option words of the language that live here: the number bases, the
// listing and printer words, tracing thresholds, alarm level, disk words.
extern int16_t obase, ibase;   // output and input number bases (2 to 36)
extern float cpuspeed;
extern int16_t prpage, prwide, vpage, prflags;
extern int16_t alevel;         // lowest alarm priority served
extern int16_t tflags;         // outline tracing flags
extern uint8_t tlo, thi;       // outline tracing thresholds
extern int16_t disklo, diskhi, dflags;  // read, write and delete commands
extern int16_t jpegquality;

// Builds the system table from the command line (program word first).
// Returns 0, or -1 when the low stack had no room (error 42 reported).
int mksyms(const char* cmdline, int len);
// Enters a name with no data and no size in the current table.
int32_t sysvar(const char* name, int flags, int type);
// Resolves a name: 101..245 for a system variable (kind 20), a predefined
// name's index with its kind, or a symbol entry's address with its flags
// masked by 0x1FF6; a negative value when nothing matches.
int32_t namvar(const char* name, int len, uint16_t* kind);
// Reads and sets system variable code (101..245).
float getprm(int code);
int putprm(double value, int code);

// The text of a system string variable (empty when unset or unknown); the
// buffer is the caller's until the next call.
const char* strvar(const char* name);
// Stores text in a system string variable; 0, or -1 when it does not exist.
int setstrv(const char* name, const char* text);
// Stack address of a system table entry by name, 0 when absent.
int32_t sysent(const char* name);

// The pieces of mksyms, for the start-up code and tests: the system
// folder (from PELIX, the program's "system" folder, or the current
// folder; "/" separators and a trailing "/"); the current folder with a
// trailing "/"; the command line split into program word and the rest.
std::string sysfold(const char* pelix, const char* progdir);
std::string curfold();
void splitcmd(const char* cmdline, int len, std::string* prog, std::string* rest);

// Puts the language cells and the getx/gety pick state back to their
// start-up values (start-up code and tests).
void nameini();
