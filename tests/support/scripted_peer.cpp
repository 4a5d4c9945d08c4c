#include "support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "wire/control.h"
#include "wire/file_block.h"
#include "wire/le.h"

namespace zdb::test {

std::string Request::SlotText(int i) const {
  const Bytes& b = slots.at(static_cast<size_t>(i));
  size_t n = 0;
  while (n < b.size() && b[n] != 0) ++n;
  return std::string(b.begin(), b.begin() + static_cast<long>(n));
}

uint32_t Request::SlotU32(int i) const {
  const Bytes& b = slots.at(static_cast<size_t>(i));
  return b.size() >= 4 ? wire::GetU32(b.data()) : 0;
}

bool PeerConnection::ReadExact(size_t n, Bytes* out) {
  out->resize(n);
  size_t got = 0;
  while (got < n) {
    if (fd_ < 0) return false;
    ssize_t r = ::recv(fd_, out->data() + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool PeerConnection::ReadFrame(Request* out) {
  Bytes head;
  if (!ReadExact(wire::kHeaderSize, &head)) return false;
  out->magicOk = wire::DecodeHeader(head.data(), out->header);
  const auto& h = out->header;
  if (h.total < wire::kHeaderSize || h.total > (64u << 20)) return false;
  Bytes rest;
  if (!ReadExact(h.total - wire::kHeaderSize, &rest)) return false;
  out->raw = head;
  out->raw.insert(out->raw.end(), rest.begin(), rest.end());
  out->slots.clear();
  size_t off = 0;
  int count = h.paramCount < 0 ? 0 : (h.paramCount > 16 ? 16 : h.paramCount);
  for (int i = 0; i < count; ++i) {
    size_t len = h.lengths[static_cast<size_t>(i)];
    if (off + len > rest.size()) len = rest.size() - off;
    out->slots.emplace_back(rest.begin() + static_cast<long>(off),
                            rest.begin() + static_cast<long>(off + len));
    off += len;
  }
  if (owner_) owner_->Record(*out);
  return true;
}

Bytes PeerConnection::ReadUntilClosed() {
  Bytes all;
  uint8_t buf[16384];
  while (fd_ >= 0) {
    ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
    if (r <= 0) break;
    all.insert(all.end(), buf, buf + r);
  }
  return all;
}

bool PeerConnection::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    if (fd_ < 0) return false;
    ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool PeerConnection::WriteInPieces(const Bytes& b, size_t piece, int pauseMs) {
  for (size_t off = 0; off < b.size(); off += piece) {
    size_t n = std::min(piece, b.size() - off);
    if (!Write(b.data() + off, n)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  return true;
}

void PeerConnection::Close() {
  if (fd_ >= 0) {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
  }
}

Bytes PeerConnection::FullReply(const Request& req, int32_t status, uint32_t handle) {
  Bytes reply = req.raw;
  wire::PutU32(reply.data() + wire::kOffSession, handle);
  wire::PutI32(reply.data() + wire::kOffStatus, status);
  return reply;
}

bool PeerConnection::ReplyFull(const Request& req, int32_t status, uint32_t handle) {
  return Write(FullReply(req, status, handle));
}

bool PeerConnection::ReplyStatus(int32_t status) {
  uint8_t w[4];
  wire::PutI32(w, status);
  return Write(w, 4);
}

bool PeerConnection::SendFile(const Bytes& content) {
  uint8_t head[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(content.size()), head);
  return Write(head, sizeof head) && Write(content);
}

bool PeerConnection::SendRecord(const Bytes& data) {
  uint8_t len[4];
  wire::PutI32(len, static_cast<int32_t>(data.size()));
  return Write(len, 4) && Write(data);
}

// ---- ScriptedPeer --------------------------------------------------------------------------

ScriptedPeer::ScriptedPeer(bool udpAnyAddress) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Find a port that is free for both TCP and UDP.
  for (int attempt = 0; attempt < 50; ++attempt) {
    a.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("peer: tcp bind");
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in u = a;
    u.sin_addr.s_addr = udpAnyAddress ? htonl(INADDR_ANY) : htonl(INADDR_LOOPBACK);
    if (::bind(udpFd_, reinterpret_cast<sockaddr*>(&u), sizeof u) == 0) break;
    ::close(udpFd_);
    udpFd_ = -1;
    ::close(listenFd_);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  if (udpFd_ < 0) throw std::runtime_error("peer: no port free for tcp and udp");
  port_ = ntohs(a.sin_port);
  ::listen(listenFd_, 64);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  udpThread_ = std::thread([this] { UdpLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
  stopping_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  if (udpThread_.joinable()) udpThread_.join();
  for (auto& t : workers_)
    if (t.joinable()) t.join();
  ::close(listenFd_);
  ::close(udpFd_);
}

void ScriptedPeer::Record(const Request& r) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(r);
}

void ScriptedPeer::OnOpcode(uint32_t opcode, OpcodeHandler h) {
  std::lock_guard<std::mutex> lock(mu_);
  handlers_[opcode] = std::move(h);
}

void ScriptedPeer::OnConnection(ConnectionHandler h) {
  std::lock_guard<std::mutex> lock(mu_);
  connectionHandler_ = std::move(h);
}

void ScriptedPeer::OnUdp(UdpHandler h) {
  std::lock_guard<std::mutex> lock(mu_);
  udpHandler_ = std::move(h);
}

std::vector<Request> ScriptedPeer::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::vector<uint32_t> ScriptedPeer::opcodes() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<uint32_t> ops;
  for (const auto& r : requests_) ops.push_back(r.header.opcode);
  return ops;
}

std::vector<ScriptedPeer::Datagram> ScriptedPeer::datagrams() const {
  std::lock_guard<std::mutex> lock(mu_);
  return datagrams_;
}

void ScriptedPeer::ClearRecords() {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.clear();
  datagrams_.clear();
}

bool ScriptedPeer::WaitForRequests(size_t n, int ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (requests_.size() >= n) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void ScriptedPeer::AcceptLoop() {
  while (!stopping_) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_) return;
      continue;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    std::lock_guard<std::mutex> lock(mu_);
    openFds_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void ScriptedPeer::Serve(int fd) {
  PeerConnection c(fd, this);
  ConnectionHandler whole;
  {
    std::lock_guard<std::mutex> lock(mu_);
    whole = connectionHandler_;
  }
  if (whole) {
    whole(c);
  } else {
    Request req;
    while (!stopping_ && c.ReadFrame(&req)) {
      OpcodeHandler h;
      {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = handlers_.find(req.header.opcode);
        if (it != handlers_.end()) h = it->second;
      }
      bool keep = h ? h(req, c) : DefaultAnswer(req, c);
      if (!keep || c.closed()) break;
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& o : openFds_)
    if (o == fd) o = -1;
  // The PeerConnection closes the descriptor on leaving this scope.
}

bool ScriptedPeer::DefaultAnswer(const Request& req, PeerConnection& c) {
  const auto& h = req.header;
  if (h.flags & 0x80) return c.ReplyStatus(1000);
  switch (h.opcode) {
    case 0:
      return c.ReplyFull(req, 1000, handle_.load());
    case 1:
      c.ReplyFull(req, 1000, 0xFFFFFFFFu);
      return false;
    case 2: {
      Bytes reply = PeerConnection::FullReply(req, 1000, h.sessionHandle);
      if (h.paramCount >= 1 && h.lengths[0] >= 4)
        wire::PutU32(reply.data() + wire::kHeaderSize, version_.load());
      return c.Write(reply);
    }
    default:
      return c.ReplyFull(req, 1000, h.sessionHandle);
  }
}

void ScriptedPeer::SendUdp(const Bytes& data, uint32_t fromAddress, uint32_t toAddress,
                           uint16_t toPort) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(fromAddress);
  ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(toAddress);
  to.sin_port = htons(toPort);
  ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
}

void ScriptedPeer::UdpLoop() {
  uint8_t buf[2048];
  while (!stopping_) {
    pollfd p{udpFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t r = ::recvfrom(udpFd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (r < 0) continue;
    Datagram d{Bytes(buf, buf + r), ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    UdpHandler h;
    {
      std::lock_guard<std::mutex> lock(mu_);
      datagrams_.push_back(d);
      h = udpHandler_;
    }
    if (h) {
      h(d, *this);
    } else if (!udpSilent_ && r >= 2) {
      // Unscripted: echo the code, which answers probe and stop.
      uint8_t reply[wire::kControlSize];
      wire::EncodeControl(wire::GetU16(buf), reply);
      ::sendto(udpFd_, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
}

}  // namespace zdb::test
