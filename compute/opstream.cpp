// Sequential operand access (see opstream.h).
#include "compute/opstream.h"

#include <algorithm>
#include <cstring>

#include "compute/expr.h"
#include "core/element.h"

uint8_t* contig(PtrRec* r, int64_t items) {
  if (!r || items < 1 || bufrec(r) || (r->Flg & (K_LIST | K_NUMBER | K_FILE | K_ARGS)) ||
      r->Data0 == 0)
    return nullptr;
  int bits = r->Wsiz & 63;
  if (bits == 0 || r->Wsiz == W_VEC || items > static_cast<int64_t>(r->Tot)) return nullptr;
  for (int k = 0; k < 3; k++)
    if (r->Offs[k] != 0) return nullptr;
  int64_t win = 1;
  for (int k = 0; k < 3; k++) win *= std::max<uint32_t>(r->Offs[3 + k], 1);
  if (win != static_cast<int64_t>(r->Tot)) return nullptr;
  uint8_t* p0 = dat0(r);
  if (!p0) return nullptr;
  if (r->Data0 < 0) return p0;
  // Word memory: every 16-KB page of the run must follow the one before.
  int64_t bytes = (items * bits + 7) / 8;
  if (static_cast<int64_t>(r->Data0) + bytes > INT32_MAX) return nullptr;
  for (int64_t k = 16384 - (r->Data0 & 16383); k < bytes; k += 16384)
    if (membyt(addref(r->Data0, k)) != p0 + k) return nullptr;
  if (bytes > 1 && membyt(addref(r->Data0, bytes - 1)) != p0 + bytes - 1) return nullptr;
  return p0;
}

void OpRead::start(int k) {
  int32_t* t = optab;
  r = oprec(k);
  part = r ? t[OT_BUF + k] : 0;
  n = r ? t[OT_CNT + k] : 0;
  i = 0;
}

bool opalias() {
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  if (!s || !d) return false;
  if (s == d) return true;
  const uint8_t* a = dat0(s);
  return a && a == dat0(d);
}

bool samevar(int32_t d, const PtrRec* r) {
  const PtrRec* p = d > 0 ? ptrrec(d) : nullptr;
  if (!p || !r) return false;
  return p == r || ((p->Flg & K_NAMED) && (r->Flg & K_NAMED) && p->Idx > 0 && p->Idx == r->Idx);
}

namespace {
OpRead snap;
bool snapped = false;
}  // namespace

void snapin(int32_t dest) {
  snapped = false;
  snap = OpRead();
  if (!samevar(dest, oprec(0))) return;
  snap.start(0);
  snap.detach();
  snapped = true;
}

bool snapout(OpRead& in) {
  if (!snapped) return false;
  in = std::move(snap);
  snap = OpRead();
  snapped = false;
  in.r = nullptr;
  return true;
}

namespace {
// The storage of the last copy of bytes, kept for the next one: an
// operation repeated in place (a = filter(a, 5) in a loop) then copies into
// pages already made, as it would write into a second image.
std::vector<uint8_t>& spare() {
  static auto* s = new std::vector<uint8_t>;  // outlives every reader, at exit too
  return *s;
}
}  // namespace

OpRead::~OpRead() {
  if (!mb.empty() && mb.size() >= spare().size()) mb.swap(spare());
}

int32_t OpRead::at(int32_t k) const {
  if (k < 0 || k >= n) return 0;
  const size_t j = static_cast<size_t>(k);
  return !mb.empty() ? mb[j] : flt ? ftrunc(mf[j]) : mi[j];
}

void OpRead::detach() {
  if (!r || mem) return;
  flt = r->Wsiz == W_FLOAT;
  int32_t cnt = std::max(n, 0);
  if (r->Wsiz == W_BYTE) {
    // Bytes are kept as bytes: one block copy of data in one piece, else
    // the runs the reader moves; never an item at a time, never wider.
    // (mb may be longer than the copy: n counts the items.)
    mb.swap(spare());
    if (mb.size() < static_cast<size_t>(cnt)) mb.resize(static_cast<size_t>(cnt));
    if (const uint8_t* p = i == 0 ? contig(r, cnt) : nullptr)
      std::memcpy(mb.data(), p, static_cast<size_t>(cnt));
    else
      cnt = bytes(mb.data(), cnt);
  } else {
    if (flt)
      mf.resize(static_cast<size_t>(cnt));
    else
      mi.resize(static_cast<size_t>(cnt));
    for (int32_t k = 0; k < cnt; k++) {
      if (flt)
        mf[static_cast<size_t>(k)] = static_cast<float>(getf());
      else
        mi[static_cast<size_t>(k)] = geti();
    }
  }
  n = cnt;
  i = 0;
  mem = true;
  // A destination on the same record starts again at its window origin.
  if (r == oprec(2)) {
    int32_t* t = optab;
    gtvarb(r, &t[OT_CNT + 2], &t[OT_BUF + 2], &t[OT_TOT + 2], &t[OT_WSIZ + 2], 1);
  }
}

const uint8_t* OpRead::whole() const {
  if (mem) return i == 0 && !mb.empty() && n > 0 ? mb.data() : nullptr;
  if (!r || i != 0) return nullptr;
  return contig(r, n);
}

int32_t OpRead::bytes(uint8_t* out, int32_t m) {
  int32_t got = 0;
  if (mem) {
    if (!mb.empty()) {
      got = std::min(m, n - i);
      std::memcpy(out, mb.data() + i, static_cast<size_t>(std::max(got, 0)));
      i += std::max(got, 0);
      return std::max(got, 0);
    }
    for (; got < m && i < n; got++) out[got] = static_cast<uint8_t>(iclmp(geti(), 0, 255));
    return got;
  }
  while (got < m && i < n) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) {
        n = i;
        break;
      }
    }
    int32_t run = std::min(m - got, std::min(part, n) - i);
    if (r->Wsiz == 8 && !(r->Flg & K_NUMBER)) {
      std::memcpy(out + got, dptr(r), static_cast<size_t>(run));
      r->Dptr = addref(r->Dptr, run);
    } else {
      for (int32_t q = 0; q < run; q++) out[got + q] = static_cast<uint8_t>(iclmp(igstak(r), 0, 255));
    }
    got += run;
    i += run;
  }
  return got;
}

int32_t OpRead::geti() {
  if (i >= n) return 0;
  if (mem) {
    size_t k = static_cast<size_t>(i++);
    return !mb.empty() ? mb[k] : flt ? ftrunc(mf[k]) : mi[k];
  }
  if (i >= part) {
    LDVARB(r, &part, i);
    if (part <= i) {
      n = i;
      return 0;
    }
  }
  i++;
  return igstak(r);
}

double OpRead::getf() {
  if (i >= n) return 0;
  if (mem) {
    size_t k = static_cast<size_t>(i++);
    return !mb.empty() ? static_cast<double>(mb[k]) : flt ? static_cast<double>(mf[k]) : static_cast<double>(mi[k]);
  }
  if (i >= part) {
    LDVARB(r, &part, i);
    if (part <= i) {
      n = i;
      return 0;
    }
  }
  i++;
  return GSTACK(r);
}

void OpWrite::start() {
  int32_t* t = optab;
  d = oprec(2);
  part = d ? t[OT_BUF + 2] : 0;
  n = d ? t[OT_CNT + 2] : 0;
  i = 0;
}

uint8_t* OpWrite::whole() const {
  if (!d || i != 0) return nullptr;
  return contig(d, n);
}

void OpWrite::puti(int32_t v) {
  if (i >= n) return;
  IPSTAK(v, d);
  i++;
  if (i < n && i >= part) DMPVRB(d, &part, 1, i);
}

void OpWrite::putf(double v) {
  if (i >= n) return;
  PSTACK(v, d);
  i++;
  if (i < n && i >= part) DMPVRB(d, &part, 1, i);
}

void OpWrite::ints(const int32_t* v, int32_t m) {
  bool nc = noclmp();
  int32_t k = 0;
  while (k < m && i < n) {
    if (d->Wsiz == 8 && !(d->Flg & K_NUMBER) && part > i) {
      int32_t run = std::min(m - k, std::min(part, n) - i);
      uint8_t* p = dptr(d);
      for (int32_t q = 0; q < run; q++) p[q] = stin8(v[k + q], nc);
      d->Dptr = addref(d->Dptr, run);
      k += run;
      i += run;
      if (i < n && i >= part) DMPVRB(d, &part, 1, i);
    } else {
      puti(v[k++]);
    }
  }
}

void OpWrite::end() {
  if (d) DMPVRB(d, &part, 0, 0);
}
