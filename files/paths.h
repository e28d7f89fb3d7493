// Path text editing shared by the file commands and the unit layer.
#pragma once

// Edits a path into output (in place when source and output are the same
// buffer) and returns the result's length. Separators are slash, backslash
// and colon.
//   0  backslashes become slashes
//   1  slashes become backslashes
//   2  every backslash is doubled
//   3  the file name: the part after the last separator (all when none)
//   4  the folder without its final separator (empty when none)
//   5  the folder with its final separator (empty when none)
//   6  a separator added at the end when the path does not end in one (the
//      last slash or backslash used, else a slash); an empty path stays empty
// Any other mode copies the path. The result is cut to outsize - 1 bytes and
// always NUL-terminated.
int pthpart(const char* source, char* output, int mode, int outsize = 256);
