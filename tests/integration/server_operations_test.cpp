// zdbd as an operator runs it: help and version, starts that fail and leave nothing behind, the
// metrics endpoint scraped with a real HTTP client before and after a known load, the log file
// reopened on SIGHUP, and a flood of refused logins summed up in the log.
// POSIX only: it runs zdbd's command line and signals it, which the Windows ring cannot.
#ifndef _WIN32
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int code = -1;
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a shell command line with zdbd's path in $ZDBD; stdout and stderr kept apart.
Ran Shell(const std::string& dir, const std::string& line) {
  std::string cmd = "ZDBD='" ZDBD_PATH "'; cd '" + dir + "' && { " + line + "; } >'" + dir +
                    "/o' 2>'" + dir + "/e' </dev/null";
  int st = std::system(cmd.c_str());
  Ran r;
  r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = ReadFile(dir + "/o");
  r.err = ReadFile(dir + "/e");
  return r;
}

TEST(ServerOperations, HelpVersionAndFailedStartsLeaveNothingBehind) {
  TempDir dir;
  Ran help = Shell(dir.path(), "\"$ZDBD\" --help");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("  --stop-grace SECONDS"), std::string::npos) << help.out;
  Ran version = Shell(dir.path(), "\"$ZDBD\" --version");
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("zdbd [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  Ran bogus = Shell(dir.path(), "\"$ZDBD\" --bogus");
  EXPECT_EQ(bogus.code, 2);
  EXPECT_EQ(bogus.err, "zdbd: unknown option --bogus (zdbd --help lists the options)\n");

  // The port taken: no data directory is made.
  int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7F000001);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len);
  std::string port = std::to_string(ntohs(a.sin_port));
  Ran busy = Shell(dir.path(), "\"$ZDBD\" --port " + port + " --data fresh");
  EXPECT_EQ(busy.code, 1);
  EXPECT_NE(busy.err.find("error: cannot listen on 127.0.0.1:" + port + ": Address already in use"),
            std::string::npos)
      << busy.err;
  Ran busyMetrics = Shell(dir.path(), "\"$ZDBD\" --port 0 --data fresh --metrics " + port);
  EXPECT_EQ(busyMetrics.code, 1);
  EXPECT_NE(busyMetrics.err.find("cannot serve metrics on 127.0.0.1:" + port), std::string::npos);
  ::close(taken);
  EXPECT_FALSE(fs::exists(dir.path() + "/fresh"));

  // A data directory that is a file, or under one: the reason is the system's.
  std::ofstream(dir.path() + "/plain") << "x";
  Ran file = Shell(dir.path(), "\"$ZDBD\" --port 0 --data plain");
  EXPECT_EQ(file.code, 1);
  EXPECT_NE(file.err.find("cannot use data directory plain: not a directory"), std::string::npos)
      << file.err;
  Ran under = Shell(dir.path(), "\"$ZDBD\" --port 0 --data plain/db");
  EXPECT_NE(under.err.find("cannot use data directory plain/db: Not a directory"),
            std::string::npos)
      << under.err;
  Ran log = Shell(dir.path(), "\"$ZDBD\" --port 0 --data fresh --log nodir/zdbd.log");
  EXPECT_EQ(log.code, 1);
  EXPECT_EQ(log.err, "zdbd: cannot open log file nodir/zdbd.log: No such file or directory\n");
  EXPECT_FALSE(fs::exists(dir.path() + "/fresh"));

  // --init-admin makes the directory and the administrator, in the storage the server will use;
  // a second time the name is taken.
  std::string storage = ZdbdProcess::MakeStorageFor(dir.path() + "/made");
  if (!storage.empty()) storage = " --storage '" + storage + "'";
  Ran init = Shell(dir.path(), "echo s3cret | \"$ZDBD\" --init-admin boss --data made" + storage);
  EXPECT_EQ(init.code, 0) << init.err;
  EXPECT_EQ(init.out, "administrator 'boss' added to made\n");
  Ran again = Shell(dir.path(), "echo other | \"$ZDBD\" --init-admin boss --data made" + storage);
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("user 'boss' not added: a user of that name exists"), std::string::npos);
  ZdbdProcess server(dir.path() + "/made");
  ASSERT_TRUE(server.running());
  EXPECT_EQ(LoginRaw(server.port(), "boss", "other"), wire::kNoSession);
  uint32_t h = LoginRaw(server.port(), "boss", "s3cret");
  ASSERT_NE(h, wire::kNoSession);
  // An administrator: it may add users.
  EXPECT_EQ(
      CallOnce(server.port(), 0x0001, Opcode("AddUser"), Texts({"ann", "pw", "USER"}), h).status,
      1000);
}

// Samples of a scrape by their full name with labels.
TEST(ServerOperations, MetricsMoveByExactlyTheLoad) {
  TempDir dir;
  ZdbdProcess server(dir.path() + "/data", {"--metrics", "127.0.0.1:0", "--max-sessions", "2"});
  ASSERT_TRUE(server.running());
  uint16_t mport = MetricsPort(server);
  ASSERT_NE(mport, 0) << server.Log();
  auto before = Scrape(mport);
  ASSERT_FALSE(before.empty());

  // The load: 2 logins (the cap), 1 refused at the cap, 3 version requests, 1 request of an
  // unknown opcode, 1 read without a session, a script, and 2 logouts; every request on a
  // connection of its own.
  const uint16_t port = server.port();
  uint32_t a = LoginRaw(port), b = LoginRaw(port);
  ASSERT_NE(a, wire::kNoSession);
  ASSERT_NE(b, wire::kNoSession);
  EXPECT_EQ(LoginRaw(port), wire::kNoSession);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(CallOnce(port, 0x0001, Opcode("GetVersion"), {U32Slot(0)}, a).status, 1000);
  EXPECT_EQ(CallOnce(port, 0x0001, 9999, {}, a).status, 4001);
  EXPECT_EQ(CallOnce(port, 0x0001, Opcode("SelDB"), {TextSlot("X")}, 0x12345).status, 4003);
  // No database is selected: the script is refused by its rules, as a failed run.
  EXPECT_EQ(Script(port, a, "SELECT 1").status, 4010);
  EXPECT_EQ(CallOnce(port, 0x0001, Opcode("Logout"), {}, a).status, 1000);
  EXPECT_EQ(CallOnce(port, 0x0001, Opcode("Logout"), {}, b).status, 1000);

  auto after = Scrape(mport);
  auto delta = [&](const std::string& name) { return after[name] - before[name]; };
  EXPECT_EQ(delta("zdbd_connections_accepted_total"), 11);
  EXPECT_EQ(after["zdbd_connections_open"], 0);
  EXPECT_EQ(delta("zdbd_sessions_opened_total"), 2);
  EXPECT_EQ(delta("zdbd_sessions_ended_total"), 2);
  EXPECT_EQ(after["zdbd_sessions_open"], 0);
  EXPECT_EQ(delta("zdbd_logins_refused_total{reason=\"session_limit\"}"), 1);
  EXPECT_EQ(delta("zdbd_requests_total{family=\"session\",result=\"ok\"}"), 2 + 3 + 2);
  EXPECT_EQ(delta("zdbd_requests_total{family=\"session\",result=\"refused\"}"), 1);
  EXPECT_EQ(delta("zdbd_requests_total{family=\"unknown\",result=\"malformed\"}"), 1);
  EXPECT_EQ(delta("zdbd_requests_total{family=\"select\",result=\"refused\"}"), 1);
  EXPECT_EQ(delta("zdbd_requests_total{family=\"streams\",result=\"failed\"}"), 1);
  EXPECT_EQ(delta("zdbd_script_runs_total{result=\"failed\"}"), 1);
  EXPECT_EQ(delta("zdbd_request_duration_seconds_count"), 11);
  EXPECT_EQ(delta("zdbd_request_duration_seconds_bucket{le=\"+Inf\"}"), 11);
  EXPECT_GT(delta("zdbd_received_bytes_total"), 11 * 160);  // every frame has its 160-byte head
  EXPECT_GT(delta("zdbd_sent_bytes_total"), 0);
  EXPECT_GT(after["zdbd_uptime_seconds"], 0);
  double total = 0;
  for (const auto& [name, value] : after)
    if (name.rfind("zdbd_requests_total", 0) == 0) total += value - before[name];
  EXPECT_EQ(total, 11);

  // Not the metrics path: 404 from the HTTP server, not a hand-made answer.
  std::string cmd =
      "curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(mport) + "/other";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  char code[8] = {};
  ASSERT_NE(std::fgets(code, sizeof code, p), nullptr);
  ::pclose(p);
  EXPECT_STREQ(code, "404");
}

TEST(ServerOperations, LogFileReopensOnHangUpAndFloodsAreSummed) {
  TempDir dir;
  std::string log = dir.path() + "/zdbd.log";
  auto server = std::make_unique<ZdbdProcess>(
      dir.path() + "/data", std::vector<std::string>{"--log", log, "--max-sessions", "1"});
  ASSERT_TRUE(server->running());
  EXPECT_EQ(server->Log(), "");  // everything goes to the file
  ASSERT_NE(LoginRaw(server->port()), wire::kNoSession);
  // A flood of logins against the session cap: 400 refused.
  for (int i = 0; i < 400; ++i) ASSERT_EQ(LoginRaw(server->port()), wire::kNoSession);
  ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
  ::kill(static_cast<pid_t>(server->pid()), SIGHUP);
  // The reopen has happened once the new file exists.
  for (int i = 0; i < 200 && !fs::exists(log); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(log));
  EXPECT_EQ(server->Stop(), 0);

  std::string first = ReadFile(log + ".1"), second = ReadFile(log);
  auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
  // Each refused login is also a failed request: 5 lines of each kind, then the counts.
  EXPECT_LT(lines(first), 20) << first;
  EXPECT_NE(first.find("zdbd["), std::string::npos);
  std::string all = first + second;
  // The windows closed at the stop, well within their 10 s, and say how long they covered.
  for (const char* what : {"logins refused at the session limit", "failed requests"})
    EXPECT_TRUE(std::regex_search(all, std::regex(std::string("warning: \\.\\.\\. and 395 more ") +
                                                  what + " in the last [1-9] s\n")))
        << what << "\n"
        << all;
  EXPECT_NE(second.find("info: log reopened"), std::string::npos) << second;
  EXPECT_NE(second.find("info: stopped after 401 requests"), std::string::npos) << second;
}

}  // namespace
}  // namespace zdb::test
#endif  // _WIN32
