// Platform hooks that do nothing on this platform.
#include "ui/hooks.h"

#include "core/output.h"
#include "core/state.h"

#include <cstring>

int noplck() { return 0; }
int scrrst() { return 0; }
void nopvoid() {}
int nopzero() { return 0; }
int scrnop() { return 0; }
int mapstub() { return 0; }
int nopcb() { return 0; }
int32_t gword12(const void* rec) {
  if (!rec) return 0;
  int32_t w;
  std::memcpy(&w, static_cast<const char*>(rec) + 12 * 4, 4);
  return w;
}
int nopwin() { return 0; }
int nopdev() { return 0; }
int ret1() { return 1; }
int nopout() { return 0; }
int nopcls() { return 0; }
int nopb() { return 0; }
int scnlin() { return 0; }
int rtfnop() { return 0; }
int rtfnop1() { return 0; }
int rtfnop2() { return 0; }
int rtfnop3() { return 0; }
int rtnop() { return 0; }
int rtclkstb() { return 0; }
int corrstb() { return 0; }
int dollarstb() { return 0; }
int ovlystb() { return 0; }
int scanstb() { return 0; }
int portnop1() { return 0; }
int portnop2() { return 0; }
int txtnop() { return 0; }
int devnop() { return 0; }
int animnop1() { return 0; }
int animnop2() { return 0; }
int dmpnop() { return 0; }
int icnpic() { return 0; }
int mnusv1() { return 0; }
int mnusv2() { return 0; }

namespace {
int trcname(const char* name) {
  jprintf(dbglun, "%s\n", name);
  return 0;
}
}  // namespace

int NewMenu() { return trcname("NewMenu"); }
int insertMenu() { return trcname("insertMenu"); }
int AddMenu() { return trcname("AddMenu"); }
int DisposeMenu() { return trcname("DisposeMenu"); }
int GetNewDialog() { return trcname("GetNewDialog"); }
int DisposDialog() { return trcname("DisposDialog"); }
int HiliteMenu() { return trcname("HiliteMenu"); }

int scrltrc() {
  if (jdebug) logprintf("scroll()\n");
  return 0;
}
