// The file commands that work on output-unit roles and whole files: open and
// close of a role or a file (filopn, with the role parser ofiles) and the
// list command (flist, also the printer listing of text files).
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
int filopn(int code, int flag);
// The list command (code 3) and the printer listing of a text file (52).
int flist(int code);
// The delete command (code 303), in its menu form: delete [flags] menu NAME
// ... deletes menus from memory and the menu library (error 96 for a menu
// neither holds); r0 = menus deleted. Other forms are not available yet.
int delcmd(int code);
