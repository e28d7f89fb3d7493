// The HTTP reply parser, the request bytes on a socket pair and the socket
// layer on the loopback interface.
#include "files/http.h"
#include "files/sockets.h"
#include "lang/help.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Feeds a reply to a fresh parser in two parts split at `at`; the text.
std::string parse2(const std::string& reply, size_t at, HttpReply* r, int64_t* n) {
  httpfeed(r, reply.data(), at) || httpfeed(r, reply.data() + at, reply.size() - at);
  *n = httpend(r);
  return std::string(r->buf, static_cast<size_t>(std::max<int64_t>(*n, 0)));
}

const std::string HEAD = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n";

TEST(HttpParse, ContentLengthLine) {
  auto v = [](const std::string& s) { return httpclen(s.data(), s.size()); };
  EXPECT_EQ(v("Content-Length: 5\r\n"), 5);
  EXPECT_EQ(v("content-LENGTH: 0"), 0);
  EXPECT_EQ(v("Content-Length: 1073741824"), 1073741824);  // 1 GiB: the largest taken
  EXPECT_EQ(v("Content-Length: 1073741825"), -1);
  EXPECT_EQ(v("Content-Length: 99999999999999999999999"), -1);
  EXPECT_EQ(v("Content-Length: -5"), -1);
  EXPECT_EQ(v("Content-Length: abc"), -1);
  EXPECT_EQ(v("Content-Length: "), -1);
  EXPECT_EQ(v("Content-Length:   12x"), 12);
  EXPECT_EQ(v("Content-Length: +7"), 7);
  EXPECT_EQ(v("Content-Length:5"), -1);  // the 16 characters include the blank
  EXPECT_EQ(v("Content-Lengths: 5"), -1);
  EXPECT_EQ(httpclen("Content-Length: 5", 16), -1);  // the number lies past the line
}

TEST(HttpParse, HeaderEndFoundAcrossEveryReceive) {
  const std::string reply = HEAD + "bodyEXTRA";
  for (size_t at = 0; at <= reply.size(); at++) {
    HttpReply r;
    int64_t n = 0;
    EXPECT_EQ(parse2(reply, at, &r, &n), "body") << at;
    EXPECT_EQ(n, 4) << at;
    EXPECT_EQ(r.hdrlen, HEAD.size()) << at;
    httpfree(&r);
  }
  // Byte by byte: the run of line-end bytes is counted over the receives.
  HttpReply r;
  for (char c : reply) httpfeed(&r, &c, 1);
  EXPECT_EQ(httpend(&r), 4);
  EXPECT_STREQ(r.buf, "body");
  httpfree(&r);
}

TEST(HttpParse, FourLineEndBytesEndTheHeader) {
  // Two newlines are not the end; any four carriage returns or newlines are.
  HttpReply a;
  const std::string two = "HTTP/1.0 200 OK\n\nbody\r\n\n\rrest";
  httpfeed(&a, two.data(), two.size());
  EXPECT_EQ(a.hdrlen, two.size() - 4);
  EXPECT_EQ(httpend(&a), 4);
  EXPECT_STREQ(a.buf, "rest");
  httpfree(&a);
  // A header that never ends: everything that arrived is the text.
  HttpReply b;
  const std::string cut = "HTTP/1.0 200 OK\r\nContent-Le";
  httpfeed(&b, cut.data(), cut.size());
  EXPECT_EQ(httpend(&b), static_cast<int64_t>(cut.size()));
  EXPECT_EQ(std::string(b.buf), cut);
  httpfree(&b);
}

TEST(HttpParse, LengthBoundsTheBody) {
  // Bytes past the content length are dropped; the last length line counts.
  HttpReply a;
  const std::string two = "HTTP/1.0 200 OK\r\ncontent-length: 9\r\nCONTENT-LENGTH: 3\r\n\r\nabcdef";
  EXPECT_TRUE(httpfeed(&a, two.data(), two.size()));
  EXPECT_EQ(httpend(&a), 3);
  EXPECT_STREQ(a.buf, "abc");
  httpfree(&a);
  // Length 0: complete at the header's end.
  HttpReply z;
  const std::string zero = "HTTP/1.0 204 No\r\nContent-Length: 0\r\n\r\n";
  EXPECT_TRUE(httpfeed(&z, zero.data(), zero.size()));
  EXPECT_EQ(httpend(&z), 0);
  EXPECT_STREQ(z.buf, "");
  httpfree(&z);
  // Without a length the body runs to the limit: the last byte in, one more
  // dropped.
  HttpReply c;
  c.limit = 10;
  const std::string nolen = "HTTP/1.0 200 OK\r\n\r\n0123456789";
  EXPECT_TRUE(httpfeed(&c, nolen.data(), nolen.size()));
  EXPECT_TRUE(httpfeed(&c, "X", 1));
  EXPECT_EQ(httpend(&c), 10);
  EXPECT_STREQ(c.buf, "0123456789");
  httpfree(&c);
  HttpReply d;
  d.limit = 11;
  EXPECT_FALSE(httpfeed(&d, nolen.data(), nolen.size()));
  httpfree(&d);
}

TEST(HttpParse, HeaderTogetherOrApart) {
  const std::string reply = HEAD + "body";
  HttpReply t;
  t.together = true;
  t.wanthdr = true;  // together wins: no header apart
  httpfeed(&t, reply.data(), reply.size());
  EXPECT_EQ(httpend(&t), static_cast<int64_t>(reply.size()));
  EXPECT_EQ(std::string(t.buf), reply);
  EXPECT_EQ(t.hdr, nullptr);
  httpfree(&t);
  HttpReply a;
  a.wanthdr = true;
  httpfeed(&a, reply.data(), reply.size());
  EXPECT_EQ(httpend(&a), 4);
  EXPECT_STREQ(a.buf, "body");
  // The header's last byte (its final newline) becomes the end of the text.
  EXPECT_EQ(std::string(a.hdr), HEAD.substr(0, HEAD.size() - 1));
  httpfree(&a);
}

TEST(HttpParse, BufferSizedOnceOrDoubled) {
  // A known length sizes the buffer once, exactly.
  HttpReply a;
  const std::string h = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n";
  httpfeed(&a, h.data(), h.size());
  EXPECT_EQ(a.cap, 5001u);
  const std::string body(5000, 'q');
  EXPECT_TRUE(httpfeed(&a, body.data(), body.size()));
  EXPECT_EQ(a.cap, 5001u);
  EXPECT_EQ(httpend(&a), 5000);
  httpfree(&a);
  // Without one it doubles from 1024.
  HttpReply b;
  const std::string n = "HTTP/1.0 200 OK\r\n\r\n";
  httpfeed(&b, n.data(), n.size());
  const std::string more(1500, 'r');
  httpfeed(&b, more.data(), more.size());
  EXPECT_EQ(b.cap, 2048u);
  httpfeed(&b, more.data(), more.size());
  EXPECT_EQ(b.cap, 4096u);
  EXPECT_EQ(httpend(&b), 3000);
  httpfree(&b);
}

TEST(HttpParse, HeaderCappedAtOneMebibyte) {
  // A header of exactly 1 MiB (its end included) is read; one byte more
  // refuses the reply, which then hands out nothing.
  const std::string start = "HTTP/1.0 200 OK\r\nX: ";
  for (int64_t extra : {0, 1}) {
    std::string head = start + std::string(static_cast<size_t>(HTTPHDRMAX + extra) - start.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(static_cast<int64_t>(head.size()), HTTPHDRMAX + extra);
    HttpReply r;
    const std::string reply = head + "body";
    for (size_t at = 0; at < reply.size() && !httpfeed(&r, reply.data() + at, std::min<size_t>(4096, reply.size() - at));)
      at += 4096;
    const int64_t n = httpend(&r);
    if (extra == 0) {
      EXPECT_EQ(n, 4);
      EXPECT_STREQ(r.buf, "body");
      EXPECT_EQ(httpwhy(&r), HE_WHOLE);
    } else {
      EXPECT_EQ(n, 0);
      EXPECT_STREQ(r.buf, "");
      EXPECT_EQ(httpwhy(&r), HE_HDRBIG);
      EXPECT_LE(r.cap, static_cast<size_t>(HTTPHDRMAX) + 1) << "kept no more than the header's limit";
    }
    httpfree(&r);
  }
  // A header that never ends stops being read at the limit, whatever the
  // receives' sizes.
  HttpReply b;
  b.hdrmax = 100;
  const std::string line(60, 'x');
  EXPECT_FALSE(httpfeed(&b, line.data(), line.size()));
  EXPECT_TRUE(httpfeed(&b, line.data(), line.size()));
  EXPECT_TRUE(b.refused);
  EXPECT_EQ(httpend(&b), 0);
  httpfree(&b);
}

TEST(HttpParse, HowTheReplyEnded) {
  auto why = [](const std::string& reply, int lastrecv, int64_t limit = HTTPMAX) {
    HttpReply r;
    r.limit = limit;
    httpfeed(&r, reply.data(), reply.size());
    httpend(&r);
    r.lastrecv = lastrecv;
    const HttpEnd e = httpwhy(&r);
    httpfree(&r);
    return e;
  };
  EXPECT_EQ(why(HEAD + "body", 0), HE_WHOLE);
  EXPECT_EQ(why(HEAD + "bod", 0), HE_SHORT);          // the peer closed one byte short
  EXPECT_EQ(why(HEAD + "bod", SOCK_TIMEOUT), HE_TIMEOUT);
  EXPECT_EQ(why(HEAD + "bo", SOCK_INTR), HE_INTR);
  EXPECT_EQ(why(HEAD + "b", SOCK_FAIL), HE_RECVFAIL);
  EXPECT_EQ(why(HEAD + "body", SOCK_TIMEOUT), HE_WHOLE);  // all came before the wait
  EXPECT_EQ(why("HTTP/1.0 200 OK\r\nContent-Le", 0), HE_NOHDREND);
  EXPECT_EQ(why("", 0), HE_NOHDREND);
  // Without a length: read until the peer closes, unless a wait failed or
  // the limit was reached.
  const std::string nolen = "HTTP/1.0 200 OK\r\n\r\n0123456789";
  EXPECT_EQ(why(nolen, 0), HE_WHOLE);
  EXPECT_EQ(why(nolen, SOCK_TIMEOUT), HE_TIMEOUT);
  EXPECT_EQ(why(nolen, 0, 11), HE_WHOLE);
  EXPECT_EQ(why(nolen, 0, 10), HE_CUT);
}

TEST(HttpParse, DoublingStopsAtTheLargestReply) {
  // Without a length the buffer doubles, but never past header limit +
  // body limit + 1 (not to twice the body limit).
  HttpReply r;
  r.hdrmax = 100;
  r.limit = 3000;
  const std::string h = "HTTP/1.0 200 OK\r\n\r\n";
  httpfeed(&r, h.data(), h.size());
  const std::string body(3000, 'b');
  EXPECT_TRUE(httpfeed(&r, body.data(), body.size()));
  EXPECT_EQ(r.cap, 3101u);
  EXPECT_EQ(httpend(&r), 3000);
  httpfree(&r);
}

// --- Requests on a socket pair -------------------------------------------

struct Pair {
  int fd[2] = {-1, -1};
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd), 0); }
  ~Pair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  // The peer's reply, then its end of writing.
  void answer(const std::string& s) {
    EXPECT_EQ(send(fd[1], s.data(), s.size(), 0), static_cast<ssize_t>(s.size()));
    shutdown(fd[1], SHUT_WR);
  }
  // What the client sent.
  std::string request() {
    char b[4096];
    ssize_t n = recv(fd[1], b, sizeof b, 0);
    return n > 0 ? std::string(b, static_cast<size_t>(n)) : std::string();
  }
};

class Http : public ::testing::Test {
 protected:
  Term term;
  TermUse use;
  void SetUp() override {
    freshinterp();
    use.begin(&term);
  }
  void TearDown() override {
    use.end();
    state = 0;
  }
};

TEST_F(Http, RequestBytes) {
  {
    Pair p;
    p.answer(HEAD + "body");
    char *body = nullptr, *hdr = nullptr;
    EXPECT_EQ(httpreq("/a\tb", p.fd[0], "example.org", "Connection: close", &body, &hdr, HTTP_11), 4);
    EXPECT_EQ(p.request(), std::string("GET /a b HTTP/1.1\nHost: example.org\nConnection: close\n\n\0", 56));
    EXPECT_STREQ(body, "body");
    EXPECT_STREQ(hdr, HEAD.substr(0, HEAD.size() - 1).c_str());
    std::free(body);
    std::free(hdr);
  }
  {
    // Without an extra line: no Host line, one empty line; a control
    // character ends the path.
    Pair p;
    p.answer(HEAD + "body");
    char* body = nullptr;
    EXPECT_EQ(httpreq("/x\r\nEvil: 1", p.fd[0], "h", nullptr, &body, nullptr, HTTP_TOGETHER),
              static_cast<int>(HEAD.size()) + 4);
    EXPECT_EQ(p.request(), std::string("GET /x HTTP/1.0\n\n\0", 18));
    EXPECT_EQ(std::string(body), HEAD + "body");
    std::free(body);
  }
  {
    // Nor can the host or the extra line bring in lines of their own.
    Pair p;
    p.answer(HEAD + "body");
    char* body = nullptr;
    httpreq("/", p.fd[0], "h\nX: 1", "A: 1\nB: 2", &body, nullptr, 0);
    EXPECT_EQ(p.request(), std::string("GET / HTTP/1.0\nHost: h\nA: 1\n\n\0", 30));
    std::free(body);
  }
}

TEST_F(Http, LongestPath) {
  {
    Pair p;
    p.answer(HEAD + "body");
    char* body = nullptr;
    const std::string path = "/" + std::string(1019, 'p');  // 1020 characters
    EXPECT_EQ(httpreq(path.c_str(), p.fd[0], "h", nullptr, &body, nullptr, 0), 4);
    EXPECT_EQ(p.request().size(), 4 + 1020 + 10 + 1 + 1u);
    std::free(body);
  }
  {
    Pair p;
    p.answer(HEAD + "body");
    char* body = reinterpret_cast<char*>(1);
    const std::string path = "/" + std::string(1020, 'p');
    EXPECT_EQ(httpreq(path.c_str(), p.fd[0], "h", nullptr, &body, nullptr, 0), -2);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(p.request(), "");  // nothing was sent
    EXPECT_EQ(httpget(path.c_str(), "127.0.0.1", 1, nullptr, &body, nullptr, 0), -2);
  }
}

// --- The socket layer on the loopback interface ----------------------------

// A port that was free a moment ago.
int freeport() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

TEST_F(Http, ListenConnectAcceptSendReceiveClose) {
  const int port = freeport();
  ASSERT_GT(port, 0);
  const int ls = sockopen("", port, 0);
  ASSERT_GE(ls, 0);
  EXPECT_EQ(sockopen("", port, 0), SOCK_NOBIND);  // the port is taken
  const int c = sockopen("127.0.0.1", port, 1);
  ASSERT_GE(c, 0);
  char host[16];
  int peerport = 0;
  const int s = sockaccept(ls, host, sizeof host, &peerport);
  ASSERT_GE(s, 0);
  EXPECT_STREQ(host, "127.0.0.1");
  sockaddr_in me{};
  socklen_t len = sizeof me;
  getsockname(c, reinterpret_cast<sockaddr*>(&me), &len);
  EXPECT_EQ(peerport, ntohs(me.sin_port));

  // The set keeps the ready ones only; a wait of 0.1 s with nothing there.
  SockSet set{};
  EXPECT_EQ(sockset(&set, s, 1), 1);
  EXPECT_EQ(sockset(&set, ls, 1), 2);
  EXPECT_EQ(sockwait(&set, 1000, 0, 100000), 0);
  EXPECT_EQ(set.count, 0);
  // Length 0 sends the text with its zero byte.
  EXPECT_EQ(socksend(c, "abc", 0), 4);
  sockset(&set, ls, 1);
  sockset(&set, s, 1);
  EXPECT_EQ(sockwait(&set, 1000, 1, 0), 1);
  EXPECT_EQ(sockready(&set, 1000), s);
  char b[8] = {};
  EXPECT_EQ(sockrecv(s, b, sizeof b), 4);
  EXPECT_EQ(std::string(b, 4), std::string("abc\0", 4));
  // Closing drains what the peer still sends until the peer's end.
  std::string more(3000, 'm');
  EXPECT_EQ(socksend(s, more.data(), static_cast<int>(more.size())), 3000);
  EXPECT_EQ(shutdown(s, SHUT_WR), 0);
  EXPECT_EQ(sockclose(c), 0);
  EXPECT_EQ(sockrecv(s, b, sizeof b), 0);  // the client's end
  EXPECT_EQ(sockdrop(s), 0);
  // A failed shutdown is the result, and the descriptor is closed all the same.
  int pf[2];
  ASSERT_EQ(pipe(pf), 0);
  EXPECT_EQ(sockclose(pf[0]), SOCK_FAIL);
  EXPECT_EQ(close(pf[0]), -1);
  close(pf[1]);
  EXPECT_EQ(sockdrop(ls), 0);
  // Nobody listens now.
  EXPECT_EQ(sockopen("127.0.0.1", port, 1), SOCK_NOCONN);
  EXPECT_EQ(httpget("/", "127.0.0.1", port, nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(sockopen("127.0.0.1", 0, 1), SOCK_NOCONN);
  EXPECT_EQ(sockopen("nonexistent.invalid", 80, 1), SOCK_NOHOST);
  EXPECT_EQ(sockopen("", 70000, 0), SOCK_NOBIND);
}

TEST_F(Http, WhyAConnectionFailedIsKeptAndTheClientSaysNothing) {
  const int port = freeport();
  ASSERT_GT(port, 0);
  EXPECT_EQ(sockopen("127.0.0.1", port, 1), SOCK_NOCONN);
  EXPECT_STREQ(sockwhy(), "Connection refused");
  EXPECT_EQ(sockopen("127.0.0.1", 65536, 1), SOCK_NOCONN);
  EXPECT_STREQ(sockwhy(), "port 65536 is not 1 to 65535");
  EXPECT_EQ(sockopen("", 0, 0), SOCK_NOBIND);
  EXPECT_STREQ(sockwhy(), "port 0 is not 1 to 65535");
  // An empty label: refused by the resolver itself, no query is sent.
  EXPECT_EQ(sockopen("no.such..host", 80, 1), SOCK_NOHOST);
  EXPECT_STREQ(sockwhy(), "Name or service not known");
  // The client that the help shares tells nothing; a success clears it.
  EXPECT_EQ(httpget("/", "127.0.0.1", port, "Connection: close", nullptr, nullptr, 0), -1);
  EXPECT_TRUE(term.rows.empty());
  const int ls = sockopen("127.0.0.1", port, 0);
  ASSERT_GE(ls, 0);
  EXPECT_STREQ(sockwhy(), "");
  sockdrop(ls);
}

TEST_F(Http, PeerGoneAndCtrlC) {
  const int port = freeport();
  const int ls = sockopen("127.0.0.1", port, 0);
  ASSERT_GE(ls, 0);
  const int c = sockopen("127.0.0.1", port, 1);
  const int s = sockaccept(ls, nullptr, 0, nullptr);
  ASSERT_GE(s, 0);
  // Ctrl-C ends a wait for a silent peer at once.
  term.pending.push_back(3);
  const auto t0 = std::chrono::steady_clock::now();
  char b[4];
  EXPECT_EQ(sockrecv(c, b, sizeof b), SOCK_INTR);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_TRUE(state & ST_INTR);
  state = 0;
  // Sending to a peer that has gone fails without a signal.
  sockdrop(s);
  int r = 0;
  for (int i = 0; i < 200 && r >= 0; i++) {
    r = socksend(c, "x", 1);
    usleep(10000);
  }
  EXPECT_EQ(r, SOCK_FAIL);
  sockdrop(c);
  sockdrop(ls);
}

// A help-wiki server on a free port that answers one request with `reply`
// and closes; the page fetched is shown in the text window's rows.
struct WikiServer {
  int port = freeport();
  int ls = -1;
  std::thread t;
  explicit WikiServer(std::string reply) {
    ls = sockopen("127.0.0.1", port, 0);
    t = std::thread([this, reply] {
      const int s = acceptwait(ls);
      if (s < 0) return;
      char b[2048];
      recv(s, b, sizeof b, 0);
      for (size_t at = 0; at < reply.size();) {
        const ssize_t n = send(s, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(s);
    });
  }
  ~WikiServer() {
    t.join();
    sockdrop(ls);
  }
  // The listening socket is non-blocking: wait for the client.
  static int acceptwait(int ls) {
    for (int i = 0; i < 500; i++) {
      const int s = accept(ls, nullptr, nullptr);
      if (s >= 0) return s;
      usleep(10000);
    }
    return -1;
  }
};

class Wiki : public Http {
 protected:
  char host[256];
  int port = 80;
  void SetUp() override {
    Http::SetUp();
    std::memcpy(host, wikihost, sizeof host);
    port = wikiport;
    std::snprintf(wikihost, sizeof wikihost, "127.0.0.1");
  }
  void TearDown() override {
    std::memcpy(wikihost, host, sizeof host);
    wikiport = port;
    Http::TearDown();
  }
};

TEST_F(Wiki, PageCutShortShowsWhatArrivedAndSaysSo) {
  {
    WikiServer w("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
    wikiport = w.port;
    wiki("short");
  }
  EXPECT_EQ(term.rows, (std::vector<std::string>{"0123456789", "help: the page came incomplete: 10 of 1000 body bytes"}));
  term.rows.clear();
  {
    // A server that closes without a byte did not answer; nor did one that
    // is not there.
    WikiServer w("");
    wikiport = w.port;
    wiki("none");
  }
  EXPECT_EQ(term.rows, (std::vector<std::string>{"help: the help wiki did not answer: the header did not end (0 bytes)"}));
  term.rows.clear();
  wikiport = freeport();
  wiki("gone");
  EXPECT_EQ(term.rows,
            (std::vector<std::string>{"help: the help wiki did not answer: 127.0.0.1: Connection refused"}));
}

TEST_F(Wiki, PageOfTwoMegabytesShownWhole) {
  // 20,000 lines of 99 characters: one output call of 2,000,000 bytes.
  std::string page;
  for (int i = 0; i < 20000; i++) {
    char line[101];
    std::snprintf(line, sizeof line, "%05d%094d\n", i, 0);
    page += line;
  }
  ASSERT_EQ(page.size(), 2000000u);
  {
    WikiServer w("HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n" + page);
    wikiport = w.port;
    wiki("big");
  }
  jprintf(1, "next\n");
  // The page's own last line end, the one wiki adds, and the next line.
  ASSERT_EQ(term.rows.size(), 20002u);
  EXPECT_EQ(term.rows[19999].substr(0, 5), "19999");
  EXPECT_EQ(term.rows[20000], "");
  EXPECT_EQ(term.rows[20001], "next");
}

TEST(Sockets, SetsAndLetters) {
  SockSet set{};
  for (int i = 0; i < SOCKSETMAX; i++) EXPECT_EQ(sockset(&set, 100 + i, 1), i + 1);
  EXPECT_EQ(sockset(&set, 99, 1), SOCKSETMAX);  // full: not added
  EXPECT_EQ(sockset(&set, 100, 1), SOCKSETMAX);  // in already
  EXPECT_EQ(sockready(&set, 1000), 100);
  EXPECT_EQ(sockready(&set, 99), -1);  // none that low
  EXPECT_EQ(sockset(&set, 100, 2), SOCKSETMAX - 1);
  EXPECT_EQ(sockready(&set, 1000), 101);
  EXPECT_EQ(sockset(&set, 7, 4 | 1), 1);  // emptied, then 7 added
  EXPECT_EQ(sockready(&set, 7), 7);
  EXPECT_EQ(sockset(&set, 7, 2), 0);
  EXPECT_EQ(sockready(&set, 1000), -1);

  EXPECT_EQ(strnic("Content-Length", "CONTENT-length", 14), 0);
  EXPECT_EQ(strnic("abcd", "abce", 3), 0);
  EXPECT_EQ(strnic("abcd", "abce", 4), -1);
  EXPECT_EQ(strnic("ab", "ab", 10), 0);  // both end together
  EXPECT_EQ(strnic("ab", "abc", 3), -1);
  EXPECT_EQ(strnic("[", "{", 1), -1);  // 0x5B and 0x7B are no letters
  EXPECT_EQ(chcase('a'), 1);
  EXPECT_EQ(chcase('z'), 1);
  EXPECT_EQ(chcase('A'), 2);
  EXPECT_EQ(chcase('Z'), 2);
  EXPECT_EQ(chcase('@'), 0);
  EXPECT_EQ(chcase('['), 0);
  EXPECT_EQ(chcase('`'), 0);
  EXPECT_EQ(chcase('{'), 0);
  EXPECT_EQ(chcase('5'), 0);
}

}  // namespace
