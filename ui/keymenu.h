// The function keys of the key menu: Esc and F1 to F10 run the command texts
// of the last open key menu (ui/menu.h), its items taken by their position.
#pragma once

// Whether a key menu is open.
bool keymenu();
// The command bound to a function key (187-196 F1-F10, 155 Esc), with its
// length in *len; null when none. With run >= 0 a text found is queued to
// run as the next command. Key 128 gives the text the hold switch kept
// (once).
const char* fncstr(int key, int run, int* len);
