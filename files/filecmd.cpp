// open and close of output-unit roles and files, and the list command.
#include "files/filecmd.h"

#include "compute/vprint.h"
#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "files/keylog.h"
#include "files/linerd.h"
#include "files/imgfmt.h"
#include "lang/cmdcodes.h"
#include "lang/cstart.h"
#include "lang/docmnd.h"
#include "lang/keywords.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int E_ROLE = 27;     // not an output role
constexpr int E_NONAME = 28;   // a file name is missing
constexpr int E_NOFILE = 46;
constexpr int E_READ = 73;
constexpr int E_LIBOPEN = 145;  // the library is open already

// The name of system variable word `code` (1000 + its code), "" for none.
const char* svname(int code) {
  const int i = code - 1000 - SVBASE - 1;
  return i >= 0 && i < NSYSVAR ? sysnam[i] : "";
}

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

// The unit a closed output role goes back to: 1, or inside a macro the
// output unit of its caller while that is still open.
int16_t outhome() {
  const MacFrame* f = curfrm();
  if (!f) return 1;
  const auto u = static_cast<int16_t>(f->outsav);
  return u < 1 || (u >= 5 && u < NUNITS && filtab[u].Nlinks <= 0) ? 1 : u;
}

int16_t resetval(int role) {
  switch (role) {
    case CM_OUTPUT: return outhome();
    case CM_PRINTER: return 4;
    case CM_ERRORS: return 1;
    case ROLE_DEBUG: return 1;
    default: return -1;
  }
}

// The listing follows the output role: the listing unit, and the one a
// redirection of the running command returns to.
void setlisting(int16_t old, int16_t unit) {
  if (lstlun != savlst) {
    if (savlst == old) savlst = unit;
  } else if (lstlun == old) {
    lstlun = savlst = unit;
  }
}

// Drops a role's unit and puts the role back to its reset value.
// Closes the unit of a role and sets the role back: false when the close
// failed (said, with error 81).
bool closerole(int role) {
  int16_t* u = roleunit(role);
  if (!u) return true;
  if (role == ROLE_KEYLOG) logevt(nullptr, 0, nullptr, 0);  // the line held back
  const int16_t unit = *u;
  // A macro's output unit that came from its caller stays open for it.
  const MacFrame* f = curfrm();
  const bool inherited = role == CM_OUTPUT && f && unit == static_cast<int16_t>(f->outsav);
  const bool ok = inherited || unit < 5 || unit >= NUNITS || filtab[unit].Nlinks <= 0 || closef(unit, 0) == 0;
  *u = resetval(role);
  if (role == CM_OUTPUT) setlisting(unit, *u);
  return ok;
}

// After the last close of a unit by its file name, no role keeps it.
void forget(int unit) {
  static constexpr int roles[] = {CM_OUTPUT, CM_JOURNAL, CM_PRINTER, CM_ERRORS, FN_LOG, ROLE_DEBUG, ROLE_KEYLOG};
  for (int role : roles)
    if (int16_t* u = roleunit(role); *u == unit) {
      *u = resetval(role);
      if (role == CM_OUTPUT) setlisting(static_cast<int16_t>(unit), *u);
    }
}

int fail(int arg, int code) {
  error(arg, code);
  setres(-1, 0);
  return -1;
}

// ofiles at argument n and on, past "=" words; n becomes the argument used.
int rolearg(int* n, char* name, int max) {
  int len = 0;
  int r = ofiles(*n, name, max, &len);
  while (r == ROLE_SKIP) r = ofiles(++*n, name, max, &len);
  return r;
}

// The roles that have no unit of their own: the menu and macro libraries,
// the resource file and the vector list's file.
int librole(int role, bool open, int n) {
  int r = 0;
  switch (role) {
    case CM_MENU:
      if (!open) {
        if (mnulun > 0) closef(mnulun, 0);
        mnulun = -1;
      } else if (mnulun > 0) {
        return fail(n + 1, E_LIBOPEN);
      } else {
        r = inimnu(1);
      }
      break;
    case CM_MACRO:
      if (!open) {
        // The library a macro may be running from stays open.
        if (curfrm()) r = -1;
        else libcls();
      } else if (libunit > 0) {
        return fail(n + 1, E_LIBOPEN);
      } else {
        r = inimac(1) == 0 && libunit > 0 ? libunit : -1;
      }
      break;
    case FN_RESOURCE:
      // No resource files on this platform: the open hook gives no unit.
      r = open ? -1 : 0;
      break;
    default: {  // FN_VECTOR
      char target[UNIT_NAMELEN] = "";
      int t = n + 1;
      if (open) {
        const int tr = rolearg(&t, target, sizeof target);
        if (tr == ROLE_ABSENT && browse(target, 1, nullptr) < 1) return fail(t, E_NONAME);
        if (tr != ROLE_FILE && tr != ROLE_ABSENT) return fail(t, E_NONAME);
      }
      r = vecrole(open ? target : nullptr);
      break;
    }
  }
  setres(r, 0);
  return r;
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
    const char* nm = svname(sv);
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
  const bool open = code != CM_CLOSE;
  int n = 2;
  int role = rolearg(&n, name, sizeof name);
  if (role == ROLE_ABSENT && open) {
    // open without a name: the file box names the file.
    if (browse(name, 1, nullptr) < 1) return fail(n, E_NONAME);
    role = ROLE_FILE;
  }
  const bool unitrole = roleunit(role) != nullptr;
  const bool library = role == CM_MENU || role == CM_MACRO || role == FN_RESOURCE || role == FN_VECTOR;
  if (role != ROLE_FILE && !unitrole && !library) return fail(n, E_ROLE);
  if (library) return librole(role, open, n);

  if (role == ROLE_FILE) {
    const int mode = (intarg(n + 2, 0) & 1) ? (UM_APPEND | UM_TEXT) : (UM_CREATE | UM_TEXT);
    int u = fndfil(name);
    if (!open) {
      // Closing a file that is not open does nothing.
      // A failed close leaves its error in #0.
      const bool ok = u < 5 || closef(u, 0) == 0;
      if (u >= 5 && filtab[u].Nlinks <= 0) forget(u);
      if (ok) setres(0, 0);
      return 0;
    }
    // Opening a file that is open already does nothing.
    if (u < 0) {
      u = openf(name, mode, 0);
      if (u < 0 && !(pflags & 0x800)) jprintf(errlun, "%s -- file open error\n", name);
    }
    setres(u, 0);
    return u;
  }

  if (!open) {
    if (closerole(role)) setres(0, 0);  // a failed close leaves its error in #0
    return 0;
  }
  // The target: a file (the file box when none is named) or another role.
  char target[UNIT_NAMELEN];
  int t = n + 1;
  int trole = rolearg(&t, target, sizeof target);
  const int mode = (intarg(t + 1, 0) & 1) ? (UM_APPEND | UM_TEXT) : (UM_CREATE | UM_TEXT);
  if (trole == ROLE_ABSENT) {
    if (browse(target, 1, nullptr) < 1) return fail(t, E_NONAME);
    trole = ROLE_FILE;
  }
  int u = -1;
  if (trole == ROLE_FILE) {
    u = -2;  // opened once the role's old unit is closed
  } else if (trole == CM_TERMINAL) {
    u = 1;
  } else if (trole == CM_PRINTER) {
    u = 4;  // the printer itself (the platform's printer check answers yes)
  } else if (trole >= 1000 && !std::strcmp(svname(trole), "com1")) {
    u = 100;
  } else if (trole >= 1000 && !std::strcmp(svname(trole), "com2")) {
    u = 101;
  } else if (const int16_t* other = roleunit(trole)) {
    u = *other;
    if (u < 0) {
      setres(-1, 0);
      return -1;
    }
  } else {
    return fail(t, E_NONAME);
  }
  int16_t* unit = roleunit(role);
  closerole(role);
  const int16_t reset = *unit;
  if (u == -2) {
    u = openf(target, mode, 0);
    if (u < 0) {
      if (!(pflags & 0x800)) jprintf(errlun, "%s -- file open error\n", target);
      setres(-1, 0);
      return -1;
    }
  } else if (u < NUNITS && filtab[u].Nlinks > 0) {
    filtab[u].Nlinks++;
  }
  *unit = static_cast<int16_t>(u);
  if (role == CM_OUTPUT) setlisting(reset, *unit);
  if (role == ROLE_KEYLOG) logevt("Open", 0, "Keylog file opened", 0);
  setres(u, 0);
  return u;
}

// ---------------------------------------------------------------------------
// The list command.

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

namespace {

// The sheet of the column mode: pages laid side by side in a text grid,
// printed row by row when full.
struct Sheet {
  int rows = 0, colw = 0, cols = 0;  // rows, width of a column, columns
  int used = 0;                      // columns filled
  std::vector<std::string> grid;
  void put(int row, const std::string& cell) {
    if (row < 0 || row >= rows || used >= cols) return;
    std::string& r = grid[static_cast<size_t>(row)];
    const size_t at = static_cast<size_t>(used) * static_cast<size_t>(colw);
    if (r.size() < at) r.resize(at, ' ');
    r.replace(at, std::string::npos, cell.substr(0, static_cast<size_t>(colw)));
  }
  // Prints the rows and empties the sheet; false when it held nothing.
  bool flush(int unit) {
    if (used == 0) return false;
    for (std::string& r : grid) {
      while (!r.empty() && r.back() == ' ') r.pop_back();
      jprintf(unit, "%s\n", r.c_str());
      r.clear();
    }
    used = 0;
    return true;
  }
};

std::string fmt(const char* f, const std::string& a, const std::string& b, int n = 0, bool num = false) {
  char buf[600];
  if (num)
    std::snprintf(buf, sizeof buf, f, a.c_str(), n, b.c_str());
  else
    std::snprintf(buf, sizeof buf, f, a.c_str(), b.c_str(), n);
  return buf;
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
  const int out = lstlun;
  const bool term = out == 1;
  if (term) state |= ST_LISTING;
  // The title: a text of its own, or the file's name in upper case.
  std::string head;
  char ttext[UNIT_NAMELEN];
  int tl = 0;
  int title = 0;
  if ((getarg(3, &v, ttext, sizeof ttext, &tl) & K_STRING) && tl > 0) {
    head = ttext;
    title = 1;
  } else {
    title = intarg(3, term ? -1 : 1);
    if (title == -1 && term) title = 0;
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
  }
  const bool numbers = intarg(4, 0) != 0;
  const int first = lngarg(5, 1);
  const int npages = std::max(0, lngarg(6, 0));
  const TxtGrid* g = wgrid(wport(txtwin));
  const int page = std::clamp(intarg(7, term ? (g ? g->rows : GRIDROWS) : (prpage > 0 ? prpage : 66)), 3, 1000);
  const int firstline = lngarg(8, 1);
  const int width = std::clamp(intarg(9, 240), 1, 240);
  const int margin = std::clamp(intarg(10, 0), 0, 239);
  const int top = std::clamp(intarg(11, 0), 0, page - 1);
  const int colarg = intarg(12, 0);
  const int ffmode = intarg(13, 0);
  const int pageno0 = lngarg(14, 1);
  const std::string pad(static_cast<size_t>(margin), ' ');

  Sheet sheet;
  const bool columns = colarg != 0;
  if (columns) {
    sheet.cols = std::min(std::abs(colarg), 32);
    sheet.colw = colarg > 0 ? width : std::max(1, width / sheet.cols);
    sheet.rows = page;
    sheet.grid.assign(static_cast<size_t>(page), std::string());
  }
  // The printer listing sends the printer's set-up string first, and the
  // condensed print for a sheet wider than 80 characters.
  if (code == CM_PRINTER) {
    vpwrit(prcode(0).c_str(), out);
    if (columns && sheet.cols * sheet.colw > 80) vpwrit(prcode(7).c_str(), out);
  }

  FILE* fp = unitstream(unit);
  skpbom(fp);  // a byte-order mark is not listed
  std::string raw;
  std::vector<char> text(static_cast<size_t>(width) + 1);
  int read = 0, printed = 0, count = 1000, row = 0;
  int index = 0;         // pages begun, counted from 1
  int pagesout = 0;      // pages printed
  bool show = false;     // the current page is printed
  bool sheetout = false;  // a sheet or page went out already
  // Whether the page of ordinal i is printed: from the first page on, or
  // with a first page of 0 or less only the pages of its parity.
  auto wanted = [&](int i) {
    if (npages > 0 && pagesout >= npages) return false;
    return first > 0 ? i >= first : ((i - first) % 2 == 0);
  };
  auto emit = [&](const std::string& line, const std::string& cell) {
    if (columns)
      sheet.put(row, cell);
    else
      jprintf(out, "%s", line.c_str());
    row++;
  };
  // Starts a new page: blank lines and the title.
  auto newpage = [&]() {
    if (show && columns) {
      sheet.used++;
      if (sheet.used >= sheet.cols) {
        if (sheetout && !term) jprintf(out, "\f");
        sheetout = sheet.flush(out) || sheetout;
      }
    }
    index++;
    show = wanted(index);
    if (show) pagesout++;
    row = 0;
    count = 0;
    if (!show) return;
    if (!columns && sheetout && !term) jprintf(out, "\f");
    if (!columns) sheetout = true;
    for (int i = 0; i < top; i++, count++) emit("\n", "");
    if (!head.empty()) {
      const int pn = pageno0 + index - 1;
      if (title > 0 && !term)
        emit(fmt("%s%s\t\t%d\n\n", pad, head, pn), fmt("%s%s\t\t%d", pad, head, pn));
      else
        emit(fmt("%s%s\n\n", pad, head), fmt("%s%s", pad, head));
      if (columns) row++;
      count += 2;
    }
  };
  int lineno = 0;
  while (fp && !(state & 0x8180)) {
    // A whole line, however long (it is cut at the width), ended by LF,
    // CR LF or a lone CR.
    raw.clear();
    int c;
    while ((c = std::fgetc(fp)) != EOF && c != '\n' && c != '\r') raw += static_cast<char>(c);
    if (c == '\r') {
      const int d = std::fgetc(fp);
      if (d != '\n' && d != EOF) std::ungetc(d, fp);
    }
    if (c == EOF && raw.empty()) break;
    read++;
    lineno++;
    if (lineno < firstline) continue;
    int l = lfill(raw.c_str(), text.data(), width - margin > 0 ? width - margin : 1, &count, ffmode);
    if (count >= page || l < 0 || index == 0) {
      newpage();
      if (l < 0) continue;
    }
    if (npages > 0 && pagesout >= npages && !show) break;
    if (show) {
      const std::string t(text.data());
      if (numbers && lineno >= 10000)
        emit(fmt("%s%7d %s\n", pad, t, lineno, true), fmt("%s%7d %s", pad, t, lineno, true));
      else if (numbers)
        emit(fmt("%s%5d\t%s\n", pad, t, lineno, true), fmt("%s%5d   %s", pad, t, lineno, true));
      else
        emit(fmt("%s%s\n", pad, t), fmt("%s%s", pad, t));
      printed++;
    }
    count++;
  }
  if (fp && std::ferror(fp)) error(3, E_READ);
  if (columns && show) sheet.used++;
  if (columns && sheet.used > 0) {
    if (sheetout && !term) jprintf(out, "\f");
    sheet.flush(out);
  }
  closef(unit, 0);
  // ... and its reset string after the lines.
  if (code == CM_PRINTER && printed > 0) vpwrit(prcode(2).c_str(), out);
  setres(read, 0);
  return 0;
}
