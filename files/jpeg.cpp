#include "files/imgfmt.h"
int readjpg(PtrRec*, PtrRec*) { return -1; }
int putjpg(PtrRec*, int, const char*) { return -1; }
