// Text-file words assigned on the command line (~"name" = text): the text
// the assignment leaves in the word's record is written to the file when the
// assignment ends.
#pragma once

struct PtrRec;

// Notes the record of a text-file word that an assignment writes (a string
// or a list of strings, already holding the file's text or none).
void txtreg(PtrRec* r, const char* name);
// Forgets what was noted (an assignment starts).
void txtbeg();
// Writes each noted record's text to its file, through a temporary file
// renamed over it: a string as it stands, a list one item a line, each line
// ended by LF. Nothing is written after an error. A failed write is
// reported (error 69 with its cause).
void txtend();
