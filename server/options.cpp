#include "options.h"

#include <cstdlib>
#include <cstring>

namespace zdbd {
namespace {

bool ToInt(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

std::string Usage() {
  return "usage: zdbd [--port N] [--bind ADDR] [--data DIR] [--name TEXT] [--allow-remote-stop]\n"
         "            [--idle-timeout SECONDS] [--connection-timeout SECONDS]\n"
         "            [--frame-timeout SECONDS] [--first-frame-timeout SECONDS]\n"
         "            [--max-frame BYTES] [--max-file BYTES] [--max-connections N]\n"
         "            [--max-sessions N] [--stop-grace SECONDS] [--durable]\n";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--allow-remote-stop") {
      o->allowRemoteStop = true;
      continue;
    }
    if (a == "--durable") {
      o->durable = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      *error = Usage();
      return false;
    }
    if (i + 1 >= argc) {
      *error = "missing value after " + a;
      return false;
    }
    const char* v = argv[++i];
    long n = 0;
    bool ok = true;
    if (a == "--port") {
      ok = ToInt(v, 0, 65535, &n);
      o->port = static_cast<uint16_t>(n);
    } else if (a == "--bind") {
      o->bind = v;
    } else if (a == "--data") {
      o->dataDir = v;
    } else if (a == "--name") {
      o->name = v;
    } else if (a == "--idle-timeout") {
      ok = ToInt(v, 1, 86400 * 7, &n);
      o->sessionIdleSeconds = static_cast<int>(n);
    } else if (a == "--connection-timeout") {
      ok = ToInt(v, 1, 86400, &n);
      o->connectionIdleSeconds = static_cast<int>(n);
      if (o->frameTimeoutSeconds > n) o->frameTimeoutSeconds = static_cast<int>(n);
    } else if (a == "--frame-timeout") {
      ok = ToInt(v, 1, 3600, &n);
      o->frameTimeoutSeconds = static_cast<int>(n);
    } else if (a == "--first-frame-timeout") {
      ok = ToInt(v, 1, 86400, &n);
      o->firstFrameSeconds = static_cast<int>(n);
    } else if (a == "--max-file") {
      ok = ToInt(v, 4096, 0x7FFFFFFFL, &n);
      o->maxFile = static_cast<uint32_t>(n);
    } else if (a == "--max-sessions") {
      ok = ToInt(v, 1, 1000000, &n);
      o->maxSessions = static_cast<int>(n);
    } else if (a == "--stop-grace") {
      ok = ToInt(v, 0, 3600, &n);
      o->stopGraceSeconds = static_cast<int>(n);
    } else if (a == "--max-frame") {
      ok = ToInt(v, 4096, 1L << 30, &n);
      o->maxFrame = static_cast<uint32_t>(n);
    } else if (a == "--max-connections") {
      ok = ToInt(v, 1, 4096, &n);
      o->maxConnections = static_cast<int>(n);
    } else {
      *error = "unknown option " + a + "\n" + Usage();
      return false;
    }
    if (!ok) {
      *error = std::string("bad value for ") + a + ": " + v;
      return false;
    }
  }
  return true;
}

}  // namespace zdbd
