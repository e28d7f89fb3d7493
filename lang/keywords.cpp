// Keyword lookup over the frozen command, operator and board-command tables,
// and the command code of a parsed line.
#include "lang/keywords.h"

#include "core/convert.h"
#include "core/output.h"
#include "lang/order.h"
#include "lang/parse.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// The tables must keep their sizes: a change would move every code after it.
static_assert(cmdwds.size() == 232 && oprwds.size() == 28 && brdwds.size() == 16);
static_assert(cmdcod(1) == 1 && cmdcod(67) == 67 && cmdcod(68) == 201 && cmdcod(162) == 295 &&
              cmdcod(163) == 301 && cmdcod(197) == 335 && cmdcod(198) == 401 &&
              cmdcod(204) == 407 && cmdcod(205) == 501 && cmdcod(232) == 528);

}  // namespace

namespace {

// The table scan in the tables' order: the first exact match wins; a second
// word the text abbreviates makes it ambiguous (-2).
int scan(const char* word, int* len, const char* const* table, int n, int abbrev) {
  int cand = -1;
  for (int i = 0; i < n; i++) {
    const char* e = table[i];
    if (!e || !*e) break;
    if (*len <= 0) {
      // The word runs on in the text: an entry it begins with matches.
      int r = isname(e, word, 0, 0);
      if (r == 1 || r == -1) {
        *len = lenstr(e);
        return i + 1;
      }
      continue;
    }
    int r = isname(e, word, 0, *len);
    if (r == 1) return i + 1;
    if (abbrev && *len >= 2 && r == 2) {
      if (cand >= 0) return -2;
      cand = i;
    }
  }
  return cand >= 0 ? cand + 1 : -1;
}

// The answers of the scan for every text that can match a keyword at all
// (each keyword and each of its prefixes), worked out once per table, so
// that a look-up costs one hash probe and gives the scan's own answer.
// Any other text matches nothing (-1).
struct Answers {
  const char* const* table;
  int n;
  int abbrev;
  std::unordered_map<std::string_view, int> map;
};

const Answers& answers(const char* const* table, int n, int abbrev) {
  static std::vector<std::unique_ptr<Answers>> all;
  for (const auto& a : all)
    if (a->table == table && a->n == n && a->abbrev == abbrev) return *a;
  auto* a = all.emplace_back(new Answers{table, n, abbrev, {}}).get();
  // One pass over the table in its order: for each prefix, the first entry
  // equal to it and the first two it abbreviates. The scan returns at the
  // equal entry unless a second abbreviated one came before it (-2).
  struct Seen {
    int exact = -1, ab1 = -1, ab2 = -1;
  };
  std::unordered_map<std::string_view, Seen> seen;
  seen.reserve(2048);
  for (int i = 0; i < n; i++) {
    const char* e = table[i];
    if (!e || !*e) break;
    std::string_view k(e);
    for (size_t l = 1; l <= k.size(); l++) {
      Seen& s = seen[k.substr(0, l)];
      if (l == k.size()) {
        if (s.exact < 0) s.exact = i;
      } else if (abbrev && l >= 2) {
        if (s.ab1 < 0)
          s.ab1 = i;
        else if (s.ab2 < 0)
          s.ab2 = i;
      }
    }
  }
  a->map.reserve(seen.size());
  for (const auto& [p, s] : seen) {
    int r = -1;
    if (s.exact >= 0 && (s.ab2 < 0 || s.exact < s.ab2))
      r = s.exact + 1;
    else if (s.ab2 >= 0)
      r = -2;
    else if (s.ab1 >= 0)
      r = s.ab1 + 1;
    a->map.emplace(p, r);
  }
  return *a;
}

// The look-up of the fixed keyword tables.
int hlook(const char* word, int* len, const char* const* table, int n, int abbrev) {
  if (*len <= 0) return scan(word, len, table, n, abbrev);
  const Answers& a = answers(table, n, abbrev);
  size_t l = strnlen(word, size_t(*len));
  auto it = a.map.find(std::string_view(word, l));
  return it == a.map.end() ? -1 : it->second;
}

}  // namespace

int lookup(const char* word, int* len, const char* const* table, int n, int abbrev) {
  if (!word || !len || !table) return -1;
  return scan(word, len, table, n, abbrev);
}

int cmdlook(const char* word, int* len) {
  if (!word || !len) return -1;
  if (*len <= 0) {
    *len = 0;
    int i = lookup(word, len, oprwds.data(), NOPRWD, 0);
    return i > 0 ? i + 100 : -1;
  }
  int i = hlook(word, len, cmdwds.data(), NCMDWD, 1);
  if (i > 0) return cmdcod(i);
  if (i == -2) return -2;
  i = hlook(word, len, brdwds.data(), NBRDWD, 1);
  if (i > 0) return i + CM_BOARD;
  return i;
}

const char* cmdtxt(int code) {
  if (code >= 101 && code <= 100 + NOPRWD) return oprwds[code - 101];
  if (code > CM_BOARD && code <= CM_BOARD + NBRDWD) return brdwds[code - CM_BOARD - 1];
  int i = cmdidx(code);
  return i > 0 ? cmdwds[i - 1] : nullptr;
}

int cmdnam(int code, char* out) {
  const char* t = cmdtxt(code);
  if (!out) return t ? lenstr(t) : -1;
  if (!t) {
    out[0] = 0;
    return -1;
  }
  return cpystr(t, out, -20);
}

int cmdkey(int n) {
  if (n < 1 || n > nargw) return 0;
  int w = argmap[n - 1];
  if (w < 0 || w >= NWORDS) return 0;
  lsttok = int16_t(w);
  const WORD& word = wrdtab[w];
  // The second word: the next argument's word, or, for an ordered expression
  // group, its last word in evaluation order (where an assignment's "=" is).
  int second = -1;
  if (word.type == WT_GROUP && grpord(w)) second = grplast(w);
  else if (n < nargw) second = argmap[n];
  bool eq = second >= 0 && second < NWORDS && wrdtab[second].type == WT_CMD &&
            wrdtab[second].v1 == OP_ASSIGN;
  bool cmd = word.type == WT_CMD || word.type == WT_CMDLIST;
  if (eq && cmd) {
    error(2, 16);
    nargw = 0;
    return 0;
  }
  if (word.type == WT_QUOTED) return CM_QUOTED;
  if (word.type == WT_TEXT || word.type == WT_UNKLIST || word.type == (WT_UNKLIST | 1))
    return CM_UNKNOWN;
  if (eq) return OP_ASSIGN;
  if (!cmd || (word.v1 >= 105 && word.v1 <= 300)) return CM_EXPR;
  return word.v1;
}
