// Formatted output through numbered units, error reporting and tracing.
//
// Units: negative is 1; 1 the terminal (the text output window); 4 the
// printer, shown in the text window like 1; 0, 2, 3 and 5..49 the streams of
// the file table; 50..98 nothing; 99 the line collector into a text list
// variable; 100 and up serial port slot unit - 100.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>

// Unit roles: fixed global cells holding unit numbers.
extern int16_t lstlun;   // current output (listing) unit
extern int16_t errlun;   // ERROR
extern int16_t jrnlun;   // JOURNAL (-1: none)
extern int16_t dbglun;   // DEBUG
extern int16_t hlplun;   // help file unit (-1 not yet opened, 0 no help)
extern int16_t loglun;   // LOG copy of terminal output (-1: none)
extern int16_t outlun;   // OUTPUT (system variable outlun)
extern int16_t prtlun;   // PRINTER
extern int16_t fndlun;   // the open command's file search unit
extern int16_t keylun;   // KEYLOG

// Tab width of terminal output (the byte of the tabs system variable; a
// power of two, 8 by default).
extern int32_t tabs;
// The tab width in use: the low byte of tabs rounded down to a power of two
// (8 when it is none).
int tabwidth();
// The log file "pelix.log", opened by the platform entry; null when closed.
extern FILE* logfp;

// Paging state: lines left before the next " More? " (status bit 0x10 marks
// it started), and the trace mask that jline keeps while it runs.
extern int16_t pgcnt;
extern int32_t jlnmsk;

int jprintf(int unit, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int vjprintf(int unit, const char* fmt, va_list ap);
int jputc(int unit, int c);
int jline(int row);
// The next finished row `row` of window 0 or 1 reaches the backend as this
// text instead of its cells (a typed line longer than the row: the row
// shows only part of it).
void rowwhole(int row, const char* text, int n);
// At the end of the program: the row under the text cursor of window 0 or 1
// that holds text not yet handed on (output without its newline) is handed
// to the backend as finished.
void rowend();
int jflush(int unit);
int wintext(const char* text, int n);
int error(int arg, int code);
// The same with a text of its own in place of the error's line of the help
// topic (a variant of that line naming what failed).
int errtxt(int arg, int code, const char* text);

// Writes a line to the log file "pelix.log" when it is open.
int logprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Line collector of unit 99: each finished line becomes a new element of a
// text list variable. The redirection sets `colmax` (the most elements to
// add) and `colrec`, the low-stack address of the two-word record {elements
// added so far, the list variable's handle}; `colrec` 0 collects nothing.
constexpr int COLLEN = 240;
extern int32_t colmax;
extern int32_t colrec;
extern char colbuf[COLLEN + 1];
extern int16_t collen;
// Appends one collected line as a new element (number: the count so far)
// of the list variable whose record handle is word 1 of the collector
// record; returns 0 when the element was added. `colhook`, when set, takes
// the line instead (a seam for tests and other collectors).
int collect_line(const char* line, int n);
extern int (*colhook)(const char* line, int n);

int trcint(int mask, const char* tag, int point, int a, int b, int c, int d, int e);
int trclng(int mask, const char* tag, int point, int a, int32_t b, int32_t c, int32_t d, int32_t e);
int trcarr(int mask, const char* tag, int point, int32_t addr, const int32_t* arr, int count);
int trcstr(int mask, const char* tag, int point, const char* text, int value);
int trcwrd(int mask, const char* tag, int point, int index);
int trcptr(int mask, const char* tag, int point, int32_t ptr);
int trckey(int code);
int trcmat(int mask, const char* tag, int point, double value, const float* m9);

// The command word table as the tracers read it: the parser registers its
// 42 WORD entries of 16 bytes, the argument map and the cells of the
// argument count and the word count.
void trcwset(const uint8_t* words, const int16_t* argmap, const int16_t* nargs,
             const int16_t* nwords);
