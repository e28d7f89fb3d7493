// Fuzz target for the HTTP reply parser: the input is a peer's reply,
// after two bytes that choose how it is read (byte 0: bit 1 header and body
// together, bit 2 the header apart, bit 4 small limits of the body and the
// header; byte 1: the size of the receives). The reply is fed in pieces of
// varying size twice, kept in the parser's buffer and handed to a sink; both
// must give the same text, never more than arrived, never more body than the
// content length, a NUL-terminated header, nothing at all for a refused
// reply, and the same account of how the reply ended. Any other outcome
// traps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/http.h"

namespace {

void collect(void* ctx, const char* data, size_t n) { static_cast<std::string*>(ctx)->append(data, n); }

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Feeds the reply in pieces; the parser's result.
int64_t run(HttpReply* r, const uint8_t* data, size_t size, int step) {
  size_t at = 0;
  for (int i = 0; at < size; i++) {
    const size_t k = std::min(size - at, static_cast<size_t>((step + i * 7) % 97 + 1));
    const bool done = httpfeed(r, reinterpret_cast<const char*>(data) + at, k);
    at += k;
    if (done) break;
  }
  return httpend(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 65536) return 0;
  const int mode = data[0], step = data[1];
  data += 2;
  size -= 2;
  HttpReply kept, sunk;
  std::string out;
  for (HttpReply* r : {&kept, &sunk}) {
    r->together = mode & 1;
    r->wanthdr = mode & 2;
    if (mode & 4) {
      r->limit = 64;
      r->hdrmax = 48;
    }
  }
  sunk.sink = collect;
  sunk.ctx = &out;
  const int64_t n = run(&kept, data, size, step);
  const int64_t m = run(&sunk, data, size, step);
  check(n == m && n >= 0 && static_cast<uint64_t>(n) <= size);
  check(kept.buf != nullptr && kept.buf[n] == 0);
  check(out.size() == static_cast<size_t>(n) && std::memcmp(out.data(), kept.buf, out.size()) == 0);
  check(httpwhy(&kept) == httpwhy(&sunk));
  if (kept.refused) check(n == 0 && kept.hdrlen == 0);
  check(kept.len <= static_cast<size_t>(kept.hdrmax + (kept.clen >= 0 ? kept.clen : kept.limit)));
  if (kept.hdrlen > 0) {
    check(kept.hdrlen <= size && (kept.clen < 0 || kept.taken <= kept.clen));
    check(kept.clen >= 0 || kept.taken <= kept.limit);
    if (kept.wanthdr && !kept.together)
      check(kept.hdr != nullptr && kept.hdr[kept.hdrlen - 1] == 0 && kept.hdr[kept.hdrlen] == 0);
  }
  httpfree(&kept);
  httpfree(&sunk);
  return 0;
}
