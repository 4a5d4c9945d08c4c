#include "log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zdbd {

namespace {

using Clock = std::chrono::steady_clock;

// Where lines go. Each line is one write() under the lock, so that a reopen never swaps the
// descriptor under a write; the summaries keep the number of lines, and so the lock's cost, low.
struct Target {
  std::mutex mutex;
  std::string path;
  int fd = 2;
  std::atomic<bool> syslog{false};
};
Target g_target;

struct EventRow {
  const char* what;  // the summary line names the events so
};
constexpr EventRow kEvents[] = {
    {"failed requests"},
    {"refused logins"},
    {"logins refused at the session limit"},
    {"logins refused for want of a session handle"},
    {"connections refused at the connection limit"},
    {"dropped connections"},
    {"connections closed for silence"},
    {"refused stop requests"},
};
static_assert(sizeof kEvents / sizeof kEvents[0] == static_cast<size_t>(Event::kCount));

struct Window {
  std::mutex mutex;
  Clock::time_point start{};
  size_t written = 0;
  size_t held = 0;  // counted, not written
};
Window g_windows[static_cast<size_t>(Event::kCount)];
std::atomic<size_t> g_perWindow{5};
std::atomic<Clock::rep> g_window{
    std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(10)).count()};

const char* LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return "error";
    case LogLevel::kWarning:
      return "warning";
    case LogLevel::kInfo:
      break;
  }
  return "info";
}

int SyslogPriority(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return LOG_ERR;
    case LogLevel::kWarning:
      return LOG_WARNING;
    case LogLevel::kInfo:
      break;
  }
  return LOG_INFO;
}

void Write(LogLevel level, const char* message) {
  if (g_target.syslog.load(std::memory_order_relaxed)) {
    ::syslog(SyslogPriority(level), "%s: %s", LevelName(level), message);
    return;
  }
  std::string line = FormatLogLine(std::time(nullptr), level, message) + "\n";
  std::lock_guard<std::mutex> lock(g_target.mutex);
  [[maybe_unused]] auto n = ::write(g_target.fd, line.data(), line.size());
}

void VWrite(LogLevel level, const char* fmt, va_list ap) {
  char message[1024];
  std::vsnprintf(message, sizeof message, fmt, ap);
  Write(level, message);
}

Clock::duration WindowLength() {
  return Clock::duration(g_window.load(std::memory_order_relaxed));
}

// Writes the summary of a window that holds counted events; the caller holds its mutex.
void CloseWindow(Window& w, Event kind, Clock::time_point now) {
  if (w.held > 0) {
    // A window closed early (at a stop) names the time it really covered, in whole seconds.
    auto covered = std::min(now - w.start, WindowLength());
    auto seconds = std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(covered).count());
    char message[256];
    std::snprintf(message, sizeof message, "... and %zu more %s in the last %lld s", w.held,
                  kEvents[static_cast<size_t>(kind)].what, seconds);
    Write(LogLevel::kWarning, message);
  }
  w.written = w.held = 0;
}

}  // namespace

std::string FormatLogLine(std::time_t when, LogLevel level, const std::string& message) {
  // Connection threads log at once: gmtime's shared buffer would be a data race.
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(stamp) + " zdbd[" + std::to_string(::getpid()) + "] " + LevelName(level) +
         ": " + message;
}

bool LogTo(const std::string& target, std::string* error) {
  std::lock_guard<std::mutex> lock(g_target.mutex);
  int fd = 2;
  if (target == "syslog") {
    ::openlog("zdbd", LOG_PID | LOG_NDELAY, LOG_DAEMON);
  } else if (!target.empty() && target != "-") {
    fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) {
      *error = "cannot open log file " + target + ": " + std::strerror(errno);
      return false;
    }
  }
  if (g_target.fd != 2) ::close(g_target.fd);
  g_target.fd = fd;
  g_target.syslog = target == "syslog";
  g_target.path = fd == 2 ? "" : target;
  return true;
}

bool ReopenLog() {
  std::string path;
  int e = 0;
  {
    std::lock_guard<std::mutex> lock(g_target.mutex);
    if (g_target.path.empty() || g_target.syslog) return false;
    path = g_target.path;
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd >= 0) {
      ::dup2(fd, g_target.fd);
      ::close(fd);
      return true;
    }
    e = errno;
  }
  LogAt(LogLevel::kError, "cannot reopen log file %s: %s", path.c_str(), std::strerror(e));
  return false;
}

void SetLogSummary(size_t perWindow, std::chrono::steady_clock::duration window) {
  g_perWindow = perWindow;
  g_window = window.count();
}

void FlushLogSummaries(bool all) {
  auto now = Clock::now();
  for (size_t i = 0; i < static_cast<size_t>(Event::kCount); ++i) {
    Window& w = g_windows[i];
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.written + w.held > 0 && (all || now - w.start >= WindowLength()))
      CloseWindow(w, static_cast<Event>(i), now);
  }
}

void Log(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  VWrite(LogLevel::kInfo, fmt, ap);
  va_end(ap);
}

void LogAt(LogLevel level, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  VWrite(level, fmt, ap);
  va_end(ap);
}

void LogEvent(Event kind, LogLevel level, const char* fmt, ...) {
  Window& w = g_windows[static_cast<size_t>(kind)];
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    auto now = Clock::now();
    if (w.written + w.held == 0 || now - w.start >= WindowLength()) {
      CloseWindow(w, kind, now);
      w.start = now;
    }
    if (w.written >= g_perWindow.load(std::memory_order_relaxed)) {
      ++w.held;
      return;
    }
    ++w.written;
  }
  va_list ap;
  va_start(ap, fmt);
  VWrite(level, fmt, ap);
  va_end(ap);
}

}  // namespace zdbd
