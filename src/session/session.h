// The client state of one calling thread: which server it talks to, its connection and login,
// the request being built, and the field-definition cache. Every request of the library is an
// operation on a Session; a Session is used only by the thread that created it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fields/field_cache.h"
#include "platform/platform.h"
#include "wire/catalogue.h"
#include "wire/frame.h"

namespace zdb {

inline constexpr int32_t kOk = 1000;
inline constexpr int32_t kErrComm = 2001;
inline constexpr int32_t kErrArgument = 2003;
inline constexpr int32_t kErrNoMemory = 2004;
inline constexpr int32_t kErrNoFieldMatch = 2013;
inline constexpr int32_t kErrConnect = 2016;
inline constexpr int32_t kErrNoDatabase = 2021;
inline constexpr int32_t kErrTempFile = 2120;
inline constexpr int32_t kProbeAnswered = 2600;
inline constexpr int32_t kProbeSilent = 2601;
inline constexpr int32_t kStopStillRunning = 2605;
inline constexpr int32_t kStopped = 2606;
inline constexpr int32_t kErrVersion = 2700;
inline constexpr int32_t kErrScriptArguments = 3003;

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

  // ---- request building (every request method follows PrepareRequest, slots, Exchange) ----
  // Inline: it runs before every request, and only the first of a connection logs in.
  int32_t PrepareRequest(uint16_t kind, uint32_t op, int8_t count) {
    if (kind == 0 && op == 0 && count == 0) return kOk;
    if (!LoggedIn()) {
      const int32_t r = Login("", "");
      if (r != kOk) return r;
    }
    kindFlags = kind;
    opcode = op;
    paramCount = count;
    return kOk;
  }
  void SetSlot(int i, uint32_t length, void* buffer) {
    slotLength[i] = length;
    slotBuffer[i] = buffer;
  }
  int32_t Exchange();
  // Logs in unless already logged in; behind ZDB_Init and the implicit login.
  int32_t Login(const char* user, const char* password) {
    return LoginWithSlots(user, password, 2);
  }
  // The same login carrying further slots (2 up to paramCount - 1) that the caller has set
  // beforehand, as the run login does.
  int32_t LoginWithSlots(const char* user, const char* password, int8_t paramCount);

  bool NeedsNewConnection() const {
    return (connectionOptions & kPersistentBits) == 0 || socket == platform::kNoSocket ||
           sessionHandle == wire::kNoSession;
  }
  bool ClosesAfterExchange() const {
    return (connectionOptions & kPersistentBits) == 0 || opcode == wire::Op("Logout").opcode;
  }
  bool LoggedIn() const { return sessionHandle != wire::kNoSession; }

  // ---- fields, in the order of the Session's data model ----
  std::string hostName;  // empty: not set
  platform::Socket socket = platform::kNoSocket;
  platform::Endpoint serverAddress;
  uint32_t port = 0;
  uint16_t kindFlags = 0;
  uint16_t connectionOptions = kDefaultConnectionOptions;
  uint32_t sessionHandle = wire::kNoSession;
  int32_t lastResult = 0;
  uint32_t opcode = 0;
  int8_t paramCount = 0;
  std::array<uint32_t, wire::kMaxSlots> slotLength{};
  std::array<void*, wire::kMaxSlots> slotBuffer{};
  char uploadFileName[kFileNameSize] = {};
  char downloadFileName[kFileNameSize] = {};
  std::array<uint8_t, 3> headerChars{0x00, 0x20, 0x00};
  int32_t lastSocketError = 0;
  FieldCache fieldCache;
  uint32_t threadId;

 private:
  // Stream steps run by Exchange between the frame and the reply; false ends it with 2001.
  bool SendFileStream();
  bool ReceiveFileStream();
  bool ReceiveRecordStream();

  void CloseIfDone();
  int32_t Fail(int32_t result);

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
  // The header for the request now in the Session's fields, encoded only when they differ
  // from the last request's.
  const uint8_t* RequestHeader(int count) {
    const HeaderInputs& in = sentInputs_;
    if (in.count == count && in.kindFlags == kindFlags && in.opcode == opcode &&
        in.paramCount == paramCount && in.sessionHandle == sessionHandle &&
        in.connectionOptions == connectionOptions && in.chars[0] == headerChars[0] &&
        in.chars[1] == headerChars[1] && in.chars[2] == headerChars[2]) {
      int i = 0;
      while (i < count && in.lengths[i] == slotLength[i]) ++i;
      if (i == count) return sentHeader_.data();
    }
    return EncodeRequestHeader(count);
  }
  const uint8_t* EncodeRequestHeader(int count);
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
