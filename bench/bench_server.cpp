#include "bench_server.h"

#include <arpa/inet.h>
#include <linux/perf_event.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "platform/platform.h"
#include "wire/catalogue.h"
#include "wire/file_block.h"
#include "wire/frame.h"
#include "wire/le.h"

namespace bench {

using zdb::wire::Op;
using zdb::wire::PutI32;

constexpr uint32_t kLogout = Op("Logout").opcode;

std::array<double, 3> Spread(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v.front(), v[v.size() / 2], v.back()};
}

double MedianOfRatios(const std::vector<double>& top, const std::vector<double>& bottom) {
  std::vector<double> ratios;
  for (size_t i = 0; i < top.size() && i < bottom.size(); ++i) ratios.push_back(top[i] / bottom[i]);
  return Spread(std::move(ratios))[1];
}

void PrintRow(const char* measure, const std::string& label, const std::array<double, 3>& library,
              const std::array<double, 3>& raw, const char* unit, double ratio) {
  std::printf("%s\t%s\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%s\t%.4f\n", measure, label.c_str(),
              library[0], library[1], library[2], raw[0], raw[1], raw[2], unit, ratio);
  std::fflush(stdout);
}

int ConnectLoopback(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAllBytes(int fd, const void* data, size_t n) {
  return zdb::platform::SendAll(fd, data, n);
}

bool ReceiveAllBytes(int fd, void* data, size_t n) {
  auto p = static_cast<uint8_t*>(data);
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

namespace {

// Reads and throws away a file announced by its 64-byte header.
bool DrainFile(int fd) {
  uint8_t header[zdb::wire::kFileBlockHeaderSize];
  if (!ReceiveAllBytes(fd, header, sizeof header)) return false;
  int64_t left = std::max(0, zdb::wire::DecodeFileBlockLength(header));
  std::vector<uint8_t> sink(1 << 16);
  while (left > 0) {
    ssize_t r = ::recv(fd, sink.data(), static_cast<size_t>(std::min<int64_t>(left, 1 << 16)), 0);
    if (r <= 0) return false;
    left -= r;
  }
  return true;
}

bool SendStatus(int fd, int32_t status) {
  uint8_t w[4];
  PutI32(w, status);
  return SendAllBytes(fd, w, 4);
}

}  // namespace

BenchServer::BenchServer(const Workload& w)
    : work_(w), fileBytes_(w.fileBytes), fileBlock_(1 << 20) {
  std::vector<uint8_t> record(static_cast<size_t>(w.recordSize));
  recordStream_.reserve(static_cast<size_t>(w.records) * (4 + record.size()) + 10);
  uint8_t len[4];
  for (int32_t i = 0; i < w.records; ++i) {
    for (size_t k = 0; k < record.size(); ++k) record[k] = static_cast<uint8_t>('a' + (i + k) % 26);
    PutI32(len, w.recordSize);
    recordStream_.insert(recordStream_.end(), len, len + 4);
    recordStream_.insert(recordStream_.end(), record.begin(), record.end());
  }
  PutI32(len, 2);
  recordStream_.insert(recordStream_.end(), len, len + 4);
  recordStream_.insert(recordStream_.end(), {0x03, 0x04});
  for (size_t i = 0; i < fileBlock_.size(); ++i) fileBlock_[i] = static_cast<uint8_t>(i % 251);

  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listenFd_, 16) != 0)
    throw std::runtime_error("bench server: cannot listen on 127.0.0.1");
  socklen_t alen = sizeof a;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &alen);
  port_ = ntohs(a.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

BenchServer::~BenchServer() {
  stopping_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  // Clients close their connections before the server goes; wait for the workers to see it.
  while (active_.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  {
    std::lock_guard<std::mutex> lock(poolMutex_);
    poolStopping_ = true;
  }
  poolWake_.notify_all();
  for (auto& w : workers_) w.join();
  ::close(listenFd_);
}

void BenchServer::AcceptLoop() {
  while (!stopping_) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++active_;
    // A thread per connection, but threads are kept for the next connection: a default-mode
    // run opens thousands one after another, and making a thread for each (several hundred
    // microseconds on a busy machine) would be most of what that measure sees.
    std::lock_guard<std::mutex> lock(poolMutex_);
    pending_.push_back(fd);
    if (idle_ > 0) {
      --idle_;
      poolWake_.notify_one();
    } else {
      workers_.emplace_back([this] { Work(); });
    }
  }
}

void BenchServer::Work() {
  // A worker is made for a connection already waiting for it; after that it counts itself
  // idle each time it comes back, and the acceptor counts it off as it hands it a connection.
  for (bool made = true;; made = false) {
    int fd;
    {
      std::unique_lock<std::mutex> lock(poolMutex_);
      if (!made) ++idle_;
      poolWake_.wait(lock, [this] { return !pending_.empty() || poolStopping_; });
      if (pending_.empty()) return;
      fd = pending_.front();
      pending_.pop_front();
    }
    Serve(fd);
    --active_;
  }
}

void BenchServer::Serve(int fd) {
  std::vector<uint8_t> frame(zdb::wire::kHeaderSize);
  while (ReceiveAllBytes(fd, frame.data(), zdb::wire::kHeaderSize)) {
    zdb::wire::FrameHeader h;
    zdb::wire::DecodeHeader(frame.data(), h);
    if (h.total < zdb::wire::kHeaderSize || h.total > (8u << 20)) break;
    frame.resize(h.total);
    if (!ReceiveAllBytes(fd, frame.data() + zdb::wire::kHeaderSize,
                         h.total - zdb::wire::kHeaderSize))
      break;
    bool ok = true;
    if (h.kind ==
        Op("SqlRun").Kind()) {  // script run: read the script, stream the records, then the status
      ok = DrainFile(fd) && SendAllBytes(fd, recordStream_.data(), recordStream_.size()) &&
           SendStatus(fd, 1000);
    } else if (h.opcode == Op("ExportDB").opcode) {  // export: a generated file
      uint8_t header[zdb::wire::kFileBlockHeaderSize];
      const int64_t bytes = fileBytes_.load();
      zdb::wire::EncodeFileBlockHeader(static_cast<int32_t>(bytes), header);
      ok = SendAllBytes(fd, header, sizeof header);
      for (int64_t sent = 0; ok && sent < bytes;) {
        const auto n = static_cast<size_t>(std::min<int64_t>(bytes - sent, fileBlock_.size()));
        ok = SendAllBytes(fd, fileBlock_.data(), n);
        sent += static_cast<int64_t>(n);
      }
      ok = ok && SendStatus(fd, 1000);
    } else if (h.opcode ==
               Op("ImportDB").opcode) {  // import: take the file, answer with an empty one
      uint8_t header[zdb::wire::kFileBlockHeaderSize];
      zdb::wire::EncodeFileBlockHeader(0, header);
      ok = DrainFile(fd) && SendAllBytes(fd, header, sizeof header) && SendStatus(fd, 1000);
    } else {  // login, version, logout, echo: the request's bytes with status and handle
      PutI32(frame.data() + zdb::wire::kOffStatus, 1000);
      zdb::wire::PutU32(frame.data() + zdb::wire::kOffSession, h.opcode == kLogout ? ~0u : 0x1234u);
      if (h.opcode == Op("GetVersion").opcode && h.paramCount >= 1)
        zdb::wire::PutU32(frame.data() + zdb::wire::kHeaderSize, 0x1234);
      ok = SendAllBytes(fd, frame.data(), frame.size()) && h.opcode != kLogout;
    }
    if (!ok) break;
  }
  ::close(fd);
}

SyscallCounter::SyscallCounter() {
  long id = -1;
  for (const char* path : {"/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
                           "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id"}) {
    if (FILE* f = std::fopen(path, "r")) {
      if (std::fscanf(f, "%ld", &id) != 1) id = -1;
      std::fclose(f);
    }
    if (id >= 0) break;
  }
  if (id < 0) return;
  perf_event_attr a{};
  a.type = PERF_TYPE_TRACEPOINT;
  a.size = sizeof a;
  a.config = static_cast<uint64_t>(id);
  a.disabled = 1;
  fd_ = static_cast<int>(::syscall(SYS_perf_event_open, &a, 0, -1, -1, 0));
}

SyscallCounter::~SyscallCounter() {
  if (fd_ >= 0) ::close(fd_);
}

void SyscallCounter::Start() {
  ::ioctl(fd_, PERF_EVENT_IOC_RESET, 0);
  ::ioctl(fd_, PERF_EVENT_IOC_ENABLE, 0);
}

long SyscallCounter::Stop(bool done) {
  ::ioctl(fd_, PERF_EVENT_IOC_DISABLE, 0);
  uint64_t n = 0;
  if (!done || ::read(fd_, &n, sizeof n) != sizeof n) return -1;
  return static_cast<long>(n) - 1;  // the disabling ioctl enters while counting
}

}  // namespace bench
