// The record-stream reader: whatever the bytes, and however a receive happens to split them, the
// data handed on, where the stream stops and why must come out the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/record_stream.h"

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

// Feeds the bytes in pieces whose sizes follow `sizes` in turn (0 means the rest at once).
Outcome Run(const uint8_t* p, size_t n, const std::vector<size_t>& sizes) {
  Outcome out;
  zdb::wire::RecordStreamParser parser;
  auto sink = [&out](const uint8_t* d, size_t k) { out.data.insert(out.data.end(), d, d + k); };
  size_t at = 0;
  for (size_t piece = 0; at < n; ++piece) {
    size_t size = sizes.empty() ? 0 : sizes[piece % sizes.size()];
    if (size == 0 || size > n - at) size = n - at;
    size_t used = 0;
    out.status = parser.Feed(p + at, size, &used, sink);
    if (used > size) __builtin_trap();
    if (out.status != zdb::wire::RecordStreamParser::Status::kMore) {
      out.stoppedAt = at + used;
      break;
    }
    at += size;
  }
  out.betweenRecords = parser.BetweenRecords();
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
  return 0;
}
