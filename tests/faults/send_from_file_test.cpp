// Uploads that the kernel sends straight from the file: the bytes from the file's position on,
// fewer only where the file ends, and no SIGPIPE for a caller whose peer is gone, whatever the
// caller's own signal state was.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "session/registry.h"
#include "session/session.h"
#include "support/fault_checks.h"
#include "support/raw_peer.h"
#include "support/stream_helpers.h"
#include "wire/file_block.h"
#include "zdb_api.h"

namespace zdb {
namespace {

using test::Bytes;
using test::RawPeer;

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  return b;
}

platform::Socket ConnectTo(uint16_t port) {
  platform::Socket s = platform::OpenTcp();
  if (s != platform::kNoSocket && !platform::Connect(s, {0x7F000001u, port})) {
    platform::CloseSocket(s);
    return platform::kNoSocket;
  }
  return s;
}

// Waits (up to 5 s) until the peer has served its connection: the peer's listening socket is
// shut when it goes, and a peer that had not accepted yet would serve nothing.
void WaitFor(const std::atomic<bool>& done) {
  for (int i = 0; i < 5000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool SignalPending(int sig) {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, sig) == 1;
}

bool SignalBlocked(int sig) {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, sig) == 1;
}

TEST(SendFromFile, SendsFromThePositionAndStopsWhereTheFileEnds) {
  test::ScratchDir dir;
  const std::string path = dir.Path("up.bin");
  const Bytes content = Pattern(700 * 1024 + 13);  // more than the socket buffers take at once
  test::WriteLocalFile(path, content);
  Bytes received;
  std::atomic<bool> served{false};
  {
    RawPeer peer([&](int fd) {
      uint8_t b[65536];
      for (ssize_t r; (r = ::recv(fd, b, sizeof b, 0)) > 0;)
        received.insert(received.end(), b, b + r);
      ::close(fd);
      served = true;
    });
    platform::Socket s = ConnectTo(peer.port());
    ASSERT_NE(s, platform::kNoSocket);
    platform::File file;
    ASSERT_TRUE(file.OpenRead(path.c_str()));
    uint8_t skipped[1000];
    ASSERT_EQ(file.Read(skipped, sizeof skipped), 1000);
    // Asked for more than is left: what is left, and no more.
    EXPECT_EQ(platform::SendFromFile(s, file, content.size()),
              static_cast<long>(content.size() - 1000));
    EXPECT_EQ(platform::SendFromFile(s, file, 10), 0);
    platform::CloseSocket(s);
    WaitFor(served);
  }
  EXPECT_TRUE(served);
  EXPECT_EQ(received, Bytes(content.begin() + 1000, content.end()));

  // A file the kernel cannot send from leaves the copying to the caller, before any byte went.
  served = false;
  RawPeer peer([&](int fd) {
    uint8_t b[16];
    EXPECT_EQ(::recv(fd, b, sizeof b, 0), 0);
    ::close(fd);
    served = true;
  });
  platform::Socket s = ConnectTo(peer.port());
  platform::File directory;
  ASSERT_TRUE(directory.OpenRead(dir.Path("").c_str()));
  EXPECT_EQ(platform::SendFromFile(s, directory, 100), platform::kCopyYourself);
  platform::CloseSocket(s);
  WaitFor(served);
  EXPECT_TRUE(served);
}

TEST(SendFromFile, APeerThatIsGoneRaisesNoSignalAndLeavesTheCallersOwnAlone) {
  // The default action of SIGPIPE ends the process: a raised one would end this test.
  std::signal(SIGPIPE, SIG_DFL);
  test::ScratchDir dir;
  const std::string path = dir.Path("up.bin");
  test::WriteLocalFile(path, Pattern(4096));
  RawPeer peer([](int fd) {
    uint8_t b[16];
    while (::recv(fd, b, sizeof b, 0) > 0) {
    }
    ::close(fd);
  });
  platform::Socket s = ConnectTo(peer.port());
  ASSERT_NE(s, platform::kNoSocket);
  // Sending after our own end of sending is shut is the one sure way to EPIPE.
  ASSERT_EQ(::shutdown(static_cast<int>(s), SHUT_WR), 0);
  platform::File file;
  ASSERT_TRUE(file.OpenRead(path.c_str()));

  ASSERT_FALSE(SignalPending(SIGPIPE));
  EXPECT_EQ(platform::SendFromFile(s, file, 4096), -1);
  EXPECT_EQ(platform::LastSocketError(), EPIPE);
  EXPECT_FALSE(SignalPending(SIGPIPE));  // the one the call raised was taken back
  EXPECT_FALSE(SignalBlocked(SIGPIPE));  // and the thread's mask is as it was

  // A caller that blocks SIGPIPE and already has one pending keeps both.
  sigset_t pipe, before;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &pipe, &before), 0);
  ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
  ASSERT_TRUE(SignalPending(SIGPIPE));
  EXPECT_EQ(platform::SendFromFile(s, file, 4096), -1);
  EXPECT_EQ(platform::LastSocketError(), EPIPE);
  EXPECT_TRUE(SignalPending(SIGPIPE));
  EXPECT_TRUE(SignalBlocked(SIGPIPE));
  const timespec now{0, 0};
  EXPECT_EQ(sigtimedwait(&pipe, nullptr, &now), SIGPIPE);
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &before, nullptr), 0);
  platform::CloseSocket(s);
}

TEST(SendFromFile, AnUploadResetAgainAndAgainEndsIn2001AndTheCallerLives) {
  std::signal(SIGPIPE, SIG_DFL);
  test::ScratchDir dir;
  const std::string upload = dir.Path("big.bin"), answer = dir.Path("answer.bin");
  test::WriteLocalFile(upload, Bytes(16 << 20, 'u'));
  const int fds = test::OpenFdCount();
  // The reset lands at a different point of the upload each time: before the file, at its
  // start, and some way into it.
  for (size_t readFirst : {size_t{0}, size_t{64}, size_t{1} << 20, size_t{5} << 20}) {
    SCOPED_TRACE(readFirst);
    RawPeer peer([readFirst](int fd) {
      Bytes frame;
      if (!RawPeer::ReadFrame(fd, &frame)) return;
      Bytes part(readFirst);
      if (readFirst > 0 && !RawPeer::ReadExact(fd, part.data(), part.size())) return;
      RawPeer::Reset(fd);
    });
    auto s = std::make_unique<Session>();
    s->hostName = "127.0.0.1";
    s->serverAddress = {0x7F000001u, peer.port()};
    s->sessionHandle = 0x1234;
    RegisterSession(std::move(s));
    EXPECT_EQ(Z_ImportDB("db", "", upload.c_str(), answer.c_str()), 2001);
    char error[64] = {};
    const int32_t e = ZDB_TCPError(error);
    EXPECT_TRUE(e == ECONNRESET || e == EPIPE) << e;
    EXPECT_FALSE(SignalPending(SIGPIPE));
    FindSessionForThread()->sessionHandle = wire::kNoSession;  // no logout to a gone peer
    RemoveSessionForThread(platform::CurrentThreadId());
  }
  EXPECT_EQ(test::SettledFdCount(fds), fds);
}

}  // namespace
}  // namespace zdb
