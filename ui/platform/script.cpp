// Scripted input for tests and demonstrations.
#include "ui/platform/script.h"

#include "ui/fonts.h"

#include "ui/dialog.h"
#include "ui/menu.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/menubar.h"

#include "core/convert.h"
#include "ui/events.h"
#include "ui/platform/clock.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {
bool boxwait = false;  // a filebox step's answer is waiting for the box
std::string boxname;   // its name ("" to cancel)

// Splits a line into words; a quoted word takes C escapes.
bool split(const std::string& line, std::vector<std::string>& out) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      i++;
      continue;
    }
    if (c == '#') break;
    std::string w;
    if (c == '"') {
      i++;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\' && i < line.size()) {
          d = line[i++];
          switch (d) {
            case 'n': d = '\n'; break;
            case 't': d = '\t'; break;
            case 'r': d = '\r'; break;
            case 'b': d = '\b'; break;
            case 'e': d = 27; break;
            case '0': d = 0; break;
            case 'x': {
              int v = 0, k = 0;
              while (k < 2 && i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]))) {
                v = v * 16 + (std::isdigit(static_cast<unsigned char>(line[i])) ? line[i] - '0' : (std::tolower(line[i]) - 'a' + 10));
                i++, k++;
              }
              d = static_cast<char>(v);
              break;
            }
            default: break;  // \\ \" and others: the character itself
          }
        }
        w += d;
      }
      if (!closed) return false;
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) w += line[i++];
    }
    out.push_back(w);
  }
  return true;
}

int32_t focushwnd() { return winhwnd(curwin); }

// The pending alert box's window, 0 when none.
int32_t alertwin() {
  if (const int32_t d = dlgmodalwin()) return d;
  return alrtmnu ? dlgwinof(alrtmnu) : 0;
}

// The current dialog's window (while the dialog editor runs, the edited
// dialog's), 0 when none.
int32_t curdlgwin() {
  if (const int32_t d = edmnu ? dlgwinof(edmnu) : 0) return d;
  return dlgwinof(curdlg);
}

// The dialog window named by a window number or name (the dialog editor's
// windows by the words tool and add), 0 when none.
int32_t namedwin(const std::string& w) {
  if (w == "tool" || w == "add") return dlgtoolwin ? dlgtoolwin(w.c_str()) : 0;
  const int n = scriptwin(w);
  const int32_t h = n >= 0 ? winhwnd(n) : 0;
  return h && dlgvalid(h) ? h : 0;
}

void postchar(uint32_t c, uint16_t keys) {
  const uint32_t msg = (keys & MK_ALT) ? WM_SYSCHAR : WM_CHAR;
  postmsg(focushwnd(), msg, c, 1, keys);
}

bool number(const std::string& s, int* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long n = std::strtol(s.c_str(), &end, 10);
  if (*end || n < -32768 || n > 32767) return false;
  *v = static_cast<int>(n);
  return true;
}
}  // namespace

namespace {
// The special keys a key step names.
const struct {
  const char* name;
  uint32_t vk;
} vks[] = {{"home", VK_HOME}, {"end", VK_END},   {"pgup", VK_PRIOR}, {"pgdn", VK_NEXT},
           {"up", VK_UP},     {"down", VK_DOWN}, {"left", VK_LEFT},  {"right", VK_RIGHT},
           {"ins", VK_INSERT}, {"del", VK_DELETE}, {"prtsc", VK_SNAPSHOT},
           {"kpplus", VK_ADD}, {"kpminus", VK_SUBTRACT}};
}  // namespace

std::string keyname(uint32_t vk, uint16_t keys) {
  std::string name;
  for (const auto& v : vks)
    if (v.vk == vk) name = v.name;
  if (vk >= VK_F1 && vk < VK_F1 + 12) name = "f" + std::to_string(vk - VK_F1 + 1);
  if (name.empty()) return name;
  return std::string((keys & MK_SHIFT) ? "shift+" : "") + ((keys & MK_CTRL) ? "ctrl+" : "") +
         ((keys & MK_ALT) ? "alt+" : "") + name;
}

bool postkeyname(const std::string& spec) {
  uint16_t keys = 0;
  std::string k = spec;
  for (;;) {
    std::string low = k;
    for (auto& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (low.rfind("shift+", 0) == 0 && k.size() > 6) keys |= MK_SHIFT, k = k.substr(6);
    else if (low.rfind("ctrl+", 0) == 0 && k.size() > 5) keys |= MK_CTRL, k = k.substr(5);
    else if (low.rfind("alt+", 0) == 0 && k.size() > 4) keys |= MK_ALT, k = k.substr(4);
    else break;
  }
  std::string low = k;
  for (auto& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const int32_t h = focushwnd();
  for (const auto& v : vks)
    if (low == v.name) {
      postmsg(h, (keys & MK_ALT) ? WM_SYSKEYDOWN : WM_KEYDOWN, v.vk, 1, keys);
      return true;
    }
  if (low.size() >= 2 && low[0] == 'f' && std::isdigit(static_cast<unsigned char>(low[1]))) {
    const int n = std::atoi(low.c_str() + 1);
    if (n < 1 || n > 12) return false;
    // F10 and Alt combinations come as system keys.
    const bool sys = n == 10 || (keys & MK_ALT);
    postmsg(h, sys ? WM_SYSKEYDOWN : WM_KEYDOWN, VK_F1 + static_cast<uint32_t>(n - 1), 1, keys);
    return true;
  }
  if (low == "esc") {
    postmsg(h, WM_KEYDOWN, VK_ESCAPE, 1, keys);
    postchar(27, keys);
    return true;
  }
  if (low == "enter") return postchar(13, keys), true;
  if (low == "tab") return postchar(9, keys), true;
  if (low == "backspace") return postchar(8, keys), true;
  if (low == "space") return postchar(' ', keys), true;
  if (k.size() != 1) return false;
  unsigned char c = static_cast<unsigned char>(k[0]);
  if ((keys & MK_CTRL) && std::isalpha(c) && !(keys & MK_ALT)) {
    postchar(static_cast<uint32_t>(std::tolower(c) - 'a' + 1), keys);
    return true;
  }
  postchar(c, keys);
  return true;
}

int boxscript(std::string* name) {
  if (!boxwait) return -1;
  boxwait = false;
  *name = boxname;
  return name->empty() ? 0 : 1;
}

int scriptwin(const std::string& w) {
  int n = 0;
  if (number(w, &n)) return wport(n) ? n : -1;
  std::string up = w;
  for (auto& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (int i = 0; i < nwins; i++) {
    const Wport* p = wport(i);
    if (!p) continue;
    const int nl = static_cast<int>(strnlen(p->name, sizeof p->name));
    std::string nm(p->name, static_cast<size_t>(nl));
    for (auto& c : nm) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (nl > 0 && isname(nm.c_str(), up.c_str(), nl, static_cast<int>(up.size())) > 0) return i;
  }
  return -1;
}

int snapshot(const std::string& file, int win) {
  updall();
  const Surface& scr = wm_compose();
  if (win < 0) return swrite(scr, file);
  const Surface* s = wm_surface(winhwnd(win));
  return s ? swrite(*s, file) : -1;
}

int gridfile(int win, const std::string& file) {
  // A dialog: one line per control with a text.
  if (const int32_t h = winhwnd(win); h && dlgvalid(h)) {
    FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return -1;
    dlglist(h, f);
    return std::fclose(f) == 0 ? 0 : -1;
  }
  const TxtGrid* g = wgrid(wport(win));
  const char* b = gridbuf(g);
  if (!b) return -1;
  FILE* f = std::fopen(file.c_str(), "w");
  if (!f) return -1;
  for (int r = 0; r < g->nrows; r++) {
    const char* p = b + static_cast<size_t>(r) * g->rowlen;
    int n = g->rowlen;
    while (n > 0 && p[n - 1] == ' ') n--;
    std::fwrite(p, 1, static_cast<size_t>(n), f);
    std::fputc('\n', f);
  }
  return std::fclose(f) == 0 ? 0 : -1;
}

ScriptInput::ScriptInput(const std::string& file, Backend* inner) : inner_(inner) {
  // A script that cannot be read (missing, a folder) is said with its
  // cause, and the run goes on with standard input.
  struct stat st {};
  int err = ::stat(file.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  std::ifstream in;
  if (!err) {
    in.open(file);
    if (!in) err = errno ? errno : EACCES;
  }
  if (err) {
    std::fprintf(stderr, "pelix: cannot read the input script %s: %s\n", file.c_str(), std::strerror(err));
    return;
  }
  ok_ = true;
  std::string line;
  int no = 0;
  while (std::getline(in, line)) {
    no++;
    Step s{no, {}};
    if (!split(line, s.words)) {
      std::fprintf(stderr, "pelix: input script line %d: unterminated text\n", no);
      continue;
    }
    if (!s.words.empty()) steps_.push_back(std::move(s));
  }
}

// Runs one step. Returns the messages posted (0 for a step that posts
// none), or -1 at the end step.
int ScriptInput::run(const Step& s) {
  const auto& w = s.words;
  std::string op = w[0];
  auto bad = [&](const char* why) {
    std::fprintf(stderr, "pelix: input script line %d: %s\n", s.line, why);
    return 0;
  };
  if (op == "end") return -1;
  if (op == "alert") {
    // Presses the button of the pending alert box that has this label.
    if (w.size() != 2) return bad("alert needs one quoted button text");
    const int32_t d = alertwin();
    if (!d) return bad("no alert box is open");
    const int id = dlgbutton(d, w[1].c_str());
    if (!id || dlgclick(d, id) != 0) return bad("the alert box has no such button");
    return 2;
  }
  if (op == "menu") {
    // Picks a menu bar item by its popup's title and its text; a title
    // alone drops the popup down.
    uint32_t id = 0;
    if (w.size() == 2) return mbaropen(w[1]) ? 0 : bad("no such menu on the bar");
    if (w.size() < 3 || w.size() > 4 || (w.size() == 4 && w[3] != "shift")) return bad("menu needs \"title\" \"item\" [shift]");
    if (!mbarfind(w[1], w[2], &id)) return bad("no such menu item");
    postmsg(winhwnd(2), WM_COMMAND, id, 0, w.size() == 4 ? MK_SHIFT : 0);
    return 1;
  }
  if (op == "dialog") {
    // dialog [WIN] ITEM click|set "text"
    size_t k = 1;
    int32_t d = 0;
    if (w.size() >= 3 && w[2] != "click" && w[2] != "set") {
      d = namedwin(w[1]);
      if (!d) return bad("no such dialog");
      k = 2;
    } else {
      d = alertwin();
      if (!d) d = curdlgwin();
      if (!d) return bad("no dialog is open");
    }
    int item = 0;
    if (w.size() < k + 2 || !number(w[k], &item)) return bad("dialog needs [WIN] ITEM click|set \"text\"");
    if (w[k + 1] == "click" && w.size() == k + 2) {
      if (dlgclick(d, item - 1) != 0) return bad("no such control");
      return 2;
    }
    if (w[k + 1] == "set" && w.size() == k + 3) {
      if (dlgsetedit(d, item - 1, w[k + 2].c_str()) != 0) return bad("no such edit field");
      return 1;
    }
    return bad("dialog needs [WIN] ITEM click|set \"text\"");
  }
  if (op == "type") {
    if (w.size() != 2) return bad("type needs one quoted text");
    typing_ = w[1];
    return typemore();
  }
  if (op == "filebox") {
    // The answer of the file box that waits: Enter wakes it, and it takes
    // the name (an overwrite counts as confirmed) or the cancel from here.
    if (w.size() != 2) return bad("filebox needs \"name\" or cancel");
    boxwait = true;
    boxname = w[1] == "cancel" ? "" : w[1];
    postchar(13, 0);
    return 1;
  }
  if (op == "fontbox") {  // the next font chooser's answer
    int size = 0;
    if (w.size() == 2 && w[1] == "cancel") {
      fontanswer(nullptr, 0);
    } else if (w.size() == 3 && number(w[2], &size)) {
      fontanswer(w[1].c_str(), size);
    } else {
      return bad("fontbox needs \"face\" SIZE or cancel");
    }
    return 0;
  }
  if (op == "key") {
    if (w.size() != 2 || !postkeyname(w[1])) return bad("unknown key");
    return 1;
  }
  if (op == "click" || op == "press" || op == "release" || op == "move") {
    int x = 0, y = 0;
    if (w.size() < 4 || !number(w[2], &x) || !number(w[3], &y)) return bad("needs WIN X Y");
    const int n = scriptwin(w[1]);
    if (n < 0) return bad("no such window");
    uint32_t btn = 1, down = WM_LBUTTONDOWN, up = WM_LBUTTONUP;
    uint16_t keys = 0;
    bool dbl = false;
    for (size_t i = 4; i < w.size(); i++) {
      if (w[i] == "left") btn = 1, down = WM_LBUTTONDOWN, up = WM_LBUTTONUP;
      else if (w[i] == "right") btn = 2, down = WM_RBUTTONDOWN, up = WM_RBUTTONUP;
      else if (w[i] == "middle") btn = 16, down = WM_MBUTTONDOWN, up = WM_MBUTTONUP;
      else if (w[i] == "shift") keys |= MK_SHIFT;
      else if (w[i] == "ctrl") keys |= MK_CTRL;
      else if (w[i] == "double") dbl = true;
      else return bad("unknown click word");
    }
    const int32_t h = winhwnd(n);
    const uint32_t lp = (static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF);
    const uint32_t mk = btn | keys;  // button bits, Shift 4, Ctrl 8
    musx = static_cast<int16_t>(x);
    musy = static_cast<int16_t>(y);
    // A move while buttons are pressed is a drag: it carries them.
    if (op == "move") return postmsg(h, WM_MOUSEMOVE, held_ | keys, lp, keys), 1;
    if (op == "press") {
      held_ |= btn;
      return postmsg(h, down, held_ | keys, lp, keys), 1;
    }
    if (op == "release") {
      held_ &= ~btn;
      return postmsg(h, up, held_ | keys, lp, keys), 1;
    }
    postmsg(h, WM_MOUSEMOVE, keys, lp, keys);
    for (int k = 0; k < (dbl ? 2 : 1); k++) {
      postmsg(h, down, mk, lp, keys);
      postmsg(h, up, keys, lp, keys);
    }
    return dbl ? 5 : 3;
  }
  if (op == "close") {
    // The close box of a window's frame (of the native window for the main
    // window).
    const int n = w.size() == 2 ? scriptwin(w[1]) : -1;
    if (n < 0) return bad("close needs a window");
    postmsg(winhwnd(n), WM_CLOSE, 0, 0);
    return 1;
  }
  if (op == "wait") {
    int ms = 0;
    if (w.size() != 2 || !number(w[1], &ms) || ms < 0) return bad("wait needs milliseconds");
    // The display shows the screen as it is now, and again every 100 ms of a
    // real wait, as the backend's own waits present it.
    inner_->show();
    uint64_t left = static_cast<uint64_t>(ms) * 1000000ull;
    while (left > 0) {
      const uint64_t step = clock_virtual() ? left : std::min<uint64_t>(left, 100000000ull);
      clock_sleep_ns(step);
      left -= step;
      if (left > 0) inner_->show();
    }
    return 0;
  }
  if (op == "snapshot") {
    if (w.size() < 2 || w.size() > 3) return bad("snapshot needs FILE [WIN]");
    int n = -1;
    if (w.size() == 3 && (n = scriptwin(w[2])) < 0) return bad("no such window");
    if (snapshot(w[1], n) != 0) return bad("snapshot not written");
    return 0;
  }
  if (op == "grid") {
    if (w.size() != 3) return bad("grid needs WIN FILE");
    if (w[1] == "tool" || w[1] == "add") {
      // The dialog editor's windows have no window slot.
      const int32_t d = namedwin(w[1]);
      FILE* f = d ? std::fopen(w[2].c_str(), "w") : nullptr;
      if (!f) return bad("grid not written");
      dlglist(d, f);
      return std::fclose(f) == 0 ? 0 : bad("grid not written");
    }
    const int n = scriptwin(w[1]);
    if (n < 0 || gridfile(n, w[2]) != 0) return bad("grid not written");
    return 0;
  }
  return bad("unknown or unavailable step");
}

// Puts in as much of the text still to type as the queue has room for:
// the messages posted (0 when there is no room yet).
int ScriptInput::typemore() {
  const size_t n = std::min(typing_.size(), static_cast<size_t>(std::max(msgroom() - MSGRESERVE, 0)));
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(typing_[i]);
    if (c == '\n') c = 13;
    // Bytes 128-255 are text, as typed at the console.
    postmsg(focushwnd(), WM_CHAR, c, 1, c < 32 && c != 8 && c != 9 && c != 13 && c != 27 ? MK_CTRL : c >= 128 ? MK_TYPED : 0);
  }
  typing_.erase(0, n);
  return static_cast<int>(n);
}

int ScriptInput::pump(int how) {
  // A text being typed goes on before any other step; the steps wait while
  // the queue has no room.
  if (!typing_.empty()) return how == KEY_PEEK ? 0 : typemore();
  if (msgroom() < MSGRESERVE) return 0;
  if (pos_ < steps_.size()) {
    const Step& s = steps_[pos_];
    if (s.words[0] == "poll") {
      int n = 0;
      if (s.words.size() != 2 || !number(s.words[1], &n) || n < 1) {
        std::fprintf(stderr, "pelix: input script line %d: poll needs a count\n", s.line);
        pos_++;
        return 0;
      }
      if (how == KEY_WAIT) {
        pos_++;  // nothing polls any more: release the next step now
      } else if (++polls_ >= n) {
        polls_ = 0;
        pos_++;
        if (pos_ < steps_.size()) {
          int r = run(steps_[pos_++]);
          if (r < 0) pos_ = steps_.size();
          return std::max(r, 0);
        }
      }
      if (how != KEY_WAIT) return 0;
    }
  }
  if (how == KEY_PEEK || pos_ >= steps_.size()) return pos_ >= steps_.size() ? inner_->pump(how) : 0;
  // Input that is still queued is taken first.
  if (peekmsg(nullptr, WM_KEYDOWN, WM_KEYLAST, 0) || peekmsg(nullptr, WM_MOUSEMOVE, WM_MOUSELAST, 0))
    return 0;
  // The program asks for input: steps run until one posts messages.
  while (pos_ < steps_.size()) {
    if (steps_[pos_].words[0] == "poll") return how == KEY_WAIT ? pump(how) : 0;
    int r = run(steps_[pos_++]);
    if (r < 0) {
      pos_ = steps_.size();
      break;
    }
    if (r > 0) return r;
  }
  return inner_->pump(how);
}
