// The run-time loaded device libraries (the parallel-port library and the
// acquisition-board library), opened by name.
//
// A name holding "/" is taken as a path; a relative one that is not in the
// working folder is looked for beside the program, then in the system
// folder (so "sim/NAME" finds the simulated libraries from any folder). A
// bare name is looked for in the program's folder, then in sim/ beside it,
// then in the system folder, then by the normal library search.
#pragma once
#include <string>

// The library's handle (dlopen), null when it cannot be loaded. The path
// tried last, or the loader's message, goes to *why when given.
void* devlib(const char* name, std::string* why);
// The entry point of a loaded library, null when missing.
void* devsym(void* lib, const char* name);
// Unloads a library.
void devfree(void* lib);
