// The running text macro's file held in memory while it runs (the line
// reader, the macro calls and the loops read, tell and set its position
// through these, without a seek per pass).
#pragma once
#include <cstdio>

// One line of stream f, as strmln reads it (at most keep characters into
// buf, NUL-terminated; null buf passes the line over); -1 at the end.
int mtline(FILE* f, char* buf, int keep);
// The byte position of f.
long mttell(FILE* f);
// Sets the byte position of f; 0, or -1.
int mtseek(FILE* f, long pos);
// When a loop closes: the file's size or time changed since it was read,
// so the next line comes from the file as it is now.
void mtcheck(FILE* f);
