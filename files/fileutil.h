// File services used by the unit layer and the file commands: the one
// language-path to host-path conversion, existence, size and deletion.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The current folder of the language, always with a trailing "/": the
// string variable curdir, else sysdir, else (before the system table
// exists) the process's current folder; a relative text is taken from the
// process's current folder.
const char* curdir_text();

// Turns a language path into the host path. Either separator is accepted
// (backslashes become "/"), a relative name is put behind curdir, repeated
// separators and "." components are dropped. The result is also the form in
// which names are shown to the user. An empty name gives an empty result.
// Every host call made with a user's file name goes through this function.
std::string hostpath(std::string_view name);

// 0 when the file is missing, 1 for a file, 2 for a folder; never fails.
int Exists(const char* name);

// The check made before a file is created for writing; returns `exists`
// unchanged. `work` is a scratch area of at least 256 bytes (may be null).
int wrtchk(const char* name, char* work, int exists);

// Deletes one file: 0, or -1 when it could not be deleted.
int delfil(const char* name);

// Size in bytes of the named file when unit is below 1 (opened, measured and
// closed), else of the file open on that unit (its position is kept); -1
// when it cannot be opened or the unit holds no file.
int64_t fsize(const char* name, int unit);
