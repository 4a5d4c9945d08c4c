#include "zdb/progress.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "zdb/common.h"
#include "zdb/platform.h"

namespace zdb::cli {

std::string FormatAmount(int64_t amount, Unit unit) {
  char b[48];
  if (unit == Unit::kRecords) {
    std::snprintf(b, sizeof b, "%lld records", static_cast<long long>(amount));
    return b;
  }
  static const char* kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  double v = static_cast<double>(amount);
  int u = 0;
  while (v >= 1000.0 && u < 4) {
    v /= 1000.0;
    ++u;
  }
  std::snprintf(b, sizeof b, u == 0 ? "%.0f %s" : "%.1f %s", v, kUnits[u]);
  return b;
}

std::string FormatProgress(const std::string& label, int64_t done, int64_t total, Unit unit,
                           double seconds) {
  std::string line = label + " ";
  if (total > 0) {
    constexpr int kWidth = 24;
    const double part = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    const int filled = static_cast<int>(part * kWidth);
    line += "[" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kWidth - filled), ' ') + "] ";
    char pct[16];
    std::snprintf(pct, sizeof pct, "%3.0f%% ", part * 100.0);
    line += pct;
  }
  line += FormatAmount(done, unit);
  if (total > 0) line += " of " + FormatAmount(total, unit);
  const double rate = seconds > 0.05 ? static_cast<double>(done) / seconds : 0.0;
  std::string r = FormatAmount(static_cast<int64_t>(rate), unit);
  if (unit == Unit::kRecords) r = r.substr(0, r.find(' ')) + " rec";
  const int s = static_cast<int>(seconds);
  char tail[64];
  std::snprintf(tail, sizeof tail, "  %s/s  %02d:%02d", r.c_str(), s / 60, s % 60);
  return line + tail;
}

Progress::Progress(std::string label, Unit unit, int64_t total, std::function<int64_t()> sample)
    : label_(std::move(label)),
      unit_(unit),
      total_(total),
      sample_(std::move(sample)),
      start_(std::chrono::steady_clock::now()) {
  if (G().quiet || !::isatty(STDERR_FILENO)) return;
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mu_);
    while (!cv_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; }))
      Draw(false);
  });
}

Progress::~Progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    done_ = true;
  }
  cv_.notify_all();
  thread_.join();
  Draw(true);
}

void Progress::Draw(bool last) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr, "\r%s\033[K%s",
               FormatProgress(label_, sample_(), total_, unit_, seconds).c_str(), last ? "\n" : "");
  std::fflush(stderr);
}

int64_t BytesReadFrom(const std::string& path) {
  return os::PositionReadIn(path);
}

}  // namespace zdb::cli
