// The HTTP GET client on the socket layer (files/sockets.h), and the socket
// command that fetches a page and prints it.
//
// The request is "GET <path> HTTP/1.<0 or 1>\n", then either "Host: <host>\n
// <extra line>\n\n" or, without an extra line, just "\n"; lines end with a
// single newline and the text's terminating zero byte is sent too. Tabs in
// the path become blanks; a control character ends the path, the host and
// the extra line (no request lines can be injected).
//
// The reply's header ends at four carriage-return or newline bytes in a row
// (the run is counted across receives). A "Content-Length: " line (any case)
// with a number from 0 to 1 GiB bounds the body; without one the body is
// read until the peer closes, at most 1 GiB. A wait that passes 5 s without
// progress or is ended by Ctrl-C ends the reply with what has arrived.
// A header that has not ended after 1 MiB refuses the reply. A reply that
// ended before everything it promised arrived (a body shorter than its
// Content-Length, a header cut off, a wait that timed out or was
// interrupted, a reply cut at its limit) is incomplete: its bytes are still
// handed out, and the result says so.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int HTTPPATH = 1020;               // longest path
constexpr int64_t HTTPMAX = int64_t{1} << 30;  // most bytes of a reply kept
constexpr int64_t HTTPHDRMAX = int64_t{1} << 20;  // most bytes of a header

// Results of httpget and httpreq beside a byte count.
enum : int {
  HTTP_NOCONN = -1,      // no connection, or the request could not be sent
  HTTP_LONGPATH = -2,    // the path is longer than 1020 characters
  HTTP_INCOMPLETE = -3,  // the reply is incomplete (its bytes handed out)
  HTTP_REFUSED = -4,     // the header passed 1 MiB: nothing handed out
};

// How a reply ended (httpwhy).
enum HttpEnd : int {
  HE_WHOLE = 0,   // everything expected arrived
  HE_SHORT,       // the body is shorter than its Content-Length
  HE_NOHDREND,    // the peer closed inside the header
  HE_TIMEOUT,     // a wait passed 5 s without progress
  HE_INTR,        // Ctrl-C ended a wait
  HE_RECVFAIL,    // a receive failed
  HE_CUT,         // the reply reached its limit (or the memory): the rest was not read
  HE_HDRBIG,      // the header passed its limit without ending: refused
};

// Flag bits of httpget and httpreq.
enum : int {
  HTTP_11 = 1,        // the request says HTTP/1.1 (else 1.0)
  HTTP_TOGETHER = 2,  // header and body are handed out as one text
};

// The reply parser, fed with the bytes as they arrive. The caller sets the
// first four fields; the rest is the parser's.
struct HttpReply {
  bool together = false;  // header and body in one text (HTTP_TOGETHER)
  bool wanthdr = false;   // the header is handed out apart (in hdr)
  // With a sink the body (with `together` the whole text) goes to it as it
  // arrives instead of being kept in buf.
  void (*sink)(void* ctx, const char* data, size_t n) = nullptr;
  void* ctx = nullptr;

  char* buf = nullptr;  // header until its end, then the text kept (NUL after)
  size_t len = 0, cap = 0;
  char* hdr = nullptr;  // the header apart (its last byte made a zero)
  size_t hdrlen = 0;    // header bytes, its end included; 0 until it ended
  int run = 0;          // carriage-return or newline bytes in a row
  int64_t clen = -1;    // the content length, -1 when none is known
  int64_t taken = 0;    // body bytes taken (kept or sunk)
  int64_t limit = HTTPMAX;  // most body bytes taken without a content length
  int64_t hdrmax = HTTPHDRMAX;  // most header bytes, its end included
  int lastrecv = 0;     // the last receive's result (negative: a wait failed)
  bool done = false;    // everything expected has arrived
  bool nomem = false;   // the buffer could not grow: the reply was cut
  bool refused = false; // the header passed hdrmax without ending
};

// Feeds n received bytes; true when the reply is complete (no more bytes
// are wanted).
bool httpfeed(HttpReply* r, const char* data, size_t n);
// Ends the reply: the text's length (with `together` header and body, else
// the body; a header that never ended makes everything received the body;
// a refused reply has none).
int64_t httpend(HttpReply* r);
// How the reply ended (after httpend, with lastrecv set by the caller).
HttpEnd httpwhy(const HttpReply* r);
// Frees what the parser holds.
void httpfree(HttpReply* r);
// The number after "Content-Length: " at line[0..n): 0 to 1 GiB, else -1.
int64_t httpclen(const char* line, size_t n);

// Sends the request on an open socket and reads the reply. Returns the bytes
// of the body (or of header and body with HTTP_TOGETHER), HTTP_NOCONN when
// the request could not be sent, HTTP_LONGPATH for a path longer than 1020
// characters (nothing is sent), HTTP_INCOMPLETE for an incomplete reply
// (its body is still handed out), HTTP_REFUSED for a header over 1 MiB.
// The body (a NUL-terminated heap text, free()d by the caller) goes to
// *body; the header apart to *header when header is given (null when the
// reply has none apart).
int httpreq(const char* path, int sock, const char* host, const char* extra, char** body,
            char** header, int flags);
// Connects to host:port, sends the request, reads the reply and closes:
// httpreq's result, or -1 when the connection fails.
int httpget(const char* path, const char* host, int port, const char* extra, char** body,
            char** header, int flags);
// httpget (no header apart, HTTP/1.0) for a caller that tells how a fetch
// fell short: *note is empty for a whole reply, else what the socket
// command tells after "socket: " ("incomplete reply: 10 of 1000 body
// bytes"; for HTTP_NOCONN "<host>: <cause>").
int httpnote(const char* path, const char* host, int port, const char* extra, char** body, std::string* note);
// The socket command: socket path host [flags [port]]. Flags 2 and 4 keep
// the header (2 with the body, 4 printed apart as "HDR:" on the listing
// unit), 8 prints it apart on the error unit; the body goes to the listing
// unit in pieces of at most 132 bytes. r0 = httpget's result; an incomplete
// or refused reply is also told on the error unit.
int sockcmd();
