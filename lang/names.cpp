// Names of the command language: the system table (mksyms), name lookup
// (namvar) and the system variables (getprm, putprm).
#include "lang/names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "core/args.h"
#include "core/convert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "graphics/drawstate.h"
#include "graphics/imgvars.h"
#include "graphics/veclist.h"
#include "graphics/writers.h"
#include "lang/namehooks.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/hwvars.h"
#include "realtime/devices/pport.h"
#include "realtime/rtsched.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/platform/entry.h"
#include "ui/screen.h"

const char* const sysnam[NSYSVAR] = {
    "state",      "debug",      "unit",       "outlun",     "version",    "nargs",
    "freestack",  "pflags",     "iplane",     "vplane",     "gplane",     "chkkey",
    "cursor",     "nvecs",      "obase",      "cpuspeed",   "camera",     "cgain",
    "coffset",    "lpat",       "lwidth",     "lcolor",     "penwidth",   "bitmask",
    "hour",       "day",        "secs",       "hplane",     "getx",       "gety",
    "keyrd",      "ibase",      "gflags",     "iflags",     "aflags",     "himemsize",
    "himembase",  "himemflag",  "lastvec",    "sflags",     "maxmem",     "calbar",
    "tablet",     "cursx",      "cursy",      "zvalue",     "prpage",     "nvdata",
    "com1",       "com2",       "com3",       "com4",       "com5",       "com6",
    "com7",       "com8",       "alevel",     "wflags",     "disklo",     "diskhi",
    "dflags",     "zoff",       "zfact",      "menuflag",   "prflags",    "tabs",
    "vanish",     "prwide",     "aspect",     "motor1",     "motor2",     "sw1",
    "sw2",        "sw3",        "adc0",       "adc1",       "adc2",       "adc3",
    "adc4",       "adc5",       "adc6",       "adc7",       "adc8",       "adc9",
    "adc10",      "adc11",      "adc12",      "adc13",      "adc14",      "adc15",
    "dac0",       "dac1",       "dac2",       "dac3",       "dac4",       "dac5",
    "dac6",       "dac7",       "vmode",      "clock",      "wactive",    "tflags",
    "tlo",        "thi",        "calfact",    "digio",      "himemfree",  "scrwid",
    "scrhgt",     "mnubar",     "hdrbar",     "chrwid",     "chrhgt",     "scrbits",
    "freedisk",   "scrfreq",    "scrflags",   "sysversion", "fontactive", "fontsize",
    "stacktrap",  "priority",   "jpegquality", "lpt100",    "lpt101",     "lpt102",
    "lpt200",     "lpt201",     "lpt202",     "lpt300",     "lpt301",     "lpt302",
    "displaywid", "displayhgt", "rdonly",     "gunit",      "vpage",      "menuid",
    "year",       "vwindow",    "vec0",       "scr2wid",    "scr2hgt",    "mainscreen",
    "nscreens",
};

const PreDef prdnam[NPREDEF] = {
    {16, 0, "r0"},         {16, 1, "r1"},        {16, 2, "r2"},         {16, 3, "r3"},
    {16, 4, "r4"},         {16, 5, "r5"},        {16, 6, "r6"},         {16, 7, "r7"},
    {16, 8, "r8"},         {16, 9, "r9"},        {64, 20, "redlut"},    {64, 21, "greenlut"},
    {64, 22, "bluelut"},   {64, 97, "sun"},      {64, 98, "pclut"},     {64, 99, "veclut"},
    {128, 0, "displaydims"}, {128, 1, "scr1rect"}, {128, 2, "scr2rect"}, {128, 3, "scr3rect"},
    {128, 4, "scr4rect"},  {128, 5, "rt1rect"},  {128, 6, "rt2rect"},   {128, 10, "cmdswin"},
    {128, 11, "textwin"},  {128, 12, "curswin"}, {128, 13, "xxxwin"},   {128, 14, "vecswin"},
    {128, 15, "xxx2win"},  {128, 16, "xxx3win"}, {128, 17, "xxx4win"},  {128, 100, "videolut"},
    {512, 0, "screen0"},   {512, 1, "screen1"},  {512, 2, "screen2"},
};

const char* const strnam[NSTRVAR] = {
    "sysdir",  "path",    "opsys",    "cvsversion", "helpfile",  "ctrap",    "quitstr",  "fontname",
    "curdir",  "tmpdir",  "datadir",  "cmdlin",     "cmdprog",   "vecfil",   "vdatfil",  "rdhdr",
    "wrthdr",  "editor",  "macrofile", "menufile",  "drawkeys",  "filtyp",   "maincmd",  "prompt",
};

// Fixed source-revision text of the string variable cvsversion.
static const char CVSVERS[] = "pelix 1.00";
// Text of the prompt variable and the size of its block.
static const char PROMPT[] = "PELIX> ";
constexpr int PROMPTSZ = 64;

int16_t obase = 10, ibase = 10;
float cpuspeed;
int16_t prpage, prwide = 80, vpage, prflags;
int16_t alevel;
int16_t tflags;
uint8_t tlo = 1, thi = 255;
int16_t disklo, diskhi, dflags;
int16_t jpegquality;

// The getx/gety pick: which coordinates of the last pick are still unread
// (0x1 x, 0x2 y) and the picked point for each of the two cursor modes.
static int gxpend;
static int16_t gxy[2][2];

void nameini() {
  obase = ibase = 10;
  cpuspeed = 0.0f;
  prpage = 0;
  prwide = 80;
  vpage = prflags = alevel = tflags = 0;
  tlo = 1;
  thi = 255;
  disklo = diskhi = dflags = jpegquality = 0;
  gxpend = 0;
  gxy[0][0] = gxy[0][1] = gxy[1][0] = gxy[1][1] = 0;
}

// ---------------------------------------------------------------------------
// Values as the system variables take them: clamped, then truncated toward
// zero (NaN counts as 0).

static int16_t sv16(double v) { return static_cast<int16_t>(toi16(v)); }
static int32_t sv32(double v) { return toi32(v); }

// The 32-bit value cut to its low 16 bits.
static int16_t low16(double v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(sv32(v)) & 0xFFFFu)); }
static uint8_t low8(double v) { return static_cast<uint8_t>(static_cast<uint32_t>(sv32(v)) & 0xFFu); }

// True when v is exactly its 16-bit integer form.
static bool is16(double v) { return v == static_cast<double>(sv16(v)); }

// ---------------------------------------------------------------------------
// The system table seen directly: entries of 6 words behind a 4-word header.

// Entry of the system table whose name is name[0..len), or 0.
static int32_t findsys(const char* name, int len) {
  const SymTab* h = tabptr(syssym);
  if (syssym <= 0 || h == nullptr || len < 1 || len > SYMNAM) return 0;
  for (uint32_t i = 0; i < h->count; i++) {
    int32_t e = symadr(syssym, static_cast<int>(i));
    const SymEnt* s = symptr(e);
    if (s == nullptr) break;
    if (s->flags == 0 || (s->nlen & 15) != len) continue;
    if (std::memcmp(s->name, name, static_cast<size_t>(len)) == 0) return e;
  }
  return 0;
}

int32_t sysent(const char* name) { return findsys(name, static_cast<int>(std::strlen(name))); }

// Enters one name into the current table; returns its entry address.
static int32_t mkent(const char* name, int flags, int32_t data, uint32_t value, int type) {
  int len = static_cast<int>(std::strlen(name));
  return putsym(0, name, len, flags, data, value, type);
}

int32_t sysvar(const char* name, int flags, int type) { return mkent(name, flags, 0, 0, type); }

static std::string strbuf;

const char* strvar(const char* name) {
  strbuf.clear();
  int32_t e = sysent(name);
  if (e <= 0) return strbuf.c_str();
  const SymEnt* s = symptr(e);
  if ((s->flags & SY_STRING) == 0 || (s->flags & SY_LIST) != 0) return strbuf.c_str();
  auto n = static_cast<int32_t>(s->value);
  int32_t data = s->data;
  if (n < 1 || data <= 0) return strbuf.c_str();
  const char* p = static_cast<const char*>(stkptr(data));
  // The text ends at its length or at a NUL inside it (the prompt's block).
  int32_t k = 0;
  while (k < n && p[k] != '\0') k++;
  strbuf.assign(p, static_cast<size_t>(k));
  return strbuf.c_str();
}

int setstrv(const char* name, const char* text) {
  int32_t e = sysent(name);
  if (e <= 0) return -1;
  const SymEnt* s = symptr(e);
  if ((s->flags & SY_STRING) == 0 || (s->flags & SY_LIST) != 0) return -1;
  auto len = static_cast<int32_t>(std::strlen(text));
  // A variable made with a fixed block (prompt) keeps it while the text fits.
  if ((s->flags & SY_VALUE) != 0) {
    auto cap = static_cast<int32_t>(s->value);
    int32_t data = s->data;
    if (data > 0 && len < cap) {
      char* p = static_cast<char*>(stkptr(data));
      std::memset(p, 0, static_cast<size_t>(cap));
      std::memcpy(p, text, static_cast<size_t>(len));
      return 0;
    }
  }
  PUTCHV(e, text, len, 1);
  return symptr(e)->value == static_cast<uint32_t>(len) ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Pieces of mksyms.

static bool isdir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static std::string slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

static std::string trailing(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::string curfold() {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) == nullptr) return "./";
  return trailing(slashes(buf));
}

std::string sysfold(const char* pelix, const char* progdir) {
  // PELIX names the folder itself: leading blanks are skipped and a quoted
  // value is taken between its quotes.
  if (pelix != nullptr) {
    const char* p = pelix;
    while (*p != '\0' && static_cast<unsigned char>(*p) <= 32) p++;
    std::string s;
    if (*p == '"' || *p == '\'') {
      const char* q = std::strchr(p + 1, *p);
      s.assign(p + 1, q ? static_cast<size_t>(q - p - 1) : std::strlen(p + 1));
    } else {
      s = p;
      while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.pop_back();
    }
    if (!s.empty()) return trailing(slashes(s));
  }
  if (progdir != nullptr && *progdir != '\0') {
    std::string d = trailing(slashes(progdir)) + "system";
    if (isdir(d)) return d + "/";
  }
  return curfold();
}

// The folder of the running program, from the process or else from the
// command line's program word.
static std::string progfold(const std::string& prog) {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path;
  if (n > 0) {
    path.assign(buf, static_cast<size_t>(n));
  } else {
    path = slashes(prog);
  }
  size_t k = path.rfind('/');
  if (k == std::string::npos) return std::string();
  return path.substr(0, k + 1);
}

void splitcmd(const char* cmdline, int len, std::string* prog, std::string* rest) {
  prog->clear();
  rest->clear();
  if (cmdline == nullptr || len <= 0) return;
  int n = 0;
  while (n < len && cmdline[n] != '\0') n++;
  // The program word ends at the first character below 33; a word that
  // begins with a quote runs to its closing quote first, so that a quoted
  // path with blanks stays whole.
  int end = 0;
  char q = cmdline[0];
  if (q == '"' || q == '\'') {
    const void* m = std::memchr(cmdline + 1, q, static_cast<size_t>(n > 1 ? n - 1 : 0));
    if (m != nullptr) end = static_cast<int>(static_cast<const char*>(m) - cmdline) + 1;
  }
  while (end < n && static_cast<unsigned char>(cmdline[end]) >= 33) end++;
  std::string word(cmdline, static_cast<size_t>(end));
  if (end + 1 < n) rest->assign(cmdline + end + 1, static_cast<size_t>(n - end - 1));
  if (word.size() >= 2 && (word[0] == '"' || word[0] == '\'')) {
    size_t k = word.find(word[0], 1);
    if (k != std::string::npos) word = word.substr(1, k - 1);
  }
  *prog = word;
}

// A string variable entry: flags 0x1021, word size code 8, no data.
constexpr int STRFLG = 0x1021;

int mksyms(const char* cmdline, int len) {
  // 1. The number registers, 10 words of the bottom area. Words 0 and 1
  // stay unused first: a data address of 0 means "no data" in a pointer
  // record, so register #0 must not live at address 0.
  int32_t a = 0;
  if (lstk.bot == 0 && getstk(&a, 2, 4, 0, 0) < 1) return -1;
  if (getstk(&a, 10, 4, 0, 0) < 1) return -1;
  regadr = a;
  std::memset(stkptr(a), 0, 40);

  // 2. The table header: current, global, system and definition table.
  if (mksystab() <= 0) return -1;

  // 3. The entries, in their order.
  std::string prog, rest;
  splitcmd(cmdline, len, &prog, &rest);
  if (sysversion == 0.0f) sysversion = osversion();
  const char* tmp = std::getenv("TEMP");
  if (tmp == nullptr) tmp = std::getenv("TMP");

  for (int i = 0; i < NSTRVAR - 1; i++) {
    if (mkent(strnam[i], STRFLG, 0, 0, 8) == 0) return -1;
  }
  setstrv("sysdir", sysfold(std::getenv("PELIX"), progfold(prog).c_str()).c_str());
  setstrv("opsys", osname());
  setstrv("cvsversion", CVSVERS);
  setstrv("curdir", curfold().c_str());
  if (tmp != nullptr) setstrv("tmpdir", tmp);
  setstrv("cmdlin", rest.c_str());
  setstrv("cmdprog", prog.c_str());

  // prompt: a 64-byte block holding the prompt text.
  if (getstk(&a, PROMPTSZ, 1, 1, 0) < 1) return -1;
  std::memset(stkptr(a), 0, PROMPTSZ);
  std::memcpy(stkptr(a), PROMPT, sizeof PROMPT - 1);
  if (mkent("prompt", 0x1023, a, PROMPTSZ, 8) == 0) return -1;

  // prcodes: a text list of 27 empty items.
  if (getstk(&a, 27, 4, 1, 0) < 1) return -1;
  std::memset(stkptr(a), 0, 27 * 4);
  if (mkent("prcodes", 0x1823, a, 27, 8) == 0) return -1;

  if (sysvar("prlut", 0x1041, 8) == 0) return -1;
  if (sysvar("prdots", 0x1081, 8) == 0) return -1;

  if (getstk(&a, 768, 1, 1, 0) < 1) return -1;
  std::memset(stkptr(a), 0, 768);
  if (mkent("imglut", 0x1043, a, 768, 8) == 0) return -1;

  static const char* const holders[] = {"vecs", "vdata", "zimage", "vimage", "yzimage", "simage", "zdevice", "wdevice"};
  for (const char* n : holders)
    if (sysvar(n, 0x1001, 1) == 0) return -1;
  imginit();  // the display layer's records of the bound image names

  // stack: the whole low stack as 32-bit integers; hstack: high memory.
  if (mkent("stack", 0x1043, 0, static_cast<uint32_t>(lstk.end), 32) == 0) return -1;
  int32_t hs = mkent("hstack", 0x1043, 0, 0, 32);
  if (hs == 0) return -1;
  symptr(hs)->data = HIMEM_BASE;
  return 0;
}

// ---------------------------------------------------------------------------
// namvar

static bool namech(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

// True when entry e lies in the table at t.
static bool intab(int32_t e, int32_t t) {
  const SymTab* h = tabptr(t);
  if (t <= 0 || h == nullptr || e < symadr(t, 0)) return false;
  return e < symadr(t, static_cast<int>(h->count)) && (e - symadr(t, 0)) % SYMWDS == 0;
}

// A fixed name list hashed once: the position of the first entry that is
// exactly the name, as a scan in the list's order finds it, or -1.
class NameIdx {
 public:
  NameIdx(const char* const* names, int n) {
    for (int i = n - 1; i >= 0; i--) map_[names[i]] = i;
  }
  explicit NameIdx(const PreDef (&list)[NPREDEF]) {
    for (int i = NPREDEF - 1; i >= 0; i--) map_[list[i].name] = i;
  }
  int find(const char* name, int len) const {
    auto it = map_.find(std::string_view(name, size_t(len)));
    return it == map_.end() ? -1 : it->second;
  }

 private:
  std::unordered_map<std::string_view, int> map_;
};

int32_t namvar(const char* name, int len, uint16_t* kind) {
  if (kind) *kind = 0;
  if (name == nullptr || len < 1) return -1;
  // 1. System variables, exact match.
  static const NameIdx sysidx(sysnam, NSYSVAR);
  if (int i = sysidx.find(name, len); i >= 0) {
    if (kind) *kind = SVFLAGS;
    return SVBASE + 1 + i;
  }
  // 2. Predefined names, exact match over the run of name characters.
  int run = 0;
  while (run < len && namech(name[run])) run++;
  if (run > 0) {
    static const NameIdx predef(prdnam);
    if (int i = predef.find(name, run); i >= 0) {
      if (kind) *kind = prdnam[i].kind;
      return prdnam[i].index;
    }
  }
  // 3. The symbol tables, outward.
  uint16_t flags = 0;
  int32_t e = GETSYM(name, len, &flags, 1);
  if (e < 0) return e;
  // The macro compiler records a reference to an outer symbol as a copy in
  // its own table whose data word is minus the found entry's address.
  if ((state & ST_COMPILE) != 0 && !intab(e, cursym) && !intab(e, defsym)) {
    const SymEnt* s = symptr(e);
    auto cflags = static_cast<int>(flags & ~1u);
    int32_t c = putsym(0, name, len, cflags, 0, s->value, s->type);
    if (c <= 0) return -1;
    symptr(c)->data = -e;
    e = c;
    flags = static_cast<uint16_t>(cflags);
  }
  if (kind) *kind = static_cast<uint16_t>(flags & 0x1FF6u);
  return e;
}

// ---------------------------------------------------------------------------
// getprm

// The getx/gety pick (which: 0 x, 1 y).
static int16_t pickxy(int which) {
  int bit = 1 << which;
  if ((gxpend & bit) == 0) {
    int x = 0, y = 0;
    getxy(1, &x, &y);
    int mode = curflg & 1;
    gxy[mode][0] = curx = static_cast<int16_t>(x);
    gxy[mode][1] = cury = static_cast<int16_t>(y);
    curson(curflg, 0);
    gxpend = 3;
    flushq();
  }
  gxpend ^= bit;
  return gxy[curflg & 1][which];
}

static double chkkey() {
  int k = peekky();
  if (k > 0) return k;
  k = chkio(1);
  if (k > 0) {
    pushkey(k, keytext);
    return k;
  }
  return 0;
}

static double prmval(int code) {
  int32_t c[4];
  int32_t d[3];
  switch (code) {
    case 101: return state;
    case 102: return trcmsk;
    case 103: return devflg;
    case 104: return outlun;
    case 105: return PELIX_VERSION;
    case 106: return nargsv();
    case 107: {
      double w = static_cast<double>(lstk.freew) + (hstk.end > HIMEM_BASE ? static_cast<double>(hstk.freew) : 0.0);
      return 4.0 * w;
    }
    case 108: return pflags;
    case 109: return iplane;
    case 110: return vplane;
    case 111: return gplane;
    case 112: return chkkey();
    case 113: return curflg;
    case 114: return nvecs;
    case 115: return obase;
    case 116: return cpuspeed;
    case 121: return lwidth;
    case 123: return penwidth;
    case 124: return bitmask;
    case 125: gclock(c); return c[0] + c[1] / 100.0;
    case 126: gtime(d); return d[1] + d[2] / 100.0;
    case 127: gclock(c); return c[2] + c[3] / 1000.0;
    case 128: return hplane;
    case 129: return pickxy(0);
    case 130: return pickxy(1);
    case 131: {
      int k = waitev(-1, 1);
      flushq();
      return k;
    }
    case 132: return ibase;
    case 133: return gflags;
    case 134: return iflags;
    case 135: return aflags;
    case 136: return hstk.end > HIMEM_BASE ? (hstk.end - HIMEM_BASE) / 256 : 0;
    case 137: return -1;
    case 138: return himemflag;
    case 139: return lastvec;
    case 140: return sflags;
    case 141: return 4.0 * maxfre();
    case 142: return calbar;
    case 143: return tablet;
    case 144: chkio(0); return musx;
    case 145: chkio(0); return musy;
    case 146: return zvalue;
    case 147: return prpage;
    case 148: return nvdata;
    case 157: return alevel;
    case 158: return wflags;
    case 159: return disklo;
    case 160: return diskhi;
    case 161: return dflags;
    case 162: return zoff;
    case 163: return zfact;
    case 164: return curmnu | (mnuflg << 8);
    case 165: return prflags;
    case 166: return tabs & 0xFF;
    case 167: return vanish;
    case 168: return prwide;
    case 169: return aspect;
    case 199: return vmode;
    case 201: return -1;
    case 202: return tflags;
    case 203: return tlo;
    case 204: return thi;
    case 205: return calfact;
    case 207: {
      uint32_t avail = 0, total = 0;
      memfree(&avail, &total);
      return avail / 1024u;
    }
    case 208: return scrwid;
    case 209: return scrhgt;
    case 210: return mnubar;
    case 211:
    case 212:
    case 213: return -1;
    case 214: return scrbits;
    case 216: return scrfreq;
    case 217: return scrflags;
    case 218: return sysversion;
    case 219: return fntwrd[0];
    case 220: return fntwrd[1];
    case 221: return stktrap;
    case 222: return priority;
    case 223: return jpegquality;
    case 233: return displaywid;
    case 234: return displayhgt;
    case 235: return rdonly;
    case 236: return gunit;
    case 237: return vpage;
    case 238: return menuid;
    case 239: gtime(d); return d[0];
    case 240: return vwindow & 7;
    case 241: return vec0;
    case 242: return scr2wid;
    case 243: return scr2hgt;
    case 244: return mainscreen;
    case 245: return nscreens;
    default: break;
  }
  if (code >= 149 && code <= 156) return commode(code - 149);
  if (code >= 224 && code <= 232) {
    int k = code - 224;
    return pportin(100 * (k / 3 + 1) + k % 3);
  }
  return gethwp(code - SVBASE);
}

float getprm(int code) {
  double v = prmval(code);
  trcint(24, "getprm", 1, code, sv32(v), trcmsk, 0, 0);
  return static_cast<float>(v);
}

// ---------------------------------------------------------------------------
// putprm

// gflags: the pixel writers follow the mode word; a change of the rotation
// bits resets the default z to the axis that now shows z.
static void setgfl(int16_t v) {
  int16_t old = gflags;
  gflags = v;
  xorflg = static_cast<int16_t>((v & 0x80) | 0xC00);
  setpxf(v);
  if ((v & 0x28) != (old & 0x28) && (v & 0x10) == 0) {
    if (nvecs <= 0)
      zvalue = 0;
    else if ((v & 0x28) == 0x08)
      zvalue = lastpt[0];
    else if ((v & 0x20) != 0)
      zvalue = lastpt[1];
    else
      zvalue = lastpt[2];
  }
}

// vwindow: an odd value needs a text window at least 2 wide; 1 means 3.
static void setvwin(int16_t v) {
  if ((v & 1) != 0) {
    const int32_t* r = dvrect[11];
    if (r[3] - r[1] < 2) return;
    if (v == 1) v = 3;
  }
  vwindow = static_cast<int16_t>((vwindow & ~7) | (v & 7));
  cmdwin();
}

// himemflag: an odd value clears 0x2; while high memory exists its two low
// bits keep their values.
static void sethmf(int16_t v) {
  int32_t f = v;
  if ((f & 1) != 0) f &= ~2;
  if (hstk.end > HIMEM_BASE) f = (f & ~3) | (himemflag & 3);
  himemflag = f;
}

// himemsize: make, resize or free high memory and keep hstack over it.
static void sethms(double value) {
  if (!(value >= 0.0)) return;
  highmem(sv32(value));
  int32_t e = sysent("hstack");
  if (e > 0) symptr(e)->value = static_cast<uint32_t>(hstk.end > HIMEM_BASE ? hstk.end - HIMEM_BASE : 0);
}

// cursor: bit 0x1 turns the pointer and the drawn cursor on or off.
static void setcur(int16_t v) {
  const uint16_t old = curflg;  // curson changes the pointer bit
  if ((v & 1) != 0)
    curson(17, 1);
  else if ((old & 1) != 0)
    curson(17, 0);
  curflg = static_cast<uint16_t>((old & 0x8000u) | static_cast<uint16_t>(v));
}

int putprm(double value, int code) {
  trcint(536, "putprm", 1, code, sv32(value), trcmsk, 0, 0);
  int16_t v = sv16(value);
  switch (code) {
    case 101:
      if (is16(value)) state = v;
      return 0;
    case 102: trcmsk = v; return 0;
    case 103: devflg = static_cast<uint16_t>(v); return 0;
    case 108:
      if (is16(value)) {
        modctx(v & 0x4000);
        pflags = v;
      }
      return 0;
    case 109: iplane = v; return 0;
    case 110: vplane = v; return 0;
    case 111: gplane = v; return 0;
    case 113:
      if (is16(value)) setcur(v);
      return 0;
    case 114:
      if (value >= 0.0) {
        if (!veclst()) vinit(2);
        nvecs = sv32(value);
        setnvec(-1, nvecs);
      }
      return 0;
    case 115:
      if (v >= 2 && v <= 36) obase = v;
      return 0;
    case 116: cpuspeed = static_cast<float>(value); return 0;
    case 121: lwidth = v; return 0;
    case 123: penwidth = v; return 0;
    case 128: hplane = low8(value); return 0;
    case 132:
      if (v >= 2 && v <= 36) ibase = v;
      return 0;
    case 133: setgfl(v); return 0;
    case 134: iflags = v; return 0;
    case 135: aflags = v; return 0;
    case 136: sethms(value); return 0;
    case 138: sethmf(v); return 0;
    case 139: lastvec = sv32(value); return 0;
    case 140: sflags = v; return 0;
    case 142: calbar = static_cast<float>(value); return 0;
    case 143: tablet = v; return 0;
    case 146: zvalue = v; return 0;
    case 147: prpage = low16(value); return 0;
    case 148:
      if (value >= 0.0) {
        if (!vdatlst()) vinit(3);
        nvdata = sv32(value);
        setnvec(1, nvdata);
      }
      return 0;
    case 157: alevel = v; return 0;
    case 158: wflags = v; return 0;
    case 159: disklo = v; return 0;
    case 160: diskhi = v; return 0;
    case 161: dflags = v; return 0;
    case 162: zoff = v; return 0;
    case 163: zfact = v; return 0;
    case 164:
      // The whole flag byte, so that a value read back is stored unchanged.
      mnuflg = static_cast<uint8_t>((static_cast<uint32_t>(sv32(value)) >> 8) & 0xFF);
      return 0;
    case 165: prflags = v; return 0;
    case 166: tabs = low8(value); return 0;
    case 167: vanish = v; return 0;
    case 168: prwide = v; return 0;
    case 169: aspect = static_cast<float>(value); return 0;
    case 199: pcview(1, value); return 0;
    case 202: tflags = v; return 0;
    case 203: tlo = low8(value); return 0;
    case 204: thi = low8(value); return 0;
    case 205: calfact = static_cast<float>(value); return 0;
    case 208:
    case 233: pcview(3, value); return 0;
    case 209:
    case 234: pcview(4, value); return 0;
    case 214: pcview(2, value); return 0;
    case 216: pcview(5, value); return 0;
    case 221:
      if (value >= 0.0) trpstk(sv32(value));
      return 0;
    case 222: priority = v; return 0;
    case 223: jpegquality = v; return 0;
    case 235: rdonly = v; return 0;
    case 236: gunit = v; return 0;
    case 237: vpage = low16(value); return 0;
    case 240: setvwin(v); return 0;
    case 241:
      if (value >= 0.0) {
        vec0 = sv32(value);
        if (vec0 > nvecs) vec0 = nvecs;
      }
      return 0;
    default: break;
  }
  if (code >= 149 && code <= 156) {
    comini(code - 149, v >= 1 ? v : 0);
    return 0;
  }
  if (code >= 224 && code <= 232) {
    int k = code - 224;
    pportout(sv32(value), 100 * (k / 3 + 1) + k % 3);
    return 0;
  }
  // Device and read-only variables: the device layer takes what it knows.
  puthwp(value, code - SVBASE);
  return 0;
}
