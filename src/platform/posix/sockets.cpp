#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace zdb::platform {
namespace {

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(e.port);
  a.sin_addr.s_addr = htonl(e.address);
  return a;
}

int Fd(Socket s) {
  return static_cast<int>(s);
}

}  // namespace

bool StartSockets() {
  return true;
}
void StopSockets() {}

int LastSocketError() {
  return errno;
}

Socket OpenTcp() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : fd;
}

bool Connect(Socket s, const Endpoint& to) {
  sockaddr_in a = ToSockaddr(to);
  int r;
  do {
    r = ::connect(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

void SetNoDelay(Socket s) {
  int one = 1;
  ::setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

long SendSome(Socket s, const void* data, size_t n) {
  ssize_t r;
  do {
    r = ::send(Fd(s), data, n, MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

bool SendAll(Socket s, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    long r = SendSome(s, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool SendAllParts(Socket s, ConstBuffer* parts, size_t count) {
  constexpr size_t kMaxParts = 64;  // well below IOV_MAX
  // The parts have iovec's layout, so a request's few parts go to the kernel as they are; a
  // send that takes them all (the usual case on a blocking socket) needs nothing more.
  static_assert(sizeof(ConstBuffer) == sizeof(iovec) &&
                offsetof(ConstBuffer, data) == offsetof(iovec, iov_base) &&
                offsetof(ConstBuffer, size) == offsetof(iovec, iov_len));
  if (count <= kMaxParts) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += parts[i].size;
    msghdr m{};
    m.msg_iov = reinterpret_cast<iovec*>(parts);
    m.msg_iovlen = count;
    ssize_t r;
    do {
      r = ::sendmsg(Fd(s), &m, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r < 0 || (r == 0 && total > 0)) return false;
    if (static_cast<size_t>(r) == total) return true;
    // Part of it went: step over what did and go on below.
    SkipSent(parts, count, static_cast<size_t>(r));
  }
  while (count > 0) {
    if (parts->size == 0) {
      ++parts;
      --count;
      continue;
    }
    iovec v[kMaxParts];
    const size_t n = count < kMaxParts ? count : kMaxParts;
    for (size_t i = 0; i < n; ++i) v[i] = {const_cast<void*>(parts[i].data), parts[i].size};
    msghdr m{};
    m.msg_iov = v;
    m.msg_iovlen = n;
    ssize_t r;
    do {
      r = ::sendmsg(Fd(s), &m, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    SkipSent(parts, count, static_cast<size_t>(r));
  }
  return true;
}

long ReceiveSome(Socket s, void* data, size_t n) {
  ssize_t r;
  do {
    r = ::recv(Fd(s), data, n, 0);
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

void CloseSocket(Socket s) {
  if (s != kNoSocket) ::close(Fd(s));
}

Socket OpenUdp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  return fd < 0 ? kNoSocket : fd;
}

bool BindAny(Socket s) {
  return BindTo(s, Endpoint{});
}

bool BindTo(Socket s, const Endpoint& local) {
  sockaddr_in a = ToSockaddr(local);
  return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

void SetBroadcast(Socket s) {
  int one = 1;
  ::setsockopt(Fd(s), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
}

bool SendTo(Socket s, const void* data, size_t n, const Endpoint& to) {
  sockaddr_in a = ToSockaddr(to);
  ssize_t r;
  do {
    r = ::sendto(Fd(s), data, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r < 0 && errno == EINTR);
  return r >= 0;
}

int WaitReadable(Socket s, int milliseconds) {
  pollfd p{Fd(s), POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, milliseconds);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -1 : (r == 0 ? 0 : 1);
}

long ReceiveFrom(Socket s, void* data, size_t n, Endpoint* from) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ssize_t r;
  do {
    r = ::recvfrom(Fd(s), data, n, 0, reinterpret_cast<sockaddr*>(&a), &len);
  } while (r < 0 && errno == EINTR);
  if (r >= 0 && from) {
    from->address = ntohl(a.sin_addr.s_addr);
    from->port = ntohs(a.sin_port);
  }
  return static_cast<long>(r);
}

bool ResolveName(const char* name, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &res) != 0 || !res) return false;
  *address = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(res);
  return true;
}

uint32_t ParseDotted(const char* text) {
  return ntohl(::inet_addr(text));
}

std::string FormatDotted(uint32_t address) {
  char buf[INET_ADDRSTRLEN];
  in_addr a{htonl(address)};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool SystemLocalAddresses(std::vector<uint32_t>* out) {
  char host[257] = {};
  if (::gethostname(host, 256) != 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &res) != 0) return false;
  for (addrinfo* p = res; p; p = p->ai_next)
    out->push_back(ntohl(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr));
  ::freeaddrinfo(res);
  return true;
}

}  // namespace zdb::platform
