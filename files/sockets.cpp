// The TCP layer over POSIX sockets. Sockets are non-blocking; every wait
// goes through netwait, which polls in short slices so that Ctrl-C ends it.
#include "files/sockets.h"

#include "core/state.h"
#include "ui/events.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int nstart = 0;  // sockinit calls that started the layer
std::string why;  // the cause of the last sockopen that failed

using Clock = std::chrono::steady_clock;
Clock::time_point lastchk;  // the last interrupt poll of a network wait

int msince(Clock::time_point t) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Polls input for Ctrl-C at most every 100 ms, also while data flows.
bool interrupted() {
  if (msince(lastchk) >= 100) {
    lastchk = Clock::now();
    chkio(0);
  }
  return (state & ST_INTR) != 0;
}

// Waits until fd is ready for events: 1 ready (or in error, which the next
// call reports), SOCK_TIMEOUT after ms without it, SOCK_INTR on Ctrl-C,
// SOCK_FAIL when poll fails.
int netwait(int fd, short events, int ms) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    if (interrupted()) return SOCK_INTR;
    const int left = ms - msince(start);
    if (left <= 0) return SOCK_TIMEOUT;
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, left < 100 ? left : 100);
    if (r > 0) return 1;
    if (r < 0 && errno != EINTR) return SOCK_FAIL;
  }
}

int nonblock(int fd) {
  const int fl = fcntl(fd, F_GETFL);
  return fl < 0 ? -1 : fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

// Looks a host up as getaddrinfo does, waiting at most NETWAIT ms and
// ending on Ctrl-C: the addresses (freeaddrinfo), null when none came.
addrinfo* resolve(const char* host, const std::string& svc, const addrinfo& hints) {
  // The lookup runs beside the program; its texts live with it, and a
  // lookup that cannot be cancelled any more keeps them until it ends.
  struct Lookup {
    std::string host, svc;
    addrinfo hints;
    gaicb cb;
  };
  auto* l = new Lookup{host ? host : "", svc, hints, {}};
  l->cb.ar_name = host ? l->host.c_str() : nullptr;
  l->cb.ar_service = l->svc.c_str();
  l->cb.ar_request = &l->hints;
  gaicb* list[1] = {&l->cb};
  if (const int e = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); e != 0) {
    why = e == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(e);
    delete l;
    return nullptr;
  }
  const Clock::time_point start = Clock::now();
  for (;;) {
    const int e = gai_error(&l->cb);
    if (e != EAI_INPROGRESS) {
      addrinfo* res = e == 0 ? l->cb.ar_result : nullptr;
      if (e != 0) why = e == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(e);
      delete l;
      return res;
    }
    if (interrupted() || msince(start) >= NETWAIT) {
      why = (state & ST_INTR) ? "interrupted" : "no answer from the name lookup for 5 s";
      if (gai_cancel(&l->cb) == EAI_CANCELED) delete l;
      return nullptr;
    }
    const timespec slice{0, 20 * 1000 * 1000};
    gai_suspend(list, 1, &slice);
  }
}

// Connects one address; the socket or -1 (the cause in why).
int connect1(const addrinfo* a) {
  const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  int err = 0;
  if (nonblock(fd) != 0) {
    err = errno;
  } else if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
    return fd;
  } else if (errno != EINPROGRESS) {
    err = errno;
  } else if (const int w = netwait(fd, POLLOUT, NETWAIT); w != 1) {
    why = w == SOCK_TIMEOUT ? "no connection for 5 s" : w == SOCK_INTR ? "interrupted" : std::strerror(errno);
  } else {
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err == 0) return fd;
  }
  if (err) why = std::strerror(err);
  close(fd);
  return -1;
}

}  // namespace

int sockinit() {
  // POSIX sockets need no start; the counter keeps the layer's one start.
  nstart++;
  return 0;
}

const char* sockwhy() { return why.c_str(); }

int sockopen(const char* host, int port, int mode) {
  if (nstart == 0) sockinit();
  why.clear();
  if (port <= 0 || port > 65535) {
    why = "port " + std::to_string(port) + " is not 1 to 65535";
    return mode == 1 ? SOCK_NOCONN : SOCK_NOBIND;
  }
  const bool any = !host || !*host;
  addrinfo hints{};
  hints.ai_family = mode == 1 ? AF_UNSPEC : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = any ? AI_PASSIVE : 0;
  addrinfo* res = nullptr;
  const std::string svc = std::to_string(port);
  if (!(res = resolve(any ? nullptr : host, svc, hints))) return SOCK_NOHOST;
  int fd = -1, r = mode == 1 ? SOCK_NOCONN : SOCK_NOBIND;
  if (mode == 1) {
    for (const addrinfo* a = res; a && fd < 0 && !(state & ST_INTR); a = a->ai_next) fd = connect1(a);
    if (fd >= 0) r = fd;
  } else {
    fd = socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC, res->ai_protocol);
    const int one = 1;
    if (fd >= 0 && nonblock(fd) == 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        bind(fd, res->ai_addr, res->ai_addrlen) == 0) {
      r = listen(fd, 128) == 0 ? fd : SOCK_NOLISTEN;
    }
    if (r < 0) why = std::strerror(errno);
    if (r < 0 && fd >= 0) close(fd);
  }
  freeaddrinfo(res);
  if (r >= 0) why.clear();
  else if (why.empty()) why = (state & ST_INTR) ? "interrupted" : "no address";
  return r;
}

int socksend(int sock, const char* data, int length) {
  if (sock < 0 || !data) return SOCK_FAIL;
  size_t n = length > 0 ? static_cast<size_t>(length) : std::strlen(data) + 1;
  size_t sent = 0;
  while (sent < n) {
    const ssize_t k = send(sock, data + sent, n - sent, MSG_NOSIGNAL);
    if (k > 0) {
      sent += static_cast<size_t>(k);
      continue;
    }
    if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return SOCK_FAIL;
    const int w = netwait(sock, POLLOUT, NETWAIT);
    if (w != 1) return w;
  }
  return static_cast<int>(sent);
}

int sockrecv(int sock, char* buffer, int length) {
  if (sock < 0 || !buffer || length <= 0) return SOCK_FAIL;
  for (;;) {
    if (interrupted()) return SOCK_INTR;
    const ssize_t k = recv(sock, buffer, static_cast<size_t>(length), 0);
    if (k >= 0) return static_cast<int>(k);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return SOCK_FAIL;
    const int w = netwait(sock, POLLIN, NETWAIT);
    if (w != 1) return w;
  }
}

int sockclose(int sock) {
  if (sock < 0) return SOCK_FAIL;
  int r = shutdown(sock, SHUT_WR) == 0 ? 0 : SOCK_FAIL;
  if (r == 0) {
    char drop[132];
    int k;
    while ((k = sockrecv(sock, drop, sizeof drop)) > 0) {
    }
    if (k < 0) r = k;
  }
  if (close(sock) != 0 && r == 0) r = SOCK_FAIL;
  return r;
}

int sockdrop(int sock) { return sock >= 0 && close(sock) == 0 ? 0 : SOCK_FAIL; }

int sockwait(SockSet* set, int highest, int seconds, int microseconds) {
  if (!set || set->count < 0 || set->count > SOCKSETMAX) return -1;
  int ms = seconds > 0 || microseconds > 0
               ? static_cast<int>(std::min<int64_t>(int64_t{seconds > 0 ? seconds : 0} * 1000 +
                                                        (microseconds > 0 ? microseconds : 0) / 1000,
                                                    INT32_MAX))
               : NETWAIT;
  pollfd p[SOCKSETMAX];
  int n = 0;
  for (int i = 0; i < set->count; i++)
    if (set->sock[i] >= 0 && set->sock[i] <= highest) p[n++] = pollfd{set->sock[i], POLLIN, 0};
  const Clock::time_point start = Clock::now();
  for (;;) {
    if (interrupted()) return -1;
    const int left = ms - msince(start);
    int r = poll(p, static_cast<nfds_t>(n), left <= 0 ? 0 : left < 100 ? left : 100);
    if (r < 0 && errno != EINTR) return -1;
    if (r > 0) {
      // Only the ready sockets stay in the set.
      set->count = 0;
      for (int i = 0; i < n; i++)
        if (p[i].revents) set->sock[set->count++] = p[i].fd;
      return set->count;
    }
    if (left <= 0) {
      set->count = 0;
      return 0;
    }
  }
}

int sockset(SockSet* set, int sock, int ops) {
  if (!set) return 0;
  if (set->count < 0 || set->count > SOCKSETMAX) set->count = 0;
  if (ops & 4) set->count = 0;
  if ((ops & 1) && set->count < SOCKSETMAX) {
    bool in = false;
    for (int i = 0; i < set->count; i++) in = in || set->sock[i] == sock;
    if (!in) set->sock[set->count++] = sock;
  }
  if (ops & 2) {
    int k = 0;
    for (int i = 0; i < set->count; i++)
      if (set->sock[i] != sock) set->sock[k++] = set->sock[i];
    set->count = k;
  }
  return set->count;
}

int sockready(const SockSet* set, int highest) {
  if (!set || set->count < 0 || set->count > SOCKSETMAX) return -1;
  int low = -1;
  for (int i = 0; i < set->count; i++) {
    const int s = set->sock[i];
    if (s >= 0 && s <= highest && (low < 0 || s < low)) low = s;
  }
  return low;
}

int sockaccept(int sock, char* host, int size, int* port) {
  if (host && size > 0) host[0] = 0;
  if (port) *port = 0;
  if (sock < 0) return SOCK_FAIL;
  for (;;) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const int fd = accept4(sock, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      char dotted[INET_ADDRSTRLEN] = "";
      if (a.sin_family == AF_INET) inet_ntop(AF_INET, &a.sin_addr, dotted, sizeof dotted);
      if (host && size > 0) {
        std::strncpy(host, dotted, static_cast<size_t>(size) - 1);
        host[size - 1] = 0;
      }
      if (port) *port = ntohs(a.sin_port);
      return fd;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return SOCK_FAIL;
    const int w = netwait(sock, POLLIN, NETWAIT);
    if (w != 1) return w;
  }
}

int strnic(const char* a, const char* b, int n) {
  for (int i = 0; i < n; i++) {
    const int x = a[i], y = b[i];
    const int lx = chcase(x) == 2 ? x + 32 : x, ly = chcase(y) == 2 ? y + 32 : y;
    if (lx != ly) return -1;
    if (x == 0) return 0;
  }
  return 0;
}

int chcase(int c) {
  if (c >= 'a' && c <= 'z') return 1;
  if (c >= 'A' && c <= 'Z') return 2;
  return 0;
}
