// The connection half of a Session: where the server is, the TCP connection held to it, the
// login's session handle, and the exchange of one request with its reply. It knows nothing of
// the thread that owns it or of the field cache, so the exchange and its streams depend only
// on the wire codec and the platform layer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "net/request.h"
#include "platform/platform.h"
#include "wire/catalogue.h"
#include "wire/frame.h"
#include "wire/reply_reader.h"
#include "wire/result_codes.h"

namespace zdb {

inline constexpr uint16_t kDefaultConnectionOptions = 3;
inline constexpr uint16_t kPersistentBits = 0x00F0;
inline constexpr uint16_t kRunSessionBit = 0x0100;
inline constexpr uint16_t kDefaultPort = 2500;
inline constexpr uint32_t kLoginOpcode = wire::Op("Login").opcode;
inline constexpr uint32_t kLogoutOpcode = wire::Op("Logout").opcode;
// Frames up to this size are built and received in a buffer the Session keeps, so that an
// exchange allocates nothing; larger ones get a buffer of their own for the exchange.
inline constexpr size_t kKeptFrameBytes = (1 << 20) + 4096;  // a MiB of data and its header

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sends the request and reads its reply into its slots. Returns the result and keeps it in
  // lastResult; keeps lastSocketError, and the session handle a login or logout reply gives.
  int32_t Exchange(const Request& request);

  bool NeedsNewConnection() const {
    return (connectionOptions & kPersistentBits) == 0 || socket == platform::kNoSocket ||
           sessionHandle == wire::kNoSession;
  }
  bool ClosesAfterExchange(const Request& request) const {
    return (connectionOptions & kPersistentBits) == 0 || request.opcode == kLogoutOpcode;
  }
  bool LoggedIn() const { return sessionHandle != wire::kNoSession; }

  platform::Socket socket = platform::kNoSocket;
  platform::Endpoint serverAddress;
  uint32_t port = 0;
  uint16_t connectionOptions = kDefaultConnectionOptions;
  uint32_t sessionHandle = wire::kNoSession;
  int32_t lastResult = 0;
  std::array<uint8_t, 3> headerChars{0x00, 0x20, 0x00};
  int32_t lastSocketError = 0;

 private:
  // Stream steps run by Exchange between the frame and the reply; false ends it with 2001.
  bool SendFileStream(const char* path);
  // Reads the reply's file or record stream into the file at path, and whatever follows it in
  // the same receives into the status word or frame.
  bool ReceiveStreams(const char* path);

  void CloseIfDone(const Request& request) {
    if (ClosesAfterExchange(request) && socket != platform::kNoSocket) {
      platform::CloseSocket(socket);
      socket = platform::kNoSocket;
    }
  }
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

  // Reads every reply; kept so that starting one costs a few stores.
  wire::ReplyReader reader_;
};

}  // namespace zdb
