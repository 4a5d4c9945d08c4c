#include "spin.h"

#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace zdbd::spin {
namespace {

std::atomic<long> g_budgetUs{0};
std::atomic<int> g_busy{0};
std::atomic<int> g_eager{0};
thread_local int t_depth = 0;  // Busy scopes open on this thread: it counts once
int QuotaCores(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<int>((quota + period - 1) / period);
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path);
  std::ostringstream text;
  text << f.rdbuf();
  return text.str();
}

}  // namespace

int CoresOfCpuMax(const std::string& text) {
  std::istringstream in(text);
  std::string quota;
  long long period = 0;
  if (!(in >> quota >> period) || quota == "max") return 0;
  char* end = nullptr;
  const long long q = std::strtoll(quota.c_str(), &end, 10);
  return *end ? 0 : QuotaCores(q, period);
}

// The fewest cores a CPU quota on the control group of `groups` (the text of
// /proc/self/cgroup), or on a group above it, allows; 0 when none caps it. Both layouts under
// `fs`: cpu.max of the unified hierarchy, and the cpu controller's cfs_quota_us and
// cfs_period_us of the older one.
int CgroupCores(const std::string& groups, const std::string& fs) {
  std::istringstream lines(groups);
  int fewest = 0;
  const auto take = [&](int n) {
    if (n > 0 && (fewest == 0 || n < fewest)) fewest = n;
  };
  for (std::string line; std::getline(lines, line);) {
    const size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1);
    const bool unified = controllers.empty();
    if (!unified && ("," + controllers + ",").find(",cpu,") == std::string::npos) continue;
    const std::string root = fs + (unified ? "" : "/" + controllers);
    for (std::string path = line.substr(b + 1);;) {
      if (unified) {
        take(CoresOfCpuMax(ReadAll(root + path + "/cpu.max")));
      } else {
        take(QuotaCores(std::atoll(ReadAll(root + path + "/cpu.cfs_quota_us").c_str()),
                        std::atoll(ReadAll(root + path + "/cpu.cfs_period_us").c_str())));
      }
      const size_t slash = path.find_last_of('/');
      if (path.empty() || path == "/" || slash == std::string::npos) break;
      path = slash == 0 ? "/" : path.substr(0, slash);
    }
  }
  return fewest;
}

int Cores() {
  // Counted on the first wait, not when the program starts: most programs linking this never
  // wait, and the count reads files.
  static const int cores = [] {
    int n = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    const int quota = CgroupCores(ReadAll("/proc/self/cgroup"), "/sys/fs/cgroup");
    if (quota > 0 && quota < n) n = quota;
    return n > 0 ? n : 1;
  }();
  return cores;
}

void SetBudget(std::chrono::microseconds budget) {
  g_budgetUs.store(static_cast<long>(budget.count()), std::memory_order_relaxed);
}

std::chrono::microseconds Budget() {
  return std::chrono::microseconds(g_budgetUs.load(std::memory_order_relaxed));
}

Busy::Busy() {
  if (t_depth++ == 0) g_busy.fetch_add(1, std::memory_order_relaxed);
}

Busy::~Busy() {
  if (--t_depth == 0) g_busy.fetch_sub(1, std::memory_order_relaxed);
}

void Eager::Set(bool on) {
  if (on == on_) return;
  on_ = on;
  g_eager.fetch_add(on ? 1 : -1, std::memory_order_relaxed);
}

bool Allowed() {
  if (g_budgetUs.load(std::memory_order_relaxed) <= 0) return false;
  const int cores = Cores();
  if (g_eager.load(std::memory_order_relaxed) >= cores) return false;
  // The threads counted include this one when it serves a request; it waits for a peer that
  // needs a core of its own.
  const int others = g_busy.load(std::memory_order_relaxed) - (t_depth > 0 ? 1 : 0);
  return others + 1 < cores;
}

}  // namespace zdbd::spin
