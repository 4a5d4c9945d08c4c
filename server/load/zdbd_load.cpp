// A bounded load on a zdbd over loopback through the library: N client threads, each with its
// own session, each sending a fixed number of requests (or fewer when the time limit comes
// first). Prints requests per second.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "zdb_api.h"

namespace {

struct Plan {
  std::string host;
  int mode = 0;  // 0 a connection per request, 1 one connection per session
  int clients = 1;
  long requests = 1000;  // per client
  int seconds = 30;      // upper bound on the whole run
  std::string table;     // with a table: record reads of DEMO.table; without: version requests
};

bool IsLoopback(const std::string& host) {
  return host.rfind("127.", 0) == 0;
}

long RunClient(const Plan& p, std::chrono::steady_clock::time_point deadline,
               std::atomic<int>* failures) {
  if (ZDB_SelHost(p.host.c_str()) != 1000 || ZDB_Connection(p.mode) != 1000 ||
      ZDB_Init("", "") != 1000) {
    ++*failures;
    return 0;
  }
  if (!p.table.empty() && (ZDB_UseDB("DEMO") != 1000 || ZDB_SelDB("DEMO") != 1000 ||
                           ZDB_OpenTable(p.table.c_str(), "", "") != 1000 ||
                           ZDB_SelTable(p.table.c_str(), "") != 1000)) {
    ++*failures;
    return 0;
  }
  long done = 0;
  uint32_t version = 0;
  for (; done < p.requests && std::chrono::steady_clock::now() < deadline; ++done) {
    int32_t rc = p.table.empty() ? ZDB_GetVersion(&version) : ZDB_Read("FIRST", "");
    if (rc != 1000) ++*failures;
  }
  ZDB_Finish();
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: zdbd_load 127.0.0.1:PORT [mode 0|1] [clients] [requests per client] "
                 "[seconds] [table of DEMO]\n");
    return 2;
  }
  Plan p;
  p.host = argv[1];
  if (argc > 2) p.mode = std::atoi(argv[2]);
  if (argc > 3) p.clients = std::atoi(argv[3]);
  if (argc > 4) p.requests = std::atol(argv[4]);
  if (argc > 5) p.seconds = std::atoi(argv[5]);
  if (argc > 6) p.table = argv[6];
  if (!IsLoopback(p.host) || p.clients < 1 || p.clients > 64 || p.requests < 1 ||
      p.requests > 1000000 || p.seconds < 1 || p.seconds > 600) {
    std::fprintf(stderr, "zdbd_load: loopback hosts only, 1-64 clients, bounded requests\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + std::chrono::seconds(p.seconds);
  std::atomic<long> total{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < p.clients; ++i)
    threads.emplace_back([&] { total += RunClient(p, deadline, &failures); });
  for (auto& t : threads) t.join();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s mode, %d client(s), %ld requests (%s) in %.2f s: %.0f requests/s, %d failed\n",
              p.mode ? "persistent" : "default", p.clients, total.load(),
              p.table.empty() ? "version" : "record read", secs, total.load() / secs,
              failures.load());
  return failures.load() ? 1 : 0;
}
