// One Session per thread: selection, replacement, thread end and library unload.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/entry.h"
#include "platform/platform.h"
#include "session/registry.h"
#include "support/scripted_peer.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::ScriptedPeer;

class SessionThreads : public ::testing::Test {
 protected:
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }
};

// On Windows the loader reports a thread's end to the DLL only; a program that links the
// library's objects gets no report, so the threads here make it as DllMain would.
// tests/dll checks the loader's own notification through the DLL.
void ThreadEnds() {
#ifdef _WIN32
  OnThreadDetach();
#endif
}

// Counts the logouts a peer has seen.
size_t Logouts(const ScriptedPeer& peer) {
  size_t n = 0;
  for (uint32_t op : peer.opcodes()) n += op == Opcode("Logout");
  return n;
}

TEST_F(SessionThreads, EachThreadHasItsOwnSessionAndLosesItWhenItEnds) {
  ScriptedPeer mine, theirs;
  ASSERT_EQ(ZDB_SelHost(mine.host().c_str()), 1000);
  ASSERT_EQ(ZDB_Init("", ""), 1000);
  int32_t inThread[4] = {};
  char hostInThread[257] = {};
  std::thread t([&] {
    inThread[0] = ZDB_GetHost(hostInThread);  // no Session yet on this thread
    inThread[1] = ZDB_SelHost(("localhost:" + std::to_string(theirs.port())).c_str());
    inThread[2] = ZDB_Init("t", "t");
    inThread[3] = ZDB_GetHost(hostInThread);
    ThreadEnds();
  });
  t.join();
  EXPECT_EQ(inThread[0], 2001);
  EXPECT_EQ(inThread[1], 1000);
  EXPECT_EQ(inThread[2], 1000);
  EXPECT_EQ(inThread[3], 1000);
  EXPECT_STREQ(hostInThread, "localhost");
  // The thread's end logged its Session out and removed it; this thread's is untouched.
  EXPECT_EQ(theirs.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("Logout")}));
  EXPECT_EQ(RegisteredSessionCount(), 1u);
  char host[257];
  ASSERT_EQ(ZDB_GetHost(host), 1000);
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_EQ(mine.opcodes(), (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion")}));
}

TEST_F(SessionThreads, SecondSelectionReplacesTheFirstOnlyWhenItSucceeds) {
  ScriptedPeer first, second, silent;
  silent.SetUdpSilent(true);
  ASSERT_EQ(ZDB_SelHost(first.host().c_str()), 1000);
  ASSERT_EQ(ZDB_Init("", ""), 1000);
  EXPECT_EQ(ZDB_SelHost(silent.host().c_str()), 2601);  // after a 2-second wait
  EXPECT_EQ(Logouts(first), 0u);
  uint32_t version = 0;
  EXPECT_EQ(ZDB_GetVersion(&version), 1000);  // the first Session is still in use
  EXPECT_EQ(first.opcodes().back(), Opcode("GetVersion"));

  ASSERT_EQ(ZDB_SelHost(second.host().c_str()), 1000);
  EXPECT_EQ(Logouts(first), 1u);  // the replaced Session logged out
  EXPECT_EQ(RegisteredSessionCount(), 1u);
  EXPECT_EQ(ZDB_GetVersion(&version), 1000);
  EXPECT_EQ(second.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("GetVersion")}));
  EXPECT_EQ(silent.connections(), 0);
}

TEST_F(SessionThreads, LibraryUnloadDestroysOnlyTheOldestSession) {
  ScriptedPeer peers[3];
  std::mutex m;
  std::condition_variable cv;
  int ready = 0;
  bool release = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      ZDB_SelHost(peers[i].host().c_str());
      ZDB_Init("", "");
      std::unique_lock<std::mutex> lock(m);
      ++ready;
      cv.notify_all();
      cv.wait(lock, [&] { return release; });
      lock.unlock();
      ThreadEnds();
    });
    // Register in a known order: wait for each thread before starting the next.
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return ready == i + 1; });
  }
  ASSERT_EQ(RegisteredSessionCount(), 3u);
  OnProcessDetach();
  EXPECT_EQ(RegisteredSessionCount(), 2u);
  EXPECT_EQ(Logouts(peers[0]), 1u);
  EXPECT_EQ(Logouts(peers[1]), 0u);
  EXPECT_EQ(Logouts(peers[2]), 0u);
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  for (auto& t : threads) t.join();
  EXPECT_EQ(RegisteredSessionCount(), 0u);
  EXPECT_EQ(Logouts(peers[1]), 1u);
  EXPECT_EQ(Logouts(peers[2]), 1u);
}

}  // namespace
}  // namespace zdb
