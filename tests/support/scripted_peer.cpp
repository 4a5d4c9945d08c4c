#include "support/scripted_peer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "support/test_platform.h"
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
    if (closed()) return false;
    long r = platform::ReceiveSome(fd_, out->data() + got, n - got);
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
  while (!closed()) {
    long r = platform::ReceiveSome(fd_, buf, sizeof buf);
    if (r <= 0) break;
    all.insert(all.end(), buf, buf + r);
  }
  return all;
}

bool PeerConnection::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    if (closed()) return false;
    long r = platform::SendSome(fd_, p, n);
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
  if (!closed()) {
    ShutdownBoth(fd_);
    platform::CloseSocket(fd_);
    fd_ = platform::kNoSocket;
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

// ---- ScriptedPeer --------------------------------------------------------------------------

ScriptedPeer::ScriptedPeer(bool udpAnyAddress) {
  StartTestSockets();
  constexpr uint32_t kLoopback = 0x7F000001u;
  // Find a port that is free for both TCP and UDP.
  for (int attempt = 0; attempt < 50 && udpFd_ == platform::kNoSocket; ++attempt) {
    listenFd_ = ListenTcp(kLoopback, true);
    if (listenFd_ == platform::kNoSocket) throw std::runtime_error("peer: tcp listen");
    port_ = LocalPort(listenFd_);
    udpFd_ = platform::OpenUdp();
    if (platform::BindTo(udpFd_, {udpAnyAddress ? 0u : kLoopback, port_})) break;
    platform::CloseSocket(udpFd_);
    udpFd_ = platform::kNoSocket;
    platform::CloseSocket(listenFd_);
    listenFd_ = platform::kNoSocket;
  }
  if (udpFd_ == platform::kNoSocket) throw std::runtime_error("peer: no port free for tcp and udp");
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  udpThread_ = std::thread([this] { UdpLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
  // Both loops wait in short rounds and see the flag: neither shutdown() nor close() of a
  // listening socket wakes a blocked accept() on every system.
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (platform::Socket fd : openFds_)
      if (fd != platform::kNoSocket) ShutdownBoth(fd);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  if (udpThread_.joinable()) udpThread_.join();
  for (auto& t : workers_)
    if (t.joinable()) t.join();
  platform::CloseSocket(listenFd_);
  platform::CloseSocket(udpFd_);
}

void ScriptedPeer::Record(const Request& r) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(r);
}

void ScriptedPeer::OnOpcode(uint32_t opcode, OpcodeHandler h) {
  std::lock_guard<std::mutex> lock(mu_);
  handlers_[opcode] = std::move(h);
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

void ScriptedPeer::AcceptLoop() {
  while (!stopping_) {
    const int ready = platform::WaitReadable(listenFd_, 50);
    if (ready < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ready <= 0) continue;
    platform::Socket fd = Accept(listenFd_);
    if (fd == platform::kNoSocket) continue;
    JoinFinishedWorkers();
    ++connections_;
    std::lock_guard<std::mutex> lock(mu_);
    openFds_.push_back(fd);
    if (serveInline_) {
      mu_.unlock();
      Serve(fd);
      mu_.lock();
    } else {
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }
}

void ScriptedPeer::Serve(platform::Socket fd) {
  PeerConnection c(fd, this);
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
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& o : openFds_)
    if (o == fd) o = platform::kNoSocket;
  if (!serveInline_) finished_.push_back(std::this_thread::get_id());
  // The PeerConnection closes the descriptor on leaving this scope.
}

// A thread that is not joined keeps its stack: the thousand connections of a cut sweep would
// fill a 32-bit address space with them.
void ScriptedPeer::JoinFinishedWorkers() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // A worker reports its end under this lock, which it can take only after the accept loop
    // has stored its thread: every reported id is in workers_.
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (std::find(finished_.begin(), finished_.end(), it->get_id()) == finished_.end()) {
        ++it;
        continue;
      }
      done.push_back(std::move(*it));
      it = workers_.erase(it);
    }
    finished_.clear();
  }
  for (auto& t : done) t.join();  // outside the lock: a worker's last steps may take it
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
  platform::Socket fd = platform::OpenUdp();
  platform::BindTo(fd, {fromAddress, 0});
  platform::SendTo(fd, data.data(), data.size(), {toAddress, toPort});
  platform::CloseSocket(fd);
}

void ScriptedPeer::UdpLoop() {
  uint8_t buf[2048];
  while (!stopping_) {
    if (platform::WaitReadable(udpFd_, 50) <= 0) continue;
    platform::Endpoint from;
    long r = platform::ReceiveFrom(udpFd_, buf, sizeof buf, &from);
    if (r < 0) continue;
    Datagram d{Bytes(buf, buf + r), from.address, from.port};
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
      platform::SendTo(udpFd_, reply, sizeof reply, from);
    }
  }
}

}  // namespace zdb::test
