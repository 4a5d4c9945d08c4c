#include "spin.h"

#include <atomic>
#include <thread>

namespace zdbd::spin {
namespace {

std::atomic<long> g_budgetUs{0};
std::atomic<int> g_busy{0};
std::atomic<int> g_eager{0};
thread_local int t_depth = 0;  // Busy scopes open on this thread: it counts once
const int g_cores = [] {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}();

}  // namespace

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
  if (g_eager.load(std::memory_order_relaxed) >= g_cores) return false;
  // The threads counted include this one when it serves a request; it waits for a peer that
  // needs a core of its own.
  const int others = g_busy.load(std::memory_order_relaxed) - (t_depth > 0 ? 1 : 0);
  return others + 1 < g_cores;
}

}  // namespace zdbd::spin
