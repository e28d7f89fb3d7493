// Alarms: the alarm command, the alarm list and the due check.
#include "lang/alarm.h"

#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/macro.h"
#include "lang/parse.h"
#include "lang/names.h"
#include "ui/clocks.h"

#include <cmath>
#include <cstring>

int32_t almhead = 0;

namespace {
constexpr int E_ALARM = 154;  // bad alarm time, text or number
constexpr int E_INTERNAL = 71;
constexpr int E_ALMFULL = 153;  // every alarm number from 1 to 255 is taken

AlmRec* rec(int32_t a) { return a > 0 ? static_cast<AlmRec*>(stkptr(a)) : nullptr; }

// Calendar dates as day numbers, so that whole days carried past a month's
// or a year's end give a real date.
int64_t civil2days(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void days2civil(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

uint32_t pack(int y, int m, int d) {
  return static_cast<uint32_t>(d) | static_cast<uint32_t>(m) << 5 | static_cast<uint32_t>(y) << 9;
}
int pday(uint32_t p) { return static_cast<int>(p & 31); }
int pmonth(uint32_t p) { return static_cast<int>(p >> 5 & 15); }
int pyear(uint32_t p) { return static_cast<int>(p >> 9); }

// Now: today's packed date and the time of day in centiseconds.
uint32_t today() { return static_cast<uint32_t>(gtime(nullptr)); }
int32_t nowcs() { return gclock(nullptr) / 10; }

// The moment (date, time of day) as one ordered value in centiseconds.
int64_t moment(uint32_t date, int32_t cs) {
  return civil2days(pyear(date), pmonth(date), pday(date)) * CSDAY + cs;
}

// Unlinks the record at address a; false when it is not in the list.
bool unlink(int32_t a) {
  int32_t* link = &almhead;
  while (*link != 0) {
    if (*link == a) {
      *link = static_cast<int32_t>(rec(a)->next);
      rec(a)->next = 0;
      return true;
    }
    link = reinterpret_cast<int32_t*>(&rec(*link)->next);
  }
  return false;
}

// Inserts the record in order of due moment, after the alarms due at the
// same moment.
void insert(int32_t a) {
  const int64_t m = moment(rec(a)->date, rec(a)->due);
  int32_t* link = &almhead;
  while (*link != 0 && moment(rec(*link)->date, rec(*link)->due) <= m)
    link = reinterpret_cast<int32_t*>(&rec(*link)->next);
  rec(a)->next = static_cast<uint32_t>(*link);
  *link = a;
}

// Sets the due moment d centiseconds from now.
void schedule(AlmRec* r, int64_t d) {
  const uint32_t t = today();
  int64_t due = nowcs() + d;
  const int64_t days = due / CSDAY;
  r->due = static_cast<int32_t>(due % CSDAY);
  int y, m, dd;
  days2civil(civil2days(pyear(t), pmonth(t), pday(t)) + days, &y, &m, &dd);
  r->date = pack(y, m, dd);
}

// The lowest number from 1 to 255 that no alarm holds; 0 when all are taken.
int freenum() {
  bool used[ALM_MAXNUM + 1] = {};
  for (int32_t a = almhead; a != 0; a = static_cast<int32_t>(rec(a)->next)) used[rec(a)->number] = true;
  for (int n = 1; n <= ALM_MAXNUM; n++)
    if (!used[n]) return n;
  return 0;
}

void freerec(int32_t a) {
  clrpst(&rec(a)->q);
  putstk(a, 0, 0);
  if (almhead == 0) state &= ~ST_ALARMS;
}

const char* text(const AlmRec* r) {
  return r->q.blk > 0 ? static_cast<const char*>(stkptr(r->q.blk)) : "";
}

// Reads "hh:mm" or "hh:mm:ss" (any single separator) as seconds; -1 when
// the hour or the minute number is missing.
long daytime(const char* s) {
  auto number = [&s](long* v) {
    if (*s < '0' || *s > '9') return false;
    *v = 0;
    while (*s >= '0' && *s <= '9') *v = *v * 10 + (*s++ - '0');
    return true;
  };
  while (*s == ' ') s++;
  long h = 0, m = 0, sec = 0;
  if (!number(&h) || !*s) return -1;
  s++;
  if (!number(&m)) return -1;
  if (*s) {
    s++;
    number(&sec);
  }
  if (h > 23 || m > 59 || sec > 59) return -1;
  return h * 3600 + m * 60 + sec;
}

// Whether the command was typed: no macro runs and no typed lines wait.
bool typed() { return macmod == 0 && !qpend(&typq); }
}  // namespace

AlmRec* setalm(int* n, float value, AlmRec* r) {
  if (*n >= 0 && !r) {
    for (int32_t a = almhead; a != 0; a = static_cast<int32_t>(rec(a)->next))
      if (rec(a)->number == *n) return rec(a);
    return nullptr;
  }
  if (r) {
    const int32_t a = static_cast<int32_t>(r->self);
    if (!unlink(a)) {
      error(21, E_INTERNAL);
      return nullptr;
    }
    if (value >= 0) {
      freerec(a);
      return nullptr;
    }
    schedule(r, std::llround(std::fabs(static_cast<double>(value)) * 100.0));
    insert(a);
    *n = r->number;
    return r;
  }
  const int num = freenum();
  if (num == 0) {
    error(2, E_ALMFULL);
    return nullptr;
  }
  auto* nr = static_cast<AlmRec*>(zeroblk(sizeof(AlmRec)));
  if (!nr) return nullptr;
  const int32_t a = static_cast<int32_t>(nr->self);
  // The text block records the queue word as its owner.
  if (savcmd(nullptr, -3, 0, &nr->q) < 1) {
    putstk(a, 0, 0);
    error(3, E_ALARM);
    return nullptr;
  }
  nr = rec(a);
  ptrstk(nr->q.blk, a + static_cast<int32_t>(offsetof(AlmRec, q) / 4));
  nr->prio = static_cast<uint8_t>(intarg(4, 0) & 127);
  nr->interval = value;
  int64_t d = std::llround(std::fabs(static_cast<double>(value)) * 100.0);
  if (*n == -2) {
    d = static_cast<int64_t>(value) * 100 - nowcs();
    if (d < 0) d += CSDAY;
    nr->interval = static_cast<float>(d) / 100.0f;
  }
  schedule(nr, d);
  nr->number = static_cast<uint8_t>(num);
  insert(a);
  state |= ST_ALARMS;
  *n = num;
  return nr;
}

int almlst(int n, int detail) {
  bool shown = false;
  const uint32_t t = today();
  const int64_t now = moment(t, nowcs());
  for (int32_t a = almhead; a != 0 && !(state & 0x8180); a = static_cast<int32_t>(rec(a)->next)) {
    const AlmRec* r = rec(a);
    if (n > 0 && r->number != n) continue;
    shown = true;
    const int32_t s = r->due / 100;
    jprintf(lstlun, "Alarm %2d set for:  %2d:%2d:%2d ", r->number, s / 3600, s / 60 % 60, s % 60);
    if (r->date != t)
      jprintf(lstlun, "%2d/%2d/%4d", pmonth(r->date), pday(r->date), pyear(r->date));
    else
      jprintf(lstlun, "today");
    if (detail) {
      int64_t left = (moment(r->date, r->due) - now) / 100;
      if (left < 0) left = 0;
      jprintf(lstlun, "\n\tTime remaining: %4d:%2d:%2d\n", static_cast<int>(left / 3600),
              static_cast<int>(left / 60 % 60), static_cast<int>(left % 60));
      jprintf(lstlun, "   Delay: %.1f\tPriority level: %d", static_cast<double>(r->interval), r->prio);
    }
    jprintf(lstlun, "\n\tCommand:  %s\n", text(r));
    if (detail && (r->prio & ALM_OFF)) jprintf(lstlun, "   NOTE: Alarm disabled\n");
    if (n > 0) break;
  }
  if (!shown) jprintf(lstlun, "Alarm not set\n");
  return 0;
}

void almclr() {
  while (almhead != 0) {
    const int32_t a = almhead;
    almhead = static_cast<int32_t>(rec(a)->next);
    clrpst(&rec(a)->q);
    putstk(a, 0, 0);
  }
  state &= ~ST_ALARMS;
}

bool almhold = false;

int alarmck(int force) {
  if (almhead == 0) {
    state &= ~ST_ALARMS;
    return 0;
  }
  int lowest = alevel;
  if (lowest == 0 && (force || macmod != 0)) lowest = 1;
  const int64_t now = moment(today(), nowcs());
  for (int32_t a = almhead; a != 0; a = static_cast<int32_t>(rec(a)->next)) {
    AlmRec* r = rec(a);
    if (moment(r->date, r->due) > now) break;
    if ((r->prio & ALM_OFF) || (r->prio & 127) < lowest) continue;
    const char* t = text(r);
    xeqstr(t, 0, static_cast<int>(std::strlen(t)));
    int n = -1;
    setalm(&n, r->interval < 0 ? r->interval : 0.0f, rec(a));
    return -1;
  }
  return 0;
}

int Alarm() {
  float v = 0;
  char buf[LINBUF];
  int len = 0;
  const int k2 = getarg(2, &v, buf, sizeof buf, &len);
  const int k3 = nargs() >= 3 ? getarg(3, nullptr, nullptr, 0, nullptr) : 0;
  const bool text3 = (k3 & K_STRING) && !(k3 & K_LIST);
  if (k2 & K_STRING) {
    const long t = daytime(buf);
    if (t < 0 || !text3) {
      error(2, E_ALARM);
      return 0;
    }
    int n = -2;
    if (setalm(&n, static_cast<float>(t), nullptr)) setres(n, 0);
    return 0;
  }
  if (k2 == 0) {
    if (k3 != 0) {
      error(2, E_ALARM);
      return 0;
    }
    setres(0, 0);
    return almlst(0, 1);
  }
  if (text3) {
    if (v == 0) {
      error(2, E_ALARM);
      return 0;
    }
    int n = -1;
    if (setalm(&n, v, nullptr)) setres(n, 0);
    return 0;
  }
  // Enable (1), disable (-1) or cancel (0) alarm n, all when n <= 0.
  const int op = v > 0 ? 1 : v < 0 ? -1 : 0;
  if (v != op) {
    error(3, E_ALARM);  // a delay without its command text
    return 0;
  }
  const int n = intarg(3, typed() ? -1 : 0);
  int result = 0;
  bool found = false;
  for (int32_t a = almhead; a != 0 && !(state & 0x8180);) {
    AlmRec* r = rec(a);
    const int32_t next = static_cast<int32_t>(r->next);
    if (n > 0 && r->number != n) {
      a = next;
      continue;
    }
    found = true;
    if (n < 0) {
      almlst(r->number, 1);
      static const char* const pre[3] = {"Dea", "A", "Ina"};
      jprintf(lstlun, "%sctivate? [y] ", pre[op == 0 ? 0 : op > 0 ? 1 : 2]);
      const int32_t before = state & ST_ERROR;
      const int ans = yesno(-1);
      jprintf(lstlun, "\n");
      state = (state & ~ST_ERROR) | before;
      if (ans < 0) break;
      if (ans == 0) {
        a = next;
        continue;
      }
      r = rec(a);
    }
    if (op == 0) {
      result = (r->prio & ALM_OFF) ? -1 : 1;
      int m = -1;
      setalm(&m, 0.0f, r);
    } else if (op > 0) {
      r->prio &= static_cast<uint8_t>(~ALM_OFF);
      result = 1;
    } else {
      r->prio |= ALM_OFF;
      result = -1;
    }
    if (n > 0) break;
    a = next;
  }
  if (n > 0 && !found) jprintf(lstlun, "Alarm not set\n");
  setres(result, 0);
  return 0;
}
