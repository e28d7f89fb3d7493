// Reading lines of numbers or text into a variable.
#include "files/rdary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "lang/parse.h"
#include "lang/rdline.h"

namespace {

constexpr int LINLEN = 512;  // bytes of a line (NUL included)
// Bytes of a text list line (NUL included): an item of LSTMAX characters,
// each written as a four-character escape, between quotes (as dump writes
// it).
constexpr int LSTLEN = 4 * static_cast<int>(LSTMAX) + 3;
constexpr int BUFLEN = std::max(LINLEN, LSTLEN);

// A run that reads as a number: sign, digits, point, exponent, and nothing
// else.
bool isnum(const char* s, int n, float* v) {
  int i = 0, dig = 0;
  if (i < n && s[i] == '-') i++;
  while (i < n && s[i] >= '0' && s[i] <= '9') i++, dig++;
  if (i < n && s[i] == '.') {
    i++;
    while (i < n && s[i] >= '0' && s[i] <= '9') i++, dig++;
  }
  if (!dig) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    int e = i + 1, ed = 0;
    if (e < n && (s[e] == '-' || s[e] == '+')) e++;
    while (e < n && s[e] >= '0' && s[e] <= '9') e++, ed++;
    if (!ed) return false;
    i = e;
  }
  if (i != n) return false;
  std::string t(s, static_cast<size_t>(n));
  *v = nrwflt(std::strtod(t.c_str(), nullptr));
  return true;
}

// Trailing blanks and tabs go.
int trimtl(char* s, int n) {
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) n--;
  s[n] = 0;
  return n;
}

// A text line that begins and ends with the same quote loses its quotes and
// has its escapes resolved.
std::string unquote(const char* s, int n) {
  if (n >= 2 && (s[0] == '"' || s[0] == '\'') && s[n - 1] == s[0]) {
    char buf[BUFLEN];
    int pos = 1;
    std::string body(s, static_cast<size_t>(n - 1));  // the closing quote is the end
    int k = unesc(buf, sizeof buf, body.c_str(), 0, &pos);
    return std::string(buf, static_cast<size_t>(k));
  }
  return std::string(s, static_cast<size_t>(n));
}

// One 8-byte vector record from the fields of a line: x, y, z (16 bits
// each), the code (low four bits of byte 6), the width (its high four bits)
// and the colour (byte 7). Fields not given, and words, are 0.
void putvec(uint8_t* rec, const float* v, const int* ty, int nf) {
  int32_t f[6] = {0, 0, 0, 0, 0, 0};
  for (int k = 0; k < 6 && k < nf; k++)
    if (ty[k] == 16 && !ismiss(v[k])) f[k] = ftrunc(v[k]);
  for (int k = 0; k < 3; k++) {
    auto s = static_cast<uint16_t>(static_cast<uint32_t>(f[k]) & 0xFFFF);
    std::memcpy(rec + 2 * k, &s, 2);
  }
  rec[6] = static_cast<uint8_t>(((static_cast<uint32_t>(f[4]) & 15) << 4) |
                                (static_cast<uint32_t>(f[3]) & 15));
  rec[7] = static_cast<uint8_t>(static_cast<uint32_t>(f[5]) & 255);
}

// Scratch bytes, error 42 when there are none.
void* scratch(size_t bytes) {
  void* p = getbuf(static_cast<int32_t>(std::min<size_t>(bytes, 0x7FFFFFF0)));
  if (!p && bytes && !(state & ST_ERROR)) error(0, 42);
  return p;
}

}  // namespace

namespace {

// A record of no variable of text kind: n items (characters, or list
// elements) from stack address addr, one row.
void txtset(PtrRec* r, int kind, int32_t addr, size_t n) {
  r->Flg = static_cast<uint16_t>(kind);
  r->Wsiz = W_BYTE;
  r->Addr = static_cast<uint32_t>(addr);
  r->Length = static_cast<int32_t>(n);
  r->Datdims[0] = static_cast<uint32_t>(n);
  r->Datdims[1] = r->Datdims[2] = 1;
  r->Offs[3] = r->Datdims[0];
  r->Tot = r->Datdims[0];
}

}  // namespace

bool txtrec(PtrRec* r, const std::string& txt) {
  auto* d = static_cast<char*>(scratch(txt.size() + 1));
  if (!d) return false;
  std::memcpy(d, txt.data(), txt.size());
  d[txt.size()] = 0;
  txtset(r, K_STRING, stkadr(d), txt.size());
  return true;
}

bool lstrec(PtrRec* r, const std::vector<std::string>& items) {
  // Each element: a length byte, the text and a NUL, word aligned; the
  // offset table follows the elements.
  size_t words = items.size();
  for (const auto& t : items) words += (std::min(t.size(), LSTMAX) + 2 + 3) / 4;
  auto* blk = static_cast<uint32_t*>(scratch(words * 4));
  if (!blk && words) return false;
  int32_t base = blk ? stkadr(blk) : 0;
  int32_t tbl = base + static_cast<int32_t>(words - items.size());
  size_t w = 0;
  for (size_t i = 0; i < items.size(); i++) {
    auto* p = reinterpret_cast<uint8_t*>(blk + w);
    size_t n = std::min(items[i].size(), LSTMAX);
    p[0] = static_cast<uint8_t>(n);
    std::memcpy(p + 1, items[i].data(), n);
    p[1 + n] = 0;
    wordp(tbl)[i] = static_cast<uint32_t>(base + static_cast<int32_t>(w) - tbl);
    w += (n + 2 + 3) / 4;
  }
  // A list counts its elements: the element access of a record of no
  // variable takes its total from Length, and the list copy walks that
  // many elements.
  txtset(r, K_LIST | K_STRING, tbl, items.size());
  return true;
}

int txtfld(const char* line, int length, float* values, int* types, int max) {
  int n = 0;
  int i = 0;
  // A "+" of an exponent ("1.5e+03") stays in its field.
  auto expsign = [&](int k, int s) {
    return line[k] == '+' && k - 2 >= s && (line[k - 1] == 'e' || line[k - 1] == 'E') &&
           ((line[k - 2] >= '0' && line[k - 2] <= '9') || line[k - 2] == '.');
  };
  while (i < length && n < max) {
    while (i < length && static_cast<unsigned char>(line[i]) <= 44) i++;
    if (i >= length) break;
    int s = i;
    while (i < length && (static_cast<unsigned char>(line[i]) > 44 || expsign(i, s))) i++;
    float v;
    if (isnum(line + s, i - s, &v)) {
      values[n] = v;
      types[n] = 16;
    } else {
      values[n] = static_cast<float>(s);
      types[n] = 32;
    }
    n++;
  }
  return n;
}

PtrRec* rdary(int unit, int kind, int wsiz, PtrRec* rec, int32_t count, const char* text) {
  kind &= 0xFF0;
  const bool istxt = (kind & K_STRING) != 0;
  const bool islst = istxt && (kind & K_LIST);
  // A list of vectors (Vector with Matrix, 8-byte records): each line is one
  // record, written "{ x y z code width colour }" as dump writes it, so a
  // line that opens with a brace does not end the block.
  const bool vecs = !istxt && (kind & K_VECTOR) && (kind & K_MATRIX) && wsiz == W_VEC;
  const bool twod = !istxt && !vecs && (kind & (K_MATRIX | K_IMAGE | K_SOLID));
  if (!istxt) {
    // Numbers: a number, or an array, matrix, image or solid of them.
    kind &= K_NUMBER | K_ARRAY | K_MATRIX | K_IMAGE | K_SOLID;
    if (!kind) kind = K_ARRAY;
  }
  if (wsiz == 0) wsiz = istxt ? W_BYTE : W_FLOAT;
  if (istxt) wsiz = W_BYTE;

  std::vector<float> vals;
  std::vector<uint8_t> recs;
  std::string txt;
  std::vector<std::string> items;
  int32_t rowwid = 0, rows = 0;
  int nlines = 0;
  const char* tp = text;
  const int maxln = islst ? LSTLEN : LINLEN;

  for (;;) {
    char line[BUFLEN];
    int n;
    if (tp) {
      if (!*tp) break;
      const char* e = std::strchr(tp, '\n');
      size_t l = e ? static_cast<size_t>(e - tp) : std::strlen(tp);
      n = static_cast<int>(std::min<size_t>(l, static_cast<size_t>(maxln - 1)));
      std::memcpy(line, tp, static_cast<size_t>(n));
      line[n] = 0;
      tp = e ? e + 1 : tp + l;
    } else {
      n = -1;
      if (unit == 0 && count > 0 && (state & ST_QUEUED)) n = gtpstr(nullptr, line);
      if (n < 0) n = rdline(unit, line, maxln);
    }
    // A key code (Esc ...) that ended the edited line ends the input too.
    if (n < 0 || n >= maxln || stopped()) break;
    n = trimtl(line, std::min(n, maxln - 1));
    if (n == 1 && line[0] == 27) break;
    if ((pflags & 0x100) && unit == 0 && jrnlun >= 0) jprintf(jrnlun, "%s\n", line);
    bool last = false;
    int from = 0;  // where the record's fields start
    if (vecs) {
      int b = 0;
      while (b < n && (line[b] == ' ' || line[b] == '\t')) b++;
      if (b < n - 1 && line[b] == '{' && line[n - 1] == '}') {
        from = b + 1;  // "{ ... }": one record; the block goes on
        n = trimtl(line, n - 1);
      }
    }
    if (from > 0) {
      // The braces belong to the record.
    } else if (n == 1 && line[0] == '\\') {
      n = 0;  // a blank line that does not end the input
      line[0] = 0;
    } else if (n >= 2 && line[n - 1] == '}' && line[n - 2] == '\\') {
      line[n - 2] = ' ';  // the brace is data
    } else if (count > 0 && n >= 1 && line[n - 1] == '}') {
      last = true;
      n = trimtl(line, n - 1);
    } else if (count == 0 && n == 0) {
      break;
    }
    if (!(last && n == 0)) {
      nlines++;
      if (istxt) {
        std::string t = unquote(line, n);
        if (islst) {
          // One empty answer line enters nothing (Length 0).
          if (count >= 0 || n > 0) items.push_back(t.substr(0, LSTMAX));
        } else {
          if (nlines > 1) txt.push_back('\n');
          txt += t;
        }
      } else if (vecs) {
        float v[RDFLDS];
        int ty[RDFLDS];
        int nf = txtfld(line + from, n - from, v, ty, RDFLDS);
        if (nf > 0) {
          recs.resize(recs.size() + 8);
          putvec(recs.data() + recs.size() - 8, v, ty, nf);
        }
      } else {
        float v[RDFLDS];
        int ty[RDFLDS];
        int nf = txtfld(line, n, v, ty, RDFLDS);
        for (int f = 0; f < nf; f++)
          if (ty[f] != 16) v[f] = MISSING;
        if (twod) {
          if (nf > 0) {
            if (rows == 0) rowwid = nf;
            for (int f = 0; f < rowwid; f++) vals.push_back(f < nf ? v[f] : 0.0f);
            rows++;
          }
        } else {
          vals.insert(vals.end(), v, v + nf);
        }
      }
    }
    if (count < 0 || last) break;
  }
  if (count < 0 && istxt && !islst && static_cast<int64_t>(txt.size()) > -static_cast<int64_t>(count))
    txt.resize(static_cast<size_t>(-static_cast<int64_t>(count)));

  PtrRec* r = rec;
  if (!r) {
    r = putptr(kind, 0, nullptr, 0, wsiz, 1);
    if (!r) {
      error(0, 42);
      return nullptr;
    }
  }
  r->Idx = -1;
  r->Wsiz = static_cast<int16_t>(wsiz);
  r->Bufsiz = 0;
  std::memset(r->Offs, 0, sizeof r->Offs);
  std::memset(r->XYZptr, 0, sizeof r->XYZptr);

  if (istxt && !islst) return txtrec(r, txt) ? r : nullptr;
  if (islst) return lstrec(r, items) ? r : nullptr;
  if (vecs) {
    // The records as a list of vectors of no variable: 8 bytes wide, one
    // row a record.
    auto n = static_cast<int32_t>(std::min<size_t>(recs.size() / 8, INT32_MAX / 8));
    auto* d = static_cast<uint8_t*>(scratch(static_cast<size_t>(n) * 8 + 4));
    if (!d) return nullptr;
    std::memset(d, 0, static_cast<size_t>(n) * 8 + 4);
    if (n > 0) std::memcpy(d, recs.data(), static_cast<size_t>(n) * 8);
    r->Flg = static_cast<uint16_t>(K_VECTOR | K_MATRIX);
    r->Wsiz = W_VEC;
    r->Addr = static_cast<uint32_t>(stkadr(d));
    r->Length = n;
    r->Datdims[0] = 8;
    r->Datdims[1] = static_cast<uint32_t>(n);
    r->Datdims[2] = 1;
    for (int k = 0; k < 3; k++) r->Offs[3 + k] = r->Datdims[k];
    r->Tot = static_cast<uint32_t>(n) * 8;
    return r;
  }
  int32_t cnt = static_cast<int32_t>(std::min<size_t>(vals.size(), INT32_MAX / 8));
  if (kind & K_NUMBER) {
    // A single number lives in the record itself.
    float v = cnt > 0 ? vals[0] : 0.0f;
    r->Flg = K_CONST;
    r->Wsiz = W_FLOAT;
    std::memcpy(&r->Addr, &v, 4);
    r->Length = cnt > 0 ? 1 : 0;
    r->Tot = static_cast<uint32_t>(r->Length);
    return r;
  }
  int bits = itmbit(wsiz);
  if (bits < 1) bits = 8;
  size_t bytes = (static_cast<size_t>(cnt) * static_cast<size_t>(bits) + 7) / 8;
  auto* d = static_cast<uint8_t*>(scratch(bytes + 4));
  if (!d) return nullptr;
  std::memset(d, 0, bytes + 4);
  uint8_t bitp = 0;
  const bool nc = noclmp();
  uint8_t* p = d;
  for (int32_t i = 0; i < cnt; i++) p += stitm(vals[static_cast<size_t>(i)], p, wsiz, &bitp, nc);
  r->Flg = static_cast<uint16_t>(kind & K_DATA);
  r->Addr = static_cast<uint32_t>(stkadr(d));
  r->Length = cnt;
  if (twod && rows > 0) {
    r->Datdims[0] = static_cast<uint32_t>(rowwid);
    r->Datdims[1] = static_cast<uint32_t>(rows);
  } else {
    r->Datdims[0] = static_cast<uint32_t>(cnt);
    r->Datdims[1] = 1;
  }
  r->Datdims[2] = 1;
  for (int k = 0; k < 3; k++) r->Offs[3 + k] = r->Datdims[k];
  r->Tot = static_cast<uint32_t>(cnt);
  return r;
}
