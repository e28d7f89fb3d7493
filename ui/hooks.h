// Platform hooks that do nothing on this platform. Each stays a named entry
// point with a fixed result, so that its callers remain platform-neutral;
// callers rely only on that result.
#pragma once
#include <cstdint>

int noplck();     // lock the screen pixel memory before direct access: 0
int scrrst();     // restore the screen after direct screen use: 0
void nopvoid();   // display synchronisation of real-time drawing
int nopzero();    // the same, with a result: 0
int scrnop();     // prepare the screen for a new read-out: 0
int mapstub();    // map a high-memory page: 0 (pages are always addressable)
int nopcb();      // a board call-back: 0
// The thirteenth 32-bit word of a record (0 for none).
int32_t gword12(const void* rec);
int nopwin();     // a platform window set-up step: 0
int nopdev();     // a device set-up step: 0
int ret1();       // a platform query that always answers 1
int nopout();     // flush a platform output channel: 0
int nopcls();     // close a platform output channel: 0
int nopb();       // yield inside drawing loops: 0
int scnlin();     // refresh one text line: 0
int rtfnop();     // real-time file and device steps: 0
int rtfnop1();
int rtfnop2();
int rtfnop3();
int rtnop();
int rtclkstb();   // the command rtclock (320): accepted and ignored
int corrstb();    // correlate (228): accepted and ignored
int dollarstb();  // a line that begins with "$" (399): accepted and ignored
int ovlystb();    // overlay (402): accepted and ignored
int scanstb();    // scan (316): accepted and ignored
int portnop1();   // set a fill pattern: 0
int portnop2();   // a view-window step: 0
int txtnop();     // a text step: 0
int devnop();     // a device step: 0
int animnop1();   // movie display steps: 0
int animnop2();
int dmpnop();     // write back a mapped variable: 0
int icnpic();     // draw the 32 x 32 icon picture: 0
int mnusv1();     // two steps of saving a menu: 0
int mnusv2();
// Menu trace entries: each prints its name and a newline on the debug unit.
int NewMenu();
int insertMenu();
int AddMenu();
int DisposeMenu();
int GetNewDialog();
int DisposDialog();
int HiliteMenu();
// Logs "scroll()" while the log is on.
int scrltrc();
