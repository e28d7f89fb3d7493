// Fast typed paths: whole-array copies, conversions and element-wise
// operators over plain word memory, block by block through the typed
// kernels, with the fused chains of element-wise operations.
#include "compute/qarith.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "compute/arith.h"
#include "compute/cores.h"
#include "compute/expr.h"
#include "compute/qkern.h"
#include "compute/qview.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "ui/events.h"

bool qpaths = true;
uint32_t qdone = 0, qchains = 0;
bool qnext = false;
int32_t qlast = 0;

namespace {

constexpr int BLK = 2048;               // items per kernel pass
constexpr int64_t POLLN = 65536;        // items between interrupt polls
constexpr int64_t MTMIN = 1 << 20;      // items from which workers help
constexpr int MAXTHR = 4;               // threads of one operation at most
constexpr int MAXLEAF = 8;              // operands of one fused chain

// A chain of element-wise operations: leaves (views), nodes (code, two
// operands: a leaf index, or ~node index), each node's result rounded to
// the word size of its temporary (0: none, the last node), and the
// destination.
struct Chain {
  View leaf[MAXLEAF];
  int nl = 0;
  struct Node {
    int code;
    int a, b;
    int tw;
  } node[MAXLEAF];
  int nn = 0;
  View dst;
  int64_t n = 0;  // items to store
  bool nc = false;
};

// The floats of one block for each leaf and node.
struct Bufs {
  alignas(64) float f[2 * MAXLEAF][BLK];
  alignas(64) uint8_t tmp[BLK * 4];
};

// A single value as the destination stores it, spread over n items.
// False when a buffered destination had no next part.
bool spread(const QKern& K, const Chain& c, float v, Cursor& dc, int64_t n) {
  uint8_t one[4];
  K.store(c.dst.w, &v, one, 1, c.nc);
  int wb = wbytes(c.dst.w);
  while (n > 0) {
    uint8_t* p;
    int64_t m = dc.take(n, &p);
    if (m < 1) return false;
    if (wb == 1) {
      std::memset(p, one[0], static_cast<size_t>(m));
    } else {
      for (int64_t i = 0; i < m; i++) std::memcpy(p + i * wb, one, static_cast<size_t>(wb));
    }
    n -= m;
  }
  return true;
}

// Items k0 .. k1 - 1 of the chain. `stop` ends the work between polls;
// the main thread polls (chkio) every POLLN items when `poll` is set.
void part(const Chain& c, int64_t k0, int64_t k1, std::atomic<bool>* stop,
          std::atomic<int64_t>* done, bool poll, Bufs& B) {
  const QKern& K = qkern();
  bool paged = hipaged();
  Cursor lc[MAXLEAF], dc;
  for (int i = 0; i < c.nl; i++) {
    lc[i].v = &c.leaf[i];
    lc[i].paged = paged;
    lc[i].seek(k0);
  }
  dc.v = &c.dst;
  dc.paged = paged;
  dc.seek(k0);

  // A chain of single values: one result for every item.
  bool allsc = true;
  for (int i = 0; i < c.nl; i++) allsc = allsc && c.leaf[i].scalar;

  // Block buffers take the plain way: every operand's part copied before
  // the destination moves on.
  bool plain = !c.dst.rec;
  for (int i = 0; i < c.nl; i++) plain = plain && !c.leaf[i].rec;
  // A copy between equal byte or 16-bit sizes moves the bytes.
  bool bytes = plain && c.nn == 0 && !c.leaf[0].scalar && c.leaf[0].w == c.dst.w &&
               (c.dst.w == W_BYTE || c.dst.w == W_SHORT);
  // + and - of bytes, 16-bit or 32-bit items into the same size run in one
  // pass (bytes and 16-bit items in integers, where the float sums are
  // exact): which 0 two arrays, 1 or 2 the first or second operand a value.
  int iw = 0, which = 0;
  float iv = 0.0f;
  if (c.nn == 1 && (c.node[0].code == 116 || c.node[0].code == 117) &&
      (c.dst.w == W_BYTE || c.dst.w == W_SHORT || c.dst.w == W_LONG) && !allsc && plain) {
    iw = c.dst.w;
    for (int i = 0; i < 2; i++) {
      const View& l = c.leaf[i];
      if (l.w != iw && !l.scalar) iw = 0;
      if (l.scalar) {
        float v = l.v;
        // Not the missing value; for bytes and 16-bit items a whole number
        // small enough that no sum leaves the 16-bit clamping range unseen.
        bool ok = !(v == 0.0f && std::signbit(v)) &&
                  (iw == W_LONG || (v >= -16384.0f && v <= 16384.0f && v == std::trunc(v)));
        if (!ok) iw = 0;
        iv = v;
        which = i + 1;
      }
    }
  }
  float sres = 0.0f;
  if (allsc) {
    float* s[MAXLEAF * 2];
    for (int i = 0; i < c.nl; i++) s[i] = &B.f[i][0], B.f[i][0] = c.leaf[i].v;
    for (int j = 0; j < c.nn; j++) {
      const Chain::Node& nd = c.node[j];
      float* a = nd.a >= 0 ? s[nd.a] : &B.f[MAXLEAF + ~nd.a][0];
      float* b = nd.b >= 0 ? s[nd.b] : &B.f[MAXLEAF + ~nd.b][0];
      float* r = &B.f[MAXLEAF + j][0];
      K.binary(nd.code, a, 0, b, 0, r, 1);
      if (nd.tw) {
        K.store(nd.tw, r, B.tmp, 1, c.nc);
        K.load(nd.tw, B.tmp, r, 1);
      }
    }
    sres = c.nn ? B.f[MAXLEAF + c.nn - 1][0] : c.leaf[0].v;
  }

  int64_t k = k0, sincepoll = 0;
  while (k < k1) {
    if (stop->load(std::memory_order_relaxed)) break;
    int64_t chunk = std::min<int64_t>(k1 - k, POLLN - sincepoll);
    bool broke = false;
    if (allsc) {
      broke = !spread(K, c, sres, dc, chunk);
    } else if (iw) {
      int li = which == 1 ? 1 : 0;  // the array operand
      for (int64_t left = chunk; left > 0;) {
        uint8_t *x, *y = nullptr, *d;
        int64_t m = std::min({left, dc.avail(&d), lc[li].avail(&x)});
        if (which == 0) m = std::min(m, lc[1].avail(&y));
        // Through a block in the cache: arrays of one size lie a few bytes
        // apart modulo 4 KB, and stores into one while loading the others
        // would stall on every vector (false store-to-load forwarding).
        m = std::min<int64_t>(m, static_cast<int64_t>(sizeof B.tmp) / wbytes(iw));
        K.intadd(c.node[0].code, iw, which == 1 ? nullptr : x, which == 1 ? x : y, iv, which,
                 B.tmp, static_cast<int>(m), c.nc);
        std::memcpy(d, B.tmp, static_cast<size_t>(m * wbytes(iw)));
        dc.adv(m);
        lc[li].adv(m);
        if (which == 0) lc[1].adv(m);
        left -= m;
      }
    } else if (bytes) {
      int wb = wbytes(c.dst.w);
      for (int64_t left = chunk; left > 0;) {
        uint8_t *s, *d;
        int64_t m = std::min({left, dc.avail(&d), lc[0].avail(&s)});
        std::memmove(d, s, static_cast<size_t>(m * wb));
        dc.adv(m);
        lc[0].adv(m);
        left -= m;
      }
    } else {
      for (int64_t off = 0; off < chunk;) {
        int m = static_cast<int>(std::min<int64_t>(BLK, chunk - off));
        // Each leaf's floats. Float items that feed an operator are used
        // where they lie (the operators treat every NaN alike, so the
        // quieting a load does is not needed there).
        const float* src[2 * MAXLEAF];
        const float* direct[MAXLEAF];
        int nd = 0;
        for (int i = 0; i < c.nl; i++) {
          src[i] = B.f[i];
          if (c.leaf[i].scalar) {
            B.f[i][0] = c.leaf[i].v;
            continue;
          }
          uint8_t* p;
          if (plain && c.nn > 0 && c.leaf[i].w == W_FLOAT && lc[i].avail(&p) >= m) {
            src[i] = direct[nd++] = reinterpret_cast<const float*>(p);
            lc[i].adv(m);
            continue;
          }
          for (int got = 0; got < m && !broke;) {
            int64_t t = lc[i].take(m - got, &p);
            broke = t < 1;
            K.load(c.leaf[i].w, p, &B.f[i][got], static_cast<int>(t));
            got += static_cast<int>(t);
          }
        }
        if (broke) break;
        const float* res = nullptr;
        bool rsc = false, stored = false;
        bool sc[2 * MAXLEAF];
        for (int i = 0; i < c.nl; i++) sc[i] = c.leaf[i].scalar;
        for (int j = 0; j < c.nn; j++) {
          const Chain::Node& nd2 = c.node[j];
          int ia = nd2.a >= 0 ? nd2.a : MAXLEAF + ~nd2.a;
          int ib = nd2.b >= 0 ? nd2.b : MAXLEAF + ~nd2.b;
          float* r = B.f[MAXLEAF + j];
          bool s = sc[ia] && sc[ib];
          int cnt = s ? 1 : m;
          // The last result goes straight into a float destination whose
          // run holds the block and that no operand lies in.
          uint8_t* dp;
          if (plain && j == c.nn - 1 && !s && c.dst.w == W_FLOAT &&
              dc.avail(&dp) >= m) {
            bool apart = true;
            for (int q = 0; q < nd; q++)
              apart = apart && (reinterpret_cast<const uint8_t*>(direct[q]) >= dp + 4 * m ||
                                reinterpret_cast<const uint8_t*>(direct[q] + m) <= dp);
            if (apart) {
              r = reinterpret_cast<float*>(dp);
              dc.adv(m);
              stored = true;
            }
          }
          K.binary(nd2.code, src[ia], sc[ia], src[ib], sc[ib], r, cnt);
          // A float temporary holds the float as it is (an operator's
          // result is never a signalling NaN).
          if (nd2.tw && nd2.tw != W_FLOAT) {
            K.store(nd2.tw, r, B.tmp, cnt, c.nc);
            K.load(nd2.tw, B.tmp, r, cnt);
          }
          src[MAXLEAF + j] = r;
          sc[MAXLEAF + j] = s;
          res = r;
          rsc = s;
        }
        if (c.nn == 0) {
          res = B.f[0];
          rsc = c.leaf[0].scalar;
        }
        if (stored) {
          // written in place
        } else if (rsc) {
          broke = !spread(K, c, res[0], dc, m);
        } else {
          for (int put = 0; put < m && !broke;) {
            uint8_t* p;
            int64_t t = dc.take(m - put, &p);
            broke = t < 1;
            K.store(c.dst.w, res + put, p, static_cast<int>(t), c.nc);
            put += static_cast<int>(t);
          }
        }
        if (broke) break;
        off += m;
      }
    }
    if (broke) {
      // A part could not be had (reported where it failed): the rest is
      // not done.
      stop->store(true);
      break;
    }
    k += chunk;
    sincepoll += chunk;
    done->fetch_add(chunk, std::memory_order_relaxed);
    if (sincepoll >= POLLN) {
      sincepoll = 0;
      if (poll) {
        prgidx = static_cast<uint32_t>(done->load(std::memory_order_relaxed));
        chkio(0);
        if (stopped()) stop->store(true);
      }
    }
  }
}

// Runs the chain over its n items: the main thread alone, or with up to
// three workers on equal shares of a large operation. The main thread
// keeps polling for Ctrl-C while the workers run; a stop ends every share
// at its next poll.
// Items a thread takes at a time: a thread the system holds back delays
// only its own piece, the others take the rest.
constexpr int64_t GRAB = 1 << 18;

void worker(const Chain& c, std::atomic<int64_t>* next, std::atomic<bool>* stop,
            std::atomic<int64_t>* done, bool poll) {
  std::unique_ptr<Bufs> hold(new Bufs);  // not cleared: every float is written before use
  while (!stop->load(std::memory_order_relaxed)) {
    int64_t a = next->fetch_add(GRAB);
    if (a >= c.n) break;
    part(c, a, std::min(c.n, a + GRAB), stop, done, poll, *hold);
  }
}

void runchn(const Chain& c) {
  qdone++;
  if (c.nn > 1) qchains++;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> done{0};
  prgidx = 0;
  prgtot = static_cast<uint32_t>(c.n);
  dopause();
  if (stopped()) return;
  bool plain = !c.dst.rec;
  for (int i = 0; i < c.nl; i++) plain = plain && !c.leaf[i].rec;
  int nt = 1;
  if (c.n >= MTMIN && !hipaged() && plain) {
    unsigned hw = std::thread::hardware_concurrency();
    nt = static_cast<int>(std::min<unsigned>(MAXTHR, hw ? hw : 1));
  }
  if (nt <= 1) {
    // The main thread's buffers are made once: short operations (one item
    // copied in a macro loop) would otherwise spend more on them than on
    // the items.
    // (An operation that a poll's event handler starts meanwhile takes its
    // own.)
    static Bufs* mainbufs = new Bufs;
    static bool busy = false;
    std::unique_ptr<Bufs> own(busy ? new Bufs : nullptr);
    bool mine = !busy;
    busy = true;
    part(c, 0, c.n, &stop, &done, true, own ? *own : *mainbufs);
    if (mine) busy = false;
  } else {
    // Pieces of GRAB items (a multiple of 64, so no two threads write one
    // cache line); the main thread polls for Ctrl-C between its pieces.
    // A part that runs on the caller (its own, or one whose thread could
    // not be had) polls.
    std::atomic<int64_t> next{0};
    const std::thread::id me = std::this_thread::get_id();
    parts(nt, [&](int) { worker(c, &next, &stop, &done, std::this_thread::get_id() == me); });
  }
  prgidx = static_cast<uint32_t>(done.load());
}

// Ends a path: the destination written back, the progress total reset.
void finish(Chain&) {
  int32_t* t = optab;
  if (PtrRec* d = oprec(2)) DMPVRB(d, &t[OT_BUF + 2], 0, 0);
  prgtot = 0;
}

// The items a chain stores: the destination's count, when every operand
// that is an array has at least that many (the loop would otherwise repeat
// the last result); with single values only, the one result fills it.
bool setn(Chain& c, int64_t dcnt) {
  if (dcnt < 1) return false;
  // A buffered record walks its own position: it may stand only once.
  for (int i = 0; i < c.nl; i++)
    for (int j = i + 1; j <= c.nl; j++) {
      const PtrRec* o = j < c.nl ? c.leaf[j].rec : c.dst.rec;
      if (c.leaf[i].rec && c.leaf[i].rec == o) return false;
      // Records that share one set of block buffers (one file) likewise.
      if (c.leaf[i].rec && o && o->Bufp > 0 && c.leaf[i].rec->Bufp == o->Bufp) return false;
    }
  for (int i = 0; i < c.nl; i++)
    if (!c.leaf[i].scalar && c.leaf[i].count < dcnt) return false;
  c.n = dcnt;
  c.nc = noclmp();
  return true;
}

// A record of k sub-byte items per byte seen as bytes: its count, window
// origin and extent along x (and the row length) must be whole bytes.
bool bytview(int k, View* v, int32_t count, int32_t part, bool dest, PtrRec* r) {
  if (!r || r->Wsiz != 8 / k || (r->Flg & (K_NUMBER | K_LIST | K_VECTOR | K_ARGS)) || bufrec(r))
    return false;
  if (count % k || r->Bitp) return false;
  int16_t w = r->Wsiz;
  r->Wsiz = W_BYTE;
  bool whole = r->Flg == K_STRING || r->Idx == -1;
  uint32_t o0 = r->Offs[0], e0 = r->Offs[3], d0 = r->Datdims[0];
  bool ok = whole || (o0 % k == 0 && e0 % k == 0 && (d0 % k == 0 || r->Ndims <= 1 || e0 == 0));
  if (ok) {
    if (!whole) {
      r->Offs[0] = o0 / k;
      r->Offs[3] = e0 / k;
      r->Datdims[0] = (d0 + k - 1) / k;
    }
    int32_t len = r->Length;
    r->Length = len / k;
    ok = mkview(r, count / k, part, dest, v);
    r->Length = len;
    r->Offs[0] = o0;
    r->Offs[3] = e0;
    r->Datdims[0] = d0;
  }
  r->Wsiz = w;
  return ok && !v->scalar;
}

// A copy into bit fields, crumbs or nibbles of whole bytes: a single value
// (stored as the loop stores it into one field, repeated across the byte)
// or items of the same size, byte by byte.
int subcopy() {
  int32_t* t = optab;
  int bits = t[OT_WSIZ + 2];
  int k = 8 / bits;
  Chain c;
  if (!bytview(k, &c.dst, t[OT_CNT + 2], t[OT_BUF + 2], true, oprec(2))) return 0;
  c.nl = 1;
  if (t[OT_CNT] == 1) {
    View s;
    if (!rowview(0, &s) || !s.scalar) return 0;
    uint32_t f = stflfld(s.v, bits, noclmp()), byte = 0;
    for (int i = 0; i < k; i++) byte = (byte << bits) | f;
    c.leaf[0] = s;
    c.leaf[0].w = W_BYTE;
    c.leaf[0].v = static_cast<float>(byte);
  } else if (t[OT_WSIZ] != bits ||
             !bytview(k, &c.leaf[0], t[OT_CNT], t[OT_BUF], false, oprec(0))) {
    return 0;
  }
  if (!setn(c, t[OT_CNT + 2] / k)) return 0;
  runchn(c);
  finish(c);
  return 1;
}

int copy1() {
  if (!qpaths || !optab) return 0;
  int wd = optab[OT_WSIZ + 2];
  if (wd == W_BIT || wd == W_CRUMB || wd == W_NIBBLE) return subcopy();
  Chain c;
  if (!rowview(0, &c.leaf[0]) || !rowview(2, &c.dst)) return 0;
  c.nl = 1;
  if (!setn(c, optab[OT_CNT + 2])) return 0;
  runchn(c);
  finish(c);
  return 1;
}

// --- deferred operations --------------------------------------------------

struct Recipe {
  int32_t id;      // the temporary's record
  int code;
  int32_t ec;      // element count of the operation
  int nops;
  int32_t tab[OPTWDS];
  View v[2];       // operand views (a deferred operand's view is unused)
  int32_t opid[2]; // operand records
  View dst;
};
std::vector<Recipe> pend;

const Recipe* recof(int32_t id) {
  if (id <= 0) return nullptr;
  for (const Recipe& r : pend)
    if (r.id == id) return &r;
  return nullptr;
}

bool overlap(const View& a, const View& b) {
  if (a.scalar || b.scalar) return false;
  return a.lo() < b.hi() && b.lo() < a.hi();
}

// Adds operand `id` (with its view) of an operation to the chain: a leaf,
// or the nodes of a deferred operation. The index (leaf, or ~node), or
// INT32_MIN when the chain would grow too large.
int addopd(Chain& c, int32_t id, const View& v) {
  if (const Recipe* r = recof(id)) {
    int a = addopd(c, r->opid[0], r->v[0]);
    int b = r->nops > 1 ? addopd(c, r->opid[1], r->v[1]) : INT32_MIN;
    if (a == INT32_MIN || b == INT32_MIN || c.nn >= MAXLEAF) return INT32_MIN;
    c.node[c.nn] = {r->code, a, b, r->dst.w};
    return ~c.nn++;
  }
  if (c.nl >= MAXLEAF) return INT32_MIN;
  c.leaf[c.nl] = v;
  return c.nl++;
}

}  // namespace

bool qarcod(int code) {
  switch (code) {
    case 107: case 113: case 114: case 116: case 117: case 118: case 119:
    case 120: case 121: case 122: case 123: case 124: case 126: case 127:
      return true;
    default:
      return false;
  }
}

int qcopy() { return copy1(); }

int qcnvrt() {
  if (!optab) return 0;
  int code = cnvcod(optab[OT_WSIZ], optab[OT_WSIZ + 2]);
  if (!code) return 0;
  return copy1() ? code : 0;
}

int qarith(int code) {
  if (!qpaths || !optab || !qarcod(code)) return 0;
  int32_t* t = optab;
  if (!oprec(1) && !(t[OT_KIND + 1] & K_VALUE)) return 0;
  Chain c;
  if (!rowview(0, &c.leaf[0]) || !rowview(1, &c.leaf[1]) || !rowview(2, &c.dst)) return 0;
  c.nl = 2;
  c.node[0] = {code, 0, 1, 0};
  c.nn = 1;
  if (!setn(c, t[OT_CNT + 2])) return 0;
  runchn(c);
  finish(c);
  return 1;
}

bool qdefer(int code, int32_t ec, int nops) {
  if (!qpaths || !optab || nops != 2 || !qarcod(code) || ec < 2) return false;
  int32_t* t = optab;
  Recipe r{};
  r.id = t[OT_REC + 2];
  r.code = code;
  r.ec = ec;
  r.nops = nops;
  PtrRec* d = oprec(2);
  if (!d || d->Idx != -1 || t[OT_CNT + 2] != ec) return false;
  if (!rowview(2, &r.dst) || r.dst.scalar) return false;
  for (int k = 0; k < 2; k++) {
    r.opid[k] = t[OT_REC + k];
    if (!recof(r.opid[k]) && !rowview(k, &r.v[k])) return false;
    if (!recof(r.opid[k]) && !r.v[k].scalar && r.v[k].count < ec) return false;
  }
  std::memcpy(r.tab, t, sizeof r.tab);
  pend.push_back(r);
  qlast = r.id;
  return true;
}

bool qpend(int32_t id) { return recof(id) != nullptr; }

bool qreads(const PtrRec* p) {
  if (pend.empty() || !p) return false;
  // The record's whole data, whatever its window.
  for (const Recipe& r : pend)
    for (int k = 0; k < r.nops; k++) {
      if (recof(r.opid[k])) continue;
      PtrRec* o = ptrrec(r.opid[k]);
      if (!o) continue;
      if (o == p) return true;
      if ((o->Flg & K_NAMED) && (p->Flg & K_NAMED) && o->Idx > 0 && o->Idx == p->Idx) return true;
      if (!r.v[k].scalar && p->Data0 > 0) {
        View pv;
        pv.w = W_BYTE;
        pv.base = p->Data0;
        pv.whole = true;
        int64_t items = static_cast<int64_t>(p->Tot ? p->Tot : 1) * std::max(1, (p->Wsiz & 63) / 8);
        pv.count = items;
        if (overlap(pv, r.v[k])) return true;
      }
    }
  return false;
}

int qfuse(int code) {
  if (!qpaths || !optab || !qarcod(code) || pend.empty()) return 0;
  int32_t* t = optab;
  Chain c;
  View v0, v1;
  bool p0 = qpend(t[OT_REC]), p1 = qpend(t[OT_REC + 1]);
  if (!p0 && !rowview(0, &v0)) return 0;
  if (!p1 && !rowview(1, &v1)) return 0;
  if (!rowview(2, &c.dst)) return 0;
  int a = addopd(c, t[OT_REC], v0);
  int b = addopd(c, t[OT_REC + 1], v1);
  if (a == INT32_MIN || b == INT32_MIN || c.nn >= MAXLEAF) return 0;
  c.node[c.nn++] = {code, a, b, 0};
  // Every intermediate covers the destination, and no operand's data is
  // the destination's (the chain reads operands after storing earlier
  // items).
  for (const Recipe& r : pend)
    if (r.ec < t[OT_CNT + 2]) return 0;
  for (int i = 0; i < c.nl; i++)
    if (overlap(c.leaf[i], c.dst)) return 0;
  if (!setn(c, t[OT_CNT + 2])) return 0;
  runchn(c);
  finish(c);
  pend.clear();
  return 1;
}

void qflush() {
  if (pend.empty()) return;
  std::vector<Recipe> todo;
  todo.swap(pend);
  int32_t* t = optab;
  int32_t save[OPTWDS];
  if (t) std::memcpy(save, t, sizeof save);
  for (Recipe& r : todo) {
    if (!t || stopped()) break;
    std::memcpy(t, r.tab, sizeof r.tab);
    // Prepared again: the records start from their window origins.
    for (int k = 0; k < r.nops; k++)
      if (PtrRec* o = oprec(k))
        t[OT_KIND + k] = gtvarb(o, &t[OT_CNT + k], &t[OT_BUF + k], &t[OT_TOT + k], &t[OT_WSIZ + k], 0);
    if (PtrRec* d = oprec(2))
      gtvarb(d, &t[OT_CNT + 2], &t[OT_BUF + 2], &t[OT_TOT + 2], &t[OT_WSIZ + 2], 1);
    if (!qarith(r.code)) ariths(r.code, r.ec, r.nops);
  }
  if (t) std::memcpy(t, save, sizeof save);
}

// --- single values and the per-type loops ---------------------------------

int set1vb(PtrRec* r, int32_t* bufcount, int from, int to) {
  if (!r || to > 96) return -1;
  if (to >= 8 && from == to) return 0;
  int k = to < 8 && to > 0 ? 8 / to : 0;
  if (bufcount && *bufcount < 1) LDVARB(r, bufcount, 0);
  double v = GSTACK(r);
  if (from == W_FLOAT && v != static_cast<double>(static_cast<int64_t>(v))) return -1;
  r->Flg = K_CONST;
  r->Dptr = bytadr(stkadr(r) + PR_ADDR);
  if (k) {
    int32_t iv = toi32(v), byte = 0;
    for (int i = 0; i < k; i++) byte = (byte << to) | (iv & ((1 << to) - 1));
    r->Wsiz = W_BYTE;
    v = byte & 0xFF;
  } else {
    r->Wsiz = static_cast<int16_t>(to);
  }
  r->Wbyts = static_cast<uint8_t>((r->Wsiz & 63) / 8);
  PSTACK(v, r);
  if (bufcount) *bufcount = 1;
  return k;
}

namespace {

template <typename T, typename F>
void perty(const T* a, const T* b, T* d, int32_t na, int32_t nb, int32_t n, F f) {
  for (int32_t i = 0; i < n; i++) {
    d[i] = f(*a, *b);
    if (na > 1) a++;
    if (nb > 1) b++;
  }
}

int64_t iop(int op, int64_t x, int64_t y) {
  switch (op) {
    case 116: return x + y;
    case 117: return x - y;
    case 118: return x * y;
    case 126: return x & y;
    case 127: return x | y;
    default: return y == 0 ? 0 : x / y;
  }
}

}  // namespace

int qarit8(int op, const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t na, int32_t nb,
           int32_t n) {
  bool nc = noclmp();
  perty(a, b, dst, na, nb, n, [&](uint8_t x, uint8_t y) {
    int64_t v = iop(op, x, y);
    return static_cast<uint8_t>(nc ? (v & 0xFF) : std::clamp<int64_t>(v, 0, 255));
  });
  return 0;
}

int qarit16(int op, const int16_t* a, const int16_t* b, int16_t* dst, int32_t na, int32_t nb,
            int32_t n) {
  perty(a, b, dst, na, nb, n, [&](int16_t x, int16_t y) {
    return static_cast<int16_t>(std::clamp<int64_t>(iop(op, x, y), -32767, 32767));
  });
  return 0;
}

int qarit32(int op, const int32_t* a, const int32_t* b, int32_t* dst, int32_t na, int32_t nb,
            int32_t n) {
  perty(a, b, dst, na, nb, n, [&](int32_t x, int32_t y) {
    // Wrapping arithmetic; the most negative value divided by -1 gives
    // the dividend.
    if (op != 116 && op != 117 && op != 118 && op != 126 && op != 127 && x == INT32_MIN && y == -1)
      return x;
    return static_cast<int32_t>(static_cast<uint32_t>(iop(op, x, y) & 0xFFFFFFFF));
  });
  return 0;
}

int qaritf(int op, const float* a, const float* b, float* dst, int32_t na, int32_t nb, int32_t n) {
  perty(a, b, dst, na, nb, n, [&](float x, float y) -> float {
    switch (op) {
      case 116: return x + y;
      case 117: return x - y;
      case 118: return x * y;
      case 126: return static_cast<float>(toi32(x) & toi32(y));
      case 127: return static_cast<float>(toi32(x) | toi32(y));
      default: return y == 0.0f ? 0.0f : x / y;
    }
  });
  return 0;
}

int qaddrgb(int op, const uint8_t* a, const int16_t* k, uint8_t* dst, int32_t na, int32_t nk,
            int32_t n, int codea, int codek) {
  if ((op != 116 && op != 117) || codea < 32 || codek != 16) return -1;
  for (int32_t i = 0; i < n; i++) {
    int32_t c = op == 117 ? -*k : *k;
    for (int j = 0; j < 4; j++) dst[4 * i + j] = static_cast<uint8_t>(std::clamp(a[j] + c, 0, 255));
    if (na > 1) a += 4;
    if (nk > 1) k++;
  }
  return 0;
}

int fill16(const int16_t* src, int16_t* dst, int32_t n) {
  std::fill(dst, dst + std::max(n, 0), *src);
  return 0;
}

int fill32(const int32_t* src, int32_t* dst, int32_t n) {
  std::fill(dst, dst + std::max(n, 0), *src);
  return 0;
}

int fillval(int32_t value, void* dst, int code, int32_t n) {
  if (n <= 0) return 0;
  switch (code) {
    case 8: std::memset(dst, value & 0xFF, static_cast<size_t>(n)); break;
    case 16: {
      int16_t v = static_cast<int16_t>(value);
      fill16(&v, static_cast<int16_t*>(dst), n);
      break;
    }
    case 32: fill32(&value, static_cast<int32_t*>(dst), n); break;
    case 96: {
      float f = static_cast<float>(value);
      std::fill(static_cast<float*>(dst), static_cast<float*>(dst) + n, f);
      break;
    }
    default: break;
  }
  return 0;
}
