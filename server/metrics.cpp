#include "metrics.h"

#include <arpa/inet.h>
#if ZDBD_METRICS_HTTP
#include <microhttpd.h>
#endif
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dispatch.h"
#include "status.h"

namespace zdbd {

namespace {

constexpr const char* kClassNames[] = {"ok", "refused", "malformed", "failed", "internal"};
static_assert(sizeof kClassNames / sizeof kClassNames[0] ==
              static_cast<size_t>(ResultClass::kCount));

// The opcode table is laid out in groups; each family starts at the row of this name and runs
// to the next family's first row.
struct FamilyStart {
  const char* family;
  const char* firstOp;
};
constexpr FamilyStart kFamilies[] = {
    {"session", "Login"},   {"select", "UseDB"},        {"records", "DBLock"},
    {"values", "GetField"}, {"fields", "InfoFields"},   {"catalog", "NewDB"},
    {"users", "ValidUser"}, {"indexes", "CreateIndex"}, {"constraints", "AddConstrain"},
    {"xrefs", "AddFXREF"},  {"files", "BackupTable"},   {"misc", "Alias"},
    {"streams", "SqlRun"},
};
constexpr size_t kKnownFamilies = sizeof kFamilies / sizeof kFamilies[0];
constexpr size_t kUnknownFamily = kKnownFamilies;
static_assert(kKnownFamilies + 1 <= kMaxFamilies);

// The family of every row of the opcode table, by its index.
const std::vector<size_t>& RowFamilies() {
  static const std::vector<size_t> families = [] {
    size_t count = 0;
    const OpRow* rows = OpTable(&count);
    std::vector<size_t> out(count, kUnknownFamily);
    size_t current = kUnknownFamily;
    for (size_t i = 0; i < count; ++i) {
      for (size_t f = 0; f < kKnownFamilies; ++f)
        if (std::strcmp(rows[i].name, kFamilies[f].firstOp) == 0) current = f;
      out[i] = current;
    }
    return out;
  }();
  return families;
}

constexpr const char* kRefusalNames[] = {"credentials", "session_limit", "remote_without_users",
                                         "handle_claim"};
static_assert(sizeof kRefusalNames / sizeof kRefusalNames[0] ==
              static_cast<size_t>(LoginRefusal::kCount));
constexpr const char* kErrorNames[] = {"connection_dropped", "reply_not_sent"};
static_assert(sizeof kErrorNames / sizeof kErrorNames[0] == static_cast<size_t>(ErrorKind::kCount));

uint64_t Get(const std::atomic<uint64_t>& c) {
  return c.load(std::memory_order_relaxed);
}

class Text {
 public:
  void Head(const char* name, const char* type, const char* help) {
    out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Sample(const std::string& name, const std::string& labels, uint64_t value) {
    out_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + std::to_string(value) + "\n";
  }
  void Sample(const std::string& name, const std::string& labels, double value) {
    char number[64];
    std::snprintf(number, sizeof number, "%.6f", value);
    out_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + number + "\n";
  }
  // A metric of one sample.
  void One(const char* name, const char* type, const char* help, uint64_t value) {
    Head(name, type, help);
    Sample(name, "", value);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

std::string SecondsText(uint64_t us) {
  char number[32];
  std::snprintf(number, sizeof number, "%g", static_cast<double>(us) / 1e6);
  return number;
}

}  // namespace

ResultClass ClassOf(int32_t status) {
  switch (status) {
    case kOk:
      return ResultClass::kOk;
    case kLoginRefused:
    case kDenied:
    case kNoSession:
    case kTooManySessions:
      return ResultClass::kRefused;
    case kUnsupported:
    case kMalformed:
      return ResultClass::kMalformed;
    case kInternal:
      return ResultClass::kInternal;
    default:
      return ResultClass::kFailed;
  }
}

const char* ResultClassName(ResultClass c) {
  return kClassNames[static_cast<size_t>(c)];
}

size_t FamilyCount() {
  return kKnownFamilies + 1;
}

const char* FamilyName(size_t family) {
  return family < kKnownFamilies ? kFamilies[family].family : "unknown";
}

size_t FamilyOf(const OpRow* row) {
  if (!row) return kUnknownFamily;
  size_t count = 0;
  const OpRow* rows = OpTable(&count);
  size_t index = static_cast<size_t>(row - rows);
  return index < count ? RowFamilies()[index] : kUnknownFamily;
}

void Metrics::Request(size_t family, int32_t status, std::chrono::steady_clock::duration took) {
  Add(requests[family][static_cast<size_t>(ClassOf(status))]);
  auto us =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(took).count());
  size_t bucket = 0;
  while (bucket + 1 < kLatencyBuckets && us > kLatencyBoundsUs[bucket]) ++bucket;
  Add(latency[bucket]);
  Add(latencySumUs, us);
}

Metrics& TheMetrics() {
  static Metrics metrics;
  return metrics;
}

std::string RenderMetrics(const Metrics& m, size_t sessionsOpen) {
  Text t;
  t.Head("zdbd_uptime_seconds", "gauge", "Seconds since the server started.");
  t.Sample("zdbd_uptime_seconds", "",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - m.started).count());
  t.One("zdbd_connections_accepted_total", "counter", "Client connections accepted.",
        Get(m.connectionsAccepted));
  t.One("zdbd_connections_refused_total", "counter",
        "Client connections refused at the connection limit.", Get(m.connectionsRefused));
  t.One("zdbd_connections_open", "gauge", "Client connections open now.",
        static_cast<uint64_t>(std::max<int64_t>(0, m.connectionsOpen.load())));
  t.One("zdbd_sessions_opened_total", "counter", "Sessions opened by a login.",
        Get(m.sessionsOpened));
  t.One("zdbd_sessions_ended_total", "counter",
        "Sessions ended (logout, idle expiry, server stop).", Get(m.sessionsEnded));
  t.One("zdbd_sessions_open", "gauge", "Sessions live now.", static_cast<uint64_t>(sessionsOpen));
  t.Head("zdbd_logins_refused_total", "counter", "Logins refused, by reason.");
  for (size_t i = 0; i < static_cast<size_t>(LoginRefusal::kCount); ++i)
    t.Sample("zdbd_logins_refused_total", std::string("reason=\"") + kRefusalNames[i] + "\"",
             Get(m.loginsRefused[i]));
  t.Head("zdbd_requests_total", "counter", "Requests answered, by opcode family and result.");
  for (size_t f = 0; f < FamilyCount(); ++f)
    for (size_t c = 0; c < static_cast<size_t>(ResultClass::kCount); ++c)
      t.Sample("zdbd_requests_total",
               std::string("family=\"") + FamilyName(f) + "\",result=\"" + kClassNames[c] + "\"",
               Get(m.requests[f][c]));
  t.Head("zdbd_request_duration_seconds", "histogram",
         "Time from a request's arrival to its reply sent.");
  uint64_t cumulative = 0;
  for (size_t b = 0; b < kLatencyBuckets; ++b) {
    cumulative += Get(m.latency[b]);
    std::string le = b + 1 < kLatencyBuckets ? SecondsText(kLatencyBoundsUs[b]) : "+Inf";
    t.Sample("zdbd_request_duration_seconds_bucket", "le=\"" + le + "\"", cumulative);
  }
  t.Sample("zdbd_request_duration_seconds_sum", "", static_cast<double>(Get(m.latencySumUs)) / 1e6);
  t.Sample("zdbd_request_duration_seconds_count", "", cumulative);
  t.One("zdbd_received_bytes_total", "counter",
        "Bytes received from clients: requests and uploaded file streams.", Get(m.bytesReceived));
  t.One("zdbd_sent_bytes_total", "counter",
        "Bytes sent to clients: replies, file streams and script rows.", Get(m.bytesSent));
  t.Head("zdbd_script_runs_total", "counter", "SQL script runs, by result.");
  for (size_t c = 0; c < static_cast<size_t>(ResultClass::kCount); ++c)
    t.Sample("zdbd_script_runs_total", std::string("result=\"") + kClassNames[c] + "\"",
             Get(m.scriptRuns[c]));
  t.Head("zdbd_errors_total", "counter",
         "Connections dropped for a broken or late request, and replies that could not be sent.");
  for (size_t k = 0; k < static_cast<size_t>(ErrorKind::kCount); ++k)
    t.Sample("zdbd_errors_total", std::string("kind=\"") + kErrorNames[k] + "\"", Get(m.errors[k]));
  t.One("zdbd_storage_reads_batched_total", "counter",
        "PostgreSQL reads sent together with reads of other sessions.", Get(m.storageReadsBatched));
  return t.Take();
}

// ---- HTTP ------------------------------------------------------------------------------------

#if ZDBD_METRICS_HTTP
struct MetricsAccess {
  static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char*, size_t*, void**) {
    auto* self = static_cast<MetricsServer*>(cls);
    unsigned code = MHD_HTTP_OK;
    std::string body;
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
      code = MHD_HTTP_METHOD_NOT_ALLOWED;
      body = "only GET\n";
    } else if (std::strcmp(url, "/metrics") != 0) {
      code = MHD_HTTP_NOT_FOUND;
      body = "the metrics are at /metrics\n";
    } else {
      body = self->render_();
    }
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                            code == MHD_HTTP_OK ? "text/plain; version=0.0.4; charset=utf-8"
                                                : "text/plain; charset=utf-8");
    if (code == MHD_HTTP_METHOD_NOT_ALLOWED)
      MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    MHD_Result r = MHD_queue_response(connection, code, response);
    MHD_destroy_response(response);
    return r;
  }
};

#endif

bool ParseMetricsAddress(const std::string& text, std::string* address, uint16_t* port) {
  size_t colon = text.rfind(':');
  std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  in_addr a{};
  if (host.empty() || ::inet_pton(AF_INET, host.c_str(), &a) != 1) return false;
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long n = std::strtol(digits.c_str(), nullptr, 10);
  if (n > 65535) return false;
  *address = host;
  *port = static_cast<uint16_t>(n);
  return true;
}

MetricsServer::~MetricsServer() {
  Stop();
}

bool MetricsServer::Bind(const std::string& address, uint16_t port, std::string* error) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd_, 16) != 0) {
    *error = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  }
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  return true;
}

bool MetricsServer::Start(std::function<std::string()> render, std::string* error) {
  render_ = std::move(render);
#if !ZDBD_METRICS_HTTP
  *error = "this zdbd was built without libmicrohttpd";
  return false;
#else
  // A scraper is one or two clients: a small connection cap and a short time-out keep a stuck
  // or hostile one from holding the thread.
  daemon_ =
      MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr, &MetricsAccess::Answer,
                       this, MHD_OPTION_LISTEN_SOCKET, fd_, MHD_OPTION_CONNECTION_LIMIT, 16u,
                       MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_END);
  if (!daemon_) {
    *error = "the HTTP server did not start";
    return false;
  }
  fd_ = -1;  // the daemon owns it now
  return true;
#endif
}

void MetricsServer::Stop() {
#if ZDBD_METRICS_HTTP
  if (daemon_) MHD_stop_daemon(daemon_);
#endif
  daemon_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace zdbd
