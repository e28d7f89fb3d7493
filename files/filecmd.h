// The file commands that work on output-unit roles and whole text files:
// open and close of a role or a file (filopn, with the role parser ofiles)
// and the list command (flist, also the printer listing of text files).
#pragma once

// Role codes ofiles gives beside the command codes of the role words.
enum : int {
  ROLE_FILE = 0,      // a file name
  ROLE_NONE = -1,     // no role
  ROLE_SKIP = -2,     // the operator "=": skipped
  ROLE_ABSENT = -3,   // no argument
  ROLE_KEYLOG = 1998, // the text "keylog"
  ROLE_DEBUG = 1102,  // the system variable word debug
};

// The role of argument n; a file name goes to name (at most max - 1
// characters) with its length in *len.
int ofiles(int n, char* name, int max, int* len);
// open (code 293) and close (code 19) of a role or a file. Arguments from 2:
// role or file, target (a file or another role), flags (bit 1 append).
// Returns the unit opened (open), 0 (close) or -1; #0 gets the same.
//
// The output role is also the listing unit and the listing unit that a
// one-command redirection returns to, so the following commands write into
// an opened output file until it is closed.
int filopn(int code, int flag);
// The list command (code 3) and the printer listing of a text file (52).
int flist(int code);
// Expands a listed line into out (width + 1 bytes): tabs to the next tab
// stop, a backspace back one column, the line cut after its last non-blank
// character within width. A form feed: -1 with a positive mode (a new page
// must start), a blank with a negative one, and with mode 0 *count = 1000
// (the next line starts a new page). Returns the printable length.
int lfill(const char* in, char* out, int width, int* count, int ffmode);
