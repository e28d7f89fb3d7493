// A small TCP layer over POSIX sockets: connect and listen, send, receive,
// close with draining, waiting on a set of sockets, and accepting. The HTTP
// client (files/http.h) is built on it.
//
// A socket is the platform's descriptor (a non-negative int); failures are
// negative. Every connect, send and receive wait ends after NETWAIT ms
// without progress (on the real monotonic clock, also under a virtual
// program clock: a peer needs real time to answer) and on Ctrl-C (status
// bit 0x100). A peer that closes never raises SIGPIPE.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int NETWAIT = 5000;  // ms a wait may pass without progress
constexpr int SOCKSETMAX = 64; // sockets in a socket set

// Results beside a socket or a byte count.
enum : int {
  SOCK_FAIL = -1,      // the platform refused (sockrecv, socksend, sockclose)
  SOCK_NOHOST = -2,    // sockopen: host not found
  SOCK_NOCONN = -3,    // sockopen: connect failed (or no positive port)
  SOCK_NOBIND = -4,    // sockopen: bind failed
  SOCK_NOLISTEN = -5,  // sockopen: listen failed
  SOCK_TIMEOUT = -6,   // a wait passed NETWAIT ms without progress
  SOCK_INTR = -7,      // Ctrl-C ended a wait
};

// A socket set: a count followed by at most 64 sockets.
struct SockSet {
  int32_t count;
  int32_t sock[SOCKSETMAX];
};

// Starts the socket layer once (a counter records it); 0.
int sockinit();
// mode 1: connects to host:port (an empty host is this machine's any
// address); mode 0: binds the port on every local address (or on host's)
// and listens with a backlog of 128. The socket, or SOCK_NOHOST,
// SOCK_NOCONN, SOCK_NOBIND, SOCK_NOLISTEN (the socket is closed then).
int sockopen(const char* host, int port, int mode);
// Why the last sockopen failed, as a text for the user ("Connection
// refused", "Name or service not known", "no connection for 5 s",
// "interrupted", "port 0 is not 1 to 65535" ...); empty after a success.
const char* sockwhy();
// Sends length bytes (length 0: the text with its terminating zero byte).
// The bytes sent, or a negative result when the peer failed or a wait ended.
int socksend(int sock, const char* data, int length);
// Receives at most length bytes: the bytes received, 0 when the peer has
// closed, negative on failure, time-out or Ctrl-C.
int sockrecv(int sock, char* buffer, int length);
// Shuts down the sending side, reads and drops what still arrives (132
// bytes at a time) until the peer closes, then closes the socket. The
// socket is closed in every case; the result is 0, or the failure of the
// shutdown or of a receive.
int sockclose(int sock);
// Closes a socket at once, dropping what may still arrive (after a wait
// that timed out or was interrupted). 0, or SOCK_FAIL.
int sockdrop(int sock);
// Waits until a socket of the set is ready for reading; the set keeps only
// the ready ones (as select does). seconds and microseconds both 0 or less
// wait NETWAIT ms. The number ready, 0 on time-out, -1 on failure or
// Ctrl-C.
int sockwait(SockSet* set, int highest, int seconds, int microseconds);
// Operation bits: 4 empties the set, 1 adds the socket (while fewer than
// 64 are in it), 2 removes it. The set's count.
int sockset(SockSet* set, int sock, int ops);
// The lowest socket of the set, no higher than highest, or -1.
int sockready(const SockSet* set, int highest);
// Accepts a connection on a listening socket (waiting at most NETWAIT ms):
// the new socket, the peer's dotted address in host (size bytes) and its
// port in *port; negative when none came.
int sockaccept(int sock, char* host, int size, int* port);

// 0 when the first n characters of a and b match ignoring case, else -1.
int strnic(const char* a, const char* b, int n);
// 1 for a lower-case letter, 2 for an upper-case one, 0 otherwise.
int chcase(int c);
