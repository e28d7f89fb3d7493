// The function keys of the key menu: Esc and F1 to F10 bound to command
// texts. The menus bind them when a key menu opens; until then every key is
// unbound.
#pragma once

// Binds a key menu item (2 Esc, 3 to 12 F1 to F10) to a command text (null
// or empty: unbound). Returns 0, or -1 for another item.
int setfkey(int item, const char* text);
// Unbinds every key: no key menu is current.
void clrfkeys();
// Whether a key menu is current (some key is bound).
bool keymenu();
// The command bound to a function key (187-196 F1-F10, 155 Esc), with its
// length in *len; null when none. With run >= 0 a text found is queued to
// run as the next command.
const char* fncstr(int key, int run, int* len);
