// Reading menu description files: ".mnu" text (text, key and dialog menus)
// and resource-script dialog text (".rc").
#include "ui/menu.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "lang/maclib.h"
#include "ui/draw.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int E_NOMEM = 126;
constexpr int E_FULL = 98;
constexpr int E_KIND = 203;
constexpr int MNULINE = 300;  // characters of a menu file line
constexpr int RCLINE = 128;   // characters of a resource-script line
constexpr int MAXFLD = 40;

// The builder of one menu: texts in the first half of a work buffer,
// widgets in the second.
struct Build {
  std::string name;
  char* buf = nullptr;
  int half = 0;
  int ntext = 0;  // bytes of texts used
  int nwidb = 0;  // bytes of widgets used
  int ws = 16;    // bytes of a widget
  bool full = false;

  ~Build() { xfree(buf); }
  bool alloc() {
    for (int s = 40000; s >= 2001; s -= 1000) {
      buf = static_cast<char*>(xcalloc(static_cast<size_t>(s), 1));
      if (buf) {
        half = s / 2;
        return true;
      }
    }
    return false;
  }
  int nwid() const { return nwidb / ws; }
  uint8_t* wid(int i) { return reinterpret_cast<uint8_t*>(buf + half) + i * ws; }
  // A new zeroed widget; null (error 98) when the half is full.
  uint8_t* addwid() {
    if (nwidb + ws > half) {
      full = true;
      return nullptr;
    }
    uint8_t* w = wid(nwid());
    std::memset(w, 0, static_cast<size_t>(ws));
    nwidb += ws;
    return w;
  }
  // Widgets grow from 16 to 80 bytes once the file proves a dialog.
  void dialog() { ws = 80; }
  // Appends a line and a newline to the open text.
  bool addline(const char* s, int n) {
    if (ntext + n + 1 > half) {
      full = true;
      return false;
    }
    std::memcpy(buf + ntext, s, static_cast<size_t>(n));
    ntext += n;
    buf[ntext++] = '\n';
    return true;
  }
};

// One text field being read: its start in the text half.
struct Field {
  int start = -1;  // -1: no line yet
  uint16_t* off = nullptr;
  uint16_t* len = nullptr;
};

// Closes a field: its last newline becomes the NUL.
void closefld(Build& b, Field& f) {
  if (f.start >= 0 && f.off && f.len) {
    b.buf[b.ntext - 1] = 0;
    *f.off = static_cast<uint16_t>(f.start);
    *f.len = static_cast<uint16_t>(b.ntext - 1 - f.start);
  }
  f = Field{};
}

bool addtofld(Build& b, Field& f, const char* s, int n, uint16_t* off, uint16_t* len) {
  if (f.start < 0) {
    f.start = b.ntext;
    f.off = off;
    f.len = len;
  }
  return b.addline(s, n);
}

int toint(const char* s) { return static_cast<int>(std::strtol(s, nullptr, 10)); }

// Coordinates are held to the 16-bit range the dialog records and their
// templates carry: a number or a sum past it stops at its edge.
int32_t clamp16(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }
int32_t coordof(const char* s) { return clamp16(std::strtoll(s, nullptr, 10)); }

std::string lower(const char* s) {
  std::string o(s);
  for (char& c : o) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return o;
}

// The lines of a text: LF, CRLF or CR end a line; each is cut to max.
std::vector<std::string> lines(const char* text, int length, int max) {
  std::vector<std::string> out;
  int i = 0;
  while (i < length) {
    int j = i;
    while (j < length && text[j] != '\n' && text[j] != '\r') j++;
    out.emplace_back(text + i, static_cast<size_t>(std::min(j - i, max)));
    if (j < length && text[j] == '\r' && j + 1 < length && text[j + 1] == '\n') j++;
    i = j + 1;
  }
  return out;
}

const char* skipblank(const char* s) {
  while (*s == ' ' || *s == '\t') s++;
  return s;
}

// Moves the built menu into record n's data block.
int finish(Build& b, int n, int kind, int nlines) {
  MnuRec* r = mnurec(n);
  const int tbytes = (b.ntext + 7) & ~7;
  const int wbytes = b.nwidb;
  const uint32_t size = static_cast<uint32_t>(tbytes + wbytes + MNUTAIL);
  auto* d = static_cast<uint8_t*>(xcalloc(size, 1));
  if (!d) {
    error(0, E_NOMEM);
    frmnu(n, true);
    return -1;
  }
  std::memcpy(d, b.buf, static_cast<size_t>(b.ntext));
  std::memcpy(d + tbytes, b.buf + b.half, static_cast<size_t>(wbytes));
  r->size = size;
  r->kind = static_cast<uint16_t>(kind | MK_FILE);
  r->nwid = static_cast<int16_t>(b.nwid());
  r->widoff = static_cast<uint16_t>(tbytes);
  r->data = holdptr(d);
  r->tail = static_cast<int32_t>(size - MNUTAIL);
  if (trcmsk & 8) {
    jprintf(dbglun, "ReadMenu -> %d lines, %d bytes (+%d), %d widgets ", nlines, b.ntext,
            tbytes - b.ntext, r->nwid);
    jprintf(dbglun, "size=%u (%d + %d + %d)\n", size, tbytes, wbytes, MNUTAIL);
    mnulist(r, dbglun, 0);
  }
  return n;
}

int synerr(Build&, int n, int line, const char* file) {
  jprintf(dbglun, "Menu syntax error on line %d of %s\n", line, file);
  frmnu(n, true);
  return -1;
}

// The rectangle of a dialog line's fields; false when fewer than four.
bool coords(char** f, int nf, int form, int32_t r[4]) {
  if (nf < 4) return false;
  const int32_t a = coordof(f[0]), b = coordof(f[1]), c = coordof(f[2]), d = coordof(f[3]);
  if (form == 1) {  // x0:x1 y0 y1
    r[0] = a, r[2] = b, r[1] = c, r[3] = d;
  } else if (form == 2) {  // x0,y0 w x h
    r[0] = a, r[1] = b, r[2] = clamp16(int64_t{a} + c), r[3] = clamp16(int64_t{b} + d);
  } else {
    r[0] = a, r[1] = b, r[2] = c, r[3] = d;
  }
  return true;
}

// Reads ".mnu" text.
int readmnu(Build& b, int n, const std::vector<std::string>& ls, const char* file, int wanted) {
  MnuRec* r = mnurec(n);
  int kind = 0;
  bool sawblock = false;
  enum { NONE, START, STOP, HEADER, ITEM } item = NONE;
  bool header = false;      // the dialog header was read
  bool hdrlines = false;    // the header had lines of start text
  enum { FNONE, FTEXT, FCMD, FHELP } part = FNONE;
  Field fld;
  int cur = -1;             // the widget being read
  int last = -1;            // the last widget made from a line of its own
  uint32_t dlgbg = 0xFFFFFF;
  int lineno = 0;

  auto endpart = [&] { closefld(b, fld); };
  auto enditem = [&](bool eof) {
    endpart();
    if (item == HEADER && !hdrlines && !eof) {
      // A header followed at once by an empty line leaves an empty widget
      // of kind 0 in the first slot.
      if (!b.addwid()) return false;
    }
    item = NONE;
    part = FNONE;
    cur = -1;
    return true;
  };
  // The fields of a widget's text lines.
  auto itemline = [&](const char* s) -> int {
    auto* w = reinterpret_cast<MnuWid*>(b.wid(cur));
    const int len = static_cast<int>(std::strlen(s));
    // Key menu items have no text: their quoted lines are commands.
    if (s[0] == '"' && kind != MK_KEY) {
      if (part == FCMD || part == FHELP) return -1;
      if (part != FTEXT) endpart();
      part = FTEXT;
      return addtofld(b, fld, s + 1, len - 1, &w->txtoff, &w->txtlen) ? 0 : 1;
    }
    if (s[0] == '?') {
      if (part != FHELP) endpart();
      part = FHELP;
      return addtofld(b, fld, s + 1, len - 1, &w->hlpoff, &w->hlplen) ? 0 : 1;
    }
    if (part == FHELP) return -1;
    if (part != FCMD) endpart();
    part = FCMD;
    return addtofld(b, fld, s, len, &w->cmdoff, &w->cmdlen) ? 0 : 1;
  };

  for (const std::string& raw : ls) {
    lineno++;
    const char* s = skipblank(raw.c_str());
    if (!*s) {
      if (item != NONE && !enditem(false)) break;
      continue;
    }
    const int len = static_cast<int>(std::strlen(s));
    if (item == NONE) {
      if (s[0] == '(' || s[0] == ')') {
        item = s[0] == '(' ? START : STOP;
        if (kind == 0) sawblock = true;
        continue;
      }
      if (kind == 0) {
        kind = sawblock ? MK_TEXT : s[0] == '%' ? MK_DIALOG : s[0] == '"' ? MK_TEXT : MK_KEY;
        if ((wanted & 15) > 0 && (wanted & 15) != kind) {
          error(0, E_KIND);
          frmnu(n, true);
          return -1;
        }
        if (kind == MK_DIALOG) b.dialog();
      }
      if (kind == MK_DIALOG) {
        if (s[0] != '%') return synerr(b, n, lineno, file);
        std::string work(s + 1);
        char* f[MAXFLD];
        int nf = 0;
        const int form = fldspl(work.data(), static_cast<int>(work.size()), 1, &nf, f, MAXFLD);
        if (!header && b.nwid() == 0) {
          // The dialog's own rectangle and background.
          int32_t rc[4];
          if (!coords(f, nf, form, rc)) return synerr(b, n, lineno, file);
          if ((rc[2] - rc[0] + 1) & 1) rc[2] = clamp16(int64_t{rc[2]} + 1);
          std::memcpy(r->rect, rc, sizeof rc);
          if (nf > 5) {
            const int64_t c = colname(lower(f[5]).c_str());
            if (c >= 0) dlgbg = static_cast<uint32_t>(c);
          }
          r->bkcol = dlgbg;
          header = true;
          hdrlines = false;
          item = HEADER;
          continue;
        }
        auto* w = reinterpret_cast<DlgWid*>(b.addwid());
        if (!w) break;
        cur = b.nwid() - 1;
        const DlgWid* pw = last >= 0 ? reinterpret_cast<DlgWid*>(b.wid(last)) : nullptr;
        int32_t rc[4];
        if (!coords(f, nf, form, rc)) {
          if (!pw) return synerr(b, n, lineno, file);
          std::memcpy(rc, pw->rect, sizeof rc);
          rc[1] = clamp16(int64_t{rc[1]} + 25);
          rc[3] = clamp16(int64_t{rc[3]} + 25);
        }
        std::memcpy(w->rect, rc, sizeof rc);
        w->kind = static_cast<uint8_t>(nf > 4 ? toint(f[4]) : pw ? pw->kind : static_cast<int>(WK_PUSH));
        const int64_t fg = nf > 5 ? colname(lower(f[5]).c_str()) : -1;
        const int64_t bg = nf > 6 ? colname(lower(f[6]).c_str()) : -1;
        w->fg = fg >= 0 ? static_cast<uint32_t>(fg) : 0;
        w->bg = bg >= 0 ? static_cast<uint32_t>(bg) : dlgbg;
        w->number = static_cast<int16_t>(nf > 7 ? toint(f[7]) : 0);
        last = cur;
        item = ITEM;
        part = FNONE;
        continue;
      }
      // Text and key menus: a new item.
      if (!b.addwid()) break;
      cur = b.nwid() - 1;
      item = ITEM;
      part = FNONE;
      if (kind == MK_KEY) {
        auto* w = reinterpret_cast<MnuWid*>(b.wid(cur));
        const int c = std::toupper(static_cast<unsigned char>(s[0]));
        int key = 255;
        if (c == 'E') {
          key = 0;
        } else if (c == 'F' || c == 'M') {
          // A number that does not fit a long, or whose key falls outside
          // 0 to 254, gives 255 as an unknown letter does.
          errno = 0;
          const long v = std::strtol(s + 1, nullptr, 10);
          const long base = c == 'F' ? 1 : 12;
          if (errno != ERANGE && v >= -base && v <= 254 - base) key = static_cast<int>(base + v);
        }
        w->key = static_cast<uint8_t>(key);
        continue;  // the rest of the key line is not read
      }
      const int rr = itemline(s);
      if (rr < 0) return synerr(b, n, lineno, file);
      if (rr > 0) break;
      continue;
    }
    // A line inside an item.
    if (item == START || item == STOP) {
      if (s[0] == '?') return synerr(b, n, lineno, file);
      uint16_t* off = item == START ? &r->startoff : &r->stopoff;
      uint16_t* ln = item == START ? &r->startlen : &r->stoplen;
      if (!addtofld(b, fld, s, len, off, ln)) break;
      continue;
    }
    if (item == HEADER) {
      hdrlines = true;
      if (!addtofld(b, fld, s, len, &r->startoff, &r->startlen)) break;
      continue;
    }
    const int rr = itemline(s);
    if (rr < 0) return synerr(b, n, lineno, file);
    if (rr > 0) break;
  }
  if (!b.full && item != NONE) enditem(true);
  if (b.full) {
    error(0, E_FULL);
    frmnu(n, true);
    return -1;
  }
  if (kind == 0) kind = sawblock ? MK_TEXT : MK_KEY;
  return finish(b, n, kind, lineno);
}

// Reads resource-script dialog text.
int readrc(Build& b, int n, const std::vector<std::string>& ls, int wanted) {
  MnuRec* r = mnurec(n);
  if ((wanted & 15) > 0 && (wanted & 15) != MK_DIALOG) {
    error(0, E_KIND);
    frmnu(n, true);
    return -1;
  }
  b.dialog();
  r->bkcol = 0xFFFFFF;
  bool dlghdr = false;
  size_t li = 0;
  int lineno = 0;
  // The next line that is not skipped, split into fields.
  std::vector<std::string> words;
  auto nextline = [&](std::vector<std::string>& out) {
    while (li < ls.size()) {
      const std::string& raw = ls[li++];
      lineno++;
      if (raw.compare(0, 2, "//") == 0 || (!raw.empty() && raw[0] == '#')) continue;
      std::string t(skipblank(raw.c_str()));
      while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
      if (t.empty() || t == "BEGIN" || t == "END") continue;
      char* f[MAXFLD];
      int nf = 0;
      fldspl(t.data(), static_cast<int>(t.size()), 0, &nf, f, MAXFLD);
      if (nf == 0) continue;  // separators alone: no statement and no fields
      for (int i = 0; i < nf; i++) out.emplace_back(f[i]);
      return true;
    }
    return false;
  };
  auto starts = [](const std::string& w, const char* key) {
    return w.compare(0, std::strlen(key), key) == 0;
  };
  // Dialog units to pixels with the system's base units (8 by 16).
  auto px = [](int64_t v) { return clamp16(v * 8 / 4); };
  auto py = [](int64_t v) { return clamp16(v * 16 / 8); };
  for (;;) {
    words.clear();
    if (!nextline(words)) break;
    const std::string& w0 = words[0];
    const std::string w2 = words.size() > 2 ? words[2] : "";
    int need = 0, at = 0, kind = 0, adj = 0;
    bool hdr = false;
    if (starts(w0, "GROUPBOX")) continue;
    if (starts(w0, "IDD_DIALOG1")) {
      if (dlghdr) continue;
      hdr = true;
      need = static_cast<int>(words.size());
      at = words.size() == 7 ? 3 : 2;
    } else if (starts(w0, "DEFPUSHBUTTON") || starts(w0, "PUSHBUTTON")) {
      need = 7, at = 3, kind = WK_PUSH;
    } else if (starts(w0, "CONTROL") && starts(w2, "IDC_RADIO")) {
      need = 9, at = 5, kind = WK_RADIO;
    } else if (starts(w0, "CONTROL") && starts(w2, "IDC_CHECK")) {
      need = 11, at = 7, kind = WK_CHECK, adj = 1;
    } else if (starts(w0, "CONTROL") && starts(w2, "IDC_SLIDER")) {
      need = 13, at = 9, kind = WK_SLIDER;
    } else if (starts(w0, "EDITTEXT")) {
      need = 7, at = 2, kind = WK_EDIT, adj = 2;
    } else if (starts(w0, "LTEXT")) {
      need = 7, at = 3, kind = WK_STATIC, adj = 3;
    } else if (starts(w0, "COMBOBOX")) {
      need = 7, at = 2, kind = WK_COMBO, adj = 4;
    } else {
      continue;
    }
    // A statement that runs short takes the fields of the lines that follow.
    while (static_cast<int>(words.size()) < need && nextline(words)) {
    }
    if (static_cast<int>(words.size()) < at + 4) break;
    const int64_t x0 = coordof(words[static_cast<size_t>(at)].c_str());
    const int64_t y0 = coordof(words[static_cast<size_t>(at + 1)].c_str());
    int64_t x1 = x0 + coordof(words[static_cast<size_t>(at + 2)].c_str());
    int64_t y1 = y0 + coordof(words[static_cast<size_t>(at + 3)].c_str());
    if (adj == 1 || adj == 4) x1 += 2;
    if (adj == 2) y1 -= 3;
    if (adj == 3) x1 += 3;
    const int32_t rc[4] = {px(x0), py(y0), px(x1), py(y1)};
    if (hdr) {
      std::memcpy(r->rect, rc, sizeof rc);
      dlghdr = true;
      continue;
    }
    auto* w = reinterpret_cast<DlgWid*>(b.addwid());
    if (!w) break;
    w->kind = static_cast<uint8_t>(kind);
    std::memcpy(w->rect, rc, sizeof rc);
    w->fg = 0;
    w->bg = 0xFFFFFF;
    w->number = 1;
    std::string text;
    if (kind != WK_EDIT && words.size() > 1) {
      text = words[1];
      if (!text.empty() && text.front() == '"') text.erase(0, 1);
      if (!text.empty() && text.back() == '"') text.pop_back();
    }
    if (!text.empty()) {
      Field f;
      if (!addtofld(b, f, text.data(), static_cast<int>(text.size()), &w->txtoff, &w->txtlen)) break;
      closefld(b, f);
    }
    if (trcmsk & 8)
      jprintf(dbglun, "readrc wd: %3d (%3d,%3d,%3d,%3d) str=%3d <%s>\n", kind, rc[0], rc[1], rc[2],
              rc[3], w->txtlen, text.c_str());
  }
  if (b.full) {
    error(0, E_FULL);
    frmnu(n, true);
    return -1;
  }
  return finish(b, n, MK_DIALOG, lineno);
}
}  // namespace

int fldspl(char* text, int length, int coord, int* nfield, char** fields, int max) {
  int nf = 0, form = 0;
  bool colon = false;
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; };
  int i = 0;
  while (i < length && text[i]) {
    while (i < length && text[i] && sep(text[i])) text[i++] = 0;
    if (i >= length || !text[i]) break;
    if (nf >= max) break;
    fields[nf++] = text + i;
    bool quote = false;
    char q = 0;
    while (i < length && text[i]) {
      const char c = text[i];
      if (quote) {
        if (c == '\\' && i + 1 < length && text[i + 1]) {
          i += 2;
          continue;
        }
        if (c == q) quote = false;
        i++;
        continue;
      }
      if (c == '\\' && i + 1 < length && text[i + 1]) {
        i += 2;
        continue;
      }
      if (c == '"' || c == '\'') {
        quote = true;
        q = c;
        i++;
        continue;
      }
      if (sep(c)) break;
      if (coord && c == ':') {
        colon = true;
        form = 1;
        break;
      }
      if (coord && !colon && (c == 'x' || c == 'X') && nf == 3 && text + i != fields[nf - 1]) {
        form = 2;
        break;
      }
      i++;
    }
    if (i < length && text[i]) text[i++] = 0;
  }
  if (nfield) *nfield = nf;
  return form;
}

int cmdlen(const char* text, int limit) {
  if (!text) return limit + 1;
  char q = 0;
  for (int i = 0; i < limit && text[i]; i++) {
    const char c = text[i];
    if (q) {
      if (c == '\\' && i + 1 < limit && text[i + 1]) {
        i++;
        continue;
      }
      if (c == q) q = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      q = c;
      continue;
    }
    if (c == ';') return i + 1;
  }
  return limit + 1;
}

void mnuname(const char* file, char* out) {
  const char* s = file ? file : "";
  for (const char* p = s; *p; p++)
    if (*p == '\\' || *p == '/' || *p == ':') s = p + 1;
  int n = 0;
  while (s[n] && s[n] != ' ' && s[n] != '.' && n < 15) {
    out[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[n])));
    n++;
  }
  std::memset(out + n, 0, static_cast<size_t>(16 - n));
}

int rdmnutxt(const char* text, int length, const char* name, bool rc, int wanted) {
  const int n = newmnu();
  if (n < 0) return -1;
  MnuRec* r = mnurec(n);
  Build b;
  if (!b.alloc()) {
    error(0, E_NOMEM);
    frmnu(n, true);
    return -1;
  }
  mnuname(name, r->name);
  const auto ls = lines(text ? text : "", std::max(length, 0), rc ? RCLINE : MNULINE);
  return rc ? readrc(b, n, ls, wanted) : readmnu(b, n, ls, name, wanted);
}

int ReadMenu(const char* file, int wanted) {
  const std::string name = file ? file : "";
  const bool rc = name.size() >= 3 && lower(name.c_str() + name.size() - 3) == ".rc";
  char path[264];
  int unit = -1;
  if (name.empty() || fserch(name.c_str(), ".mnu", nullptr, path, &unit, UM_RDONLY | UM_TEXT) != 0) {
    jprintf(errlun, "Menu %s not found\n", name.c_str());
    return -1;
  }
  std::string text;
  if (FILE* f = unitstream(unit)) {
    std::rewind(f);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (1u << 22))
      text.append(chunk, got);
  }
  closef(unit, 0);
  char mname[16];
  mnuname(name.c_str(), mname);
  if (trcmsk & 8) jprintf(dbglun, "RdMenu: <%s> -> <%s> %d,%d\n", name.c_str(), path, wanted, rc);
  const int n = rdmnutxt(text.data(), static_cast<int>(text.size()), path, rc, wanted);
  if (n > 0) std::memcpy(mnurec(n)->name, mname, 16);
  return n;
}
