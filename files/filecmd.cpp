// open and close of output-unit roles and files, and the list command.
#include "files/filecmd.h"

#include "compute/vprint.h"
#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/docmnd.h"
#include "lang/cmdcodes.h"
#include "lang/keywords.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/menu.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {
constexpr int E_ROLE = 27;    // not an output role
constexpr int E_NONAME = 28;  // a file name is missing
constexpr int E_NOFILE = 46;
constexpr int E_READ = 73;

// The unit variable of a role, null for roles without one.
int16_t* roleunit(int role) {
  switch (role) {
    case CM_OUTPUT: return &outlun;
    case CM_JOURNAL: return &jrnlun;
    case CM_PRINTER: return &prtlun;
    case CM_ERRORS: return &errlun;
    case FN_LOG: return &loglun;
    case ROLE_DEBUG: return &dbglun;
    case ROLE_KEYLOG: return &keylun;
    default: return nullptr;
  }
}

int16_t resetval(int role) {
  switch (role) {
    case CM_OUTPUT: return 1;
    case CM_PRINTER: return 4;
    case CM_ERRORS: return 1;
    case ROLE_DEBUG: return 1;
    default: return -1;
  }
}

// Drops a role's unit and puts the role back to its reset value.
void closerole(int role) {
  int16_t* u = roleunit(role);
  if (!u) return;
  if (*u >= 5 && *u < NUNITS && filtab[*u].Nlinks > 0) closef(*u, 0);
  *u = resetval(role);
  if (role == CM_OUTPUT) lstlun = *u;
}
}  // namespace

int ofiles(int n, char* name, int max, int* len) {
  if (name && max > 0) name[0] = 0;
  if (len) *len = 0;
  int32_t h = 0;
  int w = -1;
  const int t = fndarg(n, &h, &w);
  if (t == 0) return ROLE_ABSENT;
  // A command or operator word (in a line or in a function's list).
  if ((t & 0x2000) && !(t & 0x1000)) {
    const int code = argnum(n);
    if (code == OP_ASSIGN) return ROLE_SKIP;
    switch (code) {
      case CM_OUTPUT: case CM_JOURNAL: case CM_PRINTER: case CM_ERRORS: case FN_LOG:
      case CM_TERMINAL: case FN_VECTOR: case CM_MENU: case CM_MACRO: case FN_RESOURCE:
      case FN_ALERT:
        return code;
      default: return ROLE_NONE;
    }
  }
  if (t == WT_NUMBER || t == K_CONST) {
    jprintf(lstlun, "OFILES: W_NUMBER  %d\n", intarg(n, 0));
    return ROLE_NONE;
  }
  const int32_t sv = argnum(n);
  if (sv >= 1000) {
    const char* nm = sysnam[sv - 1000 - SVBASE - 1];
    if (std::strcmp(nm, "debug") == 0) return ROLE_DEBUG;
    if (!std::strcmp(nm, "tablet") || !std::strcmp(nm, "com1") || !std::strcmp(nm, "com2")) return sv;
    return ROLE_NONE;
  }
  // A text (or a string variable) names a file; "keylog" is the key log.
  char buf[UNIT_NAMELEN];
  float v = 0;
  int l = 0;
  const int k = getarg(n, &v, buf, sizeof buf, &l);
  if (!(k & K_STRING) || l < 1) return ROLE_NONE;
  std::string low(buf);
  for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (low == "keylog") return ROLE_KEYLOG;
  if (name && max > 0) std::snprintf(name, static_cast<size_t>(max), "%s", buf);
  if (len) *len = l;
  return ROLE_FILE;
}

int filopn(int code, int) {
  char name[UNIT_NAMELEN];
  int len = 0;
  const bool open = code != CM_CLOSE;
  const int role = ofiles(2, name, sizeof name, &len);
  int result = -1;
  if (role == ROLE_NONE || role == ROLE_ABSENT) {
    error(2, E_ROLE);
    setres(-1, 0);
    return -1;
  }
  const int mode = (intarg(4, 0) & 1) ? (UM_APPEND | UM_TEXT) : (UM_CREATE | UM_TEXT);
  if (role == ROLE_FILE) {
    const int u = fndfil(name);
    if (open) {
      result = u >= 0 ? u : openf(name, mode, 0);
      if (result < 0 && !(pflags & 0x800)) jprintf(errlun, "%s -- file open error\n", name);
    } else {
      if (u >= 5) closef(u, 0);
      result = 0;
    }
    setres(result, 0);
    return result;
  }
  int16_t* unit = roleunit(role);
  if (!unit) {
    // The vector, menu, macro and resource roles and the alert box come with
    // their own subsystems.
    notavl(code);
    return -1;
  }
  if (!open) {
    closerole(role);
    setres(0, 0);
    return 0;
  }
  char target[UNIT_NAMELEN];
  int tlen = 0;
  const int trole = ofiles(3, target, sizeof target, &tlen);
  int u = -1;
  if (trole == ROLE_FILE) {
    u = openf(target, mode, 0);
    if (u < 0 && !(pflags & 0x800)) jprintf(errlun, "%s -- file open error\n", target);
  } else if (trole == CM_TERMINAL) {
    u = 1;
  } else if (trole == CM_PRINTER) {
    u = prtlun;
  } else if (int16_t* other = roleunit(trole)) {
    u = *other;
    if (u >= 0 && u < NUNITS && filtab[u].Nlinks > 0) filtab[u].Nlinks++;
  } else {
    error(3, E_NONAME);
    setres(-1, 0);
    return -1;
  }
  if (u >= 0) {
    closerole(role);
    *unit = static_cast<int16_t>(u);
    if (role == CM_OUTPUT) lstlun = *unit;
  }
  setres(u, 0);
  return u;
}

namespace {
// Expands tabs and backspaces of a line into out and cuts it at the width;
// -1 for a form feed that starts a new page (positive mode).
int lfill(const char* in, char* out, int width, int* count, int ffmode) {
  const int tab = tabwidth() > 0 ? tabwidth() : 8;
  int col = 0;
  for (const char* p = in; *p && col < width; p++) {
    if (*p == '\t') {
      do out[col++] = ' ';
      while (col % tab && col < width);
    } else if (*p == '\b') {
      if (col > 0) col--;
    } else if (*p == '\f') {
      if (ffmode > 0) return -1;
      if (ffmode < 0) out[col++] = ' ';
      else *count = 1000;
    } else {
      out[col++] = *p;
    }
  }
  while (col > 0 && out[col - 1] == ' ') col--;
  out[col] = 0;
  return col;
}
}  // namespace

int flist(int code) {
  char name[UNIT_NAMELEN];
  float v = 0;
  int len = 0;
  const int k = getarg(2, &v, name, sizeof name, &len);
  if (!(k & K_STRING) || len < 1) {
    error(2, E_NOFILE);
    return 0;
  }
  int unit = openf(name, UM_RDONLY | UM_TEXT, 0);
  if (unit < 0) {
    char path[300];
    if (fserch(name, ".imp", nullptr, path, &unit, UM_RDONLY | UM_TEXT) != 0) unit = -1;
  }
  if (unit < 0) {
    jprintf(errlun, "File %s not found\n", name);
    setres(0, 0);
    return 0;
  }
  const bool term = lstlun == 1;
  if (term) state |= ST_LISTING;
  int title = intarg(3, term ? -1 : 1);
  if (title == -1 && term) title = 0;
  const bool numbers = intarg(4, 0) != 0;
  const TxtGrid* g = wgrid(wport(txtwin));
  int page = intarg(7, term ? (g ? g->rows : GRIDROWS) : (prpage > 0 ? prpage : 66));
  if (page < 3) page = 3;
  const int first = intarg(8, 1);
  int width = std::clamp(intarg(9, 240), 1, 239);
  const int margin = std::clamp(intarg(10, 0), 0, 239);
  const int top = std::max(0, intarg(11, 0));
  const int ffmode = intarg(13, 0);
  int pageno = intarg(14, 1);
  const std::string pad(static_cast<size_t>(margin), ' ');
  std::string head;
  if (title) {
    for (const char* p = name; *p; p++) head += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    if (title == 2) {
      int32_t d[3];
      gtime(d);
      char b[40];
      std::snprintf(b, sizeof b, "\t%d/%d/%d", d[1], d[2], d[0]);
      head += b;
    }
  }
  // The printer listing sends the printer's set-up string first.
  if (code == CM_PRINTER) vpwrit(prcode(0).c_str(), lstlun);
  FILE* fp = unitstream(unit);
  char raw[LINBUF], text[LINBUF];
  int read = 0, count = 1000, lineno = 0;
  bool started = false;
  while (fp && !(state & 0x8180) && std::fgets(raw, sizeof raw, fp)) {
    const size_t n = std::strcspn(raw, "\r\n");
    raw[n] = 0;
    read++;
    lineno++;
    if (lineno < first) continue;
    int l = lfill(raw, text, width - margin, &count, ffmode);
    if (count >= page || l < 0) {
      if (started && !term) jprintf(lstlun, "\f");
      if (started) pageno++;
      count = 0;
      for (int i = 0; i < top; i++, count++) jprintf(lstlun, "\n");
      if (title) {
        if (title > 0 && !term)
          jprintf(lstlun, "%s%s\t\t%d\n\n", pad.c_str(), head.c_str(), pageno);
        else
          jprintf(lstlun, "%s%s\n\n", pad.c_str(), head.c_str());
        count += 2;
      }
      started = true;
      if (l < 0) continue;
    }
    started = true;
    if (numbers)
      jprintf(lstlun, lineno < 10000 ? "%s%5d\t%s\n" : "%s%7d %s\n", pad.c_str(), lineno, text);
    else
      jprintf(lstlun, "%s%s\n", pad.c_str(), text);
    count++;
  }
  if (fp && std::ferror(fp)) error(3, E_READ);
  closef(unit, 0);
  // ... and its reset string after the lines.
  if (code == CM_PRINTER && read > 0) vpwrit(prcode(2).c_str(), lstlun);
  setres(read, 0);
  return 0;
}

int delcmd(int code) {
  // Argument 2 holds the flags when it is a number; then the kind word.
  int a = 2;
  int32_t h = 0;
  const int t = argtyp(2, &h);
  if (t == WT_NUMBER || t == K_CONST) a = 3;
  if (argnum(a) != CM_MENU) return notavl(code);
  int done = 0;
  for (int k = a + 1; k <= nargs() && !(state & 0x8180); k++) {
    char name[UNIT_NAMELEN];
    float v = 0;
    int len = 0;
    if (!(getarg(k, &v, name, sizeof name, &len) & K_STRING) || len < 1) continue;
    if (delmnu(name) != 0) {
      error(k, 96);
      break;
    }
    done++;
  }
  setres(done, 0);
  return 0;
}
