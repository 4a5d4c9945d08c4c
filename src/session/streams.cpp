// File and record streams that run inside an exchange, between the request frame and the
// status reply. Memory stays bounded by fixed buffers whatever the size of the file.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "session/buffered_file.h"
#include "session/session.h"
#include "wire/file_block.h"
#include "wire/le.h"
#include "wire/record_stream.h"

namespace zdb {
namespace {

// Receives exactly n bytes; false on error or when the peer closes first.
bool ReceiveExact(platform::Socket s, uint8_t* p, size_t n, int32_t* error) {
  while (n > 0) {
    long r = platform::ReceiveSome(s, p, n);
    if (r <= 0) {
      *error = r < 0 ? platform::LastSocketError() : 0;
      return false;
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Reads up to n bytes, fewer only at the end of the file or on an error.
size_t ReadBlock(platform::File& file, uint8_t* p, size_t n) {
  size_t have = 0;
  while (have < n) {
    long r = file.Read(p + have, n - have);
    if (r <= 0) break;
    have += static_cast<size_t>(r);
  }
  return have;
}

// Downloads and record streams pass through one buffer of this size, allocated for the stream:
// memory stays the same whatever the size of the file, while each receive and write call moves
// enough to keep the per-call cost well below the cost of the copy. Measured on loopback,
// 16 KiB blocks leave a tenth of the throughput on the table, 64 KiB a few percent.
constexpr size_t kStreamBuffer = 256 * 1024;

// Uploads read and send blocks of this size (a file that is smaller takes a buffer of its own
// size). Measured on loopback with two cores, a send this large lets the receiver copy out of
// the socket while this side is still copying in, and doubles the throughput of 256 KiB
// blocks; sendfile, which the receiver still has to copy out of page references, came out
// slowest of all, and larger blocks gave nothing more.
constexpr size_t kUploadBlock = 2 * 1024 * 1024;

}  // namespace

bool Session::SendFileStream(const char* path) {
  platform::File file;
  if (!file.OpenRead(path)) {
    lastSocketError = file.LastError();
    return false;
  }
  const int64_t size = file.Size();
  if (size < 0 || size > INT32_MAX) {
    // The length field is a signed 32-bit number; a larger file cannot be announced.
    lastSocketError = file.LastError();
    return false;
  }
  const auto length = static_cast<int32_t>(size);
  uint8_t header[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(length, header);
  if (!platform::SendAll(socket, header, sizeof header)) {
    lastSocketError = platform::LastSocketError();
    return false;
  }
  if (length == 0) return true;
  int64_t sent = 0;
  const auto capacity = std::min(kUploadBlock, static_cast<size_t>(length));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]);
  if (!buffer) return false;
  while (sent < length) {
    const auto n = static_cast<size_t>(std::min<int64_t>(capacity, length - sent));
    size_t have = ReadBlock(file, buffer.get(), n);
    const bool shrank = have < n;
    if (shrank) {
      // A file that shrank while being sent still fills the 16 KiB block in which it ended,
      // so that the server, which counts the announced length, stays in step; the missing
      // bytes are zeros.
      const auto block = static_cast<int64_t>(wire::kFileBlockSize);
      const auto end = sent + static_cast<int64_t>(have);
      const auto gap = static_cast<size_t>((block - end % block) % block);
      const size_t fill = std::min(gap, n - have);
      std::memset(buffer.get() + have, 0, fill);
      have += fill;
    }
    if (have > 0 && !platform::SendAll(socket, buffer.get(), have)) {
      lastSocketError = platform::LastSocketError();
      return false;
    }
    sent += static_cast<int64_t>(have);
    if (shrank) break;
  }
  return true;
}

bool Session::ReceiveFileStream(const char* path) {
  platform::File file;
  if (!file.Create(path)) {
    lastSocketError = file.LastError();
    return false;
  }
  uint8_t header[wire::kFileBlockHeaderSize];
  if (!ReceiveExact(socket, header, sizeof header, &lastSocketError)) return false;
  const int32_t length = wire::DecodeFileBlockLength(header);
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kStreamBuffer]);
  if (!block) return false;
  int64_t received = 0;
  while (received < length) {
    const auto want = static_cast<size_t>(std::min<int64_t>(kStreamBuffer, length - received));
    long r = platform::ReceiveSome(socket, block.get(), want);
    if (r <= 0) {
      lastSocketError = r < 0 ? platform::LastSocketError() : 0;
      return false;
    }
    if (!file.Write(block.get(), static_cast<size_t>(r))) {
      lastSocketError = file.LastError();
      return false;
    }
    received += r;
  }
  return true;
}

bool Session::ReceiveRecordStream(const char* path) {
  platform::File file;
  if (!file.Create(path, true)) {
    lastSocketError = file.LastError();
    return false;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStreamBuffer]);
  BufferedFileWriter out(file);
  if (!buffer || !out.ok()) return false;
  wire::RecordStreamParser parser;
  auto sink = [&out](const uint8_t* p, size_t n) { out.Append(p, n); };
  // Every way out flushes, so the file holds exactly the data bytes that arrived.
  auto finish = [&](bool success) {
    if (!success) parser.ReleaseHeld(sink);
    if (!out.Flush()) {
      lastSocketError = file.LastError();
      return false;
    }
    return success;
  };
  for (;;) {
    long r = platform::ReceiveSome(socket, buffer.get(), kStreamBuffer);
    if (r < 0) {
      lastSocketError = platform::LastSocketError();
      return finish(false);
    }
    if (r == 0) {
      // Closed between records: the stream has ended without its mark, and the status that
      // follows cannot come. Closed inside a record: the stream broke off.
      if (!parser.BetweenRecords()) lastSocketError = 0;
      return finish(parser.BetweenRecords());
    }
    size_t used = 0;
    auto status = parser.Feed(buffer.get(), static_cast<size_t>(r), &used, sink);
    if (!out.ok()) return finish(false);
    if (status == wire::RecordStreamParser::Status::kNegativeLength) return finish(false);
    if (status == wire::RecordStreamParser::Status::kEndMark) {
      // What came along with the end mark is the start of the reply.
      pendingReply_.assign(buffer.get() + used, buffer.get() + r);
      return finish(true);
    }
  }
}

}  // namespace zdb
