// Reading and writing channels through the board records.
#include "realtime/devices/boards.h"

#include <algorithm>

#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/joystick.h"
#include "realtime/devices/meascomp.h"
#include "realtime/devices/pport.h"
#include "realtime/devices/serdev.h"

int16_t adcval[16];

namespace {

BoardRec* inboard(int ch) {
  for (auto& b : boards)
    if (b.inkind && ch >= b.in0 && ch < b.in0 + b.nin) return &b;
  return nullptr;
}

// A raw value as the channel gives it: less the zero offset, reversed.
int16_t scaled(const BoardRec* b, int v) {
  v -= b->zero;
  if (b->inrev) v = b->inrev - v;
  return static_cast<int16_t>(v);
}

bool isbox(const BoardRec* b) { return b->inkind == DK_EECADC || b->inkind == DK_GEADC; }

}  // namespace

int getadc(int ch, int* value) {
  BoardRec* b = ch >= 0 && ch < 16 ? inboard(ch) : nullptr;
  if (!b) {
    *value = ch >= 0 && ch < 16 ? adcval[ch] : 0;
    return -1;
  }
  const int k = ch - b->in0;
  int v = 0, st = -1;
  switch (b->inkind) {
    case DK_EECADC: st = adbval(k, &v, 7, b); break;
    case DK_GAMEPORT: v = joyaxis(b, k, &st); break;
    case DK_GEADC: {
      int16_t s = 0;
      st = adbread(1 << k, &s, 0, 6, b);
      v = s;
      break;
    }
    case DK_PPORT:
      v = pport_adc(b->inunit);
      st = v < 0 ? -1 : 0;
      break;
    case DK_MEASCOMP:
      st = mcain(b, k, &v);
      // A scan that has no sample yet: the channel keeps its last value.
      if (st == 1) {
        *value = adcval[ch];
        return 0;
      }
      break;
    default: break;
  }
  const int raw = v;
  if (st >= 0)
    adcval[ch] = scaled(b, v);
  *value = adcval[ch];
  if ((trcmsk & 28) == 28)
    jprintf(dbglun, "getadc(%d) %d %d %d %d %d %d -> %d\n", ch, boardno(b), b->inkind, k, st, raw, b->zero, *value);
  return st;
}

int adcvals(int mask, int16_t* dest, int stride, int flags) {
  uint32_t left = static_cast<uint32_t>(mask) & 0xFFFFu;
  // Boards by their first channel, so values come in rising channel order.
  BoardRec* order[NBOARD];
  int nb = 0;
  for (auto& b : boards) {
    if (!b.inkind || b.nin <= 0) continue;
    int at = nb++;
    for (; at > 0 && order[at - 1]->in0 > b.in0; at--) order[at] = order[at - 1];
    order[at] = &b;
  }
  int st = 0, i = 0;
  for (int j = 0; j < nb && left; j++) {
    BoardRec* b = order[j];
    const uint32_t bits = static_cast<uint16_t>(b->inmask) & left;
    if (!bits) continue;
    left &= ~bits;
    if (isbox(b)) {
      const int local = static_cast<int>(bits >> b->in0);
      int chans[16];
      const int n = adbchans(b, local, chans);
      int16_t v[16] = {};
      const int r = adbread(local, v, 1, flags, b);
      if (r < 0) return r;
      for (int c = 0; c < n; c++) {
        const int ch = b->in0 + chans[c];
        adcval[ch] = scaled(b, v[c]);
        dest[stride * i++] = adcval[ch];
      }
      st = r;
      continue;
    }
    for (int ch = 0; ch < 16; ch++) {
      if (!(bits & (1u << ch))) continue;
      int v = 0;
      const int r = getadc(ch, &v);
      if (r < 0) return r;
      dest[stride * i++] = static_cast<int16_t>(v);
      st = r;
    }
  }
  return st;
}

int getdig(int32_t* bits, int32_t mask, int flags) {
  int s = 0, fail = 0;
  bool answered = false;
  int32_t out = 0;
  for (auto& b : boards) {
    if (!b.outkind) continue;
    const uint32_t dm = static_cast<uint16_t>(b.digmask);
    if (s < 32 && ((dm << s) & static_cast<uint32_t>(mask))) {
      int v = 0, bst = -1;
      if (b.outkind == DK_GAMEPORT) {
        int x, y, z;
        v = getjoy(&b, &x, &y, &z, 0, &bst);
      } else if (b.outkind == DK_SRBOX) {
        v = comdig(&b, &bst, flags);
      }
      if (bst >= 0) {
        out |= static_cast<int32_t>(((static_cast<uint32_t>(v) ^ static_cast<uint16_t>(b.xormask)) & dm) << s);
        answered = true;
      } else {
        fail = bst;
      }
    }
    trcint(64, "getdig", boardno(&b), s, b.outkind, static_cast<int>(out), fail, 0);
    s += b.ndigin;
  }
  const int st = fail ? fail : answered ? 0 : -1;
  trcint(64, " ==>  ", 0, mask, flags, static_cast<int>(out), st, 0);
  *bits = out;
  return st;
}

int digout(int32_t value) {
  int s = 0, st = -1;
  for (auto& b : boards) {
    if (!b.outkind) continue;
    const int nbits = std::clamp<int>(b.ndigout, 0, 31);
    if (nbits > 0 && s < 32) {
      const uint32_t bits =
          ((static_cast<uint32_t>(value) >> s) ^ static_cast<uint16_t>(b.xormask)) & ((1u << nbits) - 1);
      if (b.outkind == DK_MEASCOMP) {
        // The bits are dealt out port by port, to the positions the port
        // mask makes outputs.
        int next = 0, r = 0;
        for (int p = 0; p < b.nports; p++) {
          int pbits = 0, got = 0;
          for (int j = 0; j < b.portbits && j < 16; j++) {
            if (!((b.portmask >> j) & 1) || next >= nbits) continue;
            pbits |= static_cast<int>((bits >> next++) & 1u) << j;
            got++;
          }
          if (got) r = mcdout(&b, p == 0 ? 10 : 11, pbits);
          trcint(64, "digout mc", p, pbits, got, r, 0, 0);
        }
        st = r;
      } else {
        st = -1;
      }
    }
    s += nbits;
  }
  return st;
}

int dacout(int, int) { return -1; }
