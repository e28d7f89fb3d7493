// The pointer side of the cursor routines: a button press that the key
// reader gets becomes the cursor position and a button key code.
#pragma once

struct EvtRec;

// Takes a button-down event (code 129 left, 130 right or Shift): the cursor
// position becomes the event's point (client coordinates of its window);
// a left double click gives 137 (138 with Shift).
// Returns the key code.
int getmus(const EvtRec* evt, int code);
