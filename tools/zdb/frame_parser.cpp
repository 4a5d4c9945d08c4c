#include "zdb/frame_parser.h"

#include <algorithm>
#include <cstdio>

#include "wire/catalogue.h"
#include "wire/file_block.h"
#include "wire/le.h"

namespace zdb::trace {
namespace {

// A tracer buffers a whole request to show its slots; beyond this it stops decoding.
constexpr uint32_t kLargestFrame = 256u << 20;

std::string Hex(uint32_t v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", digits, v);
  return b;
}

// Passes over bytes that are counted but not shown (file data, long records); true once the
// count is used up.
bool SkipCounted(int64_t& left, const uint8_t*& data, size_t& n) {
  const size_t take = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(n)));
  left -= static_cast<int64_t>(take);
  data += take;
  n -= take;
  return left == 0;
}

// Collects bytes until `want` are buffered; true once they are.
bool Gather(std::vector<uint8_t>& buf, size_t want, const uint8_t*& data, size_t& n) {
  const size_t take = std::min(n, want - buf.size());
  buf.insert(buf.end(), data, data + take);
  data += take;
  n -= take;
  return buf.size() == want;
}

}  // namespace

std::string Preview(const uint8_t* data, size_t n) {
  const size_t shown = std::min<size_t>(n, 40);
  bool text = true;
  size_t textLen = 0;
  while (textLen < shown && data[textLen] != 0) {
    if (data[textLen] < 0x20 || data[textLen] > 0x7E) text = false;
    ++textLen;
  }
  // Texts travel with their zero and often in wider buffers padded with zeros; a lone
  // printable byte before zeros is more likely a small number.
  const bool terminated = textLen < n;
  const bool looksLikeText =
      text && (textLen == shown || (terminated && (textLen >= 2 || textLen + 1 == n)));
  std::string out;
  if (n == 0 || looksLikeText) {
    out = "\"" + std::string(reinterpret_cast<const char*>(data), textLen) + "\"";
  } else {
    char b[4];
    for (size_t i = 0; i < shown; ++i) {
      std::snprintf(b, sizeof b, "%02x", data[i]);
      out += b;
    }
  }
  if (n > shown) out += "...";
  return out;
}

bool IsPasswordSlot(uint8_t kind, uint32_t opcode, int slot) {
  // The catalogue marks the slots that carry a password; a script run shares the login's
  // opcode under another kind, and its slot 1 is an output file name.
  const wire::Operation* op = wire::FindOperation(kind, opcode);
  return op != nullptr && op->Slot(slot).type == 'P';
}

std::string DescribeRequest(const wire::FrameHeader& h, const uint8_t* data, size_t n,
                            bool showPasswords) {
  std::string s = "-> op " + std::to_string(h.opcode) + " kind " + std::to_string(h.kind) +
                  " flags " + Hex(h.flags, 2) + " options " + Hex(h.connectionOptions, 4) +
                  " handle " + Hex(h.sessionHandle, 8) + " total " + std::to_string(h.total);
  size_t off = 0;
  for (int i = 0; i < h.paramCount; ++i) {
    const size_t len = h.lengths[static_cast<size_t>(i)];
    s += "\n     [" + std::to_string(i) + "] " + std::to_string(len) + ": ";
    if (!showPasswords && IsPasswordSlot(h.kind, h.opcode, i))
      s += "***";
    else if (off + len <= n)
      s += Preview(data + off, len);
    off += len;
  }
  return s;
}

bool RequestParser::Feed(const uint8_t* data, size_t n) {
  while (n > 0) {
    if (state_ == State::kFileData) {
      if (SkipCounted(fileLeft_, data, n)) {
        state_ = State::kHeader;
        want_ = wire::kHeaderSize;
      }
      continue;
    }
    if (Gather(buf_, want_, data, n) && !Step()) return false;
  }
  return true;
}

bool RequestParser::Step() {
  switch (state_) {
    case State::kHeader:
      if (!wire::DecodeHeader(buf_.data(), header_) || !wire::HeaderIsConsistent(header_) ||
          header_.total > kLargestFrame) {
        sink_("-> not a request frame; forwarding without decoding");
        return false;
      }
      buf_.clear();
      want_ = header_.total - wire::kHeaderSize;
      state_ = State::kBody;
      if (want_ > 0) return true;
      [[fallthrough]];
    case State::kBody:
      sink_(DescribeRequest(header_, buf_.data(), buf_.size(), showPasswords_));
      replies_->push_back({header_.kindFlags(), header_.total, header_.opcode});
      buf_.clear();
      if (header_.kindFlags() & wire::kFlagSendFile) {
        state_ = State::kFileHeader;
        want_ = wire::kFileBlockHeaderSize;
      } else {
        state_ = State::kHeader;
        want_ = wire::kHeaderSize;
      }
      return true;
    case State::kFileHeader: {
      const int32_t length = wire::DecodeFileBlockLength(buf_.data());
      sink_("-> file of " + std::to_string(length) + " bytes");
      buf_.clear();
      if (length > 0) {
        fileLeft_ = length;
        state_ = State::kFileData;
      } else {
        state_ = State::kHeader;
        want_ = wire::kHeaderSize;
      }
      return true;
    }
    case State::kFileData:
      break;
  }
  return true;
}

void ReplyParser::FileLength(int32_t length) {
  sink_("<- file of " + std::to_string(length) + " bytes");
}

void ReplyParser::StreamData(wire::ReplyReader::Part part, const uint8_t*, size_t n) {
  if (part == wire::ReplyReader::Part::kRecords) recordBytes_ += static_cast<int64_t>(n);
}

void ReplyParser::RecordsEnd() {
  sink_("<- " + std::to_string(reader_.records().Records()) + " records, " +
        std::to_string(recordBytes_) + " bytes, end mark");
}

bool ReplyParser::Feed(const uint8_t* data, size_t n) {
  while (n > 0) {
    if (!busy_) {
      if (replies_->empty()) {
        sink_("<- bytes that answer no request; forwarding without decoding");
        return false;
      }
      current_ = replies_->front();
      replies_->pop_front();
      recordBytes_ = 0;
      // A full reply is exactly as long as the request it answers.
      frame_.clear();
      if (!(current_.kindFlags & wire::kFlagStatusOnly)) frame_.resize(current_.total);
      reader_.Begin(current_.kindFlags, frame_.data(), current_.total);
      busy_ = true;
    }
    size_t used = 0;
    const auto status = reader_.Feed(data, n, &used, *this);
    data += used;
    n -= used;
    if (status == wire::ReplyReader::Status::kNegativeLength) {
      sink_("<- record of negative length " + std::to_string(reader_.records().LastLength()) +
            "; stream broken");
      return false;
    }
    if (status == wire::ReplyReader::Status::kDone) Finish();
  }
  return true;
}

void ReplyParser::Finish() {
  busy_ = false;
  const int32_t status = reader_.StatusWord();
  if (current_.kindFlags & wire::kFlagStatusOnly) {
    sink_("<- status " + std::to_string(status));
  } else {
    std::string line = "<- status " + std::to_string(status) + ", full reply of " +
                       std::to_string(current_.total) + " bytes";
    if (current_.opcode == wire::Op("Login").opcode || current_.opcode == wire::Op("Logout").opcode)
      line += ", handle " + Hex(wire::GetU32(reader_.Frame() + wire::kOffSession), 8);
    sink_(line);
  }
  if (hook_) hook_(current_, status);
}

}  // namespace zdb::trace
