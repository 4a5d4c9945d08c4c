// An upload that the server resets part way: 2001 with the socket's error, and no SIGPIPE
// for a caller that keeps the signal's default action (which would end the process).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

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

bool SignalPending(int sig) {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, sig) == 1;
}

TEST(Upload, ResetAgainAndAgainEndsIn2001AndTheCallerLives) {
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
