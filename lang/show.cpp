// The show command.
#include "lang/show.h"
#include "ui/menu.h"
#include "files/dirutil.h"
#include "files/filevar.h"

#include "core/args.h"
#include "core/format.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/alarm.h"
#include "lang/docmnd.h"
#include "lang/keywords.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/fonts.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {
constexpr int32_t STOPS = 0x8180;
bool halted() { return (state & STOPS) != 0; }

// The kind bits that make a variable's kind (Number to List).
constexpr uint16_t KINDS = 0x0FF0;

// A word of the word memory, or null outside the low stack and high memory
// (held pointers and unused addresses are never read).
const uint32_t* memword(int32_t a) {
  if (a < 0) return nullptr;
  if (a < HIMEM_BASE) return a < lstk.end ? wordp(a) : nullptr;
  return a < hstk.bot ? wordp(a) : nullptr;
}

// Whether n bytes from word address a lie inside one of the two stacks.
bool inmem(int32_t a, uint32_t bytes) {
  const int32_t words = static_cast<int32_t>((bytes + 3) / 4);
  return memword(a) && (words == 0 || memword(a + words - 1));
}

// A text at most max characters long with control characters shown as
// `esc` and three octal digits ('\\') or as '$' and one digit.
std::string shown(const char* s, int len, int max, bool octal) {
  std::string out;
  for (int i = 0; i < len && i < max; i++) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 32 || c == 127) {
      char b[8];
      if (octal)
        std::snprintf(b, sizeof b, "\\%03o", c);
      else
        std::snprintf(b, sizeof b, "$%d", c % 10);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The first values of Number or Array data on the stack, read by element
// size: " %9.2f" floats, " %9ld" 32-bit, " %9d" others, " ..." for more.
void values(int32_t data, uint32_t count, int type) {
  int bytes;
  switch (type) {
    case 8: bytes = 1; break;
    case 16: bytes = 2; break;
    case 24: bytes = 3; break;
    case 32:
    case 96: bytes = 4; break;
    default: return;  // packed bit fields are not listed
  }
  const uint32_t n = std::min<uint32_t>(count, 3);
  if (!inmem(data, n * static_cast<uint32_t>(bytes))) return;
  const auto* p = reinterpret_cast<const uint8_t*>(wordp(data));
  for (uint32_t i = 0; i < n; i++, p += bytes) {
    if (type == 96) {
      float f;
      std::memcpy(&f, p, 4);
      jprintf(lstlun, " %9.2f", static_cast<double>(f));
    } else if (type == 32) {
      int32_t v;
      std::memcpy(&v, p, 4);
      jprintf(lstlun, " %9ld", static_cast<long>(v));
    } else if (type == 16) {
      int16_t v;
      std::memcpy(&v, p, 2);
      jprintf(lstlun, " %9d", v);
    } else if (type == 24) {
      jprintf(lstlun, " %9d", p[0] | p[1] << 8 | p[2] << 16);
    } else {
      jprintf(lstlun, " %9d", p[0]);
    }
  }
  if (count > 3) jprintf(lstlun, " ...");
}

// The value part of a detailed entry line.
void entval(const SymEnt* e, int32_t entry, bool single) {
  const uint16_t f = e->flags;
  if (f & SY_LIST) {
    if (!(f & SY_STRING) && single) {
      const uint32_t n = e->value;
      jprintf(lstlun, "\nList#   BaseAddr   Offset     Xdim    Ydim Bits      Size");
      const uint32_t* tab = memword(e->data);
      for (uint32_t i = 0; tab && i < n && !halted(); i++) {
        const uint32_t* slot = memword(e->data + static_cast<int32_t>(i));
        if (!slot) break;
        const int32_t off = static_cast<int32_t>(*slot);  // in words from the table
        const uint32_t* h = off ? memword(e->data + off) : nullptr;
        if (!h || !inmem(e->data + off, 48)) {
          jprintf(lstlun, "\n %4d: %10ld +%7ld", static_cast<int>(i), static_cast<long>(e->data),
                  static_cast<long>(off));
          continue;
        }
        // An image list element names itself by its description text.
        char nm[13] = {0};
        const uint16_t tl = static_cast<uint16_t>(h[6] >> 16);
        if (tl > 0 && h[10] > 0) {
          const uint8_t* t = membyt(static_cast<int32_t>(h[10]));
          if (t && inmem(static_cast<int32_t>(h[10]) / 4, std::min<uint32_t>(tl, 12))) std::memcpy(nm, t, std::min<size_t>(tl, 12));
        }
        jprintf(lstlun, "\n %4d: %10ld +%7ld -> %5ld x %5ld x %5ld  %2d %8ld,  %s", static_cast<int>(i),
                static_cast<long>(e->data), static_cast<long>(off), static_cast<long>(h[0]),
                static_cast<long>(h[1]), static_cast<long>(h[2]), static_cast<int>(h[5] & 0xFFFF),
                static_cast<long>(h[4]), nm);
      }
    } else if (e->data > 0 && inmem(e->data, 16)) {
      const uint32_t* w = memword(e->data);
      for (int i = 0; i < 4; i++) jprintf(lstlun, "%7ld ", static_cast<long>(w[i]));
    }
  } else if (f & SY_STRING) {
    char text[40];
    int n = GETCHV(entry, text, sizeof text, 1);
    jprintf(lstlun, "%s", shown(text, n, 37, true).c_str());
  } else if (f & SY_VECTOR) {
    if ((f & KINDS) == SY_VECTOR && e->value > 0 && inmem(e->data, 8)) {
      const auto* b = reinterpret_cast<const uint8_t*>(wordp(e->data));
      int16_t x, y, z;
      std::memcpy(&x, b, 2);
      std::memcpy(&y, b + 2, 2);
      std::memcpy(&z, b + 4, 2);
      jprintf(lstlun, " %6d %6d %6d  %2d %2d %3d%s", x, y, z, b[6] & 15, b[6] >> 4, b[7],
              e->value > 1 ? " ..." : "");
    } else {
      jprintf(lstlun, "%7ld vecs at %7ld", static_cast<long>(e->value), static_cast<long>(e->data));
    }
  } else if (f & (SY_MATRIX | SY_IMAGE | SY_SOLID)) {
    if (e->data > 0 && inmem(e->data, 16)) {
      const uint32_t* w = memword(e->data);
      jprintf(lstlun, "(%5ld,%5ld,%5ld) %7ld", static_cast<long>(w[0]), static_cast<long>(w[1]),
              static_cast<long>(w[2]), static_cast<long>(w[3]));
    }
  } else if (f & (SY_NUMBER | SY_ARRAY)) {
    values(e->data, (f & SY_NUMBER) ? 1u : e->value, e->type);
  }
}

// Whether an entry is listed for a kind.
bool ofkind(uint16_t flags, int kind) {
  if (flags == 0) return false;
  if (kind == SY_VAR) return (flags & 0x17F0) == SY_VAR;
  return (flags & kind) == kind;
}

// The tables a listing walks: the current one, then the global one when it
// is another.
int tables(int32_t* t) {
  int n = 0;
  if (cursym > 0) t[n++] = cursym;
  if (glbsym > 0 && glbsym != cursym) t[n++] = glbsym;
  return n;
}

// The columns of a names-only listing.
int namcols() { return std::max(1, linwid() / 12); }

// The category menu.
void catmenu() {
  jprintf(lstlun, "Select category:\n  Number  Image   String  Open");
  jprintf(lstlun, "    Declare\n  Array   Solid   List Macro\t");
  jprintf(lstlun, "Define\n  Matrix  Vector  Pointer Menu\n");
}

void defines() {
  jprintf(lstlun, "Defined Strings:\n");
  jprintf(lstlun, "\tNAME\t\tADDR ARGS NCH STRING\n");
  const SymTab* h = tabptr(defsym);
  for (int i = 0; h && i < static_cast<int>(h->count) && !halted(); i++) {
    const int32_t a = symadr(defsym, i);
    const SymEnt* e = symptr(a);
    if (!e || !(e->flags & SY_DEFINE)) continue;
    char name[SYMNAM + 1];
    symnam(a, name, sizeof name);
    char text[LINBUF];
    int n = GETCHV(a, text, sizeof text, 1);
    jprintf(lstlun, "    %-12s %6ld %2d %3ld %s\n", name, static_cast<long>(e->data), e->type,
            static_cast<long>(e->value), shown(text, n, 37, false).c_str());
  }
}

void units() {
  jprintf(lstlun, "Files:\n   OUTPUT  LOG      JOURNAL    ERROR   DEBUG   PRINTER\n");
  jprintf(lstlun, "%8d %8d %8d %8d %8d %8d\n", outlun, loglun, jrnlun, errlun, dbglun, prtlun);
  jprintf(lstlun, "    Unit  Mode  Nlinks  Filename\n");
  jprintf(lstlun, "   %5d      0   0       Terminal\n", 1);
  jprintf(lstlun, "   %5d      0   0       Printer\n", 4);
  for (int u = 0; u < NUNITS && !halted(); u++)
    if (filtab[u].Nlinks > 0)
      jprintf(lstlun, "   %5d %6d %6d\t\t%s\n", u, filtab[u].mode, filtab[u].Nlinks, filtab[u].name);
}

void numbers() {
  jprintf(lstlun, "Number Registers:\n");
  for (int r = 0; r < 10; r += 5)
    jprintf(lstlun, "\t#%c-%c: %12.3f %12.3f %12.3f %12.3f %12.3f\n", '0' + r, '4' + r,
            static_cast<double>(getres(r)), static_cast<double>(getres(r + 1)),
            static_cast<double>(getres(r + 2)), static_cast<double>(getres(r + 3)),
            static_cast<double>(getres(r + 4)));
  jprintf(lstlun, "\tState Variables:\n");
  for (int i = 0; i < NSYSVAR && !halted(); i++) {
    if (i % 3 == 0) jprintf(lstlun, "   ");
    const int num = i + 1;
    const float v = num >= 29 && num <= 31 ? -1.0f : getprm(SVBASE + num);
    char name[24];
    std::snprintf(name, sizeof name, "%s:", sysnam[i]);
    jprintf(lstlun, " %13s %10.2f", name, static_cast<double>(v));
    if (i % 3 == 2 || i == NSYSVAR - 1) jprintf(lstlun, "\n");
  }
}

void windows(int only) {
  bool head = false;
  for (int n = 0; n < nwins && !halted(); n++) {
    if (only >= 0 && n != only) continue;
    const Wport* w = wport(n);
    if (!w) continue;
    if (!head) {
      jprintf(lstlun,
              " Win# Name             Type Stat  Flags Icon  Position\tSize    Text Cwid,Hgt Cursx,Cursy\n");
      head = true;
    }
    char name[17] = {0};
    std::memcpy(name, w->name, 16);
    jprintf(lstlun, "%5d %-16.16s %4o %4o %6o %4d ", n, name, static_cast<unsigned>(w->type & 0xFFFF),
            w->status, static_cast<unsigned>(w->flags & 0xFFFF), w->icon != 0 ? 1 : 0);
    jprintf(lstlun, "[%3d,%3d %3dx%3d]", w->rect[0], w->rect[1], w->rect[2] - w->rect[0] + 1,
            w->rect[3] - w->rect[1] + 1);
    if (w->txtgrid != 0)
      jprintf(lstlun, "%4d %3d,%3d %4d,%4d\n", 1, w->chwid, w->chhgt, w->curcol, w->currow);
    else
      jprintf(lstlun, "\n");
    if (trcmsk != 0)
      jprintf(lstlun, "  bds:[%3d,%3d %3d,%3d]\n", w->rect[0], w->rect[1], w->rect[2], w->rect[3]);
  }
}

void timers() {
  jprintf(lstlun, "TIMER LOG\nEntry  Routine  Count   AvgMSecs    TotSecs\n");
  for (int i = 0; i < NTMSLOT && !halted(); i++) {
    const TmSlot& s = tmslot[i];
    if (s.count == 0) continue;
    char name[7] = {0};
    std::memcpy(name, s.name, 6);
    const double avg = static_cast<double>(s.total) / s.count / 0.0182;
    jprintf(lstlun, "%4d\t%-6s %7d %10.3f %10.3f\n", i, name, s.count, avg, s.count * avg / 1000.0);
  }
  if (intarg(3, 1) == 0) std::memset(tmslot, 0, sizeof tmslot);
}

// The symbol table header of a detailed declare listing.
void symhdr() {
  const SymTab* h = tabptr(cursym);
  jprintf(lstlun, "Symbol Table:\n\tGlobal\t= %7ld\n  Current = %7ld\n", static_cast<long>(glbsym),
          static_cast<long>(cursym));
  jprintf(lstlun, "  Entries = %7ld\n\tPrevious= %7ld\n", static_cast<long>(h ? h->count : 0),
          static_cast<long>(h ? h->link : 0));
}

// The kind of a keyword argument: the symbol flag it lists, 0 none.
int kindof(int code) {
  switch (code) {
    case CM_NUMBER: return SY_NUMBER;
    case CM_STRING: return SY_STRING;
    case CM_ARRAY: return SY_ARRAY;
    case CM_MATRIX: return SY_MATRIX;
    case CM_IMAGE: return SY_IMAGE;
    case CM_SOLID: return SY_SOLID;
    case CM_POINTER: return SY_VAR;
    default: return 0;
  }
}

const char* kindname(int kind) {
  switch (kind) {
    case SY_NUMBER: return "Number";
    case SY_STRING: return "String";
    case SY_ARRAY: return "Array";
    case SY_MATRIX: return "Matrix";
    case SY_VECTOR: return "Vector";
    case SY_IMAGE: return "Image";
    case SY_SOLID: return "Solid";
    case SY_LIST: return "List";
    default: return "Pointer";
  }
}

// One symbol by name, or the variable of argument 2.
void onesym(int32_t entry) {
  const SymEnt* e = symptr(entry);
  if (!e) return;
  int kind = SY_VAR;
  for (int k = SY_NUMBER; k <= SY_LIST; k <<= 1)
    if (e->flags & k) {
      kind = k;
      break;
    }
  if (e->flags & SY_DEFINE) kind = SY_DEFINE;
  shosym(kind, entry, kind == SY_DEFINE ? "Defined" : kindname(kind), 1);
}
}  // namespace

int shosym(int kind, int32_t entry, const char* title, int columns) {
  bool any = false;
  int col = 0;
  const int per = namcols();
  auto one = [&](int32_t a, bool single) {
    const SymEnt* e = symptr(a);
    if (!e || !ofkind(e->flags, kind)) return;
    if (!any) {
      jprintf(lstlun, "%s Variables:\n", title);
      if (columns != 0)
        jprintf(lstlun, " NAME        SYMB  FLAG   WS   ADDR   SIZE     VALUE\n");
      any = true;
    }
    char name[SYMNAM + 1];
    symnam(a, name, sizeof name);
    if (columns == 0) {
      jprintf(lstlun, " %-12s", name);
      if (++col == per) {
        jprintf(lstlun, "\n");
        col = 0;
      }
      return;
    }
    const bool number = (e->flags & SY_NUMBER) && !(e->flags & SY_LIST);
    jprintf(lstlun, " %-12s%4ld %5o %3oo %6ld %6ld ", name, static_cast<long>(a),
            static_cast<unsigned>(e->flags), static_cast<unsigned>(e->type),
            static_cast<long>(number ? a : e->data), static_cast<long>(number ? 1 : e->value));
    entval(e, a, single);
    jprintf(lstlun, "\n");
  };
  if (entry > 0) {
    one(entry, true);
  } else {
    int32_t t[2];
    const int nt = tables(t);
    for (int k = 0; k < nt && !halted(); k++) {
      const SymTab* h = tabptr(t[k]);
      for (int i = 0; h && i < static_cast<int>(h->count) && !halted(); i++)
        one(symadr(t[k], i), nt == 1);
    }
  }
  if (columns == 0 && col != 0) jprintf(lstlun, "\n");
  return 0;
}

int shomac() {
  char name[LINBUF] = {0};
  float v = 0;
  int len = 0;
  const int k = nargs() >= 3 ? getarg(3, &v, name, sizeof name, &len) : 0;
  if (!(k & K_STRING) || len < 1) {
    if (macmod == 0 || !curfrm()) {
      if (inimac(0) < 0) {
        jprintf(lstlun, "System macro file not open\n");
        return 0;
      }
      jprintf(lstlun, " #\tName\tFlag  FirstChar Nchars\n");
      fndmac(nullptr, 1);
      return 0;
    }
    const MacFrame* f = curfrm();
    jprintf(lstlun, "Macro Header:\n\tCurrent Ptr = %ld\n", static_cast<long>(frmadr));
    jprintf(lstlun, "\tPrevious Ptr = %ld\n    Symbol Tbl  = %ld\n", static_cast<long>(f->prev),
            static_cast<long>(f->symtab));
    jprintf(lstlun, "\tArgument Lst = %ld\n    Numb. Args  = %d\n", static_cast<long>(f->argtab), f->nargs);
    jprintf(lstlun, "\tMacro Name\t= %s\n", macnam());
    return 0;
  }
  if (macmod != 0 && libps[1] != 0xFFFFFFFFu && libps[2] > libps[1]) return 0;  // reading the library
  inimac(0);
  if (fndmac(name, 0) < 1) return 0;
  uint32_t pos[3];
  libspan(&pos[1], &pos[2]);
  pos[0] = pos[1];
  char line[LINBUF];
  for (int n = 1; !halted(); n++) {
    int l = libnxt(pos, line, sizeof line);
    if (l < 0) break;
    line[std::min(l, 72)] = 0;
    jprintf(lstlun, "%4d: %s\n", n, line);
  }
  return 0;
}

int shostk() {
  const int32_t first = lngarg(2, 0);
  const bool high = first >= HIMEM_BASE;
  const int32_t end = high ? hstk.bot : lstk.end;
  int32_t last = lngarg(3, first + 39);
  if (last >= end) last = end - 1;
  int32_t label = lngarg(4, first);
  for (int32_t a = first; a <= last && !halted(); a += 4, label += 4) {
    uint32_t w[4] = {0, 0, 0, 0};
    bool ok = true;
    for (int i = 0; i < 4; i++) {
      const uint32_t* p = a + i <= last ? memword(a + i) : nullptr;
      if (p)
        w[i] = *p;
      else if (a + i <= last)
        ok = false;
    }
    if (!ok) break;
    char text[17];
    for (int i = 0; i < 16; i++) {
      const unsigned char c = static_cast<unsigned char>(w[i / 4] >> (8 * (i % 4)));
      text[i] = c >= 32 && c <= 126 ? static_cast<char>(c) : '.';
    }
    text[16] = 0;
    jprintf(lstlun, "%7ld:  %11ld %11ld %11ld %11ld  %s\n", static_cast<long>(label),
            static_cast<long>(static_cast<int32_t>(w[0])), static_cast<long>(static_cast<int32_t>(w[1])),
            static_cast<long>(static_cast<int32_t>(w[2])), static_cast<long>(static_cast<int32_t>(w[3])), text);
  }
  return 0;
}

int show() {
  flushq();
  state |= ST_LISTING;
  if (nargs() < 2) {
    catmenu();
    return 0;
  }
  int32_t h = 0;
  int w = -1;
  // A name of no kind that holds nothing, and that no layer fills on first
  // use (zdevice, wdevice, a released pointer): its symbol entry is all
  // there is to show.
  if (int x = argidx(2, &h); h == 0 && x >= 0 && x < NWORDS && wrdtab[x].type > 0 &&
                             (wrdtab[x].type & 0x3FF1) == 0x1000) {
    const int32_t e = wrdsym(wrdtab[x]);
    const SymEnt* s = e ? symptr(e) : nullptr;
    if (s && s->data <= 0 && !(holdrec && holdrec(e))) {
      onesym(e);
      return 0;
    }
  }
  const int t = fndarg(2, &h, &w);
  const WORD* W = w >= 0 && w < NWORDS ? &wrdtab[w] : nullptr;
  const int16_t wt = W ? W->type : 0;
  if (wt == WT_CMD || wt == WT_CMDLIST) {
    const int code = argnum(2);
    const int detail = intarg(3, code == CM_DECLARE ? 0 : 1);
    switch (code) {
      case CM_MACRO: return shomac();
      case CM_MENU: return shomnu();
      case CM_DEFINE: defines(); return 0;
      case CM_DECLARE: {
        if (detail != 0) symhdr();
        static const int order[] = {SY_NUMBER, SY_STRING, SY_ARRAY, SY_MATRIX, SY_VECTOR, SY_IMAGE, SY_SOLID};
        for (int k : order) {
          if (halted()) break;
          shosym(k, 0, kindname(k), detail);
        }
        return 0;
      }
      case CM_NUMBER:
        shosym(SY_NUMBER, 0, "Number", detail);
        numbers();
        return 0;
      case FN_OPEN: units(); return 0;
      case CM_FILE: {
        char name[257];
        if (argtext(3, name, sizeof name) < 1) return 0;
        return shofil(name, intarg(4, 0));
      }
      case CM_WINDOW: {
        int only = -1;
        if (nargs() >= 3) only = intarg(3, -1);
        windows(only);
        return 0;
      }
      case FN_TIME: timers(); return 0;
      case CM_ALARM: return almlst(intarg(3, 0), 1);
      case CM_WATCH: return 0;
      case FN_MAP: return 0;
      case FN_VECTOR: return shosym(SY_VECTOR, 0, "Vector", detail);
      case CM_FONT: return fntlst();
      case FN_DIALOG: return mnusave();
      default: {
        const int kind = kindof(code);
        if (kind) return shosym(kind, 0, kindname(kind), detail);
        catmenu();
        return 0;
      }
    }
  }
  if (wt == WT_NUMBER || t == K_CONST) return shostk();
  if (wt == WT_QUOTED || wt == WT_TEXT) {
    char name[LINBUF];
    float v = 0;
    int len = 0;
    getarg(2, &v, name, sizeof name, &len);
    const int32_t e = GETSYM(name, len, nullptr, 1);
    if (e > 0) onesym(e);
    return 0;
  }
  const int kind = argtyp(2, &h);
  PtrRec* r = h ? ptrrec(h) : nullptr;
  if (!r || !kind) return 0;
  if ((r->Flg & 0xFFF0) == K_NUMBER && r->Idx <= 0 && (r->Flg & K_VALUE)) return shostk();  // a computed number
  if (r->Idx > 0 && symptr(r->Idx)) {
    const SymEnt* e = symptr(r->Idx);
    char name[SYMNAM + 1];
    symnam(r->Idx, name, sizeof name);
    if (std::strcmp(name, "stack") == 0 && (e->flags & SY_ARRAY)) {
      chkstk(intarg(3, 3));
      return 0;
    }
    onesym(r->Idx);
    return 0;
  }
  shoptr(r);
  return 0;
}
