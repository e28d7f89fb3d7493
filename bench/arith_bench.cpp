// Element-wise arithmetic through the interpreter on 4096 x 4096 arrays:
// c = a + b and c = a * 2.5 + b, for 16-bit integers and for floats. Each
// iteration is one command line: the scratch area is reset, the line is
// parsed and ordered, and the argument access resolves it and runs doexpr
// (the sum is stored straight into c; a * 2.5 goes through a float
// temporary). bench/arith_bench.sh runs this and the same operations in
// numpy and prints the ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compute/arith.h"
#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"

namespace {

constexpr int32_t SIDE = 4096;
constexpr int32_t N = SIDE * SIDE;

struct Vars {
  int32_t a, b, c;
  const char* add;
  const char* muladd;
};
Vars v16, vfl;

int32_t decl(const char* name, int wsiz) {
  return putsym(0, name, static_cast<int>(std::strlen(name)), K_ARRAY | 0x1001 | 0x4000, 0, 0,
                wsiz);
}

int32_t rec(int32_t entry) {
  SymEnt* e = symptr(entry);
  PtrRec* r = putptr((e->flags & 0x1FF0) | (e->flags & 4), 0, nullptr, 0, e->type, 1);
  r->Idx = entry;
  r->Addr = static_cast<uint32_t>(e->data);
  r->Flg2 = e->flags & 0xC00F;
  return stkadr(r);
}

// Makes a variable of N items in high memory, filled with f(i).
int32_t make(const char* name, int wsiz, double (*f)(int32_t)) {
  int32_t e = decl(name, wsiz);
  PtrRec* r = ptrrec(rec(e));
  if (asnvrb(r, N, nullptr, 0) < 0) {
    std::fprintf(stderr, "arith_bench: no room for %s\n", name);
    std::exit(1);
  }
  if (!f) return e;
  r = ptrrec(rec(e));
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 115);
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) DMPVRB(r, &p, 1, i);
    PSTACK(f(i), r);
  }
  DMPVRB(r, &p, 0, 0);
  return e;
}

double fa(int32_t i) { return (i % 2000) - 1000; }
double fb(int32_t i) { return (i % 317) * 3; }

void setup() {
  static bool done = false;
  if (done) return;
  done = true;
  MakStk();
  rststk();
  nameini();
  static const char cmd[] = "arith_bench";
  mksyms(cmd, static_cast<int>(sizeof cmd - 1));
  rststk();
  // Three arrays of each type and a float temporary: about 350 MB.
  state = ST_STARTUP;  // quiet
  highmem(400 * 1024);
  state = 0;
  v16 = {make("a16", 16, fa), make("b16", 16, fb), make("c16", 16, nullptr), "c16 = a16 + b16",
         "c16 = a16 * 2.5 + b16"};
  vfl = {make("af", 96, fa), make("bf", 96, fb), make("cf", 96, nullptr), "cf = af + bf",
         "cf = af * 2.5 + bf"};
}

// One command line: parsed, ordered and evaluated through the argument
// access, on a fresh scratch area.
void run(const char* line) {
  state = 0;
  lstsrc = 0;
  lsttok = -1;
  rststk();
  std::snprintf(linbuf, sizeof linbuf, "%s", line);
  prsflg = PF_PARSE | PF_ORDER;
  int code = 0;
  float v;
  if (PARSLN(static_cast<int>(std::strlen(linbuf)), &code) <= 0 || Aftpro(&code) != 0 ||
      getarg(1, &v, nullptr, 0, nullptr) <= 0)
    state |= ST_ERROR;
}

double item0(int32_t entry, int32_t i) {
  PtrRec* r = ptrrec(rec(entry));
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 0);
  setpos(r, i);
  return GSTACK(r);
}

void check(benchmark::State& st, const Vars& v, double want0) {
  if (state & ST_ERROR || item0(v.c, 0) != want0) st.SkipWithError("wrong result");
}

void BM_add(benchmark::State& st, const Vars* v) {
  setup();
  for (auto _ : st) run(v->add);
  check(st, *v, fa(0) + fb(0));
  st.SetItemsProcessed(st.iterations() * N);
}

void BM_muladd(benchmark::State& st, const Vars* v) {
  setup();
  for (auto _ : st) run(v->muladd);
  check(st, *v, fa(0) * 2.5 + fb(0));
  st.SetItemsProcessed(st.iterations() * N);
}

}  // namespace

BENCHMARK_CAPTURE(BM_add, int16, &v16)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_muladd, int16, &v16)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_add, float32, &vfl)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_muladd, float32, &vfl)->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK_MAIN();
