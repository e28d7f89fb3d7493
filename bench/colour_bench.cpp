// A 30-degree rotation of a 4096 x 4096 byte image (the function transform,
// nearest source pixel) and the mapping of a 4096 x 4096 16-bit image and
// of a byte image through lookup tables (the function map), each one command
// line through the interpreter. bench/colour_bench.sh runs this and the
// same operations in OpenCV (cv2.warpAffine nearest, cv2.LUT) and numpy and
// prints the ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/docmnd.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"

namespace {

constexpr int32_t SIDE = 4096;
constexpr int32_t N = SIDE * SIDE;

int32_t rec(int32_t entry) {
  SymEnt* e = symptr(entry);
  PtrRec* r = putptr((e->flags & 0x1FF0) | (e->flags & 4), 0, nullptr, 0, e->type, 1);
  r->Idx = entry;
  r->Addr = static_cast<uint32_t>(e->data);
  r->Flg2 = e->flags & 0xC00F;
  return stkadr(r);
}

// A variable of kind `kind` and n items (side x side when an image) in high
// memory, filled with f(i).
int32_t make(const char* name, int kind, int wsiz, int32_t n, double (*f)(int32_t)) {
  int32_t e = putsym(0, name, static_cast<int>(std::strlen(name)), kind | 0x1001 | 0x4000, 0, 0, wsiz);
  PtrRec* r = ptrrec(rec(e));
  PtrRec shape{};
  const PtrRec* tmpl = nullptr;
  if (kind & K_HDR) {
    shape.Offs[3] = shape.Datdims[0] = SIDE;
    shape.Offs[4] = shape.Datdims[1] = static_cast<uint32_t>(n / SIDE);
    shape.Offs[5] = shape.Datdims[2] = 1;
    tmpl = &shape;
  }
  if (asnvrb(r, n, tmpl, 0) < 0) {
    std::fprintf(stderr, "colour_bench: no room for %s\n", name);
    std::exit(1);
  }
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

double fimg(int32_t i) { return (i * 7 + i / SIDE * 13) % 251; }
double fw16(int32_t i) { return (i * 5 + i / SIDE) % 4096; }
double flut(int32_t i) { return (i * 3) % 30000; }
double flut8(int32_t i) { return 255 - i; }
double zero(int32_t) { return 0; }

// One command line as the main loop runs it: an assignment or expression
// through the argument access, a command through the dispatcher.
void run(const char* line) {
  state = 0;
  lstsrc = 0;
  lsttok = -1;
  rststk();
  std::snprintf(linbuf, sizeof linbuf, "%s", line);
  prsflg = PF_PARSE | PF_ORDER;
  int code = 0;
  float v;
  if (PARSLN(static_cast<int>(std::strlen(linbuf)), &code) <= 0 || Aftpro(&code) != 0) {
    state |= ST_ERROR;
    return;
  }
  if (code == 115 || code == 200)
    getarg(1, &v, nullptr, 0, nullptr);
  else
    DOCMND(code);
}

void setup() {
  static bool done = false;
  if (done) return;
  done = true;
  MakStk();
  rststk();
  nameini();
  static const char cmd[] = "colour_bench";
  mksyms(cmd, static_cast<int>(sizeof cmd - 1));
  rststk();
  state = ST_STARTUP;  // quiet
  highmem(300 * 1024);
  state = 0;
  make("qa", K_IMAGE, 8, N, fimg);
  make("qb", K_IMAGE, 8, N, zero);
  make("qc", K_IMAGE, 16, N, fw16);
  make("qd", K_IMAGE, 16, N, zero);
  make("qlut", K_ARRAY, 16, 4096, flut);
  make("qlut8", K_ARRAY, 8, 256, flut8);
  run("pin qa 2048 2048 0");
  run("rotate qa 0 0 30");
  if (state & ST_ERROR) {
    std::fprintf(stderr, "colour_bench: the transform could not be set\n");
    std::exit(1);
  }
}

double item(const char* name, int32_t i) {
  int32_t e = GETSYM(name, static_cast<int>(std::strlen(name)), nullptr, 0);
  PtrRec* r = ptrrec(rec(e));
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 0);
  setpos(r, i);
  return GSTACK(r);
}

void BM_rotate(benchmark::State& st) {
  setup();
  for (auto _ : st) run("qb = transform(qa)");
  // The centre stays where it is.
  if ((state & ST_ERROR) || item("qb", 2048 * SIDE + 2048) != fimg(2048 * SIDE + 2048))
    st.SkipWithError("wrong result");
  st.SetItemsProcessed(st.iterations() * N);
}

void BM_map16(benchmark::State& st) {
  setup();
  for (auto _ : st) run("qd = map(qc, qlut)");
  if ((state & ST_ERROR) || item("qd", 12345) != flut(static_cast<int32_t>(fw16(12345))))
    st.SkipWithError("wrong result");
  st.SetItemsProcessed(st.iterations() * N);
}

void BM_map8(benchmark::State& st) {
  setup();
  for (auto _ : st) run("qb = map(qa, qlut8)");
  if ((state & ST_ERROR) || item("qb", 12345) != flut8(static_cast<int32_t>(fimg(12345))))
    st.SkipWithError("wrong result");
  st.SetItemsProcessed(st.iterations() * N);
}

}  // namespace

BENCHMARK(BM_rotate)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_map16)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_map8)->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK_MAIN();
