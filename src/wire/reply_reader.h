// The reading side of one reply, kept apart from the socket so that it can be fed any split of
// the bytes. A reply comes in the parts its request's flags announce, in this order: a file (its
// 64-byte block header, then as many bytes as the header counts), a record stream, and then
// either a bare 4-byte status word or a frame exactly as long as the request. Where the
// receive calls cut the bytes never changes what the reader reports. The library's exchange,
// the tracer and the fuzz targets all read replies with it.
//
// Two ways in: Feed() takes bytes the caller already holds and hands stream bytes to a
// handler; for the status word and the frame, Space() and Received() let the caller receive
// straight into their place, which is what the exchange does on its hot path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "wire/file_block.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "wire/record_stream.h"

namespace zdb::wire {

class ReplyReader {
 public:
  enum class Part { kFileHeader, kFileData, kRecords, kStatus, kFrame, kDone };
  enum class Status { kMore, kDone, kNegativeLength };

  // Starts the reply of a request with these kind flags. `frame` holds `total` bytes and takes
  // a full reply; a status-only reply is assembled in the reader's own word, which starts as
  // the status preset.
  void Begin(uint16_t kindFlags, uint8_t* frame, size_t total) {
    kindFlags_ = kindFlags;
    frame_ = frame;
    total_ = total;
    if (kindFlags & (kFlagReceiveFile | kFlagReceiveRecords)) {
      if (kindFlags & kFlagReceiveRecords) records_ = RecordStreamParser();
      if (kindFlags & kFlagReceiveFile) {
        part_ = Part::kFileHeader;
        Gather(fileHeader_, kFileBlockHeaderSize);
      } else {
        part_ = Part::kRecords;
      }
    } else {
      // The usual reply: nothing but the status word or the frame.
      AfterStreams();
    }
  }

  Part part() const { return part_; }
  bool Done() const { return part_ == Part::kDone; }
  bool InStreams() const { return part_ < Part::kStatus; }

  // Where the rest of the status word or the frame goes, and how many bytes are missing.
  uint8_t* Space() const { return at_; }
  size_t Missing() const { return missing_; }
  // n bytes arrived at Space(); at most Missing().
  void Received(size_t n) {
    at_ += n;
    missing_ -= n;
    if (missing_ == 0) part_ = Part::kDone;
  }
  // Bytes of the status word or frame that have arrived.
  size_t Have() const { return want_ - missing_; }

  // The reply's status: the word of a status-only reply (the preset while none arrived), or
  // the status field of a frame.
  int32_t StatusWord() const {
    return kindFlags_ & kFlagStatusOnly ? GetI32(word_) : GetI32(frame_ + kOffStatus);
  }
  const uint8_t* Frame() const { return frame_; }

  // A record stream that the server closes between records has ended without its mark; the
  // reader goes on to the status or frame that can then no longer come.
  void EndRecordsEarly() { AfterStreams(); }

  // Consumes bytes from p[0..n) in the order of the reply's parts. The handler gets
  //   FileLength(int32_t)                           the length the file's block header announces
  //   StreamData(Part, const uint8_t*, size_t)      file bytes, or the data bytes of records
  //   RecordsEnd()                                  the end mark of the record stream
  // Stops after the reply's last byte or at a record of negative length; *used tells how far
  // it got.
  template <class Handler>
  Status Feed(const uint8_t* p, size_t n, size_t* used, Handler&& handler) {
    size_t i = 0;
    while (i < n && part_ != Part::kDone) {
      switch (part_) {
        case Part::kFileData: {
          const size_t take = static_cast<size_t>(std::min<int64_t>(fileLeft_, n - i));
          handler.StreamData(Part::kFileData, p + i, take);
          i += take;
          fileLeft_ -= static_cast<int64_t>(take);
          if (fileLeft_ == 0) AfterFile();
          break;
        }
        case Part::kRecords: {
          size_t k = 0;
          const auto s = records_.Feed(p + i, n - i, &k, [&handler](const uint8_t* q, size_t m) {
            handler.StreamData(Part::kRecords, q, m);
          });
          i += k;
          if (s == RecordStreamParser::Status::kNegativeLength) {
            *used = i;
            return Status::kNegativeLength;
          }
          if (s == RecordStreamParser::Status::kEndMark) {
            handler.RecordsEnd();
            AfterStreams();
          }
          break;
        }
        default: {
          const size_t take = std::min(n - i, missing_);
          std::memcpy(at_, p + i, take);
          i += take;
          at_ += take;
          missing_ -= take;
          if (missing_ > 0) break;
          if (part_ == Part::kFileHeader) {
            const int32_t length = DecodeFileBlockLength(fileHeader_);
            handler.FileLength(length);
            fileLeft_ = length;
            if (length > 0)
              part_ = Part::kFileData;
            else
              AfterFile();
          } else {
            part_ = Part::kDone;
          }
          break;
        }
      }
    }
    *used = i;
    return part_ == Part::kDone ? Status::kDone : Status::kMore;
  }

  // The record stream's own reader: records begun, the length read last, whether it stands
  // between records, and the byte it holds back.
  RecordStreamParser& records() { return records_; }

 private:
  void Gather(uint8_t* to, size_t n) {
    at_ = to;
    missing_ = want_ = n;
  }
  void AfterFile() {
    if (kindFlags_ & kFlagReceiveRecords)
      part_ = Part::kRecords;
    else
      AfterStreams();
  }
  void AfterStreams() {
    if (kindFlags_ & kFlagStatusOnly) {
      PutI32(word_, kStatusPreset);
      part_ = Part::kStatus;
      Gather(word_, sizeof word_);
    } else {
      part_ = Part::kFrame;
      Gather(frame_, total_);
    }
  }

  uint16_t kindFlags_ = 0;
  Part part_ = Part::kDone;
  uint8_t* frame_ = nullptr;
  size_t total_ = 0;
  uint8_t* at_ = nullptr;  // where the next byte of the word, header or frame goes
  size_t missing_ = 0;     // bytes still missing there
  size_t want_ = 0;        // bytes it holds in all
  int64_t fileLeft_ = 0;
  // Filled before they are read; left uninitialised so that a reader kept across exchanges
  // costs nothing to start.
  uint8_t fileHeader_[kFileBlockHeaderSize];
  uint8_t word_[4];
  RecordStreamParser records_;
};

}  // namespace zdb::wire
