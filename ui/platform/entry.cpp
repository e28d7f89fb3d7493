#include "ui/platform/entry.h"

#include "core/output.h"
#include "core/state.h"
#include "core/tmpfile.h"
#include "lang/cstart.h"
#include "core/units.h"
#include "realtime/devices/devsetup.h"
#include "ui/events.h"
#include "ui/platform/console.h"
#include "ui/window.h"

#include <atomic>
#include <chrono>
#include <thread>

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
// 0 before the time-out, 1 when it has come, 2 while the program ends.
std::atomic<int> tmophase{0};

// The diagnostic of the time-out, on standard error.
void tmosay() {
  char msg[96];
  const int n = std::snprintf(msg, sizeof msg, "pelix: no end after PELIX_TIMEOUT=%d s; stopped\n", timeout_s);
  if (n > 0) (void)!write(2, msg, static_cast<size_t>(n));
}

// The watcher: marks the time-out; when the program has not ended 2 s
// later (no poll came: a computation that polls nothing, a blocked call),
// it ends the program itself with what standard output holds.
void watch(int seconds) {
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  int before = 0;
  tmophase.compare_exchange_strong(before, 1);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // An end under way gets a little longer to close its units.
  if (tmophase.load() == 2) std::this_thread::sleep_for(std::chrono::seconds(2));
  tmosay();
  conrestore();
  // Standard output is written unless the program's thread holds it.
  if (ftrylockfile(stdout) == 0) std::fflush(stdout);
  if (tmoclose) tmoclose();
  tmpdrop();  // the temporary files of writes under way
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
  std::thread(watch, timeout_s).detach();
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

bool tmoarmed() { return timeout_s > 0; }

// The closing work of tmoend may poll itself: the mark is then 2, which
// polls no longer take for the time-out.
bool tmodue() { return tmophase.load(std::memory_order_relaxed) == 1; }

void tmoend() {
  tmophase.store(2);
  // As after a Ctrl-C: changed buffers of file-backed variables are not
  // written, and the closing work below is not interrupted by it.
  state |= ST_INTR;
  for (int u = 0; u < NUNITS; u++)
    for (int k = 0; k < 1000 && filtab[u].Nlinks > 0; k++) closef(u, 0);
  for (int u = 0; u < 5; u++) closef(u, 0);  // preset units are flushed
  // Writes under way end as a Ctrl-C ends them: their temporary files go.
  tmpdrop();
  if (tmoclose) tmoclose();
  // A row printed without its end is written too; the prompt of a line
  // being waited for is not.
  if (!inprompt) rowend();
  conrestore();
  std::fflush(nullptr);
  tmosay();
  _exit(124);
}

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
