// WinSock 1.1 behind the platform interface. The library asks for version 1.1 exactly, the
// version its wire behaviour was written against.
#include <winsock2.h>
#include <ws2tcpip.h>

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

SOCKET Handle(Socket s) {
  return static_cast<SOCKET>(s);
}

Socket FromHandle(SOCKET h) {
  return h == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(h);
}

int Clamp(size_t n) {
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

}  // namespace

bool StartSockets() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
    ::WSACleanup();
    return false;
  }
  return true;
}

void StopSockets() {
  ::WSACleanup();
}

int LastSocketError() {
  return ::WSAGetLastError();
}

Socket OpenTcp() {
  return FromHandle(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

bool Connect(Socket s, const Endpoint& to) {
  sockaddr_in a = ToSockaddr(to);
  return ::connect(Handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

void SetNoDelay(Socket s) {
  BOOL one = TRUE;
  ::setsockopt(Handle(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

long SendSome(Socket s, const void* data, size_t n) {
  return ::send(Handle(s), static_cast<const char*>(data), Clamp(n), 0);
}

bool SendAllParts(Socket s, ConstBuffer* parts, size_t count) {
  constexpr size_t kMaxParts = 64;
  while (count > 0) {
    WSABUF b[kMaxParts];
    const size_t n = count < kMaxParts ? count : kMaxParts;
    for (size_t i = 0; i < n; ++i) {
      b[i].len = static_cast<ULONG>(Clamp(parts[i].size));
      b[i].buf = const_cast<char*>(static_cast<const char*>(parts[i].data));
    }
    DWORD sent = 0;
    if (::WSASend(Handle(s), b, static_cast<DWORD>(n), &sent, 0, nullptr, nullptr) != 0 ||
        (sent == 0 && b[0].len > 0))
      return false;
    SkipSent(parts, count, sent);
  }
  return true;
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

long ReceiveSome(Socket s, void* data, size_t n) {
  return ::recv(Handle(s), static_cast<char*>(data), Clamp(n), 0);
}

void CloseSocket(Socket s) {
  if (s != kNoSocket) ::closesocket(Handle(s));
}

Socket OpenUdp() {
  return FromHandle(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
}

bool BindAny(Socket s) {
  return BindTo(s, Endpoint{});
}

bool BindTo(Socket s, const Endpoint& local) {
  sockaddr_in a = ToSockaddr(local);
  return ::bind(Handle(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

void SetBroadcast(Socket s) {
  BOOL one = TRUE;
  ::setsockopt(Handle(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one),
               sizeof one);
}

bool SendTo(Socket s, const void* data, size_t n, const Endpoint& to) {
  sockaddr_in a = ToSockaddr(to);
  return ::sendto(Handle(s), static_cast<const char*>(data), Clamp(n), 0,
                  reinterpret_cast<sockaddr*>(&a), sizeof a) != SOCKET_ERROR;
}

int WaitReadable(Socket s, int milliseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Handle(s), &readable);
  timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
  int r = ::select(0, &readable, nullptr, nullptr, &wait);
  return r == SOCKET_ERROR ? -1 : (r == 0 ? 0 : 1);
}

long ReceiveFrom(Socket s, void* data, size_t n, Endpoint* from) {
  sockaddr_in a{};
  int len = sizeof a;
  int r = ::recvfrom(Handle(s), static_cast<char*>(data), Clamp(n), 0,
                     reinterpret_cast<sockaddr*>(&a), &len);
  if (r != SOCKET_ERROR && from) {
    from->address = ntohl(a.sin_addr.s_addr);
    from->port = ntohs(a.sin_port);
  }
  return r == SOCKET_ERROR ? -1 : r;
}

bool ResolveName(const char* name, uint32_t* address) {
  hostent* h = ::gethostbyname(name);
  if (!h || h->h_addrtype != AF_INET || !h->h_addr_list[0]) return false;
  in_addr a;
  memcpy(&a, h->h_addr_list[0], sizeof a);
  *address = ntohl(a.s_addr);
  return true;
}

uint32_t ParseDotted(const char* text) {
  return ntohl(::inet_addr(text));
}

std::string FormatDotted(uint32_t address) {
  in_addr a;
  a.s_addr = htonl(address);
  return ::inet_ntoa(a);
}

bool SystemLocalAddresses(std::vector<uint32_t>* out) {
  char host[257] = {};
  if (::gethostname(host, 256) != 0) return false;
  hostent* h = ::gethostbyname(host);
  if (!h || h->h_addrtype != AF_INET) return false;
  for (char** p = h->h_addr_list; *p; ++p) {
    in_addr a;
    memcpy(&a, *p, sizeof a);
    out->push_back(ntohl(a.s_addr));
  }
  return true;
}

}  // namespace zdb::platform
