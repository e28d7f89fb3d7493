// Symbol tables, defined strings and string variables.
#include "core/symbols.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"

int32_t cursym = 0;
int32_t glbsym = 0;
int32_t syssym = 0;
int32_t defsym = 0;
uint32_t symgen = 0;

// ---------------------------------------------------------------------------
// Word access

// True when words a .. a + n - 1 lie inside the low stack.
static bool inlow(int32_t a, int32_t n) {
  return lowstk && a >= 0 && n >= 0 && a < HIMEM_BASE && int64_t(a) + n <= lstk.end;
}

SymEnt* symptr(int32_t entry) {
  return inlow(entry, SYMWDS) ? reinterpret_cast<SymEnt*>(lowstk + entry) : nullptr;
}

SymTab* tabptr(int32_t table) {
  return inlow(table, SYMHDR) ? reinterpret_cast<SymTab*>(lowstk + table) : nullptr;
}

StrDesc* desptr(int32_t desc) {
  return inlow(desc, 2) ? reinterpret_cast<StrDesc*>(lowstk + desc) : nullptr;
}

// Bytes addressable from stack address a to the end of its memory.
static int64_t stkroom(int32_t a) {
  if (a < 0) return 0;
  if (a < HIMEM_BASE) return lowstk && a < lstk.end ? int64_t(lstk.end - a) * 4 : 0;
  return a < hstk.end ? int64_t(hstk.end - a) * 4 : 0;
}

// Bytes addressable from a in one piece: paged high memory ends each piece
// at its page.
static int64_t stkpiece(int32_t a) {
  int64_t room = stkroom(a);
  if (a >= HIMEM_BASE && (himemflag & 2)) {
    int64_t page = int64_t(HPAGE_WORDS - ((a - HIMEM_BASE) & (HPAGE_WORDS - 1))) * 4;
    if (page < room) room = page;
  }
  return room;
}

// Copies n bytes between a buffer and the stack from address a on. Returns
// false (copying nothing more) when the memory ends first.
static bool stkmove(int32_t a, unsigned char* buf, size_t n, bool tostk) {
  while (n > 0) {
    int64_t piece = stkpiece(a);
    auto* p = piece > 0 ? static_cast<unsigned char*>(stkptr(a)) : nullptr;
    if (!p) return false;
    size_t k = n < size_t(piece) ? n : size_t(piece);
    if (tostk)
      memmove(p, buf, k);
    else
      memmove(buf, p, k);
    buf += k;
    n -= k;
    a += int32_t(k / 4);
  }
  return true;
}
static bool stkget(int32_t a, void* dst, size_t n) {
  return stkmove(a, static_cast<unsigned char*>(dst), n, false);
}
static bool stkput(int32_t a, const unsigned char* src, size_t n) {
  return stkmove(a, const_cast<unsigned char*>(src), n, true);
}

// The header of the headed block that holds stack address a, or NULL.
static uint32_t* blkhdr(int32_t a, int32_t* hdr) {
  if (a <= 0) return nullptr;
  int32_t h = fndstk(a);
  uint32_t* hp = h > 0 ? wordp(h) : nullptr;
  if (!hp || int32_t(hp[0]) < 2) return nullptr;
  *hdr = h;
  return hp;
}

// Data bytes of the headed block whose data starts at a, or -1 when a is
// no block's data address.
static int64_t blkroom(int32_t a) {
  int32_t h = 0;
  uint32_t* hp = blkhdr(a, &h);
  if (!hp || h + 2 != a) return -1;
  return int64_t(int32_t(hp[0]) - 2) * 4;
}

// Frees the block whose data starts at a, or drops one reference to a
// shared block; never cuts a block that a merely points into.
static void freblk(int32_t a) {
  int32_t h = 0;
  uint32_t* hp = blkhdr(a, &h);
  if (hp && (h + 2 == a || (hp[1] >> BLK_REFSHIFT) > 0)) putstk(a, 0, 0);
}

// The owner recorded for the block that holds a (0 when none).
static int32_t blkown(int32_t a) {
  int32_t h = 0;
  uint32_t* hp = blkhdr(a, &h);
  return hp ? int32_t(hp[1] & BLK_OWNER) : 0;
}

// ---------------------------------------------------------------------------
// Tables

// A table's header when it carries the marker.
static SymTab* table(int32_t t) {
  SymTab* h = tabptr(t);
  return h && h->marker == SYMMARK ? h : nullptr;
}

// Entries of a table that fit inside the low stack.
static uint32_t entries(int32_t t, const SymTab* h) {
  int64_t room = (int64_t(lstk.end) - t - SYMHDR) / SYMWDS;
  if (room < 0) room = 0;
  return int64_t(h->count) < room ? h->count : uint32_t(room);
}

int32_t maktab(int32_t link) {
  int32_t a = 0;
  if (getstk(&a, SYMHDR, 4, 0, 0) < 1 || a < 0) return 0;
  SymTab* h = tabptr(a);
  if (!h) return 0;
  h->count = 0;
  h->link = link;
  h->marker = SYMMARK;
  h->spare = 0;
  return a;
}

int32_t mksystab() {
  // Link 0 means "no enclosing table", so the system table must not lie at
  // address 0; start-up takes the number registers first, else pad.
  if (stkbot() == 0) {
    int32_t pad = 0;
    if (getstk(&pad, 2, 4, 0, 0) < 1) return 0;
  }
  int32_t t = maktab(0);
  if (t > 0) cursym = glbsym = syssym = defsym = t;
  return t;
}

// Finds a name among a table's entries; `all` lets every entry match,
// otherwise only entries visible from inner levels (flag 1).
static int32_t scantab(int32_t t, const char* name, int len, bool all, uint16_t* flags) {
  SymTab* h = table(t);
  if (!h) return -1;
  uint32_t n = entries(t, h);
  const SymEnt* e = reinterpret_cast<const SymEnt*>(lowstk + t + SYMHDR);
  for (uint32_t i = 0; i < n; i++, e++) {
    if (e->flags == 0 || (e->nlen & 15) != len) continue;
    if (!all && !(e->flags & SY_GLOBAL)) continue;
    if (memcmp(e->name, name, size_t(len)) != 0) continue;
    if (flags) *flags = e->flags;
    return symadr(t, int(i));
  }
  return -1;
}

// The definition table takes part while a macro is compiled.
static bool defsearch() {
  return (state & ST_COMPILE) && !(aflags & 0x100) && defsym != cursym && table(defsym);
}

int32_t GETSYM(const char* name, int len, uint16_t* flags, int outer) {
  if (!name || len < 1 || len > SYMNAM) return -1;
  int32_t t = cursym;
  SymTab* h = table(t);
  if (!h) return -1;
  int32_t e = scantab(t, name, len, true, flags);
  if (e >= 0) return e;
  if (defsearch()) {
    e = scantab(defsym, name, len, true, flags);
    if (e >= 0) return e;
  }
  while (outer && h->link != 0) {
    // Enclosing tables lie below the tables they enclose; anything else is
    // a broken chain and ends the search.
    int32_t up = h->link;
    SymTab* uh = up < t ? table(up) : nullptr;
    if (!uh) return -1;
    t = up;
    h = uh;
    e = scantab(t, name, len, h->link == 0, flags);
    if (e >= 0) return e;
  }
  return -1;
}

// True when addr is an entry in use of a table in the chain.
static bool inchain(int32_t addr) {
  auto holds = [addr](int32_t t) {
    SymTab* h = table(t);
    if (!h || addr < t + SYMHDR) return false;
    int32_t off = addr - t - SYMHDR;
    if (off % SYMWDS != 0 || uint32_t(off / SYMWDS) >= entries(t, h)) return false;
    return symptr(addr)->flags != 0;
  };
  if (defsym != cursym && holds(defsym)) return true;
  int32_t t = cursym;
  for (int guard = 0; guard < 100000; guard++) {
    SymTab* h = table(t);
    if (!h) return false;
    if (holds(t)) return true;
    if (h->link == 0 || h->link >= t) return false;
    t = h->link;
  }
  return false;
}

int32_t putsym(int32_t addr, const char* name, int len, int flags, int32_t data,
               uint32_t value, int type) {
  if (!name || len < 1) {
    error(0, 15);
    return 0;
  }
  if (len > SYMNAM) {
    error(0, 17);
    return 0;
  }
  const bool def = (flags & SY_DEFINE) != 0;
  const int32_t t = def ? defsym : cursym;
  SymTab* h = table(t);
  if (!h) {
    error(0, 62);
    return 0;
  }
  const int full = def ? 50 : 49;

  int32_t ent = -1;
  if (addr >= 1 && inchain(addr)) {
    ent = addr;  // rewrite an existing entry in place
  } else {
    uint32_t n = entries(t, h);
    for (uint32_t i = 0; i < n; i++) {
      if (symptr(symadr(t, int(i)))->flags == 0) {
        ent = symadr(t, int(i));
        break;
      }
    }
  }

  if (ent < 0) {
    // No free slot: the table grows by one entry at its end.
    if (entries(t, h) != h->count) {  // a count that runs off the stack
      error(0, full);
      return 0;
    }
    const int32_t slot = symadr(t, int(h->count));
    if ((state & ST_COMPILE) && !(aflags & 0x100)) {
      SymEnt* s = symptr(slot);
      if (!s || s->flags != 0) {
        error(0, full);
        return 0;
      }
    } else if (addr >= 1) {
      if (addr != slot || !symptr(slot)) {
        error(0, full);
        return 0;
      }
    } else {
      // Only the last table of the bottom area can grow there.
      if (stkbot() != slot) {
        error(0, full);
        return 0;
      }
      int32_t a = 0;
      if (getstk(&a, SYMWDS, 4, 0, 0) < 1 || a != slot) return 0;
    }
    ent = slot;
    h->count++;
  }

  SymEnt* e = symptr(ent);
  symgen++;
  e->value = value;
  e->data = data < 0 ? 0 : data;
  e->flags = uint16_t(flags);
  e->nlen = uint8_t(len);
  e->type = uint8_t(type);
  memset(e->name, 0, SYMNAM);
  memcpy(e->name, name, size_t(len));
  // The entry's data word owns the block (an entry rewritten with its own
  // block keeps it without gaining a reference).
  if (!(flags & SY_NOTOWN) && e->data != 0 && blkown(e->data) != ent + 1)
    ptrstk(e->data, ent + 1);
  return ent;
}

int symnam(int32_t entry, char* buf, int max) {
  const SymEnt* e = symptr(entry);
  if (!e || !buf || max < 1) return 0;
  int n = e->nlen & 15;
  if (n > SYMNAM) n = SYMNAM;
  if (n > max) n = max;
  memcpy(buf, e->name, size_t(n));
  if (n < max) buf[n] = 0;
  return n;
}

int delsym(int32_t entry) {
  SymEnt* e = symptr(entry);
  if (!e) return 0;
  if (e->flags != 0 && !(e->flags & SY_NOTOWN) && e->data > 0) freblk(e->data);
  memset(e, 0, sizeof(SymEnt));
  symgen++;
  return 0;
}

// ---------------------------------------------------------------------------
// Defined strings

int chkdef(char* line, int start, int end, int32_t* len) {
  if (!line || !len || start < 0 || end <= start) return end;
  int32_t n0 = *len;
  if (n0 < end || n0 >= LINSIZ) n0 = int32_t(strnlen(line, LINSIZ - 1));
  if (end > n0) return end;

  uint16_t fl = 0;
  int32_t ent = GETSYM(line + start, end - start, &fl, 1);
  if (ent < 0 || !(fl & SY_DEFINE)) return end;
  const SymEnt* e = symptr(ent);

  // The replacement text.
  std::string text;
  if (e->data > 0 && e->value > 0) {
    int64_t n = e->value;
    if (n > stkroom(e->data)) n = stkroom(e->data);
    text.resize(size_t(n));
    stkget(e->data, text.data(), text.size());
  }
  const int nargs = e->type;
  const std::string head(line, size_t(start));
  const std::string tail(line + end, size_t(n0 - end));

  auto store = [&](const std::string& s) {
    if (s.size() > size_t(LINSIZ - 1)) {
      error(0, 84);  // the expansion does not fit the line
      return false;
    }
    memcpy(line, s.data(), s.size());
    line[s.size()] = 0;
    *len = int32_t(s.size());
    return true;
  };

  if (nargs == 0) return store(head + text + tail) ? start - 1 : end;

  // The arguments follow the word: "(" makes them a comma list, anything
  // else a blank-separated one. That character and the blanks after it are
  // passed over.
  const size_t size = tail.size();
  size_t p = 0;
  const bool paren = size > 0 && tail[0] == '(';
  const char sep = paren ? ',' : ' ';
  if (size > 0) p = 1;
  while (p < size && static_cast<unsigned char>(tail[p]) < 33) p++;

  std::vector<std::string> args;
  bool balanced = true;
  char term = 0;  // what ended the last argument (0: end of text)
  size_t stop = p;
  for (int k = 1; k <= nargs && p < size; k++) {
    int level = 0;
    size_t q = p;
    term = 0;
    for (; q < size; q++) {
      char c = tail[q];
      if (c == '(' || c == '[') {
        level++;
      } else if (c == ')' || c == ']') {
        if (level == 0) {
          term = c;
          break;
        }
        level--;
      } else if (level == 0 && c == sep && !(q > 0 && tail[q - 1] == sep)) {
        term = c;
        break;
      }
    }
    if (level != 0) balanced = false;
    args.emplace_back(tail, p, q - p);
    stop = q;
    // After a separator the scan goes on behind it; a closing bracket
    // stays, so every later argument is empty.
    p = term == sep ? q + 1 : q;
  }
  if (paren) {
    // The list must end with its own closing bracket, which goes with it.
    if (term != ')') balanced = false;
    stop++;
  }
  if (int(args.size()) != nargs || !balanced || args.back().empty()) {
    error(0, 36);
    return end;
  }

  std::string exp;
  for (char c : text) {
    unsigned b = static_cast<unsigned char>(c);
    if (b >= 1 && b <= unsigned(nargs))
      exp += args[b - 1].empty() ? std::string("-") : args[b - 1];
    else
      exp += c;
  }
  return store(head + exp + tail.substr(stop < size ? stop : size)) ? start - 1 : end;
}

// ---------------------------------------------------------------------------
// String variables

int GETCHV(int32_t desc, void* buf, int max, int size) {
  const StrDesc* d = desptr(desc);
  if (!d) return 0;
  if (max == 0) return int(d->len > 0x7FFFFFFFu ? 0x7FFFFFFF : d->len);
  if (!buf || max < 0 || size < 1) return 0;
  auto* b = static_cast<char*>(buf);
  b[0] = 0;
  if (d->data == 0 || int32_t(d->len) < 1) return 0;
  int64_t n = int32_t(d->len);
  if (n > max) n = max;
  if (size == 1 && n == max) n--;
  int64_t room = stkroom(d->data) / size;
  if (n > room) n = room;
  if (n > 0 && !stkget(d->data, b, size_t(n * size))) n = 0;
  if (size == 1) {
    b[n] = 0;
    return int(strnlen(b, size_t(n)));
  }
  return int(n);
}

int PUTCHV(int32_t desc, const void* data, int len, int size) {
  StrDesc* d = desptr(desc);
  if (!d || size < 1) return 0;
  if (len <= 0) {
    if (d->data != 0) freblk(d->data);
    d->len = 0;
    d->data = 0;
    return 0;
  }
  if (!data) return 0;
  const int64_t bytes = int64_t(len) * size;
  const auto* src = static_cast<const unsigned char*>(data);

  // A text no longer than the stored one is written into its block in
  // place, as long as the block really holds that many bytes.
  if (d->data != 0 && uint32_t(len) <= d->len) {
    int64_t cap = blkroom(d->data);
    if (cap < 0) cap = int64_t(d->len) * size;
    if (bytes <= cap && bytes <= stkroom(d->data)) {
      stkput(d->data, src, size_t(bytes));
      d->len = uint32_t(len);
      return 0;
    }
  }

  // A new block. The source may lie in a block that compaction moves while
  // the new one is taken, so it is copied aside first.
  if (bytes > int64_t(lstk.end) * 4) {
    error(0, 42);
    return 0;
  }
  std::vector<unsigned char> tmp(src, src + bytes);
  int32_t nb = 0;
  if (getstk(&nb, len, size, 1, 0) < 1 || nb == 0) return 0;
  ptrstk(nb, desc + 1);
  stkput(nb, tmp.data(), tmp.size());
  d = desptr(desc);
  const int32_t old = d->data;  // read again: compaction may have moved it
  d->len = uint32_t(len);
  d->data = nb;
  if (old != 0) freblk(old);
  return 0;
}
