// File and record streams that run inside an exchange, between the request frame and the
// status reply. Memory stays bounded by fixed buffers whatever the size of the file.
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "session/session.h"
#include "wire/file_block.h"
#include "wire/le.h"

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

}  // namespace

bool Session::SendFileStream() {
  platform::File file;
  if (!file.OpenRead(uploadFileName)) {
    lastSocketError = file.LastError();
    return false;
  }
  int64_t size = file.Size();
  if (size < 0 || size > INT32_MAX) {
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
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[wire::kFileBlockSize]);
  if (!block) return false;
  int64_t sent = 0;
  while (sent < length) {
    size_t n = static_cast<size_t>(std::min<int64_t>(wire::kFileBlockSize, length - sent));
    size_t have = 0;
    while (have < n) {
      long r = file.Read(block.get() + have, n - have);
      if (r <= 0) break;
      have += static_cast<size_t>(r);
    }
    if (have == 0) break;
    // A file that shrank while being sent still fills its last block, so that the server,
    // which counts the announced length, stays in step; the missing bytes are zeros.
    if (have < n) std::memset(block.get() + have, 0, n - have);
    if (!platform::SendAll(socket, block.get(), n)) {
      lastSocketError = platform::LastSocketError();
      return false;
    }
    sent += static_cast<int64_t>(n);
    if (have < n) break;
  }
  return true;
}

bool Session::ReceiveFileStream() {
  platform::File file;
  if (!file.Create(downloadFileName)) {
    lastSocketError = file.LastError();
    return false;
  }
  uint8_t header[wire::kFileBlockHeaderSize];
  if (!ReceiveExact(socket, header, sizeof header, &lastSocketError)) return false;
  const int32_t length = wire::DecodeFileBlockLength(header);
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[wire::kFileBlockSize]);
  if (!block) return false;
  int64_t received = 0;
  while (received < length) {
    size_t want = static_cast<size_t>(std::min<int64_t>(wire::kFileBlockSize, length - received));
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

bool Session::ReceiveRecordStream() {
  platform::File file;
  if (!file.Create(downloadFileName, true)) {
    lastSocketError = file.LastError();
    return false;
  }
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[wire::kRecordPieceSize]);
  if (!piece) return false;
  for (;;) {
    uint8_t lengthBytes[4];
    size_t got = 0;
    while (got < 4) {
      long r = platform::ReceiveSome(socket, lengthBytes + got, 4 - got);
      if (r < 0) {
        lastSocketError = platform::LastSocketError();
        return false;
      }
      if (r == 0) return true;  // the server closed the stream
      got += static_cast<size_t>(r);
    }
    int32_t remaining = wire::GetI32(lengthBytes);
    if (remaining < 0) return false;
    while (remaining > 0) {
      size_t want = std::min<size_t>(static_cast<size_t>(remaining), wire::kRecordPieceSize);
      long r = platform::ReceiveSome(socket, piece.get(), want);
      if (r <= 0) {
        lastSocketError = r < 0 ? platform::LastSocketError() : 0;
        return false;
      }
      if (r == 2 && piece[0] == wire::kEndMark[0] && piece[1] == wire::kEndMark[1]) return true;
      if (!file.Write(piece.get(), static_cast<size_t>(r))) {
        lastSocketError = file.LastError();
        return false;
      }
      remaining -= static_cast<int32_t>(r);
    }
  }
}

}  // namespace zdb
