// File and record streams that run inside an exchange, between the request frame and the
// status reply. Memory stays bounded by fixed buffers whatever the size of the file.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "net/buffered_file.h"
#include "net/connection.h"
#include "platform/platform.h"
#include "wire/file_block.h"
#include "wire/le.h"
#include "wire/reply_reader.h"

namespace zdb {
namespace {

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

bool Connection::SendFileStream(const char* path) {
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

bool Connection::ReceiveStreams(const char* path) {
  // A file stream is written as it arrives; a record stream's data bytes are gathered into
  // large writes.
  const bool records = reader_.part() == wire::ReplyReader::Part::kRecords;
  platform::File file;
  if (!file.Create(path, records)) {
    lastSocketError = file.LastError();
    return false;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStreamBuffer]);
  std::optional<BufferedFileWriter> out;
  if (records) out.emplace(file);
  if (!buffer || (records && !out->ok())) return false;
  struct Handler {
    platform::File& file;
    BufferedFileWriter* out;
    bool written = true;
    void FileLength(int32_t) {}
    void StreamData(wire::ReplyReader::Part part, const uint8_t* p, size_t n) {
      if (part == wire::ReplyReader::Part::kRecords)
        out->Append(p, n);
      else if (written && !file.Write(p, n))
        written = false;
    }
    void RecordsEnd() {}
  } handler{file, out ? &*out : nullptr};
  // Every way out flushes the record data, so the file holds exactly the data bytes that
  // arrived.
  auto finish = [&](bool success) {
    if (!records) return success;
    if (!success)
      reader_.records().ReleaseHeld([&out](const uint8_t* p, size_t n) { out->Append(p, n); });
    if (!out->Flush()) {
      lastSocketError = file.LastError();
      return false;
    }
    return success;
  };
  while (reader_.InStreams()) {
    // A receive may run past the stream's end: the reader puts what follows into the status
    // word or the frame.
    long r = platform::ReceiveSome(socket, buffer.get(), kStreamBuffer);
    if (r < 0) {
      lastSocketError = platform::LastSocketError();
      return finish(false);
    }
    if (r == 0) {
      // A record stream closed between records has ended without its mark, and the status
      // that follows cannot come. Closed inside a record or a file: the stream broke off.
      const bool ended =
          reader_.part() == wire::ReplyReader::Part::kRecords && reader_.records().BetweenRecords();
      if (!ended) lastSocketError = 0;
      if (ended) reader_.EndRecordsEarly();
      return finish(ended);
    }
    size_t used = 0;
    const auto status = reader_.Feed(buffer.get(), static_cast<size_t>(r), &used, handler);
    if (!handler.written) {
      lastSocketError = file.LastError();
      return false;
    }
    if (records && !out->ok()) return finish(false);
    if (status == wire::ReplyReader::Status::kNegativeLength) return finish(false);
  }
  return finish(true);
}

}  // namespace zdb
