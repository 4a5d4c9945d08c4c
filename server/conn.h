// One accepted TCP connection: bounded, timed reads and whole writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "spin.h"
#include "wire/frame.h"

namespace zdbd {

// The connection-option bits a client sets when it keeps one connection for its whole login;
// without them every request comes on a connection of its own.
inline constexpr uint16_t kPersistentBits = 0x00F0;

class Conn {
 public:
  explicit Conn(int fd) : fd_(fd) {}
  ~Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  int Fd() const { return fd_; }
  // Reads exactly n bytes of a stream, each read waiting at most the stall time (a stream is
  // cut when it stops, however long it is); 1 done, 0 the peer closed before the first byte,
  // -1 error, stall or a close in the middle.
  int ReadExact(void* data, size_t n, int stallMs);
  // Reads exactly n bytes that must all have arrived by `deadline` (a request frame).
  int ReadBy(void* data, size_t n, std::chrono::steady_clock::time_point deadline);
  // Writes everything; false on error or when the peer takes nothing for the frame time (a
  // client that stops reading must not hold its connection and session for ever).
  bool WriteAll(const void* data, size_t n);
  void SetFrameTimeout(int ms) { frameTimeoutMs_ = ms; }
  int FrameTimeout() const { return frameTimeoutMs_; }
  // 1 when bytes are buffered or arrive within ms, 0 when none came, -1 on error.
  int WaitReadable(int ms);
  // The same for the first bytes of a request, in one blocking receive instead of a poll and a
  // receive from the second request on: the wait between requests is the same every time, so
  // its time-out is set on the socket once. A closed peer counts as readable (the next read sees
  // the close).
  int WaitRequest(int ms);

 private:
  // Moves buffered bytes out, then receives what is waiting (up to a buffer's worth: a whole
  // small request usually comes in one call). 1 some bytes moved, 0 peer closed, -1 error or
  // nothing to read yet (EAGAIN).
  int Take(uint8_t* p, size_t n, size_t* got);
  int fd_;
  int frameTimeoutMs_ = 30000;
  int receiveTimeoutMs_ = -1;  // as set on the socket; -1 never set
  uint64_t requestWaits_ = 0;
  spin::Eager eager_;  // the last request came soon after the reply before it
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(65536);
  size_t begin_ = 0, end_ = 0;
};

// A request as it arrived: its header and one byte vector per slot.
struct Request {
  zdb::wire::FrameHeader header;
  std::vector<std::vector<uint8_t>> slots;

  size_t Count() const { return slots.size(); }
  bool StatusOnly() const { return (header.flags & 0x80) != 0; }
  uint16_t KindFlags() const { return header.kindFlags(); }
  // Slot i's bytes up to its first zero byte (the whole slot when it has none).
  std::string Text(size_t i) const;
  uint32_t U32(size_t i) const;
  uint16_t U16(size_t i) const;
  uint8_t* Data(size_t i) { return slots[i].data(); }
  size_t Len(size_t i) const { return slots[i].size(); }
  // Writes a zero-terminated text into slot i, cut to fit, zero-filling the rest.
  void PutText(size_t i, const std::string& text);
  void PutU32(size_t i, uint32_t v);
};

enum class FrameVerdict { kOk, kBadMagic, kBadCount, kInconsistent, kTooLarge };

// Decides whether a header can be trusted before anything it announces is allocated.
FrameVerdict CheckHeader(const zdb::wire::FrameHeader& h, bool magicOk, uint32_t maxTotal);
const char* VerdictText(FrameVerdict v);

enum class ReadResult { kFrame, kClosed, kIdle, kRejected, kBroken };

// Reads one request: waits up to idleMs for its first byte, then the whole rest must arrive
// within the frame time counted from that first byte.
ReadResult ReadRequest(Conn& conn, uint32_t maxTotal, int idleMs, Request* out,
                       FrameVerdict* verdict);

// The full reply: the request's header with the handle and status, and the slots as they are now.
std::vector<uint8_t> BuildFullReply(const Request& r, uint32_t handle, int32_t status);

}  // namespace zdbd
