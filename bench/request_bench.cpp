// What the library adds to a request: the library and a raw socket client send the same bytes
// to the same in-memory server on 127.0.0.1, in rounds that take turns. Prints one line per
// measure and case, tab-separated, for scripts/bench.sh:
//
//   measure  case  library-min  library-median  library-max  raw-min  raw-median  raw-max  unit
//
//   request_bench [rounds] [measure]   (default 7 rounds, every measure; about a minute)
//
// The figures that do not depend on the machine's load come from two more modes:
//
//   request_bench syscalls             system calls per request of the client thread alone
//   request_bench once CLIENT MODE N   N requests of one client (library|raw) in one mode
//                                      (persistent|default), for an instruction counter such
//                                      as callgrind --toggle-collect='*CountedRequests*'
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "session/registry.h"
#include "session/session.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "zdb_api.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace wire = zdb::wire;

constexpr uint32_t kHandle = 0x1234;  // what the bench server hands out at login
constexpr uint32_t kOpVersion = wire::Op("GetVersion").opcode;
// Any plain opcode: the server sends the frame back.
constexpr uint32_t kOpEcho = wire::Op("RebTable").opcode;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// ---- the raw client: exactly the bytes of the library's request, nothing else --------------

std::vector<uint8_t> Header(uint16_t options, uint32_t opcode, uint32_t slotBytes, int slots) {
  wire::FrameHeader h;
  h.kind = 1;
  h.connectionOptions = options;
  h.chars = {0x00, 0x20, 0x00};
  h.opcode = opcode;
  const uint32_t lengths[1] = {slotBytes};
  wire::LayoutSlots(h, lengths, slots);
  h.paramCount = static_cast<int8_t>(slots);
  h.sessionHandle = kHandle;
  h.status = wire::kStatusPreset;
  std::vector<uint8_t> out(wire::kHeaderSize);
  wire::EncodeHeader(h, out.data());
  return out;
}

// One request on an open connection: header and slot in one gathering send; the reply
// scattered by the same calls into a header buffer and straight into the caller's buffer.
bool RawExchange(int fd, const std::vector<uint8_t>& header, const uint8_t* out, uint8_t* in,
                 size_t n) {
  iovec v[2] = {{const_cast<uint8_t*>(header.data()), header.size()},
                {const_cast<uint8_t*>(out), n}};
  msghdr m{};
  m.msg_iov = v;
  m.msg_iovlen = n > 0 ? 2 : 1;
  const size_t total = header.size() + n;
  // A blocking socket takes it all at once unless a signal cuts in, which this program has none.
  if (::sendmsg(fd, &m, MSG_NOSIGNAL) != static_cast<ssize_t>(total)) return false;
  uint8_t replyHeader[wire::kHeaderSize];
  v[0] = {replyHeader, sizeof replyHeader};
  v[1] = {in, n};
  for (size_t got = 0; got < total;) {
    const ssize_t r = ::recvmsg(fd, &m, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
    for (auto left = static_cast<size_t>(r); left > 0;) {  // step over what arrived
      const size_t k = std::min(left, m.msg_iov->iov_len);
      m.msg_iov->iov_base = static_cast<uint8_t*>(m.msg_iov->iov_base) + k;
      m.msg_iov->iov_len -= k;
      left -= k;
      if (m.msg_iov->iov_len == 0 && m.msg_iovlen > 1) {
        ++m.msg_iov;
        --m.msg_iovlen;
      }
    }
  }
  return wire::GetI32(replyHeader + wire::kOffStatus) == 1000;
}

// ---- the library, as a program uses it -----------------------------------------------------

// Gives the calling thread a Session for the bench server, logged in, in the given mode.
bool LibrarySession(uint16_t port, bool persistent) {
  auto s = std::make_unique<zdb::Session>();
  s->hostName = "127.0.0.1";
  s->port = port;
  s->serverAddress = {0x7F000001u, port};
  zdb::RegisterSession(std::move(s));
  return (!persistent || ZDB_Connection(1) == 1000) && ZDB_Init("", "") == 1000;
}

void EndLibrarySession() {
  zdb::RemoveSessionForThread(zdb::platform::CurrentThreadId());
}

// One request carrying n bytes through the Session's exchange: what every exported call
// does (find the thread's Session, prepare, set the slot, exchange).
bool LibraryEcho(uint8_t* buffer, size_t n) {
  zdb::Session* s = zdb::FindSessionForThread();
  zdb::Request echo(wire::kPlain, kOpEcho, 1);
  if (!s || s->PrepareRequest(echo) != zdb::kOk) return false;
  // The slot is sent from and received into one buffer, as the library's calls do.
  echo.SetSlot(0, static_cast<uint32_t>(n), buffer);
  return s->Exchange(echo) == zdb::kOk && s->lastResult == 1000;
}

// ---- measurement ---------------------------------------------------------------------------

struct Series {
  std::vector<double> library, raw;
};

void Print(const char* measure, const std::string& label, const Series& s, const char* unit) {
  bench::PrintRow(measure, label, bench::Spread(s.library), bench::Spread(s.raw), unit,
                  bench::MedianOfRatios(s.library, s.raw));
}

// Runs both `rounds` times, taking turns and swapping who goes first each round. Each run
// returns its figure, or a negative number on failure (which ends the benchmark).
Series Interleaved(int rounds, const std::function<double()>& library,
                   const std::function<double()>& raw) {
  Series s;
  for (int i = 0; i < rounds; ++i) {
    for (int k = 0; k < 2; ++k) {
      const bool lib = (k == 0) == (i % 2 == 0);
      const double v = lib ? library() : raw();
      if (v < 0) {
        std::fprintf(stderr, "request_bench: a %s run failed\n", lib ? "library" : "raw");
        std::exit(1);
      }
      (lib ? s.library : s.raw).push_back(v);
    }
  }
  return s;
}

// Microseconds per version request over n requests on a held connection.
double LibraryPersistent(int n) {
  uint32_t version = 0;
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i)
    if (ZDB_GetVersion(&version) != 1000) return -1;
  return Seconds(t0) * 1e6 / n;
}

// Microseconds per echo request carrying `bytes` each way, on a held connection.
double LibraryPayload(int n, size_t bytes) {
  std::vector<uint8_t> buffer(bytes, 0x5A);
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i)
    if (!LibraryEcho(buffer.data(), bytes)) return -1;
  return Seconds(t0) * 1e6 / n;
}

// The raw client's counterpart of both: the version request carries its 4-byte word.
double RawPersistent(int fd, int n, uint32_t opcode, size_t bytes) {
  const auto header = Header(0x10, opcode, static_cast<uint32_t>(bytes), 1);
  std::vector<uint8_t> out(bytes, 0x5A), in(bytes);
  if (opcode == kOpVersion) std::fill(out.begin(), out.end(), 0);
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i)
    if (!RawExchange(fd, header, out.data(), in.data(), bytes)) return -1;
  return Seconds(t0) * 1e6 / n;
}

double LibraryDefault(int n) {
  uint32_t version = 0;
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i)
    if (ZDB_GetVersion(&version) != 1000) return -1;
  return Seconds(t0) * 1e6 / n;
}

double RawDefault(uint16_t port, int n) {
  const auto header = Header(3, kOpVersion, 4, 1);
  uint8_t out[4] = {}, in[4];
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    const int fd = bench::ConnectLoopback(port);  // with TCP_NODELAY, as the library's
    if (fd < 0) return -1;
    const bool ok = RawExchange(fd, header, out, in, 4);
    ::close(fd);
    if (!ok) return -1;
  }
  return Seconds(t0) * 1e6 / n;
}

// Requests per second of `threads` threads, each with its own session on a held connection,
// all started together and stopped after `seconds`.
double Threads(uint16_t port, int threads, double seconds, bool library) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false}, stop{false}, failed{false};
  std::atomic<long> total{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      int fd = -1;
      if (library ? !LibrarySession(port, true) : (fd = bench::ConnectLoopback(port)) < 0)
        failed = true;
      const auto header = Header(0x10, kOpVersion, 4, 1);
      uint8_t out[4] = {}, in[4];
      uint32_t version = 0;
      ++ready;
      while (!go) std::this_thread::yield();
      long n = 0;
      while (!failed && !stop) {
        const bool ok = library ? ZDB_GetVersion(&version) == 1000
                                : RawExchange(fd, header, out, in, sizeof out);
        if (!ok) failed = true;
        ++n;
      }
      total += n;
      if (library) EndLibrarySession();
      if (fd >= 0) ::close(fd);
    });
  }
  while (ready < threads) std::this_thread::yield();
  const auto t0 = Clock::now();
  go = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : pool) t.join();
  const double elapsed = Seconds(t0);
  return failed ? -1 : static_cast<double>(total.load()) / elapsed;
}

// ---- counted, not timed ----------------------------------------------------------------------

// N requests of one client in one mode, and nothing else: the function an instruction counter
// is told to collect in. Kept out of line so that its name survives optimisation.
[[gnu::noinline]] bool CountedRequests(bool library, bool persistent, uint16_t port, int fd,
                                       int n) {
  if (library) return (persistent ? LibraryPersistent(n) : LibraryDefault(n)) >= 0;
  return (persistent ? RawPersistent(fd, n, kOpVersion, 4) : RawDefault(port, n)) >= 0;
}

// Prints "syscalls  MODE  library  library  library  raw  raw  raw  per request" per mode.
int CountSyscalls(uint16_t port) {
  bench::SyscallCounter counter;
  if (!counter.ok()) {
    std::fprintf(stderr, "request_bench: no system call counter here\n");
    return 1;
  }
  constexpr int kN = 1000;
  for (bool persistent : {true, false}) {
    if (!LibrarySession(port, persistent)) return 1;
    const int fd = persistent ? bench::ConnectLoopback(port) : -1;
    CountedRequests(true, persistent, port, fd, 100);  // warm both up
    CountedRequests(false, persistent, port, fd, 100);
    const long lib = counter.Count([&] { return CountedRequests(true, persistent, port, fd, kN); });
    const long raw =
        counter.Count([&] { return CountedRequests(false, persistent, port, fd, kN); });
    if (fd >= 0) ::close(fd);
    EndLibrarySession();
    if (lib < 0 || raw < 0) return 1;
    const double l = static_cast<double>(lib) / kN, r = static_cast<double>(raw) / kN;
    std::printf("syscalls\t%s\t%.4g\t%.4g\t%.4g\t%.4g\t%.4g\t%.4g\tper request\n",
                persistent ? "persistent" : "default", l, l, l, r, r, r);
  }
  return 0;
}

// Runs one client's N requests once, warmed up outside CountedRequests.
int RunOnce(uint16_t port, const std::string& client, const std::string& mode, int n) {
  const bool library = client == "library", persistent = mode == "persistent";
  if (library && !LibrarySession(port, persistent)) return 1;
  const int fd = persistent && !library ? bench::ConnectLoopback(port) : -1;
  if (library) {
    persistent ? LibraryPersistent(100) : LibraryDefault(100);
  } else {
    persistent ? RawPersistent(fd, 100, kOpVersion, 4) : RawDefault(port, 100);
  }
  const bool ok = CountedRequests(library, persistent, port, fd, n);
  if (fd >= 0) ::close(fd);
  if (library) EndLibrarySession();
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "syscalls" || std::string(argv[1]) == "once")) {
    bench::Workload none;
    none.records = 0;
    none.fileBytes = 0;
    bench::BenchServer server(none);
    if (std::string(argv[1]) == "syscalls") return CountSyscalls(server.port());
    if (argc < 5) return 2;
    return RunOnce(server.port(), argv[2], argv[3], std::max(1, std::atoi(argv[4])));
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string only = argc > 2 ? argv[2] : "";
  auto wanted = [&](const char* measure) { return only.empty() || only == measure; };
  bench::Workload work;
  work.records = 0;
  work.fileBytes = 0;
  bench::BenchServer server(work);
  const uint16_t port = server.port();

  // One request, held connection: the version request (165 bytes each way). Many short rounds,
  // so that both clients meet the same moments of a machine shared with other work.
  //
  // Each round runs on new connections of both clients (opened outside the timing): a held
  // connection's client and server threads keep whatever places the scheduler gave them, and
  // one pair's places can be a few percent faster than another's for as long as it lives.
  // The control row runs the raw client against itself the same way: what it shows beyond 1
  // is the measure's own spread.
  if (wanted("persistent")) {
    int fdA = -1, fdB = -1;
    auto fresh = [&](int& fd) {
      if (fd >= 0) ::close(fd);
      fd = bench::ConnectLoopback(port);
      return fd >= 0 && RawPersistent(fd, 200, kOpVersion, 4) >= 0;
    };
    auto library = [&] {
      EndLibrarySession();
      if (!LibrarySession(port, true) || LibraryPersistent(200) < 0) return -1.0;
      return LibraryPersistent(10000);
    };
    auto raw = [&](int& fd) { return fresh(fd) ? RawPersistent(fd, 10000, kOpVersion, 4) : -1.0; };
    if (!LibrarySession(port, true)) return 1;
    LibraryPersistent(2000);  // warm both up
    raw(fdA);
    Print("persistent", "version request",
          Interleaved(5 * rounds, library, [&] { return raw(fdA); }), "us");
    Print("persistent-control", "raw against raw",
          Interleaved(
              5 * rounds, [&] { return raw(fdA); }, [&] { return raw(fdB); }),
          "us");
    ::close(fdA);
    ::close(fdB);
    EndLibrarySession();
  }

  if (wanted("payload")) {
    // Latency against the size of the request's payload (the reply carries as many bytes).
    // Every round on new connections of both clients, as for the held-connection measure.
    int fd = -1;
    for (size_t bytes : {size_t{0}, size_t{64}, size_t{1024}, size_t{4096}, size_t{16384},
                         size_t{65536}, size_t{262144}, size_t{1048576}}) {
      const int n = bytes <= 4096 ? 4000 : (bytes <= 65536 ? 1000 : 150);
      auto library = [&] {
        EndLibrarySession();
        if (!LibrarySession(port, true) || LibraryPayload(n / 10, bytes) < 0) return -1.0;
        return LibraryPayload(n, bytes);
      };
      auto raw = [&] {
        if (fd >= 0) ::close(fd);
        fd = bench::ConnectLoopback(port);
        if (fd < 0 || RawPersistent(fd, n / 10, kOpEcho, bytes) < 0) return -1.0;
        return RawPersistent(fd, n, kOpEcho, bytes);
      };
      Print("payload", std::to_string(bytes), Interleaved(rounds, library, raw), "us");
    }
    ::close(fd);
    EndLibrarySession();
  }

  // One request, a connection of its own (the default mode).
  if (wanted("default")) {
    if (!LibrarySession(port, false)) return 1;
    // Every request leaves a client port in TIME_WAIT for a minute; well below the ~28,000
    // ephemeral ports, connect does not slow down hunting for a free one.
    // Many short rounds rather than a few long ones, for the same reason as the held
    // connection: the median of many meets fewer of the machine's other moments.
    LibraryDefault(200);
    RawDefault(port, 200);
    Print(
        "default", "version request",
        Interleaved(
            4 * rounds, [&] { return LibraryDefault(250); }, [&] { return RawDefault(port, 250); }),
        "us");
    EndLibrarySession();
  }

  // Requests per second against the number of threads.
  // The connections of the runs before have ended on the server too.
  while (server.active() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (int threads : {1, 2, 4, 8, 16, 32, 64}) {
    if (!wanted("threads")) break;
    Print("threads", std::to_string(threads),
          Interleaved(
              2 * rounds, [&] { return Threads(port, threads, 0.2, true); },
              [&] { return Threads(port, threads, 0.2, false); }),
          "req/s");
  }
  return 0;
}
