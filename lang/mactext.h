// The running text macro's file held in memory while it runs (the line
// reader, the macro calls and the loops read, tell and set its position
// through these, without a seek per pass).
#pragma once
#include <cstdint>
#include <cstdio>

// One line of stream f, as strmln reads it (at most keep characters into
// buf, NUL-terminated; null buf passes the line over); -1 at the end.
int mtline(FILE* f, char* buf, int keep);
// Where the image of unit's stream stands: the image's serial number
// (unique to each image made, so a file read again gets a new one) and the
// position in it; -1 when the stream is not held as an image. The same
// place always holds the same text.
int64_t mtplace(int unit);
// Moves the image to a place of it; false when the place is another
// image's.
bool mtmove(int64_t place);
// The byte position of f.
long mttell(FILE* f);
// Sets the byte position of f; 0, or -1.
int mtseek(FILE* f, long pos);
// When a loop closes: the file's size or time changed since it was read,
// so the next line comes from the file as it is now. The file is looked at
// when a command other than a fast form or "}" ran since the last look, or
// the coarse clock moved on.
void mtcheck(FILE* f);
