// Directory and file utilities: the chdir, directory and getenv commands,
// the file box, and the file-system queries behind system variables.
#pragma once
#include <cstdint>

struct stat;

// chdir: argument 2 the folder (relative names join curdir, ".." climbs);
// mode not 0, a non-text argument or "." only print the current folder.
int chtodir(int mode);
// directory: argument 2 the folder (default "."), argument 3 the pattern
// (default "*"); r0 the number of files listed.
int dircmd();
// Lists the files (not folders) of folder that match pattern, sorted by
// name: the number listed.
int lstdir(const char* folder, const char* pattern);
// getenv set NAME: mode 0 prints the value, -1 gives its length, 1 its
// length too (the value is then in envval()).
int envcmd(int mode);
const char* envval();
// The file box: the chosen name into out (256 bytes), its length; 0 when
// cancelled. Mode bits: 1 a name to save, 2 a folder, 4 start in curdir,
// 8 keep the name absolute, 0x10 keep backslashes, 0x20 remember the
// folder without its final separator.
int browse(char* out, int mode, const char* filter);
// Back to the start-up state: the file box forgets its last folder, getenv
// its last value (used by tests that start the program again in-process).
void dirreset();
// Text of argument n: a string, or a bare word as typed (a name, or a word
// that abbreviates a command word); its length, -1 when it has none.
int argtext(int n, char* buf, int max);
// The platform's file status of a name (0, or -1 when it cannot be had).
int filstat(const char* name, struct stat* st);
// Free space of the current folder's file system in kilobytes.
double freedisk();
// The screen depth in bits per pixel.
int scrdep();
