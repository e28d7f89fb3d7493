#include "ui/platform/entry.h"

#include "core/output.h"
#include "core/state.h"
#include "core/tmpfile.h"
#include "lang/cstart.h"
#include "core/units.h"
#include "realtime/devices/devsetup.h"
#include "ui/events.h"
#include "ui/platform/console.h"
#include "ui/platform/sighold.h"
#include "ui/window.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/utsname.h>

int rdonly = 0;
float sysversion = 0;
char logname[260];
void (*tmofinish)() = nullptr;

namespace {
// The closers of the time-out exit (constant-initialised: layers add theirs
// during static initialisation).
void (*closers[4])() = {};
std::atomic<int> ncloser{0};

void runclosers() {
  const int n = ncloser.load();
  for (int i = 0; i < n && i < 4; i++)
    if (closers[i]) closers[i]();
}
}  // namespace

void tmoclose(void (*closer)()) {
  const int i = ncloser.load();
  if (!closer || i >= 4) return;
  closers[i] = closer;
  ncloser.store(i + 1);
}

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
// 0 before the end is due, 1 when it is due, 2 while the program ends, 3
// while a signal handler claims the end.
std::atomic<int> tmophase{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler sets it");
// The terminating signal that asked for the end; 0: the time-out.
volatile std::sig_atomic_t stopsig = 0;
// A pipe that becomes readable when the end is due (and stays so), so that
// a wait for input or for the end wakes at once.
int stoppipe[2] = {-1, -1};

void wake() {
  if (stoppipe[1] >= 0) (void)!write(stoppipe[1], "", 1);
}

// The exit status of the end: 124 for the time-out, 128 + the signal.
int stopstatus() { return stopsig ? 128 + stopsig : 124; }

// The diagnostic of the end, on standard error (async-signal-safe).
void tmosay() {
  char msg[96];
  const char* text = msg;
  if (const int sig = stopsig) {
    text = sig == SIGTERM ? "pelix: SIGTERM; stopped\n" : sig == SIGHUP ? "pelix: SIGHUP; stopped\n" : "pelix: SIGQUIT; stopped\n";
  } else {
    // "pelix: no end after PELIX_TIMEOUT=%d s; stopped\n", by hand.
    char num[12];
    int n = 0;
    for (unsigned v = static_cast<unsigned>(timeout_s); n == 0 || v > 0; v /= 10) num[n++] = static_cast<char>('0' + v % 10);
    char* p = msg;
    for (const char* t = "pelix: no end after PELIX_TIMEOUT="; *t;) *p++ = *t++;
    while (n > 0) *p++ = num[--n];
    for (const char* t = " s; stopped\n"; *t;) *p++ = *t++;
    *p = 0;
  }
  (void)!write(2, text, std::strlen(text));
}

// The end when no poll came in time: standard output keeps what it holds
// (written by a thread that can lock it, else taken raw from its buffer),
// the serial peers are ended.
[[noreturn]] void forcend(bool locked) {
  tmosay();
  conrestore();
  if (!locked)
    outsave();
  else if (ftrylockfile(stdout) == 0)
    std::fflush(stdout);
  runclosers();
  tmpdrop();  // the temporary files of writes under way
  _exit(stopstatus());
}

// SIGALRM, 2 s after a terminating signal: no poll has ended the program;
// an end under way gets 2 s more to close its units.
void onalarm(int) {
  static volatile std::sig_atomic_t extra = 0;
  if (tmophase.load() == 2 && !extra) {
    extra = 1;
    alarm(2);
    return;
  }
  forcend(false);
}

// SIGTERM, SIGHUP and SIGQUIT: the end is due, as at the time-out; the next
// poll ends the program in order. When none comes within 2 s, SIGALRM ends
// it.
void onstopsig(int sig) {
  const int keep = errno;
  int before = 0;
  if (tmophase.compare_exchange_strong(before, 3)) {
    stopsig = sig;
    tmophase.store(1);
    wake();
    alarm(2);
  }
  errno = keep;
}

// The time-out's watcher: marks the time-out when it comes; when the
// program has not ended 2 s later (no poll came: a computation that polls
// nothing, a blocked call), it ends the program itself with what standard
// output holds.
void watch(int seconds) {
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  int before = 0;
  if (tmophase.compare_exchange_strong(before, 1)) wake();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // An end under way gets a little longer to close its units.
  if (tmophase.load() == 2) std::this_thread::sleep_for(std::chrono::seconds(2));
  forcend(true);
}

// Makes the stop pipe and installs the handlers of the terminating signals
// (a signal ignored at the start, as under nohup, stays ignored). No thread
// is started for them: stdio locks nothing while the program has one.
void armstop() {
  if (pipe2(stoppipe, O_CLOEXEC | O_NONBLOCK) != 0) stoppipe[0] = stoppipe[1] = -1;
  struct sigaction sa {};
  sa.sa_handler = onstopsig;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &sa, nullptr);
  }
  sa.sa_handler = onalarm;
  sigaction(SIGALRM, &sa, nullptr);
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
  SigHold hold;  // the watcher takes no signals
  std::thread(watch, timeout_s).detach();
}

// Opens the log afresh. The last run's log is removed first rather than
// truncated: a file truncated to nothing and written again is flushed to
// disk when it is closed (ext4's rule for files replaced that way), which
// cost a start-up more than everything else it does. A log that is a link
// or has other names is truncated in place as before. A fifo that nobody
// reads is no log (the opening would wait for a reader for ever).
FILE* openlog(const char* name) {
  struct stat st;
  if (lstat(name, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) unlink(name);
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "w");
  if (!f) close(fd);
  return f;
}
}  // namespace

bool tmoarmed() { return timeout_s > 0; }

// The closing work of tmoend may poll itself: the mark is then 2, which
// polls no longer take for the end.
bool tmodue() { return tmophase.load(std::memory_order_relaxed) == 1; }

int stopfd() { return stoppipe[0]; }

void tmoend() {
  tmophase.store(2);
  // As after a Ctrl-C: changed buffers of file-backed variables are not
  // written, and the closing work below is not interrupted by it.
  state |= ST_INTR;
  if (tmofinish) tmofinish();
  clsall();
  // Writes under way end as a Ctrl-C ends them: their temporary files go.
  tmpdrop();
  runclosers();
  // A row printed without its end is written too; the prompt of a line
  // being waited for is not.
  if (!inprompt) rowend();
  conrestore();
  std::fflush(nullptr);
  tmosay();
  _exit(stopstatus());
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
  // A file-size limit fails the write that meets it (EFBIG, reported as
  // any failed write is), from the log's first line on; the signal would
  // end the program.
  signal(SIGXFSZ, SIG_IGN);
  armtimeout();
  armstop();
  std::string temp = tempdir();

  // The log goes to the working folder, else to the temporary folder.
  std::snprintf(logname, sizeof logname, "pelix.log");
  logfp = openlog(logname);
  if (!logfp) {
    // A name that does not fit the name buffer is not opened: cut, it
    // would name (and remove) another file.
    const int n = std::snprintf(logname, sizeof logname, "%s/pelix.log", temp.c_str());
    if (n > 0 && static_cast<size_t>(n) < sizeof logname) logfp = openlog(logname);
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
