// Formatted output through numbered units, error reporting and tracing.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>

// The log file "pelix.log"; null while closed.
extern FILE* logfp;

// Unit roles: fixed global cells holding unit numbers.
extern int16_t lstlun;   // current output (listing) unit
extern int16_t errlun;   // ERROR
extern int16_t jrnlun;   // JOURNAL (-1: none)
extern int16_t dbglun;   // DEBUG
extern int16_t hlplun;   // help file unit
extern int16_t loglun;   // LOG copy of terminal output (-1: none)
extern int16_t outlun;   // OUTPUT (system variable outlun)
extern int16_t prtlun;   // PRINTER
extern int16_t fndlun;   // the open command's file search unit
extern int16_t keylun;   // KEYLOG

int jprintf(int unit, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int vjprintf(int unit, const char* fmt, va_list ap);
int jputc(int unit, int c);
int jline(int row);
int jflush(int unit);
int wintext(const char* text, int n);
int error(int arg, int code);

// Writes a line to the log file "pelix.log" when it is open.
int logprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

int trcint(int mask, const char* tag, int point, int a, int b, int c, int d, int e);
int trclng(int mask, const char* tag, int point, int a, int32_t b, int32_t c, int32_t d, int32_t e);
int trcarr(int mask, const char* tag, int point, int32_t addr, const int32_t* arr, int count);
int trcstr(int mask, const char* tag, int point, const char* text, int value);
int trcwrd(int mask, const char* tag, int point, int index);
int trcptr(int mask, const char* tag, int point, int32_t ptr);
int trckey(int code);
int trcmat(int mask, const char* tag, int point, double value, const float* m9);
