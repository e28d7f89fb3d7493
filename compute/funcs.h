// The functions whose work is done inside the function dispatcher: the
// set-up steps (result count, element code, a result computed before the
// destination is sized) and the operations of the rows of the function
// table (compute/func.h). Each step takes the dispatcher's locals.
#pragma once
#include <string>
#include <vector>
#include <cstdint>

#include "compute/func.h"

struct PtrRec;

// The stopwatch base of `time`: milliseconds, set by time(0).
extern uint32_t swbase;

// A result buffer of n items of element code `code` from the call's local
// buffer when it fits, else from the scratch area; null (error 42) when
// there is no room.
void* fnbuf(FnCall& c, int32_t n, int code);
// Bytes of one result item of an element code (8 for a vector record).
int itmbyt(int code);
// A text result: copies len bytes into the result buffer and sets the
// count, the element code 8 and, without a destination, a string kind.
int settxt(FnCall& c, const char* text, int32_t len);
// A string list result: a list of the items becomes operand 1, assigned to
// the destination as the assignment assigns a list (aux 115, the row's
// operation runs that assignment). FS_GO, or FS_RET after error 42.
int setlst(FnCall& c, const std::vector<std::string>& items);
// Whole items of a string list as a result: into a string list a list of
// them (setlst), anywhere else their text, one newline between items
// (settxt).
int lstres(FnCall& c, const std::vector<std::string>& items);
// The text of operand 1's window when it is a plain string (no list): true
// then, with the text in *out.
bool optext(std::string* out);
// The items of string list r's window, in order.
std::vector<std::string> lstitems(PtrRec* r);
// The operation of a row whose set-up gave whole items (lstres): a list is
// assigned (aux 115); a text the dispatcher stores. True then, with the
// operation's result in *rc; false for a result of any other kind.
bool lstrun(FnCall& c, int* rc);

// ucase and lcase: of a string list each item changes case (su_case
// gathers them); anything else runs the element loop (run_case).
int su_case(FnCall& c);
int run_case(FnCall& c);

// Declaration words: string, array/matrix/solid, file, window.
int su_strng(FnCall& c);
int run_redim(FnCall& c);
int su_file(FnCall& c);
int run_file(FnCall& c);
int run_window(FnCall& c);
// The brace list and accept.
int su_brace(FnCall& c);
int su_accept(FnCall& c);
int run_accept(FnCall& c);

// Sizes and properties.
int su_size(FnCall& c);
int run_size(FnCall& c);
int run_addr(FnCall& c);
int run_mode(FnCall& c);
int run_proj(FnCall& c);
int su_comprs(FnCall& c);
int su_anlyz(FnCall& c);
int run_anlyz(FnCall& c);
int run_fmode(FnCall& c);
// The histogram of operand 1 into nbins 32-bit counts; the highest bin
// used + 1.
int32_t analyz(uint32_t* hist, int32_t nbins);

// Vector geometry.
int su_vlist(FnCall& c);
int run_length(FnCall& c);
int run_angle(FnCall& c);
int run_area(FnCall& c);
int su_fndvec(FnCall& c);
int run_fndvec(FnCall& c);
// Point results: one 8-byte vector record for a vector destination, else
// four 16-bit integers (the result count and element code of the table).
void ptres(const FnCall& c);
int su_point(FnCall& c);
int run_vector(FnCall& c);
int run_getxy(FnCall& c);

// Time, keyboard and text.
int su_time(FnCall& c);
int run_time(FnCall& c);
int run_getchar(FnCall& c);
int su_gettxt(FnCall& c);
int su_format(FnCall& c);
int su_comrd(FnCall& c);
int su_getfil(FnCall& c);
int su_name(FnCall& c);
int su_getenv(FnCall& c);
int su_pdstr(FnCall& c);

// Handlers of other modules reached through the dispatcher.
int su_getbox(FnCall& c);
int run_getbox(FnCall& c);
int su_sweep(FnCall& c);
int su_sample(FnCall& c);
int su_mask(FnCall& c);
int run_mask(FnCall& c);
int su_menu(FnCall& c);
int su_dialog(FnCall& c);
int run_alert(FnCall& c);
int su_resrc(FnCall& c);
int run_resrc(FnCall& c);
int su_import(FnCall& c);
int run_import(FnCall& c);
int run_open(FnCall& c);
int su_parse(FnCall& c);
