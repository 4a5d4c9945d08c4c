// Stream throughput of the library against raw socket clients, side by side against the same
// loopback server in one run: a record stream of short records (script run), files downloaded
// (export) and uploaded (import) at several sizes, and the process's memory while a gigabyte
// moves each way. Prints tab-separated lines for scripts/bench.sh:
//
//   measure  case  library-min  library-median  library-max  raw-min  raw-median  raw-max  unit
//   rss  stream  seconds  KiB
//
//   stream_bench [rounds] [records|export|import|sizes|rss|syscalls]   (default 7 rounds,
//                everything but syscalls: the system calls of one run of each client)
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_server.h"
#include "session/registry.h"
#include "session/session.h"
#include "wire/catalogue.h"
#include "wire/file_block.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace {

using Clock = std::chrono::steady_clock;
namespace wire = zdb::wire;

// ---- the raw client: what a program would write against the socket directly --------------

// A request frame as the library builds it, from texts and one 32-bit value.
std::vector<uint8_t> Frame(uint16_t kindFlags, uint32_t opcode,
                           const std::vector<std::string>& texts, bool withValue) {
  std::vector<uint32_t> lengths;
  std::vector<uint8_t> data;
  for (const auto& t : texts) {
    lengths.push_back(static_cast<uint32_t>(t.size() + 1));
    data.insert(data.end(), t.begin(), t.end());
    data.push_back(0);
  }
  if (withValue) {
    lengths.push_back(4);
    data.insert(data.end(), 4, 0);
  }
  wire::FrameHeader h;
  h.kind = static_cast<uint8_t>(kindFlags & 0xFF);
  h.flags = static_cast<uint8_t>(kindFlags >> 8);
  h.connectionOptions = 3;
  h.chars = {0x00, 0x20, 0x00};
  h.opcode = opcode;
  wire::LayoutSlots(h, lengths.data(), static_cast<int>(lengths.size()));
  h.paramCount = static_cast<int8_t>(lengths.size());
  h.sessionHandle = 0x1234;
  h.status = wire::kStatusPreset;
  std::vector<uint8_t> frame(wire::kHeaderSize);
  wire::EncodeHeader(h, frame.data());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

bool ReadStatus(int fd) {
  uint8_t w[4];
  return bench::ReceiveAllBytes(fd, w, 4) && wire::GetI32(w) == 1000;
}

// Sends the file in blocks of `block` bytes read and sent, or with sendfile when block is 0.
bool SendFileRaw(int fd, const std::string& path, size_t block) {
  int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const off_t size = ::lseek(in, 0, SEEK_END);
  ::lseek(in, 0, SEEK_SET);
  uint8_t header[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(size), header);
  bool ok = bench::SendAllBytes(fd, header, sizeof header);
  if (block == 0) {
    for (off_t left = size; ok && left > 0;) {
      const ssize_t r = ::sendfile(fd, in, nullptr, static_cast<size_t>(left));
      ok = r > 0;
      left -= r;
    }
  } else {
    std::vector<uint8_t> buffer(block);
    for (ssize_t r; ok && (r = ::read(in, buffer.data(), buffer.size())) > 0;)
      ok = bench::SendAllBytes(fd, buffer.data(), static_cast<size_t>(r));
  }
  ::close(in);
  return ok;
}

// Receives the file `block` bytes at a time, each written as it arrives.
bool ReceiveFileRaw(int fd, const std::string& path, size_t block) {
  int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  uint8_t header[wire::kFileBlockHeaderSize];
  bool ok = bench::ReceiveAllBytes(fd, header, sizeof header);
  int64_t left = ok ? wire::DecodeFileBlockLength(header) : 0;
  std::vector<uint8_t> buffer(block);
  while (ok && left > 0) {
    ssize_t r = ::recv(fd, buffer.data(), static_cast<size_t>(std::min<int64_t>(left, block)), 0);
    ok = r > 0 && ::write(out, buffer.data(), static_cast<size_t>(r)) == r;
    left -= r;
  }
  ::close(out);
  return ok;
}

// One 64 KiB receive buffer, records parsed in place, output written in 1 MiB blocks.
[[gnu::noinline]] bool ReceiveRecordsRaw(int fd, const std::string& path) {
  int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  std::vector<uint8_t> in(1 << 16), pending, outBuf;
  outBuf.reserve(1 << 20);
  bool ok = false;
  for (;;) {
    ssize_t r = ::recv(fd, in.data(), in.size(), 0);
    if (r <= 0) break;
    pending.insert(pending.end(), in.begin(), in.begin() + r);
    size_t at = 0;
    bool done = false;
    while (pending.size() - at >= 4) {
      const int32_t len = wire::GetI32(pending.data() + at);
      if (len < 0 || pending.size() - at - 4 < static_cast<size_t>(len)) break;
      const uint8_t* d = pending.data() + at + 4;
      at += 4 + static_cast<size_t>(len);
      if (len == 2 && d[0] == 3 && d[1] == 4) {
        done = true;
        break;
      }
      outBuf.insert(outBuf.end(), d, d + len);
      if (outBuf.size() >= (1 << 20)) {
        (void)!::write(out, outBuf.data(), outBuf.size());
        outBuf.clear();
      }
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(at));
    if (done) {
      // The status word may already be in the buffer.
      uint8_t w[4] = {};
      const size_t have = std::min<size_t>(pending.size(), 4);
      std::memcpy(w, pending.data(), have);
      ok = have == 4 || bench::ReceiveAllBytes(fd, w + have, 4 - have);
      ok = ok && wire::GetI32(w) == 1000;
      break;
    }
  }
  if (!outBuf.empty()) (void)!::write(out, outBuf.data(), outBuf.size());
  ::close(out);
  return ok;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool RawRequest(uint16_t port, const std::vector<uint8_t>& frame,
                const std::function<bool(int)>& streams) {
  int fd = bench::ConnectLoopback(port);
  if (fd < 0) return false;
  bool ok = bench::SendAllBytes(fd, frame.data(), frame.size()) && streams(fd);
  ::close(fd);
  return ok;
}

// ---- measurement ---------------------------------------------------------------------------

// A client of one measure: its run, and the file it writes (removed before each run, outside
// the timing: truncating a file whose pages are still being written back would charge one
// client for another's writes).
struct Client {
  std::function<bool()> run;
  std::string output;
};

// Seconds of each client's runs. The clients take turns in every round, the first place
// rotating, so that the page cache and the machine's load treat them alike.
std::vector<std::vector<double>> Interleaved(int rounds, const std::vector<Client>& clients) {
  std::vector<std::vector<double>> seconds(clients.size());
  // One untimed run each first: the first run after a change of size pays for cold caches.
  for (const Client& c : clients) {
    if (!c.output.empty()) ::unlink(c.output.c_str());
    if (!c.run()) {
      std::fprintf(stderr, "stream_bench: a client failed\n");
      std::exit(1);
    }
  }
  for (int i = 0; i < rounds; ++i) {
    for (size_t k = 0; k < clients.size(); ++k) {
      const size_t c = (k + static_cast<size_t>(i)) % clients.size();
      if (!clients[c].output.empty()) ::unlink(clients[c].output.c_str());
      const auto t0 = Clock::now();
      if (!clients[c].run()) {
        std::fprintf(stderr, "stream_bench: client %zu failed\n", c);
        std::exit(1);
      }
      seconds[c].push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
  }
  return seconds;
}

// Throughput (units per second) min, median, max of a series of run times.
std::array<double, 3> Rates(std::vector<double> seconds, double units) {
  for (double& s : seconds) s = units / s;
  return bench::Spread(std::move(seconds));
}

// Library rate / raw rate, round by round: the raw client's time over the library's.
double PairedRatio(const std::vector<double>& library, const std::vector<double>& raw) {
  return bench::MedianOfRatios(raw, library);
}

void Print(const char* measure, const std::string& label, const std::vector<double>& library,
           const std::vector<double>& raw, double units, const char* unit) {
  bench::PrintRow(measure, label, Rates(library, units), Rates(raw, units), unit,
                  PairedRatio(library, raw));
}

long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Runs `what` while a second thread samples the process's resident memory every 10 ms;
// prints one line per sample: "rss", the stream, seconds since the start, KiB.
bool SampleResident(const char* stream, const std::function<bool()>& what) {
  std::atomic<bool> done{false};
  const auto t0 = Clock::now();
  std::vector<std::pair<double, long>> samples;
  std::thread sampler([&] {
    while (!done) {
      samples.emplace_back(std::chrono::duration<double>(Clock::now() - t0).count(), ResidentKiB());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const bool ok = what();
  done = true;
  sampler.join();
  samples.emplace_back(std::chrono::duration<double>(Clock::now() - t0).count(), ResidentKiB());
  for (const auto& [t, kib] : samples) std::printf("rss\t%s\t%.3f\t%ld\n", stream, t, kib);
  std::fflush(stdout);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Workload work;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  // A 100 MB run takes a few tens of milliseconds: three times the rounds cost seconds and
  // steady the medians of the goals' measures on a machine shared with other work.
  const int goalRounds = 3 * rounds;
  std::string only = argc > 2 ? argv[2] : "";
  auto wanted = [&](const char* measure) { return only.empty() || only == measure; };
  constexpr int64_t kMB = 1000 * 1000;
  constexpr int64_t kLargest = 1000 * kMB;  // the RSS run

  char dirTemplate[] = "/tmp/zdb_bench_XXXXXX";
  if (!::mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  ::setenv("TMPDIR", dir.c_str(), 1);  // the script run's temporary files go there too
  const std::string upload = dir + "/upload.bin", libOut = dir + "/lib.out",
                    rawOut = dir + "/raw.out";
  auto makeUpload = [&](int64_t bytes) {
    std::vector<uint8_t> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    int fd = ::open(upload.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int64_t n = 0; n < bytes; n += static_cast<int64_t>(block.size()))
      (void)!::write(fd, block.data(),
                     static_cast<size_t>(std::min<int64_t>(block.size(), bytes - n)));
    ::close(fd);
  };

  bench::BenchServer server(work);
  const uint16_t port = server.port();
  auto session = std::make_unique<zdb::Session>();
  session->hostName = "127.0.0.1";
  session->port = port;
  session->serverAddress = {0x7F000001u, port};
  zdb::Session* s = session.get();
  zdb::RegisterSession(std::move(session));
  if (s->Login("", "") != zdb::kOk) {
    std::fprintf(stderr, "login to the bench server failed\n");
    return 1;
  }

  // ---- the clients ----
  auto libExport = Client{[&] { return Z_ExportDB("bench", "", libOut.c_str()) == 1000; }, libOut};
  auto rawExport = [&](size_t block) {
    return Client{[&, block] {
                    const auto frame =
                        Frame(wire::kExportKind, Opcode("ExportDB"), {"bench", "", rawOut}, false);
                    return RawRequest(port, frame, [&](int fd) {
                      return ReceiveFileRaw(fd, rawOut, block) && ReadStatus(fd);
                    });
                  },
                  rawOut};
  };
  auto libImport = Client{
      [&] { return Z_ImportDB("bench", "", upload.c_str(), libOut.c_str()) == 1000; }, libOut};
  auto rawImport = [&](size_t block) {
    return Client{[&, block] {
                    const auto frame = Frame(wire::kImportKind, Opcode("ImportDB"),
                                             {"bench", "", upload, rawOut}, false);
                    return RawRequest(port, frame, [&](int fd) {
                      return SendFileRaw(fd, upload, block) &&
                             ReceiveFileRaw(fd, rawOut, 1 << 16) && ReadStatus(fd);
                    });
                  },
                  rawOut};
  };

  const std::string script = "#select * from bench";
  const std::vector<Client> recordClients = {
      {[&] { return ZDB_SqlRun(script.c_str(), libOut.c_str(), "", 0) == 1000; }, libOut},
      {[&] {
         const auto frame =
             Frame(wire::kScriptKind, Opcode("SqlRun"), {dir + "/con", rawOut}, true);
         return RawRequest(port, frame, [&](int fd) {
           // The script goes with its zero, as the library sends an inline script.
           uint8_t header[wire::kFileBlockHeaderSize];
           wire::EncodeFileBlockHeader(static_cast<int32_t>(script.size() + 1), header);
           return bench::SendAllBytes(fd, header, sizeof header) &&
                  bench::SendAllBytes(fd, script.c_str(), script.size() + 1) &&
                  ReceiveRecordsRaw(fd, rawOut);
         });
       },
       rawOut}};

  if (only == "syscalls") {
    // System calls of one run of each client, this thread alone: what neither load nor noise
    // changes.
    bench::SyscallCounter counter;
    if (!counter.ok()) {
      std::fprintf(stderr, "stream_bench: no system call counter here\n");
      return 1;
    }
    server.SetFileBytes(100 * kMB);
    makeUpload(100 * kMB);
    const std::pair<const char*, std::pair<Client, Client>> pairs[] = {
        {"records", {recordClients[0], recordClients[1]}},
        {"export vs raw 256 KiB", {libExport, rawExport(262144)}},
        {"import vs raw 2 MiB", {libImport, rawImport(2 << 20)}},
    };
    for (const auto& [label, clients] : pairs) {
      long n[2];
      for (int k = 0; k < 2; ++k) {
        const Client& c = k == 0 ? clients.first : clients.second;
        if (!c.output.empty()) ::unlink(c.output.c_str());
        n[k] = counter.Count(c.run);
        if (n[k] < 0) return 1;
      }
      std::printf("syscalls\t%s\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\tper run\n", label, n[0], n[0], n[0],
                  n[1], n[1], n[1]);
    }
    only = "none";
  }

  if (wanted("records")) {
    const auto& clients = recordClients;
    const auto t = Interleaved(goalRounds, clients);
    const int64_t dataBytes = static_cast<int64_t>(work.records) * work.recordSize;
    if (FileSize(libOut) != dataBytes || FileSize(rawOut) != dataBytes) {
      std::fprintf(stderr, "record output mismatch: library %lld, raw %lld, expected %lld\n",
                   static_cast<long long>(FileSize(libOut)),
                   static_cast<long long>(FileSize(rawOut)), static_cast<long long>(dataBytes));
      return 1;
    }
    Print("records", std::to_string(work.records) + " x " + std::to_string(work.recordSize) + " B",
          t[0], t[1], work.records, "rec/s");
  }

  if (wanted("export")) {
    server.SetFileBytes(100 * kMB);
    const auto t =
        Interleaved(goalRounds, {libExport, rawExport(16384), rawExport(65536), rawExport(262144)});
    Print("export", "vs raw 16 KiB", t[0], t[1], 100, "MB/s");
    Print("export", "vs raw 64 KiB", t[0], t[2], 100, "MB/s");
    Print("export", "vs raw 256 KiB", t[0], t[3], 100, "MB/s");
  }

  if (wanted("import")) {
    makeUpload(100 * kMB);
    // The library's own block size (2 MiB) among them, and one larger.
    const auto t =
        Interleaved(goalRounds, {libImport, rawImport(65536), rawImport(262144), rawImport(1 << 20),
                                 rawImport(2 << 20), rawImport(4 << 20), rawImport(0)});
    Print("import", "vs raw 64 KiB", t[0], t[1], 100, "MB/s");
    Print("import", "vs raw 256 KiB", t[0], t[2], 100, "MB/s");
    Print("import", "vs raw 1 MiB", t[0], t[3], 100, "MB/s");
    Print("import", "vs raw 2 MiB", t[0], t[4], 100, "MB/s");
    Print("import", "vs raw 4 MiB", t[0], t[5], 100, "MB/s");
    Print("import", "vs raw sendfile", t[0], t[6], 100, "MB/s");
    size_t best = 1;  // the raw client that the library compares worst against, round by round
    for (size_t k = 2; k < t.size(); ++k)
      if (PairedRatio(t[0], t[k]) < PairedRatio(t[0], t[best])) best = k;
    Print("import", "vs best raw", t[0], t[best], 100, "MB/s");
  }

  if (wanted("sizes")) {
    for (int64_t mb : {1, 4, 16, 64, 256}) {
      const int n = mb <= 16 ? rounds * 2 : (mb <= 64 ? rounds : std::max(3, rounds / 2));
      server.SetFileBytes(mb * kMB);
      auto t = Interleaved(n, {libExport, rawExport(65536)});
      Print("export-size", std::to_string(mb), t[0], t[1], static_cast<double>(mb), "MB/s");
      makeUpload(mb * kMB);
      t = Interleaved(n, {libImport, rawImport(2 << 20)});
      Print("import-size", std::to_string(mb), t[0], t[1], static_cast<double>(mb), "MB/s");
    }
  }

  if (wanted("rss")) {
    // Memory must not grow with the file: a gigabyte each way, sampled as it moves.
    server.SetFileBytes(kLargest);
    ::unlink(libOut.c_str());
    if (!SampleResident("export", libExport.run)) return 1;
    makeUpload(kLargest);
    ::unlink(libOut.c_str());
    if (!SampleResident("import", libImport.run)) return 1;
  }

  zdb::RemoveSessionForThread(zdb::platform::CurrentThreadId());
  for (const auto& f : {upload, libOut, rawOut}) ::unlink(f.c_str());
  ::rmdir(dir.c_str());
  return 0;
}
