// One request and its reply: the frame goes out in one gathering send, any file streams follow
// on the same connection, and the reply is read back through the reply reader into the frame
// buffer and copied into the slots.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "net/connection.h"
#include "platform/platform.h"
#include "wire/frame.h"
#include "wire/le.h"

namespace zdb {

int32_t Connection::Fail(const Request& request, int32_t result) {
  CloseIfDone(request);
  lastResult = kErrComm;
  return result;
}

Connection::~Connection() {
  if (socket != platform::kNoSocket) {
    platform::CloseSocket(socket);
    socket = platform::kNoSocket;
  }
}

uint8_t* Connection::FrameBuffer(size_t total, std::unique_ptr<uint8_t[]>* oneOff) {
  if (total > kKeptFrameBytes) {
    oneOff->reset(new (std::nothrow) uint8_t[total]);
    return oneOff->get();
  }
  if (total > frameCapacity_) {
    // Grown in steps up to the largest frame seen, so that a session asking for ever larger
    // values does not reallocate on every request.
    const size_t grown = std::min(kKeptFrameBytes, std::max(total, 2 * frameCapacity_));
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
    if (!bigger) return nullptr;
    frame_ = std::move(bigger);
    frameCapacity_ = grown;
  }
  return frame_.get();
}

const uint8_t* Connection::EncodeRequestHeader(const Request& r, int count) {
  HeaderInputs& in = sentInputs_;
  wire::FrameHeader h;
  h.kind = static_cast<uint8_t>(r.kindFlags & 0xFF);
  h.flags = static_cast<uint8_t>(r.kindFlags >> 8);
  h.connectionOptions = connectionOptions;
  h.chars = headerChars;
  h.opcode = r.opcode;
  wire::LayoutSlots(h, r.slotLength.data(), count);
  h.paramCount = r.paramCount;
  h.sessionHandle = sessionHandle;
  h.status = wire::kStatusPreset;
  wire::EncodeHeader(h, sentHeader_.data());
  in = {r.kindFlags, connectionOptions, headerChars,   r.paramCount,
        count,       r.opcode,          sessionHandle, {}};
  std::copy(r.slotLength.begin(), r.slotLength.begin() + count, in.lengths.begin());
  return sentHeader_.data();
}

int32_t Connection::Exchange(const Request& request) {
  const uint16_t kindFlags = request.kindFlags;
  const uint32_t opcode = request.opcode;
  const int8_t paramCount = request.paramCount;
  const auto& slotLength = request.slotLength;
  const auto& slotBuffer = request.slotBuffer;
  if (NeedsNewConnection()) {
    // A held connection that a refused login left behind is never used again.
    if (socket != platform::kNoSocket) platform::CloseSocket(socket);
    socket = platform::OpenTcp();
    if (socket == platform::kNoSocket) {
      lastSocketError = platform::LastSocketError();
      lastResult = kErrComm;
      return kErrComm;
    }
    platform::SetNoDelay(socket);
    if (!platform::Connect(socket, serverAddress)) {
      lastSocketError = platform::LastSocketError();
      platform::CloseSocket(socket);
      socket = platform::kNoSocket;
      lastResult = kErrComm;
      return kErrConnect;
    }
  }

  const int count = paramCount < 0 ? 0 : (paramCount > 16 ? 16 : paramCount);
  uint64_t dataBytes = 0;
  for (int i = 0; i < count; ++i) dataBytes += slotLength[i];
  if (dataBytes > UINT32_MAX - wire::kHeaderSize) return Fail(request, kErrNoMemory);
  const size_t total = wire::kHeaderSize + static_cast<size_t>(dataBytes);
  std::unique_ptr<uint8_t[]> oneOff;
  uint8_t* const frame = total <= frameCapacity_ ? frame_.get() : FrameBuffer(total, &oneOff);
  if (!frame) return Fail(request, kErrNoMemory);

  // The slot data goes out straight from the caller's buffers; only a slot without a buffer
  // takes zeros from its place in the frame buffer, which otherwise waits for the reply.
  platform::ConstBuffer parts[1 + wire::kMaxSlots];
  parts[0] = {RequestHeader(request, count), wire::kHeaderSize};
  uint8_t* data = frame + wire::kHeaderSize;
  for (int i = 0; i < count; ++i) {
    if (!slotBuffer[i]) std::memset(data, 0, slotLength[i]);
    parts[1 + i] = {slotBuffer[i] ? slotBuffer[i] : data, slotLength[i]};
    data += slotLength[i];
  }

  if (!platform::SendAllParts(socket, parts, 1 + static_cast<size_t>(count))) {
    lastSocketError = platform::LastSocketError();
    return Fail(request, kErrComm);
  }

  if ((kindFlags & wire::kFlagSendFile) && !SendFileStream(request.uploadPath))
    return Fail(request, kErrComm);
  reader_.Begin(kindFlags, frame, total);
  if (reader_.InStreams() && !ReceiveStreams(request.downloadPath)) return Fail(request, kErrComm);

  if (kindFlags & wire::kFlagStatusOnly) {
    while (!reader_.Done()) {
      long r = platform::ReceiveSome(socket, reader_.Space(), reader_.Missing());
      if (r < 0) {
        lastSocketError = platform::LastSocketError();
        return Fail(request, kErrComm);
      }
      if (r == 0) break;  // a closed connection leaves the preset status
      reader_.Received(static_cast<size_t>(r));
    }
    // A word cut short would read as a status the server never sent.
    if (!reader_.Done() && reader_.Have() > 0) {
      lastSocketError = 0;
      return Fail(request, kErrComm);
    }
    CloseIfDone(request);
    lastResult = reader_.StatusWord();
    lastSocketError = 0;
    return kOk;
  }

  while (!reader_.Done()) {
    long r = platform::ReceiveSome(socket, reader_.Space(), reader_.Missing());
    if (r <= 0) {
      lastSocketError = r < 0 ? platform::LastSocketError() : 0;
      return Fail(request, kErrComm);
    }
    reader_.Received(static_cast<size_t>(r));
  }

  const uint8_t* reply = frame;
  int32_t result = kOk;
  // Login and logout replies carry the session handle and the result the caller sees.
  if (opcode == kLoginOpcode || opcode == kLogoutOpcode) {
    sessionHandle = wire::GetU32(reply + wire::kOffSession);
    result = wire::GetI32(reply + wire::kOffStatus);
  }
  const uint8_t* src = reply + wire::kHeaderSize;
  for (int i = 0; i < count; ++i) {
    if (slotBuffer[i]) std::memcpy(slotBuffer[i], src, slotLength[i]);
    src += slotLength[i];
  }
  lastResult = wire::GetI32(reply + wire::kOffStatus);
  CloseIfDone(request);
  lastSocketError = 0;
  return result;
}

}  // namespace zdb
