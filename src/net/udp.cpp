#include "net/udp.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace zdb {
namespace {

constexpr uint32_t kLoopbackHost = 0x7F000001u;

// A datagram socket bound to any local address, closed with its owner.
class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { platform::CloseSocket(fd_); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // False on a socket or bind failure, with the error number recorded in the Connection.
  bool Open(Connection& s) {
    fd_ = platform::OpenUdp();
    if (fd_ != platform::kNoSocket && platform::BindAny(fd_)) return true;
    s.lastSocketError = platform::LastSocketError();
    return false;
  }
  platform::Socket fd() const { return fd_; }

 private:
  platform::Socket fd_ = platform::kNoSocket;
};

// The server's endpoint from a host text; 2001 when the text is unusable.
int32_t ParseServer(const char* host, platform::Endpoint* to) {
  if (!host || !*host || std::strlen(host) >= 256) return kErrComm;
  HostText t = SplitHostText(host);
  if (!ResolveHostName(t.name, &to->address)) return kErrComm;
  to->port = static_cast<uint16_t>(t.port);
  return kOk;
}

bool SendControl(Connection& s, platform::Socket fd, uint16_t code, const platform::Endpoint& to) {
  uint8_t datagram[wire::kControlSize];
  wire::EncodeControl(code, datagram);
  if (platform::SendTo(fd, datagram, sizeof datagram, to)) return true;
  s.lastSocketError = platform::LastSocketError();
  return false;
}

// Waits for a datagram carrying `code`, each arrival restarting the 2-second wait.
int32_t AwaitCode(Connection& s, platform::Socket fd, uint16_t code, int32_t answered) {
  uint8_t reply[wire::kMaxReplySize];
  for (;;) {
    const int ready = platform::WaitReadable(fd, kUdpWaitMs);
    if (ready == 0) return kProbeSilent;
    long n = ready < 0 ? -1 : platform::ReceiveFrom(fd, reply, sizeof reply, nullptr);
    if (n < 0) {
      s.lastSocketError = platform::LastSocketError();
      return 0;
    }
    if (wire::DecodeControlCode(reply, static_cast<size_t>(n)) == code) return answered;
  }
}

char* CopyText(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void FreeEntries(char** list, int32_t max) {
  for (int32_t i = 0; i < max; ++i) {
    std::free(list[i]);
    list[i] = nullptr;
  }
}

// Collects replies until 2 seconds pass without one or `max` servers have answered; -1 on a
// wait or receive failure.
int32_t CollectReplies(Connection& s, platform::Socket fd, char** list, int32_t max) {
  int32_t count = 0;
  uint8_t reply[wire::kMaxReplySize];
  while (count < max) {
    const int ready = platform::WaitReadable(fd, kUdpWaitMs);
    if (ready == 0) break;
    platform::Endpoint from;
    long n = ready < 0 ? -1 : platform::ReceiveFrom(fd, reply, sizeof reply, &from);
    if (n < 0) {
      s.lastSocketError = platform::LastSocketError();
      return -1;
    }
    wire::DiscoveryInfo info;
    if (wire::DecodeControlCode(reply, static_cast<size_t>(n)) != wire::kCodeDiscover) continue;
    if (from.address == kLoopbackHost) continue;  // this machine's own server
    if (!wire::DecodeDiscoveryReply(reply, static_cast<size_t>(n), info)) continue;
    list[count++] = CopyText(FormatServerEntry(info, from.address));
  }
  return count;
}

}  // namespace

uint32_t ClassfulBroadcast(uint32_t address) {
  const uint32_t first = address >> 24;
  if (first < 128) return address | 0x00FFFFFFu;
  if (first < 192) return address | 0x0000FFFFu;
  return address | 0x000000FFu;
}

std::string FormatServerEntry(const wire::DiscoveryInfo& info, uint32_t fromAddress) {
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, ",%03d-%05d,%02d", info.numbers[0], info.numbers[1],
                info.numbers[2]);
  std::string entry = info.text + "," + platform::FormatDotted(fromAddress) + numbers;
  if (entry.size() > kServerEntryMax) entry.resize(kServerEntryMax);
  return entry;
}

int32_t ProbeServer(Connection& s, const char* host) {
  UdpSocket sock;
  if (!sock.Open(s)) return 0;
  platform::Endpoint to;
  if (int32_t r = ParseServer(host, &to); r != kOk) return r;
  if (!SendControl(s, sock.fd(), wire::kCodeProbe, to)) return 0;
  return AwaitCode(s, sock.fd(), wire::kCodeProbe, kProbeAnswered);
}

int32_t StopServer(Connection& s, const char* host) {
  if (ProbeServer(s, host) != kProbeAnswered) return kProbeSilent;
  UdpSocket sock;
  if (!sock.Open(s)) return 0;
  platform::Endpoint to;
  if (int32_t r = ParseServer(host, &to); r != kOk) return r;
  if (!SendControl(s, sock.fd(), wire::kCodeStop, to)) return 0;
  const int32_t ack = AwaitCode(s, sock.fd(), wire::kCodeStop, kOk);
  if (ack != kOk) return ack;
  return ProbeServer(s, host) == kProbeSilent ? kStopped : kStopStillRunning;
}

int32_t DiscoverServers(Connection& s, char** list, int32_t max, int32_t port) {
  FreeEntries(list, max);
  if (max < 1) return 0;
  UdpSocket sock;
  if (!sock.Open(s)) return 0;
  platform::SetBroadcast(sock.fd());
  std::vector<uint32_t> local;
  if (!platform::LocalAddresses(&local)) return 0;
  const uint16_t serverPort = port == 0 ? kDefaultPort : static_cast<uint16_t>(port);
  for (uint32_t address : local) {
    if (!SendControl(s, sock.fd(), wire::kCodeDiscover, {ClassfulBroadcast(address), serverPort}))
      return 0;
  }
  const int32_t count = CollectReplies(s, sock.fd(), list, max);
  if (count < 0) return 0;
  // Empty texts after the last entry mark the end for callers that walk the list.
  for (int32_t i = count; i <= count + 1 && i < max; ++i) list[i] = CopyText("");
  return count;
}

}  // namespace zdb

namespace zdb {

HostText SplitHostText(const char* host) {
  HostText t;
  t.name = host;
  const size_t colon = t.name.find(':');
  if (colon != std::string::npos) {
    t.port = static_cast<uint32_t>(std::atoi(t.name.c_str() + colon + 1));
    t.name.resize(colon);
  }
  return t;
}

bool ResolveHostName(const std::string& name, uint32_t* address) {
  if (!name.empty() && std::isalpha(static_cast<unsigned char>(name[0])))
    return platform::ResolveName(name.c_str(), address);
  *address = platform::ParseDotted(name.c_str());
  return true;
}

}  // namespace zdb
