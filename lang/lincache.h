// The cache of parsed macro lines: a line of a running text macro that was
// parsed before, under the same symbol and define tables, frame, aflags,
// input base and parse flags, gets its parse tables back without being
// preprocessed and parsed again. The parse is a function of the line's text
// and of those, so a hit gives exactly the tables a fresh parse would.
#pragma once

// On a hit fills linbuf (as preprocessed), the word table, the argument map
// and the parse cells, sets *code and *nargs, and returns true. raw is the
// line as read, flags the parse flags asked for.
bool lcfind(const char* raw, int flags, int* code, int* nargs);
// Keeps the parse that was just made of raw (code: its command code). Both
// this and a hit make the line's fast-form slot the current one (fcur).
void lcstore(const char* raw, int flags, int code);
// Forgets every line.
void lcclear();

struct FastCmd;
// The fast form kept with raw's cached parse while the cache is current
// (no tables are loaded), or null. Reading a line and finding its form is
// all a line with a made form needs.
FastCmd* lcform(const char* raw, int flags);
