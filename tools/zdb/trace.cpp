#include "zdb/trace.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "wire/catalogue.h"
#include "wire/control.h"
#include "wire/le.h"
#include "zdb/frame_parser.h"

namespace zdb::trace {
namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&&) = delete;
  Fd(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool Resolve(const std::string& host, uint16_t port, sockaddr_in* out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
  *out = *reinterpret_cast<sockaddr_in*>(res->ai_addr);
  out->sin_port = htons(port);
  ::freeaddrinfo(res);
  return true;
}

bool SendAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

class Printer {
 public:
  explicit Printer(std::FILE* out) : out_(out) {}
  void Line(int conn, const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn > 0) {
      std::fprintf(out_, "#%d %s\n", conn, text.c_str());
    } else {
      std::fprintf(out_, "%s\n", text.c_str());
    }
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
  std::mutex mu_;
};

// Relays one client connection until either side closes.
void Relay(int conn, Fd client, const sockaddr_in& upstream, Printer& printer,
           const TraceOptions& options, std::atomic<int>& logouts, std::atomic<bool>& stop) {
  Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::connect(server.get(), reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream) != 0) {
    printer.Line(conn, "!! cannot reach the server; connection dropped");
    return;
  }
  int one = 1;
  ::setsockopt(server.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::deque<ExpectedReply> replies;
  auto sink = [&](const std::string& s) { printer.Line(conn, s); };
  RequestParser requests(sink, &replies, options.showPasswords);
  ReplyParser answers(sink, &replies);
  answers.SetReplyHook([&](const ExpectedReply& r, int32_t) {
    constexpr const zdb::wire::Operation& logout = zdb::wire::Op("Logout");
    if ((r.kindFlags & 0xFF) == logout.Kind() && r.opcode == logout.opcode) ++logouts;
  });
  bool decodeRequests = true, decodeReplies = true;
  std::vector<uint8_t> buf(65536);
  pollfd fds[2] = {{client.get(), POLLIN, 0}, {server.get(), POLLIN, 0}};
  while (!stop) {
    if (::poll(fds, 2, 200) < 0) break;
    bool closed = false;
    for (int side = 0; side < 2 && !closed; ++side) {
      if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t r = ::recv(fds[side].fd, buf.data(), buf.size(), 0);
      if (r <= 0) {
        printer.Line(conn, side == 0 ? "-- client closed" : "-- server closed");
        closed = true;
        break;
      }
      const auto n = static_cast<size_t>(r);
      if (side == 0) {
        if (decodeRequests) decodeRequests = requests.Feed(buf.data(), n);
        closed = !SendAll(server.get(), buf.data(), n);
      } else {
        if (decodeReplies) decodeReplies = answers.Feed(buf.data(), n);
        closed = !SendAll(client.get(), buf.data(), n);
      }
    }
    if (closed) break;
  }
}

std::string CodeName(uint16_t code) {
  switch (code) {
    case wire::kCodeProbe:
      return "probe";
    case wire::kCodeStop:
      return "stop";
    case wire::kCodeDiscover:
      return "discovery";
    default:
      return "code " + std::to_string(code);
  }
}

// Relays datagrams: client datagrams go to the server from one upstream socket, and what the
// server answers goes back to the client that spoke last.
void RelayUdp(int listenFd, const sockaddr_in& upstream, Printer& printer,
              std::atomic<bool>& stop) {
  Fd up(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in lastClient{};
  uint8_t buf[wire::kMaxReplySize + 64];
  pollfd fds[2] = {{listenFd, POLLIN, 0}, {up.get(), POLLIN, 0}};
  while (!stop) {
    if (::poll(fds, 2, 200) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      socklen_t len = sizeof lastClient;
      ssize_t r =
          ::recvfrom(listenFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&lastClient), &len);
      if (r > 0) {
        printer.Line(0, "udp -> " + CodeName(wire::DecodeControlCode(buf, static_cast<size_t>(r))));
        ::sendto(up.get(), buf, static_cast<size_t>(r), 0,
                 reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream);
      }
    }
    if (fds[1].revents & POLLIN) {
      ssize_t r = ::recv(up.get(), buf, sizeof buf, 0);
      if (r > 0) {
        printer.Line(0, "udp <- " + CodeName(wire::DecodeControlCode(buf, static_cast<size_t>(r))) +
                            " (" + std::to_string(r) + " bytes)");
        ::sendto(listenFd, buf, static_cast<size_t>(r), 0,
                 reinterpret_cast<const sockaddr*>(&lastClient), sizeof lastClient);
      }
    }
  }
}

}  // namespace

int RunTracer(const TraceOptions& options, std::FILE* out, std::atomic<bool>& stop) {
  sockaddr_in upstream{};
  if (!Resolve(options.upstreamHost, options.upstreamPort, &upstream)) {
    std::fprintf(stderr, "zdb trace: cannot resolve %s\n", options.upstreamHost.c_str());
    return 2;
  }
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(options.listenPort);
  if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(listener.get(), 16) != 0) {
    std::perror("zdb trace: listen");
    return 2;
  }
  socklen_t len = sizeof local;
  ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&local), &len);
  Fd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (::bind(udp.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::perror("zdb trace: udp bind");
    return 2;
  }
  Printer printer(out);
  printer.Line(0, "tracing 127.0.0.1:" + std::to_string(ntohs(local.sin_port)) + " -> " +
                      options.upstreamHost + ":" + std::to_string(options.upstreamPort));
  std::thread udpThread([&] { RelayUdp(udp.get(), upstream, printer, stop); });
  std::vector<std::thread> relays;
  std::atomic<int> ended{0}, open{0}, logouts{0};
  int conn = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.durationSeconds);
  auto done = [&] {
    if (options.maxConnections >= 0 && ended >= options.maxConnections) return true;
    if (options.maxSessions >= 0 && logouts >= options.maxSessions && open == 0) return true;
    return options.durationSeconds >= 0 && std::chrono::steady_clock::now() >= deadline;
  };
  while (!stop && !done()) {
    pollfd p{listener.get(), POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int id = ++conn;
    ++open;
    relays.emplace_back([&, id, fd] {
      Relay(id, Fd(fd), upstream, printer, options, logouts, stop);
      ++ended;
      --open;
    });
  }
  stop = true;
  // Relays end when their peers close; an idle one left open ends with `stop`.
  for (auto& t : relays) t.join();
  stop = true;
  udpThread.join();
  return 0;
}

}  // namespace zdb::trace
