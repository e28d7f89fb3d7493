// The line reader, the preprocessor and the line classifier.
#include "lang/rdline.h"

#include "core/convert.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "lang/keywords.h"
#include "lang/maccomp.h"
#include "lang/mactext.h"
#include "lang/parse.h"
#include "ui/events.h"

#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int LIBREC = 1024;  // record length of the macro library
constexpr int MAXSTEP = 1000; // preprocessor scan steps

// The library record the reader holds.
uint8_t librec[LIBREC];
int32_t librno = -1;
int libru = -1;

inline int uc(char c) { return static_cast<unsigned char>(c); }

}  // namespace

int rdlibl(int unit, uint32_t* pos, char* buf, int max) {
  if (!buf || max < 1) return -1;
  buf[0] = 0;
  if (!pos) {
    MRETRN(0);
    return -2;
  }
  for (;;) {
    uint32_t cur = pos[0];
    if (cur >= pos[2]) break;
    int32_t rec = int32_t(cur / LIBREC);
    int off = int(cur % LIBREC);
    if (rec != librno || unit != libru) {
      librno = -1;
      int n = rdblk(unit, rec, librec, LIBREC, 0);
      if (n <= 0) {
        if (n < 0) error(0, 73);
        break;
      }
      if (n < LIBREC) std::memset(librec + n, 0, size_t(LIBREC - n));
      librno = rec;
      libru = unit;
    }
    int b = librec[off];
    if (b == 255) {
      pos[0] = uint32_t(rec + 1) * LIBREC;  // the record goes on in the next block
      continue;
    }
    if (b == 0) break;
    if (off + b > LIBREC) {
      // A record never crosses a block: the library is damaged.
      error(0, 73);
      break;
    }
    unpkln(librec + off, buf, max);
    pos[0] = cur + uint32_t(b);
    macinc();
    return trimln(buf, max);
  }
  MRETRN(0);
  return -2;
}

namespace {

// Reads one line of a text stream unit.
int rdtext(int unit, char* buf, int max) {
  FILE* f = unitstream(unit);
  bool mac = unit == macunt();
  buf[0] = 0;
  if (!f || (mac ? mtline(f, buf, max - 1) : strmln(f, buf, max - 1)) < 0) {
    if (f && std::ferror(f)) {
      std::clearerr(f);
      error(0, 73);
    }
    closef(unit, 0);
    if (mac) {
      MRETRN(0);
      return -2;
    }
    return -1;
  }
  if (mac) macinc();
  return trimln(buf, max);
}

}  // namespace

int unpkln(const uint8_t* rec, char* buf, int max) {
  const uint8_t* d = rec + 1;
  int dl = rec[0] - 1, n = 0;
  if (dl >= 2 && d[0] == 1) {
    for (int i = 0; i < d[1] && n < max - 1; i++) buf[n++] = ' ';
    d += 2;
    dl -= 2;
  }
  for (int i = 0; i < dl && n < max - 1; i++) buf[n++] = char(d[i]);
  buf[n] = 0;
  return n;
}

namespace {
// Whether a stream's next character may take long to come: a pipe, a
// device or a socket (a regular file's read returns at once).
bool slowsrc(FILE* f) {
  struct stat st {};
  return fstat(fileno(f), &st) == 0 && !S_ISREG(st.st_mode);
}

// Waits until the stream has a character to give (or its end), polling for
// a Ctrl-C meanwhile; false when a Ctrl-C came.
bool rdwait(FILE* f) {
  if (f->_IO_read_ptr < f->_IO_read_end) return true;  // buffered (glibc)
  pollfd p{fileno(f), POLLIN, 0};
  for (;;) {
    chkio(0);
    if (state & ST_INTR) return false;
    const int r = ::poll(&p, 1, 50);
    if (r > 0 || (r < 0 && errno != EINTR)) return true;
  }
}
}  // namespace

int strmln(FILE* f, char* buf, int keep) {
  int n = 0, c;
  bool any = false;
  // A line from a pipe or a device (a fifo, /dev/zero) may never end: its
  // reading polls for a Ctrl-C, as other long work does, and a stopped read
  // gives no line.
  const bool slow = slowsrc(f);
  uint32_t count = 0;
  for (;;) {
    if (slow) {
      if ((++count & 0xFFFF) == 0) chkio(0);
      if ((state & ST_INTR) || !rdwait(f)) {
        if (buf) buf[0] = 0;
        return -1;
      }
    }
    if ((c = std::getc(f)) == EOF) break;
    any = true;
    if (c == '\n') break;
    if (c == '\r') {
      int d = std::getc(f);
      if (d != '\n' && d != EOF) std::ungetc(d, f);
      break;
    }
    if (n < keep) buf[n++] = char(c);
  }
  if (buf) buf[n] = 0;
  return any ? n : -1;
}

void libfls() {
  librno = -1;
  libru = -1;
}

int rdline(int unit, char* buf, int max) {
  if (!buf || max < 1) return -1;
  buf[0] = 0;
  if (unit < 0 || (state & ST_INTR)) return -1;
  if ((state & ST_CMACRO) && ipcunit(unit)) return rdipc(buf, max);
  int lu = libunt();
  if (lu > 0 && unit == lu) return rdlibl(unit, libpos(), buf, max);
  if (unit > 0) return rdtext(unit, buf, max);
  // Unit 0: the command window.
  int n = rdkeys(buf, 0, 0, max);
  if (n < 0) {
    buf[0] = 0;
    return n;
  }
  if (n >= max) return n;  // a key code from the editor mode
  buf[n] = 0;
  char* nl = std::strchr(buf, '\n');
  if (nl) *nl = 0;
  n = trimln(buf, max);
  logprintf("RdKy %s\n", buf);
  if (mnupnd() && nargw == 0) putmnu(0);
  return n;
}

int prepro(char* line, int length, int max, int flags) {
  if (!line || max < 1) return 0;
  if (length < 0) length = 0;
  if (length > max - 1) length = max - 1;
  line[length] = 0;
  // Substitution works in a buffer of the line buffer's size: defined
  // names never write past it, and a line that will not fit is an error.
  char work[LINSIZ];
  char* t = line;
  int32_t n = lenstr(line);
  if (flags & 1) {
    if (n > LINSIZ - 1) {
      error(0, 84);
      line[0] = 0;
      return 0;
    }
    std::memcpy(work, line, size_t(n) + 1);
    t = work;
  }
  const int err0 = state & ST_ERROR;
  int steps = 0;
  int i = 0;
  while (i < n && t[i]) {
    if (++steps > MAXSTEP) {
      error(0, 84);
      line[0] = 0;
      return 0;
    }
    int c = uc(t[i]);
    if (c == '"' || c == '\'') {
      int j = i + 1;
      while (j < n && t[j] && uc(t[j]) != c) j += (t[j] == '\\' && t[j + 1]) ? 2 : 1;
      i = j < n && t[j] ? j + 1 : j;
      continue;
    }
    if ((flags & 2) && c == ';') {
      t[i] = 0;
      n = i;
      break;
    }
    if ((flags & 4) && c >= 'A' && c <= 'Z') t[i] = char(c += 32);
    bool run = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_';
    if ((flags & 1) && run) {
      int j = i + 1;
      for (; j < n; j++) {
        int d = uc(t[j]);
        if ((flags & 4) && d >= 'A' && d <= 'Z') t[j] = char(d += 32);
        if (!((d >= '0' && d <= '9') || (d >= 'a' && d <= 'z') || d == '_')) break;
      }
      int r = chkdef(t, i, j, &n);
      if (!err0 && (state & ST_ERROR)) {
        line[0] = 0;
        return 0;
      }
      // After a replacement its text is scanned again from the run's start;
      // otherwise the scan goes on at the character that ended the run.
      i = r < i ? i : r;
      continue;
    }
    i++;
  }
  while (n > 0 && (t[n - 1] == ' ' || t[n - 1] == '\t')) n--;
  t[n] = 0;
  if (t != line) {
    if (n > max - 1) {
      error(0, 84);
      line[0] = 0;
      return 0;
    }
    std::memcpy(line, t, size_t(n) + 1);
  }
  return n;
}

int readky(int unit, int mode, int* number) {
  int n = -1;
  if (unit == inpunt() && mode == 0 && (state & ST_QUEUED)) n = gtpstr(nullptr, linbuf);
  if (n < 0) n = linlen(rdline(unit, linbuf, LINBUF), LINBUF, linbuf);
  if (n <= 0) return n;
  int i = 0;
  while (linbuf[i] && uc(linbuf[i]) <= 32) i++;
  if (mode != 0 && chrtyp(uc(linbuf[i])) == 1) {
    char word[41];
    int l = 0;
    while (l < 40 && chrtyp(uc(linbuf[i + l])) != 0) {
      int c = uc(linbuf[i + l]);
      word[l++] = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    word[l] = 0;
    const char* kw = mode > 0 ? "label" : "help";
    int kl = lenstr(kw);
    if (l >= 2 && l >= kl && std::strncmp(word, kw, size_t(kl)) == 0) {
      if (mode > 0 && number) {
        int j = i + l;
        while (linbuf[j] && uc(linbuf[j]) <= 32) j++;
        int32_t v = 0;
        getdec(linbuf + j, &v);
        *number = v;
      }
      return 1;
    }
  }
  return lincls(linbuf);
}

namespace {

// The index after the bracket that closes the one at s[i] (quoted strings
// passed over), or -1 when the line does not close it.
int closer(const char* s, int i) {
  const int open = uc(s[i]);
  const int close = open == '(' ? ')' : '}';
  int depth = 0;
  for (; s[i]; i++) {
    int c = uc(s[i]);
    if (c == '"' || c == '\'') {
      int l = qotlen(s + i);
      if (l >= 0) {
        i += l + 1;
        continue;
      }
    }
    if (c == open) depth++;
    else if (c == close && --depth == 0) return i + 1;
  }
  return -1;
}

}  // namespace

bool wrdhead(const char* s) {
  int i = 0;
  while (s[i] && uc(s[i]) <= 32) i++;
  char word[16];
  int l = 0;
  for (;; l++) {
    int c = uc(s[i + l]);
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) break;
    if (l >= int(sizeof word) - 1) return false;
    word[l] = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  word[l] = 0;
  int len = l;
  const int code = l >= 2 ? cmdlook(word, &len) : -1;
  if (code != CM_IF && code != CM_WHILE && code != CM_REPEAT) return false;
  i += l;
  while (s[i] && uc(s[i]) <= 32) i++;
  if (s[i] != '(' || (i = closer(s, i)) < 0) return false;
  while (s[i] && uc(s[i]) <= 32) i++;
  // A "{" closed on the line is a brace list, not a block.
  if (s[i] != '{' || closer(s, i) >= 0) return false;
  i++;
  while (s[i] && uc(s[i]) <= 32) i++;
  return s[i] && s[i] != ';';
}

int lincls(const char* s) {
  int i = 0;
  while (s[i] && uc(s[i]) <= 32) i++;
  int cls = s[i] == '}' ? 2 : 0;
  int e = 0;
  while (s[e] && s[e] != ';') e++;
  while (e > 0 && uc(s[e - 1]) <= 32) e--;
  if ((e > 0 && s[e - 1] == '{') || wrdhead(s)) cls += 4;
  return cls;
}
