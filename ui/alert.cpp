// Alert boxes, in their least form: the message and the buttons are shown
// on the terminal and the answer is read as a line from the keyboard. An
// empty line presses the default button; a line that begins a button's name
// (any case), or its number, presses that one. With an edit field the line
// replaces the preset text (an empty line keeps it) and the default button
// is pressed.
#include "ui/alert.h"

#include <cctype>
#include <cstring>

#include "core/output.h"
#include "core/state.h"
#include "ui/events.h"

namespace {

constexpr int MAXBTN = 8;
constexpr int BTNLEN = 24;

int16_t alropen = 0;  // an alert box is open


bool prefix(const char* ans, const char* name) {
  int i = 0;
  for (; ans[i]; i++)
    if (!name[i] || std::tolower(static_cast<unsigned char>(ans[i])) !=
                        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  return i > 0;
}

}  // namespace

int Alertb(const char* message, const char* buttons, int kind, const char* title, char* text,
           int, int, int, int) {
  if (kind == -1) {
    alropen = 0;
    return 0;
  }
  // The buttons, and the default marked by "!".
  char btn[MAXBTN][BTNLEN];
  int nb = 0, dflt = 1;
  if (buttons) {
    const char* p = buttons;
    while (*p && nb < MAXBTN) {
      if (*p == '!') {
        dflt = nb + 1;
        p++;
      }
      int l = 0;
      while (*p && *p != ';') {
        if (l < BTNLEN - 1) btn[nb][l++] = *p;
        p++;
      }
      btn[nb][l] = 0;
      nb++;
      if (*p == ';') p++;
    }
  }
  if (nb == 0) {
    std::strcpy(btn[0], "OK");
    nb = 1;
  }
  alropen = 1;
  if (title && *title) jprintf(1, "%s\n", title);
  if (message && *message) jprintf(1, "%s\n", message);
  if (text) jprintf(1, "[%.*s]\n", ALERTTXT - 1, text);
  for (int i = 0; i < nb; i++) jprintf(1, i + 1 == dflt ? " <%s>" : " %s", btn[i]);
  jprintf(1, "\n");
  char ans[ALERTTXT];
  bool ok = keyline(ans, sizeof ans, false);
  alropen = 0;
  if (!ok) return dflt;
  jprintf(1, "%s\n", ans);
  if (text) {
    if (ans[0]) std::memcpy(text, ans, std::strlen(ans) + 1);
    return dflt;
  }
  if (!ans[0]) return dflt;
  for (int i = 0; i < nb; i++)
    if (prefix(ans, btn[i])) return i + 1;
  int v = 0;
  for (const char* p = ans; *p >= '0' && *p <= '9' && v < 100; p++) v = v * 10 + (*p - '0');
  if (v >= 1 && v <= nb) return v;
  return dflt;
}

bool keyline(char* buf, int size, bool esc) {
  int n = 0;
  buf[0] = 0;
  for (;;) {
    int k = getkey(0);
    if (k == 3) {
      state |= ST_INTR;
      return false;
    }
    if (esc && (k == 27 || k == 155)) return false;
    if (k < 0 || k == 13 || k == 10) break;
    if (k == 8 || k == 127) {
      if (n > 0) n--;
    } else if (k >= 32 && k < 256 && n < size - 1) {
      buf[n++] = static_cast<char>(k);
    }
  }
  buf[n] = 0;
  return true;
}
