// A minimal server for the benchmarks, on 127.0.0.1 and an ephemeral port, answering from
// memory. It answers the login, version and logout requests and any other plain request with
// the request's own bytes (an echo), streams a prepared record stream for a script request,
// sends a generated file for an export and swallows the file of an import. Its own cost is
// the same whichever client it serves.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

struct Workload {
  int32_t records = 1000000;
  int32_t recordSize = 40;
  int64_t fileBytes = 100 * 1000 * 1000;
};

class BenchServer {
 public:
  explicit BenchServer(const Workload& w);
  ~BenchServer();
  uint16_t port() const { return port_; }
  // Connections still being served (default-mode runs leave many that are closing).
  int active() const { return active_.load(); }
  // The size of the file that the next exports send.
  void SetFileBytes(int64_t n) { fileBytes_ = n; }
  // Bytes of the record stream on the wire: length words, data and end mark.
  size_t recordStreamBytes() const { return recordStream_.size(); }

 private:
  void AcceptLoop();
  void Work();  // a pool thread: serves one connection after another
  void Serve(int fd);

  Workload work_;
  std::atomic<int64_t> fileBytes_;
  std::vector<uint8_t> recordStream_;  // records and end mark, then the status word
  std::vector<uint8_t> fileBlock_;     // one block of the exported file, sent again and again
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::atomic<int> active_{0};
  std::mutex poolMutex_;
  std::condition_variable poolWake_;
  std::deque<int> pending_;  // accepted connections no worker has taken yet
  int idle_ = 0;             // workers waiting for a connection, less those handed one
  bool poolStopping_ = false;
  std::vector<std::thread> workers_;
};

// Min, median and max of a series of figures.
std::array<double, 3> Spread(std::vector<double> v);
// The median over the rounds of top[i] / bottom[i]. Each round ran both clients back to back,
// so the ratio within a round is not moved by the machine being faster or slower from one
// round to the next, as the ratio of two medians is.
double MedianOfRatios(const std::vector<double>& top, const std::vector<double>& bottom);
// One line for scripts/bench.sh: measure, case, library min/median/max, raw min/median/max,
// unit, and the median of the rounds' library / raw ratios.
void PrintRow(const char* measure, const std::string& label, const std::array<double, 3>& library,
              const std::array<double, 3>& raw, const char* unit, double ratio);

// Loopback socket helpers shared by the server and the raw clients.
int ConnectLoopback(uint16_t port);
bool SendAllBytes(int fd, const void* data, size_t n);
bool ReceiveAllBytes(int fd, void* data, size_t n);

// System calls entered by the calling thread alone (not the server's threads), counted by the
// kernel's raw_syscalls:sys_enter tracepoint: a figure that the machine's load cannot change.
// Unavailable without tracefs or the permission to open the counter.
class SyscallCounter {
 public:
  SyscallCounter();
  ~SyscallCounter();
  SyscallCounter(const SyscallCounter&) = delete;
  SyscallCounter& operator=(const SyscallCounter&) = delete;
  bool ok() const { return fd_ >= 0; }
  // System calls made while f() ran (the counter's own left out); -1 when f() failed.
  template <class F>
  long Count(F&& f) {
    Start();
    const bool done = f();
    return Stop(done);
  }

 private:
  void Start();
  long Stop(bool done);
  int fd_ = -1;
};

}  // namespace bench
