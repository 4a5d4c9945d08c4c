#include "udp.h"

#include "wire/control.h"

namespace zdbd {

namespace wire = zdb::wire;

bool IsLoopback(uint32_t address) {
  return (address >> 24) == 127;
}

bool StopAllowed(uint32_t sourceAddress, bool allowRemoteStop) {
  return allowRemoteStop || IsLoopback(sourceAddress);
}

ControlReply AnswerControl(const uint8_t* data, size_t n, uint32_t source, bool allowRemoteStop,
                           const std::string& name, uint16_t port, size_t sessions) {
  ControlReply r;
  if (n < 2) return r;
  uint16_t code = wire::DecodeControlCode(data, n);
  switch (code) {
    case wire::kCodeProbe:
      r.action = ControlAction::kAnswer;
      break;
    case wire::kCodeStop:
      if (!StopAllowed(source, allowRemoteStop)) {
        r.action = ControlAction::kRefuseStop;
        return r;
      }
      r.action = ControlAction::kAnswerAndStop;
      break;
    case wire::kCodeDiscover: {
      wire::DiscoveryInfo info;
      info.text = name;
      info.numbers[0] = 0x12;
      info.numbers[1] = port;
      info.numbers[2] = static_cast<uint16_t>(sessions > 65535 ? 65535 : sessions);
      r.action = ControlAction::kAnswer;
      r.bytes.resize(wire::kDiscoveryReplySize);
      wire::EncodeDiscoveryReply(info, r.bytes.data());
      return r;
    }
    default:
      return r;
  }
  r.bytes.resize(wire::kControlSize);
  wire::EncodeControl(code, r.bytes.data());
  return r;
}

}  // namespace zdbd
