// The menu table, menu records, and the menu library file ("MENUS").
//
// The library is outside input: every offset and length read from it is
// checked against the file's length and the stored record's own sizes, and
// every walk of its directory chain is bounded, so that a cycle ends.
#include "ui/menu.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "lang/cstart.h"
#include "ui/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

MnuRec* mnutab[NMENUS + 1];

namespace {
constexpr int E_LIB = 97;
constexpr int E_FULL = 98;
constexpr int PIECE = 16384;  // library data moves in pieces of this size

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void set32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The library file's length.
int64_t liblen() {
  FILE* f = mnulun > 0 ? unitstream(mnulun) : nullptr;
  if (!f) return 0;
  if (std::fflush(f) != 0 || std::fseek(f, 0, SEEK_END) != 0) return 0;
  const long n = std::ftell(f);
  return n < 0 ? 0 : n;
}

bool rdat(uint32_t pos, void* buf, int len) {
  if (len <= 0) return true;
  if (static_cast<int64_t>(pos) + len > liblen()) return false;
  return rdblk(mnulun, 0, buf, len, pos) == len;
}

bool wrat(uint32_t pos, const void* buf, int len) {
  return wrtblk(mnulun, 0, buf, len, pos) == len;
}

bool puthdr() { return wrat(0, mnuhdr, MLIBHDR); }

void libflush() {
  if (FILE* f = mnulun > 0 ? unitstream(mnulun) : nullptr) std::fflush(f);
}

// A directory entry.
struct Ent {
  char name[16];
  uint32_t size, pos, zero, next;
};
static_assert(sizeof(Ent) == MLIBENT);

bool rdent(uint32_t at, Ent* e) {
  uint8_t b[MLIBENT];
  if (!rdat(at, b, MLIBENT)) return false;
  std::memcpy(e->name, b, 16);
  e->name[15] = 0;
  e->size = le32(b + 16);
  e->pos = le32(b + 20);
  e->zero = le32(b + 24);
  e->next = le32(b + 28);
  return true;
}

bool wrent(uint32_t at, const Ent& e) {
  uint8_t b[MLIBENT] = {};
  std::memcpy(b, e.name, 16);
  set32(b + 16, e.size);
  set32(b + 20, e.pos);
  set32(b + 24, 0);
  set32(b + 28, e.next);
  return wrat(at, b, MLIBENT);
}

// The most entries a chain walk visits: one per 32 bytes of the file.
int64_t maxwalk() { return liblen() / MLIBENT + 2; }

// Deletes a library entry by name (the library part of delmnu). True when
// one was found.
bool libdel(const char* name) {
  uint32_t pos = 0, size = 0, at = 0;
  if (!libopen(false) || fndent(name, &pos, &size, &at) != 0) return false;
  uint8_t b[MLIBENT];
  if (!rdat(at, b, MLIBENT)) return false;
  b[0] = 0;  // the first name byte marks a free entry
  if (!wrat(at, b, MLIBENT)) return false;
  const uint32_t used = mlibhdr(16);
  set32(mnuhdr + 16, used > 0 ? used - 1 : 0);
  set32(mnuhdr + 24, mlibhdr(24) + size);
  const bool ok = puthdr();
  libflush();
  return ok;
}
}  // namespace

// ---- Records -------------------------------------------------------------------

MnuRec* mnurec(int n) { return n >= 1 && n <= NMENUS ? mnutab[n] : nullptr; }

uint8_t* mnudata(const MnuRec* r) {
  return r && r->data < 0 ? static_cast<uint8_t*>(heldptr(r->data)) : nullptr;
}

int widsize(const MnuRec* r) { return r && (r->kind & 15) == MK_DIALOG ? 80 : 16; }

MnuWid* mnuwid(const MnuRec* r, int i) {
  uint8_t* d = mnudata(r);
  if (!d || i < 0 || i >= r->nwid) return nullptr;
  return reinterpret_cast<MnuWid*>(d + r->widoff + i * widsize(r));
}

DlgWid* dlgwid(const MnuRec* r, int i) {
  if (!r || (r->kind & 15) != MK_DIALOG) return nullptr;
  return reinterpret_cast<DlgWid*>(mnuwid(r, i));
}

const char* mnutext(const MnuRec* r, uint16_t off, uint16_t len) {
  const uint8_t* d = mnudata(r);
  if (!d || len == 0 || static_cast<uint32_t>(off) + len >= r->widoff) return "";
  return reinterpret_cast<const char*>(d + off);
}

char* mnutail(const MnuRec* r) {
  uint8_t* d = mnudata(r);
  if (!d || r->size < MNUTAIL) return nullptr;
  return reinterpret_cast<char*>(d + r->size - MNUTAIL);
}

bool mnucheck(const MnuRec* r) {
  const uint8_t* d = mnudata(r);
  if (!d || r->size < MNUTAIL || r->nwid < 0 || r->widoff > r->size - MNUTAIL) return false;
  const int k = r->kind & 15;
  if (k != MK_TEXT && k != MK_KEY && k != MK_DIALOG && k != MK_TABLET) return false;
  const uint32_t wend = r->widoff + static_cast<uint32_t>(r->nwid) * static_cast<uint32_t>(widsize(r));
  if (wend > r->size - MNUTAIL) return false;
  // Every text lies in the text part and ends with its NUL.
  auto ok = [&](uint16_t off, uint16_t len) {
    if (len == 0) return true;
    return static_cast<uint32_t>(off) + len < r->widoff && d[off + len] == 0;
  };
  if (!ok(r->startoff, r->startlen) || !ok(r->stopoff, r->stoplen)) return false;
  for (int i = 0; i < r->nwid; i++) {
    const auto* w = reinterpret_cast<const MnuWid*>(d + r->widoff + i * widsize(r));
    if (!ok(w->txtoff, w->txtlen) || !ok(w->cmdoff, w->cmdlen) || !ok(w->hlpoff, w->hlplen)) return false;
  }
  return true;
}

// ---- Slots ---------------------------------------------------------------------

int newmnu() {
  for (int n = 1; n <= NMENUS; n++) {
    if (mnutab[n]) continue;
    auto* r = static_cast<MnuRec*>(xcalloc(1, sizeof(MnuRec)));
    if (!r) break;
    mnutab[n] = r;
    return n;
  }
  // All taken: the first menu that is not open is reused.
  for (int n = 1; n <= NMENUS; n++) {
    MnuRec* r = mnutab[n];
    if (!r || r->active) continue;
    frmnu(n, false);
    std::memset(r, 0, sizeof *r);
    return n;
  }
  error(0, E_FULL);
  return -1;
}

void frmnu(int n, bool whole) {
  MnuRec* r = mnurec(n);
  if (!r) return;
  if (void* d = mnudata(r)) {
    dropptr(r->data);
    xfree(d);
  }
  r->data = 0;
  dlgforget(n);
  std::memset(r->name, 0, sizeof r->name);
  if (whole) {
    xfree(r);
    mnutab[n] = nullptr;
    if (curdlg == n) curdlg = 0;
    if (curkey == n) curkey = 0;
    if (curtab == n) curtab = 0;
    if (lastmnu == n) lastmnu = 0;
  }
}

// ---- The library ---------------------------------------------------------------

uint32_t mlibhdr(int offset) { return offset >= 0 && offset <= 28 ? le32(mnuhdr + offset) : 0; }

bool libopen(bool create) {
  if (mnulun > 0 && unitstream(mnulun)) return true;
  mnulun = -1;
  const uint32_t keep = state;
  const int u = inimnu(create ? 1 : 0);
  // Only a library that is needed reports that it cannot be had.
  if (u < 0 && !create) state = keep;
  return u > 0;
}

int fndent(const char* name, uint32_t* pos, uint32_t* size, uint32_t* prev) {
  if (mnulun <= 0) return -1;
  uint32_t at = mlibhdr(28);
  const bool named = name && *name;
  if (!named && prev && *prev) {
    Ent e;
    if (!rdent(*prev, &e)) return -1;
    at = e.next;
  }
  const int64_t limit = maxwalk();
  for (int64_t k = 0; at != 0 && k < limit; k++) {
    Ent e;
    if (!rdent(at, &e)) return -1;
    if (e.name[0] && (!named || strncmp(e.name, name, 15) == 0)) {
      if (pos) *pos = e.pos;
      if (size) *size = e.size;
      if (prev) *prev = at;
      return 0;
    }
    at = e.next;
  }
  return -1;
}

int rdmnu(uint32_t pos, uint32_t size) {
  if (mnulun <= 0) return -1;
  const int64_t flen = liblen();
  uint8_t rec[MNUREC];
  if (size < MNUREC + MNUTAIL || static_cast<int64_t>(pos) + size > flen || !rdat(pos, rec, MNUREC)) {
    error(0, E_LIB);
    return -1;
  }
  MnuRec img;
  std::memcpy(&img, rec, sizeof img);
  img.name[15] = 0;
  // The data block lies inside the stored menu.
  if (img.size < MNUTAIL || img.size > size - MNUREC || img.libpos < pos + MNUREC ||
      static_cast<int64_t>(img.libpos) + img.size > static_cast<int64_t>(pos) + size) {
    error(0, E_LIB);
    return -1;
  }
  const int n = newmnu();
  if (n < 0) return -1;
  MnuRec* r = mnurec(n);
  auto* d = static_cast<uint8_t*>(xalloc(img.size));
  if (!d) {
    frmnu(n, true);
    error(0, 126);
    return -1;
  }
  bool ok = true;
  for (uint32_t done = 0; ok && done < img.size; done += PIECE)
    ok = rdat(img.libpos + done, d + done, static_cast<int>(std::min<uint32_t>(PIECE, img.size - done)));
  *r = img;
  r->data = holdptr(d);
  r->tail = static_cast<int32_t>(img.size - MNUTAIL);
  // What describes an open menu does not come from the file.
  r->active = 0;
  r->barwin = 0;
  r->prev = 0;
  r->modal = 0;
  if (!ok || !mnucheck(r)) {
    frmnu(n, true);
    error(0, E_LIB);
    return -1;
  }
  return n;
}

int mnustor(int n) {
  MnuRec* r = mnurec(n);
  uint8_t* d = mnudata(r);
  if (!d || !libopen(true)) return -1;
  libdel(r->name);  // a name already stored is replaced
  // The first free entry of the chain, else a new one.
  uint32_t at = mlibhdr(28), last = 0, slot = 0;
  const int64_t limit = maxwalk();
  for (int64_t k = 0; at != 0 && k < limit; k++) {
    Ent e;
    if (!rdent(at, &e)) break;
    if (!e.name[0]) {
      slot = at;
      break;
    }
    last = at;
    at = e.next;
  }
  Ent ne{};
  uint32_t end = mlibhdr(20);
  if (end < MLIBSTART) end = MLIBSTART;
  bool fresh = false;  // a new entry joins the chain behind `last`
  if (slot) {
    Ent old;
    if (rdent(slot, &old)) ne.next = old.next;
  } else if (!last) {
    slot = MLIBHDR;
    set32(mnuhdr + 28, slot);
  } else if (mlibhdr(16) < MLIBCAP && last + 2 * MLIBENT <= MLIBSTART) {
    slot = last + MLIBENT;
    fresh = true;
  } else {
    slot = end;
    end += MLIBENT;
    fresh = true;
  }
  set32(mnuhdr + 16, mlibhdr(16) + 1);
  std::memcpy(ne.name, r->name, 16);
  ne.size = (r->size + MNUREC + 7) & ~7u;
  ne.pos = end;
  set32(mnuhdr + 20, end + ne.size);
  r->libpos = end + MNUREC;
  MnuRec img = *r;
  img.data = 0;
  img.tail = 0;
  std::memset(img.pad2, 0, sizeof img.pad2);
  std::memset(img.pad3, 0, sizeof img.pad3);
  bool ok = puthdr() && wrent(slot, ne);
  if (ok && fresh) {
    Ent le;
    ok = rdent(last, &le);
    le.next = slot;
    ok = ok && wrent(last, le);
  }
  ok = ok && wrat(end, &img, MNUREC);
  for (uint32_t done = 0; ok && done < r->size; done += PIECE)
    ok = wrat(r->libpos + done, d + done, static_cast<int>(std::min<uint32_t>(PIECE, r->size - done)));
  // Bytes between the data and the rounded size read as zeros.
  if (ok && ne.size > r->size + MNUREC) {
    const uint8_t zero[8] = {};
    ok = wrat(r->libpos + r->size, zero, static_cast<int>(ne.size - r->size - MNUREC));
  }
  libflush();
  return ok ? 0 : -1;
}

int delmnu(const char* name) {
  char nm[16];
  mnuname(name, nm);
  bool found = false;
  for (int n = 1; n <= NMENUS; n++) {
    MnuRec* r = mnutab[n];
    if (!r || !r->name[0] || strncmp(r->name, nm, 15) != 0) continue;
    if (r->active) GeTMNu(n, -99);
    if (mnurec(n)) frmnu(n, false);  // the record stays in its slot, nameless
    found = true;
  }
  if (libdel(nm)) found = true;
  return found ? 0 : -1;
}

int fndmnuname(const char* name, uint32_t* pos, uint32_t* size) {
  if (!name || !*name) return -1;
  for (int n = 1; n <= NMENUS; n++)
    if (mnutab[n] && mnutab[n]->name[0] && strncmp(mnutab[n]->name, name, 15) == 0) return n;
  // The library as the caller opened it: a bad one is not tried again.
  uint32_t at = 0;
  if (mnulun > 0 && unitstream(mnulun) && fndent(name, pos, size, &at) == 0) return 0;
  return -1;
}

int liblist(int unit) {
  if (!libopen(false)) return -1;
  jprintf(unit, "System Menu File:  Num. Menus= %4d  Filesize= %d byts  Freesize= %d bytes\n",
          static_cast<int>(mlibhdr(16)), static_cast<int>(mlibhdr(20)), static_cast<int>(mlibhdr(24)));
  jprintf(unit, "Entry Name             Flg Itms    Size    FileLoc    FileHdr\n");
  uint32_t at = mlibhdr(28);
  const int64_t limit = maxwalk();
  int k = 0;
  for (int64_t step = 0; at != 0 && step < limit && !(state & 0x8180); step++) {
    Ent e;
    if (!rdent(at, &e)) break;
    if (e.name[0]) {
      uint8_t rec[MNUREC] = {};
      MnuRec img{};
      if (rdat(e.pos, rec, MNUREC)) std::memcpy(&img, rec, sizeof img);
      jprintf(unit, "%3d:  %-18.18s %3oo %4d %9ld %9ld  %9ld %9ld %9ld\n", ++k, e.name,
              static_cast<unsigned>(img.kind), img.nwid, static_cast<long>(e.size), static_cast<long>(e.pos),
              static_cast<long>(at), static_cast<long>(img.size), static_cast<long>(e.next));
    }
    at = e.next;
  }
  return k;
}
