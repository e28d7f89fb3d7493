// The cache of parsed macro lines.
#include "lang/lincache.h"

#include "core/state.h"
#include "core/symbols.h"
#include "lang/fastcmd.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "lang/parse.h"

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
  char lin[LINBUF];
  WORD tab[NWORDS];
  int16_t map[MAXARG];
  int16_t pend[MAXARG];
  int16_t nw, low, na, tok, prd, pct;
  uint16_t flg;
  int code;
  std::vector<Seen> seen;
  FastCmd fast;  // the line's fast form, made when it first runs
};

Stamp stamp{};
std::unordered_map<std::string, Parsed> lines;

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
    fcur = nullptr;
  }
}

}  // namespace

void lcclear() { dropall(); }

FastCmd* lcform(const char* raw, int flags) {
  if (trcmsk || !(stamp == now())) return nullptr;
  auto it = lines.find(key(raw, flags));
  return it == lines.end() ? nullptr : &it->second.fast;
}

bool lcfind(const char* raw, int flags, int* code, int* nargs) {
  if (trcmsk || !(stamp == now())) {
    dropall();
    stamp = now();
    return false;
  }
  auto it = lines.find(key(raw, flags));
  if (it == lines.end()) return false;
  const Parsed& p = it->second;
  for (const Seen& s : p.seen) {
    const SymEnt* e = symptr(s.addr);
    if (!e || e->flags != s.flags || e->nlen != s.nlen || std::memcmp(e->name, s.name, SYMNAM) != 0) {
      if (fcur == &it->second.fast) fcur = nullptr;
      lines.erase(it);
      return false;
    }
  }
  std::memcpy(linbuf, p.lin, sizeof linbuf);
  std::memcpy(wrdtab, p.tab, sizeof wrdtab);
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
  fcur = const_cast<FastCmd*>(&p.fast);
  return true;
}

void lcstore(const char* raw, int flags, int code) {
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
  p.nw = nwords;
  p.low = lowmrk;
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
  Parsed& kept = lines[key(raw, flags)];
  if (fcur == &kept.fast) fcur = nullptr;
  kept = std::move(p);
  fcur = &kept.fast;
}
