// The line reader: one line of command text from an input unit (a macro
// file, the macro library, the command window or a running compiled macro),
// the preprocessor pass over it, and the line classifier of the flow-control
// scanners.
#pragma once
#include <cstdint>
#include <cstdio>

// Reads one line of an input unit into buf (at most max - 1 characters,
// NUL-terminated, cut at the first line end, trailing blanks removed).
// Returns its length; -1 for a negative unit, while the interrupt bit is
// set, or at the end of a file that is no macro's; -2 at the end of a macro
// (after ending it). A line longer than the buffer is cut to max - 1
// characters (a line of the macro library to LINBUF - 1); the rest of it is
// passed over.
int rdline(int unit, char* buf, int max);

// Whether the line rdline read last is a line of the running macro too long
// for its buffer: what it holds before its comment (a ";" outside quotes)
// and its trailing blanks passes max - 1 characters. It is told once; *form
// and *code get its failform, or its headform when it is a "} else {" line
// refused for its words. The block scanners (readky) class such a line by
// the whole of it.
bool lnlong(int* form, int* code);

// The form of a line too long for its buffer, judged by the whole of it
// without its comment: its failform, or its headform when it is a
// "} else {" line refused for its words; *code gets a head's code.
int cutform(const char* s, int* code);

// A result of rdline at or above max is the key code that ended an edited
// line (Esc ...), not a length: the line was given up and counts as empty.
inline int linlen(int n, int max, char* buf) {
  if (n < max) return n;
  buf[0] = 0;
  return 0;
}

// The preprocessor pass over line (length, buffer size max): quoted strings
// are passed over; flag 2 ends the line at a ";"; flag 4 folds upper case;
// flag 1 substitutes defined names (a replacement is scanned again; more
// than 1000 scan steps, or a line that would not fit the buffer: error 84).
// Trailing blanks and tabs go. Returns the new length; after an error the
// line is empty and 0 is returned.
int prepro(char* line, int length, int max, int flags);

// Reads the next line into the line buffer for the flow-control scanners and
// classifies it. With mode > 0 a line whose first word begins with "label"
// gives 1 and the number after it in *number; with mode < 0 a line whose
// first word begins with "help" gives 1. Otherwise 2 for a line that begins
// with "}", plus 4 when it opens a block (lincls). A reader result of 0 or
// less is returned as it is.
int readky(int unit, int mode, int* number);

// The class of a line for the block scanners: 2 when it begins with "}",
// plus 4 when it opens a block: its last non-blank character (before a ";")
// is "{", or it is a head or "} else {" with words after its "{".
int lincls(const char* s);

// Forms of a flow-control line that are refused before it runs.
enum HeadForm {
  HF_NONE = 0,
  HF_WORDS,      // if, while or repeat head with words after its "{"
  HF_ONELINE,    // if, while or repeat head whose "{" is closed on its line
  HF_ELSEWORDS,  // "} else {" with words after the "{", or run together ("}else{")
  HF_ELSELINE,   // "} else {" closed on its line
  HF_FAILBLK,    // (failform) a head that opens a block
  HF_FAILONE,    // (failform) an if alone on its line
};

// The form of line s (HF_NONE .. HF_ELSELINE); *arg gets the argument that
// holds the words: 3 for a "{ ... }" closed on the line; for a "} else {"
// whose words run together, the argument they make (1 or 2).
int headform(const char* s, int* arg);

// Whether the line is the head of an if, while or repeat whose "{" (closed
// by no "}" on the line) is followed by further words other than a comment.
// Such a head opens no block: it is refused, and the lines up to its "}"
// are passed over as a block's.
bool wrdhead(const char* s);

// The form of a line that could not be read (parsed and ordered) when it
// begins with if, while or repeat (its code in *code): HF_FAILBLK when it
// opens a block, HF_FAILONE for an if alone on its line, else HF_NONE.
int failform(const char* s, int* code);

// Reads the next line of a macro kept in the library on `unit`; pos holds
// the byte offsets {current, start, end} and current moves past the line.
// Each stored line is a length byte n (the line is n - 1 bytes; a leading
// pair 1, b stands for b blanks), 255 moves on to the next 1024-byte block,
// 0 or the end offset ends the macro (through MRETRN, result -2).
int rdlibl(int unit, uint32_t* pos, char* buf, int max);

// Unpacks the stored library line whose length byte is at rec into buf (at
// most max - 1 characters, NUL-terminated). Its length.
int unpkln(const uint8_t* rec, char* buf, int max);

// Reads one line of a text stream; CR, LF and CR LF end it. At most keep
// characters go into buf, NUL-terminated (a null buf with keep 0 passes the
// line over); the rest of a longer line is passed over. The number of
// characters kept, or -1 at the end of the stream with nothing read.
int strmln(FILE* f, char* buf, int keep);

// Forgets the macro library record the reader holds (after the library
// file was written).
void libfls();

// Services of other modules that the line reader calls. Each module that
// owns one defines it with this very signature.
// The unit the running macro is read from, or -1 when no macro runs.
int macunt();
// The current input unit of the main loop.
int inpunt();
// The macro library's unit (0 or less while it is not open).
int libunt();
// The library positions {current, start, end} (byte offsets) of the running
// library macro, or null.
uint32_t* libpos();
// Counts one more line of the running macro.
void macinc();
// The next line of the running compiled macro into buf, as rdline gives it.
int rdipc(char* buf, int max);
// Ends the running macro (how 0: the end of its file was reached).
int MRETRN(int how);
// The command-line editor: one line typed in the command window, and that
// line as it was cut when it filled the editor's limit before its Enter
// (else null).
int rdkeys(char* buf, int start, int length, int max);
const char* keyfull();
// The next line of a pending-command queue (null: the default queue), or -1
// when it is empty.
int gtpstr(void* queue, char* buf);
// Whether a modal menu is open; the menu bar's redraw trace (ui/menu.cpp).
int mnupnd();
int putmnu(int n);
