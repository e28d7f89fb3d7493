// Word memory: the low stack and high memory, the block allocator with its
// headed blocks, owners and reference counts, the per-command scratch area,
// high-memory paging, held machine pointers and the heap wrappers.
#include "core/memory.h"

#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "lang/cstart.h"
#include "ui/events.h"
#if __has_include("lang/macro.h")
#include "lang/macro.h"
#define PELIX_HAVE_MACRO_STATE 1
#endif

#include <sys/mman.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

uint32_t* lowstk = nullptr;
StkDesc lstk{0, 0, 0, 0};
int32_t scrtop = 0;
int32_t scrbase = 0;
StkDesc hstk{HIMEM_BASE, HIMEM_BASE, 0, 0};
int32_t htmptop = 0;
int32_t himemflag = 0;
int32_t stktrap = 0;
int32_t hstack_end = 0;

namespace {

constexpr int32_t TRC_STKCHK = 0x2000;  // trace bit: check chains after each change
constexpr int32_t TRC_STKPACK = 0x800;  // trace bit: compaction allowed
constexpr int32_t MAX_HPAGES = 0xFFFF;  // the page counts are 16-bit
constexpr size_t HPAGE_BYTES = HPAGE_WORDS * 4;

// High memory. Flat: one handle. Paged: a table of page pointers; the pages
// are carved in order out of one reserved address range, so a run that
// strays over a page end still lands on the next page of high memory.
void* hflathdl = nullptr;
uint32_t* hflat = nullptr;
bool hpaged = false;
uint32_t** hpgtab = nullptr;
uint16_t hpgcap = 0;
uint16_t hpgused = 0;
char* hpgbase = nullptr;  // the reserved range (MAX_HPAGES pages)
int hframe = 0;           // last frame handed out by mappag
uint32_t trapval = 0;     // value of the watched word

// A bad address hands back this page so that a write through it harms
// nothing (in particular not r0 in low-stack words 0..9).
alignas(16) uint32_t badpg[HPAGE_WORDS];

bool ishigh(const StkDesc* d) { return d == &hstk; }
bool hexists() { return hstk.end > 0; }
int64_t chainend(const StkDesc* d) { return ishigh(d) ? d->bot : d->end; }

// Word a of either stack; the caller has checked the address.
inline uint32_t* wpt(int64_t a) {
  if (a < HIMEM_BASE) return lowstk + a;
  int64_t o = a - HIMEM_BASE;
  if (!hpaged) return hflat + o;
  return hpgtab[o >> 12] + (o & 0xFFF);
}
inline uint32_t& W(int64_t a) { return *wpt(a); }

// True when a names a word that exists.
bool okadr(int64_t a) {
  if (a < 0) return false;
  if (a < HIMEM_BASE) return lowstk && a < lstk.end;
  return hexists() && a < hstk.end;
}

uint32_t* badword(int arg) {
  error(arg, 71);
  state |= ST_ERROR;
  std::memset(badpg, 0, sizeof badpg);
  return badpg;
}

uint32_t* badhigh(int32_t addr, int frame) {
  int64_t page = ((int64_t)addr - HIMEM_BASE) >> 12;
  error(43, 71);
  jprintf(dbglun, "himem err: %d %d %d %ld %d\n", (int)hpgcap, (int)hpgused, (int)(page + 1), (long)addr,
          frame);
  state |= ST_ERROR;
  std::memset(badpg, 0, sizeof badpg);
  // Paged callers stop at the page's end, so the word's place in the page
  // keeps them inside the scratch page.
  return hpaged ? badpg + (static_cast<uint32_t>(addr) & 0xFFF) : badpg;
}

// One headed block as seen by a walk.
struct Blk {
  int64_t at;
  int64_t size;
  uint32_t st;
};

// Walks a chain. Returns the address where the walk ended (the chain's end
// when it is sound); fills `out` when given.
int64_t walk(const StkDesc* d, std::vector<Blk>* out) {
  int64_t p = d->lowest, end = chainend(d);
  while (p < end) {
    if (p + 2 > end) break;
    int64_t s = static_cast<int32_t>(W(p));
    if (s < 1) break;
    if (out) out->push_back({p, s, W(p + 1)});
    p += s;
  }
  return p;
}

// Merges neighbouring free blocks of a chain. Returns where the walk ended
// (the chain's end when the chain is sound); *last gets the last block
// (-1 none), *bad whether a block size below 1 stopped the walk.
int64_t merge(StkDesc* d, int64_t* last, bool* bad) {
  int64_t p = d->lowest, end = chainend(d), prevfree = -1;
  *last = -1;
  *bad = false;
  while (p < end) {
    if (p + 2 > end) break;
    int64_t s = static_cast<int32_t>(W(p));
    if (s < 1) {
      *bad = true;
      break;
    }
    if (W(p + 1) == 0) {
      if (prevfree >= 0) {
        W(prevfree) += static_cast<uint32_t>(s);
        p += s;
        continue;
      }
      prevfree = p;
    } else {
      prevfree = -1;
    }
    *last = p;
    p += s;
  }
  return p;
}

// Gives a free block at the open end of a merged chain back to the free
// gap: the lowest block of the low stack, the last block of high memory.
void giveend(StkDesc* d, int64_t last) {
  if (!ishigh(d)) {
    while (d->lowest < d->end && W(d->lowest + 1) == 0) d->lowest += static_cast<int32_t>(W(d->lowest));
  } else if (last >= 0 && W(last + 1) == 0) {
    d->bot = static_cast<int32_t>(last);
  }
}

// After a free: merges neighbouring free blocks and gives a free block at
// the open end of the chain back to the free gap.
void tidy(StkDesc* d, int32_t addr, int32_t count, int32_t size, int32_t hdr) {
  int64_t last;
  bool bad;
  int64_t p = merge(d, &last, &bad), end = chainend(d);
  if (bad) error(42, 71);
  if (p != end) {
    jprintf(dbglun, "PUTSTK: corrupted %ld != %ld [%ld,%ld,%ld,%ld,%ld,%ld]\n", (long)p, (long)end, (long)addr,
            (long)count, (long)size, (long)hdr, (long)d->lowest, (long)d->freew);
    return;
  }
  giveend(d, last);
}

// Words of the chain's free blocks: the free count less the free gap's
// (low stack: below the lowest block; high memory: above the last one).
int64_t holewords(const StkDesc* d) {
  return (int64_t)d->freew - (ishigh(d) ? (int64_t)d->end - d->bot : (int64_t)d->lowest - d->bot);
}

// First fit over the chain for a headed block of words + 2. A chain whose
// free blocks cannot hold it all together is not walked: a run of takes
// with no free block in the chain (a list filled item by item) stays
// linear.
int32_t firstfit(StkDesc* d, int64_t words) {
  if (holewords(d) < words + 2) return 0;
  int64_t p = d->lowest, end = chainend(d);
  while (p < end) {
    if (p + 2 > end) break;
    int64_t s = static_cast<int32_t>(W(p));
    if (s < 1) break;
    if (W(p + 1) == 0 && s >= words + 2) {
      W(p + 1) = 1;
      if (s > words + 4) {
        W(p) = static_cast<uint32_t>(words + 2);
        W(p + words + 2) = static_cast<uint32_t>(s - words - 2);
        W(p + words + 3) = 0;
        d->freew -= static_cast<int32_t>(words + 2);
      } else {
        d->freew -= static_cast<int32_t>(s);  // taken whole: the count stays exact
      }
      return static_cast<int32_t>(p + 2);
    }
    p += s;
  }
  return 0;
}

// The free gap a request of the given kind may use: the bottom area grows
// up to the lowest headed block; scratch buffers start at the scratch top;
// headed blocks never come below the scratch top or the bottom area.
enum { K_BOTTOM, K_HEADED, K_SCRATCH };
int64_t gapof(const StkDesc* d, int kind) {
  int64_t g;
  if (ishigh(d))
    g = (int64_t)htmptop - d->bot;
  else if (kind == K_BOTTOM)
    g = (int64_t)d->lowest - d->bot;
  else if (kind == K_HEADED)
    g = (int64_t)d->lowest - std::max(scrtop, d->bot);
  else
    g = (int64_t)d->lowest - scrtop;
  return g < 0 ? 0 : g;
}

// Copies n words from src to dst (either may overlap the other).
void movewords(int64_t dst, int64_t src, int64_t n) {
  if (n <= 0 || dst == src) return;
  if (dst < HIMEM_BASE && src < HIMEM_BASE) {
    std::memmove(lowstk + dst, lowstk + src, static_cast<size_t>(n) * 4);
    return;
  }
  if (dst < src)
    for (int64_t i = 0; i < n; i++) W(dst + i) = W(src + i);
  else
    for (int64_t i = n - 1; i >= 0; i--) W(dst + i) = W(src + i);
}

// A block may move when an owner word names it back and no extra reference
// holds it.
bool movable(const Blk& b) {
  uint32_t own = b.st & BLK_OWNER;
  if (own <= 1 || (b.st >> BLK_REFSHIFT) != 0) return false;
  if (!okadr(own)) return false;
  if (own >= b.at && own < b.at + 2) return false;  // inside its own header
  return W(own) == static_cast<uint32_t>(b.at + 2);
}

// Owners that lie inside a moved block move with it.
void fixowners(int64_t from, int64_t size, int64_t delta) {
  for (StkDesc* d : {&lstk, &hstk}) {
    if (ishigh(d) && !hexists()) continue;
    std::vector<Blk> bl;
    walk(d, &bl);
    for (const Blk& b : bl) {
      uint32_t own = b.st & BLK_OWNER;
      if (own > 1 && own >= from && own < from + size)
        W(b.at + 1) = (b.st & ~BLK_OWNER) | (static_cast<uint32_t>(own + delta) & BLK_OWNER);
    }
  }
}

// After block b has been copied to `to` and the chain's headers are whole
// again: owners inside the old place move with it, and the block's owner
// word gets the new data address.
void repoint(const Blk& b, int64_t to) {
  int64_t delta = to - b.at;
  uint32_t own = b.st & BLK_OWNER;
  fixowners(b.at, b.size, delta);
  if (own >= b.at && own < b.at + b.size) own = static_cast<uint32_t>(own + delta);
  W(to + 1) = (b.st & ~BLK_OWNER) | own;
  W(own) = static_cast<uint32_t>(to + 2);
}

void freehdr(int64_t at, int64_t size) {
  if (size <= 0) return;
  W(at) = static_cast<uint32_t>(size);
  W(at + 1) = 0;
}

// One compaction step over the blocks that `canmove` allows; false when
// nothing more can move.
bool packone(StkDesc* d, bool (*canmove)(const Blk&)) {
  std::vector<Blk> bl;
  if (walk(d, &bl) != chainend(d)) return false;
  int n = static_cast<int>(bl.size());
  if (!ishigh(d)) {
    // Free space goes down towards the gap: fill the highest hole from below.
    for (int i = n - 1; i >= 0; i--) {
      if (bl[i].st != 0) continue;
      const Blk h = bl[i];
      if (i > 0 && canmove(bl[i - 1])) {
        const Blk b = bl[i - 1];
        movewords(b.at + h.size, b.at, b.size);
        freehdr(b.at, h.size);
        repoint(b, b.at + h.size);
        return true;
      }
      // The largest block below that fits; an exact fit wins.
      int best = -1;
      for (int j = 0; j < i - 1; j++) {
        if (!canmove(bl[j]) || bl[j].size > h.size) continue;
        if (best >= 0 && bl[best].size == h.size) break;
        if (best < 0 || bl[j].size == h.size || bl[j].size > bl[best].size) best = j;
      }
      if (best >= 0) {
        const Blk b = bl[best];
        movewords(h.at + h.size - b.size, b.at, b.size);
        freehdr(h.at, h.size - b.size);
        freehdr(b.at, b.size);
        repoint(b, h.at + h.size - b.size);
        return true;
      }
    }
  } else {
    // Free space goes up towards the top: fill the lowest hole from above.
    for (int i = 0; i < n; i++) {
      if (bl[i].st != 0) continue;
      const Blk h = bl[i];
      if (i + 1 < n && canmove(bl[i + 1])) {
        const Blk b = bl[i + 1];
        movewords(h.at, b.at, b.size);
        freehdr(h.at + b.size, h.size);
        repoint(b, h.at);
        return true;
      }
      int best = -1;
      for (int j = i + 2; j < n; j++)
        if (canmove(bl[j]) && bl[j].size <= h.size && (best < 0 || bl[j].size > bl[best].size)) best = j;
      if (best >= 0) {
        const Blk b = bl[best];
        movewords(h.at, b.at, b.size);
        freehdr(h.at + b.size, h.size - b.size);
        freehdr(b.at, b.size);
        repoint(b, h.at);
        return true;
      }
    }
  }
  return false;
}

// Merges free neighbours and gives back a free end block (no reporting).
void settle(StkDesc* d) {
  int64_t last;
  bool bad;
  if (merge(d, &last, &bad) == chainend(d)) giveend(d, last);
}

int32_t largestfree(const StkDesc* d, int64_t gap) {
  std::vector<Blk> bl;
  walk(d, &bl);
  int64_t big = gap;
  for (const Blk& b : bl)
    if (b.st == 0) big = std::max(big, b.size);
  return static_cast<int32_t>(std::min<int64_t>(big, INT32_MAX));
}

// --- held machine pointers -------------------------------------------------
// A reference is -(n)-1 with n = generation << 20 | slot; slot 0 is null.
constexpr int HELD_SLOTBITS = 20;
constexpr uint32_t HELD_SLOTMASK = (1u << HELD_SLOTBITS) - 1;
constexpr uint32_t HELD_GENMASK = 0x3FF;
struct Held {
  void* p;
  uint32_t gen;
  bool used;
};
// The table lives to the end of the process, past the destructors run at
// exit: what a record still holds at exit stays reachable (a leak check
// after exit sees it held, not lost), and a release during exit finds it.
std::vector<Held>& heldtab = *new std::vector<Held>(1, Held{nullptr, 0, false});
std::deque<uint32_t>& heldfree = *new std::deque<uint32_t>;  // released slots, reused oldest first

}  // namespace

// --- low stack ---------------------------------------------------------------

int32_t stksiz(const char* cstack) {
  int64_t size = STK_DEFAULT;
  if (cstack && *cstack) {
    int64_t v = 0;
    bool digits = true;
    for (const char* c = cstack; *c; c++) {
      if (*c < '0' || *c > '9') {
        digits = false;
        break;
      }
      v = std::min<int64_t>(v * 10 + (*c - '0'), 1LL << 40);
    }
    if (digits && v > 2000) size = v;
  }
  size = std::min<int64_t>(size, STK_MAXWORDS);
  return static_cast<int32_t>(size & ~1LL);
}

int MakStk() {
  logprintf("MakStk: %d %d\n", lowstk ? 1 : 0, lstk.end);
  if (lowstk) return STK_DEFAULT;
  int32_t size = stksiz(std::getenv("CSTACK"));
  uint32_t* p = nullptr;
  while (size >= 2000) {
    p = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(size), 4));
    if (p) break;
    size -= 4000;
  }
  if (!p) {
    std::fputs("Abort: cannot allocate stack memory\n", stderr);
    std::exit(1);
  }
  lowstk = p;
  lstk = {size, 0, size, size};
  std::memset(lowstk, 0, 500 * 4);
  scrtop = scrbase = SCRATCH_GAP;
  logprintf("MadeStk: %d %d stkbot=%d\n", size, lstk.lowest, lstk.bot);
  return size;
}

void rststk() {
  int64_t top = (int64_t)lstk.bot + SCRATCH_GAP;
  setscr(static_cast<int32_t>(std::min<int64_t>(top, std::max(lstk.lowest, lstk.bot))));
  htmptop = hexists() ? hstk.end : 0;
  // Packing looks only at free blocks inside either chain: a command that
  // left none costs two tests.
  if (autopack()) {
    top = (int64_t)lstk.bot + SCRATCH_GAP;
    setscr(static_cast<int32_t>(std::min<int64_t>(top, std::max(lstk.lowest, lstk.bot))));
  }
}

void setscr(int32_t top) { scrtop = scrbase = top; }

int getstk(int32_t* addr, int32_t count, int32_t size, int where, int partial) {
  if (!lowstk) MakStk();
  for (bool packed = false;; packed = true) {
    if (count <= 0 || size <= 0) return 0;
    int64_t words = ((int64_t)count * size + 3) / 4;
    if (words < 1) return 0;
    if (words & 1) words++;
    *addr = 0;

    bool flat = hexists() && !hpaged;
    bool cand = where >= 2 || (partial >= 2 && flat);
    bool high = cand && hexists() && hstk.freew > words &&
                (words >= 256 || lstk.freew < 2000 || where >= 3);
    StkDesc* d = high ? &hstk : &lstk;
    if ((trcmsk & TRC_STKCHK) && words > 1000)
      jprintf(lstlun, "GETSTACK Request(%d): %ld Wds at Top %ld\n", high ? 1 : 0, (long)words, (long)d->lowest);

    bool headed = where != 0 && partial == 0;
    if (headed) {
      int32_t got = firstfit(d, words);
      if (got) {
        *addr = got;
        if (trcmsk & TRC_STKCHK) chkstk(0);
        return static_cast<int>(std::min<int64_t>(count, 32767));
      }
    }

    int kind = partial != 0 ? K_SCRATCH : where != 0 ? K_HEADED : K_BOTTOM;
    int64_t gap = gapof(d, kind);
    int64_t items = count;
    if (words > gap) {
      if (!packed) {
        int32_t largest = 0;
        Packstk(d, &largest);
        gap = gapof(d, kind);
        if (words <= gap) continue;
      }
      if (partial > 0) {
        items = gap * 4 / size;
        if (items < 1) return 0;
        words = (items * size + 3) / 4;
        if ((words & 1) && words < gap) words++;
      } else {
        if (!high) packwanted = true;
        error(0, 42);
        if (trcmsk & TRC_STKCHK) finish(13);
        return -1;
      }
    }

    int32_t w = static_cast<int32_t>(words);
    if (partial != 0) {
      if (high) {
        htmptop -= w;
        *addr = htmptop;
      } else {
        *addr = scrtop;
        scrtop += w;
      }
    } else if (where != 0) {
      int32_t hdr;
      if (high) {
        hdr = hstk.bot;
        hstk.bot += w + 2;
      } else {
        lstk.lowest -= w + 2;
        hdr = lstk.lowest;
      }
      W(hdr) = static_cast<uint32_t>(w + 2);
      W(hdr + 1) = 1;
      d->freew -= w + 2;
      *addr = hdr + 2;
      if (trcmsk & TRC_STKCHK) chkstk(0);
    } else {
      // Bottom area. It may grow past the gap left above it for this
      // command only while no scratch buffer lies there: it would be
      // overwritten. The scratch top then moves up with it.
      if ((int64_t)lstk.bot + w > scrbase && scrtop > scrbase) {
        packwanted = true;
        error(0, 42);
        return -1;
      }
      *addr = lstk.bot;
      lstk.bot += w;
      lstk.freew -= w;
      if (scrtop < lstk.bot) setscr(lstk.bot);
    }
    return static_cast<int>(std::min<int64_t>(items, 32767));
  }
}

int putstk(int32_t addr, int32_t count, int32_t size) {
  if (!lowstk || addr < 0) return 0;
  int64_t words = ((int64_t)count * size + 3) / 4;
  int64_t a = addr;
  if (a & 1) {
    a++;
    words--;
  }
  if (words > 0) words &= ~1LL;
  StkDesc* d = a >= HIMEM_BASE ? &hstk : &lstk;
  int64_t released = 0;
  int32_t h = a <= INT32_MAX ? fndstk(static_cast<int32_t>(a)) : 0;
  if (h) {
    uint32_t st = W(h + 1);
    if (st == 0) return 0;  // already free
    if ((st >> BLK_REFSHIFT) > 0) {
      W(h + 1) = st - (1u << BLK_REFSHIFT);
      return 0;
    }
    int64_t s = static_cast<int32_t>(W(h));
    int64_t bend = h + s;
    if (a <= h + 2) {
      W(h + 1) = 0;
      released = s;
      if (aliasmade) unalias(h + 2, bend);
    } else {
      W(h) = static_cast<uint32_t>(a - h);
      freehdr(a, bend - a);
      released = bend - a;
      if (aliasmade) unalias(a, bend);
    }
    d->freew += static_cast<int32_t>(released);
    tidy(d, addr, count, size, h);
  } else if (d == &lstk && a == lstk.bot && words > 0) {
    released = std::min<int64_t>(words, lstk.bot);
    lstk.bot -= static_cast<int32_t>(released);
    lstk.freew += static_cast<int32_t>(released);
  }
  if (trcmsk & TRC_STKCHK) chkstk(0);
  return 0;
}

int32_t fndstk(int32_t addr) {
  if (!lowstk) return 0;
  const StkDesc* d;
  if (addr >= HIMEM_BASE) {
    if (!hexists()) return 0;
    d = &hstk;
  } else {
    d = &lstk;
  }
  int64_t end = chainend(d);
  if (addr < d->lowest || addr >= end) return 0;
  int64_t p = d->lowest;
  while (p < end) {
    int64_t s = p + 2 <= end ? static_cast<int32_t>(W(p)) : 0;
    if (s < 1) {
      jprintf(errlun, "Fndstk: %ld > %ld (%ld,%ld,%ld)\n", (long)addr, (long)p, (long)s, (long)d->lowest,
              (long)end);
      error(98, 89);
      return 0;
    }
    if (p + s > addr) return static_cast<int32_t>(p);
    p += s;
  }
  return 0;
}

int ptrstk(int32_t addr, int32_t owner) {
  int32_t h = fndstk(addr);
  if (!h) return 0;
  uint32_t st = W(h + 1);
  if (st == 0) return 0;  // a free block has no owner
  if ((st & BLK_OWNER) > 1) {
    if ((st >> BLK_REFSHIFT) < 15) W(h + 1) = st + (1u << BLK_REFSHIFT);
  } else if (owner > 1 && static_cast<uint32_t>(owner) <= BLK_OWNER) {
    W(h + 1) = static_cast<uint32_t>(owner);
  }
  return 0;
}

void putblks(const int32_t* addrs, size_t n) {
  if (!lowstk || n == 0) return;
  // The block that holds each address (0: none), found in one walk of each
  // chain over the addresses in order.
  std::vector<std::pair<int32_t, size_t>> byat;
  byat.reserve(n);
  for (size_t i = 0; i < n; i++)
    if (addrs[i] > 0) byat.push_back({addrs[i], i});
  std::sort(byat.begin(), byat.end());
  std::vector<int64_t> hdr(n, 0);
  bool plain = true;  // every block found whole and of a sound size
  size_t k = 0;
  for (StkDesc* d : {&lstk, &hstk}) {
    if (ishigh(d) && !hexists()) continue;
    const int64_t end = chainend(d);
    int64_t p = d->lowest;
    while (k < byat.size() && byat[k].first < p) k++;
    while (k < byat.size() && byat[k].first < end) {
      const int64_t s = p + 2 <= end ? static_cast<int32_t>(W(p)) : 0;
      if (s < 4) {
        plain = false;
        break;
      }
      for (; k < byat.size() && byat[k].first < std::min(p + s, end); k++) hdr[byat[k].second] = p;
      p += s;
    }
    while (k < byat.size() && byat[k].first < end) k++;
  }
  if (!plain) {
    // A broken chain (or a block too small to hold data): each block as
    // freblk frees it, with the same reports.
    for (size_t i = 0; i < n; i++) {
      if (addrs[i] <= 0) continue;
      if (int32_t h = fndstk(addrs[i]); h > 0) putstk(h + 2, 0, 0);
    }
    return;
  }
  bool freed[2] = {false, false};
  int32_t lastat[2] = {0, 0};
  for (size_t i = 0; i < n; i++) {
    const int64_t h = hdr[i];
    if (h <= 0) continue;
    const uint32_t st = W(h + 1);
    if (st == 0) continue;  // already free
    if ((st >> BLK_REFSHIFT) > 0) {
      W(h + 1) = st - (1u << BLK_REFSHIFT);
      continue;
    }
    W(h + 1) = 0;
    if (aliasmade) unalias(h + 2, h + static_cast<int32_t>(W(h)));
    const bool high = h >= HIMEM_BASE;
    (high ? hstk : lstk).freew += static_cast<int32_t>(W(h));
    freed[high] = true;
    lastat[high] = static_cast<int32_t>(h);
  }
  if (freed[0]) tidy(&lstk, lastat[0] + 2, 0, 0, lastat[0]);
  if (freed[1]) tidy(&hstk, lastat[1] + 2, 0, 0, lastat[1]);
  if (trcmsk & TRC_STKCHK) chkstk(0);
}

int ownnew(int32_t addr, int32_t owner) {
  // A block just taken is in use with no owner (state 1); anything else
  // is looked up as ptrstk does.
  if (!lowstk || !okadr(addr - 2) || !okadr(addr) || W(addr - 1) != 1) return ptrstk(addr, owner);
  if (owner > 1 && static_cast<uint32_t>(owner) <= BLK_OWNER) W(addr - 1) = static_cast<uint32_t>(owner);
  return 0;
}

void* zeroblk(int32_t size) {
  int32_t bytes = size & 0x7FFE;
  bool scratch = size & 1;
  if (bytes <= 0) return nullptr;
  if (scratch && lowstk && !(trcmsk & TRC_STKCHK)) {
    // The common case, a small scratch block that fits above the scratch
    // top: taken in place, as getstk would take it.
    int32_t words = (bytes + 3) / 4;
    words += words & 1;
    if ((int64_t)lstk.lowest - scrtop >= words) {
      uint32_t* p = lowstk + scrtop;
      std::memset(p, 0, static_cast<size_t>((bytes + 3) / 4) * 4);
      p[0] = static_cast<uint32_t>(scrtop);
      scrtop += words;
      return p;
    }
  }
  int32_t a = 0, saved = scrtop;
  int n = getstk(&a, bytes, 1, scratch ? 0 : 1, scratch ? 1 : 0);
  if (n < bytes || a == 0) {
    if (scratch) scrtop = saved;  // a short scratch take is given back
    return nullptr;
  }
  uint32_t* p = lowstk + a;
  std::memset(p, 0, static_cast<size_t>((bytes + 3) / 4) * 4);
  p[0] = static_cast<uint32_t>(a);
  return p;
}

void* getbuf(int32_t bytes) {
  if (bytes < 0) return nullptr;
  if (!lowstk) MakStk();
  if (bytes == 0) return lowstk + std::min(scrtop, lstk.end);
  if (bytes <= 0x7FFE && !(trcmsk & TRC_STKCHK)) {
    int32_t words = (bytes + 3) / 4;
    words += words & 1;
    if ((int64_t)lstk.lowest - scrtop >= words) {
      // Fits above the scratch top: taken in place, as getstk would.
      uint32_t* p = lowstk + scrtop;
      scrtop += words;
      return p;
    }
  }
  int32_t a = 0;
  int n = getstk(&a, bytes, 1, 0, -1);
  if (n <= 0 || a == 0) return nullptr;
  return lowstk + a;
}

int frebuf(void* p) {
  if (!p) return 0;
  int32_t a = stkadr(p);
  if (a < 0) return 0;
  putstk(a, 0, 0);
  return 0;
}

// Heap memory marked by the word in front of the caller's data: -1 heap,
// 0 scratch area (dropped with the scratch area).
void* getmem(size_t bytes) {
  if (bytes > 0x7FFFFFF0u) return nullptr;
  size_t rounded = (bytes + 7) & 0x7FFFFFFCu;
  char* h = static_cast<char*>(std::malloc(rounded + 12));
  if (h) {
    reinterpret_cast<uint32_t*>(h)[3] = 0xFFFFFFFFu;
    return h + 16;
  }
  if (!lowstk) return nullptr;
  int64_t words = static_cast<int64_t>(rounded / 4);
  if (words > (int64_t)lstk.lowest - scrtop) return nullptr;
  uint32_t* p = lowstk + scrtop;
  scrtop += static_cast<int32_t>(words);
  p[0] = 0;
  return p + 1;
}

int fremem(void* p) {
  if (!p) return 0;
  uint32_t* w = static_cast<uint32_t*>(p);
  if (w[-1] == 0xFFFFFFFFu) std::free(static_cast<char*>(p) - 16);
  return 0;
}

void* grbstk(uint32_t* bytes, int share) {
  if (bytes) *bytes = 0;
  if (!lowstk) MakStk();
  int64_t gap = std::max<int64_t>(0, (int64_t)lstk.lowest - scrtop);
  bool high = false;
  if (share >= 0 && hexists() && !hpaged) {
    int64_t hg = (int64_t)htmptop - hstk.bot;
    if (hg > gap) {
      gap = hg;
      high = true;
    }
  }
  int64_t words = gap;
  if (share == 2 || share == -2) {
    words = gap / 2;
  } else {
    int64_t m = share >= 0 ? share : -(int64_t)share - 1;
    if (m >= 4) words = std::min<int64_t>(gap, m / 4);
  }
  if (words < 1) return nullptr;
  uint32_t* p;
  if (high) {
    htmptop -= static_cast<int32_t>(words);
    p = hflat + (htmptop - HIMEM_BASE);
  } else {
    p = lowstk + scrtop;
    scrtop += static_cast<int32_t>(words);
  }
  if (bytes) *bytes = static_cast<uint32_t>(words * 4);
  return p;
}

int stkfre(uint32_t* bytes) {
  int64_t g = lowstk ? std::max<int64_t>(0, (int64_t)lstk.lowest - scrtop) : 0;
  if (bytes) *bytes = static_cast<uint32_t>(g * 4);
  return 0;
}

int32_t maxfre() {
  if (!lowstk) return 0;
  int32_t big = largestfree(&lstk, std::max<int64_t>(0, (int64_t)lstk.lowest - lstk.bot));
  if (hexists()) big = std::max(big, largestfree(&hstk, std::max<int64_t>(0, (int64_t)hstk.end - hstk.bot)));
  return big;
}

// --- addresses and pointers --------------------------------------------------

void* stkptr(int32_t addr) {
  if (addr < 0) return heldptr(addr);
  if (addr >= HIMEM_BASE) {
    if (hpaged) return mapstk(addr, 0);
    if (hexists() && hflat && addr < hstk.end) return hflat + (addr - HIMEM_BASE);
    return badhigh(addr, 0);
  }
  if (lowstk && addr < lstk.end) return lowstk + addr;
  return badword(44);
}

uint32_t* stkwp(int32_t addr) {
  if (addr < 1) return nullptr;
  return static_cast<uint32_t*>(stkptr(addr));
}

int32_t stkadr(const void* p) {
  if (!p) return -1;
  uintptr_t u = reinterpret_cast<uintptr_t>(p);
  if (lowstk) {
    uintptr_t b = reinterpret_cast<uintptr_t>(lowstk);
    if (u >= b && u < b + static_cast<uintptr_t>(lstk.end) * 4) return static_cast<int32_t>((u - b) / 4);
  }
  if (hexists() && !hpaged && hflat) {
    uintptr_t b = reinterpret_cast<uintptr_t>(hflat);
    uintptr_t n = static_cast<uintptr_t>(hstk.end - HIMEM_BASE);
    if (u >= b && u < b + n * 4) return static_cast<int32_t>(HIMEM_BASE + (u - b) / 4);
  }
  return -1;
}

uint32_t* mapstk(int32_t addr, int frame) {
  int64_t o = (int64_t)addr - HIMEM_BASE;
  if (o >= 0 && hexists()) {
    if (hpaged) {
      int64_t page = o >> 12;
      if (hpgtab && hpgused > 0 && page + 1 >= 1 && page + 1 <= hpgused) return hpgtab[page] + (o & 0xFFF);
    } else if (hflat && addr < hstk.end) {
      return hflat + o;
    }
  }
  return badhigh(addr, frame);
}

int mappag() {
  if (++hframe >= 4) hframe = 1;
  return hframe;
}

// --- held machine pointers -------------------------------------------------

int32_t holdptr(void* p) {
  if (!p) return -1;
  uint32_t slot;
  if (!heldfree.empty()) {
    slot = heldfree.front();
    heldfree.pop_front();
  } else {
    if (heldtab.size() > HELD_SLOTMASK) {
      error(0, 42);
      return -1;
    }
    slot = static_cast<uint32_t>(heldtab.size());
    heldtab.push_back(Held{nullptr, 1, false});
  }
  Held& h = heldtab[slot];
  h.p = p;
  h.used = true;
  uint32_t n = (h.gen << HELD_SLOTBITS) | slot;
  return -static_cast<int32_t>(n) - 1;
}

void* heldptr(int32_t ref) {
  if (ref >= -1) return nullptr;
  uint32_t n = static_cast<uint32_t>(-(int64_t)ref - 1);
  uint32_t slot = n & HELD_SLOTMASK, gen = n >> HELD_SLOTBITS;
  if (slot == 0 || slot >= heldtab.size()) return nullptr;
  const Held& h = heldtab[slot];
  return h.used && h.gen == gen ? h.p : nullptr;
}

void dropptr(int32_t ref) {
  if (!heldptr(ref)) return;
  uint32_t slot = static_cast<uint32_t>(-(int64_t)ref - 1) & HELD_SLOTMASK;
  Held& h = heldtab[slot];
  h.p = nullptr;
  h.used = false;
  h.gen = h.gen % HELD_GENMASK + 1;  // 1..1023: the old reference goes stale
  heldfree.push_back(slot);
}

// --- compaction, checks and the watchpoint -----------------------------------

int Packstk(StkDesc* d, int32_t* largest) {
  if (!(trcmsk & TRC_STKPACK) || !lowstk || !d) return 0;
  if (ishigh(d) && !hexists()) return 0;
  int moves = 0;
  for (;;) {
    chkio(0);
    if (state & 0x8180) break;
    if (!packone(d, movable)) break;
    settle(d);
    moves++;
  }
  settle(d);
  int64_t gap = ishigh(d) ? (int64_t)htmptop - d->bot : (int64_t)d->lowest - scrtop;
  int32_t big = largestfree(d, std::max<int64_t>(0, gap));
  if (largest && big > *largest) *largest = big;
  return moves;
}

int chkstk(int which) {
  int bad = 0;
  if (!lowstk) return 0;
  if (which == 0) {
    for (const StkDesc* d : {&lstk, &hstk}) {
      if (d->end <= 0) continue;
      int64_t last = walk(d, nullptr);
      if (last != chainend(d)) {
        jprintf(dbglun, "Stack %s (%ld,%ld)\n", "corrupted", (long)last, (long)chainend(d));
        bad++;
      }
    }
    return bad;
  }
  for (int k = 1; k <= 2; k++) {
    if (!(which & k)) continue;
    const StkDesc* d = k == 1 ? &lstk : &hstk;
    if (d->end <= 0) continue;
    int64_t base = k == 1 ? 0 : HIMEM_BASE;
    jprintf(lstlun, "Stack %d    Size: %ld   Total Free: %ld\n", k, (long)(d->end - base), (long)d->freew);
    if (k == 1) {
      jprintf(lstlun, "%7ld -> %7ld  Symbol tables\n", 0L, (long)d->bot - 1);
      jprintf(lstlun, "%7ld -> %7ld  Unused stack\n", (long)d->bot, (long)d->lowest - 1);
      jprintf(lstlun, "%7ld -> %7ld  Allocated\n", (long)d->lowest, (long)d->end - 1);
    } else {
      jprintf(lstlun, "%7ld -> %7ld  Unused stack\n", (long)d->bot, (long)d->end - 1);
      jprintf(lstlun, "%7ld -> %7ld  Allocated\n", (long)d->lowest, (long)d->bot - 1);
    }
    std::vector<Blk> bl;
    int64_t last = walk(d, &bl);
    jprintf(lstlun, "Alloc list:\n");
    size_t n = bl.size(), rows = (n + 2) / 3;
    for (size_t r = 0; r < rows; r++) {
      for (size_t c = 0; c < 3; c++) {
        size_t i = r + c * rows;
        if (i >= n) break;
        jprintf(lstlun, "  %6ld(%5ld,%5ld,%2d)", (long)bl[i].at, (long)bl[i].size, (long)(bl[i].st & BLK_OWNER),
                (int)(bl[i].st >> BLK_REFSHIFT));
      }
      jprintf(lstlun, "\n");
    }
    bool ok = last == chainend(d);
    if (!ok) bad++;
    jprintf(lstlun, "Stack %s (%ld,%ld)\n", ok ? "okay" : "corrupted", (long)last, (long)chainend(d));
  }
  return bad;
}

int trpstk(int32_t addr) {
  if (addr >= 0) {
    if (addr == 0) {
      stktrap = 0;
    } else if (okadr(addr)) {
      stktrap = addr;
      trapval = W(addr);
    }
    return 0;
  }
  if (stktrap <= 0 || !okadr(stktrap)) return 0;
  uint32_t v = W(stktrap);
  if (v == trapval) return 0;
  jprintf(dbglun, "Trapped stack - Addr %d: %d -> %d", stktrap, static_cast<int32_t>(trapval),
          static_cast<int32_t>(v));
#ifdef PELIX_HAVE_MACRO_STATE
  if (macmod)
    jprintf(dbglun, "   on line %5d of %s\n", maclin, macnam());
  else
#endif
    jprintf(dbglun, "\n");
  trapval = v;
  return 1;
}

// --- high memory -------------------------------------------------------------

namespace {

void hnone() {
  hstk = {HIMEM_BASE, HIMEM_BASE, 0, 0};
  htmptop = 0;
}

// Flat form: one block of at most min(kbytes x 1024, available) bytes.
void hflatmake(int32_t kbytes, uint32_t avail, bool talk) {
  uint64_t maxbytes = static_cast<uint64_t>(HIMEM_LIMIT - HIMEM_BASE) * 4;
  uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(kbytes) * 1024, avail);
  uint64_t bytes = std::min(want, maxbytes) & ~7ULL;
  uint64_t floor = want <= 100 ? 0 : 100;
  void* h = nullptr;
  int32_t err = -1;
  while (bytes > floor && bytes >= 8) {
    h = newhdl(static_cast<size_t>(bytes), &err);
    if (h) break;
    bytes = static_cast<uint64_t>(static_cast<double>(bytes) * 0.8) & 0x7FFFFFFFFFFFFFF8ULL;
  }
  if (!h) {
    if (talk)
      jprintf(errlun, "Mem alloc error: Tot=%ld Wds=%ld Err=%d Hdl=%ld\n", (long)avail,
              (long)((int64_t)kbytes * 256), (int)err, 0L);
    error(0, 125);
    return;
  }
  hflathdl = h;
  hflat = static_cast<uint32_t*>(hdlptr(h));
#ifdef MADV_HUGEPAGE
  {
    // Whole-array operations stream through this block: huge pages save
    // most of the page faults and TLB misses.
    constexpr uintptr_t HUGE = uintptr_t(2) << 20;
    uintptr_t lo = (reinterpret_cast<uintptr_t>(hflat) + HUGE - 1) & ~(HUGE - 1);
    uintptr_t hi = (reinterpret_cast<uintptr_t>(hflat) + bytes) & ~(HUGE - 1);
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
  }
#endif
  hpaged = false;
  int32_t words = static_cast<int32_t>(bytes / 4);
  hstk = {HIMEM_BASE, HIMEM_BASE, words, HIMEM_BASE + words};
  htmptop = hstk.end;
  if (talk) {
    jprintf(lstlun, "    Allocate %ld bytes of high memory, of %ld available\n", (long)bytes, (long)avail);
    jprintf(lstlun, "    High memory allocated in a single contiguous block\n");
  }
}

// Whether any headed block of flat high memory is in use.
bool hflatused() {
  std::vector<Blk> bl;
  walk(&hstk, &bl);
  for (const Blk& b : bl)
    if (b.st != 0) return true;
  return false;
}

void hflatfree() {
  dsphdl(hflathdl);
  hflathdl = nullptr;
  hflat = nullptr;
  hnone();
}

// Paged form: pages come in order from one reserved range, committed and
// released page by page.
bool hpgnew(uint16_t index) {
  if (!hpgbase) {
    void* r = mmap(nullptr, static_cast<size_t>(MAX_HPAGES) * HPAGE_BYTES, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (r == MAP_FAILED) return false;
    hpgbase = static_cast<char*>(r);
  }
  char* pg = hpgbase + static_cast<size_t>(index) * HPAGE_BYTES;
  if (mprotect(pg, HPAGE_BYTES, PROT_READ | PROT_WRITE) != 0) return false;
  std::memset(pg, 0, HPAGE_BYTES);
  hpgtab[index] = reinterpret_cast<uint32_t*>(pg);
  return true;
}

void hpgdrop(uint16_t index) {
  char* pg = reinterpret_cast<char*>(hpgtab[index]);
  madvise(pg, HPAGE_BYTES, MADV_DONTNEED);
  mprotect(pg, HPAGE_BYTES, PROT_NONE);
  hpgtab[index] = nullptr;
}

void hpaging(int32_t kbytes, uint32_t avail, uint32_t total, bool talk) {
  bool existed = hexists();
  int64_t wanted = kbytes > 0 ? kbytes / 16 : 0;
  int64_t availpg = avail / 16384;
  wanted = std::min<int64_t>(wanted, availpg + hpgused - 1);
  if (hpgused > 0 && kbytes >= 0) {
    // Keep every page the headed blocks reach, including a partly used one.
    int64_t reach = ((int64_t)hstk.bot - HIMEM_BASE + HPAGE_WORDS - 1) / HPAGE_WORDS;
    wanted = std::max(wanted, reach);
  }
  wanted = std::clamp<int64_t>(wanted, 0, MAX_HPAGES);
  while (hpgused > wanted) hpgdrop(--hpgused);
  if (hpgcap < wanted) {
    auto** t = static_cast<uint32_t**>(std::calloc(static_cast<size_t>(wanted), sizeof(uint32_t*)));
    if (!t) {
      error(0, 125);
      return;
    }
    if (hpgtab) std::memcpy(t, hpgtab, hpgused * sizeof(uint32_t*));
    std::free(hpgtab);
    hpgtab = t;
    hpgcap = static_cast<uint16_t>(wanted);
  }
  int made = 0;
  while (hpgused < wanted) {
    if (!hpgnew(hpgused)) {
      error(0, 125);
      break;
    }
    hpgused++;
    made++;
  }
  if (made && talk)
    jprintf(lstlun, "High memory:\n Request %d kbytes of %d available (%d total)\n", kbytes, (int)(avail / 1024),
            (int)(total / 1024));
  int64_t oldend = existed ? hstk.end : HIMEM_BASE;
  if (!existed) hstk = {HIMEM_BASE, HIMEM_BASE, 0, 0};
  int64_t newend = (int64_t)hpgused * HPAGE_WORDS + HIMEM_BASE;
  if (hpgused == 0) {
    std::free(hpgtab);
    hpgtab = nullptr;
    hpgcap = 0;
    hpaged = false;
    hnone();
    return;
  }
  if (hstk.bot > newend) hstk.bot = static_cast<int32_t>(newend);  // only when everything was freed
  hstk.freew = static_cast<int32_t>(hstk.freew + (newend - oldend));
  hstk.end = static_cast<int32_t>(newend);
  hpaged = true;
  if (!existed || htmptop > hstk.end || htmptop < hstk.bot) htmptop = hstk.end;
  if (talk) jprintf(lstlun, "  Allocate %d Kb in %d %dKb pages (%d page frames)\n", hpgused * 16, (int)hpgused, 16, 4);
}

}  // namespace

bool hipaged() { return hexists() && hpaged; }

int highmem(int32_t kbytes) {
  bool talk = !(state & ST_STARTUP);
  uint32_t avail = 0, total = 0;
  if (kbytes > 0) memfree(&avail, &total);
  bool paged = hexists() ? hpaged : (himemflag & 2) != 0;
  if (!paged) {
    if (!hexists()) {
      if (kbytes > 0) hflatmake(kbytes, avail, talk);
    } else if (kbytes < 0) {
      hflatfree();  // shutdown
    } else if (int64_t(kbytes) * 256 != int64_t(hstk.end) - HIMEM_BASE) {
      // The block cannot move or shrink under the variables it holds: they
      // keep their addresses, so freeing it or asking another size is
      // refused while they are there. Empty, 0 frees it; another size does
      // nothing (0 first, then the size).
      if (hflatused())
        error(0, 124);
      else if (kbytes == 0)
        hflatfree();
    }
  } else {
    hpaging(kbytes, avail, total, talk);
  }
  hstack_end = hstk.end;
  return 0;
}

// --- heap wrappers -----------------------------------------------------------

void* xalloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

void* xcalloc(size_t count, size_t size) { return std::calloc(count ? count : 1, size ? size : 1); }

int xfree(void* p) {
  std::free(p);
  return 0;
}

void* cmallc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

void* ccallc(size_t count, size_t size) { return std::calloc(count ? count : 1, size ? size : 1); }

void hfree(void* p) {
  if (p) std::free(p);
}

void* xrealloc(void* p, size_t bytes) { return std::realloc(p, bytes ? bytes : 1); }

// The first slot of the block points at the data 16 bytes on, which keeps
// the data aligned for any type.
void* newhdl(size_t bytes, int32_t* err) {
  void* h = nullptr;
  if (bytes <= SIZE_MAX - 16) h = std::calloc(1, bytes + 16);
  if (h) *static_cast<void**>(h) = static_cast<char*>(h) + 16;
  if (err) *err = h ? 0 : -1;
  return h;
}

void dsphdl(void* h) { std::free(h); }

int memfree(uint32_t* avail, uint32_t* total) {
  uint64_t av = 0, tot = 0;
  bool haveav = false, havetot = false;
  if (FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    unsigned long long kb;
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
        av = kb * 1024ULL;
        haveav = true;
      } else if (std::sscanf(line, "MemTotal: %llu kB", &kb) == 1) {
        tot = kb * 1024ULL;
        havetot = true;
      }
    }
    std::fclose(f);
  }
  if (!haveav || !havetot) {
    struct sysinfo si {};
    if (sysinfo(&si) == 0) {
      if (!haveav) av = static_cast<uint64_t>(si.freeram) * si.mem_unit;
      if (!havetot) tot = static_cast<uint64_t>(si.totalram) * si.mem_unit;
    }
  }
  if (avail) *avail = static_cast<uint32_t>(std::min<uint64_t>(av, 0xFFFFFFFFULL));
  if (total) *total = static_cast<uint32_t>(std::min<uint64_t>(tot, 0xFFFFFFFFULL));
  return 0;
}
