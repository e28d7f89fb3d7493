// The sketch editor: clicks and keys in the vector window become vector
// records, measurements, fills and traced outlines.
#include "graphics/sketch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compute/fnsvc.h"
#include "compute/trace.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/erase.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "lang/help.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "ui/cursor.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/platform/backend.h"
#include "ui/screen.h"
#include "ui/window.h"

SkState skst;
PenPrm penprm;

void skini() {
  skst = SkState{};
  penprm = PenPrm{};
  skmode = 0;
}

int curpen() {
  int w = lwidth;
  if (penprm.code > 0) {
    const double v = std::trunc(static_cast<double>(getprm(penprm.code)));
    w = ftrunc(v * penprm.factor) + penprm.offset;
  }
  return std::clamp(w, 1, 15);
}

namespace {
// One line typed in the text window (its length, 0 or below for none).
int readln(char* buf, int size) {
  const int prev = usewin(txtwin);
  const int n = rdkeys(buf, 0, 0, size);
  usewin(prev);
  return n;
}
}  // namespace

float askstr(const char* prompt) {
  jprintf(1, "\nEnter %s: ", prompt);
  char buf[256] = {};
  const int n = readln(buf, static_cast<int>(sizeof buf));
  if (n <= 0 || n >= 0x100) return 0.0f;
  buf[std::min(n, 80)] = 0;
  // The first number of the line.
  for (const char* p = buf; *p; p++) {
    const bool digit = std::isdigit(static_cast<unsigned char>(*p));
    const bool lead = (*p == '-' || *p == '+' || *p == '.') && (std::isdigit(static_cast<unsigned char>(p[1])) ||
                                                                 (p[1] == '.' && std::isdigit(static_cast<unsigned char>(p[2]))));
    if (digit || lead) return static_cast<float>(std::strtod(p, nullptr));
  }
  return 0.0f;
}

namespace {

constexpr int KY_ESC = 155, KY_HOME = 199, KY_END = 207, KY_CEND = 245, KY_CHOME = 247;

struct Pt {
  int x = 0, y = 0, z = 0;
};

void bell() { jprintf(1, "%c", 7); }

// The line end of a measurement: a carriage return on the terminal, a new
// line on any other unit.
char eolc() { return lstlun <= 1 ? '\r' : '\n'; }

// Record i of the vector list: code (raw), x, y, z; false past the end.
bool rawrec(int32_t i, int* code, int16_t* p) {
  uint8_t e[12];
  if (i < 0 || !getvec(nullptr, i, e, 0)) return false;
  *code = e[0];
  if (p) {
    p[0] = vget16(e + 4);
    p[1] = vget16(e + 6);
    p[2] = vget16(e + 8);
  }
  return true;
}

// The absolute point of record i when it is a point record (codes 1-6).
bool abspt(int32_t i, int16_t* p) {
  uint8_t e[12];
  if (i < 0 || !vabs(nullptr, i, e)) return false;
  if (e[0] < VC_LINE || e[0] > VC_DOT) return false;
  p[0] = vget16(e + 4);
  p[1] = vget16(e + 6);
  p[2] = vget16(e + 8);
  return true;
}

int32_t listcount() {
  const PtrRec* p = veclst();
  return p ? std::max<int32_t>(p->Length, 0) : 0;
}

// Sets the drawing state to record i without drawing: the pen moves to a
// point record, an end record only ends what was drawn before.
void prime(int32_t i) {
  int c = 0;
  if (!rawrec(i, &c, nullptr)) return;
  if ((c >= VC_LINE && c <= VC_PARAM) || c == VC_TILE || c == VC_FILL || c == VC_END) vdraw(i, -1);
}

// Erases record i from the window (a point drawn again with value 0).
void unrec(int32_t i) {
  int c = 0;
  if (!rawrec(i, &c, nullptr)) return;
  if (c >= 4 && c <= 6) c -= 3;
  if (c == VC_MOVE || c < VC_LINE || c > VC_DOT) return;
  if (c == VC_LINE) {
    int pc = 0;
    if (!rawrec(i - 1, &pc, nullptr) || pc < VC_LINE || pc > 6) return;  // drawn as a move
    prime(i - 1);
  }
  vdraw(i, 1);
}

// Draws record i again; the records it took.
int redo(int32_t i) {
  int c = 0;
  if (!rawrec(i, &c, nullptr)) return 1;
  if (c == VC_END) {
    vdraw(i, -1);
    return 1;
  }
  return std::max(vdraw(i, 0), 1);
}

// The end record type of record i, -1 when it is no end record.
int endtype(int32_t i) {
  int c = 0;
  int16_t p[3];
  if (!rawrec(i, &c, p) || c != VC_END) return -1;
  return p[0];
}

// Undoes records back from the write index: all of them (whole), else back
// to the end of the object before: an end record of type 2, or the link
// record (type 4) that closes each object the editor draws.
void undo(bool whole) {
  int32_t i = nvecs - 1;
  for (; i >= 0 && !stopped(); i--) {
    const int t = endtype(i) & 15;
    if (!whole && i != nvecs - 1 && (t == 2 || t == 4)) break;
    unrec(i);
    if ((nvecs - i) % 64 == 0) chkio(0);
  }
  nvecs = std::max<int32_t>(i + 1, 0);
  if (nvecs > 0) prime(nvecs - 1);
}

// Redoes the records that undo left beyond the write index: all of them,
// else up to and including the next link record.
void redoall(bool whole) {
  const int32_t n = listcount();
  int32_t i = nvecs;
  if (i < n && i > 0) prime(i - 1);
  while (i < n && !stopped()) {
    const bool link = endtype(i) == 4;
    i += redo(i);
    if (!whole && link) break;
    if (i % 64 == 0) chkio(0);
  }
  nvecs = std::min(i, n);
}

// Converts the records from the mark on to relative form (rel) or back.
void relform(bool rel) {
  int16_t base[3] = {0, 0, 0};
  for (int32_t j = skst.mark - 1; j >= 0; j--) {
    if (abspt(j, base)) break;
    int c = 0;
    if (rawrec(j, &c, nullptr) && c >= VC_LINE && c <= 6) break;
  }
  int32_t cur[3] = {base[0], base[1], base[2]};
  for (int32_t i = skst.mark; i < nvecs && !stopped(); i++) {
    uint8_t* r = gtvptr(nullptr, i, 2);
    if (!r) break;
    const int c = r[6] & 15;
    int32_t v[3] = {vget16(r), vget16(r + 2), vget16(r + 4)};
    if (c >= VC_LINE && c <= VC_DOT) {
      if (rel) {
        for (int k = 0; k < 3; k++) vput16(r + 2 * k, std::clamp<int32_t>(v[k] - cur[k], -32768, 32767));
        r[6] = static_cast<uint8_t>((r[6] & 0xF0) | (c + 3));
      }
      for (int k = 0; k < 3; k++) cur[k] = v[k];
    } else if (c >= 4 && c <= 6) {
      for (int k = 0; k < 3; k++) cur[k] += v[k];
      if (!rel) {
        for (int k = 0; k < 3; k++) vput16(r + 2 * k, std::clamp<int32_t>(cur[k], -32768, 32767));
        r[6] = static_cast<uint8_t>((r[6] & 0xF0) | (c - 3));
      }
    }
  }
}

// The help page of the editor's keys.
void keyhelp() {
  hlpkey(-1, nullptr);
  const int t = fndhlp("sketchsum");
  prthlp(t >= 0 ? -(t + 1) : -(nhelp + 1), 1, -1);
}

// The key translation of the command table.
int xlate(int code, bool ctrl) {
  switch (code) {
    case '+': return 'N';
    case '-': return 'A';
    case '*': return 'L';
    case '/': return 'F';
    case 'D': return 1;
    case 'M': return 2;
    case '.': return 3;
    case KY_END: return ctrl ? 'X' : 'E';
    case KY_HOME: return ctrl ? 'R' : 'H';
    case KY_CEND: return 'X';
    case KY_CHOME: return 'R';
    default: return code;
  }
}

// The state of one editor run.
struct Run {
  int mode = 0;          // the editor mode of the run
  int last = 0;          // the last code
  Pt lastp{-99999, -99999, 0};  // where the last code came
  Pt first;              // first point of the object being drawn
  bool far = false;      // a point of the object lay farther than 5 from the first
  int calpts = 0;        // points of the calibration bar
  int calmode = 0;       // the mode before the calibration
  int32_t found = -1;    // the record F found
  std::string keytext;   // a key text that ends the run
  int endcode = 0;       // -1 or -2 when auto-close ended the run
  bool stop = false;
};

void measure(Run& r) {
  const int32_t from = skst.mark >= 0 ? skst.mark : skst.start;
  float len = 0.0f, area = 0.0f;
  measur(nullptr, from, -1, calfact, &len, &area);
  ptvdat(len, area);
  jprintf(lstlun, "Leng:%-10.3f Area:%-10.3f%c", static_cast<double>(len), static_cast<double>(area), eolc());
  skst.start = nvecs;
  skst.mark = -1;
  (void)r;
}

// The end of a calibration bar.
void calibrate(Run& r) {
  float len = 0.0f, area = 0.0f;
  measur(nullptr, skst.start, nvecs - skst.start, 0.0f, &len, &area);
  const float bar = len >= 5.0f ? (calbar != 0.0f ? calbar : askstr("calib. bar length")) : 0.0f;
  if (len >= 5.0f && bar > 0.0f) {
    calfact = bar / len;
    jprintf(1, "\nCalibrated\n");
  } else {
    // A bar under 5 pixels, or a length not above 0 (typed, none typed, or
    // calbar): calfact stays, since measurements scale only by a positive
    // factor.
    jprintf(1, "\n");
    if (len >= 5.0f) jprintf(errlun, "Calibration length not above 0\n");
  }
  skmode = static_cast<uint16_t>(r.calmode);
  r.mode = r.calmode;
  r.calpts = 0;
}

// The arrowhead: at the end of the last line, or at a point picked after
// the one where the key came.
void arrow(Run& r, const Pt& p) {
  int16_t tip[3], base[3];
  bool ok = false;
  if (r.last == VC_LINE && abspt(nvecs - 1, tip)) {
    for (int32_t j = nvecs - 2; j >= 0 && !ok; j--) {
      int16_t q[3];
      if (!abspt(j, q)) break;
      if (vdist(q, tip, 2) > 5.0f) {
        std::memcpy(base, q, sizeof base);
        ok = true;
      }
    }
  } else {
    base[0] = static_cast<int16_t>(p.x);
    base[1] = static_cast<int16_t>(p.y);
    base[2] = static_cast<int16_t>(p.z);
    int k = curvec(tip, 0) & 0xFF;
    if (k == 13) k = 129;
    ok = k >= 128 && !stopped();
  }
  if (!ok) return;
  const int w = curpen();
  const double len = std::max(10 * w, 10);
  const double a = std::atan2(static_cast<double>(tip[1] - base[1]), static_cast<double>(tip[0] - base[0]));
  int16_t b[2][2];
  for (int s = 0; s < 2; s++) {
    const double t = a + (s ? -0.5236 : 0.5236);
    b[s][0] = static_cast<int16_t>(std::clamp<long>(std::lround(tip[0] - len * std::cos(t)), -32768, 32767));
    b[s][1] = static_cast<int16_t>(std::clamp<long>(std::lround(tip[1] - len * std::sin(t)), -32768, 32767));
  }
  savvec(b[0][0], b[0][1], tip[2], VC_MOVE, dcolor, w);
  savvec(tip[0], tip[1], tip[2], VC_LINE, dcolor, w);
  savvec(b[1][0], b[1][1], tip[2], VC_LINE, dcolor, w);
}

// Text lines at the point, one below the other.
void textin(Run& r, const Pt& p) {
  jprintf(1, "Enter text (blank line when done):\n");
  int y = p.y;
  bool moved = r.last == VC_MOVE;
  for (;;) {
    char buf[256] = {};
    const int n = readln(buf, static_cast<int>(sizeof buf));
    if (n <= 0 || n >= 0x100 || stopped()) break;
    buf[std::min(n, 80)] = 0;
    const int len = static_cast<int>(std::strlen(buf));
    if (len == 0) break;
    if (buf[0] == '\\' && len == 2) {
      const char c = buf[1];
      if (c == 'c' || c == 'l' || (c >= '1' && c <= '7')) {
        if (c == 'c')
          skst.flags = static_cast<int16_t>(skst.flags | SK_CENTRED);
        else if (c == 'l')
          skst.flags = static_cast<int16_t>(skst.flags & ~SK_CENTRED);
        else
          skst.flags = static_cast<int16_t>((skst.flags & ~SK_TEXTSIZE) | ((c - '1') << 12));
        sflags = static_cast<int16_t>((sflags & ~(SK_CENTRED | SK_TEXTSIZE)) |
                                      (skst.flags & (SK_CENTRED | SK_TEXTSIZE)));
        continue;
      }
    }
    const int size = ((skst.flags & SK_TEXTSIZE) >> 12) + 1;
    if (!moved) savvec(p.x, y, p.z, VC_MOVE, dcolor, curpen());
    puttext(buf, dcolor, (skst.flags & SK_CENTRED) ? -size : size, 0, curpen());
    moved = false;
    y += 16 * size;
  }
  r.last = 'T';
}

// The first point of the object a line-to at p starts.
Pt objstart(const Pt& p) {
  int c = 0;
  int16_t q[3];
  if (nvecs > 0 && rawrec(nvecs - 1, &c, nullptr) && (c == VC_MOVE || c == VC_MOVE + 3) && abspt(nvecs - 1, q))
    return Pt{q[0], q[1], q[2]};
  return p;
}

// A drawing code (1 line-to, 2 move-to, 3 dot) at p.
void point(Run& r, int code, Pt p) {
  const int w = curpen();
  if (r.mode & SKM_CALIB) {
    // The bar: a move to its first end, a line to the second.
    r.calpts++;
    savvec(p.x, p.y, p.z, r.calpts == 1 ? VC_MOVE : VC_LINE, dcolor, w);
    r.last = r.calpts == 1 ? VC_MOVE : VC_LINE;
    if (r.calpts >= 2) calibrate(r);
    return;
  }
  if (code == VC_DOT) {
    flushq();
    savvec(p.x, p.y, p.z, VC_DOT, dcolor, w);
    r.last = VC_DOT;
    return;
  }
  if (code == VC_MOVE) {
    // A move right after a move takes its place.
    int c = 0;
    if (r.last == VC_MOVE && nvecs > 0 && rawrec(nvecs - 1, &c, nullptr) && c == VC_MOVE) nvecs--;
    savvec(p.x, p.y, p.z, VC_MOVE, dcolor, w);
    r.last = VC_MOVE;
    return;
  }
  // The first record of the list is a move (as savvec stores it).
  int c = nvecs == 0 ? VC_MOVE : VC_LINE;
  if (r.mode & SKM_OUTLINE) {
    // The first point of an outline only places it.
    if (r.last != VC_LINE) c = VC_MOVE;
  } else if (r.last == VC_LINE) {
    if (skst.flags & SK_SEGMENTS) c = VC_MOVE;
    if ((skst.flags & SK_JUMP) && std::abs(p.x - r.lastp.x) + std::abs(p.y - r.lastp.y) > skst.jump) c = VC_MOVE;
  }
  bool closed = false;
  if (skst.flags & (SK_CLOSE | SK_CLOSEEND)) {
    if (r.last != VC_LINE || c == VC_MOVE) {
      r.first = c == VC_MOVE ? p : objstart(p);
      r.far = false;
    }
    const int16_t a[2] = {static_cast<int16_t>(p.x), static_cast<int16_t>(p.y)};
    const int16_t b[2] = {static_cast<int16_t>(r.first.x), static_cast<int16_t>(r.first.y)};
    if (c == VC_LINE && vdist(a, b, 2) <= 5.0f) {
      if (r.far) {
        p = r.first;
        closed = true;
      }
    } else {
      r.far = true;
    }
  }
  savvec(p.x, p.y, p.z, c, dcolor, w);
  // The code stored is the last code (a line-to stored as a move starts a
  // new segment); in an outline every point counts as a line-to.
  r.last = (r.mode & SKM_OUTLINE) ? VC_LINE : c;
  if (closed) {
    r.far = false;
    if (skst.flags & SK_CLOSEEND) {
      r.endcode = -2;
      r.stop = true;
    } else if (skst.flags & SK_CLOSEQ) {
      r.endcode = -1;
      r.stop = true;
    } else {
      bell();
    }
    if (!(skst.flags & SK_MEASURE)) flushq();
  }
}

// Paints the outline from the mark, else from the last link.
void paintmark() {
  int32_t from = skst.mark;
  if (from < 0) from = skst.link >= 0 && skst.link < nvecs ? skst.link : std::max<int32_t>(skst.start, 0);
  int c = 0;
  while (nvecs > from && rawrec(nvecs - 1, &c, nullptr) && c > 6) nvecs--;
  vpaint(from, dcolor, -1);
  skst.link = nvecs - 1;  // the fill ends with a link
  skst.mark = -1;
}

// Traces the image outline at p; after a line-to it starts along the last
// segment.
void traceat(Run& r, const Pt& p) {
  int dir = -1;
  int16_t a[3], b[3];
  if (r.last == VC_LINE && abspt(nvecs - 2, a) && abspt(nvecs - 1, b)) dir = dircode(a, b);
  const int16_t q[3] = {static_cast<int16_t>(p.x), static_cast<int16_t>(p.y), static_cast<int16_t>(p.z)};
  trace(q, dir);
}

// Acts on one code of the command table.
void command(Run& r, int code, const Pt& p) {
  switch (code) {
    case 1:
    case 2:
    case 3:
      point(r, code, p);
      if (skst.flags & SK_FLUSH) flushq();
      return;
    case 4:
    case 5:
    case 6:
    case 7:
      break;
    case KY_ESC:
    case 'Q':
    case 'q':
      r.stop = true;
      return;
    case '?':
      keyhelp();
      break;
    case 'A':
      arrow(r, p);
      break;
    case 'B': {
      uint8_t* rec = nvecs >= 2 ? gtvptr(nullptr, nvecs - 2, 2) : nullptr;
      if (rec && (rec[6] & 15) == VC_PARAM) {
        rec[6] = static_cast<uint8_t>(rec[6] | 16);
        rec[7] = static_cast<uint8_t>(dcolor);
      } else {
        bell();
      }
      break;
    }
    case 'C':
      jprintf(1, "\rMark ends of calibration bar: %c", '\r');
      r.calmode = r.mode;
      r.mode = SKM_CALIB;
      skmode = SKM_CALIB;
      r.calpts = 0;
      skst.start = nvecs;
      break;
    case 'E':
      undo(true);
      break;
    case 'X':
      undo(false);
      break;
    case 'H':
      redoall(true);
      break;
    case 'R':
      redoall(false);
      break;
    case 'F': {
      const int16_t q[3] = {static_cast<int16_t>(p.x), static_cast<int16_t>(p.y), static_cast<int16_t>(p.z)};
      uint8_t out[12];
      r.found = fndvec(nullptr, q, std::max<int32_t>(skst.mark, 0), out, 8);
      break;
    }
    case 'I':
      traceat(r, p);
      break;
    case 'J':
    case 'K':
    case 'N':
    case 'Z':
      jprintf(1, "Code %d not implemented%c", code, '\n');
      break;
    case 'L':
      measure(r);
      break;
    case 'O': {
      if (skst.mark < 0) {
        bell();
        break;
      }
      int16_t q[3];
      int k = curvec(q, 0) & 0xFF;
      if (k == 13) k = 129;
      if (k < 128 || stopped()) break;
      if (uint8_t* rec = gtvptr(nullptr, skst.mark, 2))
        for (int i = 0; i < 3; i++) vput16(rec + 2 * i, q[i]);
      skst.mark = -1;
      break;
    }
    case 'P':
      paintmark();
      break;
    case 'S': {
      int c = 0;
      int16_t q[3];
      if (skst.mark < 0 || !rawrec(skst.mark, &c, q)) {
        bell();
        break;
      }
      jprintf(1, "Marked vec: %ld (%d: %d,%d,%d)\n", static_cast<long>(skst.mark), c, q[0], q[1], q[2]);
      int16_t a[3];
      if (abspt(skst.mark, a)) {
        setcurs(a[0], a[1]);
        curx = a[0];
        cury = a[1];
      }
      break;
    }
    case 'T':
      textin(r, p);
      return;
    case 'U':
      skst.mark = -1;
      break;
    case 'V':
      skst.mark = r.last == 'F' && r.found >= 0 ? r.found : nvecs;
      break;
    case 'W':
    case 'Y':
      // Without a mark there is nothing to convert.
      if (skst.mark < 0) {
        bell();
        break;
      }
      relform(code == 'W');
      break;
    default:
      break;
  }
  r.last = code;
}

// Closes the object with a link record.
void link() {
  endvec(4);
  skst.link = nvecs - 1;
}

}  // namespace

int sketch(int mode, int add) {
  Run r;
  bool resume = false;
  if (skmode & SKM_SUSPEND) {
    skmode = static_cast<uint16_t>(skmode & ~SKM_SUSPEND);
    if (vmode != skst.vmode) return 0;
    resume = true;
    r.last = skst.last;
  }
  if (!veclst()) vinit(0);
  if (!resume) {
    skst.start = nvecs - 1;
    if (skst.mark >= nvecs) skst.mark = -1;
    if (mode == 0) {
      skst.flags = static_cast<int16_t>(intarg(2, sflags));
      skst.jump = static_cast<int16_t>(intarg(3, 10));
      skst.curmode = static_cast<int16_t>(intarg(4, 1033));
    } else {
      skst.flags = static_cast<int16_t>(sflags | add);
      skst.jump = 10;
      skst.curmode = 1033;
    }
    if (stopped()) return 0;
    if (!(skst.flags & SK_MENUS)) skst.curmode = static_cast<int16_t>(skst.curmode | 0x400);
    if (!(skst.flags & SK_QUIET)) {
      erase(0);
      jprintf(1, "Sketching (Q to quit,  ? for help) ...\n");
      if (skst.flags & SK_MENUS) jprintf(1, "Menus off (<BS> to toggle)\n");
    }
  }
  r.mode = mode;
  skmode = static_cast<uint16_t>(mode);
  const uint16_t savflg = curflg;
  const int16_t savwfl = wflags;
  const int16_t savhold = holdsw;
  wflags = static_cast<int16_t>(wflags | 0xF);
  // Menu picks are held for the editor, which takes their texts as key
  // texts; an outline for mask or sample takes none.
  if (!(mode & SKM_OUTLINE)) holdsw = 1;
  char keys[17] = {};
  const int nkeys = static_cast<int>(std::strlen(strvar("drawkeys")) > 16 ? 16 : std::strlen(strvar("drawkeys")));
  std::memcpy(keys, strvar("drawkeys"), static_cast<size_t>(nkeys));
  {
    VecPort vp;
    VecWin vw;
    if (resume && r.last == VC_LINE && nvecs > 0) vdraw(nvecs - 1, -1);
    const bool alarms = (state & ST_ALARMS) != 0;
    bool alarmran = false;
    long turns = 0;
    int16_t savx = curx, savy = cury;
    int x = curx, y = cury, z = zvalue;
    while (!r.stop && !stopped()) {
      // Without a pointer nothing can drive the editor; at the end of the
      // scripted and typed input it ends.
      if (!backend()->pointer() || inend()) break;
      const int key = getxyz(skst.curmode, &x, &y, &z);
      if (alarms && ++turns % 100 == 0 && alarmck(0) != 0) alarmran = true;
      if (key == 0) continue;
      if (inend()) break;
      const Pt p{x, y, z};
      // Esc comes from the pick as its character (27).
      int code = key == 27 ? KY_ESC : key;
      bool direct = false;
      if (code >= 129 && code <= 135) code -= 128;
      if (code >= 1 && code <= nkeys) {
        code = static_cast<uint8_t>(keys[code - 1]);
        direct = true;
      }
      if (!direct && code == 8 && (skst.flags & SK_MENUS)) {
        skst.curmode = static_cast<int16_t>(skst.curmode ^ 0x400);
        const bool on = !(skst.curmode & 0x400);
        jprintf(1, "Menus %s\n", on ? "on" : "off");
        if (on) {
          savx = curx;
          savy = cury;
          setcurs(100, 100);
          curx = cury = 100;
        } else {
          setcurs(savx, savy);
          curx = savx;
          cury = savy;
        }
        continue;
      }
      if (!direct && code > 7) {
        // Key texts: not while an outline is taken for mask or sample.
        int len = 0;
        const char* t = (r.mode & SKM_OUTLINE) ? nullptr : fncstr(code, -1, &len);
        if (t && len > 0) {
          const std::string s(t, static_cast<size_t>(len));
          if (!(skst.curmode & 0x400) && code == 128 && (trcmsk & 1)) jprintf(dbglun, "(%d):%s\n", code, s.c_str());
          if (s[0] != ';') {
            r.keytext = s;
            break;
          }
          code = s.size() > 1 ? static_cast<uint8_t>(s[1]) : 0;
        }
        code = xlate(code, (evtrec.modifiers & MK_CTRL) != 0);
      }
      if (alarmran && r.last != VC_LINE) break;
      // The same code (or a line-to) again at the same point does nothing.
      if (p.x == r.lastp.x && p.y == r.lastp.y && (code == r.last || code == VC_LINE)) continue;
      if (r.mode & SKM_OUTLINE) {
        // Only line-tos count; the first other code after one ends.
        if (code != VC_LINE) {
          if (r.last == VC_LINE || code == KY_ESC || code == 'Q' || code == 'q') break;
          continue;
        }
      } else if (code >= 2 && code <= 15 && r.last == VC_LINE && !(r.mode & SKM_CALIB)) {
        // A new button closes the object the line-tos drew.
        if (!(skst.flags & SK_SEGMENTS)) link();
        r.last = VC_END;
        if (skst.flags & SK_MEASURE) code = 'L';
      }
      command(r, code, p);
      r.lastp = p;
    }
    drwcur(0, 0, -1);
  }
  if (r.endcode) r.last = r.endcode;
  curflg = savflg;
  wflags = savwfl;
  holdsw = savhold;
  if (!r.keytext.empty()) {
    std::string t = r.keytext;
    if (t.back() == ';') {
      t += "\nsketch";
      skmode = static_cast<uint16_t>(skmode | SKM_SUSPEND);
      skst.last = static_cast<int16_t>(r.last);
      skst.vmode = vmode;
    }
    xeqstr(t.c_str(), 0, static_cast<int>(t.size()));
  } else {
    jprintf(1, "\n");
  }
  if (r.last == VC_LINE && !(skmode & SKM_SUSPEND)) {
    VecPort vp;
    link();
  }
  if (!(skmode & SKM_SUSPEND)) skmode = 0;
  if (PtrRec* v = veclst()) rstbuf(v);
  if (PtrRec* d = vdatlst()) rstbuf(d);
  return r.last;
}
