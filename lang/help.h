// Help file reader: the topic table of the help file and the printing of a
// topic or one line of it (the error texts are lines of the topic errors).
//
// File format: line 1 "##PELIX HELP FILE=<table offset>=<topic count>";
// at the table offset one line per topic with six blank-separated fields
// "<any> <offset of the topic's first line> <number> <line count> <section>
// <name>"; topic text lines follow from their offsets (the first is line 0).
#pragma once
#include <cstdint>

// One topic of the table (28 bytes).
struct HlpTopic {
  uint32_t offset;   // byte offset of the topic's first line
  uint32_t number;   // field 3 of the table line
  char name[16];     // topic name, lower case, not NUL-terminated at 16
  uint16_t section;  // section number
  uint16_t lines;    // line count
};
static_assert(sizeof(HlpTopic) == 28);

extern HlpTopic* hlptab;  // the topic table (heap), null until read
extern int32_t nhelp;     // topics in the table
// The help file is the one named by the string variable helpfile, else
// "pelix.hlp" in the system folder (sysdir; before the system table exists
// the PELIX variable, else "system" beside the program). A name set here
// takes precedence over both (tests use it).
extern char hlpfnam[260];
// The name last given to the help command (keys 2000 to 9998).
extern char hlplast[32];

// Loads the help file's topic table: 0, or -1 (help unit 0). The file's text
// is kept in memory; it is read again only when the file has changed (its
// inode, size or modification time), which every use of a topic checks.
int rdhelp();
// Forgets the topic table; the next use loads it again.
int hlpcls();
// Index of the topic named `name` (compared exactly), or -1.
int fndhlp(const char* name);
// The topic index for a key, or -1: a negative key -k is topic k - 1; below
// 1000 the keyword of that command code; 1000 to 1999 the system variable
// of code key - 1000; 2000 to 9998 the name last given to help (hlplast);
// 9999 and more the name already in `name`. `name` (at least 32 bytes, or
// null) receives the name looked up, in lower case.
int hlpkey(int key, char* name);
// Prints a topic on the current output unit: line >= 0 only that line (for
// key 50, the error texts, from its 19th character), line < 0 the whole
// topic. Mode 0 is quiet about a missing topic. Returns the number of lines
// printed, or -1 when there is no such topic or line.
int prthlp(int key, int mode, int line);

// The help (1) and manual (31) commands: argument 2 the topic (a command
// word, a system variable, a variable or name, a topic number, a negative
// number for the word list, or "_page" for the help wiki), argument 3 one
// line of it (default: all). #0 receives the lines printed.
int help(int code);
// Prints n names in columns " %-14s", per line of them (5 when below 1 or
// above 5).
int prcols(const char* const* names, int n, int per);
// Fetches a help-wiki page and shows what arrived; a page cut short, or a
// server that did not answer, is told on the error unit.
int wiki(const char* topic);
// The help-wiki settings: host, page root and default subfolder, and the
// server's port (80).
extern char wikihost[256], wikiroot[256], wikisub[256];
extern int wikiport;
