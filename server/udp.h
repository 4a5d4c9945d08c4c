// The control datagrams zdbd answers on its port: probe, stop and discovery.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zdbd {

// An address of this machine's loopback range, 127.0.0.0/8 (host byte order).
bool IsLoopback(uint32_t address);

// A stop is obeyed only from the machine itself, unless remote stops were allowed at start.
bool StopAllowed(uint32_t sourceAddress, bool allowRemoteStop);

enum class ControlAction { kIgnore, kAnswer, kAnswerAndStop, kRefuseStop };

struct ControlReply {
  ControlAction action = ControlAction::kIgnore;
  std::vector<uint8_t> bytes;
};

// What a datagram from `source` (host byte order) asks for and what to send back. The discovery
// reply carries the server's name and three numbers: the version's high byte, the TCP port and
// the number of sessions.
ControlReply AnswerControl(const uint8_t* data, size_t n, uint32_t source, bool allowRemoteStop,
                           const std::string& name, uint16_t port, size_t sessions);

}  // namespace zdbd
