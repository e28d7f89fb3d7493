// The HTTP client over POSIX sockets. Every wait has a time-out and ends on
// Ctrl-C; a peer that closes the connection never raises SIGPIPE.
#include "files/http.h"

#include "core/state.h"
#include "ui/events.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int WAITMS = 5000;  // longest silence of the peer

// Waits until fd is ready for `events`; false on time-out, error or Ctrl-C.
bool ready(int fd, short events) {
  for (int waited = 0; waited < WAITMS; waited += 100) {
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, 100);
    if (r > 0) return !(p.revents & (POLLERR | POLLNVAL)) || (p.revents & POLLIN);
    if (r < 0 && errno != EINTR) return false;
    chkio(0);
    if (state & ST_INTR) return false;
  }
  return false;
}

int connectto(const char* host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const std::string svc = std::to_string(port);
  if (getaddrinfo(host, svc.c_str(), &hints, &res) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = res; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 &&
        (errno != EINPROGRESS || !ready(fd, POLLOUT))) {
      close(fd);
      fd = -1;
      continue;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(res);
  return fd;
}

char* heapstr(const std::string& s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (p) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}
}  // namespace

int httpget(const char* path, const char* host, int port, const char* extra, char** body,
            char** header, int flags) {
  if (body) *body = nullptr;
  if (header) *header = nullptr;
  if (!path || !host) return -1;
  if (std::strlen(path) > 1020) return -2;
  const int fd = connectto(host, port);
  if (fd < 0) return -1;
  std::string req = "GET " + std::string(path) + ((flags & 2) ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
  if (!(flags & 2)) req += "Host: " + std::string(host) + "\r\nConnection: close\r\n";
  if (extra && *extra) req += std::string(extra) + "\r\n";
  req += "\r\n";
  for (size_t sent = 0; sent < req.size();) {
    if (!ready(fd, POLLOUT)) {
      close(fd);
      return -1;
    }
    ssize_t n = send(fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
    if (n <= 0 && errno != EAGAIN && errno != EINTR) {
      close(fd);
      return -1;
    }
    if (n > 0) sent += static_cast<size_t>(n);
  }
  std::string reply;
  char buf[4096];
  while (ready(fd, POLLIN)) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      break;
    }
    reply.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  size_t split = reply.find("\r\n\r\n");
  size_t skip = 4;
  if (split == std::string::npos) {
    split = reply.find("\n\n");
    skip = 2;
  }
  std::string head = split == std::string::npos ? reply : reply.substr(0, split);
  std::string text = split == std::string::npos ? std::string() : reply.substr(split + skip);
  if (header) *header = heapstr(head);
  if (body && !text.empty()) *body = heapstr(text);
  return static_cast<int>(text.size());
}
