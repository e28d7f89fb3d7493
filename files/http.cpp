// The HTTP GET client and the socket command.
#include "files/http.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/sockets.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t FIRSTBUF = 1024;   // the reply buffer before it grows
constexpr size_t CHUNK = 256 * 1024;  // bytes asked of one receive
constexpr int PIECE = 132;          // bytes of a printed piece of the body

// Makes room for `need` bytes and the NUL after them, doubling (exact: just
// that much); false when the memory cannot be had.
bool room(HttpReply* r, size_t need, bool exact = false) {
  if (need + 1 <= r->cap) return true;
  size_t cap = exact ? need + 1 : std::max(r->cap, FIRSTBUF);
  while (cap < need + 1) cap *= 2;
  // Doubling never asks for more than the largest header (while it has not
  // ended) or the largest reply kept.
  const int64_t body = r->hdrlen == 0 ? 0 : std::max<int64_t>(r->clen >= 0 ? r->clen : r->limit, 0);
  const size_t top = static_cast<size_t>(std::max<int64_t>(r->hdrmax, 0) + body) + 1;
  cap = std::max(need + 1, std::min(cap, top));
  char* p = static_cast<char*>(std::realloc(r->buf, cap));
  if (!p) {
    r->nomem = true;
    return false;
  }
  r->buf = p;
  r->cap = cap;
  return true;
}

// Keeps n bytes in the buffer; false when they do not fit.
bool keep(HttpReply* r, const char* data, size_t n) {
  if (!room(r, r->len + n)) return false;
  std::memcpy(r->buf + r->len, data, n);
  r->len += n;
  r->buf[r->len] = 0;
  return true;
}

// Hands body bytes on, at most as many as are still wanted.
void body(HttpReply* r, const char* data, size_t n) {
  const int64_t limit = r->clen >= 0 ? r->clen : r->limit;
  if (static_cast<int64_t>(n) >= limit - r->taken) {
    n = static_cast<size_t>(limit - r->taken);
    r->done = true;
  }
  if (n == 0) return;
  if (r->sink) {
    r->sink(r->ctx, data, n);
  } else if (!keep(r, data, n)) {
    r->done = true;
    return;
  }
  r->taken += static_cast<int64_t>(n);
}

// The header has ended at hdrlen: its content length is read, the header
// is set apart or kept, and the body bytes that came with it are taken.
void hdrend(HttpReply* r) {
  const size_t h = r->hdrlen;
  for (size_t p = 0; p < h; p++)
    if (p == 0 || r->buf[p - 1] == '\n' || r->buf[p - 1] == '\r') {
      const int64_t v = httpclen(r->buf + p, h - p);
      if (v >= 0) r->clen = v;
    }
  // The bytes after the header, set aside while the buffer is reshaped.
  std::string rest(r->buf + h, r->len - h);
  if (r->wanthdr && !r->together) {
    r->hdr = static_cast<char*>(std::malloc(h + 1));
    if (r->hdr) {
      std::memcpy(r->hdr, r->buf, h);
      r->hdr[h - 1] = 0;
      r->hdr[h] = 0;
    }
  }
  r->len = 0;
  if (r->together) {
    if (r->sink)
      r->sink(r->ctx, r->buf, h);
    else
      r->len = h;
  }
  // Sized once when the length is known.
  if (!r->sink && r->clen >= 0) room(r, r->len + static_cast<size_t>(r->clen), true);
  if (r->buf) r->buf[r->len] = 0;
  if (r->clen == 0) r->done = true;
  body(r, rest.data(), rest.size());
}

}  // namespace

int64_t httpclen(const char* line, size_t n) {
  static constexpr char key[] = "Content-Length: ";
  if (n < 16 || strnic(line, key, 16) != 0) return -1;
  size_t i = 16;
  while (i < n && (line[i] == ' ' || line[i] == '\t')) i++;
  if (i < n && line[i] == '+') i++;
  int64_t v = 0;
  size_t digits = 0;
  for (; i < n && line[i] >= '0' && line[i] <= '9'; i++, digits++) {
    v = v * 10 + (line[i] - '0');
    if (v > HTTPMAX) return -1;
  }
  return digits ? v : -1;
}

bool httpfeed(HttpReply* r, const char* data, size_t n) {
  if (r->done) return true;
  if (r->hdrlen == 0) {
    // Header bytes: the run of carriage returns and newlines is counted
    // across receives; four in a row end the header.
    size_t i = 0;
    for (; i < n; i++) {
      const char c = data[i];
      r->run = (c == '\r' || c == '\n') ? r->run + 1 : 0;
      if (r->run == 4) break;
    }
    // A header longer than its limit refuses the reply: nothing more is
    // read or kept.
    const size_t hmax = static_cast<size_t>(std::max<int64_t>(r->hdrmax, 0));
    if (r->len + std::min(i + 1, n) > hmax) {
      r->refused = r->done = true;
      return true;
    }
    if (i == n) {
      // Still in the header.
      if (!keep(r, data, n)) r->done = true;
      return r->done;
    }
    if (!keep(r, data, n)) {
      r->done = true;
      return true;
    }
    r->hdrlen = r->len - (n - i - 1);
    hdrend(r);
    return r->done;
  }
  body(r, data, n);
  return r->done;
}

int64_t httpend(HttpReply* r) {
  if (r->refused) {
    r->len = 0;
    if (!room(r, 0)) return 0;
    r->buf[0] = 0;
    return 0;
  }
  if (r->hdrlen == 0) {
    // No header end came: what arrived is the text.
    if (r->sink && r->len) r->sink(r->ctx, r->buf, r->len);
    if (!room(r, r->len)) return 0;
    r->buf[r->len] = 0;
    return static_cast<int64_t>(r->len);
  }
  if (!r->sink && !room(r, r->len)) return 0;
  if (r->buf) r->buf[r->len] = 0;
  return (r->together ? static_cast<int64_t>(r->hdrlen) : 0) + r->taken;
}

HttpEnd httpwhy(const HttpReply* r) {
  if (r->refused) return HE_HDRBIG;
  if (r->lastrecv < 0 && !r->done)
    return r->lastrecv == SOCK_TIMEOUT ? HE_TIMEOUT : r->lastrecv == SOCK_INTR ? HE_INTR : HE_RECVFAIL;
  if (r->nomem) return HE_CUT;
  if (r->hdrlen == 0) return HE_NOHDREND;
  if (r->clen >= 0) return r->taken < r->clen ? HE_SHORT : HE_WHOLE;
  return r->taken >= r->limit ? HE_CUT : HE_WHOLE;
}

void httpfree(HttpReply* r) {
  std::free(r->buf);
  std::free(r->hdr);
  r->buf = r->hdr = nullptr;
  r->len = r->cap = 0;
}

namespace {

// Text up to its first control character (tabs become blanks first).
std::string reqtext(const char* s, bool tabs) {
  std::string t;
  for (; s && *s; s++) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (c == '\t' && tabs) c = ' ';
    if (c < 32 || c == 127) break;
    t += static_cast<char>(c);
  }
  return t;
}

// Sends the request and reads the reply into r: the result of httpreq.
int64_t exchange(const char* path, int sock, const char* host, const char* extra, int flags,
                 HttpReply* r) {
  if (!path) return HTTP_NOCONN;
  if (std::strlen(path) > HTTPPATH) return HTTP_LONGPATH;
  std::string req = "GET " + reqtext(path, true) + ((flags & HTTP_11) ? " HTTP/1.1\n" : " HTTP/1.0\n");
  if (extra)
    req += "Host: " + reqtext(host, true) + "\n" + reqtext(extra, true) + "\n\n";
  else
    req += "\n";
  // The terminating zero byte goes too.
  if (socksend(sock, req.c_str(), static_cast<int>(req.size()) + 1) != static_cast<int>(req.size()) + 1) {
    r->lastrecv = -1;
    return HTTP_NOCONN;
  }
  r->together = (flags & HTTP_TOGETHER) != 0;
  char* chunk = static_cast<char*>(std::malloc(CHUNK));
  if (!chunk) return HTTP_NOCONN;
  int k;
  while ((k = sockrecv(sock, chunk, static_cast<int>(CHUNK))) > 0)
    if (httpfeed(r, chunk, static_cast<size_t>(k))) break;
  r->lastrecv = k;
  std::free(chunk);
  return httpend(r);
}

// Connects, exchanges and closes: the text's length, or HTTP_NOCONN or
// HTTP_LONGPATH (how the reply ended is httpwhy's). With cause, the cause
// of HTTP_NOCONN goes there.
int64_t fetch(const char* path, const char* host, int port, const char* extra, int flags, HttpReply* r,
              std::string* cause = nullptr) {
  if (!path) return HTTP_NOCONN;
  if (std::strlen(path) > HTTPPATH) return HTTP_LONGPATH;
  const int sock = sockopen(host ? host : "", port, 1);
  if (sock < 0) {
    if (cause) *cause = sockwhy();
    return HTTP_NOCONN;
  }
  const int64_t n = exchange(path, sock, host, extra, flags, r);
  if (n == HTTP_NOCONN && cause) *cause = "the request could not be sent";
  // After a wait that ended without the peer, a reply no more of which is
  // read, or a body whole by its Content-Length, nothing more is waited
  // for: a peer that keeps the connection open, or keeps sending, does not
  // hold the command.
  const HttpEnd why = n < 0 ? HE_WHOLE : httpwhy(r);
  if (r->lastrecv < 0 || why == HE_HDRBIG || why == HE_CUT || (n >= 0 && why == HE_WHOLE && r->clen >= 0))
    sockdrop(sock);
  else
    sockclose(sock);
  return n;
}

// Runs an exchange for a caller that takes the text and the header (when
// header is given) as heap texts: the text's length, or a result code.
template <class Run>
int client(char** body, char** header, Run run) {
  if (body) *body = nullptr;
  if (header) *header = nullptr;
  HttpReply r;
  r.wanthdr = header != nullptr;
  int64_t n = run(&r);
  if (n >= 0) {
    const HttpEnd why = httpwhy(&r);
    if (why == HE_HDRBIG) n = HTTP_REFUSED;
    else if (why != HE_WHOLE) n = HTTP_INCOMPLETE;
  }
  // An incomplete reply's bytes are still handed out.
  if ((n >= 0 || n == HTTP_INCOMPLETE) && body && r.buf) {
    *body = r.buf;
    r.buf = nullptr;
  }
  if (header && r.hdr) {
    *header = r.hdr;
    r.hdr = nullptr;
  }
  httpfree(&r);
  return static_cast<int>(std::min<int64_t>(n, INT32_MAX));
}

// How a reply fell short, as the socket command tells it after "socket: "
// ("incomplete reply: 10 of 1000 body bytes"); empty for a whole reply.
// got is the text's length.
std::string shortnote(const HttpReply& r, int64_t got) {
  char b[160];
  const long long n = got;
  switch (httpwhy(&r)) {
    case HE_WHOLE: return "";
    case HE_SHORT:
      std::snprintf(b, sizeof b, "incomplete reply: %lld of %lld body bytes", static_cast<long long>(r.taken),
                    static_cast<long long>(r.clen));
      break;
    case HE_NOHDREND: std::snprintf(b, sizeof b, "incomplete reply: the header did not end (%lld bytes)", n); break;
    case HE_TIMEOUT: std::snprintf(b, sizeof b, "incomplete reply: no data for 5 s (%lld bytes)", n); break;
    case HE_INTR: std::snprintf(b, sizeof b, "incomplete reply: interrupted (%lld bytes)", n); break;
    case HE_RECVFAIL: std::snprintf(b, sizeof b, "incomplete reply: receive failed (%lld bytes)", n); break;
    case HE_CUT: std::snprintf(b, sizeof b, "incomplete reply: cut at %lld bytes", n); break;
    default: return "reply refused: its header passes 1 MB";
  }
  return b;
}

}  // namespace

int httpnote(const char* path, const char* host, int port, const char* extra, char** body, std::string* note) {
  note->clear();
  return client(body, nullptr, [&](HttpReply* r) {
    std::string cause;
    const int64_t got = fetch(path, host, port, extra, 0, r, &cause);
    if (got == HTTP_NOCONN)
      *note = std::string(host ? host : "") + ": " + cause;
    else if (got >= 0)
      *note = shortnote(*r, got);
    return got;
  });
}

int httpreq(const char* path, int sock, const char* host, const char* extra, char** body,
            char** header, int flags) {
  return client(body, header, [&](HttpReply* r) { return exchange(path, sock, host, extra, flags, r); });
}

int httpget(const char* path, const char* host, int port, const char* extra, char** body,
            char** header, int flags) {
  return client(body, header, [&](HttpReply* r) { return fetch(path, host, port, extra, flags, r); });
}

// ---------------------------------------------------------------------------
// The socket command.

namespace {

// The body printed on a unit with "%s" in pieces of at most 132 bytes, as
// it arrives: a piece ends at its first zero byte.
struct Pieces {
  int unit = 1;
  FILE* file = nullptr;  // a file unit is written straight
  int hdrto = -1;        // the unit of a header printed apart, -1 none
  HttpReply* reply = nullptr;
  char piece[PIECE + 1];
  int pos = 0;           // bytes of the current piece seen
  int kept = 0;          // bytes of the current piece printed or held
  bool cut = false;      // the current piece met a zero byte
  char last = '\n';      // the last byte printed on the unit
};

void endpiece(Pieces* p) {
  if (!p->file && p->kept > 0) {
    p->piece[p->kept] = 0;
    jprintf(p->unit, "%s", p->piece);
    p->last = p->piece[p->kept - 1];
  }
  p->pos = p->kept = 0;
  p->cut = false;
}

void bodyout(void* ctx, const char* data, size_t n) {
  auto* p = static_cast<Pieces*>(ctx);
  // The header apart is printed once it has ended, before the body.
  if (p->hdrto >= 0 && p->reply->hdr) {
    jprintf(p->hdrto, "HDR:\n%s\n", p->reply->hdr);
    p->hdrto = -1;
  }
  // Pieces matter only where a zero byte cuts one: without one the bytes
  // go to a file in one write.
  if (p->file && !p->cut && !std::memchr(data, 0, n)) {
    std::fwrite(data, 1, n, p->file);
    p->pos = static_cast<int>((static_cast<size_t>(p->pos) + n) % PIECE);
    return;
  }
  while (n > 0) {
    const size_t k = std::min(n, static_cast<size_t>(PIECE - p->pos));
    if (!p->cut) {
      const void* z = std::memchr(data, 0, k);
      const size_t show = z ? static_cast<size_t>(static_cast<const char*>(z) - data) : k;
      if (p->file)
        std::fwrite(data, 1, show, p->file);
      else
        std::memcpy(p->piece + p->kept, data, show);
      p->kept += static_cast<int>(show);
      p->cut = z != nullptr;
    }
    p->pos += static_cast<int>(k);
    data += k;
    n -= k;
    if (p->pos == PIECE) endpiece(p);
  }
}

}  // namespace

int sockcmd() {
  char path[HTTPPATH + 8], host[1024];
  float v = 0;
  int lp = 0, lh = 0;
  const int kp = getarg(2, &v, path, sizeof path, &lp);
  const int kh = getarg(3, &v, host, sizeof host, &lh);
  if (!(kp & K_STRING) || !(kh & K_STRING)) {
    jprintf(1, " usage: socket msg host flag port\n  FLAG: 2 or 4 include msg, 8 separate msg\n");
    error(2, 46);
    return 0;
  }
  const int flags = intarg(4, 0);
  const int port = static_cast<int>(lngarg(5, 80));
  HttpReply r;
  Pieces p;
  p.unit = lstlun;
  p.reply = &r;
  r.wanthdr = (flags & 12) != 0;
  p.hdrto = (flags & 4) ? lstlun : (flags & 8) ? errlun : -1;
  if (p.unit >= 0 && p.unit < NUNITS && p.unit != 1 && p.unit != 4) p.file = unitstream(p.unit);
  r.sink = bodyout;
  r.ctx = &p;
  std::string why;
  const int64_t got = fetch(path, host, port, nullptr, flags & HTTP_TOGETHER, &r, &why);
  // After Ctrl-C what came is still shown and the cut told; the interrupt
  // is served once the command is over.
  const int32_t intr = state & ST_INTR;
  state &= ~ST_INTR;
  if (got == HTTP_NOCONN) jprintf(errlun, "socket: %s: %s\n", host, why.c_str());
  // A header apart that came without a body byte.
  if (p.hdrto >= 0 && r.hdr) jprintf(p.hdrto, "HDR:\n%s\n", r.hdr);
  endpiece(&p);
  int n = static_cast<int>(std::min<int64_t>(got, INT32_MAX));
  if (got >= 0) {
    const HttpEnd why = httpwhy(&r);
    if (why != HE_WHOLE) {
      // The reply is told incomplete (or refused) on a line of its own.
      if (errlun == p.unit && !p.file && p.last != '\n') jprintf(errlun, "\n");
      jprintf(errlun, "socket: %s\n", shortnote(r, got).c_str());
      n = why == HE_HDRBIG ? HTTP_REFUSED : HTTP_INCOMPLETE;
    }
  }
  httpfree(&r);
  state |= intr;
  setres(n, 0);
  return 0;
}
