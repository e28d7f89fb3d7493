#include "files/imgfmt.h"
int readPCX(PtrRec*, PtrRec*) { return -1; }
int putpcx(PtrRec*, PtrRec*) { return -1; }
int vecio(int) { return 0; }
