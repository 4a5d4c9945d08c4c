// A fake ZDB server on 127.0.0.1 for protocol tests: TCP and UDP on one port. It records every
// connection and every frame it reads, and answers as the test scripts it. Unscripted, it
// behaves like a minimal well-behaved server (login, version 0x1234, logout, echo replies).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "wire/frame.h"

namespace zdb::test {

using Bytes = std::vector<uint8_t>;

// One request frame as the peer read it.
struct Request {
  wire::FrameHeader header;
  bool magicOk = false;
  Bytes raw;                          // every byte of the frame, header included
  std::vector<Bytes> slots;           // slot data cut by the header's lengths
  std::string SlotText(int i) const;  // slot i up to its first zero byte
  uint32_t SlotU32(int i) const;
};

class PeerConnection {
 public:
  PeerConnection(platform::Socket fd, class ScriptedPeer* owner) : fd_(fd), owner_(owner) {}
  // Reads one whole frame (header, then total - 161 bytes). False when the client closed or
  // the header is unusable.
  bool ReadFrame(Request* out);
  bool ReadExact(size_t n, Bytes* out);
  Bytes ReadUntilClosed();
  bool Write(const void* data, size_t n);
  bool Write(const Bytes& b) { return Write(b.data(), b.size()); }
  // Writes in pieces of `piece` bytes with a pause between them, so that the client sees the
  // reply arrive in several segments.
  bool WriteInPieces(const Bytes& b, size_t piece, int pauseMs);
  void Close();
  bool closed() const { return fd_ == platform::kNoSocket; }

  // The frame a well-behaved server answers to `req`: the request's bytes with status and
  // session handle set.
  static Bytes FullReply(const Request& req, int32_t status, uint32_t handle);
  bool ReplyFull(const Request& req, int32_t status = 1000, uint32_t handle = 0);
  bool ReplyStatus(int32_t status);
  // 64-byte file header and the file bytes, as the server side of a ReceiveFile step.
  bool SendFile(const Bytes& content);

  ~PeerConnection() { Close(); }

 private:
  platform::Socket fd_;
  ScriptedPeer* owner_;
};

class ScriptedPeer {
 public:
  void Record(const Request& r);

 public:
  // Answers one request on a connection. Return false to close the connection.
  using OpcodeHandler = std::function<bool(const Request&, PeerConnection&)>;
  struct Datagram {
    Bytes data;
    uint32_t fromAddress;
    uint16_t fromPort;
  };
  using UdpHandler = std::function<void(const Datagram&, ScriptedPeer&)>;

  // Binds TCP on 127.0.0.1:0 and UDP on the same port, on 127.0.0.1 or, with udpAnyAddress,
  // on 0.0.0.0 so that loopback broadcasts reach it.
  explicit ScriptedPeer(bool udpAnyAddress = false);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  void OnOpcode(uint32_t opcode, OpcodeHandler h);
  void OnUdp(UdpHandler h);  // replaces the default UDP answers
  void SetVersion(uint32_t v) { version_ = v; }
  void SetUdpSilent(bool silent) { udpSilent_ = silent; }
  // Serves each connection on the accepting thread, one after another, instead of on a thread
  // of its own. Needed where the library runs under the Windows loader lock (thread detach,
  // unload): a thread started then waits for that lock, so it could never answer.
  void SetServeOnAcceptThread(bool inline_) { serveInline_ = inline_; }

  // Sends a datagram to `to` from a socket bound to `fromAddress` (host order).
  void SendUdp(const Bytes& data, uint32_t fromAddress, uint32_t toAddress, uint16_t toPort);

  int connections() const { return connections_.load(); }
  std::vector<Request> requests() const;
  std::vector<uint32_t> opcodes() const;
  std::vector<Datagram> datagrams() const;
  void ClearRecords();

 private:
  void AcceptLoop();
  void UdpLoop();
  void Serve(platform::Socket fd);
  void JoinFinishedWorkers();
  bool DefaultAnswer(const Request& req, PeerConnection& c);

  platform::Socket listenFd_ = platform::kNoSocket;
  platform::Socket udpFd_ = platform::kNoSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<uint32_t> handle_{0x00001234};
  std::atomic<uint32_t> version_{0x1234};
  std::atomic<bool> udpSilent_{false};
  std::atomic<bool> serveInline_{false};
  mutable std::mutex mu_;
  std::map<uint32_t, OpcodeHandler> handlers_;
  UdpHandler udpHandler_;
  std::vector<Request> requests_;
  std::vector<Datagram> datagrams_;
  std::vector<platform::Socket> openFds_;
  std::thread acceptThread_;
  std::thread udpThread_;
  std::vector<std::thread> workers_;
  std::vector<std::thread::id> finished_;  // workers whose connection has ended
  friend class PeerConnection;
};

}  // namespace zdb::test
