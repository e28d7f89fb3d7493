// The command dispatcher. One switch on the command code: the parser's
// special codes (unknown word, quoted string, expression, assignment) take
// their own roads, every command word goes to its handler. Handlers that
// later parts of the system provide are named in the comment of their case;
// until they exist those cases take the one "not available" road.
#include "lang/docmnd.h"
#include "lang/macro.h"
#include "lang/maclib.h"

#include "core/args.h"
#include "core/convert.h"
#include "compute/fnsvc.h"
#include "compute/func.h"
#include "core/output.h"
#include "core/state.h"
#include "core/typecmd.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "lang/cstart.h"
#include "lang/declare.h"
#include "lang/keywords.h"
#include "lang/mainloop.h"
#include "lang/namehooks.h"
#include "lang/parse.h"
#include "realtime/hwcells.h"
#include "realtime/serial.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/hooks.h"
#include "ui/sysserv.h"

#include <cstring>
#include <sys/stat.h>

namespace {
// Time-profile slots of the timed roads.
enum { TM_ASSIGN = 1, TM_FTYPE = 2, TM_IMPLYD = 3, TM_IFTEST = 4, TM_MENDIF = 5 };

// A listing road: the focus goes to the listing window around the handler.
int listed(int code, int reason) {
  setfoc(1, reason);
  notavl(code);
  setfoc(0, reason);
  return 0;
}

// Code 98 (a name that is no command word) and -2 (an ambiguous one).
int implyd(int code) {
  tmstat(0, TM_IMPLYD, "implyd");
  // Code 98 is tried as a compiled macro (runipc), a text macro (Runmac)
  // and, with trace-mask bit 2, a menu (menucmd) once those exist.
  if (code == CM_UNKNOWN && (runipc(1) == 0 || Runmac(1) == 0)) {
    tmstat(1, TM_IMPLYD, "implyd");
    return 0;
  }
  if (!(pflags & 0x200)) {
    char word[41] = {0};
    if (nargw >= 1) tokstr(argmap[0], word, sizeof word);
    jprintf(errlun, "%s command: %s\n", code == CM_UNKNOWN ? "Unknown" : "Ambiguous", word);
  }
  tmstat(1, TM_IMPLYD, "implyd");
  return 0;
}

// Code 115: the assignment is the ordered expression of argument 1, whose
// "=" stores the result.
int assign() {
  tmstat(0, TM_ASSIGN, "assign");
  float v = 0;
  getarg(1, &v, nullptr, 0, nullptr);
  tmstat(1, TM_ASSIGN, "assign");
  return 0;
}

// Codes 4, 5, 99 and 200 print through ftype (the format engine).
int typed(int code) {
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
    else
      r = waitev(toi32(static_cast<double>(t) * 1000.0), 1);
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

int notavl(int) {
  error(1, E_NOTAVL);
  return 0;
}

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
    case 4:             // type
    case 5:             // ftype
    case CM_STRING:     // a quoted string
    case CM_EXPR:       // an expression
      return typed(code);

    // Language and macros.
    case 6:    // if: IFTEST
    case 10:   // while: IFTEST
    case 59:   // repeat: IFTEST
      tmstat(0, TM_IFTEST, "iftest");
      IFTEST(code);
      tmstat(1, TM_IFTEST, "iftest");
      return 0;
    case OP_RBRACE:  // "}": Mendif
      tmstat(0, TM_MENDIF, "mendif");
      Mendif();
      tmstat(1, TM_MENDIF, "mendif");
      return 0;
    case 8: return mgoto(0);
    case 9: return mlabel();
    case 11:
    case 27: return MBREAK(code);
    case 13: Runmac(2); return 0;
    case 16: return DEFALT();
    case 17: return MRETRN(1);
    case 56: return argshift();
    case 12: return macro();
    case 14:   // compile: compil
      return notavl(code);
    case 15: return 0;  // link: nothing to link on this platform
    case 33: return define();
    case 34:   // declare
    case 60:   // release
    case 65:   // undeclare
      return declar(code);

    // Interpreter services.
    case 1:    // help: help
    case 31:   // manual: help
      notavl(code);
      setfoc(0, 0);
      return 0;
    case 2: {
      int ask = intarg(2, 0);
      int r = quit(ask);
      if (ask >= 2) setres(r, 0);  // quit 2 only asks: the answer goes to #0
      return 0;
    }
    case 26: xeqstr(nullptr, -2, 0); return 0;
    case 30: return listed(code, 0x80);  // show: show
    case 32: {
      int n = Histry(1, 0, 0);
      if (n > 0) Histry(0, n, 1);
      return 0;
    }
    case 305: return notavl(code);  // alarm: Alarm

    // Output and variables.
    case 3: return listed(code, 0x400);  // list: flist
    case 63: vdump(); return 0;
    case 52:   // printer: vprint
    case 61:   // load: load
      return notavl(code);

    // Files.
    case 66: return mkdircmd();
    case 302: return listed(code, 0x100);  // directory: dircmd
    case 19: filopn(code, 0); return 0;  // close
    case 18:   // socket: sockcmd
    case 20:   // read: rdwrit
    case 21:   // write: rdwrit
    case 22:   // input: vecio
    case 23:   // output: vecio
    case 24:   // copy: copyfl
    case 67:   // preproc: filcpy
    case 303:  // delete: delete
    case 318:  // chdir: chtodir
    case 324:  // dmwrite: dmwrite
    case 326:  // dmread: pdread
    case 329:  // fopen: fiocmd
    case 330:  // fread: fiocmd
    case 331:  // fwrite: fiocmd
    case 332:  // fclose: fiocmd
    case 335:  // system: syscmd
      return notavl(code);

    // Platform.
    case 301: return waitcmd();
    case 307: sysint(); return 0;
    case 64: flushpnt(); return 0;
    case 28:   // menu: menucmd
    case 54:   // edit: edit, then edtext; status bit 0x40 cleared after
    case 62:   // window: winarg, setwin / iconwin; the window number to r0
    case 333:  // pattern: pattern
    case 501:  // font: setlfnt / initFonts / winsetup
      return notavl(code);

    // Display and vectors.
    case 309:  // erase: erase, setnvec
    case 310:  // sketch: sketch
    case 311:  // redraw: redraw
    case 313:  // view: view
    case 317:  // animate: animat
    case 319:  // surface: surfac
    case 506:  // histogram: plot
    case 507:  // plot: plot
    case 508:  // text: puttxt
    case 509:  // putvec: vpoint
    case 510:  // axis: axis
    case 511:  // paint: vpaint
    case 512: case 513: case 514: case 516: case 517:  // line box circle ellipse block
    case 518: case 519: case 520: case 521:            // cylinder sphere cone disk: shapes
    case 515:  // arc: ARC after vinit and setwdc
    case 523:  // grid: grid
    case 524:  // spline: dosplin
      return notavl(code);

    // Devices and real time.
    case 25:   // call: callcb
    case 306:  // portio: portcmd
    case 308:  // initialize: devini
    case 323:  // realtime: rtime
    case 325:  // sound: sound
    case 526:  // user1
    case 527:  // user2
    case 528:  // user3
      return notavl(code);
    case 328: return comwrt();
    case 405: return 0;  // ipwait: nothing to wait for on this platform

    // Image processing.
    case 312:  // stretch: stretch
    case 315:  // freeze: freeze
    case 502: case 503: case 504: case 505:  // rotate scale pin offset: sttrns
    case 522:  // zscan: zscan
    case 406:  // fill: dofill
    case 407:  // fft: fftcmd
    case 334:  // addlist: addlist
    case 401:  // digitize: digtiz
    case 403:  // ipalu: ipalu
    case 404:  // roam: roam
      return notavl(code);
    case 57:   // watch
    case 525:  // picture
      return 0;

    // Accepted and ignored on this platform.
    case 316: scanstb(); return 0;
    case 320: rtclkstb(); return 0;
    case CM_DOLLAR: dollarstb(); return 0;
    case 402: ovlystb(); return 0;

    // No road: 0, -1, else, include, the declaration and type words,
    // errors, core, terminal, high, low, synch, blend, analogio, xunused,
    // sort and the operator words.
    default: return 0;
  }
}
