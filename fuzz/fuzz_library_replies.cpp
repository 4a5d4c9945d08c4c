// The library's reply handling through its exported calls, against an in-process fake server
// on 127.0.0.1 that answers each request with bytes taken from the input: full replies, status
// words, file streams, record streams, field definitions with the values behind them, logins.
//
// Input: one byte choosing the call, then one answer per request the call makes: a mode byte
// (even: the bytes as they are; odd: laid over the request's own frame from byte 153 on, so that
// a reply of the right length is easy to reach), a 16-bit little-endian length, the bytes.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "session/registry.h"
#include "session/session.h"
#include "wire/field_def.h"
#include "wire/file_block.h"
#include "wire/le.h"
#include "zdb_api.h"

// Allocation failures must come back as 2004, not end the run.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}

namespace {

using Bytes = std::vector<uint8_t>;

struct Place {
  std::string dir;
  int listenFd = -1;
  uint16_t port = 0;
};

const Place& ThePlace() {
  static Place* place = [] {
    auto* p = new Place;
    char pattern[] = "/tmp/zdb_fuzz_lib_XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    p->dir = pattern;
    ::setenv("TMPDIR", pattern, 1);  // the script run's temporary files go here
    p->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(p->listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(p->listenFd, 16) != 0 ||
        ::getsockname(p->listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      std::abort();
    p->port = ntohs(a.sin_port);
    return p;
  }();
  return *place;
}

bool ReadExact(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Serves connections until told to stop; each gets the next answer of the input.
class FakeServer {
 public:
  FakeServer(const uint8_t* data, size_t size) : data_(data), size_(size) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Loop() {
    const int listenFd = ThePlace().listenFd;
    while (!stop_) {
      pollfd p{listenFd, POLLIN, 0};
      if (::poll(&p, 1, 1) <= 0) continue;
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Answer(fd);
      ::close(fd);
    }
  }

  void Answer(int fd) {
    Bytes frame(161);
    if (!ReadExact(fd, frame.data(), frame.size())) return;
    const uint32_t total = zdb::wire::GetU32(&frame[149]);
    if (total < 161 || total > (1u << 24)) return;
    frame.resize(total);
    if (!ReadExact(fd, frame.data() + 161, total - 161)) return;
    if (frame[10] & 0x40) {  // an upload comes first
      uint8_t head[zdb::wire::kFileBlockHeaderSize];
      if (!ReadExact(fd, head, sizeof head)) return;
      Bytes body(static_cast<size_t>(std::max(0, zdb::wire::DecodeFileBlockLength(head))));
      if (!ReadExact(fd, body.data(), body.size())) return;
    }
    if (at_ + 3 > size_) return;
    const uint8_t mode = data_[at_];
    size_t n = zdb::wire::GetU16(data_ + at_ + 1);
    at_ += 3;
    if (n > size_ - at_) n = size_ - at_;
    Bytes answer(data_ + at_, data_ + at_ + n);
    at_ += n;
    if (mode & 1) {
      Bytes over = frame;
      for (size_t i = 0; i < answer.size() && 153 + i < over.size(); ++i) over[153 + i] = answer[i];
      answer = over;
    }
    const uint32_t opcode = zdb::wire::GetU32(&frame[16]);
    if (opcode == zdb::wire::Op("InfoFields").opcode && answer.size() >= 161 + 12900 + 2) {
      // Definitions keep widths below 64 KiB: the run is about reading replies, not about
      // allocating what a server asks for.
      const size_t list = answer.size() - 12900;
      for (size_t i = 0; i < zdb::wire::kMaxFields; ++i) {
        answer[list + i * zdb::wire::kFieldDefSize + 37] = 0;
        answer[list + i * zdb::wire::kFieldDefSize + 38] = 0;
      }
    }
    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

constexpr uint8_t kGuard = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Place& place = ThePlace();
  const uint8_t call = data[0] % 6;
  auto owned = std::make_unique<zdb::Session>();
  owned->hostName = "127.0.0.1";
  owned->serverAddress = {0x7F000001u, place.port};
  if (call != 5) owned->sessionHandle = 0x1234;  // logged in, except for the login itself
  zdb::Session* session = owned.get();
  zdb::RegisterSession(std::move(owned));
  {
    FakeServer server(data + 1, size - 1);
    const std::string down = place.dir + "/down.bin";
    switch (call) {
      case 0: {
        uint8_t value[20 + 16];
        std::memset(value, kGuard, sizeof value);
        char name[] = "NOTE";
        ZDB_GetField(name, value, 20);
        for (size_t i = 20; i < sizeof value; ++i)
          if (value[i] != kGuard) __builtin_trap();
        break;
      }
      case 1:
        ZDB_PutField("NOTE", "abc", 4);
        break;
      case 2:
        Z_ExportDB("sales", "full", down.c_str());
        break;
      case 3:
        ZDB_SqlRun("#select &1", down.c_str(), "&1=x", 0);
        break;
      case 4: {
        std::vector<char*> values(zdb::wire::kMaxFields, nullptr);
        ZDB_MatGetFields("*", values.data());
        for (char* v : values) std::free(v);
        break;
      }
      case 5: {
        ZDB_Init("user", "pw");
        uint32_t version = 0;
        ZDB_GetVersion(&version);
        break;
      }
    }
  }
  session->sessionHandle = zdb::wire::kNoSession;  // no logout to a server that is gone
  zdb::RemoveSessionForThread(zdb::platform::CurrentThreadId());
  // A script run leaves no temporary file, whatever the server did.
  if (DIR* d = ::opendir(place.dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::strncmp(e->d_name, "scr", 3) == 0 || std::strncmp(e->d_name, "con", 3) == 0)
        __builtin_trap();
    ::closedir(d);
  }
  return 0;
}
