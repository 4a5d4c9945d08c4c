// zdb trace: a relay that prints every request, stream and reply passing to a server.
#include <atomic>
#include <csignal>
#include <memory>

#include "zdb/commands.h"
#include "zdb/common.h"
#if ZDB_TOOL_TRACE
#include "zdb/trace.h"
#endif

namespace zdb::cli {
namespace {

#if ZDB_TOOL_TRACE
std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop = true;
}
#endif

struct TraceArgs {
  std::vector<std::string> args;
  int port = 0;
  int count = -1;
  int duration = -1;
  bool showPasswords = false;
};

int RunTrace(TraceArgs& a) {
#if !ZDB_TOOL_TRACE
  (void)a;
  Error("trace: not in this build of zdb (the relay is written for POSIX sockets)");
  return kExitFailure;
#else
  std::string target;
  if (!TakeHost("trace", a.args, 0, &target)) return kExitUsage;
  trace::TraceOptions o;
  o.listenPort = static_cast<uint16_t>(a.port);
  const auto colon = target.rfind(':');
  o.upstreamHost = target.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = target.substr(colon + 1);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port.substr(0, 6)) > 65535)
      return Usage("trace", "the port of '" + target + "' is not a number from 0 to 65535");
    o.upstreamPort = static_cast<uint16_t>(std::stoi(port));
  }
  o.maxSessions = a.count;
  o.durationSeconds = a.duration;
  o.showPasswords = a.showPasswords;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  return trace::RunTracer(o, stdout, g_stop);
#endif
}

}  // namespace

void RegisterTraceCommand(CLI::App& app, Commands& commands) {
  auto a = std::make_shared<TraceArgs>();
  auto* t = app.add_subcommand(
      "trace",
      "listen on a loopback port, relay everything to the server and print each request, "
      "stream and reply");
  t->add_option("HOST", a->args, "[HOST[:PORT]] the server to relay to");
  t->add_option("-l,--listen", a->port, "loopback port to listen on (0: any free one, printed)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  t->add_option("-c,--count", a->count,
                "stop after N sessions have logged out and their connections closed")
      ->check(CLI::Range(1, 1000000));
  t->add_option("-d,--duration", a->duration, "stop after this many seconds")
      ->check(CLI::Range(1, 31 * 24 * 3600));
  t->add_flag("--show-passwords", a->showPasswords,
              "print the password slots of logins and user requests instead of ***");
  commands.emplace_back(t, [a] { return RunTrace(*a); });
}

}  // namespace zdb::cli
