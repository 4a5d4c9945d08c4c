// The library as applications load it: its entry (DllMain on Windows, the constructor,
// destructor and thread key elsewhere) starts the socket layer, logs out the Session of a
// thread that ends while logged in, and at unload logs out the oldest Session only.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/scripted_peer.h"
#include "support/test_platform.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using SelHostFn = int32_t(ZDB_CALL*)(const char*);
using InitFn = int32_t(ZDB_CALL*)(const char*, const char*);
using NoArgFn = int32_t(ZDB_CALL*)();
using VersionFn = int32_t(ZDB_CALL*)(uint32_t*);

// Allocations of the thread that holds one are not reported as leaks (sanitizer builds).
struct LeakCheckOff {
#if defined(__SANITIZE_ADDRESS__)
  LeakCheckOff() {
    __lsan_disable();
  }
  ~LeakCheckOff() {
    __lsan_enable();
  }
#endif
};

struct Api {
  SelHostFn selHost;
  InitFn init;
  NoArgFn finish;
  VersionFn getVersion;
  int32_t Version() const {
    uint32_t v = 0;
    return getVersion(&v);
  }
};

Api Bind(const LoadedLibrary& lib) {
  return Api{reinterpret_cast<SelHostFn>(lib.Symbol("ZDB_SelHost")),
             reinterpret_cast<InitFn>(lib.Symbol("ZDB_Init")),
             reinterpret_cast<NoArgFn>(lib.Symbol("ZDB_Finish")),
             reinterpret_cast<VersionFn>(lib.Symbol("ZDB_GetVersion"))};
}

// A peer that hands every login a handle of its own, so each logout names its Session.
class CountingPeer : public ScriptedPeer {
 public:
  CountingPeer() {
    SetServeOnAcceptThread(true);
    OnOpcode(Opcode("Login"), [this](const Request& req, PeerConnection& c) {
      return c.ReplyFull(req, 1000, 0x100 + next_++);
    });
  }
  // The session handles of the logouts received so far, in order.
  std::vector<uint32_t> Logouts() const {
    std::vector<uint32_t> handles;
    for (const auto& r : requests())
      if (r.header.opcode == Opcode("Logout")) handles.push_back(r.header.sessionHandle);
    return handles;
  }
  bool WaitForLogouts(size_t n) const {
    for (int i = 0; i < 400 && Logouts().size() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Logouts().size() >= n;
  }

 private:
  std::atomic<uint32_t> next_{0};
};

TEST(LibraryLifecycle, ThreadEndsAndUnloadLogOutTheirSessions) {
  CountingPeer peer;
  const std::string host = peer.host();
  {
    LoadedLibrary lib(ZDB_TEST_LIBRARY);
    ASSERT_TRUE(lib.loaded()) << ZDB_TEST_LIBRARY;
    const Api api = Bind(lib);
    ASSERT_TRUE(api.selHost && api.init && api.finish && api.getVersion);

    // The oldest Session: this thread's, handle 0x100.
    ASSERT_EQ(api.selHost(host.c_str()), 1000);
    ASSERT_EQ(api.init("", ""), 1000);

    // Two threads log in (0x101, 0x102); one logs out itself, the other just ends.
    int32_t r[4] = {};
    std::thread polite([&] {
      r[0] = api.selHost(host.c_str());
      r[1] = api.init("", "");
      r[2] = api.finish();
    });
    polite.join();
    std::thread rude([&] { r[3] = api.selHost(host.c_str()) == 1000 ? api.init("", "") : -1; });
    rude.join();
    EXPECT_EQ(r[0], 1000);
    EXPECT_EQ(r[1], 1000);
    EXPECT_EQ(r[2], 1000);
    EXPECT_EQ(r[3], 1000);
    ASSERT_TRUE(peer.WaitForLogouts(2));
    EXPECT_EQ(peer.Logouts(), (std::vector<uint32_t>{0x101, 0x102}));
    EXPECT_EQ(api.Version(), 1000);  // this thread's Session is untouched

    // A Session newer than this thread's stays registered while its thread lives; the unload
    // logs out the oldest Session only.
    std::atomic<bool> release{false};
    std::atomic<int32_t> lingering{0};
    std::thread waiter([&] {
      // What the unload must leave behind (the list entry of this newer Session) is lost with
      // the unloaded library by design; the leak checker is told so for this thread alone.
      [[maybe_unused]] LeakCheckOff off;
      lingering = api.selHost(host.c_str()) == 1000 ? api.init("", "") : -1;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (lingering == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(lingering.load(), 1000);  // handle 0x103
    EXPECT_TRUE(lib.Unload());
    ASSERT_TRUE(peer.WaitForLogouts(3));
    release = true;
    waiter.join();  // its thread end no longer reaches the unloaded library
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(peer.Logouts(), (std::vector<uint32_t>{0x101, 0x102, 0x100}));
  }

  // Loaded again, the library starts afresh: the socket layer works, no Session is left.
  LoadedLibrary again(ZDB_TEST_LIBRARY);
  ASSERT_TRUE(again.loaded());
  const Api api = Bind(again);
  EXPECT_EQ(api.Version(), 2001);
  ASSERT_EQ(api.selHost(host.c_str()), 1000);
  ASSERT_EQ(api.init("", ""), 1000);
  EXPECT_EQ(api.finish(), 1000);
  EXPECT_TRUE(again.Unload());
  EXPECT_EQ(peer.Logouts().size(), 4u);
}

}  // namespace
}  // namespace zdb::test
