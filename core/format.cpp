// The format engine.
#include "core/format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "lang/names.h"
#include "ui/window.h"

namespace {

constexpr int MAXGRP = 5;        // nested repeat groups
constexpr int SPOPND = 64;       // operands of a single pass
constexpr int FLDBUF = FMTMAXW + 400;  // one field, with room for long decimals
constexpr const char* LETTERS = "%()t#svcCfidbqohxrFIDBQOHXR";
constexpr const char* SEPS = ".,:;_/";

// The output: at most max columns, col counted from the last newline; with
// a flush, a full buffer is handed on and the output goes on (done counts
// what was handed on).
struct Out {
  char* buf;
  int max;
  FmtFlush flush = nullptr;
  int pos = 0;
  int col = 0;
  int64_t done = 0;
  bool full() const { return !flush && pos >= max; }
  int64_t at() const { return done + pos; }
  void put(char c) {
    if (pos >= max) {
      if (!flush) return;
      flush(buf, pos);
      done += pos;
      pos = 0;
    }
    buf[pos++] = c;
    col = c == '\n' ? 0 : col + 1;
  }
  void put(const char* s, int n) {
    for (int i = 0; i < n && !full(); i++) put(s[i]);
  }
  void blanks(int n) {
    for (int i = 0; i < n && !full(); i++) put(' ');
  }
};

// One operand: its record, and its counts (the caller's tables, or local
// ones in a single pass).
struct Opnd {
  PtrRec* r;
  int32_t* left;
  int32_t* hand;
};

// The record a handle names, null unless all of it lies in the word memory.
PtrRec* recat(int32_t h) {
  constexpr int64_t words = sizeof(PtrRec) / 4;
  if (h < 1) return nullptr;
  int64_t end = h < HIMEM_BASE ? lstk.end : hstk.end;
  if (h + words > end) return nullptr;
  PtrRec* r = ptrrec(h);
  return r && r->Flg != 0 ? r : nullptr;
}

bool isvec(const PtrRec* r) { return r && (r->Flg & K_VECTOR) && r->Wsiz == W_VEC; }

// Makes the next item of an operand addressable; false when it has none.
bool ready(Opnd& o) {
  PtrRec* r = o.r;
  if (!r || *o.left <= 0) return false;
  if (isvec(r) || *o.hand > 0) return true;
  // A list may hold empty elements: load until one has items.
  int64_t tries = (r->Flg & K_LIST) ? static_cast<int64_t>(r->Offs[3]) + 2 : 1;
  int32_t part = 0;
  for (int64_t t = 0; t < tries && part <= 0; t++) {
    LDVARB(r, &part, 0);
    if (stopped()) return false;
  }
  if (part <= 0) {
    *o.left = 0;
    return false;
  }
  *o.hand = std::min(part, *o.left);
  return true;
}

void take(Opnd& o) {
  --*o.left;
  --*o.hand;
}

// The 8 bytes of the next vector element (and steps past it); null when
// the element cannot be reached.
const uint8_t* vecnext(Opnd& o) {
  int32_t i = *o.hand > 0 ? *o.hand - 1 : 0;
  const uint8_t* p = setxy(o.r, 0, i, 1);
  *o.hand = i + 2;
  --*o.left;
  // The 8 bytes must lie inside the word memory they are read from.
  if (p && o.r->Data0 >= 0) {
    int64_t b = o.r->Dptr;
    int64_t end = b < 4LL * HIMEM_BASE ? 4LL * lstk.end : 4LL * hstk.end;
    if (b < 4 || b + 8 > end) p = nullptr;
  }
  return p;
}

int16_t i16at(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// The next item as a number (float precision) or an integer.
double fitem(Opnd& o) {
  if (isvec(o.r)) {
    const uint8_t* p = vecnext(o);
    return p ? i16at(p) : 0.0;
  }
  double v = GSTACK(o.r);
  take(o);
  return v;
}
int32_t iitem(Opnd& o, int* wsiz) {
  *wsiz = o.r->Wsiz;
  if (isvec(o.r)) {
    const uint8_t* p = vecnext(o);
    *wsiz = W_SHORT;
    return p ? i16at(p) : 0;
  }
  int32_t v = igstak(o.r);
  take(o);
  return v;
}

// Reads decimal digits, saturating at 1000000.
int number(const char* f, int* j) {
  int v = 0;
  while (f[*j] >= '0' && f[*j] <= '9') {
    if (v < 1000000) v = v * 10 + (f[*j] - '0');
    ++*j;
  }
  return v;
}

// An open repeat group.
struct Group {
  int start;    // format position after "("
  int32_t count;
  bool fit;     // opened with count 0: as many as fit the line
  bool first;   // the first run has not ended yet
  int64_t posrun;  // output position where the current run began
  int64_t used; // items consumed when the current run began
};

// Writes v with ftostr; in the exact mode with more decimals while the text
// does not read back as the same 32-bit float.
int fltfld(double v, char* fld, int size, int w, int prec) {
  int k = ftostr(v, fld, w, prec, size);
  if (!fexact || !std::isfinite(v)) return k;
  const float want = static_cast<float>(v);
  for (int p = prec; p <= 60; p++) {
    k = ftostr(v, fld, w, p, size);
    if (static_cast<float>(std::strtod(fld, nullptr)) == want) break;
  }
  return k;
}

}  // namespace

int fexact = 0;

int linwid() {
  const Wport* w = wport(txtwin);
  if (!w || !wgrid(w)) w = wport(0);
  const TxtGrid* g = w ? wgrid(w) : nullptr;
  int cols = g && g->cols > 1 ? g->cols : 80;
  return cols - 1;
}

bool hasdir(const char* text) {
  for (int i = 0; text && text[i]; i++) {
    if (text[i] != '%') continue;
    if (text[i + 1] != '%') return true;
    i++;
  }
  return false;
}

namespace {
int fmtcore(int n, char* out, const char* fmt, int32_t* handles, int single, int max, int32_t* left,
            int32_t* hand, FmtFlush flush) {
  if (max <= 0) max = FMTDEF;
  if (!out) return 0;
  out[0] = 0;
  if (stopped() || !fmt) return 0;
  if (n < 0) n = 0;
  // A single pass keeps its own counts; the line-by-line mode needs the
  // caller's tables.
  if (!single && (!left || !hand)) single = 1;
  if (single && n > SPOPND) n = SPOPND;
  if (n > 0 && !handles) n = 0;

  int32_t sleft[SPOPND], shand[SPOPND];
  Opnd op[SPOPND];
  Opnd* ops = op;
  // The line-by-line mode may have more operands than fit the local table.
  Opnd* big = nullptr;
  if (n > SPOPND) {
    big = static_cast<Opnd*>(getbuf(static_cast<int32_t>(sizeof(Opnd)) * n));
    if (!big) {
      error(0, 42);
      return 0;
    }
    ops = big;
  }
  for (int k = 0; k < n; k++) {
    PtrRec* r = recat(handles[k]);
    if (single) {
      sleft[k] = shand[k] = 0;
      if (r) {
        int32_t cnt, part, tot, ws;
        int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
        if (kind & 0x7E9) savoff(r);
        sleft[k] = kind ? std::max(cnt, 0) : 0;
      }
      ops[k] = {r, &sleft[k], &shand[k]};
    } else {
      ops[k] = {r, &left[k], &hand[k]};
    }
  }
  // The running element number: the slot after the operands, or (single
  // pass) a local count.
  int32_t snum = 0;
  int32_t* num = single ? &snum : &handles[n];

  Out o{out, max - 1, single || max < 2 ? nullptr : flush};
  const int lw = linwid();
  const int tw = tabwidth();
  Group grp[MAXGRP];
  int depth = 0, ignored = 0;
  int cur = 0;
  int64_t used = 0;
  char fld[FLDBUF];

  int j = 0;
  while (fmt[j] && !o.full()) {
    char c = fmt[j];
    if (c != '%') {
      if (c == '\t')
        o.blanks(tw - (o.col & (tw - 1)));
      else
        o.put(c);
      j++;
      continue;
    }
    // A directive.
    int i = j + 1;
    bool ljust = false, zero = false;
    if (fmt[i] == '-') ljust = true, i++;
    if (fmt[i] == '0') zero = true, i++;
    bool hasw = fmt[i] >= '0' && fmt[i] <= '9';
    int width = number(fmt, &i);
    char sep = 0;
    bool hasp = false;
    int prec = 0, third = 0;
    if (fmt[i] && std::strchr(SEPS, fmt[i])) {
      sep = fmt[i++];
      hasp = true;
      prec = number(fmt, &i);
      if (fmt[i] == sep) {
        i++;
        third = number(fmt, &i);
      }
    }
    char let = fmt[i];
    if (!let || !std::strchr(LETTERS, let)) {
      o.put('%');
      out[o.pos] = 0;
      error(2, 149);
      return 0;
    }
    j = i + 1;
    int w = std::min(width, FMTMAXW);

    switch (let) {
      case '%':
        o.put('%');
        continue;
      case '(':
        if (depth >= MAXGRP) {
          ignored++;
        } else {
          bool fit = !hasw || width == 0;
          grp[depth++] = {j, fit ? 0 : width, fit, true, o.at(), used};
        }
        continue;
      case ')': {
        if (ignored > 0) {
          ignored--;
          continue;
        }
        if (depth == 0) continue;
        Group& g = grp[depth - 1];
        const int bw = static_cast<int>(std::min<int64_t>(o.at() - g.posrun, INT32_MAX));
        if (g.fit && g.first) {
          int32_t cnt = bw > 0 ? lw / bw : 1;
          if (cnt > 5) cnt &= ~1;
          g.count = std::max(cnt, 1);
        }
        g.first = false;
        g.count--;
        bool again = g.count > 0 && !o.full();
        if (g.fit) again = again && bw < lw - o.col;
        // A run that wrote and consumed nothing would only repeat itself.
        if (bw == 0 && used == g.used) again = false;
        if (again) {
          j = g.start;
          g.posrun = o.at();
          g.used = used;
        } else {
          depth--;
        }
        continue;
      }
      case 't':
        do o.put(' ');
        while (o.col <= width && !o.full());
        continue;
      case '#': {
        int32_t v = (*num & FMTNUM) ? (*num & (FMTNUM - 1)) : third;
        int k = itostr(v, fld, w, 10, 0, sizeof fld);
        o.put(fld, k);
        int32_t step = prec > 1 ? prec : 1;
        *num = static_cast<int32_t>((static_cast<uint32_t>(v) + static_cast<uint32_t>(step)) &
                                    (FMTNUM - 1)) |
               FMTNUM;
        continue;
      }
      default:
        break;
    }

    // Directives that take items.
    bool upper = let >= 'A' && let <= 'Z' && let != 'C';
    char lc = upper ? static_cast<char>(let + 32) : let;
    Opnd none{nullptr, nullptr, nullptr};
    int32_t zl = 0, zh = 0;
    none.left = &zl, none.hand = &zh;
    Opnd& od = n > 0 ? ops[cur % n] : none;
    bool have = ready(od);
    if (stopped()) break;
    if (!have) {
      o.blanks(w);
    } else {
      switch (lc) {
        case 's': {
          if (isvec(od.r)) {
            o.blanks(w);
            break;
          }
          // Every item in hand (the whole text, of a text longer than one
          // load, unless it is an item of a list); with a precision cut to
          // the width (the rest is dropped), and always to the room left
          // (the rest stays).
          const bool whole = !(od.r->Flg & K_LIST);
          int32_t show = whole ? *od.left : *od.hand, drop = 0;
          if (hasp && show > w) drop = show - w, show = w;
          int room = o.flush ? INT32_MAX : o.max - o.pos;
          if (show > room) show = room, drop = 0;
          // A NUL ends the text (an empty string holds one): the items are
          // used, nothing of them is shown.
          std::string text;
          bool nul = false;
          int ws;
          auto next = [&] { return *od.hand > 0 || (ready(od) && !stopped()); };
          int32_t took = 0;
          for (int32_t m = 0; m < show && next(); m++, took++) {
            char ch = static_cast<char>(iitem(od, &ws) & 0xFF);
            nul = nul || ch == 0;
            if (!nul) text += ch;
          }
          for (int32_t m = 0; m < drop && next(); m++, took++) iitem(od, &ws);
          used += took;
          int len = static_cast<int>(text.size());
          int pad = w > len ? w - len : 0;
          if (!ljust) o.blanks(pad);
          o.put(text.data(), len);
          if (ljust) o.blanks(pad);
          break;
        }
        case 'c':
        case 'C': {
          int32_t cnt = lc == 'c' ? (hasw && width > 0 ? width : 1)
                                  : (hasw && width > 0 ? width : *od.left);
          int rep = hasp ? (prec & 0xFF) : '.';
          for (int32_t m = 0; m < cnt && !o.full(); m++) {
            if (!ready(od)) {
              o.put(' ');
              continue;
            }
            int ws;
            int ch = iitem(od, &ws) & 0xFF;
            used++;
            if (let == 'C' && ch < 32) ch = rep;
            o.put(static_cast<char>(ch));
          }
          break;
        }
        case 'v': {
          if (!isvec(od.r)) {
            o.blanks(w);
            break;
          }
          const uint8_t* p = vecnext(od);
          used++;
          if (!p) {
            o.blanks(32);
            break;
          }
          int k = std::snprintf(fld, sizeof fld, "  %6d %6d %6d\t%2d %2d %3d", i16at(p),
                                i16at(p + 2), i16at(p + 4), p[6] & 15, p[6] >> 4, p[7]);
          o.put(fld, std::min(k, static_cast<int>(sizeof fld) - 1));
          break;
        }
        case 'f': {
          double v = fitem(od);
          used++;
          int k = fltfld(v, fld, sizeof fld, ljust ? -w : w, hasp ? prec : 6);
          if (sep && sep != '.')
            for (int m = 0; m < k; m++)
              if (fld[m] == '.') fld[m] = sep;
          o.put(fld, k);
          break;
        }
        case 'r': {
          int ws;
          uint32_t u = static_cast<uint32_t>(iitem(od, &ws));
          used++;
          if (ws == W_RGB) u <<= 8;
          int k = std::snprintf(fld, sizeof fld, "  %5d %5d %5d ", static_cast<int>(u >> 24),
                                static_cast<int>((u >> 16) & 255), static_cast<int>((u >> 8) & 255));
          o.put(fld, k);
          break;
        }
        default: {  // i d b q o h x
          int base = 10;
          switch (lc) {
            case 'i': base = obase >= 2 && obase <= 36 ? obase : 10; break;
            case 'b': base = 2; break;
            case 'q': base = 4; break;
            case 'o': base = 8; break;
            case 'h':
            case 'x': base = 16; break;
            default: break;
          }
          int ws;
          int32_t v = iitem(od, &ws);
          used++;
          int k;
          if (ljust) {
            k = itostr(v, fld, 0, base, 0, sizeof fld);
            o.put(fld, k);
            o.blanks(w - k);
          } else {
            k = itostr(v, fld, zero && w > 0 ? -w : w, base, 0, sizeof fld);
            o.put(fld, k);
          }
          break;
        }
      }
    }
    // The next directive moves on after an upper-case letter (line by line)
    // or when this operand has no items left.
    if (n > 0 && ((upper && !single) || !od.r || *od.left <= 0)) cur = (cur + 1) % n;
  }
  out[o.pos] = 0;
  if (stopped()) return 0;
  if (single) return o.pos;
  int32_t most = 0;
  for (int k = 0; k < n; k++) most = std::max(most, ops[k].r ? *ops[k].left : 0);
  return most;
}
}  // namespace

int format(int n, char* out, const char* fmt, int32_t* handles, int single, int max,
           int32_t* left, int32_t* hand) {
  return fmtcore(n, out, fmt, handles, single, max, left, hand, nullptr);
}

int fmtlong(int n, char* out, const char* fmt, int32_t* handles, int max, int32_t* left, int32_t* hand,
            FmtFlush flush) {
  return fmtcore(n, out, fmt, handles, 0, max, left, hand, flush);
}
