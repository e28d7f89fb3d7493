// Text import (the function import, in two passes) and field splitting
// (the function parse).
#include "files/import.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

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
#include "files/rdary.h"
#include "realtime/hardop.h"

namespace {

constexpr int SEPMAX = 50;        // characters of the separators and terminators
constexpr int PARSEMAX = 240;     // characters of a text parse splits
constexpr int PARSEFLDS = 100;    // fields parse gives at most
constexpr size_t READ = 1 << 20;  // bytes read at a time

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

// The number a field's text reads as, as strtod reads it (leading blanks,
// a sign, digits, point, exponent; what follows is ignored; no number
// reads as 0).
double fldnum(const char* s, int n) {
  const char* p = s;
  const char* e = s + n;
  while (p < e && std::isspace(uc(*p))) p++;
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

// Lines of a stream read in large pieces; a line ends at LF, CR or CR LF
// and may be of any length. A line's bytes stay valid, and may be changed,
// until the next line is asked for.
class LineRd {
 public:
  LineRd(FILE* f, int64_t pos) : f_(f), buf_(READ), base_(pos) {}
  bool next(char** line, int* len, int64_t* off) {
    size_t scan = beg_;
    for (;;) {
      char* b = buf_.data();
      auto* lf = static_cast<char*>(std::memchr(b + scan, '\n', end_ - scan));
      size_t lim = lf ? static_cast<size_t>(lf - b) : end_;
      auto* cr = static_cast<char*>(std::memchr(b + scan, '\r', lim - scan));
      size_t stop = 0, after = 0;
      bool found = false;
      if (cr) {
        size_t c = static_cast<size_t>(cr - b);
        if (c + 1 == end_ && !eof_) {
          // Whether an LF follows is in the next piece.
          scan = c - fill();
          continue;
        }
        stop = c;
        after = c + 1 < end_ && b[c + 1] == '\n' ? c + 2 : c + 1;
        found = true;
      } else if (lf) {
        stop = lim;
        after = lim + 1;
        found = true;
      }
      if (!found) {
        if (!eof_) {
          size_t old = end_;
          scan = old - fill();
          continue;
        }
        if (beg_ >= end_) return false;
        stop = after = end_;
      }
      *line = b + beg_;
      *len = static_cast<int>(std::min<size_t>(stop - beg_, INT32_MAX));
      *off = base_ + static_cast<int64_t>(beg_);
      beg_ = after;
      return true;
    }
  }

 private:
  // Moves what is left to the front, grows the buffer when a line fills
  // it, reads more. Returns how far the bytes moved down.
  size_t fill() {
    size_t shift = beg_;
    if (beg_ > 0) {
      std::memmove(buf_.data(), buf_.data() + beg_, end_ - beg_);
      base_ += static_cast<int64_t>(beg_);
      end_ -= beg_;
      beg_ = 0;
    }
    if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
    size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
    if (got == 0) eof_ = true;
    end_ += got;
    return shift;
  }
  FILE* f_;
  std::vector<char> buf_;
  size_t beg_ = 0, end_ = 0;
  int64_t base_;
  bool eof_ = false;
};

bool blankln(const char* l, int n) {
  for (int i = 0; i < n; i++)
    if (uc(l[i]) > ' ') return false;
  return true;
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
};
Imp imp;

void impclose() {
  if (imp.unit >= 0) closef(imp.unit, 0);
  imp = Imp{};
}

// Argument n as a text of at most max characters; false when it is none.
bool textarg(int n, std::string* out, int max) {
  std::vector<char> buf(static_cast<size_t>(max) + 1, 0);
  float v = 0.0f;
  int len = 0;
  int t = getarg(n, &v, buf.data(), max + 1, &len);
  if (!(t & K_STRING) || (t & K_LIST)) return false;
  out->assign(buf.data(), static_cast<size_t>(std::clamp(len, 0, max)));
  return true;
}

int64_t numarg(int n, int64_t dflt) {
  int t = argtyp(n, nullptr);
  return (t & K_NUMBER) && !(t & K_STRING) ? lngarg(n, 0) : dflt;
}

// The lines of the wanted block, after its header lines, up to the wanted
// count; calls take(line, token start, token length) for each. Returns the
// lines taken. With from >= 0 the walk starts there, inside the block.
template <class Take>
int64_t walk(int64_t from, int64_t most, Take take) {
  const Chars term(imp.terms.c_str());
  if (fseeko(imp.fp, from < 0 ? 0 : from, SEEK_SET) != 0) return 0;
  LineRd rd(imp.fp, from < 0 ? 0 : from);
  int64_t blk = from < 0 ? -1 : imp.block, hdr = from < 0 ? 0 : imp.header, taken = 0;
  bool inblk = from >= 0;
  char* l;
  int n;
  int64_t off;
  while ((most <= 0 || taken < most) && rd.next(&l, &n, &off) && !stopped()) {
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
    int ts = 0;
    int tl = tokof(l, n, term, &ts, imp.quote);
    if (tl == 0) continue;  // a line with nothing before its terminator
    taken++;
    take(l + ts, tl);
  }
  return taken;
}

// The text field of a data line: the whole token, or the first wanted
// field ("" when the line has none).
std::string txtof(char* tok, int len, const Chars& sep, std::vector<int32_t>& tab) {
  int nf = fields(tok, len, sep, imp.quote, &tab);
  int64_t f = imp.whole ? 0 : imp.first;
  if (f >= nf) return {};
  return std::string(tok + tab[static_cast<size_t>(2 * f)], static_cast<size_t>(tab[static_cast<size_t>(2 * f + 1)]));
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
  const bool sepgiven = textarg(6, &imp.seps, SEPMAX);
  if (!textarg(7, &imp.terms, SEPMAX)) imp.terms = ";\n";
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
  const Chars sep(imp.whole ? "" : imp.seps.c_str());
  int32_t* t = optab;
  if (imp.mode == 0) {
    imp.lines = walk(-1, imp.want, [&](char* tok, int n) {
      imp.maxf = std::max<int64_t>(imp.maxf, fields(tok, n, sep, imp.quote, nullptr));
    });
    imp.cols = lastgiven ? imp.last - imp.first + 1 : imp.maxf - imp.first;
    __int128 count = static_cast<__int128>(std::max<int64_t>(imp.cols, 0)) * imp.lines;
    if (stopped() || count < 1) {
      impclose();
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
  std::string text;
  std::vector<std::string> items;
  std::vector<int32_t> tab;
  imp.lines = walk(-1, imp.want, [&](char* tok, int n) {
    std::string f = txtof(tok, n, sep, tab);
    if (imp.mode == 2) {
      items.push_back(std::move(f));
    } else {
      // Newlines go between the lines.
      if (!items.empty()) text.push_back('\n');
      text += f;
      items.emplace_back();
    }
  });
  if (stopped() || imp.lines < 1 || (imp.mode == 1 && text.empty())) {
    impclose();
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
    const Chars sep(imp.seps.c_str());
    std::vector<int32_t> tab;
    int64_t i = 0;
    bool full = false;
    auto store = [&](double v) {
      if (i >= cnt) return false;
      if (i >= part) {
        DMPVRB(d, &part, 1, static_cast<int32_t>(i));
        if (part <= i) return false;
      }
      if (fl) {
        float f = nrwflt(v);
        std::memcpy(dptr(d), &f, 4);
        d->Dptr = addref(d->Dptr, 4);
      } else {
        PSTACK(v, d);
      }
      i++;
      return true;
    };
    read = walk(imp.start, imp.lines, [&](char* tok, int n) {
      if (full) return;
      int nf = fields(tok, n, sep, imp.quote, &tab);
      for (int64_t c = 0; c < imp.cols && !full; c++) {
        int64_t f = imp.first + c;
        double v = missing;
        if (f < nf) {
          char* s = tok + tab[static_cast<size_t>(2 * f)];
          v = fldnum(s, tab[static_cast<size_t>(2 * f + 1)]);
        }
        full = !store(v);
      }
    });
    DMPVRB(d, &part, 0, 0);
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

int import(int pass) { return pass == 0 ? pass0() : pass1(); }

int16_t* fldcmd(uint32_t* count) {
  if (count) *count = 0;
  std::string text, seps = " \t,=", kept;
  if (!textarg(2, &text, PARSEMAX)) {
    error(2, 184);
    return nullptr;
  }
  textarg(3, &seps, 255);
  textarg(4, &kept, 255);
  auto* tab = static_cast<int16_t*>(getbuf(3 * PARSEFLDS * 2));
  if (!tab) {
    error(0, 42);
    return nullptr;
  }
  int n = splitf(text.c_str(), seps.c_str(), kept.c_str(), tab, PARSEFLDS);
  if (count) *count = static_cast<uint32_t>(3 * n);
  return tab;
}
