#include "conn.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "metrics.h"
#include "spin.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

Conn::~Conn() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// Waits for `events` on fd; 1 ready, 0 timed out, -1 error. EINTR counts as time passed.
int WaitFor(int fd, short events, int ms) {
  pollfd pfd{fd, events, 0};
  int ready = ::poll(&pfd, 1, ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

int MsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

int Conn::WaitReadable(int ms) {
  if (begin_ < end_) return 1;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int ready;
  while ((ready = WaitFor(fd_, POLLIN, MsUntil(until))) == 0 &&
         std::chrono::steady_clock::now() < until) {
  }
  return ready;
}

int Conn::WaitRequest(int ms) {
  if (begin_ < end_) return 1;
  // The first request of a connection is usually on its way already (in the default mode it is
  // the only one): a poll costs no socket option. A zero time-out on the socket means none.
  if (requestWaits_++ == 0 || ms <= 0) return WaitReadable(ms);
  if (ms != receiveTimeoutMs_) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return WaitReadable(ms);
    receiveTimeoutMs_ = ms;
  }
  const auto start = std::chrono::steady_clock::now();
  // A client that sent its requests back to back is probably writing the next one now.
  if (eager_.On()) {
    ssize_t got = -1;
    spin::Until([&] {
      got = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
      return got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    });
    if (got >= 0) {
      begin_ = 0;
      end_ = static_cast<size_t>(got);
      return 1;
    }
  }
  auto until = start + std::chrono::milliseconds(ms);
  for (;;) {
    ssize_t r = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
    eager_.Set(std::chrono::steady_clock::now() - start <= spin::Budget());
    if (r >= 0) {
      begin_ = 0;
      end_ = static_cast<size_t>(r);
      return 1;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (std::chrono::steady_clock::now() >= until) return 0;
    } else if (errno != EINTR) {
      return -1;
    }
    if (std::chrono::steady_clock::now() >= until) return 0;
  }
}

int Conn::Take(uint8_t* p, size_t n, size_t* got) {
  if (begin_ == end_) {
    ssize_t r;
    do {
      r = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return 0;
    if (r < 0) return -1;
    begin_ = 0;
    end_ = static_cast<size_t>(r);
  }
  size_t k = std::min(n, end_ - begin_);
  std::memcpy(p, buffer_.data() + begin_, k);
  TheMetrics().Add(TheMetrics().bytesReceived, k);
  begin_ += k;
  *got += k;
  return 1;
}

int Conn::ReadExact(void* data, size_t n, int stallMs) {
  auto* p = static_cast<uint8_t*>(data);
  size_t got = 0;
  while (got < n) {
    // Bytes already there are taken without a wait; only a wait without any byte is a stall.
    int r = Take(p + got, n - got, &got);
    if (r == 0) return got == 0 ? 0 : -1;
    if (r > 0) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (WaitReadable(stallMs) <= 0) return -1;
  }
  return 1;
}

int Conn::ReadBy(void* data, size_t n, std::chrono::steady_clock::time_point deadline) {
  auto* p = static_cast<uint8_t*>(data);
  size_t got = 0;
  while (got < n) {
    int r = Take(p + got, n - got, &got);
    if (r == 0) return got == 0 ? 0 : -1;
    if (r > 0) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (WaitReadable(MsUntil(deadline)) <= 0) return -1;  // an error, or the deadline passed
  }
  return 1;
}

bool Conn::WriteAll(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(frameTimeoutMs_);
      int ready;
      while ((ready = WaitFor(fd_, POLLOUT, MsUntil(until))) == 0 &&
             std::chrono::steady_clock::now() < until) {
      }
      if (ready <= 0) return false;
      continue;
    }
    if (r <= 0) return false;
    TheMetrics().Add(TheMetrics().bytesSent, static_cast<uint64_t>(r));
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

std::string Request::Text(size_t i) const {
  if (i >= slots.size()) return {};
  const auto& s = slots[i];
  const void* z = std::memchr(s.data(), 0, s.size());
  size_t n = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - s.data()) : s.size();
  return std::string(reinterpret_cast<const char*>(s.data()), n);
}

uint32_t Request::U32(size_t i) const {
  return i < slots.size() && slots[i].size() >= 4 ? wire::GetU32(slots[i].data()) : 0;
}

uint16_t Request::U16(size_t i) const {
  return i < slots.size() && slots[i].size() >= 2 ? wire::GetU16(slots[i].data()) : 0;
}

void Request::PutText(size_t i, const std::string& text) {
  auto& s = slots[i];
  if (s.empty()) return;
  std::memset(s.data(), 0, s.size());
  std::memcpy(s.data(), text.data(), std::min(text.size(), s.size() - 1));
}

void Request::PutU32(size_t i, uint32_t v) {
  if (slots[i].size() >= 4) wire::PutU32(slots[i].data(), v);
}

FrameVerdict CheckHeader(const wire::FrameHeader& h, bool magicOk, uint32_t maxTotal) {
  if (!magicOk) return FrameVerdict::kBadMagic;
  if (h.paramCount < 0 || h.paramCount > static_cast<int8_t>(wire::kMaxSlots))
    return FrameVerdict::kBadCount;
  if (h.total > maxTotal) return FrameVerdict::kTooLarge;
  if (!wire::HeaderIsConsistent(h)) return FrameVerdict::kInconsistent;
  return FrameVerdict::kOk;
}

const char* VerdictText(FrameVerdict v) {
  switch (v) {
    case FrameVerdict::kOk:
      return "ok";
    case FrameVerdict::kBadMagic:
      return "wrong magic";
    case FrameVerdict::kBadCount:
      return "parameter count out of range";
    case FrameVerdict::kInconsistent:
      return "slot lengths and offsets do not add up to the total";
    case FrameVerdict::kTooLarge:
      return "total length over the limit";
  }
  return "?";
}

ReadResult ReadRequest(Conn& conn, uint32_t maxTotal, int idleMs, Request* out,
                       FrameVerdict* verdict) {
  // The frame time runs from the first byte and covers the whole frame: a client trickling
  // bytes cannot hold its connection longer than that.
  int ready = conn.WaitRequest(idleMs);
  if (ready < 0) return ReadResult::kBroken;
  if (ready == 0) return ReadResult::kIdle;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(conn.FrameTimeout());
  uint8_t head[wire::kHeaderSize];
  int r = conn.ReadBy(head, sizeof head, deadline);
  if (r == 0) return ReadResult::kClosed;
  if (r < 0) return ReadResult::kBroken;
  bool magicOk = wire::DecodeHeader(head, out->header);
  *verdict = CheckHeader(out->header, magicOk, maxTotal);
  if (*verdict != FrameVerdict::kOk) return ReadResult::kRejected;
  out->slots.assign(static_cast<size_t>(out->header.paramCount), {});
  for (size_t i = 0; i < out->slots.size(); ++i) {
    out->slots[i].resize(out->header.lengths[i]);
    if (!out->slots[i].empty() &&
        conn.ReadBy(out->slots[i].data(), out->slots[i].size(), deadline) != 1)
      return ReadResult::kBroken;
  }
  return ReadResult::kFrame;
}

std::vector<uint8_t> BuildFullReply(const Request& r, uint32_t handle, int32_t status) {
  std::vector<uint8_t> out(wire::kHeaderSize);
  wire::FrameHeader h = r.header;
  h.sessionHandle = handle;
  h.status = status;
  wire::EncodeHeader(h, out.data());
  for (const auto& s : r.slots) out.insert(out.end(), s.begin(), s.end());
  return out;
}

}  // namespace zdbd
