#include "support/zdbd_process.h"

// The raw clients of zdbd, through the platform layer so that they serve Linux and Windows.
#include "wire/catalogue.h"
#include "wire/control.h"
#include "wire/le.h"

using zdb::wire::Opcode;

namespace zdb::test {

Bytes TextSlot(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

Bytes U32Slot(uint32_t v) {
  Bytes b(4);
  wire::PutU32(b.data(), v);
  return b;
}

namespace {
constexpr int kReplyWaitMs = 10000;  // a reply that takes longer counts as none
constexpr uint32_t kLoopback = 0x7F000001;
}  // namespace

RawClient::RawClient(uint16_t port) {
  fd_ = platform::OpenTcp();
  if (fd_ == platform::kNoSocket) return;
  if (!platform::Connect(fd_, {kLoopback, port})) {
    platform::CloseSocket(fd_);
    fd_ = platform::kNoSocket;
    return;
  }
  platform::SetNoDelay(fd_);
}

RawClient::~RawClient() {
  if (fd_ != platform::kNoSocket) platform::CloseSocket(fd_);
}

Bytes RawClient::Frame(uint16_t kindFlags, uint32_t opcode, const std::vector<Bytes>& slots,
                       uint32_t handle) {
  wire::FrameHeader h;
  h.kind = static_cast<uint8_t>(kindFlags);
  h.flags = static_cast<uint8_t>(kindFlags >> 8);
  h.connectionOptions = 3;
  h.chars = {0, 0x20, 0};
  h.opcode = opcode;
  std::vector<uint32_t> lengths;
  for (const auto& s : slots) lengths.push_back(static_cast<uint32_t>(s.size()));
  wire::LayoutSlots(h, lengths.data(), static_cast<int>(lengths.size()));
  h.sessionHandle = handle;
  h.status = wire::kStatusPreset;
  Bytes out(wire::kHeaderSize);
  wire::EncodeHeader(h, out.data());
  for (const auto& s : slots) out.insert(out.end(), s.begin(), s.end());
  return out;
}

bool RawClient::Send(const Bytes& bytes) {
  return platform::SendAll(fd_, bytes.data(), bytes.size());
}

bool RawClient::ReadExact(void* data, size_t n) {
  auto* p = static_cast<uint8_t*>(data);
  for (size_t got = 0; got < n;) {
    if (platform::WaitReadable(fd_, kReplyWaitMs) != 1) return false;
    long r = platform::ReceiveSome(fd_, p + got, n - got);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool RawClient::ReadSome(void* data, size_t n, size_t* got) {
  *got = 0;
  if (platform::WaitReadable(fd_, kReplyWaitMs) != 1) return false;
  long r = platform::ReceiveSome(fd_, data, n);
  *got = r > 0 ? static_cast<size_t>(r) : 0;
  return r > 0;
}

RawReply RawClient::Receive(const std::vector<Bytes>& slots, bool statusOnly) {
  RawReply r;
  if (statusOnly) {
    uint8_t word[4];
    r.ok = ReadExact(word, 4);
    r.status = r.ok ? wire::GetI32(word) : 0;
    return r;
  }
  Bytes head(wire::kHeaderSize);
  if (!ReadExact(head.data(), head.size())) return r;
  r.handle = wire::GetU32(head.data() + wire::kOffSession);
  r.status = wire::GetI32(head.data() + wire::kOffStatus);
  for (const auto& s : slots) {
    Bytes b(s.size());
    if (!b.empty() && !ReadExact(b.data(), b.size())) return r;
    r.slots.push_back(std::move(b));
  }
  r.ok = true;
  return r;
}

RawReply RawClient::Call(uint16_t kindFlags, uint32_t opcode, const std::vector<Bytes>& slots,
                         uint32_t handle) {
  Bytes frame = Frame(kindFlags, opcode, slots, handle);
  wire::PutU16(frame.data() + wire::kOffOptions, options);
  if (!Send(frame)) return {};
  return Receive(slots, (kindFlags & 0x8000) != 0);
}

bool RawClient::ClosedByPeer(int ms) {
  if (platform::WaitReadable(fd_, ms) != 1) return false;
  uint8_t b;
  return platform::ReceiveSome(fd_, &b, 1) <= 0;
}

Bytes ControlExchange(uint16_t port, uint16_t code) {
  platform::Socket s = platform::OpenUdp();
  if (s == platform::kNoSocket) return {};
  Bytes reply;
  uint8_t msg[wire::kControlSize];
  wire::EncodeControl(code, msg);
  if (platform::BindTo(s, {kLoopback, 0}) &&
      platform::SendTo(s, msg, sizeof msg, {kLoopback, port}) &&
      platform::WaitReadable(s, 2000) == 1) {
    reply.resize(1030);
    long n = platform::ReceiveFrom(s, reply.data(), reply.size(), nullptr);
    reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  platform::CloseSocket(s);
  return reply;
}

RawReply CallOnce(uint16_t port, uint16_t kindFlags, uint32_t opcode,
                  const std::vector<Bytes>& slots, uint32_t handle) {
  RawClient c(port);
  return c.Call(kindFlags, opcode, slots, handle);
}

uint32_t LoginRaw(uint16_t port, const std::string& user, const std::string& pw) {
  RawReply r =
      CallOnce(port, 0x0001, Opcode("Login"), {TextSlot(user), TextSlot(pw)}, wire::kNoSession);
  return r.ok && r.status == 1000 ? r.handle : wire::kNoSession;
}

}  // namespace zdb::test
