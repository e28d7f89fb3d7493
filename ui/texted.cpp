// The full-screen text editor: the text buffer and its line table, reading
// and writing the file, the rows of the screen and folding them back.
#include "ui/texted.h"
#include "ui/textedi.h"

#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "files/safewrite.h"
#include "ui/events.h"
#include "ui/window.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

EdRec edrec{};
char edrow[LINBUF + 1];

EdState eds;

namespace {
constexpr int E_NOTABLE = 129;  // no memory for the line table or the text
constexpr int E_FULL = 130;     // the text buffer is full
constexpr int E_LONG = 131;     // the file is longer than the table, or the table is full

uint32_t lend(int i) { return edrec.ltab[i].off + static_cast<uint32_t>(edrec.ltab[i].len) + 1; }

std::string rtrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == 0)) s.pop_back();
  return s;
}

// The canonical host path of a language path (the real path when the file
// is there).
std::string canon(const char* name) {
  std::string h = hostpath(name ? name : "");
  char real[PATH_MAX];
  if (!h.empty() && realpath(h.c_str(), real)) return real;
  return h;
}
}  // namespace

// ---- Lines -------------------------------------------------------------------------

std::string edget(int i) {
  if (i < 0 || i >= edrec.nlines || !edrec.text) return std::string();
  return std::string(edrec.text + edrec.ltab[i].off, static_cast<size_t>(edrec.ltab[i].len));
}

int edspac(int from, int to, int change) {
  EdRec& e = edrec;
  if (from < 0 || change == 0) return 0;  // the lines always lie back to back
  const uint32_t start = to >= 0 && to < e.nlines ? lend(to) : 0;
  if (change > 0 && static_cast<uint64_t>(e.used) + static_cast<uint32_t>(change) > e.tsize) {
    error(0, E_FULL);
    return -1;
  }
  const uint32_t n = e.used - start;
  if (n > 0) std::memmove(e.text + start + change, e.text + start, n);
  for (int j = to + 1; j < e.nlines; j++) e.ltab[j].off = static_cast<uint32_t>(static_cast<int64_t>(e.ltab[j].off) + change);
  e.used = static_cast<uint32_t>(static_cast<int64_t>(e.used) + change);
  return 0;
}

int edset(int i, const std::string& s) {
  EdRec& e = edrec;
  if (i < 0 || i >= e.nlines) return -1;
  const int64_t delta = static_cast<int64_t>(s.size()) - e.ltab[i].len;
  if (delta > INT_MAX / 2 || (delta != 0 && edspac(i, i, static_cast<int>(delta)) < 0)) return -1;
  std::memcpy(e.text + e.ltab[i].off, s.data(), s.size());
  e.text[e.ltab[i].off + s.size()] = '\n';
  e.ltab[i].len = static_cast<int32_t>(s.size());
  return 0;
}

int edins(int i, const std::string& s) {
  EdRec& e = edrec;
  if (e.nlines >= e.maxln) {
    error(0, E_LONG);
    return -1;
  }
  const uint32_t at = i >= 0 ? lend(i) : 0;
  if (edspac(0, i, static_cast<int>(s.size()) + 1) < 0) return -1;
  std::memmove(e.ltab + i + 2, e.ltab + i + 1, sizeof(EdLine) * static_cast<size_t>(e.nlines - i - 1));
  e.nlines++;
  e.ltab[i + 1] = EdLine{at, static_cast<int32_t>(s.size())};
  std::memcpy(e.text + at, s.data(), s.size());
  e.text[at + s.size()] = '\n';
  return 0;
}

int eddel(int i) {
  EdRec& e = edrec;
  if (i < 0 || i >= e.nlines) return -1;
  edspac(0, i, -(e.ltab[i].len + 1));
  std::memmove(e.ltab + i, e.ltab + i + 1, sizeof(EdLine) * static_cast<size_t>(e.nlines - i - 1));
  e.nlines--;
  return 0;
}

int edfind(uint32_t pos) {
  const EdRec& e = edrec;
  int lo = 0, hi = e.nlines - 1;
  while (lo < hi) {
    const int mid = (lo + hi + 1) / 2;
    if (e.ltab[mid].off <= pos)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

void edfree() {
  EdRec& e = edrec;
  xfree(e.text);
  xfree(e.ltab);
  xfree(e.pastebuf);
  e.text = nullptr;
  e.ltab = nullptr;
  e.pastebuf = nullptr;
  e.tsize = e.used = 0;
  e.nlines = 0;
  e.paste = e.pastesz = 0;
}

void edreset() {
  edfree();
  const uint16_t keep = edrec.maxln;
  edrec = EdRec{};
  edrec.maxln = keep;
  eds = EdState{};
}

// ---- Reading and writing ---------------------------------------------------------------

int eread(int unit) {
  EdRec& e = edrec;
  FILE* f = unitstream(unit);
  const size_t maxln = std::max<uint16_t>(e.maxln, 1);
  e.ltab = static_cast<EdLine*>(xalloc(sizeof(EdLine) * (maxln + 1)));
  for (int k = 14; k >= 1 && e.ltab && !e.text; k--) {
    e.tsize = static_cast<uint32_t>(maxln * 8 * static_cast<size_t>(k));
    e.text = static_cast<char*>(xalloc(e.tsize));
  }
  if (!e.ltab || !e.text || !f) {
    closef(unit, 0);
    edfree();
    error(2, E_NOTABLE);
    return -1;
  }
  e.nlines = 0;
  e.used = 0;
  // Lines end with LF, CR LF or CR; each is kept whole, however long.
  bool full = false, open = false, cr = false;
  uint32_t start = 0;
  char chunk[65536];
  size_t got;
  auto endline = [&]() {
    if (e.nlines >= maxln || e.used >= e.tsize) return false;
    e.ltab[e.nlines++] = EdLine{start, static_cast<int32_t>(e.used - start)};
    e.text[e.used++] = '\n';
    start = e.used;
    open = false;
    return true;
  };
  while (!full && (got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    for (size_t i = 0; i < got; i++) {
      const char c = chunk[i];
      if (cr && c == '\n') {
        cr = false;
        continue;
      }
      cr = c == '\r';
      if (c == '\n' || c == '\r') {
        if (!endline()) {
          full = true;
          break;
        }
        continue;
      }
      // A line must leave room for its newline.
      if (e.nlines >= maxln || e.used + 1 >= e.tsize) {
        full = true;
        break;
      }
      e.text[e.used++] = c;
      open = true;
    }
  }
  if (!full && open && !endline()) full = true;
  if (full) {
    // The line that did not fit goes.
    e.used = start;
  }
  closef(unit, 0);
  e.flags = ED_TEXT | ED_FILE;
  e.first = 1;
  e.fcol = 0;
  eds.trunc = full;
  if (full) {
    // The edit goes on with the lines that fit; it is never written back.
    error(2, E_LONG);
    state &= ~ST_ERROR;
  }
  return 0;
}

int ewrite() {
  EdRec& e = edrec;
  const char* name = eds.fname.c_str();
  SafeOut so;
  std::string open;
  const int t = swtemp(name, &so, &open, false);
  if (t != 0) {
    fileerr(name, 2, 66, t > 0 ? t : EIO);
    return -1;
  }
  FILE* f = std::fopen(open.c_str(), "wb");
  if (!f) {
    const int err = errno;
    swdone(&so, false);
    fileerr(name, 2, 66, err);
    return -1;
  }
  const char* eol = (e.flags & ED_CRLF) ? "\r\n" : "\n";
  const size_t neol = std::strlen(eol);
  std::string out;
  out.reserve(e.used + e.nlines);
  for (int i = 0; i < e.nlines; i++) {
    const char* p = e.text + e.ltab[i].off;
    int n = e.ltab[i].len;
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) n--;
    const size_t at = out.size();
    out.append(p, static_cast<size_t>(n));
    std::replace(out.begin() + static_cast<long>(at), out.end(), '\0', ' ');
    out.append(eol, neol);
  }
  // The cause reported is the failed call's own: errno is cleared before
  // each call it is read after (a buffered write fails only at the close).
  errno = 0;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  int werr = ok ? 0 : errno;
  errno = 0;
  if (std::fclose(f) != 0) {
    if (ok) werr = errno;
    ok = false;
  }
  const int r = swdone(&so, ok);
  if (r != 0) {
    wrterr(name, 2, r > 0 ? r : (werr ? werr : EIO));
    return -1;
  }
  e.flags &= static_cast<uint16_t>(~ED_MODIFIED);
  return 0;
}

int samfil(const PtrRec* a, const char* aname, const PtrRec* b, const char* bname) {
  if (!a || !b || !(a->Flg & K_FILE) || !(b->Flg & K_FILE) || a->Flg != b->Flg) return 0;
  if (aname && bname && *aname && *bname) return canon(aname) == canon(bname) ? 1 : 0;
  // Without names: the same data address and the eight dimension words.
  return a->Addr == b->Addr && std::memcmp(a->Offs, b->Offs, sizeof a->Offs) == 0 &&
                 a->Datdims[0] == b->Datdims[0] && a->Datdims[1] == b->Datdims[1]
             ? 1
             : 0;
}

// ---- The screen --------------------------------------------------------------------------

int edlen(const char* row, int n) {
  if (!row) return 0;
  while (n > 0 && (row[n - 1] == ' ' || row[n - 1] == 0)) n--;
  return std::max(n, 0);
}

int edcap() { return std::max(1, LINBUF - 1 - edrec.cols); }

std::string edregion(int r) {
  const EdRec& e = edrec;
  if (r >= 0 && r < static_cast<int>(eds.rows.size()) && eds.rows[static_cast<size_t>(r)].on)
    return eds.rows[static_cast<size_t>(r)].text;
  const int line = e.first - 1 + r;
  if (line < 0 || line >= e.nlines || e.ltab[line].len <= e.fcol) return std::string();
  const size_t n = std::min<size_t>(static_cast<size_t>(e.ltab[line].len - e.fcol), static_cast<size_t>(edcap()));
  std::string s(e.text + e.ltab[line].off + e.fcol, n);
  std::replace(s.begin(), s.end(), '\0', ' ');
  return s;
}

bool edtail(int line) {
  const EdRec& e = edrec;
  return line >= 0 && line < e.nlines && e.ltab[line].len > e.fcol + edcap();
}

// Writes a row's text into the text window's grid.
void edput(int r, const char* s, int n) {
  EdRec& e = edrec;
  const int prev = usewin(e.win);
  erstxt(e.win, 0, r, e.cols);
  n = std::min(n, static_cast<int>(e.cols));
  if (n > 0) curtxt(s, n, 0, r, 0);
  usewin(prev);
  invalwin(winhwnd(e.win));
}

int edline(int line, int row) {
  const EdRec& e = edrec;
  if (row < 0 || row >= e.rows) return 0;
  if (line < 0 || line >= e.nlines || e.ltab[line].len <= e.fcol) {
    edput(row, "", 0);
    return 0;
  }
  const int n = std::min<int>(e.ltab[line].len - e.fcol, e.cols);
  std::string s(e.text + e.ltab[line].off + e.fcol, static_cast<size_t>(n));
  std::replace(s.begin(), s.end(), '\0', ' ');
  edput(row, s.data(), n);
  return 0;
}

void edrowdraw(int r) {
  if (r >= 0 && r < static_cast<int>(eds.rows.size()) && eds.rows[static_cast<size_t>(r)].on) {
    const std::string& t = eds.rows[static_cast<size_t>(r)].text;
    edput(r, t.data(), static_cast<int>(t.size()));
  } else {
    edline(edrec.first - 1 + r, r);
  }
}

int edscrn(int first) {
  EdRec& e = edrec;
  edmods();
  if (first > 0) e.first = first;
  for (int r = 0; r < e.rows; r++) edrowdraw(r);
  return 0;
}

std::string edfold(int line, const std::string& region) {
  const EdRec& e = edrec;
  const std::string base = edget(line);
  const size_t fc = static_cast<size_t>(e.fcol), cap = static_cast<size_t>(edcap());
  const std::string tail = base.size() > fc + cap ? base.substr(fc + cap) : std::string();
  const std::string reg = tail.empty() ? rtrim(region) : region;
  std::string out = base.substr(0, std::min(fc, base.size()));
  if (!reg.empty() || !tail.empty()) out.resize(fc, ' ');
  return out + reg + tail;
}

int edmods() {
  EdRec& e = edrec;
  if (!(e.flags & ED_PENDING)) return 0;
  e.flags &= static_cast<uint16_t>(~ED_PENDING);
  // Rows past the end of the text add lines, up to the last one that holds
  // text.
  int last = -1;
  for (size_t r = 0; r < eds.rows.size(); r++) {
    const int line = e.first - 1 + static_cast<int>(r);
    if (eds.rows[r].on && line >= e.nlines && !rtrim(eds.rows[r].text).empty()) last = std::max(last, line);
  }
  int rc = 0;
  while (rc == 0 && e.nlines <= last) {
    if (edins(e.nlines - 1, std::string()) < 0) rc = -1;
    e.flags |= ED_MODIFIED;
  }
  for (size_t r = 0; r < eds.rows.size() && rc == 0; r++) {
    if (!eds.rows[r].on) continue;
    const int line = e.first - 1 + static_cast<int>(r);
    if (line >= e.nlines) continue;
    const std::string now = edfold(line, eds.rows[r].text);
    if (now == edget(line)) continue;
    e.flags |= ED_MODIFIED;
    if (edset(line, now) < 0) rc = -1;
  }
  for (auto& p : eds.rows) p.on = false;
  return rc;
}

// ---- The line table listing ------------------------------------------------------------------

int edlist() {
  EdRec& e = edrec;
  if (!e.ltab) return 0;
  // The entry behind the last line is marked.
  e.ltab[e.nlines] = EdLine{e.used, -1};
  const int n = std::min(e.nlines + 1, 69);
  for (int i = 0; i < n; i++) {
    jprintf(lstlun, i % 3 ? "    %3d: %6ld %3d" : "%3d: %6ld %3d", i + 1, static_cast<long>(e.ltab[i].off),
            static_cast<int>(e.ltab[i].len));
    if (i % 3 == 2 || i == n - 1) jprintf(lstlun, "\n");
  }
  return 0;
}

int nullcmd() { return 0; }
int edclrm() { return 0; }
