#pragma once

#include <chrono>
#include <string>

namespace zdbd::spin {

// Short busy waits for answers that are microseconds away. Where idle cores halt (virtual
// machines especially), waking a sleeping thread costs tens of microseconds, as much as a
// request takes; a thread that asks again instead of sleeping saves that. It only does so while
// a core is left for the peer it waits on (the client, PostgreSQL's backend), and never longer
// than the budget: a busy zdbd sleeps at once, an idle one burns at most the budget per wait.

// The cores this process may run on: its CPU set, lowered to what a CPU quota of its control
// group allows (a container's or a service's limit), at least 1.
int Cores();
// The fewest cores a CPU quota allows on the control group that `groups` (the text of
// /proc/self/cgroup) names, or on a group above it, with the cgroup file system at `fs`; 0 when
// none caps it.
int CgroupCores(const std::string& groups, const std::string& fs);
// The cores a cgroup cpu.max text ("QUOTA PERIOD", or "max PERIOD") allows, rounded up; 0 when
// it sets no quota or cannot be read.
int CoresOfCpuMax(const std::string& text);

// 0 turns the waits off. Set once at start-up.
void SetBudget(std::chrono::microseconds budget);
std::chrono::microseconds Budget();

// While one lives, this thread counts as using a core (a request being served).
class Busy {
 public:
  Busy();
  ~Busy();
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;
};

// Marks a connection whose client sends its next request soon after each reply. Such clients
// keep a core busy each between requests: with as many of them as cores, a wait would take the
// core one of them needs, and none spins.
class Eager {
 public:
  Eager() = default;
  ~Eager() { Set(false); }
  Eager(const Eager&) = delete;
  Eager& operator=(const Eager&) = delete;
  void Set(bool on);
  bool On() const { return on_; }

 private:
  bool on_ = false;
};

// Whether a wait may spin now: a budget is set, a core is free besides this thread's, and
// fewer clients are eager than there are cores.
bool Allowed();
// Calls ready() until it answers true (true), the budget is spent or a core is no longer free
// (false: the caller then waits the usual, sleeping way).
template <class Ready>
bool Until(Ready ready, std::chrono::microseconds budget = Budget()) {
  if (budget.count() <= 0 || !Allowed()) return false;
  Busy counted;
  const auto until = std::chrono::steady_clock::now() + budget;
  for (unsigned i = 0;; ++i) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    if ((i & 15) == 15 && !Allowed()) return false;
  }
}

}  // namespace zdbd::spin
