// The command dispatcher. One switch on the command code: the parser's
// special codes (unknown word, quoted string, expression, assignment) take
// their own roads, every command word goes to its handler (named in the
// comment of its case where the call does not say what it does), and the
// words listed at the default have no road of their own: they do nothing.
#include "lang/docmnd.h"
#include "lang/fastcmd.h"
#include "compute/imghw.h"
#include "compute/vprint.h"
#include "files/dirutil.h"
#include "files/dmrec/dmrec.h"
#include "files/filecmd.h"
#include "files/filecopy.h"
#include "files/http.h"
#include "files/imgfmt.h"
#include "graphics/ellipse.h"
#include "graphics/erase.h"
#include "graphics/imgvars.h"
#include "graphics/plots.h"
#include "graphics/spline.h"
#include "graphics/veccmds.h"
#include "graphics/redraw.h"
#include "graphics/sketch.h"
#include "graphics/surface.h"
#include "graphics/views.h"
#include "lang/alarm.h"
#include "lang/help.h"
#include "lang/show.h"
#include "lang/maccomp.h"
#include "lang/macro.h"
#include "lang/maclib.h"

#include "core/args.h"
#include "core/convert.h"
#include "compute/fft.h"
#include "compute/colour.h"
#include "compute/xform.h"
#include "compute/fnsvc.h"
#include "compute/func.h"
#include "compute/ptrfn.h"
#include "compute/warp.h"
#include "core/output.h"
#include "core/state.h"
#include "core/typecmd.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "graphics/movie/movie.h"
#include "lang/cstart.h"
#include "lang/declare.h"
#include "lang/keywords.h"
#include "lang/mainloop.h"
#include "lang/namehooks.h"
#include "lang/parse.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/devvar.h"
#include "realtime/devices/eyetrack.h"
#include "realtime/devices/meascomp.h"
#include "realtime/devices/pport.h"
#include "realtime/devices/sound.h"
#include "realtime/rtsched.h"
#include "ui/clocks.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/hooks.h"
#include "ui/menu.h"
#include "ui/sysserv.h"
#include "ui/texted.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

// Text-file words written by an assignment (files/txtfile.cpp): forgets
// what was noted as an assignment starts; writes each noted word's text to
// its file as it ends.
void txtbeg();
void txtend();

namespace {
// A listing road: the focus goes to the listing window around the handler.
int listed(int reason, int (*handler)()) {
  setfoc(1, reason);
  handler();
  setfoc(0, reason);
  return 0;
}

// Code 98 (a name that is no command word) and -2 (an ambiguous one).
int implyd(int code) {
  tmstat(0, TM_IMPLYD, "implyd");
  // Code 98 is tried as a compiled macro (runipc), a text macro (Runmac)
  // and, with trace-mask bit 2, a menu (menucmd).
  if (code == CM_UNKNOWN && (runipc(1) == 0 || Runmac(1) == 0 || ((trcmsk & 2) && menucmd(1) == 0))) {
    tmstat(1, TM_IMPLYD, "implyd");
    return 0;
  }
  if (!(pflags & 0x200)) {
    char word[41] = {0};
    if (nargw >= 1) {
      int w = argmap[0];
      if (w >= 0 && w < NWORDS && (wrdtab[w].type & ~1) == WT_UNKLIST)
        gettxt(w, word, sizeof word);
      else
        tokstr(w, word, sizeof word);
    }
    jprintf(errlun, "%s command: %s\n", code == CM_UNKNOWN ? "Unknown" : "Ambiguous", word);
  }
  tmstat(1, TM_IMPLYD, "implyd");
  return 0;
}

// Code 115: the assignment is the ordered expression of argument 1, whose
// "=" stores the result.
int assign() {
  tmstat(0, TM_ASSIGN, "assign");
  // NAME = IMG binds one of the image names; otherwise the expression runs.
  // The stored value is not read back: a hardware variable's read would
  // replace the status its write left in #0.
  // A text-file word assigned (~"name" = text) is written when it ends.
  txtbeg();
  if (!imgasn() && !fcassign()) runarg(1);
  txtend();
  tmstat(1, TM_ASSIGN, "assign");
  return 0;
}

// Codes 4, 5, 99 and 200 print through ftype (the format engine).
// Whether word w stands for a value: anything but an operator word (a "-"
// the parser blanked is no value either: it marks an omitted argument).
bool isval(int w) {
  if (w < 0 || w >= NWORDS) return false;
  const WORD& W = wrdtab[w];
  return W.type != 0 && !(W.type == WT_CMD && W.v1 > 100 && W.v1 <= OP_QUERY);
}

// Whether op joins two values: "+", "*", "/", "**", "//", a comparison,
// "&&", "||", "&" or "|" (not "-", which alone marks an omitted argument).
bool binop(int op) {
  switch (op) {
    case OP_PLUS: case OP_TIMES: case OP_DIVIDE: case OP_POWER: case OP_CONCAT: case OP_EQEQ:
    case OP_AND: case OP_OR: case OP_BITAND: case OP_BITOR:
      return true;
    default:
      return op >= OP_GE && op <= OP_NE;  // ">=" ">" "<=" "<" "!="
  }
}

// type and ftype take an expression as one item only when it is written
// without blanks or in parentheses: an operator word that joins two values
// alone between two values is refused (error 9 on its argument) before
// anything prints, rather than printed as a word of its own.
bool bareop() {
  const int na = std::clamp<int>(nargw, 0, MAXARG);
  for (int a = 2; a + 1 < na; a++) {
    const int w = argmap[a];
    if (w < 0 || w >= NWORDS || wrdtab[w].type != WT_CMD || !binop(wrdtab[w].v1)) continue;
    if (isval(argmap[a - 1]) && isval(argmap[a + 1])) {
      error(a + 1, 9);
      return true;
    }
  }
  return false;
}

int typed(int code) {
  if ((code == CM_TYPE || code == CM_FTYPE) && bareop()) return 0;
  int reason = code == 4 || code == 5 ? 0x1000 : 0x2000;
  tmstat(0, TM_FTYPE, "ftype");
  setfoc(1, reason);
  ftype(code);
  setfoc(0, reason);
  tmstat(1, TM_FTYPE, "ftype");
  return 0;
}

// 66 mkdir: argument 2 names the folder.
int mkdircmd() {
  char name[41] = {0};
  float v = 0;
  int len = 0;
  int kind = getarg(2, &v, name, sizeof name, &len);
  if (!(kind & 32) || (kind & 2048) || len < 1) {
    setres(-1, 0);
    return 0;
  }
  std::string host = hostpath(name);
  setres(::mkdir(host.c_str(), 0755), 0);
  return 0;
}

// 301 wait: argument 2 the time (seconds unless argument 3 gives a unit),
// nothing for a time of 0 or below, a key when no time was given.
int waitcmd() {
  bool given = nargs() >= 2;
  float t = fltarg(2, -1.0f);
  int unit = intarg(3, 0);
  int r = 0;
  if (t > 0) {
    if (nargs() >= 3)
      r = waitev(toi32(t), unit);
    else if (static_cast<double>(t) * 1000.0 < 2147400000.0)
      r = waitev(toi32(static_cast<double>(t) * 1000.0), 1);
    else
      r = waitev(toi32(t), 0);  // a long wait in whole seconds: no overflow
  } else if (!given) {
    r = waitev(-1, 0);
  }
  setres(r, 0);
  return 0;
}
// 328 comwrite: argument 2's bytes to serial port argument 3 (default 1),
// opened first with mode argument 4 when that is 0 or more.
int comwrt() {
  int port = intarg(3, 1);
  int mode = intarg(4, -1);
  if (mode >= 0 && (comini(port - 1, mode) != 0 || mode == 0)) return 0;
  char text[LINBUF];
  float v = 0;
  int len = 0;
  int kind = getarg(2, &v, text, sizeof text, &len);
  if ((kind & K_STRING) && !(kind & K_LIST)) {
    cwrite(port - 1, text, len);
    return 0;
  }
  int32_t count = 0;
  auto* b = static_cast<const char*>(aryarg(2, 0, 0, 8, &count, nullptr));
  if (b && count > 0) cwrite(port - 1, b, count);
  return 0;
}
}  // namespace

int DOCMND(int code) {
  // Function words go to the function dispatcher (dofunc); a typed line
  // never carries such a code.
  if (code >= 201 && code <= 299) {
    dofunc(code, 0, 0, nullptr, nullptr);
    return 0;
  }

  switch (code) {
    // The parser's own codes.
    case OP_ASSIGN: return assign();
    case CM_UNKNOWN:
    case -2: return implyd(code);
    case CM_TYPE:             // type
    case CM_FTYPE:             // ftype
    case CM_QUOTED:     // a quoted string
    case CM_EXPR:       // an expression
      return typed(code);

    // Language and macros.
    case CM_IF:    // if: IFTEST
    case CM_WHILE:   // while: IFTEST
    case CM_REPEAT:   // repeat: IFTEST
      tmstat(0, TM_IFTEST, "iftest");
      IFTEST(code);
      tmstat(1, TM_IFTEST, "iftest");
      return 0;
    case OP_RBRACE:  // "}": Mendif
      tmstat(0, TM_MENDIF, "mendif");
      Mendif();
      tmstat(1, TM_MENDIF, "mendif");
      return 0;
    case CM_GOTO: return mgoto(0);
    case CM_LABEL: return mlabel();
    case CM_BREAK:
    case CM_NEXT: return MBREAK(code);
    case CM_RUN: Runmac(2); return 0;
    case CM_DEFAULT: return DEFALT();
    case CM_RETURN: return MRETRN(1);
    case CM_ARGSHIFT: return argshift();
    case CM_MACRO: return macro();
    case CM_COMPILE: return compil();
    case CM_LINK: return 0;  // link: nothing to link on this platform
    case CM_DEFINE: return define();
    case CM_DECLARE:   // declare
    case CM_RELEASE:   // release
    case CM_UNDECLARE:   // undeclare
      return declar(code);

    // Interpreter services.
    case CM_HELP:
    case CM_MANUAL:
      return help(code);
    case CM_QUIT: {
      int ask = intarg(2, 0);
      int r = quit(ask);
      if (ask >= 2) setres(r, 0);  // quit 2 only asks: the answer goes to #0
      return 0;
    }
    case CM_EXECUTE: xeqstr(nullptr, -2, 0); return 0;
    case CM_SHOW: return listed(0x80, show);
    case CM_JOURNAL: {
      int n = Histry(1, 0, 0);
      if (n > 0) Histry(0, n, 1);
      return 0;
    }
    case CM_ALARM: return Alarm();

    // Output and variables.
    case CM_LIST: return listed(0x400, [] { return flist(CM_LIST); });
    case CM_DUMP: vdump(); return 0;
    case CM_PRINTER: return vprint();
    case CM_LOAD: return load();  // load: spread a variable's values

    // Files.
    case CM_MKDIR: return mkdircmd();
    case CM_DIRECTORY: return listed(0x100, dircmd);
    case CM_CHDIR: return chtodir(0);
    case CM_CLOSE: filopn(code, 0); return 0;  // close
    case CM_READ:   // read: a variable from a file
    case CM_WRITE: return rdwrit(code);  // write: a variable to a file
    case CM_INPUT:   // input: vector records from a file
    case CM_OUTPUT: return vecio(code);  // output: vector records to a file
    case CM_SOCKET: return sockcmd();  // socket: fetch a page and print it
    case CM_COPY: return copyfl();      // copy: a file, text or bytes
    case CM_PREPROC: return filcpy();   // preproc: a text file through the preprocessor
    case CM_DELETE: return delcmd();    // delete: files, menus or macros
    case CM_FOPEN:                      // fopen, fread, fwrite, fclose: nothing
    case CM_FREAD:
    case CM_FWRITE:
    case CM_FCLOSE: return fiocmd(code);
    case CM_SYSTEM: return syscmd();    // system: a command of the operating system
    case CM_DMWRITE: return dmwrite();  // dmwrite: a record appended to a DM file
    case CM_DMREAD: return pdread();    // dmread: DM file records listed or read

    // Platform.
    case CM_WAIT: return waitcmd();
    case CM_SYSINT: sysint(); return 0;
    case CM_UPDATE: flushpnt(); return 0;
    case CM_WINDOW: return wincmd();  // window: winarg, setwin / iconwin; the window number to r0
    case CM_MENU: return menucmd(0);  // menu: menucmd
    case CM_EDIT:  // edit: edit, then edtext; status bit 0x40 cleared after
      if (edit() > 0 && !(edrec.flags & ED_SMALL)) edtext();
      state &= ~ST_EDITOR;
      return 0;
    case CM_PATTERN: return pattern();  // pattern: no fill patterns on this platform
    case CM_FONT: return fontcmd();     // font: setlfnt / initFonts / the current font

    // Display and vectors.
    case CM_ANIMATE: return animat();  // animate: a movie or the slices of an image
    case CM_ERASE: return erasecmd();  // erase: windows, vecs, vdata
    case CM_REDRAW: return redraw(0);   // redraw: the vector list again
    case CM_ARC: return arccmd();       // arc: ARC after vinit and setwdc
    case CM_SURFACE: return surfac();   // surface: tiles between outlines
    case CM_SKETCH: sketch(0); return 0;  // sketch: the vector editor
    case CM_VIEW: return view(0);  // view: windows shown, moved, iconized, deleted; variables in views
    case CM_HISTOGRAM: return plot(0);  // histogram: bars of data
    case CM_PLOT: return plot(1);       // plot: data as lines, dots or markers
    case CM_TEXT: return puttxt();      // text: lines of text as text objects
    case CM_PUTVEC: return vpoint();    // putvec: one record
    case CM_AXIS: return axis();        // axis: an axis with ticks and numbers
    case CM_PAINT: return paintc();     // paint: a fill of the last points
    case CM_LINE: case CM_BOX: case CM_CIRCLE: case CM_ELLIPSE: case CM_BLOCK:  // line box circle ellipse block
    case CM_CYLINDER: case CM_SPHERE: case CM_CONE: case CM_DISK:            // cylinder sphere cone disk
      return shapes(code);
    case CM_GRID: return grid();        // grid: lines through the pen
    case CM_SPLINE: return dosplin(-1, 0);  // spline: a smooth curve through points

    // Devices and real time.
    case CM_CALL: return callcb(2);  // call: a function of the board library
    case CM_PORTIO: return portcmd();
    case CM_INITIALIZE: return devini(0);
    case CM_USER1: return user1();
    case CM_USER2: return user2();
    case CM_USER3: return user3();
    case CM_COMWRITE: return comwrt();
    case CM_REALTIME: return rtime();
    case CM_SOUND: return sound(0, nullptr, 0);  // sound: play, record, query, stop
    case CM_IPWAIT: return ipwait();  // ipwait: nothing to wait for on this platform

    // Image processing.
    case CM_STRETCH: return stretch();
    case CM_FREEZE: return freeze(nullptr);
    case CM_ROTATE: case CM_SCALE: case CM_PIN: case CM_OFFSET: return sttrns(code);
    case CM_ZSCAN: return zscan();
    case CM_FILL: return dofill();
    case CM_FFT: return fftcmd();
    case CM_ADDLIST: return addlist();
    case CM_DIGITIZE: return digtiz();
    case CM_IPALU: return ipalu();
    case CM_ROAM: return roam();
    case CM_WATCH: return stub1();
    case CM_PICTURE: return picture();

    // Accepted and ignored on this platform.
    case CM_SCAN: scanstb(); return 0;
    case CM_RTCLOCK: rtclkstb(); return 0;
    case CM_DOLLAR: dollarstb(); return 0;
    case CM_OVERLAY: ovlystb(); return 0;

    // No road: 0, -1, else, include, the declaration and type words,
    // errors, core, terminal, high, low, synch, blend, analogio, xunused,
    // sort and the operator words.
    default: return 0;
  }
}
