// A progress line on stderr while a long transfer runs: amount, rate and elapsed time, with a
// bar when the total is known. Shown only when stderr is a terminal and --quiet is not given,
// so scripts and logs never see it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zdb::cli {

enum class Unit { kBytes, kRecords };

// "12.3 MB" or "1234 records".
std::string FormatAmount(int64_t amount, Unit unit);
// One progress line (without the leading carriage return).
std::string FormatProgress(const std::string& label, int64_t done, int64_t total, Unit unit,
                           double seconds);

class Progress {
 public:
  // `sample` tells the amount done so far; it is called from the progress thread. `total` is
  // -1 when unknown.
  Progress(std::string label, Unit unit, int64_t total, std::function<int64_t()> sample);
  ~Progress();  // ends the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  bool shown() const { return thread_.joinable(); }

 private:
  void Draw(bool last);
  std::string label_;
  Unit unit_;
  int64_t total_;
  std::function<int64_t()> sample_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// A counter that a loop advances and a Progress samples.
struct Counter {
  std::atomic<int64_t> value{0};
  std::function<int64_t()> Sampler() {
    return [this] { return value.load(); };
  }
};

// Bytes already read from a local file that this process has open, found through
// /proc/self/fdinfo: how far the library has come in sending an upload.
int64_t BytesReadFrom(const std::string& path);

}  // namespace zdb::cli
