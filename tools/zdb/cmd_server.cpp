// Commands about a server as a whole: probe, stop, error texts and discovery.
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

bool Select(const std::string& host) {
  const int32_t r = ZDB_SelHost(host.c_str());
  if (r == ZDB_OK) return true;
  if (r == ZDB_PROBE_SILENT)
    Error("no server answers at %s", host.c_str());
  else
    Error("cannot use host %s: %s", host.c_str(), ResultText(r).c_str());
  return false;
}

int Probe(std::vector<std::string> args) {
  std::string host;
  if (!TakeHost("probe", args, 0, &host)) return kExitUsage;
  if (!Select(host)) return kExitFailure;
  std::printf("%s: a server answers\n", host.c_str());
  return kExitOk;
}

int Stop(std::vector<std::string> args) {
  std::string host;
  if (!TakeHost("stop", args, 0, &host)) return kExitUsage;
  if (!Select(host)) return kExitFailure;
  const int32_t r = ZDB_Stop(host.c_str());
  if (r == ZDB_STOP_DONE) {
    Info("%s: the server has stopped", host.c_str());
    return kExitOk;
  }
  if (r == ZDB_UDP_FAILURE) {
    char text[64] = {};
    ZDB_TCPError(text);
    Error("%s: stop failed: %s %s", host.c_str(), LibraryText(r).c_str(), text);
  } else {
    Error("%s: %s", host.c_str(), ResultText(r).c_str());
  }
  return kExitFailure;
}

int ErrorText(std::vector<std::string> args) {
  if (args.empty() || args.size() > 2) return Usage("error", "give [HOST[:PORT]] CODE");
  int32_t code = 0;
  try {
    size_t used = 0;
    const long v = std::stol(args.back(), &used, 10);
    if (used != args.back().size() || v < INT32_MIN || v > INT32_MAX) throw std::out_of_range("");
    code = static_cast<int32_t>(v);
  } catch (const std::exception&) {
    return Usage("error", "CODE must be a whole number, not '" + args.back() + "'");
  }
  if (IsLibraryCode(code) || code == ZDB_OK) {
    // The library's own codes never reach a server; their texts are the tool's.
    std::printf("%d %s\n", code, LibraryText(code).c_str());
    return kExitOk;
  }
  std::string host;
  if (!TakeHost("error", args, 1, &host)) return kExitUsage;
  ServerLogin session;
  if (!session.Open(host)) return kExitFailure;
  char text[160] = {};
  const int32_t r = ZDB_GetError(static_cast<uint32_t>(code), text);
  if (r != ZDB_OK) {
    Error("the error-text request failed: %s", ResultText(r).c_str());
    return kExitFailure;
  }
  std::printf("%d %s\n", code, text);
  // The server answers every code; one it does not know is still worth a non-zero exit.
  return std::string(text).rfind("Unknown status", 0) == 0 ? kExitFailure : kExitOk;
}

int Servers(int port, int max) {
  std::vector<char*> list(static_cast<size_t>(max) + 2, nullptr);
  const int32_t n = ZDB_GetServers(list.data(), max, port);
  if (n == ZDB_ERR_COMMUNICATION) {
    Error("discovery failed: %s", LibraryText(n).c_str());
    return kExitFailure;
  }
  Info("%d server(s) answered", n);
  for (int i = 0; i < n; ++i) std::printf("%s\n", list[static_cast<size_t>(i)]);
  return kExitOk;
}

}  // namespace

void RegisterServerCommands(CLI::App& app, Commands& commands) {
  struct State {
    std::vector<std::string> probe, stop, error;
    int port = 0, max = 16;
  };
  auto s = std::make_shared<State>();
  auto* probe = app.add_subcommand("probe", "does a server answer at HOST?");
  probe->add_option("HOST", s->probe, "[HOST[:PORT]]");
  commands.emplace_back(probe, [s] { return Probe(s->probe); });

  auto* stop = app.add_subcommand("stop", "ask the server at HOST to stop");
  stop->add_option("HOST", s->stop, "[HOST[:PORT]]");
  commands.emplace_back(stop, [s] { return Stop(s->stop); });

  auto* error = app.add_subcommand(
      "error",
      "the text of a result code: the server's for its statuses, the tool's own for "
      "the library's codes (no server needed)");
  error->add_option("ARGS", s->error, "[HOST[:PORT]] CODE")->required();
  commands.emplace_back(error, [s] { return ErrorText(s->error); });

  auto* servers = app.add_subcommand(
      "servers", "broadcast a discovery on the local networks and list the servers that answer");
  servers->add_option("--port", s->port, "the servers' port (0: 2500)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  servers->add_option("--max", s->max, "list at most this many")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  commands.emplace_back(servers, [s] { return Servers(s->port, s->max); });
}

}  // namespace zdb::cli
