// The macro compiler: the compile command (a text macro into a compiled
// macro file) and the in-memory compilation of one loop of a running text
// macro (aflags bit 0x100).
#include "lang/maccomp.h"

#include "core/args.h"
#include "core/convert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/tmpfile.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "lang/declare.h"
#include "lang/keywords.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/events.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

void ipcloop(std::vector<uint8_t>&& cmds, int16_t endline);

namespace {

// A line the compiled form cannot hold: a counted loop or a computed goto.
constexpr int E_NOCOMP = 214;

// A compile-time relocation entry (20 bytes in the file's reference form).
struct Rel {
  int16_t code;   // control line's command code; 0 a named reference
  int16_t line;   // macro line
  int16_t num;    // label, level count or block number
  int16_t depth;  // block depth before the line
  int32_t addr1;  // the line's record
  int32_t addr2;  // false target (-1 unresolved)
  int32_t addr3;  // jump target
  char name[13];  // a named reference's macro name
};

bool isop(int w, int code) {
  return w >= 0 && w < NWORDS && wrdtab[w].type == WT_CMD && wrdtab[w].v1 == code;
}

// One compilation: the command table, the relocation entries and the
// block stack.
struct Comp {
  bool file = false;       // compile command (else a loop in memory)
  int32_t cap = CMDMAX;    // command table size
  int maxrel = 200;        // relocation entries
  std::vector<uint8_t> cmd;
  std::vector<Rel> rel;
  std::vector<int> blocks;  // kinds of the open blocks: 1 if, 0 while
  int errors = 0;
  bool full = false;       // command table full
  bool refuse = false;     // a loop in memory that must run from its text
  int32_t symtab = 0;      // the local table (file)
  int32_t last = -1;       // offset of the last record
  std::string* keep = nullptr;  // the lines read, kept (a typed loop)

  // A compile error: counted; in memory the loop runs from its text.
  void err(int arg, int code) {
    if (!file) {
      refuse = true;
      return;
    }
    error(arg, code);
    errors++;
    state &= ~ST_ERROR;
  }

  // Appends the record of the current line: code, nargs argument-map
  // entries (at least those of the line), the words unless a control record.
  int32_t record(int code, int na) {
    const bool control = code < 0;
    const int nw = control ? 0 : std::clamp<int>(nwords, 0, NWORDS);
    if (control) na = 0;
    na = std::clamp(na, 0, MAXARG);
    const int32_t off = int32_t(cmd.size());
    const int32_t size = RECHDR + 2 * na + 16 * nw;
    if (off + size > cap) {
      if (!full) err(0, 92);
      full = true;
      return -1;
    }
    cmd.resize(size_t(off + size));
    uint8_t* r = cmd.data() + off;
    r[0] = uint8_t(na);
    r[1] = uint8_t(nw);
    put16(r + 2, code);
    put32(r + 4, off + size);
    put16(r + 8, maclin);
    for (int i = 0; i < na; i++) put16(r + RECHDR + 2 * i, i < nargw ? argmap[i] : 0);
    for (int i = 0; i < nw; i++) {
      WORD w = wrdtab[i];
      if (file && w.type > 0 && (w.type & 0x1000) && !(w.type & 0x2000)) symref(w);
      std::memcpy(r + RECHDR + 2 * na + 16 * i, &w, sizeof w);
    }
    last = off;
    return off;
  }

  // A word naming a variable of the local table refers to its entry by
  // index: -(6 x index) - 1.
  void symref(WORD& w) {
    int32_t e = wval(w);
    if (e < 0) e = -e;
    const SymTab* t = tabptr(symtab);
    const SymEnt* s = symptr(e);
    if (!t || !s) return;
    for (int i = int(t->count) - 1; i >= 0; i--) {
      const SymEnt* l = symptr(symadr(symtab, i));
      if (!l || l->flags == 0 || (l->nlen & 15) != (s->nlen & 15)) continue;
      if (std::memcmp(l->name, s->name, size_t(s->nlen & 15)) != 0) continue;
      setwval(w, -(SYMWDS * i) - 1);
      return;
    }
  }

  void reloc(int code, int num, int32_t off) {
    if (off < 0) return;
    if (int(rel.size()) >= maxrel) {
      err(0, 43);
      // The line goes: its record is taken back.
      cmd.resize(size_t(off));
      return;
    }
    Rel r{};
    r.code = int16_t(code);
    r.line = maclin;
    r.num = int16_t(num);
    r.depth = int16_t(blocks.size());
    r.addr1 = off;
    r.addr2 = -1;
    rel.push_back(r);
  }

  // A text block: the lines after a command that ends with "{", up to and
  // including the one that starts with "}".
  void txtblk() {
    const int32_t at = last;
    Here here;
    for (;;) {
      int c = readky(inunit, 0, nullptr);
      if (here.gone() || c < 0) break;
      int lf = 0, lc = 0;
      if (!(c & 2) && lnlong(&lf, &lc)) {
        err(0, 186);  // a line too long for the buffer
        if (refuse) return;
        continue;
      }
      if (keep) *keep += std::string(linbuf) + "\n";
      int l = lenstr(linbuf);
      if (int32_t(cmd.size()) + 2 + l + 1 + 2 > cap) {
        if (!full) err(0, 92);
        full = true;
        return;
      }
      size_t o = cmd.size();
      cmd.resize(o + 2 + size_t(l) + 1);
      put16(&cmd[o], l + 1);
      std::memcpy(&cmd[o + 2], linbuf, size_t(l) + 1);
      if (c & 2) break;
    }
    size_t o = cmd.size();
    cmd.resize(o + 2);
    put16(&cmd[o], 0);
    if (at >= 0) put32(&cmd[size_t(at) + 4], int32_t(cmd.size()));
  }

  struct Here {
    int32_t frame = frmadr;
    int16_t level = maclev;
    bool gone() const { return frmadr != frame || maclev != level; }
  };

  // Whether the line ends with "{" (an assignment from a brace block: the
  // brace is a word of the expression, not an argument of its own).
  static bool brace() {
    int n = lenstr(linbuf);
    while (n > 0 && (linbuf[n - 1] == ' ' || linbuf[n - 1] == '\t')) n--;
    if (n < 1 || linbuf[n - 1] != '{') return false;
    for (int i = 0; i < nwords; i++)
      if (isop(i, OP_LBRACE)) return true;
    return false;
  }

  int whiles() const {
    int n = 0;
    for (int k : blocks) n += k == 0;
    return n;
  }

  // The called macro's name (folder part gone, at most 8 characters).
  void callref(int argi) {
    char name[257] = "";
    int32_t h = 0;
    int w = -1;
    fndarg(argi, &h, &w);
    if (w >= 0 && (wrdtab[w].type == WT_TEXT || wrdtab[w].type == WT_QUOTED ||
                   (wrdtab[w].type & ~1) == WT_UNKLIST))
      gettxt(w, name, sizeof name);
    const char* b = name;
    for (const char* q = name; *q; q++)
      if (*q == '\\' || *q == '/' || *q == ':') b = q + 1;
    std::string nm(b);
    if (nm.size() > 8) nm.resize(8);
    if (nm.empty()) {
      err(0, 91);
      return;
    }
    for (const Rel& r : rel)
      if (r.code == 0 && nm == r.name) return;
    if (int(rel.size()) >= maxrel) {
      err(0, 43);
      return;
    }
    Rel r{};
    std::memcpy(r.name, nm.data(), nm.size());
    rel.push_back(r);
  }

  // A head with words after its "{" is refused, as a text macro refuses
  // it; the lines up to its "}" are passed over.
  void refhead() {
    err(3, 9);
    if (file) passblk();
  }

  // Reads and drops the lines of a block up to its "}".
  void passblk() {
    Here here;
    for (int depth = 1; depth > 0 && !(state & ST_INTR);) {
      int c = readky(inunit, 0, nullptr);
      if (here.gone() || c < 0) return;
      if (c & 2) depth--;
      if (c & 4) depth++;
    }
  }

  // A flow-control line the line reader refused (its error is counted):
  // the blocks stay paired as the text macro pairs them. A head's block is
  // passed over (words after its "{"), or kept open for its "}" (a head
  // that could not be read); a "} else {" line closes its block.
  void refused(int form, int code) {
    if (!file) return;
    switch (form) {
      case HF_WORDS:
        passblk();
        break;
      case HF_FAILBLK:
        blocks.push_back(code == CM_IF ? 1 : 0);
        break;
      case HF_ELSELINE:
      case HF_ELSEWORDS:
        if (blocks.empty()) err(1, 30);
        else blocks.pop_back();
        if (form == HF_ELSEWORDS) passblk();
        break;
      default:
        break;
    }
  }

  // Compiles the parsed line with its command code. Returns 1 when the
  // loop of an in-memory compilation has closed.
  int line(int code) {
    const int na = std::clamp<int>(nargw, 0, MAXARG);
    if ((code == CM_IF || code == CM_WHILE || code == CM_REPEAT) && na >= 3 && isop(argmap[1], OP_LBRACE)) {
      refhead();
      return 0;
    }
    switch (code) {
      case CM_IF:
      case CM_WHILE: {
        bool blk = na >= 2 && isop(argmap[na - 1], OP_LBRACE);
        // A head whose command word carries no condition is refused as the
        // text macro refuses it; its block stays paired.
        if (nocond()) err(1, 25);
        if (blk) {
          blocks.push_back(code == CM_IF ? 1 : 0);
          reloc(code, int(blocks.size()), record(code, std::max(na, 2)));
          return 0;
        }
        if (code == CM_WHILE) {
          err(3, 29);
          return 0;
        }
        // A one-line if: the condition, then the rest of the line as a
        // line of its own.
        reloc(code, 0, record(code, 2));
        if (na < 2) return 0;
        for (int i = 1; i < na; i++) argmap[i - 1] = argmap[i];
        nargw = int16_t(na - 1);
        int c2 = cmdkey(1);
        if ((prsflg & PF_ORDER) && !(state & ST_ERROR)) Aftpro(&c2);
        if (state & ST_ERROR) {
          errors++;
          state &= ~ST_ERROR;
          return 0;
        }
        return line(c2);
      }
      case CM_REPEAT:
        // A counted loop has no compiled form; its block stays paired.
        if (file) err(1, E_NOCOMP);
        else refuse = true;
        if (na >= 2 && isop(argmap[na - 1], OP_LBRACE)) blocks.push_back(0);
        return 0;
      case CM_GOTO: {
        int w = na >= 2 ? argmap[1] : -1;
        if (w < 0 || wrdtab[w].type != WT_NUMBER || wnsiz(wrdtab[w]) != 32) {
          // A computed label has no place to jump to.
          if (file) err(2, E_NOCOMP);
          else refuse = true;
          return 0;
        }
        reloc(CM_GOTO, wnum(wrdtab[w]), record(-CM_GOTO, 0));
        return 0;
      }
      case CM_LABEL: {
        int n = intarg(2, 0);
        if (n >= 1) reloc(CM_LABEL, n, record(-CM_LABEL, 0));
        else record(code, na);
        return 0;
      }
      case CM_BREAK:
      case CM_NEXT: {
        int n = intarg(2, 1);
        if (n < 1 || n > whiles()) {
          err(2, 19);
          return 0;
        }
        reloc(code, n, record(-code, 0));
        return 0;
      }
      case OP_RBRACE: {
        if (blocks.empty()) {
          err(1, 30);
          return 0;
        }
        bool elseblk = na == 3 && isop(argmap[1], CM_ELSE) && isop(argmap[2], OP_LBRACE);
        if (elseblk) {
          if (blocks.back() != 1) {
            err(3, 30);
            return 0;
          }
          reloc(CM_ELSE, int(blocks.size()), record(-CM_ELSE, 0));
          return 0;
        }
        if (na >= 2) {
          // Words after "}": refused, and its block closes.
          err(3, 9);
          blocks.pop_back();
          return 0;
        }
        reloc(OP_RBRACE, int(blocks.size()), record(-OP_RBRACE, 0));
        blocks.pop_back();
        return !file && blocks.empty() ? 1 : 0;
      }
      case CM_COMPILE:
      case CM_LINK:
        err(0, 90);
        return 0;
      case CM_INCLUDE:
        return 0;
      case CM_DEFINE:
        if (file) define();
        else refuse = true;
        return 0;
      case CM_DECLARE:
        if (file) declar(code);
        if (state & ST_ERROR) {
          errors++;
          state &= ~ST_ERROR;
        }
        break;
      case CM_RUN:
      case CM_UNKNOWN:
        if (!file) {
          // A macro call leaves the loop's frame: the loop runs from text.
          refuse = true;
          return 0;
        }
        callref(code == CM_RUN ? 2 : 1);
        break;
      default:
        break;
    }
    int32_t off = record(code, na);
    // A "{" that ends the words before a redirection ("type { > f") is
    // followed by its text block too.
    const bool redir = (code & 0x2000) && na >= 4 && isop(argmap[na - 3], OP_LBRACE);
    if (off >= 0 && ((na >= 2 && isop(argmap[na - 1], OP_LBRACE)) || redir || brace())) txtblk();
    return 0;
  }

  int32_t nextof(int32_t off) const { return get32(cmd.data() + off + 4); }

  // Finds the first entry after i with one of the codes and the number.
  int later(size_t i, int c1, int c2, int num) const {
    for (size_t j = i + 1; j < rel.size(); j++)
      if ((rel[j].code == c1 || rel[j].code == c2) && rel[j].num == num) return int(j);
    return -1;
  }

  // Resolves the jumps and writes them into the records.
  void resolve() {
    struct Blk {
      int head, close, kind;
    };
    std::vector<Blk> st;
    for (size_t i = 0; i < rel.size(); i++) {
      Rel& r = rel[i];
      if (r.code == 0) continue;
      const int32_t nx = nextof(r.addr1);
      switch (r.code) {
        case CM_IF:
          if (r.num == 0) {
            // The one command after the condition is skipped.
            r.addr2 = nx < int32_t(cmd.size()) ? nextof(nx) : nx;
            break;
          }
          [[fallthrough]];
        case CM_WHILE: {
          int c = later(i, OP_RBRACE, r.code == CM_IF ? int(CM_ELSE) : int(OP_RBRACE), r.num);
          if (c < 0) break;
          r.addr2 = nextof(rel[size_t(c)].addr1);
          st.push_back({int(i), c, r.code == CM_IF ? 1 : 0});
          break;
        }
        case OP_RBRACE:
          if (st.empty()) break;
          r.addr2 = nx;
          r.addr3 = st.back().kind == 0 ? rel[size_t(st.back().head)].addr1 : nx;
          st.pop_back();
          break;
        case CM_ELSE: {
          if (!st.empty()) st.pop_back();
          int c = later(i, OP_RBRACE, OP_RBRACE, r.num);
          if (c < 0) break;
          r.addr2 = nx;
          r.addr3 = nextof(rel[size_t(c)].addr1);
          st.push_back({int(i), c, 1});
          break;
        }
        case CM_BREAK:
        case CM_NEXT: {
          int n = r.num;
          for (size_t k = st.size(); k-- > 0;) {
            if (st[k].kind != 0 || --n > 0) continue;
            const Rel& h = rel[size_t(st[k].head)];
            r.addr3 = r.code == CM_BREAK ? nextof(rel[size_t(st[k].close)].addr1) : h.addr1;
            r.addr2 = r.addr3;
            break;
          }
          break;
        }
        case CM_GOTO: {
          for (const Rel& l : rel)
            if (l.code == CM_LABEL && l.num == r.num) {
              r.addr3 = r.addr2 = nextof(l.addr1);
              break;
            }
          break;
        }
        case CM_LABEL:
          r.addr2 = r.addr3 = nx;
          break;
        default:
          jprintf(dbglun, "relerr: %5d %5d %5d\n", int(r.code), int(r.line), int(r.num));
          break;
      }
    }
    for (const Rel& r : rel) {
      if (r.code == 0) continue;
      if (r.addr2 < 0) {
        jprintf(errlun, "Unresolved jump from line %d\n", int(r.line));
        errors++;
        continue;
      }
      uint8_t* p = cmd.data() + r.addr1;
      if (r.code == CM_IF || r.code == CM_WHILE) {
        put16(p + RECHDR + 2, r.addr2 - nextof(r.addr1));
      } else if (r.code != CM_LABEL) {
        put32(p + 4, r.addr3);
      }
    }
  }
};

// A compiled file that could not be written: its name and the system's
// cause on the error unit, then error 69 (#0 = -69).
void cmperr(const std::string& name, int err) {
  jprintf(errlun, "%s: %s\n", name.c_str(), std::strerror(err ? err : EIO));
  error(0, 69);
}

}  // namespace

int compil() {
  const int32_t st0 = state;
  const int opt = intarg(3, 0);
  const int S = std::max(1, intarg(4, (opt & 1) ? 1 : 200));
  const int D = std::max(1, intarg(5, 200));
  const int R = std::max(1, intarg(6, (opt & 1) ? 1 : 200));
  if (stopped()) return 0;
  state = ST_COMPILE;
  if (Runmac(2) != 0 || !(state & ST_COMPILE)) {
    state = st0;
    return 0;
  }
  Comp c;
  c.file = true;
  c.maxrel = R;
  c.symtab = cursym;
  const std::string path = macnam();
  const int32_t frame = frmadr;
  const int16_t level = maclev;
  auto ended = [&] { return frmadr != frame || maclev != level || !(state & ST_COMPILE); };
  // Room for S local entries right after the local table (declared names
  // and copies of outer symbols grow into it; an entry marked in use ends
  // it), then the define table with room for D entries.
  const int32_t defsv = defsym;
  rststk();  // the command's scratch is done with: the bottom area grows
  int32_t room = botget(int32_t(S + 1) * SYMWDS);
  int32_t dtab = room ? botget(SYMHDR + int32_t(D + 1) * SYMWDS) : 0;
  if (!room || !dtab) {
    error(0, 42);
    MRETRN(0);
    state = st0;
    return 0;
  }
  std::memset(wordp(room), 0, size_t(S + 1) * SYMWDS * 4);
  symptr(room + S * SYMWDS)->flags = 0xFFFF;
  std::memset(wordp(dtab), 0, size_t(SYMHDR + (D + 1) * SYMWDS) * 4);
  std::memcpy(wordp(dtab), tabptr(cursym), 12);
  symptr(dtab + SYMHDR + D * SYMWDS)->flags = 0xFFFF;
  defsym = dtab;

  if (trcmsk & 4) {
    jprintf(dbglun, "  Tables:\t\tSymbol\tDeftbl\tReloc\tTemp\tCmds\n");
    jprintf(dbglun, "\t\t%ld\t%ld\t%d\t%d\t%d\n", long(cursym), long(dtab), R, 400, CMDMAX);
  }
  std::vector<SymEnt> syms;
  // Option 1 asks for small tables only: every line is read and parsed as
  // the text macro's lines are, so that the compiled macro runs as its text
  // does (lines read without parsing would leave no record).
  const int flags = 31;
  for (;;) {
    if (state & ST_INTR) break;
    if (state & ST_ERROR) c.errors++;
    state &= ~0x8180;
    if (ended()) break;
    // The local entries as they stand (the frame goes at the end of file).
    if (const SymTab* t = tabptr(c.symtab)) {
      syms.assign(reinterpret_cast<const SymEnt*>(t + 1), reinterpret_cast<const SymEnt*>(t + 1) + t->count);
    }
    int code = 0;
    int n = GETLIN(inunit, &code, flags);
    if (ended()) {
      state &= ~0x8180;
      nwords = 0;
      nargw = 0;
      c.record(CM_RETURN, 0);
      break;
    }
    if (n < 1) {
      if (hdfail) c.refused(hdfail, hdcode);
      continue;
    }
    c.line(code);
    if (c.full) break;
  }
  if (state & ST_ERROR) c.errors++;
  state &= ~0x8180;
  bool open = !ended();
  if (open) {
    if (const SymTab* t = tabptr(c.symtab))
      syms.assign(reinterpret_cast<const SymEnt*>(t + 1), reinterpret_cast<const SymEnt*>(t + 1) + t->count);
  }
  if (trcmsk & 4) {
    // The symbol and define tables as the loop left them.
    std::vector<uint8_t> b(syms.size() * sizeof(SymEnt));
    if (!b.empty()) std::memcpy(b.data(), syms.data(), b.size());
    lstsym(b);
    b.clear();
    for (int i = 0; i < D; i++) {
      const SymEnt* e = symptr(dtab + SYMHDR + i * SYMWDS);
      if (!e || e->flags == 0xFFFF) break;
      if (e->flags == 0) continue;
      const auto* p = reinterpret_cast<const uint8_t*>(e);
      b.insert(b.end(), p, p + sizeof(SymEnt));
    }
    lstsym(b, "Define table");
  }
  defsym = defsv;
  if (open) MRETRN(0);
  state = st0 & ~0x8180;
  if (c.cmd.empty() || c.last < 0 || get16(c.cmd.data() + c.last + 2) != CM_RETURN) {
    // Stopped early: no closing return was stored.
    if (!c.errors) c.errors++;
  }

  if (!c.errors) c.resolve();
  // Named references move to the front.
  std::vector<Rel> refs;
  for (const Rel& r : c.rel)
    if (r.code == 0) refs.push_back(r);
  if (trcmsk & 4) {
    jprintf(dbglun, "\nRelocation table\n  Flag\tLoc\tLabel Levl\tAddr1\tAddr2\tAddr3\n");
    for (const Rel& r : c.rel) {
      if (r.code == 0) jprintf(dbglun, " %5d %5d\t%-16s\n", 0, 0, r.name);
      else
        jprintf(dbglun, " %5d %5d %5d %5d %7ld %7ld %7ld\n", int(r.code), int(r.line), int(r.num),
                int(r.depth), long(r.addr1), long(r.addr2), long(r.addr3));
    }
  }
  if ((trcmsk & 4) && !c.errors) {
    jprintf(dbglun, "\nCommand table:\n\tAddr  Key  Args Words\tNext  Arg1\tArg2  Cmd\n");
    for (int32_t off = 0; off + RECHDR <= int32_t(c.cmd.size());) {
      const uint8_t* r = c.cmd.data() + off;
      int16_t code = get16(r + 2);
      int32_t next = get32(r + 4);
      char kw[24] = "";
      cmdnam(code < 0 ? -code : code, kw);
      if (code < 0 || r[0] < 2)
        jprintf(dbglun, "%7ld %4d %5d %5d %7ld\t\t\t%s\n", long(off), int(code), int(r[0]), int(r[1]),
                long(next), kw);
      else
        jprintf(dbglun, "%7ld %4d %5d %5d %7ld %5d %5d  %s\n", long(off), int(code), int(r[0]),
                int(r[1]), long(next), int(get16(r + RECHDR)), int(get16(r + RECHDR + 2)), kw);
      // The records in file order; the listing stops at a backward link.
      int32_t end = code < 0 ? off + recsiz(r) : next;
      if (code >= 0 && next <= off) break;
      off = end;
    }
  }
  for (const Rel& r : refs) jprintf(errlun, "Warning -- unresolved reference: %12.12s\n", r.name);
  if (c.errors) {
    jprintf(errlun, "%d errors detected\n", c.errors);
    setres(-c.errors, 0);
    return 0;
  }

  // The file: the macro's path less its extension, ".cmo" while references
  // remain, else ".cmp".
  std::string out = path;
  if (out.size() > 4 && out[out.size() - 4] == '.') out.resize(out.size() - 4);
  out += refs.empty() ? ".cmp" : ".cmo";
  std::vector<uint8_t> body(CMPHDR);
  const uint32_t sysz = uint32_t(syms.size() * 24), rlsz = uint32_t(refs.size() * RELSZ);
  const uint32_t cmds = uint32_t(c.cmd.size());
  put16(&body[0], 0);
  put16(&body[2], CMPTYPE);
  put16(&body[4], refs.empty() ? CMPKIND : CMPKIND + 1);
  put16(&body[6], CMPHDR);
  put16(&body[8], int(c.rel.size()) + 1);
  put16(&body[10], int((sysz + rlsz + cmds - 1) / 512 + 1));
  put32(&body[12], int32_t(sysz));
  put32(&body[16], int32_t(rlsz));
  put32(&body[20], 0);
  put32(&body[24], int32_t(cmds));
  for (const SymEnt& s : syms) {
    uint8_t e[24];
    std::memcpy(e, &s, 24);
    body.insert(body.end(), e, e + 24);
  }
  for (const Rel& r : refs) {
    uint8_t e[RELSZ] = {0};
    std::memcpy(e + 8, r.name, 12);
    body.insert(body.end(), e, e + RELSZ);
  }
  body.insert(body.end(), c.cmd.begin(), c.cmd.end());
  // The file: a blank header of CMPBASE bytes (the file layer's), then the
  // compiled data written through the file variable's stream; all of it
  // into a temporary file that takes the name when complete, so that a
  // failed write leaves the old file (or none).
  TmpWrite tw;
  int err = tmpaim(hostpath(out), &tw);
  if (err == 0) err = tmpmake(&tw);
  const int omode = !tw.temp.empty() ? UM_UPDATE : tw.straight ? UM_CREATE : UM_UPDATE | UM_CREATE;
  int u = err == 0 ? openf(tw.temp.empty() ? out.c_str() : tw.temp.c_str(), omode, 512) : -1;
  if (u < 0 && err == 0) err = errno ? errno : EIO;
  static const uint8_t blank[CMPBASE] = {};
  werrno = 0;
  // A file made in place (no room for a temporary name) goes again.
  const int del = tw.temp.empty() && !tw.straight ? 1 : 0;
  if (u > 0 && wrtblk(u, 0, blank, CMPBASE, 0) != CMPBASE) {
    closef(u, del);
    u = -1;
  }
  PtrRec* fv = u > 0 ? putptr(K_FILE, 0, nullptr, 0, 8, 0) : nullptr;
  if (u > 0 && !fv) closef(u, del);
  if (!fv) {
    tmpend(&tw, false);
    if (werrno) {
      // The header could not be written: a write failure, said why.
      state &= ~ST_ERROR;
      cmperr(out, werrno);
      return 0;
    }
    if (err) jprintf(errlun, "%s: %s\n", out.c_str(), std::strerror(err));
    jprintf(errlun, "error opening %s\n", out.c_str());
    jprintf(errlun, "%d errors detected\n", 1);
    setres(-1, 0);
    return 0;
  }
  filrec(fv)->Lun = uint8_t(u);
  stmset(fv, 0);
  const bool before = state & ST_ERROR;
  int32_t w = wrtptr(fv, body.data(), int32_t(body.size()));
  const int werr = werrno;
  freptr(fv);  // closes the unit
  frebuf(fv);
  bool ok = w == int32_t(body.size()) && (before || !(state & ST_ERROR));
  err = tmpend(&tw, ok);
  if (err != 0) {
    if (!before) state &= ~ST_ERROR;
    cmperr(out, err > 0 ? err : werr ? werr : EIO);
    return 0;
  }
  setres(0, 0);
  return 0;
}

int loopcompil(int code, std::string* read) {
  if (read) read->clear();
  if (code != CM_WHILE && code != CM_REPEAT) return -1;
  if (code == CM_REPEAT) return -1;  // a counted loop runs from its text
  // The head line's parse and the reading position, for a loop that must
  // run from its text after all.
  struct Saved {
    char lin[CMDLIN], prs[CMDLIN];
    WORD tab[NWORDS];
    int16_t nw, low, map[MAXARG], na, tok;
    uint16_t flg;
  } sv;
  std::memcpy(sv.lin, linbuf, sizeof sv.lin);
  std::memcpy(sv.prs, prsln, sizeof sv.prs);
  std::memcpy(sv.tab, wrdtab, sizeof sv.tab);
  std::memcpy(sv.map, argmap, sizeof sv.map);
  sv.nw = nwords;
  sv.low = lowmrk;
  sv.na = nargw;
  sv.tok = lsttok;
  sv.flg = prsflg;
  const int16_t line0 = maclin;
  const uint32_t pos0 = curpos, prv0 = prvpos;
  const bool typed = !curfrm();
  const int32_t frame = frmadr;
  const int16_t level = maclev;

  Comp c;
  c.cap = CMDMAX;
  c.maxrel = 200;
  std::string text;  // a typed loop's lines, for its text when refused
  if (typed) c.keep = &text;
  // A line that cannot be parsed sends the loop back to its text, which
  // reports it when it runs: reading ahead stays quiet and keeps #0.
  const int32_t pf0 = pflags;
  const float r0 = getres(0);
  pflags = (pflags | 0x800) & ~0x1000;
  struct Restore {
    int32_t pf;
    ~Restore() { pflags = pf; }
  } restore{pf0};
  c.line(code);
  bool closed = false;
  bool cut = false;  // a typed line that did not fit the command window's line
  int idle = 0;
  while (!c.refuse && !c.full && !closed) {
    if (stopped() || frmadr != frame || maclev != level) {
      c.refuse = true;
      break;
    }
    int cd = 0;
    prsln[0] = 0;
    int n = GETLIN(inunit, &cd, 0x1F);
    if (frmadr != frame || maclev != level) return -1;  // the macro ended
    // The line as it was given to the parser (which rewrites brace lists).
    if (typed && linbuf[0]) text += std::string(prsln[0] ? prsln : linbuf) + "\n";
    if (const char* row = typed && !linbuf[0] && inunit == 0 ? keyfull() : nullptr) {
      // Refused as at the prompt: none of the loop runs (the text read
      // so far, this line's too, tells what is left of it to pass over).
      text += std::string(row) + "\n";
      cut = true;
      break;
    }
    if (n < 1) {
      if (state & ST_ERROR) {
        c.refuse = true;
        break;
      }
      if ((typed && !linbuf[0] && inend()) || ++idle > 100000) {
        c.refuse = true;  // the input gives no more lines
        break;
      }
      continue;
    }
    idle = 0;
    closed = c.line(cd) == 1;
  }
  if (closed) {
    // The end record stands after the loop's last record.
    nwords = 0;
    nargw = 0;
    c.record(LOOPEND, 0);
    c.resolve();
  }
  if (!closed || cut || c.refuse || c.full || c.errors || int32_t(c.cmd.size()) > LOOPMAX) {
    // Back to the head: the loop runs from its text.
    state &= ~ST_ERROR;
    setfres(r0, 0);
    if (cut) {
      pflags = pf0;
      error(0, 186);
    }
    if (typed) {
      if (read) *read = std::move(text);
    } else {
      repos(line0 + 1, pos0 + 1);
      prvpos = prv0;  // the head line's start, where the loop comes back to
    }
    std::memcpy(linbuf, sv.lin, sizeof sv.lin);
    std::memcpy(prsln, sv.prs, sizeof sv.prs);
    std::memcpy(wrdtab, sv.tab, sizeof sv.tab);
    std::memcpy(argmap, sv.map, sizeof sv.map);
    nwords = sv.nw;
    lowmrk = sv.low;
    nargw = sv.na;
    lsttok = sv.tok;
    prsflg = sv.flg;
    maclin = line0;
    return -1;
  }
  int32_t n = int32_t(c.cmd.size());
  ipcloop(std::move(c.cmd), maclin);
  return n;
}
