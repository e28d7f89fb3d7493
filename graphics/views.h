// The view table: up to 40 view records, indexed by view number. The
// records are made by the view windows; the language reads their origin
// and keeps the records that show a variable pointing at that variable's
// symbol entry.
#pragma once
#include <cstdint>

constexpr int MAXVIEW = 40;
constexpr uint16_t VW_VAR = 0x1000;  // the record shows a variable

struct ViewRec {
  int16_t x0;       // x origin
  int16_t y0;       // y origin
  int16_t z;        // third field (vrbxy returns it as z)
  uint16_t flags;   // VW_VAR: `entry` holds the variable's symbol entry
  int32_t entry;    // stack address of the variable's symbol entry
  char name[12];    // the variable's name, lower case, NUL-padded
};
static_assert(sizeof(ViewRec) == 24, "a view record is 24 bytes");

extern ViewRec vwtab[MAXVIEW];
extern int16_t nviews;  // records in use

// After a macro returned and its bottom area from `freed` up was given
// back: every record that shows a variable whose entry lay there looks the
// name up again and keeps the new entry (a name no longer found leaves the
// record without its variable). Returns the records changed.
int vwrenm(int32_t freed);
