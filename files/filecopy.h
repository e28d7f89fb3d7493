// The commands that work on whole files: delete, copy, preproc (with the
// module expansion modexp) and system; fopen, fread, fwrite and fclose do
// nothing on this platform. Results go to r0.
//
// copy and preproc write through a temporary file in the destination's
// folder that is renamed over the destination when complete, so a failure
// or a refusal never costs the old file. The questions of delete
// (" ? [y] ") and copy ("Overwrite: %s ? [y] ") take one key, judged by
// yesno: y, Y or Enter yes; n or N no (that file is skipped and the command
// goes on, no error); Esc cancels (the command stops).
#pragma once
#include <cstdio>

// delete [flags] [kind] names or numbers... (code 303): flags 1 ask before
// each file (and show it), 2 stop at the first missing file, 4 show each
// name, 8 look for numbered files on the other drives; without a number
// first the flags are 3. Kind words: image (".img"), vector (".vec"),
// another kind word (".dat"), menu, macro. Numbers name data files in the
// data folder; "a word b" between two numbers is a range. With the trace
// mask 2 or more nothing is deleted, the names go to the debug unit.
// r0 = files deleted.
int delcmd();
// copy source destination [flags [buffer size]] (code 24). Flags 1, 2 and 4
// copy text (4 and 1 through the preprocessor, 2 expanding include lines,
// at most 4 deep), otherwise bytes. With flags 8 or 16 an existing
// destination is refused (error 180), or with flag 4 too, asked about.
// r0 = bytes (binary) or lines (text) written; 0 when the user said no.
int copyfl();
// preproc source destination [mode] (code 67): each line through the
// preprocessor (mode bits 1, 2, 4), module lines expanded with mode bit 8.
// r0 = lines written.
int filcpy();
// A "module FILE p1 p2 ..." line: writes the module file's lines to out with
// $n and ${n} (n from 1 to the parameter count) replaced by parameter n.
// The lines written; 0 when the line is no module line or the module file
// cannot be opened; -1 when a write fails.
int modexp(const char* line, FILE* out);
// system "command" (code 335): runs the command through /bin/sh after the
// program's output is flushed. r0 = its exit status (128 + the signal's
// number when a signal ended it), -1 when argument 2 is no text or is longer
// than 240 characters, or when the command could not be started.
int syscmd();
// fopen, fread, fwrite and fclose: nothing is done; r0 = 0.
int fiocmd(int code);
// Order of two names over at most 8 positions: where both have a number,
// the numbers by value, otherwise the characters by code. <0, 0 or >0.
int namsrt(const char* a, const char* b);

// Deletes a menu from memory and from the menu library (the menu module):
// 0, or -1 when neither had it.
int delmnu(const char* name);
