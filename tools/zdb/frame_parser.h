// Follows one direction of a ZDB connection byte by byte and reports each frame, file and record
// stream it recognises. The client side announces the shape of every reply in its request
// (stream flags, status-only bit, total length), so the server side parser is told by the
// client side parser what to expect next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "wire/frame.h"
#include "wire/reply_reader.h"

namespace zdb::trace {

struct ExpectedReply {
  uint16_t kindFlags = 0;
  uint32_t total = 0;
  uint32_t opcode = 0;
};

// Events are printable lines; the tracer prefixes them with the connection number.
using EventSink = std::function<void(const std::string&)>;
// Called once a reply has passed whole: the request it answered and its status.
using ReplyHook = std::function<void(const ExpectedReply&, int32_t status)>;

class RequestParser {
 public:
  RequestParser(EventSink sink, std::deque<ExpectedReply>* replies, bool showPasswords = false)
      : sink_(std::move(sink)), replies_(replies), showPasswords_(showPasswords) {}
  // Feeds bytes as they arrive; false when the stream cannot be a ZDB request stream any more
  // (the tracer then forwards without decoding).
  bool Feed(const uint8_t* data, size_t n);

 private:
  enum class State { kHeader, kBody, kFileHeader, kFileData };
  bool Step();
  EventSink sink_;
  std::deque<ExpectedReply>* replies_;
  bool showPasswords_;
  State state_ = State::kHeader;
  std::vector<uint8_t> buf_;
  size_t want_ = wire::kHeaderSize;
  wire::FrameHeader header_;
  int64_t fileLeft_ = 0;
};

class ReplyParser {
 public:
  ReplyParser(EventSink sink, std::deque<ExpectedReply>* replies)
      : sink_(std::move(sink)), replies_(replies) {}
  bool Feed(const uint8_t* data, size_t n);
  void SetReplyHook(ReplyHook hook) { hook_ = std::move(hook); }

  // The reader's handler: stream events become lines.
  void FileLength(int32_t length);
  void StreamData(wire::ReplyReader::Part part, const uint8_t*, size_t n);
  void RecordsEnd();

 private:
  void Finish();
  EventSink sink_;
  std::deque<ExpectedReply>* replies_;
  ReplyHook hook_;
  ExpectedReply current_;
  bool busy_ = false;  // a reply has begun and not yet ended
  std::vector<uint8_t> frame_;
  wire::ReplyReader reader_;
  int64_t recordBytes_ = 0;
};

// True when slot `slot` of this request carries a password: logins (ZDB_Init and Z_Run),
// Z_ValidUser, Z_AddUser and Z_UpdUser.
bool IsPasswordSlot(uint8_t kind, uint32_t opcode, int slot);

// "op 27 kind 1 flags 0x80 ..." for a decoded request header and its slot data. Password slots
// show as *** unless `showPasswords`.
std::string DescribeRequest(const wire::FrameHeader& h, const uint8_t* data, size_t n,
                            bool showPasswords = false);
// A short preview of slot bytes: text when printable, hex otherwise.
std::string Preview(const uint8_t* data, size_t n);

}  // namespace zdb::trace
