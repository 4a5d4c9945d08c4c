// Stream throughput of the library against a plain socket client, side by side against the
// same loopback server in one run: a record stream of short records (script run), a large
// file downloaded (export) and uploaded (import). Prints records/s, MB/s and the ratios.
//
//   stream_bench [records] [file-megabytes] [rounds]      (defaults 1000000 100 3)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bench_server.h"
#include "session/registry.h"
#include "session/session.h"
#include "wire/file_block.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "zdb_api.h"

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

bool SendFileRaw(int fd, const std::string& path) {
  int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const off_t size = ::lseek(in, 0, SEEK_END);
  ::lseek(in, 0, SEEK_SET);
  uint8_t header[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(size), header);
  bool ok = bench::SendAllBytes(fd, header, sizeof header);
  std::vector<uint8_t> block(wire::kFileBlockSize);
  for (ssize_t r; ok && (r = ::read(in, block.data(), block.size())) > 0;)
    ok = bench::SendAllBytes(fd, block.data(), static_cast<size_t>(r));
  ::close(in);
  return ok;
}

bool ReceiveFileRaw(int fd, const std::string& path) {
  int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  uint8_t header[wire::kFileBlockHeaderSize];
  bool ok = bench::ReceiveAllBytes(fd, header, sizeof header);
  int64_t left = ok ? wire::DecodeFileBlockLength(header) : 0;
  std::vector<uint8_t> block(wire::kFileBlockSize);
  while (ok && left > 0) {
    ssize_t r = ::recv(fd, block.data(), static_cast<size_t>(std::min<int64_t>(left, 16384)), 0);
    ok = r > 0 && ::write(out, block.data(), static_cast<size_t>(r)) == r;
    left -= r;
  }
  ::close(out);
  return ok;
}

// One 64 KiB receive buffer, records parsed in place, output written in 1 MiB blocks.
bool ReceiveRecordsRaw(int fd, const std::string& path) {
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

// ---- measurement -------------------------------------------------------------------------

// Best of `rounds` timed runs of each, in seconds (negative when a run failed). The two take
// turns, so that the page cache and the machine's load treat them alike.
// Output files are removed before each run, outside the timing: truncating a file whose pages
// are still being written back would charge one client for the other's writes.
std::string outputs[2];  // the library's, the raw client's

// The best wall time and the best CPU time of the calling thread over the rounds (the server
// runs on threads of its own); negative when a run failed.
struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
};

double ThreadCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::pair<Timing, Timing> BestOfEach(int rounds, const std::function<bool()>& library,
                                     const std::function<bool()>& raw) {
  Timing best[2];
  const std::function<bool()>* runs[2] = {&library, &raw};
  for (int i = 0; i < rounds; ++i) {
    for (int k = 0; k < 2; ++k) {
      if (best[k].wall < 0) continue;
      ::unlink(outputs[k].c_str());
      const auto t0 = Clock::now();
      const double c0 = ThreadCpuSeconds();
      if (!(*runs[k])()) {
        best[k].wall = -1;
        continue;
      }
      best[k].cpu = std::min(best[k].cpu, ThreadCpuSeconds() - c0);
      best[k].wall =
          std::min(best[k].wall, std::chrono::duration<double>(Clock::now() - t0).count());
    }
  }
  return {best[0], best[1]};
}

void Report(const char* what, double bytes, double units, const char* unitName, Timing lib,
            Timing raw) {
  if (lib.wall < 0 || raw.wall < 0) {
    std::printf("%-22s FAILED (library %s, raw %s)\n", what, lib.wall < 0 ? "failed" : "ok",
                raw.wall < 0 ? "failed" : "ok");
    return;
  }
  auto line = [&](const char* who, Timing t) {
    std::printf("  %-8s %8.1f ms %12.0f %s/s %8.1f MB/s   client CPU %7.1f ms\n", who, t.wall * 1e3,
                units / t.wall, unitName, bytes / t.wall / 1e6, t.cpu * 1e3);
  };
  std::printf("%s\n", what);
  line("library", lib);
  line("raw", raw);
  std::printf("  ratio (library throughput / raw): %.2f wall, %.2f CPU\n", raw.wall / lib.wall,
              raw.cpu / lib.cpu);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Workload work;
  if (argc > 1) work.records = std::atoi(argv[1]);
  if (argc > 2) work.fileBytes = std::atoll(argv[2]) * 1000 * 1000;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  if (work.records < 0 || work.fileBytes < 0 || work.fileBytes > INT32_MAX) {
    std::fprintf(stderr, "usage: stream_bench [records] [file-megabytes <= 2147] [rounds]\n");
    return 2;
  }

  char dirTemplate[] = "/tmp/zdb_bench_XXXXXX";
  const std::string dir = ::mkdtemp(dirTemplate);
  ::setenv("TMPDIR", dir.c_str(), 1);  // the script run's temporary files go there too
  const std::string upload = dir + "/upload.bin", libOut = dir + "/lib.out",
                    rawOut = dir + "/raw.out";
  outputs[0] = libOut;
  outputs[1] = rawOut;
  {
    std::vector<uint8_t> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    int fd = ::open(upload.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int64_t n = 0; n < work.fileBytes; n += static_cast<int64_t>(block.size()))
      (void)!::write(fd, block.data(),
                     static_cast<size_t>(std::min<int64_t>(block.size(), work.fileBytes - n)));
    ::close(fd);
  }

  bench::BenchServer server(work);
  auto session = std::make_unique<zdb::Session>();
  session->hostName = "127.0.0.1";
  session->port = server.port();
  session->serverAddress = {0x7F000001u, server.port()};
  zdb::Session* s = session.get();
  zdb::RegisterSession(std::move(session));
  if (s->Login("", "") != zdb::kOk) {
    std::fprintf(stderr, "login to the bench server failed\n");
    return 1;
  }

  const std::string script = "#select * from bench";
  const double streamBytes = static_cast<double>(server.recordStreamBytes());
  auto [lib, raw] = BestOfEach(
      rounds, [&] { return ZDB_SqlRun(script.c_str(), libOut.c_str(), "", 0) == 1000; },
      [&] {
        const auto frame = Frame(wire::kScriptKind, 0, {dir + "/con", rawOut}, true);
        return RawRequest(server.port(), frame, [&](int fd) {
          // The script goes with its zero, as the library sends an inline script.
          uint8_t header[wire::kFileBlockHeaderSize];
          wire::EncodeFileBlockHeader(static_cast<int32_t>(script.size() + 1), header);
          return bench::SendAllBytes(fd, header, sizeof header) &&
                 bench::SendAllBytes(fd, script.c_str(), script.size() + 1) &&
                 ReceiveRecordsRaw(fd, rawOut);
        });
      });
  std::printf("%d records of %d bytes, %.0f MB files, best of %d rounds\n", work.records,
              work.recordSize, work.fileBytes / 1e6, rounds);
  Report("records (script run)", streamBytes, work.records, "rec", lib, raw);
  const int64_t dataBytes = static_cast<int64_t>(work.records) * work.recordSize;
  if (FileSize(libOut) != dataBytes || FileSize(rawOut) != dataBytes)
    std::printf("  OUTPUT MISMATCH: library %lld, raw %lld bytes, expected %lld\n",
                static_cast<long long>(FileSize(libOut)), static_cast<long long>(FileSize(rawOut)),
                static_cast<long long>(dataBytes));

  const auto fileBytes = static_cast<double>(work.fileBytes);
  std::tie(lib, raw) = BestOfEach(
      rounds, [&] { return Z_ExportDB("bench", "", libOut.c_str()) == 1000; },
      [&] {
        const auto frame = Frame(wire::kExportKind, 88, {"bench", "", rawOut}, false);
        return RawRequest(server.port(), frame,
                          [&](int fd) { return ReceiveFileRaw(fd, rawOut) && ReadStatus(fd); });
      });
  Report("file download (export)", fileBytes, fileBytes / 1e6, "MB", lib, raw);

  std::tie(lib, raw) = BestOfEach(
      rounds, [&] { return Z_ImportDB("bench", "", upload.c_str(), libOut.c_str()) == 1000; },
      [&] {
        const auto frame = Frame(wire::kImportKind, 89, {"bench", "", upload, rawOut}, false);
        return RawRequest(server.port(), frame, [&](int fd) {
          return SendFileRaw(fd, upload) && ReceiveFileRaw(fd, rawOut) && ReadStatus(fd);
        });
      });
  Report("file upload (import)", fileBytes, fileBytes / 1e6, "MB", lib, raw);

  zdb::RemoveSessionForThread(zdb::platform::CurrentThreadId());
  for (const auto& f : {upload, libOut, rawOut}) ::unlink(f.c_str());
  ::rmdir(dir.c_str());
  return 0;
}
