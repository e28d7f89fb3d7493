// The menu bar of the main window and its drop-down popups, drawn by the
// window manager: a strip along the top of the main window's client area
// holding the popup titles in the order they were appended. Clicking a
// title drops its popup down; clicking an item posts WM_COMMAND with the
// item's identifier to the main window (Shift held: with Shift), as picking
// from a platform menu bar does. Scripts pick items by their texts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Msg;

constexpr int MBARHGT = 20;  // height of the strip in pixels

struct MbarItem {
  uint32_t id;       // the identifier posted with WM_COMMAND
  std::string text;  // empty: a separator
};

// Appends a popup under a title; key identifies it for mbardel. The strip
// appears with its first popup.
void mbaradd(int key, const char* title, const std::vector<MbarItem>& items);
// Removes the popup of a key (the strip goes with the last one).
void mbardel(int key);
// Redraws the strip.
void mbardraw();
// The identifier of the item `item` of the popup titled `title`; false when
// there is none (separators are never found).
bool mbarfind(const std::string& title, const std::string& item, uint32_t* id);
// Drops down the popup titled `title` (empty: closes any); false when there
// is none.
bool mbaropen(const std::string& title);
// Offers a message to the bar and its open popup: true when it was theirs.
bool mbarmsg(const Msg* m);
// The titles on the bar, in order (tests).
std::vector<std::string> mbartitles();
// The strip's window (0 while there is none).
int32_t mbarwin();
// Forgets the bar (tests).
void mbarreset();
