// The record-stream reader and the reply reader around it: whatever the bytes, and however a
// receive happens to split them, the data handed on, where the reading stops and why must come
// out the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/frame.h"
#include "wire/record_stream.h"
#include "wire/reply_reader.h"

namespace {

struct Outcome {
  std::vector<uint8_t> data;
  zdb::wire::RecordStreamParser::Status status = zdb::wire::RecordStreamParser::Status::kMore;
  size_t stoppedAt = 0;  // offset in the whole input just past the end mark or bad length
  bool betweenRecords = true;

  bool operator==(const Outcome& o) const {
    return data == o.data && status == o.status && stoppedAt == o.stoppedAt &&
           betweenRecords == o.betweenRecords;
  }
};

// Feeds the bytes in pieces whose sizes follow `sizes` in turn (0 means the rest at once) to
// feed(p, n, &used), which returns the reader's status; stops where the reader stops and sets
// out.status and out.stoppedAt.
template <class Out, class FeedFn>
void Split(const uint8_t* p, size_t n, const std::vector<size_t>& sizes, Out& out, FeedFn feed) {
  size_t at = 0;
  for (size_t piece = 0; at < n; ++piece) {
    size_t size = sizes.empty() ? 0 : sizes[piece % sizes.size()];
    if (size == 0 || size > n - at) size = n - at;
    size_t used = 0;
    out.status = feed(p + at, size, &used);
    if (used > size) __builtin_trap();
    if (out.status != decltype(out.status)::kMore) {
      out.stoppedAt = at + used;
      return;
    }
    at += size;
  }
}

Outcome Run(const uint8_t* p, size_t n, const std::vector<size_t>& sizes) {
  Outcome out;
  zdb::wire::RecordStreamParser parser;
  auto sink = [&out](const uint8_t* d, size_t k) { out.data.insert(out.data.end(), d, d + k); };
  Split(p, n, sizes, out,
        [&](const uint8_t* q, size_t k, size_t* used) { return parser.Feed(q, k, used, sink); });
  out.betweenRecords = parser.BetweenRecords();
  return out;
}

using zdb::wire::ReplyReader;

struct ReplyOutcome {
  std::vector<uint8_t> file, records, frame;
  uint32_t events = 0;
  ReplyReader::Status status = ReplyReader::Status::kMore;
  size_t stoppedAt = 0;
  int32_t word = 0;
  bool operator==(const ReplyOutcome&) const = default;
};

struct ReplyRecorder {
  ReplyOutcome& out;
  void FileLength(int32_t n) { out.events = out.events * 31 + static_cast<uint32_t>(n); }
  void StreamData(ReplyReader::Part part, const uint8_t* d, size_t k) {
    auto& to = part == ReplyReader::Part::kRecords ? out.records : out.file;
    to.insert(to.end(), d, d + k);
  }
  void RecordsEnd() { out.events = out.events * 31 + 7; }
};

// The same for a whole reply of the given kind, its frame as long as a bare header.
ReplyOutcome RunReply(uint16_t kindFlags, const uint8_t* p, size_t n,
                      const std::vector<size_t>& sizes) {
  ReplyOutcome out;
  out.frame.assign(zdb::wire::kHeaderSize, 0);
  ReplyReader reader;
  reader.Begin(kindFlags, out.frame.data(), out.frame.size());
  ReplyRecorder rec{out};
  Split(p, n, sizes, out,
        [&](const uint8_t* q, size_t k, size_t* used) { return reader.Feed(q, k, used, rec); });
  if (out.status == ReplyReader::Status::kDone) out.word = reader.StatusWord();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the splits; the rest is the stream.
  const uint8_t seed = data[0];
  const uint8_t* stream = data + 1;
  const size_t n = size - 1;
  const Outcome whole = Run(stream, n, {});
  const Outcome bytes = Run(stream, n, {1});
  std::vector<size_t> mixed;
  for (size_t i = 0; i < 8; ++i) mixed.push_back(1 + ((seed >> i) & 1) * (i + 2) + (seed % 5));
  const Outcome pieces = Run(stream, n, mixed);
  if (!(whole == bytes) || !(whole == pieces)) __builtin_trap();
  const uint16_t kinds[] = {zdb::wire::kPlain, zdb::wire::kStatusOnly, zdb::wire::kExportKind,
                            zdb::wire::kScriptKind};
  const uint16_t kind = kinds[seed % 4];
  const ReplyOutcome reply = RunReply(kind, stream, n, {});
  if (!(reply == RunReply(kind, stream, n, {1})) || !(reply == RunReply(kind, stream, n, mixed)))
    __builtin_trap();
  return 0;
}
