// The menu bar and its popups.
#include "ui/platform/menubar.h"

#include "ui/events.h"
#include "ui/platform/face.h"
#include "ui/platform/wm.h"
#include "ui/window.h"

#include <algorithm>

namespace {
constexpr int ITEMHGT = 18;  // a popup row
constexpr int PAD = 8;       // space around a title
constexpr uint32_t BARBG = 0xD8D8D8, POPBG = 0xF0F0F0, TEXT = 0x000000, SEPCOL = 0x909090;

struct Popup {
  int key;
  std::string title;
  std::vector<MbarItem> items;
  int x = 0, w = 0;  // place of the title on the strip
};

std::vector<Popup> pops;
int32_t strip = 0;   // the strip's window
int32_t drop = 0;    // the window of the open popup
int opened = -1;     // the index of the open popup
bool escdown = false;  // Esc closed the popup: its character is the popup's too

int32_t mainwin() { return winhwnd(2); }

void closedrop() {
  if (drop) wm_destroy(drop);
  drop = 0;
  opened = -1;
}

void layout() {
  int x = 0;
  for (Popup& p : pops) {
    p.x = x;
    p.w = static_cast<int>(p.title.size()) * FACEWID + 2 * PAD;
    x += p.w;
  }
}

void drawdrop() {
  Surface* s = wm_surface(drop);
  if (!s || opened < 0 || opened >= static_cast<int>(pops.size())) return;
  sfill(*s, 0, 0, s->w, s->h, POPBG);
  const Popup& p = pops[static_cast<size_t>(opened)];
  for (size_t i = 0; i < p.items.size(); i++) {
    const int y = static_cast<int>(i) * ITEMHGT;
    if (p.items[i].text.empty())
      sfill(*s, 2, y + ITEMHGT / 2, s->w - 4, 1, SEPCOL);
    else
      stext(*s, PAD, y + 1, p.items[i].text.data(), static_cast<int>(p.items[i].text.size()), TEXT);
  }
  invalwin(drop);
}

// Drops popup i down below its title.
void opendrop(int i) {
  closedrop();
  if (!strip || i < 0 || i >= static_cast<int>(pops.size())) return;
  const Popup& p = pops[static_cast<size_t>(i)];
  int w = 0;
  for (const MbarItem& it : p.items) w = std::max(w, static_cast<int>(it.text.size()) * FACEWID);
  w += 2 * PAD;
  const int h = std::max(1, static_cast<int>(p.items.size())) * ITEMHGT;
  drop = wm_create("", WMS_BORDER | WMS_CHILD | WMS_VISIBLE | WMS_TOPMOST, p.x + 1, MBARHGT + 1, w, h, mainwin(), POPBG);
  opened = i;
  drawdrop();
}
}  // namespace

void mbardraw() {
  if (pops.empty()) {
    closedrop();
    if (strip) wm_destroy(strip);
    strip = 0;
    return;
  }
  const int32_t mw = mainwin();
  int w = 0;
  if (!wm_getpos(mw, nullptr, nullptr, &w, nullptr)) return;
  if (!wm_valid(strip)) {
    strip = wm_create("", WMS_POPUP | WMS_CHILD | WMS_VISIBLE, 0, 0, w, MBARHGT, mw, BARBG);
    wm_top(strip);
  }
  if (!strip) return;
  Surface* s = wm_surface(strip);
  if (!s) return;
  layout();
  sfill(*s, 0, 0, s->w, s->h, BARBG);
  sfill(*s, 0, s->h - 1, s->w, 1, SEPCOL);
  for (size_t i = 0; i < pops.size(); i++) {
    const Popup& p = pops[i];
    if (static_cast<int>(i) == opened) sfill(*s, p.x, 0, p.w, MBARHGT - 1, POPBG);
    stext(*s, p.x + PAD, 2, p.title.data(), static_cast<int>(p.title.size()), TEXT);
  }
  invalwin(strip);
}

void mbaradd(int key, const char* title, const std::vector<MbarItem>& items) {
  Popup p;
  p.key = key;
  p.title = title ? title : "";
  p.items = items;
  pops.push_back(std::move(p));
}

void mbardel(int key) {
  for (size_t i = 0; i < pops.size(); i++)
    if (pops[i].key == key) {
      if (static_cast<int>(i) == opened) closedrop();
      pops.erase(pops.begin() + static_cast<long>(i));
      break;
    }
}

bool mbarfind(const std::string& title, const std::string& item, uint32_t* id) {
  for (const Popup& p : pops) {
    if (p.title != title) continue;
    for (const MbarItem& it : p.items)
      if (!it.text.empty() && it.text == item) {
        if (id) *id = it.id;
        return true;
      }
  }
  return false;
}

bool mbaropen(const std::string& title) {
  if (title.empty()) {
    closedrop();
    mbardraw();
    return true;
  }
  for (size_t i = 0; i < pops.size(); i++)
    if (pops[i].title == title) {
      mbardraw();
      opendrop(static_cast<int>(i));
      mbardraw();
      return true;
    }
  return false;
}

bool mbarmsg(const Msg* m) {
  if (!m || (!strip && !drop)) return false;
  const bool keydown = m->message == WM_KEYDOWN || m->message == WM_SYSKEYDOWN;
  const bool keychar = m->message == WM_CHAR || m->message == WM_SYSCHAR;
  if (keydown || keychar) {
    // Esc closes a dropped popup and goes no further; any other key closes
    // it and goes on to its window.
    const bool esc = (keydown && m->wParam == VK_ESCAPE) || (keychar && m->wParam == 27);
    const bool spent = escdown && keychar && m->wParam == 27;
    escdown = false;
    if (drop) {
      closedrop();
      mbardraw();
      escdown = esc && keydown;
      return esc;
    }
    return spent;
  }
  if (m->message == WM_COMMAND && drop && m->hwnd == mainwin()) {
    // A pick, however it came: the popup closes.
    closedrop();
    mbardraw();
    return false;
  }
  const bool press = m->message == WM_LBUTTONDOWN || m->message == WM_RBUTTONDOWN;
  const bool mouse = m->message >= WM_MOUSEMOVE && m->message <= WM_MOUSELAST;
  const int x = static_cast<int16_t>(m->lParam & 0xFFFF), y = static_cast<int16_t>(m->lParam >> 16);
  if (m->hwnd == strip && strip) {
    if (press) {
      int hit = -1;
      for (size_t i = 0; i < pops.size(); i++)
        if (x >= pops[i].x && x < pops[i].x + pops[i].w) hit = static_cast<int>(i);
      if (hit >= 0 && hit != opened)
        opendrop(hit);
      else
        closedrop();
      mbardraw();
    }
    return mouse;
  }
  if (m->hwnd == drop && drop) {
    if (m->message == WM_LBUTTONUP || m->message == WM_RBUTTONUP || press) {
      const Popup& p = pops[static_cast<size_t>(opened)];
      const int i = y / ITEMHGT;
      if (!press && i >= 0 && i < static_cast<int>(p.items.size()) && !p.items[static_cast<size_t>(i)].text.empty()) {
        const uint32_t id = p.items[static_cast<size_t>(i)].id;
        closedrop();
        mbardraw();
        postmsg(mainwin(), WM_COMMAND, id, 0, static_cast<uint16_t>(m->keys & MK_SHIFT));
      }
    }
    return mouse;
  }
  // A press anywhere else closes an open popup.
  if (drop && press) {
    closedrop();
    mbardraw();
  }
  return false;
}

std::vector<std::string> mbartitles() {
  std::vector<std::string> t;
  for (const Popup& p : pops) t.push_back(p.title);
  return t;
}

int32_t mbarwin() { return wm_valid(strip) ? strip : 0; }

void mbarreset() {
  closedrop();
  if (strip) wm_destroy(strip);
  strip = 0;
  pops.clear();
}
