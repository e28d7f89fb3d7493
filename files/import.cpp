// Text import (the function import, in two passes) and field splitting
// (the function parse).
#include "files/import.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "files/linerd.h"
#include "files/rdary.h"
#include "realtime/devices/devvar.h"

namespace {

constexpr int SEPMAX = 50;        // characters of the separators and terminators
constexpr int PARSEMAX = 240;     // characters of a text parse splits
constexpr int PARSEFLDS = 100;    // fields parse gives at most

inline int uc(char c) { return static_cast<unsigned char>(c); }

// A set of characters looked up by code.
struct Chars {
  bool in[256] = {};
  explicit Chars(const char* s) {
    for (; s && *s; s++) in[uc(*s)] = true;
  }
};

int tokof(const char* text, int length, const Chars& term, int* start, int quote) {
  int i = 0;
  while (i < length && uc(text[i]) <= ' ') i++;
  if (i >= length) {
    *start = 0;
    return 0;
  }
  *start = i;
  int s = i;
  while (i < length && !term.in[uc(text[i])]) {
    char c = text[i];
    if (quote && (c == '"' || c == '\'')) {
      for (i++; i < length && text[i] != c; i++)
        if (text[i] == '\\' && i + 1 < length) i++;
      if (i < length) i++;
      continue;
    }
    i++;
  }
  return i - s;
}

int fields(char* text, int length, const Chars& sep, int quote, std::vector<int32_t>* table) {
  int n = 0, i = 0;
  if (table) table->clear();
  while (i < length) {
    while (i < length && sep.in[uc(text[i])]) i++;
    if (i >= length) break;
    const int s = i;
    if (!table) {
      // Counting only: the field's end is found, nothing is rewritten.
      if (quote && (text[i] == '"' || text[i] == '\'')) {
        char q = text[i];
        for (i++; i < length && text[i] != q; i++)
          if (text[i] == '\\' && i + 1 < length) i++;
        if (i < length) i++;
      }
      while (i < length && !sep.in[uc(text[i])]) i++;
      n++;
      continue;
    }
    int o = i;
    if (quote && (text[i] == '"' || text[i] == '\'')) {
      const char q = text[i];
      const bool keep = quote != 1;
      if (keep) text[o++] = q;
      for (i++; i < length && text[i] != q; i++) {
        if (text[i] == '\\' && i + 1 < length) text[o++] = text[i++];
        text[o++] = text[i];
      }
      if (i < length) {
        if (keep) text[o++] = q;
        i++;
      }
    }
    while (i < length && !sep.in[uc(text[i])]) text[o++] = text[i++];
    table->push_back(s);
    table->push_back(o - s);
    n++;
  }
  return n;
}

constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A plain decimal ([-]digits[.digits], nothing else) whose digits fit 53
// bits and whose point is at most 22 places from the end: the digits as
// an integer, divided by an exact power of ten, is the correctly rounded
// value (the value strtod gives). False for any other text.
inline bool plainnum(const char* p, const char* e, double* out) {
  bool neg = p < e && *p == '-';
  if (neg) p++;
  uint64_t m = 0;
  int nd = 0, scale = 0;
  for (; p < e && static_cast<unsigned>(*p - '0') < 10; p++, nd++) {
    if (nd >= 19) return false;
    m = m * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p < e && *p == '.') {
    for (p++; p < e && static_cast<unsigned>(*p - '0') < 10; p++, nd++, scale++) {
      if (nd >= 19) return false;
      m = m * 10 + static_cast<unsigned>(*p - '0');
    }
  }
  if (p != e || nd == 0 || scale > 22 || m > (UINT64_C(1) << 53)) return false;
  double v = static_cast<double>(m);
  if (scale) v /= POW10[scale];
  *out = neg ? -v : v;
  return true;
}

// The number a field's text reads as, as strtod reads it (leading blanks,
// a sign, digits, point, exponent; what follows is ignored; no number
// reads as 0).
double fldnum(const char* s, int n) {
  const char* p = s;
  const char* e = s + n;
  double fast;
  if (plainnum(p, e, &fast)) return fast;
  while (p < e && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) p++;
  const char* q = p;
  if (q < e && *q == '+') q++;
  if (q < e && (*q != '-' || q == p)) {
    double v = 0.0;
    auto [ptr, ec] = std::from_chars(q, e, v);
    if (ec == std::errc() && ptr > q && !(ptr < e && (*ptr == 'x' || *ptr == 'X'))) return v;
  }
  std::string t(p, e);
  return std::strtod(t.c_str(), nullptr);
}

bool blankln(const char* l, int n) {
  for (int i = 0; i < n; i++)
    if (uc(l[i]) > ' ') return false;
  return true;
}

// The classes of characters a numeric line is split by.
enum : uint8_t { C_SEP = 1, C_TERM = 2, C_QUOTE = 4 };

struct Splitter {
  uint8_t cls[256] = {};
  Chars term, sep;
  int quote;
  bool digits = true;  // no digit, point or minus separates or terminates
  // The classified characters for counting sixteen at a time: separators,
  // then terminators, then quotes (at most 8 in all, else none).
  uint8_t vchr[8] = {};
  int nsep = 0, nterm = 0, nall = 0;
  Splitter(const std::string& seps, const std::string& terms, int q)
      : term(terms.c_str()), sep(seps.c_str()), quote(q) {
    for (int c = 0; c < 256; c++)
      cls[c] = static_cast<uint8_t>((sep.in[c] ? C_SEP : 0) | (term.in[c] ? C_TERM : 0) |
                                    (q && (c == '"' || c == '\'') ? C_QUOTE : 0));
    for (const char* d = "0123456789.-"; *d; d++)
      if (cls[uc(*d)]) digits = false;
    int n = 0;
    for (uint8_t want : {C_SEP, C_TERM, C_QUOTE}) {
      for (int c = 0; c < 256; c++) {
        // Each character in the class it acts as: a terminator first.
        uint8_t k = cls[c];
        uint8_t as = (k & C_TERM) ? uint8_t{C_TERM} : (k & C_QUOTE) ? uint8_t{C_QUOTE} : k;
        if (as != want) continue;
        if (n == 8) {
          nall = 0;
          return;
        }
        vchr[n++] = static_cast<uint8_t>(c);
      }
      if (want == C_SEP) nsep = n;
      if (want == C_TERM) nterm = n - nsep;
    }
    nall = n;
  }
};

#ifdef __SSE2__
// Counts the fields of a token from p (a character that is no blank or
// terminator) to the line's end e, sixteen bytes at a time; -1 when a
// quote character is met (the caller then splits the line itself).
int cntfld(const char* p, const char* e, const Splitter& sp) {
  __m128i ch[8];
  for (int k = 0; k < sp.nall; k++) ch[k] = _mm_set1_epi8(static_cast<char>(sp.vchr[k]));
  const int ns = sp.nsep, nt = sp.nterm, nq = sp.nall - sp.nsep - sp.nterm;
  int count = 0;
  unsigned prev = 1;  // the byte before is a separator (or the token's start)
  for (;;) {
    unsigned sm, tm = 0, qm = 0, valid;
    if (e - p >= 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i a = _mm_setzero_si128();
      for (int k = 0; k < ns; k++) a = _mm_or_si128(a, _mm_cmpeq_epi8(v, ch[k]));
      sm = static_cast<unsigned>(_mm_movemask_epi8(a));
      if (nt) {
        a = _mm_setzero_si128();
        for (int k = ns; k < ns + nt; k++) a = _mm_or_si128(a, _mm_cmpeq_epi8(v, ch[k]));
        tm = static_cast<unsigned>(_mm_movemask_epi8(a));
      }
      if (nq) {
        a = _mm_setzero_si128();
        for (int k = ns + nt; k < sp.nall; k++) a = _mm_or_si128(a, _mm_cmpeq_epi8(v, ch[k]));
        qm = static_cast<unsigned>(_mm_movemask_epi8(a));
      }
      valid = 0xFFFF;
    } else {
      sm = 0;
      int n = static_cast<int>(e - p);
      for (int i = 0; i < n; i++) {
        uint8_t k = sp.cls[uc(p[i])];
        if (k & C_TERM) tm |= 1u << i;
        else if (k & C_QUOTE) qm |= 1u << i;
        else if (k & C_SEP) sm |= 1u << i;
      }
      valid = (1u << n) - 1;
    }
    if (tm) valid &= (tm & -tm) - 1;  // the token ends at its first terminator
    if (qm & valid) return -1;
    unsigned starts = ~sm & ((sm << 1) | prev) & valid;
    starts = starts - ((starts >> 1) & 0x5555u);
    starts = (starts & 0x3333u) + ((starts >> 2) & 0x3333u);
    starts = (starts + (starts >> 4)) & 0x0F0Fu;
    count += static_cast<int>((starts + (starts >> 8)) & 0x1Fu);
    if (valid != 0xFFFF) return count;
    prev = (sm >> 15) & 1;
    p += 16;
  }
}
#endif

// A plain decimal at the start of a field, read in the same scan that finds
// the field's end: its value and its end when the number ends the field
// (a separator, a terminator or the line's end follows), else false.
inline bool plainfld(const char* p, const char* e, const uint8_t* cls, double* out, const char** end) {
  bool neg = p < e && *p == '-';
  if (neg) p++;
  uint64_t m = 0;
  int nd = 0, scale = 0;
  for (; p < e && static_cast<unsigned>(*p - '0') < 10; p++, nd++) m = m * 10 + static_cast<unsigned>(*p - '0');
  if (p < e && *p == '.')
    for (p++; p < e && static_cast<unsigned>(*p - '0') < 10; p++, nd++, scale++)
      m = m * 10 + static_cast<unsigned>(*p - '0');
  if (nd == 0 || nd > 19 || scale > 22 || m > (UINT64_C(1) << 53) || (p < e && !(cls[uc(*p)] & (C_SEP | C_TERM))))
    return false;
  double v = static_cast<double>(m);
  if (scale) v /= POW10[scale];
  *out = neg ? -v : v;
  *end = p;
  return true;
}

// The fields of a line's token (nxttok, then impfld), and with vals the
// numbers of fields first .. first + ncol - 1 (missing where the line has
// fewer). Returns the field count, -1 when the line holds no token. Lines
// without quotes are split in one scan; a line with a quote character
// takes the two scanners.
int numln(char* l, int n, const Splitter& sp, int64_t first, int64_t ncol, double missing,
          double* vals, std::vector<int32_t>& tab) {
  const uint8_t* c = sp.cls;
  char* p = l;
  char* const e = l + n;
  while (p < e && uc(*p) <= ' ') p++;
  if (p >= e || (c[uc(*p)] & C_TERM)) return -1;
#ifdef __SSE2__
  if (!vals && sp.nall > 0) {
    int k = cntfld(p, e, sp);
    if (k >= 0) return k;
  }
#endif
  int64_t f = 0;
  bool slow = false;
  for (;;) {
    while (p < e && c[uc(*p)] == C_SEP) p++;
    if (p >= e) break;
    uint8_t k = c[uc(*p)];
    if (k & C_TERM) break;
    if (k & C_QUOTE) {
      slow = true;
      break;
    }
    char* s = p;
    const bool want = vals && f >= first && f - first < ncol;
    const char* ne;
    if (want && sp.digits && plainfld(s, e, c, &vals[f - first], &ne)) {
      p = const_cast<char*>(ne);
      f++;
      continue;
    }
    while (p < e && !c[uc(*p)]) p++;
    if (p < e && (c[uc(*p)] & C_QUOTE)) {
      slow = true;
      break;
    }
    if (want) vals[f - first] = fldnum(s, static_cast<int>(p - s));
    f++;
  }
  if (slow) {
    int ts = 0;
    int tl = tokof(l, n, sp.term, &ts, sp.quote);
    if (tl == 0) return -1;
    char* tok = l + ts;
    f = fields(tok, tl, sp.sep, sp.quote, vals ? &tab : nullptr);
    if (vals)
      for (int64_t j = first; j < f && j - first < ncol; j++)
        vals[j - first] = fldnum(tok + tab[static_cast<size_t>(2 * j)], tab[static_cast<size_t>(2 * j + 1)]);
  }
  if (vals)
    for (int64_t j = std::max<int64_t>(f - first, 0); j < ncol; j++) vals[j] = missing;
  return static_cast<int>(std::min<int64_t>(f, INT32_MAX));
}

// The state kept between the two passes of import.
struct Imp {
  int unit = -1;
  FILE* fp = nullptr;
  int mode = 0;  // 0 numbers, 1 one string, 2 a text list
  int64_t first = 0, last = -1, block = 0, header = 0, want = 0;
  int quote = 1;
  bool whole = false;  // text: the whole line is the field
  std::string seps = " \t,", terms = ";\n";
  int64_t lines = 0, maxf = 0, cols = 0;
  int64_t start = -1;  // the file position where the data start
  bool nomem = false;  // a line (or the text) outgrew the memory, or a line was too long
};
Imp imp;

void impclose() {
  if (imp.unit >= 0) closef(imp.unit, 0);
  imp = Imp{};
}

int64_t numarg(int n, int64_t dflt) {
  int t = argtyp(n, nullptr);
  return (t & K_NUMBER) && !(t & K_STRING) ? lngarg(n, 0) : dflt;
}

// The lines of the wanted block, after its header lines, up to the wanted
// count; take(line, length) is called for each and says whether the line
// held data (a line with nothing before its terminator is passed over).
// Returns the lines taken. With from >= 0 the walk starts there, inside the
// block.
template <class Take>
int64_t walk(int64_t from, int64_t most, Take take) {
  const bool start = from < 0;
  if (fseeko(imp.fp, start ? 0 : from, SEEK_SET) != 0) return 0;
  // From the start, a byte-order mark is no data.
  LineRd rd(imp.fp, start ? skpbom(imp.fp) : from);
  int64_t blk = start ? -1 : imp.block, hdr = start ? 0 : imp.header, taken = 0;
  bool inblk = !start;
  char* l;
  int n;
  int64_t off;
  while ((most <= 0 || taken < most) && !imp.nomem && rd.next(&l, &n, &off) && !stopped()) {
    if (blankln(l, n)) {
      if (inblk && blk >= imp.block) break;  // the wanted block ends
      inblk = false;
      continue;
    }
    if (!inblk) {
      inblk = true;
      blk++;
      hdr = 0;
    }
    if (blk < imp.block) continue;
    if (hdr < imp.header) {
      hdr++;
      continue;
    }
    if (imp.start < 0) imp.start = off;
    if (take(l, n)) taken++;
  }
  if (rd.nomem() || rd.toolong()) imp.nomem = true;
  return taken;
}

// Ends an import whose line or text outgrew the memory, or that met a line
// longer than the reader holds: error 42.
int nomem() {
  impclose();
  error(0, 42);
  return -1;
}

// The text field of a data line: the whole token, or the first wanted
// field ("" when the line has none); false when the line holds no token.
bool txtof(char* l, int n, const Chars& term, const Chars& sep, std::vector<int32_t>& tab,
           std::string* out) {
  int ts = 0;
  int len = tokof(l, n, term, &ts, imp.quote);
  if (len == 0) return false;
  char* tok = l + ts;
  out->clear();
  int nf = fields(tok, len, sep, imp.quote, &tab);
  int64_t f = imp.whole ? 0 : imp.first;
  if (f < nf)
    out->assign(tok + tab[static_cast<size_t>(2 * f)], static_cast<size_t>(tab[static_cast<size_t>(2 * f + 1)]));
  return true;
}

int pass0() {
  if (imp.unit >= 0) {
    jprintf(errlun, "Warning: Import found stranded open file\n");
    impclose();
  }
  imp = Imp{};
  const int na = nargs();
  char name[DFNMAX + 1] = {0};
  float v = 0.0f;
  int len = 0;
  int t2 = na >= 2 ? getarg(2, &v, name, 257, &len) : 0;
  if ((t2 & K_STRING) && !(t2 & K_LIST)) {
    // the name as given
  } else if ((t2 & K_NUMBER) && !(t2 & K_STRING)) {
    dfname(toi32(v), name, 0);
  } else {
    browse(name, 0, nullptr);
  }
  if (state & ST_ERROR) return -1;
  if (!name[0]) {
    error(2, 46);
    return -1;
  }
  imp.first = numarg(3, 0);
  imp.last = numarg(4, -1);
  const bool lastgiven = na >= 4 && imp.last >= 0;
  imp.block = std::max<int64_t>(numarg(5, 0), 0);
  const bool sepgiven = argstr(6, &imp.seps, SEPMAX);
  if (!argstr(7, &imp.terms, SEPMAX)) imp.terms = ";\n";
  imp.header = std::max<int64_t>(numarg(8, 0), 0);
  imp.want = std::max<int64_t>(numarg(9, 0), 0);
  imp.quote = static_cast<int>(std::clamp<int64_t>(numarg(10, 1), -32767, 32767));
  const int dk = optab[OT_KIND + 2];
  imp.mode = (dk & K_STRING) ? ((dk & K_LIST) ? 2 : 1) : 0;
  imp.whole = imp.mode != 0 && (!sepgiven || imp.first < 0);
  if (imp.mode == 0) imp.first = std::max<int64_t>(imp.first, 0);

  imp.unit = openf(name, UM_RDONLY | UM_TEXT, 0);
  imp.fp = imp.unit >= 0 ? unitstream(imp.unit) : nullptr;
  if (!imp.fp) {
    if (imp.unit >= 0) closef(imp.unit, 0);
    imp = Imp{};
    if (!(state & ST_ERROR)) error(2, 66);
    return -1;
  }
  int32_t* t = optab;
  if (imp.mode == 0) {
    const Splitter sp(imp.seps, imp.terms, imp.quote);
    std::vector<int32_t> tab;
    imp.lines = walk(-1, imp.want, [&](char* l, int n) {
      int nf = numln(l, n, sp, 0, 0, 0.0, nullptr, tab);
      imp.maxf = std::max<int64_t>(imp.maxf, nf);
      return nf >= 0;
    });
    if (imp.nomem) return nomem();
    imp.cols = lastgiven ? imp.last - imp.first + 1 : imp.maxf - imp.first;
    __int128 count = static_cast<__int128>(std::max<int64_t>(imp.cols, 0)) * imp.lines;
    if (stopped() || count < 1) {
      impclose();
      if (!stopped()) setres(0, 0);
      return stopped() ? -1 : 0;
    }
    if (count > INT32_MAX) {
      impclose();
      error(0, 42);
      return -1;
    }
    // The destination's shape: a template record of no data as operand 1,
    // columns wide and a row a line.
    auto* tp = static_cast<PtrRec*>(zeroblk(static_cast<int32_t>(sizeof(PtrRec)) | 1));
    if (!tp) {
      impclose();
      error(0, 42);
      return -1;
    }
    tp->Flg = K_MATRIX;
    tp->Idx = -1;
    tp->Wsiz = W_FLOAT;
    tp->Datdims[0] = tp->Offs[3] = static_cast<uint32_t>(imp.cols);
    tp->Datdims[1] = tp->Offs[4] = static_cast<uint32_t>(imp.lines);
    tp->Datdims[2] = tp->Offs[5] = 1;
    tp->Length = static_cast<int32_t>(count);
    tp->Tot = static_cast<uint32_t>(count);
    t[OT_REC] = t[OT_ID] = stkadr(tp);
    t[OT_KIND] = K_MATRIX;
    t[OT_CNT] = t[OT_TOT] = static_cast<int32_t>(count);
    t[OT_WSIZ] = W_FLOAT;
    t[OT_RCNT] = static_cast<int32_t>(count);
    t[OT_RWSZ] = W_FLOAT;
    if (!t[OT_REC + 2] && !t[OT_KIND + 2]) t[OT_KIND + 2] = K_MATRIX;
    return static_cast<int>(count);
  }
  // Text: the record of the lines' fields, assigned to the destination in
  // pass 1.
  const Chars sep(imp.whole ? "" : imp.seps.c_str()), term(imp.terms.c_str());
  std::string text;
  std::vector<std::string> items;
  std::vector<int32_t> tab;
  // The text is put in the low stack's scratch area: what passes the whole
  // low stack could never be held there, and is not gathered either.
  const int64_t room = static_cast<int64_t>(std::max(lstk.end, 0)) * 4;
  int64_t need = 0;
  try {
    imp.lines = walk(-1, imp.want, [&](char* l, int n) {
      std::string f;
      if (!txtof(l, n, term, sep, tab, &f)) return false;
      if (imp.mode == 2) {
        // An item holds at most LSTMAX characters, its length byte, a NUL
        // and its slot in the table, word aligned.
        if (f.size() > LSTMAX) f.resize(LSTMAX);
        need += static_cast<int64_t>((f.size() + 2 + 3) / 4 + 1) * 4;
      } else {
        need += static_cast<int64_t>(f.size()) + 1;
      }
      if (need > room) {
        imp.nomem = true;
        return false;
      }
      if (imp.mode == 2) {
        items.push_back(std::move(f));
      } else {
        // Newlines go between the lines.
        if (!items.empty()) text.push_back('\n');
        text += f;
        items.emplace_back();
      }
      return true;
    });
  } catch (const std::bad_alloc&) {
    imp.nomem = true;
  }
  if (imp.nomem) return nomem();
  if (stopped() || imp.lines < 1 || (imp.mode == 1 && text.empty())) {
    impclose();
    if (!stopped()) setres(0, 0);
    return stopped() ? -1 : 0;
  }
  if (imp.mode == 1) items.clear();
  PtrRec* r = putptr(K_STRING, 0, nullptr, 0, W_BYTE, 1);
  if (!r || !(imp.mode == 2 ? lstrec(r, items) : txtrec(r, text))) {
    impclose();
    if (!(state & ST_ERROR)) error(0, 42);
    return -1;
  }
  r->Idx = -1;
  ldopnd(0, stkadr(r));
  t[OT_RWSZ] = t[OT_WSIZ];
  t[OT_RCNT] = t[OT_CNT];
  return std::max(t[OT_CNT], 1);
}

int pass1() {
  if (imp.unit < 0 || !imp.fp) return 0;
  int32_t* t = optab;
  int64_t read = 0;
  if (imp.mode != 0) {
    if (!t[OT_REC] || !hardop(115, 1)) ariths(115, t[OT_CNT], 1);
    read = imp.lines;
  } else if (PtrRec* d = oprec(2)) {
    int32_t cnt = 0, part = 0, tot = 0, ws = 0;
    gtvarb(d, &cnt, &part, &tot, &ws, 115);
    const bool fl = d->Wsiz == W_FLOAT && !(d->Flg & K_NUMBER);
    double missing = 0.0;
    float mv = 0.0f;
    int tm = getarg(11, &mv, nullptr, 0, nullptr);
    if (tm & K_STRING)
      missing = -2147483648.0;
    else if (tm & K_NUMBER)
      missing = mv;
    const Splitter sp(imp.seps, imp.terms, imp.quote);
    std::vector<int32_t> tab;
    std::vector<double> vals(static_cast<size_t>(imp.cols));
    int64_t i = 0;
    bool full = false;
    // Floats go straight into the part in hand; its position is brought
    // up to date before the next part is asked for.
    uint8_t* q = nullptr;
    int64_t qfrom = 0;
    auto sync = [&] {
      if (q) d->Dptr = addref(d->Dptr, (i - qfrom) * 4);
      q = nullptr;
    };
    auto store = [&](double v) {
      if (i >= cnt) return false;
      if (i >= part) {
        sync();
        DMPVRB(d, &part, 1, static_cast<int32_t>(i));
        if (part <= i) return false;
      }
      if (fl) {
        if (!q) {
          q = dptr(d);
          qfrom = i;
        }
        float f = nrwflt(v);
        std::memcpy(q + (i - qfrom) * 4, &f, 4);
      } else {
        putres(nrwflt(v), d);
      }
      i++;
      return true;
    };
    read = walk(imp.start, imp.lines, [&](char* l, int n) {
      if (full) return numln(l, n, sp, 0, 0, 0.0, nullptr, tab) >= 0;
      if (numln(l, n, sp, imp.first, imp.cols, missing, vals.data(), tab) < 0) return false;
      for (int64_t c = 0; c < imp.cols && !full; c++) full = !store(vals[static_cast<size_t>(c)]);
      return true;
    });
    sync();
    DMPVRB(d, &part, 0, 0);
    if (imp.nomem) return nomem();
  }
  impclose();
  setres(static_cast<int32_t>(std::min<int64_t>(read, INT32_MAX)), 0);
  return 0;
}

}  // namespace

int nxttok(const char* text, int length, const char* terminators, int* start, int quote) {
  return tokof(text, length, Chars(terminators), start, quote);
}

int impfld(char* text, int length, std::vector<int32_t>* table, const char* separators, int quote) {
  return fields(text, length, Chars(separators), quote, table);
}

int splitf(const char* text, const char* separators, const char* kept, int16_t* table, int max) {
  const Chars sep(separators), keep(kept);
  int n = 0;
  int i = 0;
  while (text[i] && n < max) {
    const char c = text[i];
    if (keep.in[uc(c)]) {
      table[3 * n] = static_cast<int16_t>(i);
      table[3 * n + 1] = 1;
      table[3 * n + 2] = static_cast<int16_t>(uc(c));
      n++;
      i++;
      continue;
    }
    if (sep.in[uc(c)]) {
      i++;
      continue;
    }
    int s = i;
    while (text[i] && !sep.in[uc(text[i])] && !keep.in[uc(text[i])]) i++;
    table[3 * n] = static_cast<int16_t>(s);
    table[3 * n + 1] = static_cast<int16_t>(i - s);
    table[3 * n + 2] = static_cast<int16_t>(chrtyp(uc(text[s])));
    n++;
  }
  return n;
}

int import(int pass) {
  if (pass < 0) {
    impclose();
    return 0;
  }
  return pass == 0 ? pass0() : pass1();
}

int16_t* fldcmd(uint32_t* count) {
  if (count) *count = 0;
  std::string text, seps = " \t,=", kept;
  if (!argstr(2, &text, PARSEMAX)) {
    error(2, 184);
    return nullptr;
  }
  argstr(3, &seps, 255);
  argstr(4, &kept, 255);
  auto* tab = static_cast<int16_t*>(getbuf(3 * PARSEFLDS * 2));
  if (!tab) {
    error(0, 42);
    return nullptr;
  }
  int n = splitf(text.c_str(), seps.c_str(), kept.c_str(), tab, PARSEFLDS);
  if (count) *count = static_cast<uint32_t>(3 * n);
  return tab;
}
