// The device-window shortcut of the evaluator: fills the rectangle of a
// window-backed device variable with a constant. 1 done, 0 not done (the
// caller computes normally).
#pragma once

int hardop(int code, int nops);
