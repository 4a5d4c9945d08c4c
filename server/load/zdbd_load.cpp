// A bounded load on a zdbd over loopback through the library: N client threads, each with its
// own session, each carrying out a fixed number of operations (or fewer when the time limit
// comes first). Prints operations and requests per second; scripts/zdbd_bench.sh drives it.
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

// Every workload but "version" works on the table BENCH of the database BENCH, which "setup"
// creates: four fields of the four value paths (text, number, 2-byte integer, wider text).
constexpr const char* kDb = "BENCH";
constexpr const char* kTable = "BENCH";
constexpr const char* kSpec = "NAME C 20; QTY N; CODE I; NOTE C 40";
constexpr const char* kList = "NAME,QTY,CODE,NOTE";

struct Plan {
  std::string host;
  int mode = 0;  // 0 a connection per request, 1 one connection per session
  int clients = 1;
  long operations = 1000;  // per client
  int seconds = 30;        // upper bound on the whole run
  std::string workload = "version";
};

struct Workload {
  const char* name;
  int requests;  // requests one operation sends
  const char* what;
};

constexpr Workload kWorkloads[] = {
    {"version", 1, "version request"},
    {"read", 2, "Read NEXT + GetField"},
    {"nav4", 5, "Read NEXT + 4 GetField"},
    {"insert", 5, "AppendBlank + 4 PutField"},
    {"getread", 1, "GetRead NEXT of a whole record"},
    {"putwrite", 1, "PutWrite of a whole record"},
};

const Workload* FindWorkload(const std::string& name) {
  for (const auto& w : kWorkloads)
    if (name == w.name) return &w;
  return nullptr;
}

bool IsLoopback(const std::string& host) {
  return host.rfind("127.", 0) == 0;
}

bool OpenBench() {
  return ZDB_UseDB(kDb) == 1000 && ZDB_SelDB(kDb) == 1000 &&
         ZDB_OpenTable(kTable, "", "") == 1000 && ZDB_SelTable(kTable, "") == 1000;
}

// Creates the database and table when missing; the caller fills them with "putwrite".
bool Setup() {
  int32_t rc = Z_NewDB(kDb, "zdbd_load", "", 0, "");
  if (rc != 1000 && rc != 4012) return false;
  if (ZDB_UseDB(kDb) != 1000 || ZDB_SelDB(kDb) != 1000) return false;
  uint8_t record[113] = {};
  rc = Z_CreTable(kTable, kSpec, "zdbd_load records", record);
  return rc == 1000 || rc == 4022;
}

// A record read ends at the table's end and starts over at its beginning.
int32_t ReadNext() {
  int32_t rc = ZDB_Read("NEXT", "");
  return rc == 4042 ? ZDB_Read("FIRST", "") : rc;
}

int32_t GetReadNext(char** values) {
  char mode[8] = "NEXT", option[2] = "";
  int32_t rc = ZDB_GetRead(mode, option, kList, values);
  if (rc != 4042) return rc;
  std::strcpy(mode, "FIRST");
  return ZDB_GetRead(mode, option, kList, values);
}

// One operation of the workload; 1000 when every request of it succeeded.
int32_t Operation(const std::string& w, long i, char** values) {
  char name[8], text[48];
  if (w == "version") {
    uint32_t version = 0;
    return ZDB_GetVersion(&version);
  }
  if (w == "read" || w == "nav4") {
    int32_t rc = ReadNext();
    char field[5][8] = {"NAME", "QTY", "CODE", "NOTE"};
    uint32_t sizes[4] = {20, 8, 2, 40};
    for (int f = 0; f < (w == "read" ? 1 : 4) && rc == 1000; ++f)
      rc = ZDB_GetField(field[f], text, sizes[f]);
    return rc;
  }
  if (w == "getread") return GetReadNext(values);
  // Record numbers count up from zero, so the name is always N and six digits.
  std::snprintf(name, sizeof name, "N%06lu", static_cast<unsigned long>(i) % 1000000);
  std::snprintf(text, sizeof text, "record %ld of the load", i);
  double qty = static_cast<double>(i) / 4;
  int16_t code = static_cast<int16_t>(i % 30000);
  if (w == "insert") {
    int32_t rc = ZDB_AppendBlank();
    if (rc == 1000) rc = ZDB_PutField("NAME", name, static_cast<uint32_t>(std::strlen(name)));
    if (rc == 1000) rc = ZDB_PutField("QTY", &qty, 8);
    if (rc == 1000) rc = ZDB_PutField("CODE", &code, 2);
    if (rc == 1000) rc = ZDB_PutField("NOTE", text, static_cast<uint32_t>(std::strlen(text)));
    return rc;
  }
  char qtyText[32], codeText[8];
  std::snprintf(qtyText, sizeof qtyText, "%g", qty);
  std::snprintf(codeText, sizeof codeText, "%d", code);
  char* row[4] = {name, qtyText, codeText, text};
  return ZDB_PutWrite(kList, row);
}

long RunClient(const Plan& p, std::chrono::steady_clock::time_point deadline,
               std::atomic<int>* failures) {
  if (ZDB_SelHost(p.host.c_str()) != 1000 || ZDB_Connection(p.mode) != 1000 ||
      ZDB_Init("", "") != 1000) {
    ++*failures;
    return 0;
  }
  if (p.workload != "version" && !OpenBench()) {
    ++*failures;
    ZDB_Finish();
    return 0;
  }
  std::vector<char*> values(300, nullptr);
  long done = 0;
  for (; done < p.operations && std::chrono::steady_clock::now() < deadline; ++done)
    if (Operation(p.workload, done, values.data()) != 1000) ++*failures;
  for (char* v : values) std::free(v);
  ZDB_Finish();
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: zdbd_load 127.0.0.1:PORT [mode 0|1] [clients] [operations per client] "
                 "[seconds] [setup|version|read|nav4|insert|getread|putwrite]\n");
    return 2;
  }
  Plan p;
  p.host = argv[1];
  if (argc > 2) p.mode = std::atoi(argv[2]);
  if (argc > 3) p.clients = std::atoi(argv[3]);
  if (argc > 4) p.operations = std::atol(argv[4]);
  if (argc > 5) p.seconds = std::atoi(argv[5]);
  if (argc > 6) p.workload = argv[6];
  if (!IsLoopback(p.host) || p.clients < 1 || p.clients > 64 || p.operations < 1 ||
      p.operations > 1000000 || p.seconds < 1 || p.seconds > 600) {
    std::fprintf(stderr, "zdbd_load: loopback hosts only, 1-64 clients, bounded operations\n");
    return 2;
  }
  if (p.workload == "setup") {
    bool ok = ZDB_SelHost(p.host.c_str()) == 1000 && ZDB_Connection(1) == 1000 &&
              ZDB_Init("", "") == 1000 && Setup();
    ZDB_Finish();
    std::printf("setup of %s.%s: %s\n", kDb, kTable, ok ? "ready" : "failed");
    return ok ? 0 : 1;
  }
  const Workload* w = FindWorkload(p.workload);
  if (!w) {
    std::fprintf(stderr, "zdbd_load: unknown workload %s\n", p.workload.c_str());
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
  std::printf(
      "%-8s %s mode, %d client(s): %ld x (%s) in %.2f s: %.0f operations/s, %.0f requests/s, "
      "%d failed\n",
      w->name, p.mode ? "persistent" : "default", p.clients, total.load(), w->what, secs,
      total.load() / secs, total.load() * w->requests / secs, failures.load());
  return failures.load() ? 1 : 0;
}
