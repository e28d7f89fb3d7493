// Flow control of text macros and of loops typed at the prompt: if, while,
// repeat, "}", else, break, next, goto, label, default and argshift.
//
// Lines are never stored for a macro file: a loop's "}" puts the macro back
// at its head line (by its byte position, or by re-reading), a skipped block
// is read and passed over. A loop typed at the prompt is collected whole,
// kept in its loop entry, and runs from the default queue.
#include "lang/macro.h"

#include "core/args.h"
#include "core/convert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "lang/fastcmd.h"
#include "lang/maclib.h"
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/events.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr int MAXTYPED = 32767;  // longest typed loop

bool isop(int w, int code) {
  return w >= 0 && w < NWORDS && wrdtab[w].type == WT_CMD && wrdtab[w].v1 == code;
}

bool typedlp(const LoopEnt& e) { return e.q.blk > 0 && e.q.len > 0; }

// Frees a loop entry's typed text and marks the entry free.
void freent(LoopEnt& e) {
  if (e.q.blk > 0) clrpst(&e.q);
  e = LoopEnt{};
}

// Queues a typed loop's whole text again (its head line first).
void requeue(const LoopEnt& e) {
  const char* t = static_cast<const char*>(stkptr(e.q.blk));
  if (t && e.q.len > 1) savcmd(t, 0, e.q.len - 1, nullptr);
}

// The macro that was running when a read began: a line read may end it.
struct Here {
  int32_t frame = frmadr;
  int16_t level = maclev;
  bool gone() const { return frmadr != frame || maclev != level; }
};

// Passes over one block: the brace depth falls by one. Lines come from the
// default queue when it holds text (and the skip stops when it empties),
// else from the input unit. Returns 1 when the input ended the macro. With
// elsechk the skip passes over a false if's block: a "} else {" line that
// ends it with words after its "{" is refused (error 9, or 186 for a line
// too long for the buffer) and its else block passed over too; one whose
// "{ ... }" closes on the line is refused and opens nothing.
int skipblk(bool elsechk = false) {
  Here here;
  int target = brclev - 1;
  bool fromq = qpend(&dfltq);
  bool fromtyp = !fromq && inunit == 0 && qpend(&typq);
  int32_t held = 0;  // an error told here, kept aside while the skip goes on
  while (!stopped()) {
    int c;
    int lf = HF_NONE, lc = 0;
    bool lng = false;  // a macro line too long for the buffer
    if (fromq) {
      int n = gtpstr(nullptr, linbuf);
      c = n < 0 ? -1 : lincls(linbuf);
    } else {
      if (fromtyp && !qpend(&typq)) break;
      c = readky(inunit, 0, nullptr);
      lng = c > 0 && lnlong(&lf, &lc);
    }
    if (here.gone()) {
      state |= held;
      return 1;
    }
    if (c < 0) break;
    if (c & 2) {
      brclev--;
      if (brclev <= target) {
        if (brclev < 0) brclev = 0;
        int arg = 0;
        const int f = !elsechk ? HF_NONE : lng ? lf : headform(linbuf, &arg);
        if (f == HF_ELSELINE || f == HF_ELSEWORDS) {
          if (lng) error(0, 186);
          else error(arg, 9);
          held |= state & ST_ERROR;
          state &= ~ST_ERROR;
          if (f == HF_ELSEWORDS) {
            brclev++;  // its else block is passed over as well
            continue;
          }
          break;
        }
        if (c & 4) brclev++;
        break;
      }
    }
    if (c & 4) brclev++;
  }
  state |= held;
  return 0;
}

// Passes over the next line that holds a command (a false "if" alone on its
// line).
void skipone() {
  Here here;
  while (!stopped()) {
    int n;
    if (qpend(&dfltq)) n = gtpstr(nullptr, linbuf);
    else n = linlen(rdline(inunit, linbuf, CMDLIN), CMDLIN, linbuf);
    if (here.gone() || n < 0) return;
    int i = 0;
    while (linbuf[i] && static_cast<unsigned char>(linbuf[i]) <= 32) i++;
    if (linbuf[i] && linbuf[i] != ';') return;
  }
}

// The next line of a typed loop: from the default queue when the loop came
// from there, else from the input unit. Its length, or -1 at the end.
int loopln(bool fromq, char* line) {
  if (fromq) return gtpstr(nullptr, line);
  return linlen(rdline(inunit, line, CMDLIN), CMDLIN, line);
}

// The next line of text t from offset *at into line (cut to the line
// buffer); false when t has no more.
bool nextln(const std::string& t, size_t* at, char* line) {
  if (*at >= t.size()) return false;
  size_t j = t.find('\n', *at);
  if (j == std::string::npos) j = t.size();
  size_t l = std::min<size_t>(j - *at, CMDLIN - 1);
  std::memcpy(line, t.data() + *at, l);
  line[l] = 0;
  *at = j + 1;
  return true;
}

// Reads and drops the lines of a typed loop up to the "}" that closes it:
// first what is left of the lines already read (pre, from offset at), then
// lines from the loop's source. depth counts the blocks still open.
void dropto(bool fromq, int depth, const std::string& pre = {}, size_t at = 0) {
  char line[CMDLIN];
  while (depth > 0 && !(state & 0x0180)) {
    const char* whole = nullptr;  // a typed line that did not fit, whole
    if (!nextln(pre, &at, line)) {
      if (loopln(fromq, line) < 0) return;
      if (!fromq && inunit == 0) whole = keyfull();
    }
    int c = lincls(whole ? whole : line);
    if (c & 2) depth--;
    if (c & 4) depth++;
  }
}

// Collects a loop typed at the prompt into loop entry e: the head line with
// its last "{" made "!", then the lines up to the "}" that closes it: those
// already read (pre: the lines a compilation of the loop read before it gave
// the loop up), then lines from the input. The whole text stays in the
// entry; the body is queued. 0, or -1 when nothing runs. A loop too long for
// its buffer is error 136, and a typed line too long for the command
// window's line error 186: the rest of the loop is read and dropped, so that
// none of its lines runs at the prompt.
int collect(LoopEnt& e, const std::string& pre) {
  bool fromq = qpend(&dfltq);
  if (!fromq) jprintf(1, "Loop execution begins after '}'\n");
  int64_t room = 2 * int64_t(std::max(0, lstk.lowest - scrtop));
  int cap = int(std::min<int64_t>(room, MAXTYPED));
  char* buf = cap > 2 ? static_cast<char*>(getbuf(cap)) : nullptr;
  // The head as the parser was given it: the parse rewrote a brace list
  // in the line buffer.
  int n = lenstr(prsln);
  if (!buf || n + 1 >= cap) {
    error(0, 136);
    dropto(fromq, 1, pre);
    return -1;
  }
  std::memcpy(buf, prsln, size_t(n) + 1);
  char* brace = std::strrchr(buf, '{');
  if (brace) *brace = '!';
  else buf[n++] = '!';
  int head = n;
  int depth = 1;
  char line[CMDLIN];
  size_t at = 0;
  while (depth > 0) {
    int l;
    bool cut = false;  // a typed line that did not fit the command window's line
    if (nextln(pre, &at, line)) {
      l = lenstr(line);
    } else {
      l = loopln(fromq, line);
      if (l < 0 || stopped()) return -1;  // the loop never closed: nothing runs
      cut = !fromq && inunit == 0 && keyfull();
    }
    int i = 0;
    while (line[i] == ' ' || line[i] == '\t') i++;
    int len = l - i;
    if (len < 0) len = 0;
    // A line that did not fit opens or closes blocks as the whole of it does.
    int c = lincls(cut ? keyfull() : line + i);
    if (c & 2) depth--;
    if (c & 4) depth++;
    if (cut) {
      // Refused as at the prompt: none of the loop runs.
      error(0, 186);
      dropto(fromq, depth, pre, at);
      return -1;
    }
    if (n + 1 + len + 1 > cap) {
      error(0, 136);
      dropto(fromq, depth, pre, at);
      return -1;
    }
    buf[n++] = '\n';
    std::memcpy(buf + n, line + i, size_t(len));
    n += len;
    buf[n] = 0;
  }
  // The whole text is kept for replay.
  int32_t blk = 0;
  if (getstk(&blk, n + 1, 1, 1, 0) < 1 || blk <= 0) return -1;
  std::memcpy(stkptr(blk), buf, size_t(n) + 1);
  e.q = PendQ{blk, 0, n + 1};
  if (n > head + 1) savcmd(buf + head + 1, 0, n - head - 1, nullptr);
  return 0;
}

// Whether argument 2, the condition, is an unknown name before "(": no
// function, and no macro call where it stands.
bool unkcall() {
  int32_t h = 0;
  int w = -1;
  fndarg(2, &h, &w);
  return h == 0 && w >= 0 && w < NWORDS && wrdtab[w].type > 0 && (wrdtab[w].type & WT_UNKLIST) == WT_UNKLIST;
}

// Closes the innermost block, as "}" does: a loop's block sends the loop
// back to its head (the entry stays, marked for its head's next pass).
// Returns whether a loop was closed.
// With drop a loop's block ends its loop instead (its entry goes).
[[gnu::always_inline]] inline bool endblk(bool drop = false) {
  if (--brclev < 0) {
    brclev = 0;
    error(1, 30);
    return false;
  }
  if (lopdep <= 0 || lopstk[lopdep - 1].brace != brclev) return false;
  LoopEnt& e = lopstk[--lopdep];
  if (drop) {
    freent(e);
    return true;
  }
  e.spare = 1;
  if (typedlp(e)) {
    requeue(e);  // the entry stays for the head's next pass
  } else if (frmadr && (macmod & 7) == 3) {
    repos(e.line, uint32_t(e.q.rd));
  }
  return true;
}

// A head (if, while or repeat) that failed before its condition was taken:
// passed over with its block, as a false condition's head is (the loop
// entry of a replayed typed loop goes); an if alone on its line passes
// over the next command line.
void passhead(bool block, bool loop, bool alone = false) {
  const int32_t err = state & ST_ERROR;
  state &= ~ST_ERROR;
  if (block) {
    if (loop && lopdep < MAXLOOP) freent(lopstk[lopdep]);
    brclev++;
    skipblk(!loop);
  } else if (alone) {
    skipone();
  }
  state |= err;
}

}  // namespace

bool nocond() {
  if (lsttok < 0 || lsttok >= NWORDS) return true;
  const WORD& w = wrdtab[lsttok];
  // "()" holds no condition.
  if (w.type == WT_CMDLIST && w.v2 <= 0) return true;
  return !(w.type < 0 || (w.type & 0x2001) == 0x2001);
}

void hdpass(int form, int code) {
  const bool loop = code == CM_WHILE || code == CM_REPEAT;
  switch (form) {
    case HF_WORDS:
    case HF_FAILBLK:
      passhead(true, loop);
      break;
    case HF_FAILONE:
      passhead(false, false, true);
      break;
    case HF_ELSELINE:
    case HF_ELSEWORDS: {
      // The "}" closes the block before it; the else block of words after
      // its "{" is passed over first (its lines come next).
      const int32_t err = state & ST_ERROR;
      state &= ~ST_ERROR;
      if (form == HF_ELSEWORDS) {
        brclev++;
        skipblk();
      }
      endblk(true);
      state |= err;
      break;
    }
    default:
      break;
  }
}

int IFTEST(int code) {
  bool loop = code == 10 || code == 59;
  if (state & ST_CMACRO) {
    // A compiled condition: a false one jumps ahead by the distance the
    // compiler stored (always forward: read unsigned, so a section past
    // 32 KB still runs).
    int32_t v = 0;
    if (code == 59 || !fccond(&v)) {
      // An unknown name before "(" is no function here either.
      if (unkcall()) error(0, 162);
      else v = lngarg(2, 0);
    }
    if (stopped()) v = 0;
    pollio();
    if (!v) ipcoff = int32_t(uint32_t(ipcoff) + uint32_t(uint16_t(argmap[1])));
    return 0;
  }
  bool text = (macmod & 7) == 3;
  if (nargw >= 3 && isop(argmap[1], OP_LBRACE)) {
    // Words after the "{" of the head: refused before the condition is
    // evaluated. No block opens, and its lines up to the "}" are passed
    // over as a false condition's block is.
    error(3, 9);
    passhead(true, false);
    return 0;
  }
  int na = std::clamp<int>(nargw, 0, MAXARG);
  int w2 = na >= 2 ? argmap[1] : -1;
  bool brace = isop(w2, OP_LBRACE);
  bool bang = !brace && (isop(w2, OP_NOT) || (na == 2 && linbuf[0] && linbuf[lenstr(linbuf) - 1] == '!'));
  bool typedtop = !frmadr;
  LoopEnt* e = lopdep < MAXLOOP ? &lopstk[lopdep] : nullptr;
  // The entry is this head's own from its last pass only when the loop's
  // "}" or next sent the macro back here: any other way in starts afresh.
  const bool again = e && e->spare;
  if (e) e->spare = 0;
  // The lines that a compilation of a typed loop read before it gave the
  // loop up: the loop runs from its text, as without the compilation. A
  // typed loop whose lines wait in the default queue (one inside a typed
  // loop's pass) is not compiled: the queued text after it would run
  // before it. A loop that runs from its text after its compilation was
  // refused is not compiled again on its later passes.
  std::string pre;
  if ((aflags & 0x100) && loop && !again && lopdep < MAXLOOP &&
      (text || (typedtop && brace && !qpend(&dfltq)))) {
    // The loop is compiled into memory and runs from its compiled form.
    if (loopcompil(code, &pre) >= 0) {
      LoopEnt& le = lopstk[lopdep];
      le = LoopEnt{};
      le.line = maclin ? maclin : -1;
      le.brace = brclev;
      lopdep++;
      brclev++;
      return 0;
    }
    if (state & ST_ERROR) {
      // A typed line too long for the command window's line: the rest of
      // the loop is read and dropped, so that none of it runs.
      if (typedtop) {
        int depth = 1;
        for (size_t at = 0, j; depth > 0 && at < pre.size(); at = j + 1) {
          j = std::min(pre.find('\n', at), pre.size());
          const int c = lincls(pre.substr(at, j - at).c_str());
          depth += ((c & 4) ? 1 : 0) - ((c & 2) ? 1 : 0);
        }
        if (depth > 0) dropto(false, depth);
      }
      return 0;
    }
  }
  int16_t head = typedtop ? int16_t(-1) : maclin;
  // A later pass of repeat counts down what the first pass read: its count
  // is not read again (a "++" in it steps once).
  bool later = code == 59 && again && e->line != 0 && e->line == head && (!typedtop || (bang && typedlp(*e)));
  // Whether the command word carries its condition (the list token is its
  // list) is decided before the condition is evaluated: a function call in
  // it makes the command line the argument source again when it returns.
  if (!later && nocond()) {
    // No condition: the head is passed over with its block, as a false
    // condition's head is. A value written where the condition belongs
    // (no parentheses) is still read first, so that its own fault (an
    // index out of range) is said as before the missing condition.
    if (na >= 2 && !brace && !bang && !(state & ST_CMACRO)) (void)lngarg(2, 0);
    error(1, 25);
    passhead(isop(argmap[na - 1], OP_LBRACE) || bang, loop, code == CM_IF && na < 2);
    return 0;
  }
  int32_t v = 0;
  if (!later && (code == 59 || !fccond(&v))) {
    // An unknown name before "(" is no function here either.
    if (unkcall()) error(0, 162);
    else v = lngarg(2, 0);
  }
  if (stopped()) v = 0;
  pollio();
  argset(0, 0);
  bool cond = v != 0;
  if (code == 59) {
    // repeat n: the first pass keeps n - 1 in the entry, each later pass
    // takes one more, so the body runs n times.
    if (later) {
      cond = e->count > 0;
      if (cond) e->count--;
    } else {
      cond = v >= 1;
      if (e) e->count = int16_t(std::clamp<int32_t>(v - 1, 0, 32767));
    }
  }
  if (loop && cond && !brace && !bang) {
    error(3, 29);
    return 0;
  }
  if (brace || bang) brclev++;
  if (loop && cond) {
    if (!e) {
      error(1, 31);
      return 0;
    }
    if (typedtop && brace) {
      if (e->q.blk > 0) clrpst(&e->q);
      int16_t count = e->count;
      *e = LoopEnt{};
      e->count = count;
      if (collect(*e, pre) < 0) {
        freent(*e);
        brclev--;
        return 0;
      }
    } else if (!bang || !typedlp(*e)) {
      if (e->q.blk > 0) clrpst(&e->q);
      // A macro loop keeps its head's byte position (+ 1) for the return.
      e->q = PendQ{0, int32_t(prvpos + 1), 0};
    }
    e->line = head;
    e->brace = int16_t(brclev - 1);
    lopdep++;
    return 0;
  }
  if (cond) {
    // A true if with a command after its condition: that command runs.
    if (!brace && !bang && na >= 2) qflag = -2;
    return 0;
  }
  // A condition that failed counts as false: its block is passed over all
  // the same.
  const int32_t err = state & ST_ERROR;
  state &= ~ST_ERROR;
  if (brace || bang) {
    if (loop && e) freent(*e);
    if (pre.empty()) {
      skipblk(!loop);
    } else {
      // The rest of a typed loop that a compilation began to read.
      brclev--;
      dropto(qpend(&dfltq), 1, pre);
    }
  } else if (na < 2) {
    skipone();  // (a false if's command on its line is not run)
  }
  state |= err;
  return 0;
}

int Mendif() {
  // A "}" alone: the common case, a loop's end on every pass.
  if (nargw < 2) {
    endblk();
    return 0;
  }
  int na = std::clamp<int>(nargw, 0, MAXARG);
  bool elseblk = na == 3 && isop(argmap[1], CM_ELSE) && isop(argmap[2], OP_LBRACE);
  if (brclev < 1) {
    brclev = 0;
    error(1, 30);
    return 0;
  }
  bool closes = lopdep > 0 && lopstk[lopdep - 1].brace == brclev - 1;
  if (na >= 2 && (!elseblk || closes)) {
    // Anything after "}" but "else {", or "} else {" closing a loop: its
    // block closes, and a loop's entry is dropped.
    brclev--;
    error(3, 30);
    if (closes) freent(lopstk[--lopdep]);
    return 0;
  }
  if (endblk()) return 0;
  if (elseblk) {
    // The if block ran: its else block is passed over.
    brclev++;
    skipblk();
  }
  return 0;
}

int MBREAK(int code) {
  int n = intarg(2, 1);
  if (n > lopdep) n = lopdep;
  Here here;
  for (int i = 1; i <= n && !here.gone(); i++) {
    LoopEnt& e = lopstk[lopdep - 1];
    bool typed = typedlp(e);
    if (code == 27 && !typed) {
      // The remaining loops go at once; the last one's head runs again.
      int last = lopdep - (n - i) - 1;
      for (int j = lopdep - 1; j > last; j--) freent(lopstk[j]);
      lopdep = int16_t(last);
      brclev = lopstk[last].brace;
      lopstk[last].spare = 1;  // its head's next pass
      if (frmadr && (macmod & 7) == 3) repos(lopstk[last].line, uint32_t(lopstk[last].q.rd));
      return 0;
    }
    if (code == 27 && i == n) {
      while (brclev > e.brace && !stopped() && !here.gone())
        if (skipblk()) return 0;
      lopdep--;
      e.spare = 1;  // its head's next pass
      requeue(e);
      return 0;
    }
    while (brclev > e.brace && !stopped() && !here.gone())
      if (skipblk()) return 0;
    if (here.gone()) return 0;
    freent(e);
    lopdep--;
  }
  return 0;
}

int mgoto(int mode) {
  if (mode == 1) {
    skipblk();
    return 0;
  }
  if (!curfrm() || (macmod & 7) != 3) return 0;
  int n = intarg(2, 0);
  if (n < 1) return 0;
  Here here;
  if (n <= lstlbl) {
    if (repos(1, 0) != 0) return 0;
    brclev = 0;
  }
  while (!stopped()) {
    int num = 0;
    int c = readky(mcunit, 1, &num);
    if (here.gone() || c < 0) return 0;  // the label is missing: the macro ended
    if (c == 1) {
      if (num == n) {
        lstlbl = int16_t(n);
        break;
      }
      continue;
    }
    if (c & 2) brclev = int16_t(std::max(0, brclev - 1));
    if (c & 4) brclev++;
  }
  // Loops whose blocks the jump left are dropped, and no entry past them
  // stays for a head the jump reaches.
  while (lopdep > 0 && lopstk[lopdep - 1].brace >= brclev) freent(lopstk[--lopdep]);
  for (int i = lopdep; i < MAXLOOP; i++) freent(lopstk[i]);
  return 0;
}

int mlabel() {
  int n = intarg(2, 0);
  if (n >= 1) lstlbl = int16_t(n);
  return 0;
}

int DEFALT() {
  MacFrame* f = curfrm();
  if (!f) return 0;
  int cnt = std::max(0, nargs() - 1);
  if (state & ST_CMACRO) {
    int32_t tab = f->argtab;
    SVMARG(2, cnt, &tab, 1, frmadr, 0);
    curfrm()->argtab = tab;
    return 0;
  }
  const SymTab* t = tabptr(cursym);
  if (cursym != f->symtab || !t || t->count != 0) {
    error(1, 21);
    return 0;
  }
  int32_t link = t->link;
  int32_t fa = frmadr;
  // The empty local table gives its place to the new values when it is the
  // last thing in the bottom area; a fresh header follows them.
  bool top = cursym + SYMHDR == lstk.bot;
  if (top) botcut(cursym);
  int32_t tab = f->argtab;
  int r = SVMARG(2, cnt, &tab, 1, fa, 0);
  f = curfrm();
  f->argtab = tab;
  int32_t nt = maktab(link);
  if (nt) {
    cursym = f->symtab = nt;
    if (!(state & ST_COMPILE)) defsym = cursym;  // defines go to the current table
  } else if (top) {
    // No room even for the header: the macros are given up.
    state |= ST_INTR;
  }
  if (r < 0 && !(state & ST_ERROR)) error(0, 42);
  return 0;
}

int argshift() {
  MacFrame* f = curfrm();
  if (!f || f->argtab <= 0) return 0;
  uint32_t* t = wordp(f->argtab);
  for (int k = 0; k < MAXMARG; k++) t[k] = t[k + 1];
  t[MAXMARG] = 0;
  if (f->nargs > 0) f->nargs--;
  return 0;
}
