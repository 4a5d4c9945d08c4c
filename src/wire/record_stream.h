// The reading side of a record stream, kept apart from the socket so that it can be fed any
// split of the bytes: a record is a signed 32-bit little-endian length and that many bytes, a
// record of length 2 holding 0x03 0x04 ends the stream. Where one receive call happens to cut
// the stream never changes what the parser reports. The library's exchange, the tracer and the
// fuzz targets all read record streams with it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include "wire/file_block.h"
#include "wire/le.h"

namespace zdb::wire {

class RecordStreamParser {
 public:
  enum class Status { kMore, kEndMark, kNegativeLength };

  // Consumes bytes from p[0..n) and hands every data byte to sink(const uint8_t*, size_t), in
  // order. Stops right after the end mark or a negative length; *used tells how far it got, so
  // the caller keeps what follows the end mark (the status word of the reply).
  template <class Sink>
  Status Feed(const uint8_t* p, size_t n, size_t* used, Sink&& sink) {
    size_t i = 0;
    while (i < n) {
      if (state_ == State::kLength && lengthHave_ == 0) {
        // Whole records that lie in the buffer go to the sink straight from it: one length
        // read and one hand-over each, the usual case for short records. A record of length 2
        // (perhaps the end mark), a negative length or a record cut by the buffer's end are
        // left to the steps below.
        while (n - i >= 4) {
          const int32_t length = wire::GetI32(p + i);
          if (length < 0 || length == 2 || static_cast<size_t>(length) > n - i - 4) break;
          if (length > 0) sink(p + i + 4, static_cast<size_t>(length));
          i += 4 + static_cast<size_t>(length);
          ++records_;
        }
        if (i == n) break;
      }
      if (state_ == State::kLength) {
        if (lengthHave_ == 0 && n - i >= 4) {
          std::memcpy(lengthBytes_, p + i, 4);
          i += 4;
        } else {
          lengthBytes_[lengthHave_++] = p[i++];
          if (lengthHave_ < 4) continue;
          lengthHave_ = 0;
        }
        const int32_t length = wire::GetI32(lengthBytes_);
        lastLength_ = length;
        if (length < 0) {
          *used = i;
          return Status::kNegativeLength;
        }
        remaining_ = static_cast<uint32_t>(length);
        if (length != 2) ++records_;
        if (length == 2) state_ = State::kShort;
        if (length > 2 || length == 1) state_ = State::kData;
      } else if (state_ == State::kData) {
        const size_t take = std::min<size_t>(remaining_, n - i);
        sink(p + i, take);
        i += take;
        remaining_ -= static_cast<uint32_t>(take);
        if (remaining_ == 0) state_ = State::kLength;
      } else {
        held_[heldCount_++] = p[i++];
        if (heldCount_ < 2) continue;
        heldCount_ = 0;
        state_ = State::kLength;
        if (held_[0] == wire::kEndMark[0] && held_[1] == wire::kEndMark[1]) {
          *used = i;
          return Status::kEndMark;
        }
        ++records_;
        sink(held_, 2);
      }
    }
    *used = n;
    return Status::kMore;
  }

  // The records begun so far, the end mark not counted.
  int64_t Records() const { return records_; }
  // The length field read last; negative after kNegativeLength.
  int32_t LastLength() const { return lastLength_; }

  // True between records: a stream that the server closes here has simply ended.
  bool BetweenRecords() const { return state_ == State::kLength; }

  // The first byte of a two-byte record, kept back until its second byte shows whether the
  // record is the end mark. A stream that breaks off there still delivers that byte.
  template <class Sink>
  void ReleaseHeld(Sink&& sink) {
    if (heldCount_ > 0) sink(held_, heldCount_);
    heldCount_ = 0;
  }

 private:
  enum class State { kLength, kData, kShort };
  State state_ = State::kLength;
  uint8_t lengthBytes_[4] = {};
  size_t lengthHave_ = 0;
  uint32_t remaining_ = 0;
  uint8_t held_[2] = {};
  size_t heldCount_ = 0;
  int64_t records_ = 0;
  int32_t lastLength_ = 0;
};

}  // namespace zdb::wire
