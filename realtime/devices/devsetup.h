// The device set-up: the 26 device kinds with their states, the device
// flags word, the four board records that number the analog input channels
// 0 to 15 and spread one digital word over the boards, the axis and trigger
// bindings, and the initialize command (devini) with devcls.
#pragma once
#include <cstdint>
#include <string>

// Device kind codes: the index into the keyword list.
enum DevKind : int {
  DK_PRINTER = 0, DK_COM = 1, DK_GRAPHICS = 2, DK_XDEV = 3, DK_YDEV = 4, DK_ZDEV = 5,
  DK_WDEV = 6, DK_SCANNER = 7, DK_TRIGGER = 8, DK_DATATRANS = 9, DK_EECADC = 10,
  DK_IOTECH = 11, DK_MACADIOS = 12, DK_NIADC = 13, DK_NIDIG = 14, DK_GAMEPORT = 15,
  DK_DIRECTX = 16, DK_OPENGL = 17, DK_EYETRACKER = 18, DK_FRAMEGRABBER = 19, DK_CANON = 20,
  DK_GEADC = 21, DK_IPROC = 22, DK_SRBOX = 23, DK_PPORT = 24, DK_MEASCOMP = 25,
  NDEVKIND = 26,
};

// Kind states as the listing shows them.
enum : int8_t { DS_INACTIVE = 0, DS_ACTIVE = 1, DS_UNAVAILABLE = 2 };

// Device flags word (the system variable unit): one bit per kind of
// attached hardware.
enum : uint16_t {
  DF_IPROC = 0x1,      // image processor
  DF_GRAPHICS = 0x2,   // hardware display on
  DF_ADC = 0x4,        // an ADC board: eecadc, geadc, gameport, meascomp
  DF_DIGITAL = 0x10,   // srbox, meascomp, gameport
  DF_ANALOGOUT = 0x20, // analog outputs present (no kind sets it)
  DF_JOYSTICK = 0x40,  // gameport
  DF_AXES = 0x80,      // an axis or trigger binding
  DF_SCANNER = 0x100,  // the scanner word
  DF_CAMERA = 0x200,   // a camera or frame grabber open (setcam)
  DF_PPORT = 0x400,    // parallel port
  DF_EYE = 0x800,      // eye tracker
};

extern const char* const devnam[NDEVKIND];  // the kind keywords
extern int8_t devstate[NDEVKIND];
extern uint16_t devflg;

// A board record (52 bytes). A record whose input and output kinds are
// both 0 is free.
struct BoardRec {
  int16_t inkind;    // device kind of the analog inputs, 0 none
  int16_t inunit;    // serial unit 101 + slot, joystick id, board number or LPT
  int16_t outkind;   // kind of the digital side, 0 none
  int16_t outunit;   // COM number, LPT number or board number
  int16_t nin;       // analog inputs
  int16_t in0;       // first input channel
  int16_t nout;      // outputs
  int16_t out0;      // first output
  int16_t ndigin;    // digital input bit count
  int16_t lastdig;   // last digital byte
  int16_t ndigout;   // digital output bit count
  int16_t fld12;     // shown by the listing; no kind sets it
  int16_t xormask;   // applied to digital values read and written
  int16_t inrev;     // non-zero: an analog value v is given as inrev - v
  int16_t param;     // range code (meascomp), mask shift (geadc), port address (pport)
  int16_t portmask;  // which bits of the digital ports are outputs (meascomp)
  int16_t inmask;    // the board's channels in the global numbering
  int16_t zero;      // subtracted from every analog value
  int16_t digmask;   // digital input mask
  int16_t nports;    // number of ports
  int16_t portbits;  // bits per port (joystick: buttons)
  int16_t pad;
  uint32_t tmo;      // time-out or hold time, rtclock ticks
  uint32_t tlast;    // time of the last byte, or the deadline, ticks
};
static_assert(sizeof(BoardRec) == 52);

constexpr int NBOARD = 4;
extern BoardRec boards[NBOARD];
extern uint8_t nboards;   // records in use
extern uint8_t nextchan;  // next free analog input channel (0 to 16)

// Axis and trigger bindings: [0] trigger, [1..4] xdev, ydev, zdev, wdev.
struct AxisRec {
  float scale;     // scale, or the trigger level
  uint32_t text;   // trigger only: 1 when a text is held (devtext)
  uint16_t code;   // system-variable code of the bound variable, 0 none
  uint16_t mode;
  int16_t extra;   // trigger: a count, or minus the length of its text
};
extern AxisRec devaxes[5];
extern std::string devtext;  // the trigger's text

// The board number (0..3) of a record, -1 for none.
int boardno(const BoardRec* b);

// devini (code): the initialize command when code >= 0 (its arguments are
// read here; the result goes to register 0), the start-up reset when
// code < 0. Returns 0.
int devini(int code);
// Closes a device kind: for the board kinds the last board record of that
// kind (zeroed in place; its channels given back when it held the highest
// ones). The kind code on success, -1 for an unknown kind, -2 when no
// response box is set up.
int devcls(int kind);
// Back to the state of a fresh start: every board, binding, state and
// flag cleared (devflg 2), ports and devices left as they are (tests).
void devrst();
