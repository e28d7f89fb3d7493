// Splitting of header and set-up lines into words, and keyword lookup by
// prefix. The DM record files read their text headers with them; the
// device set-up and other readers of small keyword files use them too.
//
//   char line[] = "record 3 16 8192 10";   // the line is split in place
//   char* w[20];
//   int n = splitln(line, w, 20);            // 5 words
//   static const char* const keys[] = {"dmdata", "record", "text", "link", nullptr};
//   int k = fndkey(w[0], keys);              // 1
#pragma once
#include <cstdint>

// 1 for a-z, A-Z, 0-9, ".", "_" and "-", else 0.
int isnamc(int c);

// Scans one token from *pos (a NUL-terminated text) by mode:
//   1  blanks and control characters (the line end excepted)
//   2  a run up to a blank
//   3  a name (isnamc characters)
//   4  the rest of the line
//   5  a quoted string: from the quote at *pos to the matching quote that
//      no backslash precedes, both quotes included (to the line end when
//      it is not closed)
//   6  a name that may hold other characters, up to a blank, "{", "$" or
//      "-"
//   32 and up: up to that character (not included)
// The token starts at the old *pos and *length gets its length; *pos moves
// past it. Returns 1 when the scan stopped at a line end (LF or CR, which
// is passed over as well), 2 at the end of the text, else 0.
int scantok(const char** pos, int mode, int* length);

// Splits a line in place into at most max words (pointers into the line,
// each ended by a NUL written over the character after it):
//  - blanks and control characters between words are passed over;
//  - "#" ends the line, and so do LF and CR;
//  - a word that begins with a double quote runs to the matching quote no
//    backslash precedes, both quotes included;
//  - any other word is a run of name characters (isnamc);
//  - "=" standing alone or right after a word is a word of its own: a
//    shared constant text "=" (not in the line; never written to);
//  - any other character ends the word before it and is passed over.
// Returns the word count.
int splitln(char* line, char** words, int max);

// A keyword list entry that keeps its place without matching anything.
inline const char* const KEYSKIP = reinterpret_cast<const char*>(static_cast<intptr_t>(-1));

// The index of the first keyword in the list that word is a prefix of
// (the comparison is exact: callers lower-case the word when the list is in
// lower case); -1 when none is, or when the word is empty. The list ends
// with a null entry; KEYSKIP entries are passed over.
int fndkey(const char* word, const char* const* keys);
