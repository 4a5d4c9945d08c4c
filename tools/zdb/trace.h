// A tracing relay: listens on a loopback port, forwards every TCP connection and UDP datagram
// to the server, and prints each request, stream and reply as it passes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zdb::trace {

struct TraceOptions {
  uint16_t listenPort = 0;  // 0: any free port (printed at start)
  std::string upstreamHost = "127.0.0.1";
  uint16_t upstreamPort = 2500;
  int maxConnections = -1;  // stop after this many connections have ended (-1: never)
  // Stop after this many sessions have logged out and no connection is open any more (-1:
  // never). In the default mode a session spans many connections, so counting connections
  // would stop in the middle of a command; a logout ends one.
  int maxSessions = -1;
  int durationSeconds = -1;    // stop after this long (-1: never)
  bool showPasswords = false;  // print password slots instead of ***
};

// Runs until `stop` becomes true or one of the limits above is reached. Returns a process
// exit code. Prints "tracing 127.0.0.1:PORT -> host:port" first.
int RunTracer(const TraceOptions& options, std::FILE* out, std::atomic<bool>& stop);

}  // namespace zdb::trace
