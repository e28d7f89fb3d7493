// Writing a whole file so that a failure never costs the old one: a plain
// file (or a name not there yet) is written to a temporary file in the same
// folder and renamed over the name when complete; a device or other special
// file is written straight (core/tmpfile.h). A failed write is reported
// with its cause.
#pragma once
#include <string>

#include "core/tmpfile.h"

struct SafeOut : TmpWrite {
  std::string name;  // the name as the user gave it (shown in messages)
};

// Prepares the write of `name` (a language path): asks before an existing
// file is replaced, and makes the temporary file. *open gets the host path
// to write. false when the file cannot be written (reported, argument arg).
bool swbegin(const char* name, int arg, SafeOut* s, std::string* open);
// swbegin without a report: 0, -1 when the user declined the overwrite
// (ask), else the errno of the failure.
int swtemp(const char* name, SafeOut* s, std::string* open, bool ask);
// swend without a report: 0 when the name now holds the new file, -1 when
// ok was false, else the errno of the failed rename.
int swdone(SafeOut* s, bool ok);
// Ends the write: when ok, the temporary file replaces the name (a failed
// rename is reported); otherwise the temporary file is removed. Returns
// whether the name now holds the new file.
bool swend(SafeOut* s, bool ok);
// Reports a failed open or write of `name`: a line "NAME: cause" on the
// error unit, then error `code` (66 open, 69 write; argument arg).
void fileerr(const char* name, int arg, int code, int err);
void wrterr(const char* name, int arg, int err);  // fileerr code 69
// The argument a failed write below a command is reported on: the file's
// argument while the read and write commands run, else 0.
extern int wrtarg;
