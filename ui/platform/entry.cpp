#include "ui/platform/entry.h"

#include "core/output.h"
#include "core/state.h"
#include "lang/cstart.h"
#include "realtime/devices/devsetup.h"
#include "ui/window.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>

int rdonly = 0;
float sysversion = 0;
char logname[260];
void (*tmoclose)() = nullptr;

float osversion() {
  utsname u;
  if (uname(&u) != 0) return 0;
  int major = 0, minor = 0;
  std::sscanf(u.release, "%d.%d", &major, &minor);
  return static_cast<float>((major * 1000 + minor) / 1000.0);
}

const char* osname() {
  static char buf[64];
  std::snprintf(buf, sizeof buf, "Linux_%5.3f", static_cast<double>(osversion()));
  return buf;
}

namespace {
int timeout_s = 0;

// PELIX_TIMEOUT ends a run that hangs: a diagnostic and status 124.
void ontimeout(int) {
  char msg[96];
  const int n = std::snprintf(msg, sizeof msg, "pelix: no end after PELIX_TIMEOUT=%d s; stopped\n", timeout_s);
  if (n > 0) (void)!write(2, msg, static_cast<size_t>(n));
  if (tmoclose) tmoclose();
  _exit(124);
}

void armtimeout() {
  const char* t = std::getenv("PELIX_TIMEOUT");
  if (!t || !*t) return;
  char* end = nullptr;
  const long s = std::strtol(t, &end, 10);
  if (*end || s < 1 || s > 86400 * 30) {
    std::fprintf(stderr, "pelix: PELIX_TIMEOUT=%s is no number of seconds; ignored\n", t);
    return;
  }
  timeout_s = static_cast<int>(s);
  std::signal(SIGALRM, ontimeout);
  alarm(static_cast<unsigned>(s));
}

// Opens the log afresh. The last run's log is removed first rather than
// truncated: a file truncated to nothing and written again is flushed to
// disk when it is closed (ext4's rule for files replaced that way), which
// cost a start-up more than everything else it does. A log that is a link
// or has other names is truncated in place as before.
FILE* openlog(const char* name) {
  struct stat st;
  if (lstat(name, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) unlink(name);
  return std::fopen(name, "w");
}
}  // namespace

static std::string tempdir() {
  for (const char* v : {"TEMP", "TMP"}) {
    const char* t = std::getenv(v);
    if (t && *t) return t;
  }
  return "/tmp";
}

int pelix_entry(int argc, char** argv) {
  std::string cmd;
  for (int i = 1; i < argc; i++) {
    if (i > 1) cmd += ' ';
    cmd += argv[i];
  }
  armtimeout();
  std::string temp = tempdir();

  // The log goes to the working folder, else to the temporary folder.
  std::snprintf(logname, sizeof logname, "pelix.log");
  logfp = openlog(logname);
  if (!logfp) {
    std::snprintf(logname, sizeof logname, "%s/pelix.log", temp.c_str());
    logfp = openlog(logname);
  }
  rdonly = logfp ? 0 : 1;
  jdebug = logfp ? 1 : 0;

  sysversion = osversion();
  logprintf("PELIX %.2f\nCmdlin <%s>\n", PELIX_VERSION, cmd.c_str());
  logprintf("temp dir <%s>\njdebug=%d  log file <%s>\n", temp.c_str(), jdebug, logname);

  // The start-up takes the whole command line, program word first (quoted
  // when it holds a blank).
  std::string prog = argc > 0 && argv[0] ? argv[0] : "pelix";
  if (prog.find_first_of(" \t") != std::string::npos) prog = '"' + prog + '"';
  std::string full = cmd.empty() ? prog : prog + " " + cmd;
  winwords(true);  // window records live in word memory like every record
  cmdlin(full.c_str());

  logprintf("OpSys: %d  ->  %s %7.3f\n", static_cast<int>(sysversion * 1000.0f + 0.5f), osname(),
            static_cast<double>(sysversion));
  devini(-1);
  int status = runmain();
  finish(status);
}
