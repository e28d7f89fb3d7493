// The cache of parsed macro lines.
#include "lang/lincache.h"

#include "core/state.h"
#include "core/symbols.h"
#include "lang/fastcmd.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "lang/parse.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t MAXLINES = 4096;

// What a parse depends on beside the text; any change drops the cache.
struct Stamp {
  uint32_t gen;
  int32_t cur, def, frame, aflags, pflags, compiling;
  int16_t ibase;
  bool operator==(const Stamp&) const = default;
};

Stamp now() {
  return {symgen, cursym, defsym, frmadr, aflags, pflags, state & ST_COMPILE, ibase};
}

// A symbol entry a word of the line names, as it was at the parse.
struct Seen {
  int32_t addr;
  uint16_t flags;
  uint8_t nlen;
  char name[SYMNAM];
};

struct Parsed {
  char lin[CMDLIN];
  WORD tab[NWORDS];
  int16_t map[MAXARG];
  int16_t pend[MAXARG];
  int16_t nw, low, na, tok, prd, pct;
  int16_t ll;  // length of lin
  uint16_t flg;
  int code;
  std::vector<Seen> seen;
  FastCmd fast;  // the line's fast form, made when it first runs
};

Stamp stamp{};
std::unordered_map<std::string, Parsed> lines;

// Lines by the place they were read at (the macro text's serial and
// position): the same place always holds the same text, so a line read
// there again needs neither reading nor hashing. Direct-mapped; emptied
// whenever a line is dropped.
struct Place {
  int64_t at = -1;
  int64_t next = -1;  // the place after the line
  int flags = 0;
  const std::string* key = nullptr;  // the line's key (in its node), to drop it
  Parsed* p = nullptr;
};
constexpr size_t NPLACE = 512;
Place places[NPLACE];
Place* found = nullptr;  // the place lcplace found last

Place& place(int64_t at) { return places[size_t(uint64_t(at) * 0x9E3779B97F4A7C15ull >> 55) % NPLACE]; }
void noplaces() {
  for (Place& p : places) p.at = -1;
  found = nullptr;
}

// The key of a line: its text and its parse flags (one buffer, reused).
const std::string& key(const char* raw, int flags) {
  static std::string k;
  k.assign(raw);
  k += char(0);
  k += char(flags & 0xFF);
  return k;
}

bool names(const WORD& w) { return w.type > 0 && (w.type & 0x1000) && !(w.type & 0x2000); }

// Drops every line; the current command's fast slot goes with its line.
void dropall() {
  if (!lines.empty()) {
    lines.clear();
    noplaces();
    fcur = nullptr;
  }
}

// Keeps the place of a line (no place when at or next is unknown).
void keepat(int64_t at, int64_t next, int flags, const std::string* k, Parsed* p) {
  // Both places in the same text, the next one further on.
  if (at < 0 || next <= at || (uint64_t(at) >> 32) != (uint64_t(next) >> 32)) return;
  Place& pl = place(at);
  pl.at = at;
  pl.next = next;
  pl.flags = flags;
  pl.key = k;
  pl.p = p;
}

// Loads a parse into the tables after its symbols are checked; a line whose
// symbols changed is dropped (false).
bool load(Parsed& p, const std::string* key, int* code, int* nargs) {
  for (const Seen& s : p.seen) {
    const SymEnt* e = symptr(s.addr);
    if (!e || e->flags != s.flags || e->nlen != s.nlen || std::memcmp(e->name, s.name, SYMNAM) != 0) {
      if (fcur == &p.fast) fcur = nullptr;
      noplaces();
      const std::string k = *key;  // the node goes with its key
      lines.erase(k);
      return false;
    }
  }
  // The line up to its end, and the entries the parse left in use (those
  // past them hold nothing a parse leaves there either).
  std::memcpy(linbuf, p.lin, size_t(p.ll) + 1);
  std::memcpy(wrdtab, p.tab, size_t(p.nw) * sizeof(WORD));
  if (p.low < NWORDS) std::memcpy(wrdtab + p.low, p.tab + p.low, size_t(NWORDS - p.low) * sizeof(WORD));
  std::memcpy(argmap, p.map, sizeof argmap);
  std::memcpy(pendng, p.pend, sizeof pendng);
  nwords = p.nw;
  lowmrk = p.low;
  nargw = p.na;
  lsttok = p.tok;
  pendrd = p.prd;
  pendct = p.pct;
  prsflg = p.flg;
  *code = p.code;
  *nargs = nargw;
  fcur = &p.fast;
  return true;
}

bool current() {
  if (trcmsk || !(stamp == now())) {
    dropall();
    stamp = now();
    return false;
  }
  return true;
}

}  // namespace

void lcclear() { dropall(); }

bool lcplace(int64_t at, int flags, int64_t* next, FastCmd** fast) {
  found = nullptr;
  if (at < 0 || !current()) return false;
  Place& pl = place(at);
  if (pl.at != at || pl.flags != flags) return false;
  found = &pl;
  *next = pl.next;
  *fast = &pl.p->fast;
  return true;
}

bool lcload(int* code, int* nargs) {
  Place* pl = found;
  found = nullptr;
  if (!pl || pl->at < 0) return false;
  return load(*pl->p, pl->key, code, nargs);
}

bool lcfind(const char* raw, int flags, int* code, int* nargs, int64_t at, int64_t next) {
  if (!current()) return false;
  const std::string& k = key(raw, flags);
  auto it = lines.find(k);
  if (it == lines.end()) return false;
  keepat(at, next, flags, &it->first, &it->second);
  return load(it->second, &it->first, code, nargs);
}

void lcstore(const char* raw, int flags, int code, int64_t at, int64_t next) {
  if (trcmsk || !(stamp == now())) {
    dropall();
    stamp = now();
  }
  if (lines.size() >= MAXLINES) dropall();
  Parsed p;
  std::memcpy(p.lin, linbuf, sizeof linbuf);
  std::memcpy(p.tab, wrdtab, sizeof wrdtab);
  std::memcpy(p.map, argmap, sizeof argmap);
  std::memcpy(p.pend, pendng, sizeof pendng);
  p.nw = int16_t(std::clamp<int>(nwords, 0, NWORDS));
  p.low = int16_t(std::clamp<int>(lowmrk, p.nw, NWORDS));
  p.ll = int16_t(strnlen(linbuf, sizeof linbuf - 1));
  p.lin[p.ll] = 0;
  p.na = nargw;
  p.tok = lsttok;
  p.prd = pendrd;
  p.pct = pendct;
  p.flg = prsflg;
  p.code = code;
  for (const WORD& w : wrdtab) {
    if (!names(w)) continue;
    int32_t a = wval(w);
    if (a < 0) a = -a;
    const SymEnt* e = symptr(a);
    if (!e) return;  // a word whose entry cannot be checked: not kept
    Seen s{a, e->flags, e->nlen, {}};
    std::memcpy(s.name, e->name, SYMNAM);
    p.seen.push_back(s);
  }
  auto it = lines.try_emplace(key(raw, flags)).first;
  Parsed& kept = it->second;
  if (fcur == &kept.fast) fcur = nullptr;
  kept = std::move(p);
  fcur = &kept.fast;
  keepat(at, next, flags, &it->first, &kept);
}
