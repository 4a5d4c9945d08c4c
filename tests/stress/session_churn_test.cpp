// Many threads, each with its own Session, against one real zdbd: threads end while logged in
// and new ones take their place, and every thread reads back only what it wrote itself. Run
// under ThreadSanitizer this is the race ring of the library and the server; in the ordinary
// suite it runs with fewer requests. Bounded by count and by time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "session/registry.h"
#include "support/zdbd_process.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 64;
constexpr int kRequestsPerGeneration = 250;  // then the thread ends, still logged in

// The run's size comes from the environment so that the hardening step can ask for more
// without a second build; the defaults keep the ordinary suite quick.
long Setting(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

std::string Trimmed(const char* p, size_t n) {
  std::string s(p, strnlen(p, n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// zdbd answers 4054 when SQLite's write lock stays taken by other sessions' writes longer than
// it waits (most often under ThreadSanitizer's slowdown): a busy server, which a client
// meets by trying again, not a mix-up of Sessions. Other codes fail at once.
constexpr int32_t kDatabaseBusy = 4054;
template <typename Call>
int32_t RetryWhileBusy(Call call, long* retries) {
  int32_t r = call();
  for (int i = 0; r == kDatabaseBusy && i < 200; ++i) {
    ++*retries;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    r = call();
  }
  return r;
}

struct Slot {
  long requests = 0;
  long busyRetries = 0;
  int generations = 0;
  std::string failure;  // the first thing that went wrong, with where
};

// One thread's life: its own Session, its own record, a run of writes and reads. It returns
// without logging out, so the thread's end must do that.
void Generation(const std::string& host, int slot, int generation, bool held, long budget,
                Slot* out) {
  auto fail = [&](const std::string& what, int32_t code) {
    if (out->failure.empty())
      out->failure = "slot " + std::to_string(slot) + " generation " + std::to_string(generation) +
                     ": " + what + " -> " + std::to_string(code);
  };
  int32_t r = ZDB_SelHost(host.c_str());
  if (r != 1000) return fail("SelHost", r);
  if (held && (r = ZDB_Connection(1)) != 1000) return fail("Connection", r);
  const char* steps[] = {"Init", "UseDB", "SelDB", "OpenTable", "SelTable", "AppendBlank"};
  for (const char* step : steps) {
    const std::string s = step;
    r = s == "Init"        ? ZDB_Init("", "")
        : s == "UseDB"     ? ZDB_UseDB("STRESS")
        : s == "SelDB"     ? ZDB_SelDB("STRESS")
        : s == "OpenTable" ? ZDB_OpenTable("ITEMS", "", "")
        : s == "SelTable"  ? ZDB_SelTable("ITEMS", "")
                           : RetryWhileBusy([] { return ZDB_AppendBlank(); }, &out->busyRetries);
    if (r != 1000) return fail(s, r);
    ++out->requests;
  }
  char owner[17];
  std::snprintf(owner, sizeof owner, "t%02d-g%d", slot, generation);
  r = RetryWhileBusy([&] { return ZDB_PutField("OWNER", owner, 0xFFFFFFFFu); }, &out->busyRetries);
  if (r != 1000) return fail("PutField OWNER", r);
  for (long k = 0; k < budget; k += 3) {
    char seq[32];
    std::snprintf(seq, sizeof seq, "%02d.%ld", slot, k % 100000);
    r = RetryWhileBusy([&] { return ZDB_PutField("SEQ", seq, 0xFFFFFFFFu); }, &out->busyRetries);
    if (r != 1000) return fail("PutField SEQ", r);
    char name[] = "SEQ";
    char value[16];
    if ((r = ZDB_GetField(name, value, sizeof value)) != 1000) return fail("GetField SEQ", r);
    if (Trimmed(value, sizeof value) != seq)
      return fail("read back " + Trimmed(value, sizeof value) + " instead of " + seq, r);
    char ownerName[] = "OWNER";
    if ((r = ZDB_GetField(ownerName, value, sizeof value)) != 1000)
      return fail("GetField OWNER", r);
    if (Trimmed(value, sizeof value) != owner)
      return fail("read back owner " + Trimmed(value, sizeof value), r);
    out->requests += 3;
  }
  ++out->generations;
}

TEST(SessionChurn, ManyThreadsReadBackOnlyTheirOwnData) {
  const long perThread = Setting("ZDB_STRESS_REQUESTS", 300);
  const auto deadline = Clock::now() + std::chrono::seconds(Setting("ZDB_STRESS_SECONDS", 60));
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data");
  ASSERT_TRUE(server.running());
  const std::string host = server.host();
  {
    ASSERT_EQ(ZDB_SelHost(host.c_str()), 1000);
    ASSERT_EQ(Z_NewDB("STRESS", "", "", 0, ""), 1000);
    ASSERT_EQ(ZDB_UseDB("STRESS"), 1000);
    ASSERT_EQ(ZDB_SelDB("STRESS"), 1000);
    uint8_t tableRecord[113] = {};
    ASSERT_EQ(Z_CreTable("ITEMS", "OWNER C 16; SEQ C 16", "stress", tableRecord), 1000);
    ASSERT_EQ(ZDB_Finish(), 1000);
    RemoveSessionForThread(platform::CurrentThreadId());
  }

  // Each slot runs its generations one after another; a new thread starts as soon as the
  // last one has ended, so logouts at thread end meet logins of the next threads.
  std::vector<Slot> slots(kThreads);
  std::vector<std::thread> runners;
  const auto start = Clock::now();
  for (int i = 0; i < kThreads; ++i) {
    runners.emplace_back([&, i] {
      Slot& slot = slots[static_cast<size_t>(i)];
      for (int g = 0; slot.requests < perThread && slot.failure.empty(); ++g) {
        if (Clock::now() > deadline) break;
        const long budget = std::min<long>(kRequestsPerGeneration, perThread - slot.requests);
        std::thread t(Generation, host, i, g, i % 4 != 0, budget, &slot);
        t.join();
      }
    });
  }
  for (auto& t : runners) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  long total = 0, busy = 0;
  int generations = 0;
  for (const Slot& s : slots) {
    EXPECT_EQ(s.failure, "");
    EXPECT_GE(s.generations, 1);
    total += s.requests;
    busy += s.busyRetries;
    generations += s.generations;
  }
  std::printf(
      "stress: %d threads, %d thread lives, %ld requests in %.1f s (%.0f/s), %ld busy "
      "retries\n",
      kThreads, generations, total, seconds, total / seconds, busy);
  EXPECT_EQ(server.Log().find("ThreadSanitizer"), std::string::npos) << server.Log();
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace zdb::test
