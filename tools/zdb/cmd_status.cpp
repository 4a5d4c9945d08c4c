// zdb status: a server's state for a person. With --metrics it reads the server's metrics
// page (the Prometheus text format over plain HTTP); otherwise it asks over the protocol
// itself: the probe, the version word, and the server's statistics function.
//
// The page is fetched with a few lines over the library's own platform layer rather than an
// HTTP library: one GET on loopback or a LAN, with every wait bounded, needs no dependency
// that the packages and the Windows build would then have to carry.
#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/platform.h"
#include "zdb/admin.h"
#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/sql_format.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

constexpr int kWaitMs = 5000;
constexpr size_t kMaxPage = 4 << 20;

struct StatusArgs {
  std::vector<std::string> args;
  std::string metrics, format = "table";
};

bool FetchMetrics(const std::string& address, std::string* body) {
  const auto colon = address.find(':');
  const std::string name = address.substr(0, colon);
  platform::Endpoint to;
  to.port = static_cast<uint16_t>(std::atoi(address.c_str() + colon + 1));
  if (!platform::ResolveName(name.c_str(), &to.address)) {
    Error("metrics: cannot resolve %s", name.c_str());
    return false;
  }
  platform::StartSockets();
  const platform::Socket s = platform::OpenTcp();
  if (s == platform::kNoSocket || !platform::Connect(s, to)) {
    if (s != platform::kNoSocket) platform::CloseSocket(s);
    Error("metrics: nothing answers at %s", address.c_str());
    return false;
  }
  const std::string request =
      "GET /metrics HTTP/1.0\r\nHost: " + address + "\r\nAccept: text/plain\r\n\r\n";
  std::string response;
  bool ok = platform::SendAll(s, request.data(), request.size());
  char buf[16384];
  while (ok) {
    if (platform::WaitReadable(s, kWaitMs) != 1) {
      Error("metrics: %s sent no complete answer within %d seconds", address.c_str(),
            kWaitMs / 1000);
      ok = false;
      break;
    }
    const long n = platform::ReceiveSome(s, buf, sizeof buf);
    if (n <= 0) break;
    response.append(buf, static_cast<size_t>(n));
    if (response.size() > kMaxPage) {
      Error("metrics: the page of %s is larger than 4 MiB", address.c_str());
      ok = false;
    }
  }
  platform::CloseSocket(s);
  if (!ok) return false;
  std::string why;
  if (!HttpBody(response, body, &why)) {
    Error("metrics: %s: %s", address.c_str(), why.c_str());
    return false;
  }
  return true;
}

void Print(const std::string& format, const std::vector<Row>& rows) {
  if (format == "table") {
    std::fputs(AlignedTable({}, rows).c_str(), stdout);
    return;
  }
  std::vector<JsonMember> members;
  for (const Row& r : rows) members.emplace_back(r[0], JsonString(r[1]));
  std::printf("%s\n", JsonObject(members).c_str());
}

int FromMetrics(const StatusArgs& a) {
  if (std::string why; !CheckHostPort(a.metrics, &why) || a.metrics.find(':') == std::string::npos)
    return Usage("status", "--metrics is ADDR:PORT with a port from 1 to 65535");
  std::string body;
  if (!FetchMetrics(a.metrics, &body)) return kExitFailure;
  const std::vector<MetricSample> samples = ParseMetrics(body, "zdbd_");
  if (samples.empty()) {
    Error("metrics: the page of %s holds no zdbd_ metric", a.metrics.c_str());
    return kExitFailure;
  }
  if (a.format == "json") {
    std::vector<std::string> objects;
    for (const MetricSample& s : samples)
      objects.push_back(JsonObject({{"name", JsonString(s.name)},
                                    {"labels", JsonString(s.labels)},
                                    {"value", JsonString(s.value)},
                                    {"help", JsonString(s.help)}}));
    std::fputs(JsonList(objects).c_str(), stdout);
    return kExitOk;
  }
  // For a person: a histogram by its sum and count, and labelled counters only where they
  // moved; JSON above keeps every sample.
  std::vector<Row> rows;
  for (const MetricSample& s : samples)
    if (s.name.size() < 7 || s.name.compare(s.name.size() - 7, 7, "_bucket") != 0)
      if (s.labels.empty() || s.value != "0")
        rows.push_back({s.name.substr(5) + s.labels, s.value, s.help});
  std::fputs(AlignedTable({"metric", "value", "meaning"}, rows).c_str(), stdout);
  return kExitOk;
}

int FromProtocol(StatusArgs& a) {
  std::string host;
  if (!TakeHost("status", a.args, 0, &host)) return kExitUsage;
  ServerLogin session;
  if (!session.Open(host)) return kExitFailure;
  std::vector<Row> rows = {{"server", host}, {"answers", "yes"}};
  uint32_t version = 0;
  if (!Check("the version request", ZDB_GetVersion(&version))) return kExitFailure;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(version));
  rows.push_back({"version", hex});
  char in[1] = {0};
  char out[1024] = {};
  if (int32_t r = Z_Internal(2, in, 1, out, sizeof out - 1); r == ZDB_OK) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) rows.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
  } else {
    Info("the server gives no statistics: %s", ResultText(r).c_str());
  }
  Print(a.format, rows);
  return kExitOk;
}

}  // namespace

void RegisterStatusCommand(CLI::App& app, Commands& commands) {
  auto a = std::make_shared<StatusArgs>();
  auto* status = app.add_subcommand(
      "status", "a server's state: from its metrics page when given, else over the protocol");
  status->add_option("HOST", a->args, "[HOST[:PORT]]");
  status->add_option("--metrics", a->metrics, "read the server's metrics page at ADDR:PORT")
      ->type_name("ADDR:PORT");
  status->add_option("-f,--format", a->format, "table (the default) or json")
      ->check(CLI::IsMember({"table", "json"}));
  commands.emplace_back(status,
                        [a] { return a->metrics.empty() ? FromProtocol(*a) : FromMetrics(*a); });
}

}  // namespace zdb::cli
