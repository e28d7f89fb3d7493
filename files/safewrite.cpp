// Whole-file writes through a temporary file in the target's folder.
#include "files/safewrite.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "core/output.h"
#include "core/units.h"
#include "files/fileutil.h"

void fileerr(const char* name, int arg, int code, int err) {
  jprintf(errlun, "%s: %s\n", name && *name ? name : "file", std::strerror(err ? err : EIO));
  error(arg, code);
}

int wrtarg = 0;

void wrterr(const char* name, int arg, int err) { fileerr(name, arg ? arg : wrtarg, 69, err); }

int swtemp(const char* name, SafeOut* s, std::string* open, bool ask) {
  s->name = name ? name : "";
  const int e = tmpaim(hostpath(s->name), s);
  *open = s->dest;
  if (e != 0 || s->straight) return e;
  // A file the user may not write is not replaced either.
  if (s->there && access(s->dest.c_str(), W_OK) != 0) return errno ? errno : EACCES;
  if (ask && ovwask(s->dest.c_str()) < 0) return -1;
  if (const int m = tmpmake(s); m != 0) return m;
  if (!s->temp.empty()) *open = s->temp;
  return 0;
}

bool swbegin(const char* name, int arg, SafeOut* s, std::string* open) {
  const int e = swtemp(name, s, open, true);
  if (e > 0 && !s->dest.empty()) fileerr(s->name.c_str(), arg, 66, e);
  return e == 0;
}

int swdone(SafeOut* s, bool ok) { return tmpend(s, ok); }

bool swend(SafeOut* s, bool ok) {
  const int r = swdone(s, ok);
  if (r > 0) wrterr(s->name.c_str(), 2, r);
  return r == 0;
}
