// Compaction of the word memory between commands.
//
// At the start of each command (and so of each line of a loop or macro) no
// prepared record holds an address into a headed block: variable data may
// move then. Whenever a stack has free blocks inside its chain, the blocks
// whose every reference is known move into them, so that the free words
// gather in the stack's free gap and a request that the free words can
// meet is met. A block moves with every word that refers to it:
//  - the data of a number, string or plain array, a defined name's text, a
//    matrix's, image's or solid's header block (with the items inside it)
//    or its items in high memory, a string or image list's element table,
//    and a pointer variable's record: owned by an entry of a symbol table in
//    reach (the running macro's table out to the system table); aliases made
//    by `declare ... = target` (entries that do not own their data) follow
//    the block they point into;
//  - a list element: owned by its slot in the element table, which holds
//    the element's offset from the table;
//  - a block registered through stkslot (a queued command text, a typed
//    loop's text): the word outside the word memory that holds its address.
//  - a matrix's, image's or solid's transform record, named by its header;
//  - the items of a matrix, image or solid that other matrices, images or
//    solids name through `declare ... = target` (each such header holds one
//    extra reference to the block): the headers' items words follow.
// Any other block stays where it is (no owner, other extra references,
// records with block buffers or files); free blocks it leaves are filled by
// blocks from further down that fit.
#include "core/memory.h"

#include "core/symbols.h"
#include "core/varbl.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

bool packwanted = false;

namespace {

struct Slot {
  int32_t* word;
  bool (*may)();
};
std::vector<Slot>& slotlist() {
  static auto* v = new std::vector<Slot>;
  return *v;
}

struct Blk {
  int64_t at;
  int64_t size;
  uint32_t st;
  int64_t to;  // where it goes (at when it stays)
  bool mv;     // it may move
};

bool hexists() { return hstk.end > 0; }

// Word a of either stack.
inline uint32_t& W(int64_t a) { return *wordp(static_cast<int32_t>(a)); }

// Copies n words from src to dst, either overlapping the other, page run
// by page run in paged high memory.
void movewds(int64_t dst, int64_t src, int64_t n) {
  if (n <= 0 || dst == src) return;
  if (dst < HIMEM_BASE || !hipaged()) {
    std::memmove(&W(dst), &W(src), static_cast<size_t>(n) * 4);
    return;
  }
  auto run = [](int64_t a, int64_t left) {
    return std::min<int64_t>(left, HPAGE_WORDS - ((a - HIMEM_BASE) & (HPAGE_WORDS - 1)));
  };
  if (dst < src) {
    for (int64_t i = 0; i < n;) {
      int64_t k = std::min(run(dst + i, n - i), run(src + i, n - i));
      std::memmove(&W(dst + i), &W(src + i), static_cast<size_t>(k) * 4);
      i += k;
    }
  } else {
    for (int64_t i = n; i > 0;) {
      // The run that ends at word i - 1 of both.
      int64_t kd = ((dst + i - 1 - HIMEM_BASE) & (HPAGE_WORDS - 1)) + 1;
      int64_t ks = ((src + i - 1 - HIMEM_BASE) & (HPAGE_WORDS - 1)) + 1;
      int64_t k = std::min({kd, ks, i});
      std::memmove(&W(dst + i - k), &W(src + i - k), static_cast<size_t>(k) * 4);
      i -= k;
    }
  }
}

// Calls f(entry address, entry) for every entry of the tables in reach.
template <class F>
void eachent(F f) {
  int32_t t = cursym;
  for (int guard = 0; t > 0 && t < lstk.bot && guard < 4096; guard++) {
    const SymTab* h = tabptr(t);
    if (!h || h->marker != SYMMARK) break;
    const uint32_t n = h->count;
    const int32_t link = h->link;
    for (uint32_t i = 0; i < n; i++) {
      const int32_t e = symadr(t, static_cast<int>(i));
      if (static_cast<int64_t>(e) + SYMWDS > lstk.bot) break;
      SymEnt* s = symptr(e);
      if (s && s->flags) f(e, s);
    }
    t = link;
  }
}

bool hdrkind(uint16_t flags) { return (flags & K_HDR) && !(flags & (K_VECTOR | K_LIST)); }
bool listkind(uint16_t flags) { return (flags & SY_LIST) && !(flags & SY_VECTOR); }
bool ptrkind(uint16_t flags) { return (flags & 0x17F0) == SY_VAR; }

class Pack {
 public:
  explicit Pack(StkDesc* d) : d_(d), high_(d == &hstk) {}

  // Moves what may move; false when the chain is not sound.
  bool run() {
    if (!walk()) return false;
    classify();
    if (!plan()) return true;
    // Moves go away from the free gap's side: each block's place is free
    // by the time it is taken.
    if (high_) {
      for (const Blk& b : bl_)
        if (b.mv && b.to != b.at) movewds(b.to, b.at, b.size);
    } else {
      for (auto b = bl_.rbegin(); b != bl_.rend(); ++b)
        if (b->mv && b->to != b->at) movewds(b->to, b->at, b->size);
    }
    fixup();
    rechain();
    return true;
  }

 private:
  StkDesc* d_;
  bool high_;
  std::vector<Blk> bl_;
  std::vector<uint32_t> aref_;  // per block: headers of aliases into it
  int64_t first_ = 0, end_ = 0;  // the chain's first block and its end

  bool walk() {
    first_ = d_->lowest;
    end_ = high_ ? d_->bot : d_->end;
    int64_t p = first_;
    while (p < end_) {
      if (p + 2 > end_) return false;
      int64_t s = static_cast<int32_t>(W(p));
      if (s < 2 || (s & 1) || p + s > end_) return false;
      bl_.push_back({p, s, W(p + 1), p, false});
      p += s;
    }
    return p == end_;
  }

  // The block that holds address a, or -1.
  int find(int64_t a) const {
    if (a < first_ || a >= end_) return -1;
    auto it = std::upper_bound(bl_.begin(), bl_.end(), a, [](int64_t v, const Blk& b) { return v < b.at; });
    if (it == bl_.begin()) return -1;
    --it;
    return a < it->at + it->size ? static_cast<int>(it - bl_.begin()) : -1;
  }

  // Block k whose data starts at a, owned by word own with no extra
  // reference but those of the headers counted in aref_ (own 1: owned by
  // no word); -1 otherwise.
  int owned(int64_t a, uint32_t own) const {
    int k = find(a);
    if (k < 0 || bl_[k].at + 2 != a || (bl_[k].st & BLK_OWNER) != own) return -1;
    const uint32_t refs = bl_[k].st >> BLK_REFSHIFT;
    if (refs != 0 && (refs >= 15 || refs != aref_[k])) return -1;
    return k;
  }

  // A matrix, image or solid made by declare ... = target has a header of
  // its own whose items word points into the target's block, and that
  // block holds one extra reference for each such header: counted here, so
  // that a block whose extra references are all such headers moves (fixup
  // moves each header's items word with it).
  void aliasrefs() {
    aref_.assign(bl_.size(), 0);
    eachent([this](int32_t, SymEnt* s) {
      if (!(s->flags & SY_VAR) || (s->flags & SY_NOTOWN) || !hdrkind(s->flags)) return;
      const int32_t data = s->data;
      if (data <= 0 || data >= HIMEM_BASE || data + 5 > lstk.end) return;
      const int64_t items = static_cast<int32_t>(W(data + 3));
      if (items == data + 5) return;
      const int k = find(items);
      if (k < 0) return;
      // Items in a block of their own, which the header owns.
      if (bl_[k].at + 2 == items && (bl_[k].st & BLK_OWNER) == static_cast<uint32_t>(data + 3)) return;
      aref_[k]++;
    });
  }

  void mark(int k) {
    if (k >= 0) bl_[k].mv = true;
  }

  void classify() {
    aliasrefs();
    eachent([this](int32_t e, SymEnt* s) {
      const uint16_t f = s->flags;
      if (f & SY_NOTOWN) return;  // an alias: it follows its block
      const int32_t data = s->data;
      if (data <= 0) return;
      if ((f & SY_DEFINE) && !(f & SY_VAR)) {
        mark(owned(data, static_cast<uint32_t>(e + 1)));
        return;
      }
      if (!(f & SY_VAR)) return;
      if (listkind(f)) {
        listels(data, s->value);
        mark(owned(data, static_cast<uint32_t>(e + 1)));
        return;
      }
      if (f & SY_VECTOR) {
        // A list of vectors: its record, and the block of records that the
        // record's Addr word owns.
        if (!(f & SY_MATRIX) || !lonerec(data, e)) return;
        mark(owned(data, static_cast<uint32_t>(e + 1)));
        mark(owned(ptrrec(data)->Addr, static_cast<uint32_t>(data + PR_ADDR)));
        return;
      }
      if (hdrkind(f)) {
        // The header block, the items it owns in high memory, and its
        // transform record (a block of no owner that names itself, named
        // by the header's fifth word alone).
        mark(owned(data, static_cast<uint32_t>(e + 1)));
        if (data < HIMEM_BASE && data + 5 <= lstk.end) {
          const int64_t items = W(data + 3);
          if (items != data + 5) mark(owned(items, static_cast<uint32_t>(data + 3)));
          const int64_t xf = static_cast<int32_t>(W(data + 4));
          if (const int k = owned(xf, 1); k >= 0 && W(xf) == static_cast<uint32_t>(xf)) mark(k);
        }
        return;
      }
      if (ptrkind(f)) {
        if (lonerec(data, e)) mark(owned(data, static_cast<uint32_t>(e + 1)));
        return;
      }
      if (f & (SY_NUMBER | SY_STRING | SY_ARRAY)) mark(owned(data, static_cast<uint32_t>(e + 1)));
    });
    for (const Slot& w : slotlist())
      if (!w.may || w.may()) mark(owned(*w.word, 1));
    // The items of a matrix, image or solid undeclared or released while
    // such headers name them: kept for those headers alone (its owner word
    // no longer holds its address; the first free took one reference), they
    // move with them.
    for (size_t k = 0; k < bl_.size(); k++) {
      Blk& b = bl_[k];
      const uint32_t refs = b.st >> BLK_REFSHIFT, own = b.st & BLK_OWNER;
      if (b.mv || b.st == 0 || aref_[k] == 0 || refs >= 15 || refs + 1 != aref_[k] || own <= 1) continue;
      const int64_t o = own;
      const bool inlow = o < lstk.end, inhigh = hexists() && o >= HIMEM_BASE && o < hstk.end;
      if ((inlow || inhigh) && W(o) != static_cast<uint32_t>(b.at + 2)) b.mv = true;
    }
  }

  // Whether data holds a record that entry e owns alone in a low-stack
  // block of its own size, that names itself and has no block buffers, file
  // or argument list.
  static bool lonerec(int32_t data, int32_t e) {
    constexpr int32_t words = sizeof(PtrRec) / 4;
    if (data < 3 || data + words > lstk.end) return false;
    if (W(data - 2) != static_cast<uint32_t>(words + 2) || W(data - 1) != static_cast<uint32_t>(e + 1)) return false;
    const PtrRec* r = ptrrec(data);
    return r->PTR == static_cast<uint32_t>(data) && r->Bufp <= 0 && r->Filp <= 0 && r->Args <= 0 &&
           !(r->Flg & (K_FILE | K_ARGS));
  }

  // The elements of the list whose table is at t.
  void listels(int32_t t, uint32_t value) {
    const int64_t n = slotn(t, value);
    for (int64_t i = 0; i < n; i++) {
      const uint32_t off = W(t + i);
      if (!off) continue;
      const int64_t el = static_cast<int32_t>(static_cast<uint32_t>(t) + off);
      mark(owned(el, static_cast<uint32_t>(t + i)));
    }
  }

  // The slots of a table at t (where it was before the moves) whose entry
  // gives value: no more than its block holds.
  int64_t slotn(int32_t t, uint32_t value) const {
    int64_t at, size;
    if (const int k = find(t); k >= 0) {
      at = bl_[k].at;
      size = bl_[k].size;
    } else if (high_ == (t >= HIMEM_BASE)) {
      return 0;
    } else {
      const int32_t h = fndstk(t);
      if (h <= 0) return 0;
      at = h;
      size = static_cast<int32_t>(W(h));
    }
    return std::max<int64_t>(0, std::min<int64_t>(value, at + size - t));
  }

  // Where each movable block goes: it slides towards the far end, past the
  // free blocks, up to a block that stays; the free words a block that
  // stays leaves on its far side take blocks from the near side that fit
  // (an exact fit first, else the tightest). False when nothing moves.
  bool plan() {
    std::multimap<int64_t, size_t> rooms;  // room -> hole
    std::vector<std::pair<int64_t, int64_t>> holes;  // {low end, high end}
    bool moved = false;
    auto place = [&](Blk& b, int64_t* dest) {
      auto it = rooms.lower_bound(b.size);
      if (it != rooms.end()) {
        auto& h = holes[it->second];
        size_t hi = it->second;
        if (high_) {
          b.to = h.first;
          h.first += b.size;
        } else {
          b.to = h.second - b.size;
          h.second -= b.size;
        }
        rooms.erase(it);
        if (h.second > h.first) rooms.insert({h.second - h.first, hi});
      } else if (high_) {
        b.to = *dest;
        *dest += b.size;
      } else {
        b.to = *dest - b.size;
        *dest = b.to;
      }
      moved = moved || b.to != b.at;
    };
    auto hole = [&](int64_t lo, int64_t hi) {
      if (hi <= lo) return;
      holes.push_back({lo, hi});
      rooms.insert({hi - lo, holes.size() - 1});
    };
    if (high_) {
      int64_t dest = first_;
      for (Blk& b : bl_) {
        if (b.st == 0) continue;
        if (b.mv) {
          place(b, &dest);
        } else {
          hole(dest, b.at);
          dest = b.at + b.size;
        }
      }
    } else {
      int64_t dest = end_;
      for (auto b = bl_.rbegin(); b != bl_.rend(); ++b) {
        if (b->st == 0) continue;
        if (b->mv) {
          place(*b, &dest);
        } else {
          hole(b->at + b->size, dest);
          dest = b->at;
        }
      }
    }
    return moved;
  }

  // Where address a of this stack is now.
  int64_t reloc(int64_t a) const {
    const int k = find(a);
    return k < 0 ? a : a + (bl_[k].to - bl_[k].at);
  }
  uint32_t reloc32(uint32_t a) const { return static_cast<uint32_t>(reloc(static_cast<int32_t>(a))); }
  int32_t relocbyte(int32_t b) const {
    if (b <= 0) return b;
    const int64_t a = static_cast<uint32_t>(b) / 4;
    return static_cast<int32_t>(static_cast<uint32_t>(reloc(a) * 4 + static_cast<uint32_t>(b) % 4));
  }

  void fixup() {
    // List tables: each slot holds its element's offset from the table.
    eachent([this](int32_t, SymEnt* s) {
      if (!(s->flags & SY_VAR) || !listkind(s->flags) || s->data <= 0) return;
      const int32_t t = s->data;
      const int32_t nt = static_cast<int32_t>(reloc(t));
      const int64_t n = slotn(t, s->value);
      for (int64_t i = 0; i < n; i++) {
        uint32_t& w = W(nt + i);
        if (!w) continue;
        const int64_t el = static_cast<int32_t>(static_cast<uint32_t>(t) + w);
        w = static_cast<uint32_t>(reloc(el) - nt);
      }
    });
    // Owners named in the headers; the owner words of moved blocks.
    for (const Blk& b : bl_) {
      if (b.st == 0) continue;
      const uint32_t own = b.st & BLK_OWNER;
      if (own > 1) {
        const uint32_t nown = static_cast<uint32_t>(fixown(own));
        W(b.to + 1) = (b.st & ~BLK_OWNER) | (nown & BLK_OWNER);
      }
    }
    // Owners in this stack of the other stack's blocks.
    StkDesc* o = high_ ? &lstk : &hstk;
    if (o->end > 0) {
      int64_t p = o->lowest;
      const int64_t end = o == &hstk ? o->bot : o->end;
      while (p + 2 <= end) {
        const int64_t sz = static_cast<int32_t>(W(p));
        if (sz < 2) break;
        const uint32_t st = W(p + 1), own = st & BLK_OWNER;
        if (own > 1) W(p + 1) = (st & ~BLK_OWNER) | (static_cast<uint32_t>(fixown(own)) & BLK_OWNER);
        p += sz;
      }
    }
    // Entries: their data (owners and aliases alike), a pointer variable's
    // value (its record), a header's items.
    eachent([this](int32_t, SymEnt* s) {
      if (!(s->flags & (SY_VAR | SY_DEFINE)) || s->data <= 0) return;
      const int32_t old = s->data;
      s->data = static_cast<int32_t>(reloc(old));
      if (!(s->flags & SY_VAR)) return;
      const bool vlist = (s->flags & (SY_VECTOR | SY_MATRIX)) == (SY_VECTOR | SY_MATRIX);
      if (ptrkind(s->flags) || vlist) {
        if (ptrkind(s->flags) && s->value == static_cast<uint32_t>(old)) s->value = static_cast<uint32_t>(s->data);
        if (s->data < HIMEM_BASE) {
          PtrRec* r = ptrrec(s->data);
          if (s->data != old) {
            if (r->PTR == static_cast<uint32_t>(old)) r->PTR = static_cast<uint32_t>(s->data);
            if (r->Stack == static_cast<uint32_t>(old)) r->Stack = static_cast<uint32_t>(s->data);
          }
          view(r);
        }
      } else if (hdrkind(s->flags) && s->data < HIMEM_BASE && s->data + 5 <= lstk.end) {
        W(s->data + 3) = reloc32(W(s->data + 3));
        // The transform record and the word in it that names it.
        const uint32_t xf = W(s->data + 4);
        if (static_cast<int32_t>(xf) > 0) {
          const uint32_t nxf = reloc32(xf);
          W(s->data + 4) = nxf;
          if (nxf != xf && W(nxf) == xf) W(nxf) = nxf;
        }
      }
    });
    for (const Slot& w : slotlist())
      if (*w.word > 0) *w.word = static_cast<int32_t>(reloc(*w.word));
  }

  // The owner word of a block, where it is now: in this stack it moved with
  // its block; a list element's owner is its slot.
  int64_t fixown(uint32_t own) const {
    if (high_ == (own >= static_cast<uint32_t>(HIMEM_BASE))) return reloc(own);
    return own;
  }

  // A pointer variable's view of moved data follows it.
  void view(PtrRec* r) {
    if (!r || !(r->Flg & K_DATA) || (r->Flg & (K_VALUE | K_NOSTK | K_FILE)) || r->Bufp > 0) return;
    r->Addr = reloc32(r->Addr);
    if (r->Data0 >= 0) {
      r->Data0 = relocbyte(r->Data0);
      r->Dptr = relocbyte(r->Dptr);
    }
  }

  // Writes the chain again over the blocks where they are now: free
  // headers in the stretches between them, the free stretch next to the
  // free gap given to it.
  void rechain() {
    std::vector<std::pair<int64_t, int64_t>> used;
    for (const Blk& b : bl_)
      if (b.st != 0) used.push_back({b.to, b.size});
    std::sort(used.begin(), used.end());
    auto freeh = [](int64_t at, int64_t size) {
      W(at) = static_cast<uint32_t>(size);
      W(at + 1) = 0;
    };
    if (high_) {
      int64_t p = first_;
      for (const auto& u : used) {
        if (u.first > p) freeh(p, u.first - p);
        p = u.first + u.second;
      }
      d_->bot = static_cast<int32_t>(p);
    } else {
      int64_t p = end_;
      for (auto u = used.rbegin(); u != used.rend(); ++u) {
        const int64_t top = u->first + u->second;
        if (top < p) freeh(top, p - top);
        p = u->first;
      }
      d_->lowest = static_cast<int32_t>(p);
    }
  }
};

// Free words inside a chain: the free count less the free gap's.
int64_t holes(const StkDesc* d) {
  if (d == &hstk) return hexists() ? static_cast<int64_t>(d->freew) - (static_cast<int64_t>(d->end) - d->bot) : 0;
  return static_cast<int64_t>(d->freew) - (static_cast<int64_t>(d->lowest) - d->bot);
}

// Free words inside each chain that the last compaction could not fill.
int64_t stuck[2] = {0, 0};

}  // namespace

bool aliasmade = false;

void unalias(int64_t lo, int64_t hi) {
  if (!aliasmade || hi <= lo) return;
  eachent([lo, hi](int32_t, SymEnt* s) {
    if ((s->flags & (SY_VAR | SY_NOTOWN)) != (SY_VAR | SY_NOTOWN) || s->data < lo || s->data >= hi) return;
    // The data it named is gone: it has none, as a released variable, and
    // storage a store makes for it is its own.
    s->data = 0;
    s->value = 0;
    s->flags = static_cast<uint16_t>(s->flags & ~(SY_NOTOWN | SY_VALUE));
  });
}

void stkslot(int32_t* word, bool (*may)()) {
  auto& v = slotlist();
  if (!word) return;
  for (const Slot& w : v)
    if (w.word == word) return;
  v.push_back({word, may});
}

bool autopack() {
  if (!lowstk) return false;
  const bool wanted = packwanted;
  packwanted = false;
  int i = 0;
  bool ran = false;
  for (StkDesc* d : {&lstk, &hstk}) {
    const int64_t h = holes(d);
    int64_t& s = stuck[i++];
    if (h < s) s = h;
    if (h <= 0 || (h == s && !wanted)) continue;
    Pack(d).run();
    s = holes(d);
    ran = true;
  }
  return ran;
}
