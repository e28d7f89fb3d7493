// The initialize command: device kinds, their states, the board records.
#include "realtime/devices/devsetup.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/dmrec/splitln.h"
#include "graphics/drawstate.h"
#include "lang/cmdcodes.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devvar.h"
#include "realtime/devices/eyetrack.h"
#include "realtime/devices/joystick.h"
#include "realtime/devices/meascomp.h"
#include "realtime/devices/pport.h"
#include "realtime/devices/serdev.h"

const char* const devnam[NDEVKIND] = {
    "printer", "com",    "graphics", "xdev",       "ydev",         "zdev",  "wdev",     "scanner", "trigger",
    "datatrans", "eecadc", "iotech", "macadios",   "niadc",        "nidig", "gameport", "directx", "opengl",
    "eyetracker", "framegrabber", "canon", "geadc", "iproc",       "srbox", "pport",    "meascomp"};
int8_t devstate[NDEVKIND];
uint16_t devflg = DF_GRAPHICS;
BoardRec boards[NBOARD];
uint8_t nboards;
uint8_t nextchan;
AxisRec devaxes[5];
std::string devtext;

namespace {

constexpr int TEXTMAX = 1024;  // longest trigger text kept

const char* statename(int s) {
  switch (s) {
    case DS_ACTIVE: return "Active";
    case DS_UNAVAILABLE: return "Unavailable";
    default: return "Inactive";
  }
}

// The kinds no hardware of this system stands behind.
void unavailable() {
  for (int k : {DK_DATATRANS, DK_IOTECH, DK_MACADIOS, DK_NIADC, DK_NIDIG, DK_DIRECTX, DK_OPENGL})
    devstate[k] = DS_UNAVAILABLE;
}

bool isnum(int t) { return (t & 16) && !(t & 32) && !(t & 0x2000); }
bool istext(int t) { return (t & 32) || (t & 0x2000); }

// Whether argument n is a number as written (or an expression of numbers),
// not a variable that holds one.
bool plainnum(int n) {
  int32_t h = 0;
  int w = -1;
  const int t = fndarg(n, &h, &w);
  const int wt = w >= 0 && w < NWORDS ? wrdtab[w].type : 0;
  if (wt == WT_NUMBER || t == K_CONST) return true;
  if (wt != WT_GROUP || (argtyp(n, &h) & 0x7F0) != K_NUMBER) return false;
  const PtrRec* r = h ? ptrrec(h) : nullptr;
  return !(r && r->Idx > 0);
}

// The kind a word names by prefix; -1 when none.
int kindof(const char* word) {
  char low[64];
  size_t n = 0;
  for (; word[n] && n + 1 < sizeof low; n++) low[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(word[n])));
  low[n] = 0;
  static const char* list[NDEVKIND + 1];
  if (!list[0]) std::copy(devnam, devnam + NDEVKIND, list);
  return fndkey(low, list);
}

BoardRec* newboard() {
  if (nboards >= NBOARD) return nullptr;
  for (auto& b : boards)
    if (!b.inkind && !b.outkind) {
      b = BoardRec{};
      nboards++;
      return &b;
    }
  return nullptr;
}

// Hands a record back: zeroed in place; its channels are free again when
// they were the highest taken.
void release(BoardRec* b) {
  if (b->nin > 0 && b->in0 + b->nin == nextchan) nextchan = static_cast<uint8_t>(b->in0);
  *b = BoardRec{};
  if (nboards) nboards--;
}

// The last record a test picks.
template <typename F>
BoardRec* lastboard(F pick) {
  for (int i = NBOARD - 1; i >= 0; i--)
    if ((boards[i].inkind || boards[i].outkind) && pick(boards[i])) return &boards[i];
  return nullptr;
}

// The analog inputs of a new board: at most the channels left.
void inputs(BoardRec* b, int kind, int asked) {
  b->inkind = static_cast<int16_t>(kind);
  b->in0 = nextchan;
  b->nin = static_cast<int16_t>(std::clamp(asked, 0, 16 - nextchan));
  b->inmask = static_cast<int16_t>(((1u << b->nin) - 1u) << b->in0);
}

int16_t maskof(int bits) {
  bits = std::clamp(bits, 0, 16);
  return static_cast<int16_t>(bits >= 16 ? 0xFFFF : (1 << bits) - 1);
}

// A serial port for a device: 0, -1 for a port outside 1 to 10, -2 when
// its slot is in use.
int portfree(int port) {
  if (port < 1 || port > NCOMSLOT) return -1;
  if (commode(port - 1) != 0) {
    jprintf(lstlun, "device conflict on port: %d\n", port);
    return -2;
  }
  return 0;
}

int adcbox(int kind) {
  if (devstate[kind] == DS_ACTIVE) return -1;
  BoardRec* b = newboard();
  if (!b) return -1;
  inputs(b, kind, intarg(5, 4));
  const int port = intarg(3, -1);
  const int mode = intarg(4, kind == DK_EECADC ? MODE_EECADC : MODE_GEADC);
  b->tmo = static_cast<uint32_t>(std::max(1, intarg(6, 4))) * 50u;
  b->inrev = static_cast<int16_t>(intarg(7, 0));
  b->param = static_cast<int16_t>(intarg(8, 0));
  int r = portfree(port);
  if (r == 0) {
    const int a = init_adb(port - 1, mode, b);
    r = a == 1 ? b->in0 : a < 0 ? a : -2;
  }
  if (r < 0) {
    release(b);
    return r;
  }
  nextchan = static_cast<uint8_t>(nextchan + b->nin);
  devflg |= DF_ADC;
  return r;
}

int gameport() {
  BoardRec* b = newboard();
  if (!b) return -1;
  inputs(b, DK_GAMEPORT, intarg(5, 4));
  b->outkind = DK_GAMEPORT;
  b->inunit = static_cast<int16_t>(intarg(3, -1));
  const int buttons = intarg(4, 2);
  b->portbits = b->ndigin = static_cast<int16_t>(buttons);
  b->digmask = maskof(buttons);
  b->xormask = static_cast<int16_t>(intarg(6, 0));
  b->inrev = static_cast<int16_t>(intarg(7, 0));
  const int r = Init_gameport(b, 1);
  if (r != 1) {
    release(b);
    return -1;
  }
  nextchan = static_cast<uint8_t>(nextchan + b->nin);
  devflg |= DF_ADC | DF_DIGITAL | DF_JOYSTICK;
  return r;
}

int srbox() {
  BoardRec* b = newboard();
  if (!b) return -1;
  const int port = intarg(3, -1);
  int r = portfree(port);
  const int mode = intarg(4, MODE_SRBOX);
  const int nbits = intarg(5, 5);
  b->ndigin = static_cast<int16_t>(std::clamp(nbits, 0, 16));
  b->digmask = maskof(nbits);
  b->xormask = static_cast<int16_t>(intarg(6, 0));
  b->tmo = static_cast<uint32_t>(std::max(0, intarg(7, 0))) * 50u;
  b->outkind = DK_SRBOX;  // holds the record while the port opens
  if (r == 0) r = comdev(port, mode, b);
  if (r != 0) {
    release(b);
    return r < 0 ? r : -2;
  }
  devflg |= DF_DIGITAL;
  return r;
}

int pport() {
  BoardRec* b = newboard();
  if (!b) return -1;
  const int flags = intarg(3, 0);
  int lpt = intarg(5, 1);
  if (lpt < 1 || lpt > 4) lpt = 1;
  const int32_t addr = lngarg(6, 0);
  b->outkind = DK_PPORT;
  b->outunit = static_cast<int16_t>(lpt);
  b->param = static_cast<int16_t>(addr < 16 ? lptbase[lpt] : addr);
  int r = init_pport(b);
  if (r < 0) {
    release(b);
    return r;
  }
  devflg |= DF_PPORT;
  if (flags & 8) {
    // A one-channel ADC behind the port.
    inputs(b, DK_PPORT, 1);
    b->inunit = static_cast<int16_t>(lpt);
    b->inrev = static_cast<int16_t>(intarg(4, 0));
    nextchan = static_cast<uint8_t>(nextchan + b->nin);
    r = b->in0;
  }
  return r;
}

int meascomp() {
  if (devstate[DK_MEASCOMP] == DS_ACTIVE) return -1;
  BoardRec* b = newboard();
  if (!b) return -1;
  const int asked = intarg(4, 8);
  inputs(b, DK_MEASCOMP, asked);
  b->inunit = b->outunit = static_cast<int16_t>(intarg(3, 0));
  b->inrev = static_cast<int16_t>(intarg(5, 0));
  b->param = static_cast<int16_t>(intarg(6, asked == 8 ? 1 : 0));
  b->zero = static_cast<int16_t>(intarg(7, 2048));
  b->xormask = static_cast<int16_t>(intarg(8, 0));
  b->portmask = static_cast<int16_t>(intarg(9, 255));
  b->portbits = static_cast<int16_t>(intarg(10, 8));
  b->nports = static_cast<int16_t>(intarg(11, 1));
  const int r = init_meascomp(b);
  if (r < 0) {
    release(b);
    return r;
  }
  nextchan = static_cast<uint8_t>(nextchan + b->nin);
  devflg |= DF_DIGITAL | DF_ADC;
  return r;
}

// xdev, ydev, zdev, wdev and trigger: argument 3 names the system variable
// bound; a number clears the binding.
int axis(int kind) {
  AxisRec& a = devaxes[kind == DK_TRIGGER ? 0 : kind - DK_XDEV + 1];
  const int32_t code = argnum(3);  // before the value: a variable's name
  if (code < 1000) {
    // Only a number as written clears the binding; a variable of the
    // user's is no device axis.
    if (!plainnum(3)) {
      error(3, 70);
      return -1;
    }
    a = AxisRec{};
    if (kind == DK_TRIGGER) devtext.clear();
    return kind;
  }
  const int mode = intarg(5, 0);
  if (kind == DK_TRIGGER && (mode < 1 || mode > 7)) return kind;
  a.code = static_cast<uint16_t>(code - 1000);
  a.scale = fltarg(4, kind == DK_TRIGGER ? 0.0f : 1.0f);
  a.mode = static_cast<uint16_t>(mode);
  if (kind == DK_TRIGGER) {
    char text[TEXTMAX + 1];
    int len = 0;
    float n = 0;
    const int t6 = getarg(6, &n, text, sizeof text, &len);
    if (istext(t6) && !isnum(t6)) {
      devtext.assign(text, static_cast<size_t>(len));
      a.text = 1;
      a.extra = static_cast<int16_t>(-len);
    } else {
      devtext.clear();
      a.text = 0;
      a.extra = static_cast<int16_t>(intarg(6, 128));
    }
    if (mode == 3) a.scale = getprm(a.code);
  }
  devflg |= DF_AXES;
  return kind;
}

void listing() {
  jprintf(lstlun, "Devices:\n");
  for (int k = DK_GRAPHICS; k < NDEVKIND; k++) jprintf(lstlun, " %-12s %s\n", devnam[k], statename(devstate[k]));
  for (int s = 0; s < NCOMSLOT; s++) {
    const int m = commode(s);
    if (!m) continue;
    jprintf(lstlun, " COM%d:  mode= %d (%oo) Baud= %d  Bits= %d \tParity=%d  StopBits=%d\n", s + 1, m,
            static_cast<unsigned>(m), baudtab[(m >> 5) & 15], (m & 3) + 5, (m & 24) >> 3, (m & 4) ? 2 : 1);
  }
  bool head = false;
  int bit = 0;
  for (int i = 0; i < NBOARD; i++) {
    const BoardRec& b = boards[i];
    if (!b.inkind && !b.outkind) continue;
    if (!head) jprintf(lstlun, "Board       Name Unit  NIn  In0 NOut Out0 RevPol  Param   Bits Nports\n");
    head = true;
    if (b.inkind)
      jprintf(lstlun, " %2d %12s %4d %4d %4d %4d %4d %6oo %5d %6o %5d\n", i + 1, devnam[b.inkind], b.inunit, b.nin,
              b.in0, b.nout, b.out0, static_cast<unsigned>(static_cast<uint16_t>(b.inrev)), b.param,
              static_cast<unsigned>(static_cast<uint16_t>(b.inmask)), b.nports);
    if (b.outkind) {
      jprintf(lstlun, " %2d %12s %4d %4d %4d %4d %4d %6oo %5d %6d %5d\n", i + 1, devnam[b.outkind], b.outunit,
              b.ndigin, bit, b.ndigout, b.fld12, static_cast<unsigned>(static_cast<uint16_t>(b.xormask)),
              static_cast<uint16_t>(b.digmask), b.portbits, b.nports);
      bit += b.ndigin;
    }
  }
}

// Sets a kind up from the command's arguments; the result for register 0.
int setup(int kind) {
  int r = -1;
  switch (kind) {
    case DK_COM: {
      const int port = intarg(3, -1);
      r = port;
      if (port >= 1 && port <= NCOMSLOT && comini(port - 1, intarg(4, 0)) == 0) devstate[kind] = DS_ACTIVE;
      return r;
    }
    case DK_GRAPHICS:
      if (intarg(3, 1)) {
        devstate[kind] = DS_ACTIVE;
        if (devflg & DF_IPROC)
          gunit = 2;
        else
          devflg |= DF_GRAPHICS;
      } else {
        devstate[kind] = DS_INACTIVE;
        devflg &= static_cast<uint16_t>(~DF_GRAPHICS);
      }
      return kind;
    case DK_XDEV: case DK_YDEV: case DK_ZDEV: case DK_WDEV: case DK_TRIGGER:
      r = axis(kind);
      break;
    case DK_EECADC: case DK_GEADC: r = adcbox(kind); break;
    case DK_GAMEPORT: r = gameport(); break;
    case DK_DIRECTX:
      if (intarg(3, 1)) {
        error(3, 163);
        return -1;
      }
      devstate[kind] = DS_INACTIVE;
      return kind;
    case DK_EYETRACKER: {
      const int port = intarg(3, 1);
      r = portfree(port);
      if (r == 0) r = eyeini(port - 1, intarg(4, MODE_EYE));
      if (r > 0) {
        devstate[kind] = DS_ACTIVE;
        devflg |= DF_EYE;
      }
      return r;
    }
    case DK_FRAMEGRABBER: case DK_CANON: {
      const int n = intarg(3, 1);
      r = setcam(kind == DK_CANON && n != 0 ? 20 : n);
      if (r >= 0) devstate[kind] = n > 0 ? DS_ACTIVE : DS_UNAVAILABLE;
      // No camera or frame grabber driver exists here: opening one fails.
      if (r < 0) jprintf(errlun, "Camera capture is not available on this system\n");
      return r;
    }
    case DK_IPROC:
      if (devflg & DF_IPROC) devcls(DK_IPROC);
      intarg(3, 1);
      // No image processor is ever found.
      devstate[kind] = DS_INACTIVE;
      return -1;
    case DK_SRBOX: r = srbox(); break;
    case DK_PPORT: r = pport(); break;
    case DK_MEASCOMP: r = meascomp(); break;
    case DK_DATATRANS: case DK_IOTECH: case DK_MACADIOS: case DK_NIADC: case DK_NIDIG: case DK_OPENGL:
      // No hardware of these kinds exists here: the refusal marks them.
      devstate[kind] = DS_UNAVAILABLE;
      error(2, 163);
      return -1;
    default:
      error(2, 163);
      return -1;
  }
  if (r >= 0 && !(state & ST_ERROR)) devstate[kind] = DS_ACTIVE;
  return r;
}

}  // namespace

int boardno(const BoardRec* b) {
  if (!b || b < boards || b >= boards + NBOARD) return -1;
  return static_cast<int>(b - boards);
}

int devini(int code) {
  if (code < 0) {
    devstate[DK_DIRECTX] = DS_INACTIVE;
    return 0;
  }
  const int na = nargs();
  if (na < 2) {
    unavailable();
    listing();
    return 0;
  }
  char word[64];
  float v = 0;
  int len = 0;
  const int t = getarg(2, &v, word, sizeof word, &len);
  if (state & ST_ERROR) return 0;
  if (isnum(t)) {
    if (na < 3) {
      unavailable();
      for (int k = DK_GRAPHICS; k < NDEVKIND; k++) jprintf(lstlun, "%s\n", devnam[k]);
      return 0;
    }
    char w3[64];
    float v3 = 0;
    const int t3 = getarg(3, &v3, w3, sizeof w3, &len);
    const int kind = istext(t3) && !isnum(t3) ? kindof(w3) : -1;
    if (kind < 0) {
      error(2, 163);
      return 0;
    }
    const int n = static_cast<int>(v);
    // The scanner command word is closed as the command's own code.
    const int cls = (t3 & 0x2000) && argnum(3) == CM_SCAN ? 1000 + CM_SCAN : kind;
    const int r = n >= 1 ? devstate[kind] : n == 0 ? devcls(cls) : -1;
    setres(r, 0);
    return 0;
  }
  int r = -1;
  if ((t & 0x2000) && argnum(2) == CM_SCAN) {
    // The scanner command word: its set-up has nothing to do here.
    devflg |= DF_SCANNER;
    devstate[DK_SCANNER] = DS_ACTIVE;
    r = 0;
  } else {
    const int kind = istext(t) ? kindof(word) : -1;
    if (kind < 0) {
      error(2, 163);
      return 0;
    }
    r = setup(kind);
    trcint(8, "  init", kind, r, devstate[kind], devflg, nboards, nextchan);
  }
  // After an error register 0 keeps minus its code.
  if (!(state & ST_ERROR)) setres(r, 0);
  return 0;
}

int devcls(int kind) {
  switch (kind) {
    case DK_GRAPHICS:
      cmdwin();
      devflg &= static_cast<uint16_t>(~DF_GRAPHICS);
      break;
    case DK_IPROC: devflg &= static_cast<uint16_t>(~DF_IPROC); break;
    case DK_EECADC:
    case DK_GEADC:
      if (BoardRec* b = lastboard([kind](const BoardRec& r) { return r.inkind == kind; })) {
        init_adb(0, 0, b);
        release(b);
      }
      break;
    case DK_GAMEPORT:
      if (BoardRec* b = lastboard([](const BoardRec& r) { return r.inkind == DK_GAMEPORT || r.outkind == DK_GAMEPORT; })) {
        Init_gameport(b, 0);
        release(b);
      }
      break;
    case DK_SRBOX: {
      BoardRec* b = lastboard([](const BoardRec& r) { return r.outkind == DK_SRBOX; });
      if (!b) return -2;
      comdev(0, 0, b);
      release(b);
      break;
    }
    case DK_PPORT:
      if (BoardRec* b = lastboard([](const BoardRec& r) { return r.outkind == DK_PPORT; })) release(b);
      if (!lastboard([](const BoardRec& r) { return r.outkind == DK_PPORT; })) devflg &= static_cast<uint16_t>(~DF_PPORT);
      break;
    case DK_MEASCOMP:
      mcstop(0, 0);
      if (BoardRec* b = lastboard([](const BoardRec& r) { return r.inkind == DK_MEASCOMP; })) release(b);
      break;
    case DK_EYETRACKER:
      // The tracker's port is given back, so that it can be set up again.
      if (eye.mode) comini(eye.chan, 0);
      eye.mode = 0;
      devflg &= static_cast<uint16_t>(~DF_EYE);
      break;
    case DK_COM: case DK_XDEV: case DK_YDEV: case DK_ZDEV: case DK_WDEV: case DK_TRIGGER:
    case DK_FRAMEGRABBER: case DK_CANON:
    case 1052:
      break;
    case 1000 + CM_SCAN:
      devstate[DK_SCANNER] = DS_INACTIVE;
      break;
    default:
      return -1;
  }
  if (kind < NDEVKIND) devstate[kind] = DS_INACTIVE;
  return kind;
}

void devrst() {
  for (auto& b : boards) b = BoardRec{};
  nboards = 0;
  nextchan = 0;
  for (auto& s : devstate) s = DS_INACTIVE;
  for (auto& a : devaxes) a = AxisRec{};
  devtext.clear();
  devflg = DF_GRAPHICS;
}
