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

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int LIBREC = 1024;  // record length of the macro library
constexpr int MAXSTEP = 1000; // preprocessor scan steps
static_assert(LINSIZ == CMDLIN, "the preprocessor works in a buffer of the line buffer's size");

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

constexpr int LONGLN = 4096;  // characters of a macro line looked at whole

// A macro line too long for the line buffer, its form when it is a head
// (failform) or a "} else {" line (headform), and its class for the block
// scanners (lincls), all of the whole line, until the next line is read.
bool toolong = false;
int longfm = HF_NONE;
int longcd = 0;
int longcl = 0;

// The length of line s (n characters) without its comment (from a ";"
// outside quotes) and the blanks before it or at its end.
int codelen(const char* s, int n) {
  int i = 0;
  while (i < n) {
    const int c = uc(s[i]);
    if (c == '"' || c == '\'') {
      int j = i + 1;
      while (j < n && uc(s[j]) != c) j += (s[j] == '\\' && j + 1 < n) ? 2 : 1;
      i = j < n ? j + 1 : n;
      continue;
    }
    if (c == ';') break;
    i++;
  }
  while (i > 0 && uc(s[i - 1]) <= 32) i--;
  return i;
}

// Reads one line of a text stream unit. A line of the running macro is
// looked at whole: when what it holds before its comment does not fit the
// buffer, it is marked too long (lnlong); the buffer gets its first max - 1
// characters, as any longer line.
int rdtext(int unit, char* buf, int max) {
  FILE* f = unitstream(unit);
  bool mac = unit == macunt();
  buf[0] = 0;
  int got = -1;
  if (f && mac) {
    static char whole[LONGLN];
    got = mtline(f, whole, LONGLN - 1);
    if (got >= 0) {
      int keep = std::min(got, max - 1);
      std::memcpy(buf, whole, size_t(keep));
      buf[keep] = 0;
      if (got > keep && codelen(whole, got) > max - 1) {
        toolong = true;
        longfm = cutform(whole, &longcd);
        longcl = lincls(whole);
      }
    }
  } else if (f) {
    got = strmln(f, buf, max - 1);
  }
  if (got < 0) {
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

int cutform(const char* s, int* code) {
  std::string t(s);
  t.resize(size_t(codelen(t.c_str(), int(t.size()))));
  int f = failform(t.c_str(), code);
  if (f == HF_NONE) {
    const int h = headform(t.c_str(), nullptr);
    if (h == HF_ELSEWORDS || h == HF_ELSELINE) f = h;
  }
  return f;
}

bool lnlong(int* form, int* code) {
  if (!toolong) return false;
  toolong = false;
  *form = longfm;
  *code = longcd;
  return true;
}

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
  toolong = false;
  if (!buf || max < 1) return -1;
  buf[0] = 0;
  if (unit < 0 || (state & ST_INTR)) return -1;
  if ((state & ST_CMACRO) && ipcunit(unit)) return rdipc(buf, max);
  int lu = libunt();
  // A library line keeps the stored line's cut: 239 characters.
  if (lu > 0 && unit == lu) return rdlibl(unit, libpos(), buf, std::min(max, LINBUF));
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
  if (unit == inpunt() && mode == 0 && (state & ST_QUEUED)) {
    toolong = false;
    n = gtpstr(nullptr, linbuf);
  }
  const char* row = nullptr;  // a typed line cut at the prompt's limit, whole
  if (n < 0) {
    n = linlen(rdline(unit, linbuf, CMDLIN), CMDLIN, linbuf);
    if (unit == 0) row = keyfull();
  }
  if (n < 0 || (n == 0 && !row)) return n;
  // A line too long for the buffer opens and closes blocks as it stands
  // whole, not as its first part does.
  const bool whole = toolong;
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
  return whole ? longcl : lincls(row ? row : linbuf);
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

namespace {

// The code of the if, while or repeat word that begins s (a keyword or an
// abbreviation of one), with *at the index after it; 0 for any other line.
int headcode(const char* s, int* at) {
  int i = 0;
  while (s[i] && uc(s[i]) <= 32) i++;
  char word[16];
  int l = 0;
  for (;; l++) {
    int c = uc(s[i + l]);
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) break;
    if (l >= int(sizeof word) - 1) return 0;
    word[l] = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  word[l] = 0;
  int len = l;
  const int code = l >= 2 ? cmdlook(word, &len) : -1;
  if (code != CM_IF && code != CM_WHILE && code != CM_REPEAT) return 0;
  *at = i + l;
  return code;
}

// The form of what follows a "{" at s[i]: closed on the line, words after
// it (arg: the argument that holds them, 1 more when a blank parts them
// from the "{"), or nothing but a comment.
int bracefm(const char* s, int i, int* arg, int words, int closed) {
  if (closer(s, i) >= 0) return closed;
  int j = i + 1;
  while (s[j] && uc(s[j]) <= 32) j++;
  if (!s[j] || s[j] == ';') return HF_NONE;
  if (arg) *arg += j > i + 1 ? 1 : 0;
  return words;
}

}  // namespace

int headform(const char* s, int* arg) {
  int i = 0;
  while (s[i] && uc(s[i]) <= 32) i++;
  if (s[i] == '}') {
    // "} else {": "}" is argument 1, else 2, "{" 3.
    const int b = ++i;
    while (s[i] && uc(s[i]) <= 32) i++;
    // Without a blank after the "}" or before the "{" the words run
    // together into one argument that cannot be read (1 or 2).
    const int glued = i == b ? 1 : 0;
    int l = 0;
    while (chrtyp(uc(s[i + l])) != 0 && l < 8) l++;
    char word[9];
    for (int k = 0; k < l; k++) word[k] = char(uc(s[i + k]) >= 'A' && uc(s[i + k]) <= 'Z' ? s[i + k] + 32 : s[i + k]);
    word[l] = 0;
    int len = l;
    if (l < 2 || cmdlook(word, &len) != CM_ELSE) return HF_NONE;
    i += l;
    const int e = i;
    while (s[i] && uc(s[i]) <= 32) i++;
    if (s[i] != '{') return HF_NONE;
    if (arg) *arg = 3;
    const int f = bracefm(s, i, arg, HF_ELSEWORDS, HF_ELSELINE);
    if (!glued && i > e) return f;
    // Such a line is refused as one with words after its "{": its else
    // block is passed over.
    if (arg) *arg = glued ? 1 : 2;
    return f == HF_ELSELINE ? f : HF_ELSEWORDS;
  }
  int at = 0;
  if (!headcode(s, &at)) return HF_NONE;
  i = at;
  while (s[i] && uc(s[i]) <= 32) i++;
  if (s[i] != '(' || (i = closer(s, i)) < 0) return HF_NONE;
  while (s[i] && uc(s[i]) <= 32) i++;
  if (s[i] != '{') return HF_NONE;
  // The head with its condition is argument 1, the "{" argument 2.
  if (arg) *arg = 2;
  const int f = bracefm(s, i, arg, HF_WORDS, HF_ONELINE);
  if (f == HF_ONELINE && arg) *arg = 3;
  return f;
}

bool wrdhead(const char* s) { return headform(s, nullptr) == HF_WORDS; }

int failform(const char* s, int* code) {
  int at = 0;
  *code = headcode(s, &at);
  if (!*code) return HF_NONE;
  int e = lenstr(s);
  while (e > 0 && uc(s[e - 1]) <= 32) e--;
  // A head that opens a block (a typed loop's head replayed ends with "!").
  if (e > 0 && (s[e - 1] == '{' || s[e - 1] == '!')) return HF_FAILBLK;
  if (*code != CM_IF) return HF_NONE;
  // An if alone on its line: the condition and nothing after it.
  int i = at;
  while (s[i] && uc(s[i]) <= 32) i++;
  if (s[i] != '(' || (i = closer(s, i)) < 0) return HF_NONE;
  while (s[i] && uc(s[i]) <= 32) i++;
  return s[i] ? HF_NONE : HF_FAILONE;
}

namespace {

// Where the words of line s (e characters, comment and blanks gone) end
// before a redirection that ends the line: ">" or ">>" and its target, a
// quoted string or one word. e when the line ends with none.
int redirat(const char* s, int e) {
  int t = e;  // the target's start
  const int q = e > 0 ? uc(s[e - 1]) : 0;
  if (q == '"' || q == '\'') {
    // The quoted string that ends the line.
    t = -1;
    for (int i = 0; i < e;) {
      const int c = uc(s[i]);
      if (c != '"' && c != '\'') {
        i++;
        continue;
      }
      int j = i + 1;
      while (j < e && uc(s[j]) != c) j += (s[j] == '\\' && j + 1 < e) ? 2 : 1;
      if (j == e - 1) t = i;
      i = j + 1;
    }
  } else {
    while (t > 0 && uc(s[t - 1]) > 32 && s[t - 1] != '>' && s[t - 1] != '"' && s[t - 1] != '\'') t--;
  }
  if (t <= 0 || t == e) return e;
  int i = t;
  while (i > 0 && uc(s[i - 1]) <= 32) i--;
  if (i == 0 || s[i - 1] != '>') return e;
  i--;
  if (i > 0 && s[i - 1] == '>') i--;
  if (i > 0 && std::strchr("<>=!-", s[i - 1])) return e;  // a part of another operator
  while (i > 0 && uc(s[i - 1]) <= 32) i--;
  return i;
}

}  // namespace

int lincls(const char* s) {
  int i = 0;
  while (s[i] && uc(s[i]) <= 32) i++;
  int cls = s[i] == '}' ? 2 : 0;
  int e = 0;
  bool brace = false;
  for (; s[e] && s[e] != ';'; e++) brace |= s[e] == '{';
  while (e > 0 && uc(s[e - 1]) <= 32) e--;
  if (e > 0 && s[e - 1] == '{') return cls + 4;
  if (!brace) return cls;
  // A "{" before the redirection of the command's output ("type { > f")
  // opens its block as one that ends the line does.
  const int ce = codelen(s, lenstr(s));
  const int r = redirat(s, ce);
  if (r > 0 && r < ce && s[r - 1] == '{') return cls + 4;
  // A head or "} else {" with words after its "{" opens its block all the
  // same (the words are refused when it runs).
  const int f = headform(s, nullptr);
  if (f == HF_WORDS || f == HF_ELSEWORDS) cls += 4;
  return cls;
}
