// zdbd's frame reader and dispatcher, as a connection sees them: the input is what a client
// sends on one connection (frames, uploads, anything), written into a socket pair whose other
// end zdbd serves exactly as it serves an accepted connection. One session lives across
// inputs; frames whose handle byte 153 is even are sent with its handle, so the fuzzer reaches
// the handlers behind a login as well as the refusals of unknown handles.
#include <sys/socket.h>
#include <unistd.h>
#include <limits>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "conn.h"
#include "dispatch.h"
#include "state.h"
#include "wire/le.h"

namespace {

zdbd::Server& TheServer() {
  static zdbd::Server* server = [] {
    auto* s = new zdbd::Server;
    char pattern[] = "/tmp/zdbd_fuzz_XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) std::abort();
    s->options.dataDir = dir;
    s->options.maxFrame = 1u << 16;
    s->options.maxFile = 1u << 16;
    if (!s->data.Open(s->options.dataDir) || !s->users.Open(s->options.dataDir + "/_system.sqlite"))
      std::abort();
    return s;
  }();
  return *server;
}

// Gives every frame found by walking the headers' totals the live handle, unless the fuzzer
// chose otherwise.
void PatchHandles(std::vector<uint8_t>& in, uint32_t handle) {
  size_t at = 0;
  while (in.size() - at >= zdb::wire::kHeaderSize) {
    if ((in[at + 153] & 1) == 0) zdb::wire::PutU32(&in[at + 153], handle);
    const uint32_t total = zdb::wire::GetU32(&in[at + 149]);
    if (total < zdb::wire::kHeaderSize) break;
    at += total;
    if (at > in.size()) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zdbd::Server& server = TheServer();
  auto session = server.sessions.Create("", true, std::numeric_limits<size_t>::max());
  std::vector<uint8_t> in(data, data + size);
  PatchHandles(in, session->handle);

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  // The client side: writes the input, then reads whatever comes back until zdbd closes.
  std::thread client([fd = fds[1], &in] {
    size_t sent = 0;
    while (sent < in.size()) {
      const ssize_t r = ::send(fd, in.data() + sent, in.size() - sent, MSG_NOSIGNAL);
      if (r <= 0) break;
      sent += static_cast<size_t>(r);
    }
    ::shutdown(fd, SHUT_WR);
    uint8_t sink[4096];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
    ::close(fd);
  });
  {
    zdbd::Conn conn(fds[0]);
    conn.SetFrameTimeout(50);
    for (;;) {
      zdbd::Request req;
      zdbd::FrameVerdict verdict = zdbd::FrameVerdict::kOk;
      const auto r = zdbd::ReadRequest(conn, server.options.maxFrame, 50, &req, &verdict);
      if (r != zdbd::ReadResult::kFrame) break;
      if (!zdbd::Dispatch(server, conn, req)) break;
    }
  }  // closes zdbd's end, so the client's reads end
  client.join();
  // Every session of this input ends, so that state does not pile up between inputs.
  for (auto& s : server.sessions.TakeAll()) server.EndSession(s, "fuzz input done");
  return 0;
}
