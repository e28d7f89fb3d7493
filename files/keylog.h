// The key log: one line per event while the key log unit is open.
#pragma once

// Appends "<date> <tag> <length> <text>" to the key log (at most 80
// characters of text; length 0 takes the text's own length). A line with a
// non-zero key is held back until an event with another key arrives, so
// that repeated events of one key leave only the last; key 0 writes at
// once. A null tag only writes the held line (before the log closes).
// Returns 0.
int logevt(const char* tag, int length, const char* text, int key);
