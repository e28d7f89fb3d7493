// Keyword lookup by prefix, shared by the DM record header reader, the
// device set-up and the colour names.
#pragma once

// fndkey (word, keyword list): the index of the first keyword in list
// order that word is a prefix of (the word at least one character long),
// or -1. The list ends with a null entry; entries of (const char*)-1 are
// skipped. The comparison is exact: callers fold case first.
int fndkey(const char* word, const char* const* list);
