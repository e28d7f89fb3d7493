// The cache of parsed macro lines: a line of a running text macro that was
// parsed before, under the same symbol and define tables, frame, aflags,
// input base and parse flags, gets its parse tables back without being
// preprocessed and parsed again. The parse is a function of the line's text
// and of those, so a hit gives exactly the tables a fresh parse would.
#pragma once
#include <cstdint>

struct FastCmd;

// Places: where a macro line was read (mtplace), -1 when not known; next is
// the place after it. A line read at a known place is neither read nor
// hashed again.
// A line known at place at with these flags, under the current tables:
// true with the place after it in *next and its fast-form slot in *fast.
bool lcplace(int64_t at, int flags, int64_t* next, FastCmd** fast);
// Loads the parse of the line lcplace found last, as lcfind does; false
// when its symbols changed (the line is dropped and must be read again).
bool lcload(int* code, int* nargs);
// On a hit fills linbuf (as preprocessed), the word table, the argument map
// and the parse cells, sets *code and *nargs, and returns true. raw is the
// line as read, flags the parse flags asked for.
bool lcfind(const char* raw, int flags, int* code, int* nargs, int64_t at = -1, int64_t next = -1);
// Keeps the parse that was just made of raw (code: its command code). Both
// this and a hit make the line's fast-form slot the current one (fcur).
void lcstore(const char* raw, int flags, int code, int64_t at = -1, int64_t next = -1);
// Forgets every line.
void lcclear();
