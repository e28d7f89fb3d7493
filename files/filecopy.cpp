// delete, copy, preproc, system and the file-stream commands.
#include "files/filecopy.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "files/fileutil.h"
#include "files/safewrite.h"
#include "lang/cmdcodes.h"
#include "lang/maclib.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/platform/entry.h"
#include "ui/platform/procs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <strings.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int E_NOFILE = 46;   // no file name (or the source is missing)
constexpr int E_OPEN = 66;     // the source cannot be opened
constexpr int E_DELETE = 67;   // a file cannot be deleted
constexpr int E_IO = 93;       // a copy's read or write failed
constexpr int E_MENU = 96;     // a menu cannot be deleted
constexpr int E_NAME = 99;     // no such macro in the library
constexpr int E_CREATE = 180;  // the destination cannot be made (or is refused)
constexpr int E_LONG = 186;    // a line too long for the preprocessor
constexpr int E_SHORT = 200;   // a short write
constexpr int E_INCLUDE = 212; // an include file cannot be read
constexpr int MAXINC = 4;      // include files nested at most this deep
constexpr int SYSMAX = 240;    // longest command of system

// The answer to a question of delete or copy: 1 yes, 0 no, -1 cancel. A
// "no" is no error: the error bit yesno sets for it is taken back.
int answer() {
  const int err = state & ST_ERROR;
  const int a = yesno(-1);
  jprintf(1, "\n");
  if (a == 0 && !err) state &= ~ST_ERROR;
  return a > 0 ? 1 : a;
}

// A file name argument; the file box (mode) when it is missing. Its length,
// 0 when there is none.
int namearg(int n, char* name, int size, int boxmode) {
  int l = argtext(n, name, size);
  if (l > 0) return l;
  if (nargs() >= n) return 0;  // given, but no text
  return browse(name, boxmode, nullptr);
}

// The source (argument 2) and destination (argument 3) of copy and
// preproc, the file box asking for a missing one; false (error 46) when one
// is not there.
bool namepair(char* src, char* dst) {
  if (namearg(2, src, UNIT_NAMELEN, 0) < 1) {
    error(2, E_NOFILE);
    return false;
  }
  if (namearg(3, dst, UNIT_NAMELEN, 1) < 1) {
    error(3, E_NOFILE);
    return false;
  }
  return true;
}

// One line of a text stream (LF, CRLF or CR ended); false at the end.
bool getln(FILE* f, std::string* s) {
  s->clear();
  int c;
  while ((c = std::getc(f)) != EOF) {
    if (c == '\n') return true;
    if (c == '\r') {
      c = std::getc(f);
      if (c != '\n' && c != EOF) std::ungetc(c, f);
      return true;
    }
    *s += static_cast<char>(c);
  }
  return !s->empty();
}

// A destination written through a temporary file in its folder and renamed
// over it when complete (a device or other special file is written
// straight).
struct TmpOut {
  SafeOut sw;
  FILE* f = nullptr;
};

// Opens the destination: 0, or the system's cause of the failure.
int tmpopen(const char* name, TmpOut* t) {
  std::string open;
  const int e = swtemp(name, &t->sw, &open, false);
  if (e != 0) return e > 0 ? e : EACCES;
  const int fd = tmpfd(t->sw);
  t->f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (t->f) return 0;
  const int err = errno ? errno : EIO;
  if (fd >= 0) close(fd);
  swdone(&t->sw, false);
  return err;
}

// Ends the write: with ok the file replaces the destination. 0, -1 when ok
// was false (the temporary file is removed), else the system's cause of
// the failure.
int tmpdone(TmpOut* t, bool ok) {
  int err = 0;
  if (t->f && std::fclose(t->f) != 0 && ok) {
    err = errno ? errno : EIO;
    ok = false;
  }
  t->f = nullptr;
  const int r = swdone(&t->sw, ok);
  return err ? err : r;
}

// Starts the destination of a copy from the open source; false (the
// source closed, error 180 with its cause) when it cannot be made.
bool begincopy(FILE* in, const char* dst, TmpOut* out) {
  const int e = tmpopen(dst, out);
  if (e == 0) return true;
  std::fclose(in);
  fileerr(dst, 3, E_CREATE, e);
  return false;
}

// Ends a copy: a read error of the source is error rdcode (argument 2), the
// source is closed and the destination put in place (a failure there is
// error wrcode, argument 3), each with its cause. Whether everything went
// well.
bool endcopy(FILE* in, const char* src, TmpOut* out, const char* dst, bool ok, int rdcode, int wrcode) {
  if (ok && std::ferror(in)) {
    fileerr(src, 2, rdcode, errno);
    ok = false;
  }
  std::fclose(in);
  const int r = tmpdone(out, ok);
  if (r > 0 && ok) fileerr(dst, 3, wrcode, r);
  return ok && r == 0;
}

bool putln(FILE* f, const std::string& s) {
  return std::fwrite(s.data(), 1, s.size(), f) == s.size() && std::fputc('\n', f) != EOF;
}

// The file named on an include line ("include name" or include "name"),
// empty when the line is none.
std::string incname(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line.size() - i < 8 || strncasecmp(line.c_str() + i, "include", 7) != 0)
    return "";
  i += 7;
  if (line[i] != ' ' && line[i] != '\t' && line[i] != '"') return "";
  i = line.find_first_not_of(" \t", i);
  if (i == std::string::npos) return "";
  size_t e = line.find_last_not_of(" \t");
  if (line[i] == '"') {
    const size_t q = line.find('"', i + 1);
    return q == std::string::npos ? "" : line.substr(i + 1, q - i - 1);
  }
  return line.substr(i, e - i + 1);
}

// Text copy state.
struct TextCopy {
  int flags = 0;
  int lines = 0;  // lines written
  FILE* out = nullptr;
  const char* dst = "";  // the destination's name
  int64_t block = 1024;  // bytes between two polls for a Ctrl-C
  int64_t since = 0;     // bytes copied since the last poll
};

// The interrupt poll of a copy, after each block: true when it must stop
// (Ctrl-C, or an error reported meanwhile).
bool copystop() {
  chkio(0);
  return stopped();
}

// Copies a text stream line by line; false when the copy failed (reported).
bool textcopy(FILE* in, const char* inname, TextCopy* c, int depth) {
  std::string line;
  const int mode = ((c->flags & 4) ? 1 : 0) | ((c->flags & 1) ? 5 : 0);
  while (getln(in, &line)) {
    c->since += static_cast<int64_t>(line.size()) + 1;
    if (c->since >= c->block) {
      c->since = 0;
      if (copystop()) return false;
    }
    if (state & 0x8180) return false;
    if (c->flags & 2) {
      const std::string inc = incname(line);
      if (!inc.empty() && depth < MAXINC) {
        FILE* f = std::fopen(hostpath(inc).c_str(), "rb");
        if (!f) {
          jprintf(errlun, "error reading include file: %s\n", inc.c_str());
          error(2, E_INCLUDE);
          return false;
        }
        const bool ok = textcopy(f, inc.c_str(), c, depth + 1);
        std::fclose(f);
        if (!ok) return false;
        continue;
      }
    }
    if (mode) {
      if (line.size() > LINBUF - 1) {
        error(2, E_LONG);
        return false;
      }
      char buf[LINBUF];
      std::memcpy(buf, line.c_str(), line.size() + 1);
      const int err = state & ST_ERROR;
      const int n = prepro(buf, static_cast<int>(line.size()), LINBUF, mode);
      if (!err && (state & ST_ERROR)) return false;
      line.assign(buf, static_cast<size_t>(std::max(n, 0)));
    }
    if (!putln(c->out, line)) {
      fileerr(c->dst, 3, E_IO, errno);
      return false;
    }
    c->lines++;
  }
  if (std::ferror(in)) {
    fileerr(inname, 2, E_IO, errno);
    return false;
  }
  return true;
}

// The module line's expansion: the lines written, -1 on a short write, -2
// when the line is no module line or its file cannot be opened.
int expand(const char* line, FILE* out) {
  char buf[LINBUF + 16];
  std::snprintf(buf, sizeof buf, "%s", line ? line : "");
  std::vector<std::string> f;
  for (char* p = std::strtok(buf, " \t,\n\r"); p && f.size() < 20; p = std::strtok(nullptr, " \t,\n\r"))
    f.emplace_back(p);
  if (f.size() < 2 || strcasecmp(f[0].c_str(), "module") != 0) return -2;
  FILE* m = std::fopen(hostpath(f[1]).c_str(), "rb");
  if (!m) return -2;
  const size_t np = f.size() - 2;
  std::string s, o;
  int n = 0;
  while (getln(m, &s)) {
    o.clear();
    for (size_t i = 0; i < s.size(); i++) {
      if (s[i] == '$') {
        const bool brace = i + 1 < s.size() && s[i + 1] == '{';
        size_t j = i + 1 + (brace ? 1 : 0);
        size_t k = j;
        uint64_t v = 0;
        while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])) && v < 1000) v = v * 10 + static_cast<uint64_t>(s[k++] - '0');
        const bool closed = !brace || (k < s.size() && s[k] == '}');
        if (k > j && closed && v >= 1 && v <= np) {
          o += f[1 + v];
          i = brace ? k : k - 1;
          continue;
        }
      }
      o += s[i];
    }
    if (!putln(out, o)) {
      std::fclose(m);
      return -1;
    }
    n++;
  }
  std::fclose(m);
  return n;
}

// The drive number of a path's drive letter (A = 1), 0 when it has none.
int drvnum(const char* name) {
  const int c = std::toupper(static_cast<unsigned char>(name[0]));
  return c >= 'A' && c <= 'Z' && name[1] == ':' ? c - 'A' + 1 : 0;
}

// A numbered file missing on its own drive is looked for on the others of
// disklo..diskhi, each once; true when found (name then names it).
bool otherdrive(char* name) {
  const int start = drvnum(name);
  if (!start || disklo < 1 || diskhi < disklo) return false;
  int d = start;
  for (int k = 0; k <= diskhi - disklo; k++) {
    d = d + 1 > diskhi || d + 1 < disklo ? disklo : d + 1;
    if (d == start) break;
    name[0] = static_cast<char>('A' + d - 1);
    if (Exists(name) == 1) return true;
  }
  name[0] = static_cast<char>('A' + start - 1);
  return false;
}

// Argument classes of delete.
enum { A_NONE, A_NUM, A_NAME, A_WORD, A_CMD };
int argclass(int n, int* code) {
  int32_t h = 0;
  int w = -1;
  const int t = fndarg(n, &h, &w);
  *code = 0;
  if (t == 0) return A_NONE;
  if (h == 0 && w >= 0 && w < NWORDS) {
    const int wt = wrdtab[w].type;
    if (wt == WT_TEXT) return A_WORD;
    if (wt == WT_QUOTED) return A_NAME;
    if (wt == WT_CMD || wt == WT_CMDLIST) {
      *code = argnum(n);
      return A_CMD;
    }
  }
  float v = 0;
  const int k = getarg(n, &v, nullptr, 0, nullptr);
  if (k & K_STRING) return A_NAME;
  return (k & 0x7D0) ? A_NUM : A_NONE;
}

// One file, menu or macro of delete: 1 deleted, 0 skipped, -1 the command
// stops.
int delone(const char* name, int kind, int flags, int arg) {
  if (flags & 4) jprintf(1, "Delete: %s", name);
  if (flags & 1) {
    jprintf(1, " ? [y] ");
    const int a = answer();
    if (a < 0) return -1;
    if (a == 0) return 0;
  } else if (flags & 4) {
    jprintf(1, "\n");
  }
  if (trcmsk >= 2) {
    jprintf(dbglun, "Delete: %s\n", name);
    return 1;
  }
  if (kind == CM_MENU) {
    if (delmnu(name) != 0) {
      error(arg, E_MENU);
      return -1;
    }
  } else if (kind == CM_MACRO) {
    if (libdel(name) <= 0) {
      if (!(state & ST_ERROR)) error(arg, E_NAME);
      return -1;
    }
  } else if (delfil(name) != 0) {
    error(arg, E_DELETE);
    return -1;
  }
  return 1;
}

}  // namespace

int delcmd() {
  int n = 2, code = 0;
  int flags = 3;
  if (argclass(2, &code) == A_NUM) {
    flags = intarg(2, 0);
    n = 3;
  }
  if (flags & 1) flags |= 4;
  // The kind word.
  int kind = 0, dflag = 0;
  if (argclass(n, &code) == A_CMD &&
      ((code >= CM_NUMBER && code <= CM_LONG) || code == FN_VECTOR || code == CM_MENU || code == CM_MACRO)) {
    kind = code;
    dflag = code == CM_IMAGE ? 0x200 : code == FN_VECTOR ? 0x100 : 0;
    n++;
  }
  const bool files = kind != CM_MENU && kind != CM_MACRO;
  const int err = state & ST_ERROR;
  int deleted = 0;
  const int last = nargs();
  for (int i = n; i <= last && !(state & 0x8180); i++) {
    const int c = argclass(i, &code);
    if (c == A_NUM && files) {
      const int32_t lo = lngarg(i, 0);
      int32_t hi = lo;
      int tmp = 0;
      // "a word b": a range of numbers.
      if (i + 2 <= last && argclass(i + 1, &tmp) != A_NUM && argclass(i + 1, &tmp) != A_NAME &&
          argclass(i + 2, &tmp) == A_NUM) {
        hi = lngarg(i + 2, lo);
        i += 2;
      }
      for (int64_t k = lo; k <= hi && !(state & 0x8180); k++) {
        char name[DFNMAX];
        if (dfname(static_cast<int>(k), name, dflag) == 0) break;
        if (Exists(name) != 1 && !(((dflags & 0x800) || (flags & 8)) && otherdrive(name))) {
          if (flags & 2) {
            i = last;
            break;
          }
          continue;
        }
        const int r = delone(name, 0, flags, i);
        if (r < 0) {
          i = last;
          break;
        }
        deleted += r;
      }
      continue;
    }
    if (c != A_NAME && c != A_WORD) continue;
    char given[UNIT_NAMELEN];
    if (argtext(i, given, sizeof given) < 1) continue;
    std::string name = given;
    if (files && kind) name = std::string(strvar("datadir")) + name;
    if (files && Exists(name.c_str()) != 1) break;  // a named file missing ends the command
    const int r = delone(name.c_str(), kind, flags, i);
    if (r < 0) break;
    deleted += r;
  }
  // After an error #0 keeps its code.
  if (err || !(state & ST_ERROR)) setres(deleted, 0);
  return 0;
}

int copyfl() {
  char src[UNIT_NAMELEN], dst[UNIT_NAMELEN];
  if (!namepair(src, dst)) return 0;
  const int flags = intarg(4, 0);
  const int32_t bufsize = std::clamp<int32_t>(lngarg(5, 1024), 1, 1 << 24);
  const bool text = flags & 7;
  if (trcmsk > 1) jprintf(dbglun, "Copy <%s> to <%s> %d\n", src, dst, flags);
  FILE* in = std::fopen(hostpath(src).c_str(), "rb");
  if (!in || Exists(src) != 1) {
    if (in) std::fclose(in);
    error(2, E_NOFILE);
    return 0;
  }
  // An existing destination: refused, or with flag 4 asked about.
  if ((flags & 24) && Exists(dst) == 1) {
    if (!(flags & 4)) {
      std::fclose(in);
      fileerr(dst, 3, E_CREATE, EEXIST);
      return 0;
    }
    jprintf(1, "Overwrite: %s ? [y] ", dst);
    if (answer() < 1) {
      std::fclose(in);
      setres(0, 0);
      return 0;
    }
  }
  TmpOut out;
  if (!begincopy(in, dst, &out)) return 0;
  bool ok = true;
  int64_t nin = 0, nout = 0;
  if (text) {
    TextCopy c;
    c.flags = flags;
    c.out = out.f;
    c.dst = dst;
    c.block = bufsize;
    ok = textcopy(in, src, &c, 0);
    nin = nout = c.lines;
  } else {
    std::vector<char> buf(static_cast<size_t>(bufsize));
    size_t k;
    while (ok && (k = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
      nin += static_cast<int64_t>(k);
      errno = 0;
      if (std::fwrite(buf.data(), 1, k, out.f) != k) {
        fileerr(dst, 3, E_IO, errno);
        ok = false;
      }
      nout += static_cast<int64_t>(k);
      // A Ctrl-C stops the copy after the block.
      if (ok && copystop()) ok = false;
    }
  }
  const bool intr = !ok && stopped() && !(state & ST_ERROR);
  ok = endcopy(in, src, &out, dst, ok, E_IO, E_IO);
  if (trcmsk > 1) jprintf(dbglun, "Copy: %d %d\n", static_cast<int>(nin), static_cast<int>(nout));
  // A stopped copy leaves the destination as it was: #0 = 0.
  if (ok || intr) setres(ok ? static_cast<int32_t>(std::min<int64_t>(nout, INT32_MAX)) : 0, 0);
  return 0;
}

int modexp(const char* line, FILE* out) {
  const int n = expand(line, out);
  return n == -2 ? 0 : n;
}

int filcpy() {
  char src[UNIT_NAMELEN], dst[UNIT_NAMELEN];
  if (!namepair(src, dst)) return 0;
  const int mode = intarg(4, 7);
  FILE* in = Exists(src) == 1 ? std::fopen(hostpath(src).c_str(), "rb") : nullptr;
  if (!in) {
    error(2, E_OPEN);
    return 0;
  }
  TmpOut out;
  if (!begincopy(in, dst, &out)) return 0;
  std::string line;
  int written = 0;
  bool ok = true;
  while (ok && getln(in, &line)) {
    if (state & 0x8180) {
      ok = false;
      break;
    }
    if (line.size() > LINBUF - 1) {
      error(2, E_LONG);
      ok = false;
      break;
    }
    if (line.size() > 1) {
      char buf[LINBUF];
      std::memcpy(buf, line.c_str(), line.size() + 1);
      const int err = state & ST_ERROR;
      const int n = prepro(buf, static_cast<int>(line.size()), LINBUF, mode & 7);
      if (!err && (state & ST_ERROR)) {
        ok = false;
        break;
      }
      line.assign(buf, static_cast<size_t>(std::max(n, 0)));
    }
    if (mode & 8) {
      const int k = expand(line.c_str(), out.f);
      if (k == -1) {
        error(3, E_SHORT);
        ok = false;
        break;
      }
      if (k >= 0) {
        written += k;
        continue;
      }
    }
    if (!putln(out.f, line)) {
      error(3, E_SHORT);
      ok = false;
      break;
    }
    written++;
  }
  if (endcopy(in, src, &out, dst, ok, E_OPEN, E_SHORT)) setres(written, 0);
  return 0;
}

namespace {
// Whether the program is the foreground of a controlling terminal: a shell
// command then stays in the program's process group, so that the
// terminal's Ctrl-C and the terminal itself reach it. Elsewhere it gets a
// group of its own, which the end of the program ends whole.
bool ttyfront() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool fg = tcgetpgrp(fd) == getpgrp();
  close(fd);
  return fg;
}

// Waits for the shell command to end: its status. The end of the program
// (its time-out, a terminating signal) comes during the wait too: the
// command's processes are ended, then the program in order.
int waitcmd(pid_t pid) {
  const int pfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  int st = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      st = -1;
      break;
    }
    if (tmodue()) {
      if (pfd >= 0) close(pfd);
      endgroup(pid);
      tmoend();
    }
    pollfd p[2] = {{pfd, POLLIN, 0}, {stopfd(), POLLIN, 0}};
    poll(p, 2, pfd >= 0 ? -1 : 20);
  }
  if (pfd >= 0) close(pfd);
  return st;
}
}  // namespace

int syscmd() {
  char cmd[SYSMAX + 2];
  float v = 0;
  int len = 0;
  const int k = getarg(2, &v, cmd, sizeof cmd, &len);
  if (!(k & K_STRING) || (k & K_LIST) || len > SYSMAX) {
    setres(-1, 0);
    return 0;
  }
  // What the program wrote so far comes before the command's output.
  std::fflush(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  // Where standard input is the keyboard, the command does not read it.
  if (backend()->keysfd() == 0) posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  // The command runs in the language's current folder.
  const std::string dir = hostpath(".");
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char* argv[] = {sh, dash_c, cmd, nullptr};
  posix_spawnattr_t at;
  posix_spawnattr_init(&at);
  if (!ttyfront()) {
    posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&at, 0);
  }
  pid_t pid = 0;
  const int r = posix_spawn(&pid, "/bin/sh", &fa, &at, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&at);
  if (r != 0) {
    setres(-1, 0);
    return 0;
  }
  const int st = waitcmd(pid);
  const int rc = st == -1 ? -1 : WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
  setres(rc, 0);
  return 0;
}

int fiocmd(int) {
  setres(0, 0);
  return 0;
}

int namsrt(const char* a, const char* b) {
  size_t i = 0, j = 0;
  for (int pos = 0; pos < 8; pos++) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
    if (std::isdigit(x) && std::isdigit(y)) {
      uint64_t u = 0, w = 0;
      while (std::isdigit(static_cast<unsigned char>(a[i])) && u < (uint64_t{1} << 60)) u = u * 10 + static_cast<uint64_t>(a[i++] - '0');
      while (std::isdigit(static_cast<unsigned char>(b[j])) && w < (uint64_t{1} << 60)) w = w * 10 + static_cast<uint64_t>(b[j++] - '0');
      if (u != w) return u < w ? -1 : 1;
      continue;
    }
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
    i++;
    j++;
  }
  return 0;
}
