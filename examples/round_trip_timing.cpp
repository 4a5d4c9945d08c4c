// Median round trip of one request (ZDB_GetVersion) against the scripted stand-in on
// 127.0.0.1, in the default mode (a connection per request) and in the persistent mode.
// Bounded: a fixed number of calls per mode (2000 unless given as the first argument).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/scripted_peer.h"
#include "zdb_api.h"

namespace {

double MedianMicroseconds(int calls) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(calls));
  for (int i = 0; i < calls; ++i) {
    uint32_t version = 0;
    const auto start = std::chrono::steady_clock::now();
    if (ZDB_GetVersion(&version) != ZDB_OK) return -1;
    times.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::nth_element(times.begin(), times.begin() + calls / 2, times.end());
  return times[static_cast<size_t>(calls / 2)];
}

}  // namespace

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (calls < 1 || calls > 100000) calls = 2000;
  zdb::test::ScriptedPeer peer;
  std::printf("%d ZDB_GetVersion calls per mode against a scripted stand-in on 127.0.0.1\n", calls);
  for (int mode : {0, 1}) {
    if (ZDB_SelHost(peer.host().c_str()) != ZDB_OK || ZDB_Connection(mode) != ZDB_OK ||
        ZDB_Init("", "") != ZDB_OK) {
      std::printf("could not log in\n");
      return 1;
    }
    const double median = MedianMicroseconds(calls);
    ZDB_Finish();
    if (median < 0) {
      std::printf("a request failed\n");
      return 1;
    }
    std::printf("  %-10s median %.1f us\n", mode ? "persistent" : "default", median);
  }
  return 0;
}
