// The accept function: a value asked of the user.
#include "core/accept.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/args.h"
#include "core/element.h"
#include "core/format.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/keylog.h"
#include "files/rdary.h"
#include "lang/mainloop.h"
#include "ui/alert.h"
#include "ui/events.h"

namespace {

constexpr int PROMPT = 512;   // the prompt and its formatted text
constexpr int CODE_ACCEPT = 247;

// A number constant record in the scratch area.
PtrRec* numrec(float v) {
  PtrRec* r = putptr(K_CONST, 0, nullptr, 0, W_FLOAT, 1);
  if (!r) {
    error(0, 42);
    return nullptr;
  }
  r->Idx = -1;
  std::memcpy(&r->Addr, &v, 4);
  r->Length = 1;
  return r;
}

// A string record over a scratch copy of text.
PtrRec* strrec(const char* text) {
  int32_t l = static_cast<int32_t>(std::strlen(text));
  auto* d = static_cast<char*>(getbuf(l + 1));
  PtrRec* r = d ? putptr(K_STRING, 0, nullptr, 0, W_BYTE, 1) : nullptr;
  if (!r) {
    error(0, 42);
    return nullptr;
  }
  std::memcpy(d, text, static_cast<size_t>(l) + 1);
  r->Idx = -1;
  r->Addr = static_cast<uint32_t>(stkadr(d));
  r->Length = l;
  return r;
}

// Blanks become newlines once a line has passed width - 10 characters.
void wrap(char* s, int32_t n, int width) {
  if (width < 21) return;
  int col = 0;
  for (int32_t i = 0; i < n && s[i]; i++) {
    if (s[i] == '\n') {
      col = 0;
    } else if (s[i] == ' ' && col > width - 10) {
      s[i] = '\n';
      col = 0;
    } else {
      col++;
    }
  }
}

// The text of an answer record for the key log (at most size - 1 bytes).
void anstxt(PtrRec* r, char* buf, int size) {
  buf[0] = 0;
  if (!r || size < 2) return;
  if (r->Flg & K_STRING) {
    if (!(r->Flg & K_LIST) && r->Length > 0)
      std::snprintf(buf, static_cast<size_t>(size), "%.*s", r->Length,
                    static_cast<const char*>(stkptr(static_cast<int32_t>(r->Addr))));
    return;
  }
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  savoff(r);
  int n = 0;
  for (int32_t i = 0; i < cnt && n < size - 16; i++) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    n += std::snprintf(buf + n, static_cast<size_t>(size - n), i ? " %g" : "%g", GSTACK(r));
  }
}

void logacc(const char* prompt, const char* answer) {
  char t[PROMPT];
  std::snprintf(t, sizeof t, "%.20s  -> <%s>", prompt, answer);
  logevt("Acpt", 0, t, 0);
}

// The pending-command queues look empty while the question is asked.
struct Aside {
  PendQ d, t;
  int16_t flag;
  int32_t bit;
  Aside() : d(dfltq), t(typq), flag(qflag), bit(state & ST_QUEUED) {
    dfltq = {0, 0, 0};
    typq = {0, 0, 0};
    qflag = 0;
    state &= ~ST_QUEUED;
  }
  ~Aside() {
    dfltq = d;
    typq = t;
    qflag = flag;
    state |= bit;
  }
};

}  // namespace

PtrRec* Zaccpt(int code, int kind, int wsiz) {
  if (code != CODE_ACCEPT) {
    // The typed input of other commands: a brace block from the input unit.
    int k = kind >= 1 ? (kind & 0xFF0) : K_ARRAY;
    return rdary(inpunt(), k, wsiz, nullptr, code > 0 ? code : 1, nullptr);
  }
  setres(0, 0);
  int mode = argknd(4, 0);
  if (mode == 0) mode = intarg(4, 64);
  if (kind < 1) {
    kind = mode;
    wsiz = argknd(5, 63);
  }
  kind &= 0xFF0;
  const bool box = mode == 2 || mode == 3;

  char prompt[PROMPT];
  float v = 0.0f;
  int plen = 0;
  int pk = getarg(2, &v, prompt, sizeof prompt, &plen);
  if (!(pk & K_STRING)) prompt[0] = 0;
  int32_t dh = 0;
  int dk = argtyp(3, &dh);
  const bool hasdef = dk != 0;
  const int x = intarg(5, -1), y = intarg(6, -1), width = intarg(7, 0), height = intarg(8, 0);

  const bool queued = qpend(&dfltq) || qpend(&typq) || (state & ST_QUEUED);
  Aside aside;

  if (box) {
    char text[ALERTTXT];
    text[0] = 0;
    if (hasdef) {
      float dv = 0.0f;
      int l = 0;
      if (getarg(3, &dv, text, sizeof text, &l) & K_STRING)
        text[sizeof text - 1] = 0;
      else
        std::snprintf(text, sizeof text, "%d", lngarg(3, 0));
    }
    if (mode == 3) {
      const char* btn = intarg(3, 0) ? "!Yes;No" : "!No;Yes";
      int b = Alertb(prompt, btn, 0, "", nullptr, x, y, width, height);
      int yes = intarg(3, 0) ? b == 1 : b == 2;
      logacc(prompt, yes ? "Yes" : "No");
      if (stopped()) setres(-1, 0);
      return numrec(yes ? 1.0f : 0.0f);
    }
    Alertb(prompt, "!OK", 2, "Accept", text, x, y, width, height);
    text[sizeof text - 1] = 0;
    logacc(prompt, text);
    if (stopped()) setres(-1, 0);
    if (kind & K_STRING) {
      PtrRec* r = strrec(text);
      if (r) wrap(static_cast<char*>(stkptr(static_cast<int32_t>(r->Addr))), r->Length, width);
      return r;
    }
    return numrec(nrwflt(std::strtod(text, nullptr)));
  }

  // At the keyboard: the prompt, formatted over the default when it holds
  // directives.
  if (prompt[0]) {
    char shown[PROMPT];
    if (hasdir(prompt)) {
      int32_t h[1] = {hasdef ? dh : 0};
      format(1, shown, prompt, h, 1, sizeof shown, nullptr, nullptr);
      if (state & ST_ERROR) return nullptr;
    } else {
      std::snprintf(shown, sizeof shown, "%s", prompt);
    }
    jprintf(1, "%s", shown);
  }

  if (mode == 1) {
    int key = queued ? 0 : getkey(0);
    static const char keys[] = "\202\201nyNY";
    const char* at = key > 0 && key < 256 ? std::strchr(keys, key) : nullptr;
    int yes = at ? static_cast<int>(at - keys) & 1 : intarg(3, 0) & 1;
    if (prompt[0]) {
      if (key > 0 && key < 128 && std::isalpha(key)) jprintf(1, "%c", key);
      jprintf(1, "\n");
    }
    char a[2] = {static_cast<char>(yes ? 'Y' : 'N'), 0};
    logacc(prompt, a);
    if (stopped()) setres(-1, 0);
    return numrec(yes ? 1.0f : 0.0f);
  }

  PtrRec* def = nullptr;
  if (hasdef) {
    int32_t c = 0;
    def = argary(3, &c);
  }
  int key = getkey(0);
  if (key == 129) return def;
  if (key == 130) return nullptr;
  if (key > 0) pushkey(key);
  int limit = PROMPT - 1;
  if (kind & K_STRING) {
    int l5 = intarg(5, 0);
    if (l5 > 0) limit = l5;
  }
  PtrRec* r = rdary(0, kind, (kind & K_STRING) ? 0 : wsiz, nullptr, -limit, nullptr);
  if (stopped()) {
    setres(-1, 0);
    return r;
  }
  if (!r || r->Length < 1) return def;
  if ((r->Flg & K_STRING) && !(r->Flg & K_LIST))
    wrap(static_cast<char*>(stkptr(static_cast<int32_t>(r->Addr))), r->Length, width);
  char a[PROMPT];
  anstxt(r, a, sizeof a);
  logacc(prompt, a);
  return r;
}
