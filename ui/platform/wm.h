// The window manager of the platform layer: the program owns one screen and
// draws its windows, frames and captions into software surfaces itself.
//
// A window is known by a handle: a generation-checked id, so that a handle
// of a destroyed window stays invalid even when its place is reused, and
// every call on it does nothing. Each window has a client surface of its
// client size; its client rectangle lies in the client coordinates of its
// parent (top-level windows: the screen). Windows are kept in z-order
// (children always above their parent); hit-testing, capture and focus
// follow it. Repaint requests go through the message queue (invalwin,
// ui/events.h); the screen is composed from the surfaces on demand.
#pragma once
#include "ui/platform/surface.h"

#include <cstdint>

// Window styles.
enum : uint32_t {
  WMS_CAPTION = 1,    // a caption bar with the title and a close box
  WMS_BORDER = 2,     // a one-pixel border
  WMS_SIZING = 4,     // a sizing frame
  WMS_MINBOX = 8,     // a minimize box
  WMS_CHILD = 16,     // a child of its parent (moves with it)
  WMS_POPUP = 32,     // no frame at all
  WMS_VISIBLE = 64,
  WMS_TOPMOST = 128,  // stays above every window without it (dialogs, popups)
};

constexpr int WM_CAPHGT = 18;  // caption height in pixels
constexpr int WM_BORDER = 1;   // border width

// Parts of a window under a screen point (wm_hit).
enum : int { HT_NOWHERE = 0, HT_CLIENT = 1, HT_CAPTION = 2, HT_CLOSE = 3, HT_MINBOX = 4, HT_FRAME = 5 };

// Creates a window; its client surface is filled with `bg` (0x00RRGGBB).
// Returns its handle (0 when no window could be made).
int32_t wm_create(const char* title, uint32_t style, int x, int y, int w, int h, int32_t parent,
                  uint32_t bg = 0xFFFFFF);
// True for the handle of a live window.
bool wm_valid(int32_t hwnd);
// A window's client is no larger than the screen with its frame; after
// wm_large it may be as large as w x h (each at most WM_MAXSIDE) from its
// next wm_setpos on: a child window that shows a whole image, as a view does.
constexpr int WM_MAXSIDE = 8192;
void wm_large(int32_t hwnd, int w, int h);
// Destroys a window and its children (children first); each gets WM_DESTROY
// through the window procedure before its handle dies.
void wm_destroy(int32_t hwnd);
void wm_show(int32_t hwnd, bool on);
bool wm_visible(int32_t hwnd);
// Moves and sizes the client rectangle (parent client coordinates); the
// client surface keeps what fits. A width or height below 1 becomes 1.
void wm_setpos(int32_t hwnd, int x, int y, int w, int h);
// The client rectangle (parent coordinates) and size; false for a dead handle.
bool wm_getpos(int32_t hwnd, int* x, int* y, int* w, int* h);
// The screen position of the client origin.
bool wm_origin(int32_t hwnd, int* x, int* y);
// The part of the client surface that lies on the screen, in client
// coordinates: left, top, right, bottom (right and bottom exclusive; empty
// when none of it does). False for a dead handle.
bool wm_onscreen(int32_t hwnd, int box[4]);
// Brings a window (with its children) to the top of the z-order.
void wm_top(int32_t hwnd);
void wm_settitle(int32_t hwnd, const char* title);
void wm_enable(int32_t hwnd, bool on);
// The client surface, null for a dead handle.
Surface* wm_surface(int32_t hwnd);
// The topmost visible window under a screen point, with the point in its
// client coordinates and the part hit. 0 when none.
int32_t wm_hit(int x, int y, int* cx, int* cy, int* part);
// Mouse capture: while set, pointer input goes to this window.
void wm_capture(int32_t hwnd);
int32_t wm_captured();
// Keyboard focus.
void wm_focus(int32_t hwnd);
int32_t wm_focused();
// The screen; wm_screensize sets its size (the screen description's).
void wm_screensize(int w, int h);
// Composes every visible window into the screen and returns it.
const Surface& wm_compose();
// Forgets every window (tests).
void wm_reset();
