// The administration commands: their pure pieces, the checks made before anything is sent,
// new users' passwords, confirmations, the shell's verbs and zdb status. The whole setup of a
// server with every verb is admin_e2e.sh.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/zdbd_process.h"
#include "tool_runner.h"
#include "zdb/admin.h"

namespace zdb::test {
namespace {

using cli::FieldSpecItem;

TEST(ZdbAdminPieces, NamesAPersonTypes) {
  int32_t bits = 0;
  std::string why;
  ASSERT_TRUE(cli::ParsePrivileges("read, WRITE", &bits, &why)) << why;
  EXPECT_EQ(bits, 3);
  ASSERT_TRUE(cli::ParsePrivileges("define,change", &bits, &why));
  EXPECT_EQ(bits, 6);
  ASSERT_TRUE(cli::ParsePrivileges("all", &bits, &why));
  EXPECT_EQ(bits, 7);
  EXPECT_FALSE(cli::ParsePrivileges("read,delete", &bits, &why));
  EXPECT_EQ(why, "unknown privilege 'delete' (read, write, define or all)");
  EXPECT_FALSE(cli::ParsePrivileges("", &bits, &why));
  EXPECT_EQ(cli::PrivilegeNames(7), (std::vector<std::string>{"read", "write", "define"}));
  EXPECT_EQ(cli::PrivilegeNames(4), (std::vector<std::string>{"define"}));

  EXPECT_EQ(cli::FindConstraintKind("range")->letter, 'R');
  EXPECT_EQ(cli::FindConstraintKind("u")->letter, 'U');
  EXPECT_STREQ(cli::FindConstraintKind("L")->value1, "--values");
  EXPECT_EQ(cli::FindConstraintKind("between"), nullptr);
}

TEST(ZdbAdminPieces, HostPortsOutsideTheRangeAreRefused) {
  std::string why;
  for (const char* good : {"127.0.0.1", "localhost:1", "127.0.0.1:65535", "h:02500"})
    EXPECT_TRUE(cli::CheckHostPort(good, &why)) << good;
  for (const char* bad : {"127.0.0.1:102315", "127.0.0.1:-28757", "127.0.0.1:abc", "h:0", "h:65536",
                          "h:", "h:1:2", ":2500", "h: 80", "h:000065536"}) {
    EXPECT_FALSE(cli::CheckHostPort(bad, &why)) << bad;
    EXPECT_NE(why.find(bad), std::string::npos) << why;
  }
}

TEST(ZdbAdminPieces, FieldSpecItemsAndTheirDescriptor) {
  FieldSpecItem f;
  std::string why;
  ASSERT_TRUE(cli::ParseFieldSpecItem(" born c d ", &f, &why)) << why;
  EXPECT_EQ(f.name, "born");
  EXPECT_EQ(f.type, 'C');
  EXPECT_EQ(f.subtype, 'D');
  EXPECT_EQ(f.width, 0u);
  ASSERT_TRUE(cli::ParseFieldSpecItem("CODE C N 8", &f, &why));
  EXPECT_EQ(f.subtype, 'N');
  EXPECT_EQ(f.width, 8u);
  ASSERT_TRUE(cli::ParseFieldSpecItem("QTY I 6", &f, &why));
  EXPECT_EQ(f.subtype, 0);
  EXPECT_EQ(f.width, 6u);
  const std::vector<unsigned char> d = cli::FieldDescriptor(f, "how many");
  ASSERT_EQ(d.size(), 132u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data())), "QTY");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data() + 33)), "how many");
  EXPECT_EQ(d[99], ' ');
  EXPECT_EQ(d[100], 'I');
  EXPECT_EQ(std::vector<unsigned char>(d.begin() + 101, d.begin() + 105),
            (std::vector<unsigned char>{6, 0, 0, 0}));
  EXPECT_EQ(std::vector<unsigned char>(d.begin() + 105, d.end()),
            std::vector<unsigned char>(27, 0));
  EXPECT_FALSE(cli::ParseFieldSpecItem("NAME", &f, &why));
  EXPECT_FALSE(cli::ParseFieldSpecItem("NAME X 20", &f, &why));
  EXPECT_EQ(why, "the type of field NAME is C, N or I, not 'X'");
  EXPECT_FALSE(cli::ParseFieldSpecItem("NAME C 20 D", &f, &why));
  EXPECT_FALSE(cli::ParseFieldSpecItem("NAME C Q", &f, &why));
}

TEST(ZdbAdminPieces, MetricsTextAndHttpAnswers) {
  const std::string text =
      "# HELP zdbd_sessions Live sessions.\n"
      "# TYPE zdbd_sessions gauge\n"
      "zdbd_sessions 3\n"
      "go_threads 9\n"
      "# HELP zdbd_requests_total Requests carried out.\n"
      "zdbd_requests_total{opcode=\"2\",result=\"a}b\"} 1027\r\n"
      "zdbd_broken{x=\"1\" 4\n"
      "\n"
      "zdbd_uptime_seconds 12.5 1700000000\n";
  const auto s = cli::ParseMetrics(text, "zdbd_");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].name, "zdbd_sessions");
  EXPECT_EQ(s[0].value, "3");
  EXPECT_EQ(s[0].help, "Live sessions.");
  EXPECT_EQ(s[1].labels, "{opcode=\"2\",result=\"a}b\"}");
  EXPECT_EQ(s[1].value, "1027");
  EXPECT_EQ(s[1].help, "Requests carried out.");
  EXPECT_EQ(s[2].name, "zdbd_uptime_seconds");
  EXPECT_EQ(s[2].value, "12.5");
  EXPECT_EQ(s[2].help, "");

  std::string body, why;
  ASSERT_TRUE(
      cli::HttpBody("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\na 1\n", &body, &why));
  EXPECT_EQ(body, "a 1\n");
  ASSERT_TRUE(cli::HttpBody(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\na 1\n\r\n3\r\nb 2\r\n0\r\n\r\n",
      &body, &why))
      << why;
  EXPECT_EQ(body, "a 1\nb 2");
  EXPECT_FALSE(
      cli::HttpBody("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nab", &body, &why));
  EXPECT_FALSE(cli::HttpBody("HTTP/1.0 404 Not Found\r\n\r\n", &body, &why));
  EXPECT_EQ(why, "the server answered 'HTTP/1.0 404 Not Found'");
  EXPECT_FALSE(cli::HttpBody("zdbd_sessions 3\n", &body, &why));
}

TEST(ZdbAdminCli, UsageErrorsBeforeAnythingIsSent) {
  ExpectUsageErrors({
      {{"probe", "127.0.0.1:102315"}, "the port of '127.0.0.1:102315' is not a number from 1"},
      {{"probe", "127.0.0.1:-28757"}, "'127.0.0.1:-28757' is not a number"},
      {{"sql", "127.0.0.1:abc", "DB", "#SELECT 1"}, "'127.0.0.1:abc' is not a number"},
      {{"--host", "127.0.0.1:0", "db", "list"}, "'127.0.0.1:0' is not a number"},
      {{"user", "frob", "127.0.0.1:1"}, "unknown command 'user frob'"},
      {{"user", "list", "127.0.0.1:1", "extra"}, "too many arguments"},
      {{"table", "create", "127.0.0.1:1", "DB", "T"}, "no server given"},
      {{"grant", "127.0.0.1:1", "bob", "DB", "T", "read,fly"}, "unknown privilege 'fly'"},
      {{"constraint", "add", "127.0.0.1:1", "DB", "T", "F", "between"}, "KIND is required"},
      {{"constraint", "add", "127.0.0.1:1", "DB", "T", "F", "list", "--min", "1"},
       "--min does not go with a list constraint"},
      {{"constraint", "add", "127.0.0.1:1", "DB", "T", "F", "pattern"}, "needs --pattern"},
      {{"constraint", "drop", "127.0.0.1:1", "DB", "T", "F", "0"}, "NUMBER is a number"},
      {{"field", "add", "127.0.0.1:1", "DB", "T", "NAME X"}, "C, N or I, not 'X'"},
      {{"table", "create", "127.0.0.1:1", "DB", "T", "A C 20; B N Q; C I"},
       "field B: 'Q' is neither a subtype"},
      {{"xref", "add", "127.0.0.1:1", "DB", "R", "ITEMS", "KINDS.KIND"}, "FROM is TABLE.FIELD"},
      {{"db", "list", "127.0.0.1:1", "--format", "xml"}, "--format"},
      {{"status", "--metrics", "127.0.0.1:99999"}, "--metrics is ADDR:PORT"},
  });
  const ToolResult help = RunZdb({"--help"});
  for (const char* cmd : {"user", "grant", "revoke", "db", "table", "field", "index", "constraint",
                          "default", "xref", "status"})
    EXPECT_NE(help.out.find(std::string("\n  ") + cmd + " "), std::string::npos) << cmd;
}

class ZdbAdmin : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.running()); }
  // As the administrator "root" with password "pw", made by the first test step.
  ToolResult Root(std::vector<std::string> args, const std::string& input = "",
                  std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), {"-u", "root"});
    env.emplace("ZDB_PASSWORD", "pw");
    env.emplace("ZDB_HOST", server_.host());
    return RunZdb(args, input, env);
  }
  void MakeRoot() {
    const ToolResult r = Root({"user", "add", "root", "--admin"}, "", {{"ZDB_NEW_PASSWORD", "pw"}});
    ASSERT_EQ(r.code, 0) << r.err;
  }
  TempDir data_;
  ZdbdProcess server_{data_.path()};
};

TEST_F(ZdbAdmin, NewPasswordsComeFromStdinOrTheEnvironmentNeverTheCommandLine) {
  MakeRoot();
  // A line of standard input; its line end is not part of the password.
  ToolResult r = Root({"user", "add", "bob", "--password-stdin"}, "bob-one\r\n");
  ASSERT_EQ(r.code, 0) << r.err;
  // Standard input that is no terminal serves without the flag too.
  r = Root({"user", "add", "eve"}, "eve-one\n");
  ASSERT_EQ(r.code, 0) << r.err;
  r = Root({"user", "add", "nobody", "--password-stdin"}, "");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no password on standard input"), std::string::npos) << r.err;
  r = Root({"user", "add", "nobody"}, "\n");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("the password is empty"), std::string::npos) << r.err;

  auto as = [&](const std::string& user, const std::string& pw) {
    return RunZdb({"-u", user, "db", "list"}, "",
                  {{"ZDB_PASSWORD", pw}, {"ZDB_HOST", server_.host()}});
  };
  EXPECT_EQ(as("bob", "bob-one").code, 0);
  EXPECT_EQ(as("eve", "eve-one").code, 0);
  // With nothing on standard input, a script's $ZDB_PASSWORD is the new user's password too.
  r = Root({"user", "add", "carol"}, "");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(as("carol", "pw").code, 0);
  ASSERT_EQ(Root({"user", "drop", "carol", "--yes"}).code, 0);
  r = as("bob", "bob-one\r");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("4004"), std::string::npos) << r.err;

  // passwd keeps the role unless told; $ZDB_NEW_PASSWORD wins over standard input.
  r = Root({"user", "passwd", "bob"}, "ignored\n", {{"ZDB_NEW_PASSWORD", "bob-two"}});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(as("bob", "bob-one").code, 1);
  EXPECT_EQ(as("bob", "bob-two").code, 0);
  r = Root({"user", "passwd", "eve", "--role", "admin", "--password-stdin"}, "eve-two\n");
  ASSERT_EQ(r.code, 0) << r.err;
  r = Root({"user", "list", "--format", "json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n"
            "{\"name\":\"bob\",\"role\":\"USER\",\"grants\":[]},\n"
            "{\"name\":\"eve\",\"role\":\"ADMIN\",\"grants\":[]},\n"
            "{\"name\":\"root\",\"role\":\"ADMIN\",\"grants\":[]}\n"
            "]\n");
  // A user who is no administrator sees the names but not the roles.
  r = RunZdb({"-u", "bob", "user", "list"}, "",
             {{"ZDB_PASSWORD", "bob-two"}, {"ZDB_HOST", server_.host()}});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "user | role | grants\n"
            "-----+------+-------\n"
            "bob  | ?    |\n"
            "eve  | ?    |\n"
            "root | ?    |\n");
}

// zdb with standard input and standard error on a terminal, as a person at it: each answer
// is typed once its prompt has appeared (a prompt that turns echo off drops what was typed
// ahead). `code` -1 when a prompt never came.
struct Typed {
  const char* prompt;
  std::string answer;
};
ToolResult RunAtTerminal(const std::vector<std::string>& args, const std::vector<Typed>& typed,
                         const std::string& host) {
  ToolResult result;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
  const std::string slave = ::ptsname(master);
  char outName[] = "/tmp/zdb-admin-out-XXXXXX";
  const int outFd = ::mkstemp(outName);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    const int tty = ::open(slave.c_str(), O_RDWR);
    ::dup2(tty, 0);
    ::dup2(outFd, 1);
    ::dup2(tty, 2);
    ::setenv("ZDB_HOST", host.c_str(), 1);
    ::setenv("ZDB_PASSWORD", "pw", 1);
    ::unsetenv("ZDB_NEW_PASSWORD");
    std::vector<char*> argv{const_cast<char*>(ZDB_TOOL_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(ZDB_TOOL_PATH, argv.data());
    ::_exit(127);
  }
  size_t next = 0, seen = 0;
  int status = 0;
  bool exited = false;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buf[4096];
  while (std::chrono::steady_clock::now() < giveUp) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) result.err.append(buf, static_cast<size_t>(n));
    }
    if (next < typed.size()) {
      const auto at = result.err.find(typed[next].prompt, seen);
      if (at != std::string::npos) {
        seen = at + std::strlen(typed[next].prompt);
        const std::string line = typed[next++].answer + "\n";
        (void)!::write(master, line.data(), line.size());
      }
    }
    if (exited) break;
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
  }
  if (!exited) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ::close(master);
  result.code = exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outName);
  ::close(outFd);
  ::unlink(outName);
  return result;
}

TEST_F(ZdbAdmin, AtATerminalPasswordsAreAskedWithoutEchoAndDropsAreConfirmed) {
  MakeRoot();
  ToolResult r =
      RunAtTerminal({"-u", "root", "user", "add", "ann"},
                    {{"New password: ", "ann-secret"}, {"Again: ", "ann-secret"}}, server_.host());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err.find("ann-secret"), std::string::npos) << "echoed: " << r.err;
  r = RunZdb({"-u", "ann", "db", "list"}, "",
             {{"ZDB_PASSWORD", "ann-secret"}, {"ZDB_HOST", server_.host()}});
  EXPECT_EQ(r.code, 0) << r.err;
  r = RunAtTerminal({"-u", "root", "user", "add", "bea"},
                    {{"New password: ", "one"}, {"Again: ", "two"}}, server_.host());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("the two passwords differ"), std::string::npos) << r.err;

  ASSERT_EQ(Root({"db", "create", "SHOP"}).code, 0);
  r = RunAtTerminal({"-u", "root", "db", "drop", "SHOP"}, {{"Drop database SHOP? [y/N] ", "n"}},
                    server_.host());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("database SHOP kept"), std::string::npos) << r.err;
  EXPECT_EQ(Root({"db", "list", "-f", "json"}).out, "[\n{\"name\":\"SHOP\",\"tables\":0}\n]\n");
  r = RunAtTerminal({"-u", "root", "db", "drop", "SHOP"}, {{"Drop database SHOP? [y/N] ", "yes"}},
                    server_.host());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Root({"db", "list", "-f", "json"}).out, "[]\n");
}

TEST_F(ZdbAdmin, DropsNeedYesOffATerminalAndTheShellKeepsItsOwnTableCommand) {
  MakeRoot();
  ASSERT_EQ(Root({"db", "create", "SHOP"}).code, 0);
  ASSERT_EQ(Root({"table", "create", "SHOP", "ITEMS", "NAME C 20; QTY I"}).code, 0);
  ToolResult r = Root({"table", "drop", "SHOP", "ITEMS"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("dropping table SHOP.ITEMS needs --yes"), std::string::npos) << r.err;
  r = Root({"table", "list", "SHOP"});
  EXPECT_EQ(r.out,
            "table | fields | records | description\n"
            "------+--------+---------+------------\n"
            "ITEMS | 2      | 0       |\n");

  // In the shell: "table ITEMS" opens as before; "table list SHOP" is the verb, without host.
  r = Root({"shell"},
           "use SHOP\ntable ITEMS\ntable describe SHOP ITEMS --format json\n"
           "table drop SHOP ITEMS\nfields\ntable drop SHOP ITEMS --yes\ntable list SHOP\ntable\n"
           "index\n");
  EXPECT_EQ(r.code, 1) << "the drop without --yes failed";
  EXPECT_EQ(
      r.out,
      "database SHOP selected\n"
      "table ITEMS selected: 2 fields, 0 records\n"
      "{\"database\":\"SHOP\",\"name\":\"ITEMS\",\"description\":\"\",\"records\":0,"
      "\"fields\":[{\"name\":\"NAME\",\"type\":\"C\",\"subtype\":\"\",\"width\":20,"
      "\"description\":\"\"},{\"name\":\"QTY\",\"type\":\"I\",\"subtype\":\"\",\"width\":6,"
      "\"description\":\"\"}],\"indexes\":[],\"constraints\":[],\"defaults\":[],\"xrefs\":[]}\n"
      "name | type | subtype | width\n"
      "-----+------+---------+------\n"
      "NAME | C    |         | 20\n"
      "QTY  | I    |         | 6\n"
      "usage: open TABLE\n"
      "A subcommand is required\nRun with --help for more information.\n");
  EXPECT_NE(r.err.find("needs --yes"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("zdb: table list: none"), std::string::npos) << r.err;
  r = Root({"db", "list", "--format", "json"});
  EXPECT_EQ(r.out, "[\n{\"name\":\"SHOP\",\"tables\":0}\n]\n");

  // A verb between two reads leaves the shell's table where it stood.
  ASSERT_EQ(Root({"table", "create", "SHOP", "T", "N I"}).code, 0);
  ASSERT_EQ(Root({"sql", "SHOP", "#INSERT INTO T (N) VALUES (1), (2), (3)"}).code, 0);
  r = Root({"shell"}, "use SHOP\nopen T\nnext\ndb list -f json\ntable list SHOP -f json\nnext\n");
  EXPECT_EQ(r.code, 0) << r.err;
  const auto second = r.out.find("N     | 2\n"), third = r.out.find("N     | 3\n");
  EXPECT_NE(second, std::string::npos) << r.out;
  EXPECT_NE(third, std::string::npos) << r.out;
  EXPECT_LT(second, third) << r.out;
}

TEST_F(ZdbAdmin, StatusOverTheProtocol) {
  ToolResult r = RunZdb({"status", server_.host(), "--format", "json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"server\":\"" + server_.host() +
                            "\",\"answers\":\"yes\","
                            "\"version\":\"0x1210\",\"sessions\":\"1\",",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("\"databases\":\"0\",\"locks\":\"0\"}\n"), std::string::npos) << r.out;
  r = RunZdb({"status", "127.0.0.1:1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no server answers at 127.0.0.1:1"), std::string::npos) << r.err;
}

// A one-shot HTTP server on loopback that answers the first request with `answer`.
class OneAnswer {
 public:
  explicit OneAnswer(std::string answer) : answer_(std::move(answer)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      char buf[4096];
      for (long n; request_.find("\r\n\r\n") == std::string::npos &&
                   (n = ::recv(c, buf, sizeof buf, 0)) > 0;)
        request_.append(buf, static_cast<size_t>(n));
      (void)!::send(c, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      ::close(c);
    });
  }
  ~OneAnswer() {
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  std::string answer_, request_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(ZdbStatus, FromTheMetricsPage) {
  {
    OneAnswer page(
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain; version=0.0.4\r\n\r\n"
        "# HELP zdbd_sessions Live sessions.\n# TYPE zdbd_sessions gauge\nzdbd_sessions 2\n"
        "process_cpu_seconds_total 0.5\n"
        "# HELP zdbd_requests_total Requests carried out.\n"
        "zdbd_requests_total{result=\"ok\"} 41\nzdbd_requests_total{result=\"refused\"} 1\n"
        "zdbd_requests_total{result=\"internal\"} 0\n"
        "zdbd_request_duration_seconds_bucket{le=\"0.001\"} 40\n"
        "zdbd_request_duration_seconds_count 42\n");
    const ToolResult r = RunZdb({"status", "--metrics", page.address()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "metric                           | value | meaning\n"
              "---------------------------------+-------+----------------------\n"
              "sessions                         | 2     | Live sessions.\n"
              "requests_total{result=\"ok\"}      | 41    | Requests carried out.\n"
              "requests_total{result=\"refused\"} | 1     | Requests carried out.\n"
              "request_duration_seconds_count   | 42    |\n");
    EXPECT_EQ(page.request().rfind("GET /metrics HTTP/1.0\r\n", 0), 0u);
  }
  {
    OneAnswer page(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nzdbd_sessions "
        "7\n\r\n0\r\n\r\n");
    const ToolResult r = RunZdb({"status", "--metrics", page.address(), "--format", "json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n{\"name\":\"zdbd_sessions\",\"labels\":\"\",\"value\":\"7\",\"help\":\"\"}\n]\n");
  }
  {
    OneAnswer page("HTTP/1.0 404 Not Found\r\n\r\nno\n");
    const ToolResult r = RunZdb({"status", "--metrics", page.address()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("the server answered 'HTTP/1.0 404 Not Found'"), std::string::npos)
        << r.err;
  }
  {
    OneAnswer page("HTTP/1.0 200 OK\r\n\r\ngo_threads 3\n");
    const ToolResult r = RunZdb({"status", "--metrics", page.address()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("holds no zdbd_ metric"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace zdb::test
