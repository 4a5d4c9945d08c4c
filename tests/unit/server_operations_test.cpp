// zdbd's operating pieces on their own: the command line and its help, the log's form and its
// summaries of repeated events, and the metrics' text.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "dispatch.h"
#include "log.h"
#include "metrics.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "support/zdbd_process.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdbd {
namespace {

std::string Parse(std::vector<const char*> args, Options* o) {
  args.insert(args.begin(), "zdbd");
  std::string err;
  return ParseOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), o, &err)
             ? "ok"
             : err;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ServerOperations, OptionErrorsNameTheOptionAndHelpShowsDefaults) {
  Options o;
  EXPECT_EQ(Parse({"--bogus"}, &o), "unknown option --bogus (zdbd --help lists the options)");
  EXPECT_EQ(Parse({"--port", "x"}, &o), "bad value for --port: 'x' (a number from 0 to 65535)");
  EXPECT_EQ(Parse({"--max-sessions"}, &o), "--max-sessions needs a value: N");
  EXPECT_EQ(Parse({"--bind", "localhost"}, &o),
            "bad value for --bind: 'localhost' (expected ADDR)");
  EXPECT_EQ(Parse({"--metrics", "127.0.0.1:99999"}, &o),
            "bad value for --metrics: '127.0.0.1:99999' (expected [ADDR:]PORT)");
  // Only code pages PostgreSQL converts: SQL_ASCII would pass bytes on unconverted.
  EXPECT_EQ(Parse({"--storage-encoding", "SQL_ASCII"}, &o),
            "bad value for --storage-encoding: 'SQL_ASCII' (expected NAME)");
  EXPECT_EQ(Parse({"--storage-encoding", "latin11"}, &o),
            "bad value for --storage-encoding: 'latin11' (expected NAME)");
  Options win;
  ASSERT_EQ(Parse({"--storage-encoding", "win1252"}, &win), "ok");
  EXPECT_EQ(win.storageEncoding, "WIN1252");
  EXPECT_EQ(Options().storageEncoding, "LATIN1");
  EXPECT_FALSE(o.help);
  ASSERT_EQ(
      Parse({"--metrics", "9250", "--log", "syslog", "--init-admin", "root1", "-h", "--version"},
            &o),
      "ok");
  EXPECT_EQ(o.metricsAddress, "127.0.0.1");  // loopback unless an address is given
  EXPECT_EQ(o.metricsPort, 9250);
  EXPECT_EQ(o.log, "syslog");
  EXPECT_EQ(o.initAdmin, "root1");
  EXPECT_TRUE(o.help && o.version);
  Options other;
  ASSERT_EQ(Parse({"--metrics", "127.0.0.2:0"}, &other), "ok");
  EXPECT_EQ(other.metricsAddress, "127.0.0.2");
  EXPECT_EQ(other.metricsPort, 0);

  std::string usage = Usage();
  for (const char* line : {"  --port N                    TCP and UDP port; 0 picks one free for "
                           "both (default 2500)\n",
                           "  --max-frame BYTES           largest request frame accepted (default "
                           "4194304)\n",
                           "  --durable                   SQLite synchronous=FULL"})
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  EXPECT_EQ(VersionText().rfind("zdbd ", 0), 0u);
}

TEST(ServerOperations, LogLinesHaveOneFormAndRepeatsAreSummed) {
  EXPECT_EQ(FormatLogLine(0, LogLevel::kWarning, "m"),
            "1970-01-01T00:00:00Z zdbd[" + std::to_string(::getpid()) + "] warning: m");
  zdb::test::TempDir dir;
  std::string path = dir.path() + "/zdbd.log";
  std::string err;
  ASSERT_TRUE(LogTo(path, &err)) << err;
  // A window of an hour, closed early: the summary names the second it covered.
  SetLogSummary(3, std::chrono::hours(1));
  for (int i = 0; i < 10; ++i) LogEvent(Event::kLoginRefused, LogLevel::kWarning, "refused %d", i);
  LogEvent(Event::kSessionLimit, LogLevel::kWarning, "limit");  // a kind of its own
  FlushLogSummaries();  // the window is still open: nothing summed yet
  std::string before = ReadAll(path);
  FlushLogSummaries(true);
  // logrotate moves the file; SIGHUP's reopen makes a new one.
  std::string moved = path + ".1";
  ASSERT_EQ(std::rename(path.c_str(), moved.c_str()), 0);
  ASSERT_TRUE(ReopenLog());
  LogAt(LogLevel::kError, "after the move");
  ASSERT_TRUE(LogTo("", &err));
  SetLogSummary(5, std::chrono::seconds(10));

  std::string all = ReadAll(moved);
  std::vector<std::string> lines;
  for (std::istringstream in(all); std::getline(in, all);)
    lines.push_back(all.substr(all.find("] ") + 2));
  EXPECT_EQ(lines,
            (std::vector<std::string>{"warning: refused 0", "warning: refused 1",
                                      "warning: refused 2", "warning: limit",
                                      "warning: ... and 7 more refused logins in the last 1 s"}));
  EXPECT_EQ(before.find("more"), std::string::npos);
  std::string after = ReadAll(path);
  EXPECT_NE(after.find(" error: after the move\n"), std::string::npos) << after;
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 1);
  EXPECT_FALSE(LogTo(dir.path() + "/no/such/dir/log", &err));
  EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
}

TEST(ServerOperations, MetricsTextCountsByFamilyResultAndLatency) {
  size_t count = 0;
  const OpRow* rows = OpTable(&count);
  std::vector<int> seen(FamilyCount());
  for (size_t i = 0; i < count; ++i) ++seen[FamilyOf(&rows[i])];
  // Every family's first row is still in the table (a renamed row would fold its family into
  // the one before), and no row is left without a family.
  for (size_t f = 0; f + 1 < FamilyCount(); ++f) EXPECT_GT(seen[f], 0) << FamilyName(f);
  EXPECT_EQ(seen.back(), 0);
  EXPECT_STREQ(FamilyName(FamilyOf(FindOp(1, Opcode("Login")))), "session");
  EXPECT_STREQ(FamilyName(FamilyOf(FindOp(1, Opcode("Write")))), "records");
  EXPECT_STREQ(FamilyName(FamilyOf(FindOp(2, Opcode("SqlRun")))), "streams");
  EXPECT_STREQ(FamilyName(FamilyOf(nullptr)), "unknown");

  Metrics m;
  using std::chrono::microseconds;
  m.Request(FamilyOf(FindOp(1, Opcode("Login"))), kOk, microseconds(50));
  m.Request(FamilyOf(FindOp(1, Opcode("Login"))), kLoginRefused,
            microseconds(100));  // on the bound: le=0.0001
  m.Request(FamilyOf(FindOp(1, Opcode("Write"))), kInternal, microseconds(3000));
  m.Request(FamilyOf(nullptr), kUnsupported, std::chrono::seconds(20));
  m.LoginRefused(LoginRefusal::kRemoteWithoutUsers);
  std::string text = RenderMetrics(m, 4);
  for (const char* line : {
           "zdbd_requests_total{family=\"session\",result=\"ok\"} 1\n",
           "zdbd_requests_total{family=\"session\",result=\"refused\"} 1\n",
           "zdbd_requests_total{family=\"records\",result=\"internal\"} 1\n",
           "zdbd_requests_total{family=\"unknown\",result=\"malformed\"} 1\n",
           "zdbd_requests_total{family=\"records\",result=\"ok\"} 0\n",
           "zdbd_request_duration_seconds_bucket{le=\"0.0001\"} 2\n",
           "zdbd_request_duration_seconds_bucket{le=\"0.0025\"} 2\n",
           "zdbd_request_duration_seconds_bucket{le=\"0.005\"} 3\n",
           "zdbd_request_duration_seconds_bucket{le=\"10\"} 3\n",
           "zdbd_request_duration_seconds_bucket{le=\"+Inf\"} 4\n",
           "zdbd_request_duration_seconds_sum 20.003150\n",
           "zdbd_request_duration_seconds_count 4\n",
           "zdbd_sessions_open 4\n",
           "zdbd_logins_refused_total{reason=\"remote_without_users\"} 1\n",
           "# TYPE zdbd_request_duration_seconds histogram\n",
       })
    EXPECT_NE(text.find(line), std::string::npos) << line;
  // Every sample line is NAME{LABELS} VALUE or NAME VALUE, every name prefixed; every metric
  // is listed in the server's notes.
  std::string notes = ReadAll(std::string(ZDB_SOURCE_DIR) + "/docs/server.md");
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("# TYPE ", 0) == 0) {
      std::string name = line.substr(7, line.find(' ', 7) - 7);
      EXPECT_NE(notes.find("| `" + name + "` |"), std::string::npos) << name;
    }
    if (line[0] == '#') continue;
    EXPECT_EQ(line.rfind("zdbd_", 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 1) << line;
  }
}

// A login request as it arrives on the connection `fd`, carried out.
void LoginOver(Server& server, int fd, const std::string& user) {
  Conn conn(fd);
  Request req;
  req.header.kind = 1;
  req.header.opcode = Opcode("Login");
  req.header.sessionHandle = 0xFFFFFFFFu;
  req.slots = {std::vector<uint8_t>(user.begin(), user.end()), std::vector<uint8_t>{'p', 0}};
  req.slots[0].push_back(0);
  Dispatch(server, conn, req);
}

TEST(ServerOperations, WithoutUsersOnlyThisMachineLogsInAsAdministrator) {
  zdb::test::TempDir dir;
  Server server;
  ASSERT_TRUE(server.data.Open(dir.path()));
  ASSERT_TRUE(server.users.Open(dir.path() + "/_system.sqlite"));
  Metrics& m = TheMetrics();
  auto refused = [&] {
    return m.loginsRefused[static_cast<size_t>(LoginRefusal::kRemoteWithoutUsers)].load();
  };
  uint64_t before = refused();

  // A peer that is not on this machine's loopback (a local socket has no IPv4 address at all).
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ::close(pair[1]);
  LoginOver(server, pair[0], "mallory");
  EXPECT_EQ(server.sessions.Count(), 0u);
  EXPECT_EQ(refused(), before + 1);

  // From 127.0.0.1: an administrator session.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7F000001);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int accepted = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  LoginOver(server, accepted, "alice");
  ::close(client);
  ::close(listener);
  ASSERT_EQ(server.sessions.Count(), 1u);
  EXPECT_EQ(refused(), before + 1);
  auto sessions = server.sessions.TakeAll();
  EXPECT_TRUE(sessions[0]->admin);
  EXPECT_EQ(sessions[0]->user, "alice");
}

}  // namespace
}  // namespace zdbd
