// Services of the dialog and movie modules that the window procedure and
// the message loops call; each module that owns one defines it with this
// very signature.
#pragma once
#include <cstdint>

struct Msg;

// Creates a modeless dialog window from a dialog template (a held
// reference), owned by a parent window, with an init value. Its platform
// window handle, or 0 when none was made.
int32_t mkmodeless(int32_t tmpl, int32_t parent, uint32_t init);
// Offers a message to a modeless dialog: true when the dialog took it.
bool dlgmsg(int32_t dialog, const Msg* m);
// True when a key message is a modeless dialog's (dlgmsg would take it).
bool dlgkeymsg(int32_t dialog, const Msg* m);
// Frees a dialog template (the held reference).
void freetmpl(int32_t tmpl);
// Sound output notifications (messages 955-957) for a window.
int AudioMsg(int32_t hwnd, uint32_t message);
// Paints the playing movie's frame into its window (the main window's
// repaint calls it while the window shows a movie).
int AVIpaint(int32_t dc, int32_t hwnd);
