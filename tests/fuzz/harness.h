// The harness of the interpreter's fuzz targets: a freshly started
// interpreter per input in an empty working folder, with a copy of the
// project's system folder, its keyboard text through the headless console.
// A run ends at the end of the keys, at quit, or after a budget of turns and
// input polls that bounds long loops.
//
// Runs are many and short, so what every run pays is kept small while each
// run still starts as from nothing (tests/fuzz/fresh.sh checks it): the
// folders live on a memory file system where there is one; the system
// folder is copied again only when a run changed it; high memory is small
// (a large block costs the address sanitizer's bookkeeping on every run);
// the command and text windows paint into 1 x 1 surfaces; the state of the
// subsystems goes back to its start-up values after each run.
//
// Include it in one source of a target only. The target is linked with
// -Wl,--wrap=exit: finish() ends a run by unwinding back here instead of
// ending the process; and with -Wl,--wrap=posix_spawn: no run starts a
// process (the system command fails with #0 = -1).
#pragma once
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/dirutil.h"
#include "graphics/drawstate.h"
#include "graphics/movie/movie.h"
#include "graphics/plots.h"
#include "graphics/redraw.h"
#include "lang/alarm.h"
#include "lang/cstart.h"
#include "lang/help.h"
#include "lang/maccomp.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/rdline.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/hwvars.h"
#include "realtime/rtio.h"
#include "ui/cursor.h"
#include "ui/events.h"
#include "ui/menu.h"
#include "ui/palette.h"
#include "ui/platform/audio.h"
#include "ui/platform/clock.h"
#include "ui/platform/console.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/script.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/texted.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <utility>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Stop {};  // unwinds a run back to the harness

bool running = false;  // a run is in progress: exit() ends only the run
constexpr int MAXTURNS = 1000;
// Input polls of a run: one a key read, besides those of long loops and
// waits, which may take this many more.
constexpr long MAXPOLLS = 5000;
// The input polls a run may take besides its keys (a target may allow more).
long pollbudget = MAXPOLLS;

// An input backend with a budget of input requests: the headless console,
// or an input script (PELIX_INPUT's steps) over it.
template <class Base>
class Budgeted : public Base {
 public:
  template <class... Args>
  explicit Budgeted(long budget, Args&&... args) : Base(std::forward<Args>(args)...), budget_(budget) {}
  long polls = 0;
  int pump(int how) override {
    if (++polls > budget_) throw Stop{};
    return Base::pump(how);
  }

 private:
  long budget_;
};
using FuzzCon = Budgeted<Console>;
using FuzzScript = Budgeted<ScriptInput>;

std::string topdir, workdir, sysdir;

// The system folder as the last copy left it: each file's name, inode, size
// and change time.
struct SysFile {
  std::string name;
  uintmax_t ino, size;
  int64_t mtime;
  bool operator==(const SysFile&) const = default;
};
std::vector<SysFile> sysfiles;

std::vector<SysFile> listsys() {
  std::vector<SysFile> v;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(sysdir, ec)) {
    struct stat st {};
    if (lstat(e.path().c_str(), &st) != 0) continue;
    v.push_back({e.path().string(), static_cast<uintmax_t>(st.st_ino), static_cast<uintmax_t>(st.st_size),
                 static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
  }
  std::sort(v.begin(), v.end(), [](const SysFile& a, const SysFile& b) { return a.name < b.name; });
  return v;
}

// Makes the system folder a fresh copy of the project's (a run may write
// there: the default macro library lives in it), unless it still is one.
void syscopy() {
  if (!sysfiles.empty() && listsys() == sysfiles) return;
  std::error_code ec;
  std::filesystem::remove_all(sysdir, ec);
  std::filesystem::copy(PELIX_SOURCE_DIR "/system", sysdir, std::filesystem::copy_options::recursive, ec);
  // High memory stays small, so that no run spends its time making,
  // filling or freeing it.
  std::ofstream(sysdir + "/sysstart.imp") << "himemsize = 2048\n";
  sysfiles = listsys();
}

// Signals as the fuzzing runtime set them: the program's own fatal-signal
// trap would hide a crash from it.
struct sigaction saved[32];
const int TRAPPED[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGINT};

void keepsignals() {
  for (int s : TRAPPED) sigaction(s, nullptr, &saved[s]);
}
void backsignals() {
  for (int s : TRAPPED) sigaction(s, &saved[s], nullptr);
}

// Removes the folders of fuzzing processes that ended without cleaning up
// (killed, or stopped by the fuzzer's own exit): pelix-fuzz-PID-*.
void stale(const std::string& base) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(base, ec)) {
    const std::string n = e.path().filename().string();
    if (n.compare(0, 11, "pelix-fuzz-") != 0) continue;
    const long pid = std::strtol(n.c_str() + 11, nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) std::filesystem::remove_all(e.path(), ec);
  }
}

bool setup() {
  // A memory file system where there is one: a run creates and removes files.
  const std::string base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
  stale(base);
  std::string tmpl = base + "/pelix-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) return false;
  topdir = tmpl;
  workdir = topdir + "/work";
  sysdir = topdir + "/system";
  std::error_code ec;
  std::filesystem::create_directory(workdir, ec);
  if (ec || chdir(workdir.c_str()) != 0) return false;
  std::atexit([] {
    std::error_code e;
    std::filesystem::remove_all(topdir, e);
  });
  setenv("PELIX", sysdir.c_str(), 1);
  setenv("PELIX_BACKEND", "headless", 1);
  setenv("PELIX_CLOCK", "virtual", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);  // sound never reaches a real device
  setenv("PELIX_AUDIO_IN", "/dev/null", 1);  // nor waits for one: no input
  // No input reaches a real serial port or port library.
  for (int n = 1; n <= 10; n++) setenv(("PELIX_COM" + std::to_string(n)).c_str(), "/nonexistent/tty", 1);
  setenv("PELIX_LIB_PPORT", "/nonexistent/libpport.so", 1);
  setenv("TEMP", workdir.c_str(), 1);
  keepsignals();
  return true;
}

// Empties the working folder, goes back into it (a run may have changed
// folder) and makes the system folder a fresh copy of the project's.
void fresh() {
  std::error_code ec;
  if (chdir(workdir.c_str()) != 0) return;
  for (const auto& e : std::filesystem::directory_iterator(workdir, ec))
    std::filesystem::remove_all(e.path(), ec);
  syscopy();
}

// A file of the working folder.
void putfile(const std::string& name, const std::string& bytes) {
  std::ofstream f(workdir + "/" + name, std::ios::binary);
  f << bytes;
}

// Everything a run may have left: its windows, open units, menus, dialogs, the editor,
// movies and sound, devices, drawing and screen state, the file box's
// folder, high memory, the library, the help file chosen (its text stays
// in memory while the file is unchanged).
void cleanup() {
  hlpcls();
  // The windows a run made: a start makes only windows 0 to 2 (the vector
  // list's window, made on first use, stays for the program's life).
  for (int w = nwins - 1; w > 2; w--) {
    if (Wport* p = wport(w)) p->flags &= ~0x10;
    deletewin(w);
  }
  mnureset();
  dlgreset();
  edreset();
  avireset();
  audreset();
  rtioini();
  devrst();
  hwini();
  ipcini();
  dirreset();
  for (int u = 5; u < NUNITS; u++) closef(u, 0);
  if (libunit > 0) closef(libunit, 0);
  libunit = 0;
  libfls();
  drwini();
  rdrini();
  pltini();
  scrini();
  palini();
  curini();
  highmem(-1);
  himemflag = 0;
}

// The grid size of the command and text windows as the first start made
// them.
int gridsz[2][2] = {};

// The interpreter as the program starts it, over a zeroed low stack.
void start() {
  // The command and text windows' grids blank, of their first size, the
  // cursor at the top left: a run that ended in the middle of a row (output
  // without its newline) left its text and cursor there.
  for (int n : {0, 1})
    if (Wport* w = gridsz[n][0] ? wport(n) : nullptr) gridsize(w, gridsz[n][0], gridsz[n][1]);
  MakStk();
  const int32_t words = lstk.end;
  std::memset(lowstk, 0, static_cast<size_t>(words) * 4);
  lstk = {words, 0, words, words};
  rststk();
  almhead = 0;  // the alarm list lived on the old stack
  state = 0;
  pflags = 0;
  trcmsk = 0;
  aflags = 0;
  qflag = 0;
  dfltq = typq = PendQ{0, 0, 0};
  nturns = nerrtn = 0;
  stktrap = 0;
  lstlun = savlst = errlun = dbglun = 1;
  jrnlun = -1;
  loglun = -1;
  nameini();
  macini();
  hstclr();
  clrmsgs();
  clrpeek();
  inreset();
  clock_set_virtual(true);  // the virtual clock starts again, at its first date
  cmdlin("pelix");
  backsignals();
  // The command and text windows paint their grids into 1 x 1 surfaces: no
  // fuzz run looks at their pixels, and painting the whole grid after every
  // key took a third of a run. Their grids, rows and cursors are as ever.
  for (int n : {0, 1})
    if (const PwRec* p = wpwrec(wport(n)))
      if (Surface* s = wm_surface(p->window)) s->resize(1, 1);
  for (int n : {0, 1})
    if (const TxtGrid* g = wgrid(wport(n)); g && !gridsz[n][0]) gridsz[n][0] = g->cols, gridsz[n][1] = g->rows;
}

// Where a run's transcript goes when set (a target that compares runs);
// else nowhere.
FILE* runout = nullptr;

// Runs a freshly started interpreter on the keys (the files are in place);
// with a script, its steps come first (clicks and keys the console has no
// bytes for), then the keys.
void runkeys(const std::string& keys, const std::string& script = std::string()) {
  int fd[2];
  if (pipe(fd) != 0) return;
  if (!keys.empty() && write(fd[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
    close(fd[0]);
    close(fd[1]);
    return;
  }
  close(fd[1]);
  // PELIX_FUZZ_SHOW=1 shows the transcript on standard error (replays).
  static const bool show = std::getenv("PELIX_FUZZ_SHOW") != nullptr;
  FILE* out = runout ? runout : show ? stderr : std::fopen("/dev/null", "w");
  {
    FuzzCon con(static_cast<long>(keys.size()) + pollbudget, fd[0], out);
    std::unique_ptr<FuzzScript> steps;
    if (!script.empty()) {
      const std::string file = topdir + "/input.script";
      std::ofstream(file, std::ios::binary) << script;
      steps = std::make_unique<FuzzScript>(static_cast<long>(script.size()) + pollbudget, file, &con);
    }
    Backend* old = setbackend(steps ? static_cast<Backend*>(steps.get()) : &con);
    running = true;
    try {
      start();
      for (int turn = 0; turn < MAXTURNS; turn++) mainturn();
    } catch (const Stop&) {
    }
    running = false;
    if (show) std::fprintf(stderr, "[run: %zu keys, %ld input polls]\n", keys.size(), con.polls);
    cleanup();
    setbackend(old);
  }
  if (out && out != stderr && out != runout) std::fclose(out);
  close(fd[0]);
}

// The run of a target whose input is a file's bytes: a fresh working
// folder with the input under each of the names, then the keys.
[[maybe_unused]] void runfile(const uint8_t* data, size_t size, std::initializer_list<const char*> names,
                              const char* keys) {
  fresh();
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* n : names) putfile(n, bytes);
  runkeys(keys);
}

}  // namespace

// A run starts no process: the system command's shell would run whatever
// the fuzzer makes of the seeds' command lines ("kill -TERM $$" is two bytes
// from "kill -TERM -1"). The command fails as a shell that cannot be
// started does. The target is linked with -Wl,--wrap=posix_spawn.
extern "C" int __wrap_posix_spawn(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                                  char* const[], char* const[]) {
  return EPERM;
}

extern "C" [[noreturn]] void __real_exit(int status);
// exit() inside a run (quit, end of input) ends the run, not the process.
extern "C" [[noreturn]] void __wrap_exit(int status) {
  if (running) throw Stop{};
  __real_exit(status);
}
