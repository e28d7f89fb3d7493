// The display ops that run over time: colour-table changes and swaps timed
// to the frame, text with its text-box table, image sequences and movies,
// running sweeps, movie recording, the camera and the run window.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/safewrite.h"
#include "graphics/movie/avwrite.h"
#include "graphics/movie/movie.h"
#include "graphics/pixblock.h"
#include "graphics/writers.h"
#include "realtime/devices/devvar.h"
#include "realtime/devices/sound.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/hwvars.h"
#include "realtime/rtdint.h"
#include "realtime/rtops.h"
#include "ui/clocks.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/screen.h"
#include "ui/window.h"


// ---- Frame timing ---------------------------------------------------------------------

int frmop(RtTask* t, RtOp* op) {
  const int opc = op->opc;
  if (rts.frmset) {
    const uint32_t tn = rtclock();
    const double per = rts.frame > 0 ? rts.frame : 665.0;
    const double el = double(tn - rts.frmtime);
    const double k = std::trunc(el / per);
    int64_t wait = static_cast<int64_t>(std::trunc((k + 1) * per - el));
    if (opc != R_RWAIT && wait < rts.lead) wait += static_cast<int64_t>(per);
    trcint(1024, "luttime", 0, static_cast<int>(el), static_cast<int>(k), static_cast<int>(wait), rts.lead, opc);
    rts.frmset = 0;
    if (wait > rts.lead + 100) {
      // Back lead ticks before that frame.
      setdue(t, tn + static_cast<uint32_t>(wait - rts.lead));
      return DS_AGAIN;
    }
  }
  const uint32_t t0 = rtclock();
  switch (opc) {
    case R_LUT: {
      RtOpnd* tab = rtopk(op, 1);
      const uint8_t* d = elmptr(tab, 0);
      int64_t first = rtarg(op, 2, 0), count = int64_t(rtarg(op, 3, 0)) - 1;
      // Within the table and within what operand 1 holds.
      count = std::min<int64_t>(count, 256 - first);
      count = std::min<int64_t>(count, rtleft(tab) / 4);
      if (d && first >= 0 && first < 256 && count > 0) setpal(static_cast<int>(first), static_cast<int>(count), d);
      break;
    }
    case R_MLUT: {
      RtOpnd* ix = rtopk(op, 1);
      RtOpnd* cl = rtopk(op, 2);
      const uint8_t* idx = elmptr(ix, 0);
      const uint8_t* col = elmptr(cl, 0);
      int64_t n = rtarg(op, 3, 256);
      n = std::clamp<int64_t>(n, 0, 256);
      n = std::min<int64_t>(n, rtleft(ix));
      uint8_t table[256 * 4] = {0};
      const int64_t ncol = rtleft(cl) / 4;
      for (int64_t i = n - 1; i >= 0 && idx && col; i--)
        if (idx[i] < ncol) std::memcpy(table + 4 * i, col + 4 * size_t(idx[i]), 4);
      t->slot[0] = static_cast<int16_t>(n - 1);
      if (n > 1) setpal(0, t->slot[0], table);
      break;
    }
    case R_RWAIT:
      // The retrace wait of this platform never reports busy: with
      // operand 1 at 0 or not, the op completes.
      break;
    case R_SWAP: {
      // The page flip is empty here: the swap is logged.
      const long buf = static_cast<long>(reinterpret_cast<intptr_t>(pixtg.mem) & 0x7FFFFFFF);
      const Scr s = scrof(t);
      const long bmp = s.w ? static_cast<long>(s.w->offscr) : 0;
      const unsigned old = static_cast<unsigned>(scrflags & 0xFFFF);
      if (jdebug) logprintf("RT_SWAP:  %oo, %ld %ld -> %oo, %ld %ld\n", old, buf, bmp, old, buf, bmp);
      break;
    }
    default: break;
  }
  const uint32_t now = rtclock();
  trclng(1024, "  xtime", 0, opc, static_cast<int32_t>(t->due), static_cast<int32_t>(t0), static_cast<int32_t>(now),
         static_cast<int32_t>(rts.frame * 1000));
  if (!(rts.flags & RF_MAINWIN) && scrbits <= 8) {
    rts.frmtime = now;
    rts.frmset = 1;
  }
  rts.now = now;
  return DS_DONE;
}

// ---- Text ------------------------------------------------------------------------------

namespace {
// The text-box table: where text was drawn with the erase flag.
struct TxtBox {
  int32_t key;      // x + y * 65536 of the op's point
  int16_t w, h;     // 0 width: free
  int16_t x, y;     // the box's top left
};
TxtBox txtbox[20];

int fontheight(const PwRec* p) {
  const FntRow* r = p ? fntrow(p->fontnum) : nullptr;
  return r && r->height > 0 ? r->height : 16;
}
}  // namespace

int textop(RtTask* t, RtOp* op) {
  RtOpnd* po = rtopk(op, 1);
  const int x = opelm(po, 0), y0 = opelm(po, 1);
  int len = t->slot[0];
  const int fl = (t->slot[1] >> 8) & 0xFF, lim = t->slot[1] & 0xFF;
  const int si = t->slot[2];
  const char* txt = si >= 0 && si < RTSLOTS ? rts.str[si] : nullptr;
  trcint(64, "Dtext", 0, x, y0, len, fl, lim);
  const Scr s = scrof(t);
  PwRec* port = getPort();
  const int fh = fontheight(port);
  // Modulo 2^32: a point's coordinates may be any 16-bit values.
  const auto key = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(y0) * 65536u);
  bool drew = false;
  if (fl & 2) {
    for (TxtBox& b : txtbox)
      if (b.w > 0 && b.key == key) {
        const int32_t r[4] = {b.x, b.y, b.x + b.w - 1, b.y + b.h - 1};
        pixset(nullptr, 0, r);
        b.w = 0;
        drew = true;
      }
  }
  int maxw = 0, top = y0, bottom = y0;
  if (len > 0 && txt) {
    std::string text(txt, static_cast<size_t>(std::min<int64_t>(len, static_cast<int64_t>(std::strlen(txt)))));
    if (op->opc == R_WORD) {
      // Only the word of that number (from 0).
      const int want = rtarg(op, 5, 0);
      std::string w;
      int k = -1;
      size_t i = 0;
      while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) i++;
        if (i >= text.size()) break;
        size_t j = i;
        while (j < text.size() && text[j] != ' ' && text[j] != '\t' && text[j] != '\n') j++;
        if (++k == want) {
          w = text.substr(i, j - i);
          break;
        }
        i = j;
      }
      text = w;
    }
    if (lim > 0 && static_cast<int>(text.size()) > lim) text.resize(static_cast<size_t>(lim));
    int y = (fl & 1) ? y0 - fh / 2 : y0;
    top = std::max(0, y);
    int left = x;
    size_t i = 0;
    while (i < text.size()) {
      // A line ends at a newline or at the two characters \ and n.
      size_t j = i;
      while (j < text.size() && text[j] != '\n' && !(text[j] == '\\' && j + 1 < text.size() && text[j + 1] == 'n')) j++;
      const int n = static_cast<int>(j - i);
      const int w = n > 0 ? txtwid(text.data() + i, n) : 0;
      const int lx = (fl & 1) ? x - w / 2 : x;
      if (y < 0) y = 0;
      if (n > 0) {
        moveto(lx, y);
        ptext(text.data() + i, n);
        drew = true;
      }
      left = std::min(left, lx);
      maxw = std::max(maxw, w);
      y += fh;
      i = j + (j < text.size() && text[j] == '\\' ? 2 : 1);
    }
    bottom = y;
    if ((fl & 2) && maxw > 0) {
      TxtBox* e = nullptr;
      for (int k = 19; k >= 0 && !e; k--)
        if (txtbox[k].w > 0 && txtbox[k].key == key) e = &txtbox[k];
      for (int k = 0; k < 20 && !e; k++)
        if (txtbox[k].w <= 0) e = &txtbox[k];
      if (e) *e = {key, static_cast<int16_t>(maxw), static_cast<int16_t>(bottom - top), static_cast<int16_t>(left),
                   static_cast<int16_t>(top)};
    }
    // The point moves past the text: x by its width (and a gap with flag
    // 16), y to the baseline.
    if ((fl & (4 | 16)) && maxw > 0) {
      putelm(x + maxw + ((fl & 16) ? fh / 3 : 0), po, 0);
      putelm(y0 - 40, po, 1);
    }
  }
  if (si >= 0 && si < RTSLOTS) {
    xfree(rts.str[si]);
    rts.str[si] = nullptr;
    t->slot[2] = -1;
  }
  if (drew) shown(s);
  return DS_DONE;
}

// ---- Image sequences and movies ---------------------------------------------------------

namespace {
// One image sequence or flicker being played.
struct Cine {
  uint16_t flags;      // 1 the alternate image, 2 flicker, 4 the task goes on, 8 paused, 16 wrap
  int16_t op;          // vidbox's combine op
  uint32_t next;       // next frame time
  int32_t period;
  int32_t fbytes;      // bytes of a frame
  int32_t left;        // frames left
  int32_t rect[4];     // x, y, w, h on the screen
  int type;            // element type of the frames
  int32_t task;        // the owning task (stack address)
  int32_t opref;       // its op (stack address)
};
std::vector<Cine*> cines;

void cinefree(Cine* c) {
  cines.erase(std::remove(cines.begin(), cines.end(), c), cines.end());
  xfree(c);
}

// Shows the record's frame and schedules the next; at its last frame the
// record goes and its task goes on.
void cinestep(Cine* c) {
  RtTask* t = rttask(c->task);
  RtOp* op = rtop(c->opref);
  if (!t || !op) {
    cinefree(c);
    return;
  }
  if (jdebug) logprintf("cine frame %d left %d at %u\n", c->flags, c->left, static_cast<unsigned>(c->next));
  if (!(c->flags & 8)) {
    int w, h, type;
    int64_t avail;
    uint8_t* d = imgdata(rtopk(op, (c->flags & 1) ? 3 : 1), &w, &h, &type, &avail);
    if (d && avail >= c->fbytes) {
      const Scr s = dspsel(t);
      vidbox(nullptr, d, c->rect[0], c->rect[1], c->rect[2], c->rect[3], 1, 0, c->op, 1, c->type & 63, nullptr);
      shown(s);
    }
  }
  if (--c->left > 0) {
    if (c->flags & 2)
      c->flags ^= 1;
    else
      rtincr(rtopk(op, 1), c->fbytes, (c->flags & 16) ? OF_WRAP : 0);
    c->next += static_cast<uint32_t>(c->period);
    if (jdebug) logprintf("cine next %u\n", static_cast<unsigned>(c->next));
    return;
  }
  const bool hold = !(c->flags & 4);
  cinefree(c);
  t->slot[0] = 0;
  if (hold && t->inrun) {
    setdue(t, rts.now);
    nxtop(t);
  }
}

// Sets up an image sequence: 0 when it could not start, 1 when it holds
// the task, 2 when the task goes on beside it, 3 when it ended at its first
// frame (the task has moved on).
int setupcine(RtTask* t, RtOp* op) {
  int32_t reg[4], bytes = 0;
  int type = 0;
  uint8_t* d = imgarg(op, 5, reg, &bytes, &type);
  if (!d || bytes < 1) return 0;
  auto* c = static_cast<Cine*>(xcalloc(1, sizeof(Cine)));
  if (!c) {
    error(0, 208);
    return 0;
  }
  RtOpnd* o = rtopk(op, 1);
  c->period = rtarg(op, 2, 0);
  c->flags = static_cast<uint16_t>(rtarg(op, 6, 0) & 0x1F);
  c->op = static_cast<int16_t>(rtarg(op, 7, 0));
  c->next = t->due;
  c->fbytes = bytes;
  c->type = type;
  std::memcpy(c->rect, reg, sizeof reg);
  c->task = stkadr(t);
  c->opref = stkadr(op);
  // The frames operand 1 holds from its current one: of a list of images
  // its elements from the current on.
  const int64_t held = (o->kind & K_LIST) ? int64_t(rtlstn(o)) - o->offset : rtleft(o) / bytes;
  const int32_t avail = static_cast<int32_t>(std::clamp<int64_t>(held, 1, INT32_MAX));
  int32_t frames = rtarg(op, 4, 0);
  if (op->opc == R_FLICKER) {
    c->flags |= 2;
    if (frames < 1) frames = 2;
    int w, h, type;
    int64_t alt = 0;
    if (!imgdata(rtopk(op, 3), &w, &h, &type, &alt) || alt < bytes) c->flags &= static_cast<uint16_t>(~2);
  } else {
    if (frames < 1) frames = avail;
    if (frames > avail) c->flags |= 16;
  }
  c->left = frames;
  cines.push_back(c);
  if (jdebug)
    logprintf("setupcine %d: %d frames of %d bytes every %d at %d,%d %dx%d\n", op->opc, frames, bytes, c->period,
              reg[0], reg[1], reg[2], reg[3]);
  const bool hold = !(c->flags & 4);
  if (hold) {
    t->slot[0] = -1;
    rthold(t);
  } else {
    t->slot[0] = 1;
  }
  if (op->flg & OF_LOG) rtlog(rts.now, op, 1, t->result);
  const int32_t cur = t->cur;
  cinestep(c);
  if (!hold) return 2;
  return t->cur == cur && t->slot[0] == -1 ? 1 : 3;
}

// Starts a movie file: 1 when it plays (*first: what its clock said).
int setupmovie(RtTask* t, RtOp* op, int* first) {
  const std::string name = nxtidx(op, 1, 32);
  const int v = rtarg(op, 2, 0);
  const int mode = v >> 3, sflags = v & 7;
  const int layout = rtarg(op, 3, 0), playms = rtarg(op, 4, 0), rate = rtarg(op, 5, 100);
  int32_t rect[4];
  const int32_t* rp = nullptr;
  if (const RtOpnd* p = rtopk(op, 6)) {
    rect[0] = opelm(p, 0);
    rect[1] = opelm(p, 1);
    rect[2] = std::max(1, rect[0] + 1);
    rect[3] = rect[1] + 1;
    rp = rect;
  }
  if (trcmsk)
    jprintf(dbglun, "InitAvi <%s> nch=%d %d %d %d %d %d %d\n", name.c_str(), rtnops(op), mode, sflags, layout,
            playms, rate, rp ? rect[0] : -1);
  if (aviisopen()) rlsbuf();
  const Scr s = scrof(t);
  if (!s.hwnd || InitAVI(s.hwnd, name.c_str(), rp, mode, sflags, layout, 0, rate, playms) <= 0) return 0;
  *first = playAVI(0, 0, 1);
  t->slot[0] = -2;
  rts.movtask = stkadr(t);
  return 1;
}
}  // namespace

void rtcine() {
  if (cines.empty()) return;
  const std::vector<Cine*> due = cines;
  for (Cine* c : due)
    if (std::find(cines.begin(), cines.end(), c) != cines.end() && static_cast<int32_t>(rts.now - c->next) >= 0)
      cinestep(c);
}

uint32_t cinedue() {
  uint32_t m = 0xFFFFFFFFu;
  for (const Cine* c : cines) m = std::min(m, c->next);
  return m;
}

int rlsbuf() {
  aviclos();
  if (Wport* w = wport(curwin)) w->misc &= static_cast<uint8_t>(~0x80);
  const Scr s = scrof(rttask(rts.movtask));
  shown(s);
  rts.movtask = 0;
  return 0;
}

int aviend() { return rlsbuf(); }

namespace {
int movtick(RtTask* t, RtOp* op, int r);
}  // namespace

int cineop(RtTask* t, RtOp* op, bool* logged) {
  int16_t& st = t->slot[0];
  if (st == 0) {
    const RtOpnd* o1 = rtopk(op, 1);
    if (o1 && (o1->kind & K_STRING)) {
      int first = 0;
      if (op->opc == R_CINE && setupmovie(t, op, &first)) {
        if (op->flg & OF_LOG) rtlog(rts.now, op, 1, t->result);
        return movtick(t, op, first);
      }
      st = 1;
      *logged = false;
      return DS_DONE;
    }
    const int r = rtnops(op) >= 2 ? setupcine(t, op) : 0;
    if (r == 0 || r == 2) {
      *logged = false;
      return DS_DONE;
    }
    return DS_STAY;
  }
  if (st == -1) return DS_STAY;
  if (st == 1) {
    *logged = false;
    return DS_DONE;
  }
  return movtick(t, op, maintainAVI(1));
}

namespace {
// What the movie's clock said (r) turned into the op's work.
int movtick(RtTask* t, RtOp* op, int r) {
  int16_t& st = t->slot[0];
  if (r == 0) {
    rlsbuf();
    st = 0;
    return DS_DONE;
  }
  if (r > 0) {
    const uint32_t at = rts.now + static_cast<uint32_t>(r) * 50;
    if (static_cast<int32_t>(at - t->due) > 0) setdue(t, at);
  } else if (r == -2) {
    if (op->flg & OF_LOG) rtlog(rts.now, op, 1, t->result);
  } else {
    setrtwin(t, 1);
    const Scr s = dspsel(t);
    const uint32_t t0 = rtclock();
    const int p = AVIpaint(0, s.hwnd);
    if (p > 0 && (op->flg & OF_LOG)) rtlog(rts.now, op, 1, static_cast<int>(rtclock() - t0));
    trcint(64, "opcine", 0, r, p, 0, 0, 0);
  }
  if (jdebug > 2) logprintf("cine %d %d %d dc=%d -> %ld\n", op->opc, st, r, 0, static_cast<long>(t->due));
  return DS_AGAIN;
}
}  // namespace

// ---- Sweeps ------------------------------------------------------------------------------

namespace {
struct Sweep {
  int mode;
  int32_t data, xop, plot, prm;  // operand references
  int32_t count;
};
std::vector<Sweep> sweeps;
int16_t lasty[16];  // the previous y of each channel

// Redraws the registered sweeps. Each maps its data items (item i at x =
// i) through a plot record as the plot command does: screen x = (i - x
// zero) * x scale + x origin, screen y = y origin - (value - y zero) * y
// scale (+ with flag 128; flags 1 and 2 take log10 first). The plot record
// operand holds the x and y origin and limit in words 0-3 and the flags in
// word 12 (the run window's box without one); the float parameters hold
// x zero, y zero, x scale and y scale (0 counts as 1). Points past a limit
// are out. The kind, mode bits 0xE00 >> 9: 0 a line broken at points out,
// 1 dots, 2 bars from the y origin, 3 a line joined across points out;
// the low byte of the mode is the colour. The count is the x operand's
// element count when it has one, else the data's.
void swpdraw(RtTask* t) {
  const Scr s = scrof(t);
  PenKeep keep;
  for (const Sweep& w : sweeps) {
    const RtOpnd* d = rtopnd(w.data);
    if (!d || rtebytes(d) < 1) continue;
    const RtOpnd* pl = rtopnd(w.plot);
    const RtOpnd* pr = rtopnd(w.prm);
    int32_t org[2] = {t->clip[0], t->clip[3] - 1}, lim[2] = {t->clip[2] - 1, t->clip[3] - 1}, flags = 0;
    if (pl) {
      for (int k = 0; k < 2; k++) {
        org[k] = opbase(pl, k);
        lim[k] = opbase(pl, 2 + k);
      }
      flags = opbase(pl, 12);
    }
    double zero[2] = {0, 0}, scale[2] = {1, 1};
    for (int k = 0; pr && k < 2; k++) {
      if (const uint8_t* p = baseptr(pr, k)) zero[k] = valflt(pr, p);
      if (const uint8_t* p = baseptr(pr, 2 + k)) scale[k] = valflt(pr, p);
      if (scale[k] == 0) scale[k] = 1;
    }
    const int kind = (w.mode >> 9) & 3;
    pencol(w.mode & 0xFF);
    const int32_t n = w.count > 0 ? std::min(w.count, rtnelm(d)) : rtnelm(d);
    bool pen = false;
    for (int32_t i = 0; i < n; i++) {
      const uint8_t* p = baseptr(d, i);
      if (!p) break;
      double x = i, y = valflt(d, p);
      bool in = true;
      if (flags & 1) in = x > 0 && (x = std::log10(x), true);
      if ((flags & 2) && in) in = y > 0 && (y = std::log10(y), true);
      const double fx = (x - zero[0]) * scale[0] + org[0];
      const double dy = (y - zero[1]) * scale[1];
      const double fy = (flags & 128) ? org[1] + dy : org[1] - dy;
      const int sx = static_cast<int>(std::clamp(fx, -1e6, 1e6)), sy = static_cast<int>(std::clamp(fy, -1e6, 1e6));
      if (!in || sx > lim[0] || sy > lim[1]) {
        if (kind == 0) pen = false;
        continue;
      }
      if (kind == 1) {
        drawpt(sx, sy, platcol(w.mode & 0xFF));
      } else if (kind == 2) {
        moveto(sx, org[1]);
        lineto(sx, sy);
      } else {
        if (pen)
          lineto(sx, sy);
        else
          moveto(sx, sy);
        pen = true;
      }
    }
  }
  shown(s);
}
}  // namespace

int sweepop(RtTask* t, RtOp* op) {
  if (op->opc == R_SETSWEEP) {
    int r = 0;
    RtOpnd* d = rtopk(op, 1);
    RtOpnd* pl = rtopk(op, 4);
    RtOpnd* pr = rtopk(op, 5);
    if (rtnops(op) < 3 || !d) r = -1;
    else if (rtebytes(d) < 1 || d->kind < 0) r = -2;
    else if (pl && (pl->type != 32 || pl->size < 13 * 4)) r = -3;
    else if (pr && pr->type != 96) r = -4;
    else sweeps.push_back({rtarg(op, 3, 0), op->opnd[0], rtnops(op) >= 2 ? op->opnd[1] : 0,
                           pl ? op->opnd[3] : 0, pr ? op->opnd[4] : 0, rtnelm(rtopk(op, 2))});
    t->result = static_cast<int16_t>(r);
    return DS_DONE;
  }
  if (rtnops(op) < 3) return DS_DONE;
  RtOpnd* d = rtopk(op, 1);
  const Scr s = scrof(t);
  // The plot's box: the newest sweep's plot record, else the window.
  int32_t box[4] = {t->clip[0], t->clip[1], t->clip[2] - 1, t->clip[3] - 1};
  if (!sweeps.empty())
    if (const RtOpnd* pl = rtopnd(sweeps.back().plot))
      for (int i = 0; i < 4; i++) box[i] = opbase(pl, i);
  if (!d || rtebytes(d) != 2) {
    swpdraw(t);
    return DS_DONE;
  }
  const int n = std::clamp(rtarg(op, 3, 1), 1, 16);
  RtOpnd* xo = rtopk(op, 4);
  int32_t x = opval(xo);
  const int step = rtarg(op, 5, 1);
  const RtOpnd* prm = rtopk(op, 6);
  const RtOpnd* cols = rtopk(op, 2);
  PenKeep keep;
  int nx = x + step;
  if (nx > box[2]) nx = box[0];
  for (int c = 0; c < n; c++) {
    int32_t v = opelm(d, c);
    if (prm && rtebytes(prm) == 2) {
      int16_t p6[6];
      for (int i = 0; i < 6; i++) p6[i] = static_cast<int16_t>(opelm(prm, c * 6 + i));
      v = rtmap(v, p6);
    }
    v = std::clamp<int32_t>(v, std::min(box[1], box[3]), std::max(box[1], box[3]));
    setpnc(rgbswap(static_cast<uint32_t>(opelm(cols, c))));
    if (nx > x) {
      moveto(x, lasty[c]);
      lineto(nx, v);
    }
    lasty[c] = static_cast<int16_t>(v);
  }
  putval(nx, xo);
  if (op->flg & OF_ADV) op->extra = n * 2;
  shown(s);
  return DS_DONE;
}

// ---- Recording, the camera and the run window -----------------------------------------------

int aviop(RtTask* t, RtOp* op) {
  if (op->opc == R_AVIADDFRAME) {
    RtOpnd* f = rtopk(op, 1);
    // An image's size, for the tale of a frame that does not fit.
    int fw = 0, fh = 0;
    if (f && f->kind >= 0 && f->kind != 20 && (f->kind & K_IMAGE) && !(f->kind & K_LIST)) {
      fw = static_cast<int>(std::min<uint32_t>(f->width, INT32_MAX));
      fh = static_cast<int>(std::min<uint32_t>(std::max<uint32_t>(f->height, 1), INT32_MAX));
    }
    const int r = avwrite(elmptr(f, 0), rtleft(f), rtarg(op, 2, 1), rtarg(op, 3, 0), fw, fh);
    t->result = static_cast<int16_t>(r);
    return DS_DONE;
  }
  // A name list always names a recording (its current element says
  // nothing of operand 1's value).
  const RtOpnd* o1 = rtopk(op, 1);
  const int v = o1 && (o1->kind & K_LIST) && (o1->kind & K_STRING) ? 1 : rtarg(op, 1, 0);
  int r = 0;
  if (v == 0) {
    r = avwopen(nullptr, rtarg(op, 3, 0), 0, 0, scrbits, 1);
  } else {
    const std::string name = nxtidx(op, 1, 0);
    const int scale = v < 0 ? -v : rtarg(op, 5, 1);
    r = avwopen(name.c_str(), rtarg(op, 3, 0), rtarg(op, 4, 0), rtarg(op, 2, 0), scrbits, scale);
  }
  trcint(64, "aviwrite", 0, v, r, 0, 0, 0);
  t->result = static_cast<int16_t>(r);
  return DS_DONE;
}

void grabop(RtOp* op) {
  const int mode = rtarg(op, 1, 2);
  if (!(devflg & 0x200)) {
    if (mode == 1 && rtarg(op, 2, 0) != 0) setcam(rtarg(op, 2, 0));
    return;
  }
  if (mode == 0) {
    setcam(0);
  } else if (mode == 2) {
    // The capture routines are stubs: they capture nothing. The camera
    // captures to the next name of operand 2.
    if (camera == 20) {
      nxtidx(op, 2, 0);
      devstb5();
    }
    else if (camera >= 1 && camera <= 10)
      devstb2();
  }
}

void winop(RtTask* t) {
  const int w = t->slot[0];
  const Scr old = scrof(t);
  const int n = w < 1 ? curwin : w;
  if (wport(n)) t->wport = static_cast<int16_t>(n + 1);
  const Scr s = dspsel(t);
  trcint(64, "PORT", 0, w, n, 0, 0, 0);
  if (jdebug)
    logprintf("RT_WIN(%d) %oo, %ld %ld -> %oo, %ld %ld\n", w, static_cast<unsigned>(scrflags & 0xFFFF),
              static_cast<long>(reinterpret_cast<intptr_t>(old.px) & 0x7FFFFFFF), static_cast<long>(old.w ? old.w->offscr : 0),
              static_cast<unsigned>(scrflags & 0xFFFF), static_cast<long>(reinterpret_cast<intptr_t>(s.px) & 0x7FFFFFFF),
              static_cast<long>(s.w ? s.w->offscr : 0));
}

void avwtell() {
  for (const std::string& line : avwdrops()) jprintf(errlun, "%s\n", line.c_str());
  std::string name;
  int code = 0, err = 0;
  if (avwfail(&name, &code, &err)) fileerr(name.c_str(), 0, code, err);
}

void rtdfree() {
  for (Cine* c : cines) xfree(c);
  cines.clear();
  sweeps.clear();
  std::memset(txtbox, 0, sizeof txtbox);
  std::memset(lasty, 0, sizeof lasty);
  if (rts.movtask) rlsbuf();
  avwclos();
}
