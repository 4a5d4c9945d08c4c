// The trace parser fed both directions of a connection: chunks of the input go to the request
// side or the reply side as the input says, the way a relay sees them arrive.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "zdb/frame_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::deque<zdb::trace::ExpectedReply> replies;
  size_t lines = 0;
  auto sink = [&lines](const std::string& line) { lines += line.size() > 0 ? 1 : 0; };
  zdb::trace::RequestParser requests(sink, &replies);
  zdb::trace::ReplyParser answers(sink, &replies);
  bool requestsLive = true;
  bool answersLive = true;
  // Each chunk: one byte whose top bit names the direction and whose low bits give a length
  // (0: the rest of the input), then that many bytes.
  size_t at = 0;
  while (at < size && (requestsLive || answersLive)) {
    const uint8_t control = data[at++];
    size_t n = static_cast<size_t>(control & 0x7F);
    if (n == 0 || n > size - at) n = size - at;
    if (control & 0x80) {
      if (answersLive) answersLive = answers.Feed(data + at, n);
    } else {
      if (requestsLive) requestsLive = requests.Feed(data + at, n);
    }
    at += n;
  }
  // A preview of any bytes must stay bounded and printable.
  const std::string preview = zdb::trace::Preview(data, size);
  if (preview.size() > 4 * size + 64) __builtin_trap();
  (void)lines;
  return 0;
}
