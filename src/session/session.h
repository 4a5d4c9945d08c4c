// The client state of one calling thread: which server it talks to, its connection and login,
// and the field-definition cache. Every request of the library is an
// operation on a Session; a Session is used only by the thread that created it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/field_cache.h"
#include "session/request.h"
#include "wire/catalogue.h"
#include "wire/frame.h"
#include "wire/result_codes.h"

namespace zdb {

inline constexpr uint16_t kDefaultConnectionOptions = 3;
inline constexpr uint16_t kPersistentBits = 0x00F0;
inline constexpr uint16_t kRunSessionBit = 0x0100;
inline constexpr uint16_t kDefaultPort = 2500;
inline constexpr size_t kFileNameSize = 256;
// Frames up to this size are built and received in a buffer the Session keeps, so that an
// exchange allocates nothing; larger ones get a buffer of their own for the exchange.
inline constexpr size_t kKeptFrameBytes = (1 << 20) + 4096;  // a MiB of data and its header

class Session {
 public:
  Session();
  virtual ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // ---- requests (every request is PrepareRequest, then Exchange of the same request) ----
  // Logs in unless logged in already or the request is empty. Inline: it runs before every
  // request, and only the first of a connection logs in.
  int32_t PrepareRequest(const Request& request) {
    if (request.Empty() || LoggedIn()) return kOk;
    return Login("", "");
  }
  // Sends the request and reads its reply into its slots. Returns the result and keeps it in
  // lastResult; keeps lastSocketError, and the session handle a login or logout reply gives.
  int32_t Exchange(const Request& request);
  // Logs in unless already logged in; behind ZDB_Init and the implicit login. `extra`, when
  // given, carries further slots (2 up to its paramCount - 1), as the run login does.
  int32_t Login(const char* user, const char* password, const Request* extra = nullptr);

  bool NeedsNewConnection() const {
    return (connectionOptions & kPersistentBits) == 0 || socket == platform::kNoSocket ||
           sessionHandle == wire::kNoSession;
  }
  bool ClosesAfterExchange(const Request& request) const {
    return (connectionOptions & kPersistentBits) == 0 ||
           request.opcode == wire::Op("Logout").opcode;
  }
  bool LoggedIn() const { return sessionHandle != wire::kNoSession; }

  // ---- fields, in the order of the Session's data model ----
  std::string hostName;  // empty: not set
  platform::Socket socket = platform::kNoSocket;
  platform::Endpoint serverAddress;
  uint32_t port = 0;
  uint16_t connectionOptions = kDefaultConnectionOptions;
  uint32_t sessionHandle = wire::kNoSession;
  int32_t lastResult = 0;
  std::array<uint8_t, 3> headerChars{0x00, 0x20, 0x00};
  int32_t lastSocketError = 0;
  FieldCache fieldCache;
  uint32_t threadId;

 private:
  // Stream steps run by Exchange between the frame and the reply; false ends it with 2001.
  bool SendFileStream(const char* path);
  bool ReceiveFileStream(const char* path);
  bool ReceiveRecordStream(const char* path);

  void CloseIfDone(const Request& request);
  int32_t Fail(const Request& request, int32_t result);

  // The frame buffer (header and reply) for frames up to kKeptFrameBytes; a larger frame gets
  // *oneOff. Null when memory is short.
  uint8_t* FrameBuffer(size_t total, std::unique_ptr<uint8_t[]>* oneOff);
  std::unique_ptr<uint8_t[]> frame_;
  size_t frameCapacity_ = 0;

  // The header of the request sent last and what it was encoded from. The next request with
  // the same inputs (every repeat of a request on a held connection) sends these bytes again
  // instead of encoding a header anew.
  struct HeaderInputs {
    uint16_t kindFlags = 0;
    uint16_t connectionOptions = 0;
    std::array<uint8_t, 3> chars{};
    int8_t paramCount = 0;
    int count = -1;  // slots laid out; -1 until a header has been encoded
    uint32_t opcode = 0;
    uint32_t sessionHandle = 0;
    std::array<uint32_t, wire::kMaxSlots> lengths{};  // of the first `count` slots
  };
  // The header of the request, encoded only when its inputs differ from the last request's.
  const uint8_t* RequestHeader(const Request& r, int count) {
    const HeaderInputs& in = sentInputs_;
    if (in.count == count && in.kindFlags == r.kindFlags && in.opcode == r.opcode &&
        in.paramCount == r.paramCount && in.sessionHandle == sessionHandle &&
        in.connectionOptions == connectionOptions && in.chars[0] == headerChars[0] &&
        in.chars[1] == headerChars[1] && in.chars[2] == headerChars[2]) {
      int i = 0;
      while (i < count && in.lengths[i] == r.slotLength[i]) ++i;
      if (i == count) return sentHeader_.data();
    }
    return EncodeRequestHeader(r, count);
  }
  const uint8_t* EncodeRequestHeader(const Request& r, int count);
  HeaderInputs sentInputs_;
  std::array<uint8_t, wire::kHeaderSize> sentHeader_{};

  // Bytes of the reply that a record stream read together with its end mark (at most one
  // receive buffer); the reply takes them before it reads from the socket.
  std::vector<uint8_t> pendingReply_;
  // Moves up to n pending reply bytes to p; returns how many.
  size_t TakePendingReply(uint8_t* p, size_t n);
};

// Resets the field-definition cache as every successful login does.
int32_t ResetFieldCache(Session& s);

}  // namespace zdb
