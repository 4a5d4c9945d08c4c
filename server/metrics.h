// zdbd's counters, kept with relaxed atomics so that the request path takes no lock, and the
// HTTP endpoint that serves them in the Prometheus text format (libmicrohttpd).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct MHD_Daemon;

namespace zdbd {

struct OpRow;

// How a request ended, from its status.
enum class ResultClass { kOk, kRefused, kMalformed, kFailed, kInternal, kCount };
ResultClass ClassOf(int32_t status);
const char* ResultClassName(ResultClass c);

// The opcode families, in the order of the opcode table's groups; kUnknown for opcodes it lacks.
size_t FamilyCount();
const char* FamilyName(size_t family);
// The family of a row of the opcode table (null: unknown opcode).
size_t FamilyOf(const OpRow* row);

enum class LoginRefusal { kCredentials, kSessionLimit, kRemoteWithoutUsers, kHandleClaim, kCount };
enum class ErrorKind { kConnectionDropped, kReplyNotSent, kCount };

inline constexpr size_t kMaxFamilies = 16;
// Upper bounds of the latency buckets in microseconds; the last bucket is +Inf.
inline constexpr uint64_t kLatencyBoundsUs[] = {100,     250,     500,     1000,    2500,   5000,
                                                10000,   25000,   50000,   100000,  250000, 500000,
                                                1000000, 2500000, 5000000, 10000000};
inline constexpr size_t kLatencyBuckets = sizeof kLatencyBoundsUs / sizeof kLatencyBoundsUs[0] + 1;

struct Metrics {
  using Counter = std::atomic<uint64_t>;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  Counter connectionsAccepted{0};
  Counter connectionsRefused{0};
  std::atomic<int64_t> connectionsOpen{0};
  Counter sessionsOpened{0};
  Counter sessionsEnded{0};
  Counter loginsRefused[static_cast<size_t>(LoginRefusal::kCount)]{};
  Counter requests[kMaxFamilies][static_cast<size_t>(ResultClass::kCount)]{};
  Counter latency[kLatencyBuckets]{};  // per bucket, not cumulative
  Counter latencySumUs{0};
  Counter bytesReceived{0};
  Counter bytesSent{0};
  Counter scriptRuns[static_cast<size_t>(ResultClass::kCount)]{};
  Counter errors[static_cast<size_t>(ErrorKind::kCount)]{};
  Counter storageReadsBatched{0};

  void Add(Counter& c, uint64_t n = 1) { c.fetch_add(n, std::memory_order_relaxed); }
  void Request(size_t family, int32_t status, std::chrono::steady_clock::duration took);
  void LoginRefused(LoginRefusal why) { Add(loginsRefused[static_cast<size_t>(why)]); }
  void Error(ErrorKind kind) { Add(errors[static_cast<size_t>(kind)]); }
};

// The process's counters (the connection code counts bytes without a Server at hand).
Metrics& TheMetrics();

// The text exposition of the counters; `sessionsOpen` is read from the session table.
std::string RenderMetrics(const Metrics& m, size_t sessionsOpen);

// Serves GET /metrics on its own thread.
class MetricsServer {
 public:
  MetricsServer() = default;
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds now (so that a start that cannot bind fails before anything is created); false with
  // the system's reason in `error`.
  bool Bind(const std::string& address, uint16_t port, std::string* error);
  // Serves `render` on the bound socket.
  bool Start(std::function<std::string()> render, std::string* error);
  void Stop();
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  MHD_Daemon* daemon_ = nullptr;
  std::function<std::string()> render_;
  friend struct MetricsAccess;
};

// "PORT" or "ADDR:PORT" (an IPv4 address; loopback when left out); false for anything else.
bool ParseMetricsAddress(const std::string& text, std::string* address, uint16_t* port);

}  // namespace zdbd
