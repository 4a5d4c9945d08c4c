// The calling thread's Session is remembered between calls; every way a Session can leave the
// registry must still be seen by the next call of its thread.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

class SessionLookup : public ::testing::Test {
 protected:
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }
};

uint32_t Version() {
  uint32_t v = 0;
  return ZDB_GetVersion(&v) == 1000 ? v : 0;
}

#if !defined(_WIN32)  // the thread id is remembered on POSIX only
TEST_F(SessionLookup, ThreadIdIsTheKernelsAndStaysPerThread) {
  const uint32_t mine = platform::CurrentThreadId();
  EXPECT_EQ(mine, static_cast<uint32_t>(::gettid()));
  EXPECT_EQ(platform::CurrentThreadId(), mine);
  uint32_t other = 0, otherKernel = 0;
  std::thread t([&] {
    other = platform::CurrentThreadId();
    otherKernel = static_cast<uint32_t>(::gettid());
  });
  t.join();
  EXPECT_EQ(other, otherKernel);
  EXPECT_NE(other, mine);
}
#endif

TEST_F(SessionLookup, ARemovedOrReplacedSessionIsNeverFoundAgain) {
  ScriptedPeer first, second;
  ASSERT_EQ(ZDB_SelHost(first.host().c_str()), 1000);
  ASSERT_NE(Version(), 0u);
  Session* before = FindSessionForThread();
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(before->port, first.port());

  // Removed: the next call has no Session, whatever the thread remembered.
  RemoveSessionForThread(platform::CurrentThreadId());
  EXPECT_EQ(FindSessionForThread(), nullptr);
  EXPECT_EQ(ZDB_GetVersion(nullptr), 2001);

  // A new Session (possibly at the old address) is the one found, and talks to its server.
  ASSERT_EQ(ZDB_SelHost(second.host().c_str()), 1000);
  ASSERT_NE(FindSessionForThread(), nullptr);
  EXPECT_EQ(FindSessionForThread()->port, second.port());
  const size_t firstRequests = first.requests().size();
  ASSERT_NE(Version(), 0u);
  EXPECT_EQ(first.requests().size(), firstRequests);
  EXPECT_EQ(second.opcodes(),
            (std::vector<uint32_t>{Opcode("Login"), Opcode("GetVersion"), Opcode("GetVersion")}));

  // Replaced by a second selection on the same thread.
  ASSERT_EQ(ZDB_SelHost(first.host().c_str()), 1000);
  EXPECT_EQ(FindSessionForThread()->port, first.port());
  EXPECT_EQ(second.opcodes().back(), Opcode("Logout"));  // the replaced Session logged out
  EXPECT_EQ(RegisteredSessionCount(), 1u);
}

TEST_F(SessionLookup, OtherThreadsChangingTheListLeaveThisThreadsSession) {
#ifdef _WIN32
  // Threads of this ring end without the loader's notice (it links the objects, not the DLL),
  // so their Sessions stay; dll_tests checks thread ends through DllMain itself.
  GTEST_SKIP() << "thread ends need DllMain: see dll_tests";
#endif
  ScriptedPeer mine, theirs;
  ASSERT_EQ(ZDB_SelHost(mine.host().c_str()), 1000);
  Session* s = FindSessionForThread();
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < 3; ++i) {
    std::thread t([&] {
      EXPECT_EQ(FindSessionForThread(), nullptr);
      ASSERT_EQ(ZDB_SelHost(theirs.host().c_str()), 1000);
      EXPECT_EQ(FindSessionForThread()->port, theirs.port());
    });
    t.join();
    EXPECT_EQ(FindSessionForThread(), s);
  }
  EXPECT_EQ(RegisteredSessionCount(), 1u);
}

TEST_F(SessionLookup, SessionRemovedByAnotherThreadOrByUnloadIsGoneForItsThread) {
#ifdef _WIN32
  // Threads of this ring end without the loader's notice (it links the objects, not the DLL),
  // so their Sessions stay; dll_tests checks thread ends through DllMain itself.
  GTEST_SKIP() << "thread ends need DllMain: see dll_tests";
#endif
  ScriptedPeer peer;
  ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000);
  ASSERT_NE(Version(), 0u);
  const uint32_t me = platform::CurrentThreadId();
  std::thread([me] { RemoveSessionForThread(me); }).join();
  EXPECT_EQ(ZDB_GetVersion(nullptr), 2001);

  // The unload takes the oldest Session, here this thread's, while another thread's stays.
  ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000);
  ASSERT_NE(Version(), 0u);
  std::atomic<int> stage{0};
  int32_t otherAfterUnload = 0;
  std::thread other([&] {
    ZDB_SelHost(peer.host().c_str());
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    uint32_t v = 0;
    otherAfterUnload = ZDB_GetVersion(&v);
  });
  while (stage != 1) std::this_thread::yield();
  OnProcessDetach();
  EXPECT_EQ(ZDB_GetVersion(nullptr), 2001);
  stage = 2;
  other.join();
  EXPECT_EQ(otherAfterUnload, 1000);
  EXPECT_EQ(RegisteredSessionCount(), 0u);  // the other thread's end removed its own
}

#if !defined(_WIN32)
TEST_F(SessionLookup, ChildOfAForkFindsNoSessionOfItsParentsThread) {
  ScriptedPeer peer;
  ASSERT_EQ(ZDB_SelHost(peer.host().c_str()), 1000);
  ASSERT_NE(FindSessionForThread(), nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child's thread has an id of its own; the parent's Session is not its Session.
    const bool ok = platform::CurrentThreadId() == static_cast<uint32_t>(::gettid()) &&
                    FindSessionForThread() == nullptr;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(FindSessionForThread(), nullptr);
}
#endif

TEST_F(SessionLookup, ManyThreadsSelectingAndEndingEachFindOnlyTheirOwn) {
#ifdef _WIN32
  // Threads of this ring end without the loader's notice (it links the objects, not the DLL),
  // so their Sessions stay; dll_tests checks thread ends through DllMain itself.
  GTEST_SKIP() << "thread ends need DllMain: see dll_tests";
#endif
  constexpr int kThreads = 16, kRounds = 20;
  std::vector<std::unique_ptr<ScriptedPeer>> peers;
  for (int i = 0; i < 4; ++i) peers.push_back(std::make_unique<ScriptedPeer>());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int r = 0; r < kRounds; ++r) {
        ScriptedPeer& p = *peers[(i + r) % peers.size()];
        if (ZDB_SelHost(p.host().c_str()) != 1000) {
          ++wrong;
          continue;
        }
        Session* s = FindSessionForThread();
        if (!s || s->port != p.port() || s->threadId != platform::CurrentThreadId()) ++wrong;
        if (r % 2) RemoveSessionForThread(platform::CurrentThreadId());
        if (r % 2 && FindSessionForThread() != nullptr) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(RegisteredSessionCount(), 0u);
}

}  // namespace
}  // namespace zdb
