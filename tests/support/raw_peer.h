// A one-connection server for faults the scripted peer does not make, such as a connection
// reset: it accepts one connection on 127.0.0.1 and hands its descriptor to a function that
// runs on the peer's own thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "support/scripted_peer.h"
#include "wire/frame.h"
#include "wire/le.h"

namespace zdb::test {

class RawPeer {
 public:
  explicit RawPeer(std::function<void(int fd)> serve) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 1) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("raw peer: listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, serve = std::move(serve)] {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) serve(fd);
    });
  }
  ~RawPeer() {
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
  }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  uint16_t port() const { return port_; }

  // Closes with a reset instead of an orderly end.
  static void Reset(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
  }
  static bool ReadExact(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
      const ssize_t r = ::recv(fd, p, n, 0);
      if (r <= 0) return false;
      p += r;
      n -= static_cast<size_t>(r);
    }
    return true;
  }
  // One request frame, whole.
  static bool ReadFrame(int fd, Bytes* frame) {
    frame->assign(wire::kHeaderSize, 0);
    if (!ReadExact(fd, frame->data(), wire::kHeaderSize)) return false;
    const uint32_t total = wire::GetU32(frame->data() + 149);
    if (total < wire::kHeaderSize || total > (64u << 20)) return false;
    frame->resize(total);
    return ReadExact(fd, frame->data() + wire::kHeaderSize, total - wire::kHeaderSize);
  }
  static bool Write(int fd, const Bytes& b) {
    return ::send(fd, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }

 private:
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace zdb::test
