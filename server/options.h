// Command line of zdbd.
#pragma once

#include <cstdint>
#include <string>

namespace zdbd {

struct Options {
  std::string bind = "127.0.0.1";
  uint16_t port = 2500;  // 0: pick a port free for TCP and UDP
  std::string dataDir = "zdbd-data";
  std::string name = "zdbd";
  bool allowRemoteStop = false;
  int sessionIdleSeconds = 1800;     // a session unused this long ends
  int connectionIdleSeconds = 1800;  // a connection silent between requests this long is closed
  int frameTimeoutSeconds = 30;      // a request must arrive whole within this time
  uint32_t maxFrame = 4u << 20;      // largest request frame accepted
  uint32_t maxFile = 256u << 20;     // largest file accepted in a stream
  int maxConnections = 256;
};

// Parses argv; false with a message in `error` for an unknown option or a bad value.
bool ParseOptions(int argc, char** argv, Options* out, std::string* error);
std::string Usage();

}  // namespace zdbd
