// zdbd_launcher: starts and stops zdbd servers for test programs that cannot start a Linux
// program themselves — the Windows build of the integration ring, running under Wine. It listens
// on 127.0.0.1 and serves one request per connection, one connection at a time (the test programs
// that use it run their tests one after another). Each request is one line of tab-separated
// fields, each answer starts with "ok" or "error":
//
//   start <data dir> <zdbd option>...  ->  ok <pid> <port>
//   terminate <pid>                     ->  ok                 (SIGTERM, no wait)
//   kill <pid>                          ->  ok                 (SIGKILL, no wait)
//   wait <pid> <ms>                     ->  ok <exit status> | running
//   stop <pid>                          ->  ok <exit status>   (SIGTERM and wait, as Stop())
//   log <pid>                           ->  ok <n>, a newline, then n bytes of its stderr
//   rss <pid>                           ->  ok <KiB>
//   end <pid>                           ->  ok                 (stopped if needed, log removed)
//
// It prints "zdbd launcher listening on 127.0.0.1:PORT" first. It ends on SIGTERM or SIGINT, or
// by itself after --lifetime seconds (3600 unless given), and stops every server it started.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_platform.h"
#include "support/zdbd_process.h"

namespace {

using zdb::test::ZdbdProcess;
namespace platform = zdb::platform;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::string::size_type from = 0;
  for (;;) {
    auto tab = line.find('\t', from);
    out.push_back(line.substr(from, tab - from));
    if (tab == std::string::npos) return out;
    from = tab + 1;
  }
}

class Launcher {
 public:
  std::string Handle(const std::string& line) {
    std::vector<std::string> f = SplitTabs(line);
    const std::string& verb = f[0];
    if (verb == "start") {
      if (f.size() < 2 || f[1].empty()) return "error\tstart needs a data directory\n";
      auto server =
          std::make_unique<ZdbdProcess>(f[1], std::vector<std::string>(f.begin() + 2, f.end()));
      if (!server->running()) return "error\tzdbd did not start\n";
      std::string answer =
          "ok\t" + std::to_string(server->pid()) + "\t" + std::to_string(server->port()) + "\n";
      servers_[server->pid()] = std::move(server);
      return answer;
    }
    if (f.size() < 2) return "error\tno server named\n";
    auto it = servers_.find(std::atol(f[1].c_str()));
    if (it == servers_.end()) return "error\tno such server\n";
    ZdbdProcess& server = *it->second;
    if (verb == "terminate") {
      server.Terminate();
      return "ok\n";
    }
    if (verb == "kill") {
      server.Kill();
      return "ok\n";
    }
    if (verb == "wait" && f.size() == 3) {
      int status = -1;
      if (!server.WaitExit(std::atoi(f[2].c_str()), &status)) return "running\n";
      return "ok\t" + std::to_string(status) + "\n";
    }
    if (verb == "stop") return "ok\t" + std::to_string(server.Stop()) + "\n";
    if (verb == "log") {
      std::string log = server.Log();
      return "ok\t" + std::to_string(log.size()) + "\n" + log;
    }
    if (verb == "rss") return "ok\t" + std::to_string(server.ResidentKb()) + "\n";
    if (verb == "end") {
      servers_.erase(it);
      return "ok\n";
    }
    return "error\tunknown request\n";
  }

 private:
  std::map<long, std::unique_ptr<ZdbdProcess>> servers_;
};

// One request line, up to its newline; empty when the client sent none within 10 s.
std::string ReadLine(platform::Socket s) {
  std::string line;
  char ch;
  while (line.size() < 65536 && platform::WaitReadable(s, 10000) == 1 &&
         platform::ReceiveSome(s, &ch, 1) == 1) {
    if (ch == '\n') return line;
    line += ch;
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  long lifetime = 3600;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--lifetime") lifetime = std::atol(argv[i + 1]);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  platform::Socket listening = zdb::test::ListenTcp(0x7F000001, true);
  if (listening == platform::kNoSocket) {
    std::fprintf(stderr, "zdbd_launcher: cannot listen on 127.0.0.1\n");
    return 1;
  }
  std::printf("zdbd launcher listening on 127.0.0.1:%u\n", zdb::test::LocalPort(listening));
  std::fflush(stdout);

  Launcher launcher;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  while (!g_stop && std::chrono::steady_clock::now() < until) {
    if (platform::WaitReadable(listening, 500) != 1) continue;
    platform::Socket c = zdb::test::Accept(listening);
    if (c == platform::kNoSocket) continue;
    std::string line = ReadLine(c);
    if (!line.empty()) {
      std::string answer = launcher.Handle(line);
      platform::SendAll(c, answer.data(), answer.size());
    }
    platform::CloseSocket(c);
  }
  platform::CloseSocket(listening);
  return 0;  // the launcher's destructor stops every server still running
}
