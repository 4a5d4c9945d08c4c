// Two zdbd instances over one PostgreSQL database (ZDB_PG_URI; .ci/postgres.sh starts a private
// cluster): what one answers, the other sees; one's locks refuse the other's sessions; a killed
// instance's locks are released within its lease while the other goes on; a killed and
// restarted PostgreSQL loses nothing that was answered under --durable.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLease = 2;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

// A PostgreSQL database of the test's own on the cluster ZDB_PG_URI names, dropped at the end.
class PgDatabase {
 public:
  PgDatabase() {
    std::string base = Env("ZDB_PG_URI");
    if (base.empty()) return;
    name_ = "zdbi" + std::to_string(std::random_device{}() % 1000000000u);
    admin_ = base;
    uri_ = base.substr(0, base.rfind('/') + 1) + name_;
    if (Shell("psql -qAt '" + admin_ + "' -c 'CREATE DATABASE " + name_ + "' >/dev/null") != 0)
      uri_.clear();
  }
  ~PgDatabase() {
    if (!uri_.empty())
      Shell("psql -qAt '" + admin_ + "' -c 'DROP DATABASE IF EXISTS " + name_ +
            " WITH (FORCE)' >/dev/null");
  }
  const std::string& uri() const { return uri_; }

 private:
  std::string admin_, name_, uri_;
};

class Instances : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("ZDB_PG_URI").empty()) GTEST_SKIP() << "ZDB_PG_URI names no PostgreSQL database";
    ASSERT_FALSE(pg.uri().empty()) << "cannot make a database on " << Env("ZDB_PG_URI");
    a = Start(dirA);
    b = Start(dirB);
    ASSERT_TRUE(a->running() && b->running());
  }
  std::unique_ptr<ZdbdProcess> Start(TempDir& dir) {
    return std::make_unique<ZdbdProcess>(
        dir.path() + "/data", std::vector<std::string>{"--storage", pg.uri(), "--lease",
                                                       std::to_string(kLease), "--durable"});
  }
  PgDatabase pg;
  TempDir dirA, dirB;
  std::unique_ptr<ZdbdProcess> a, b;
};

std::string WhoLocks(RawSession& s, const std::string& what) {
  RawReply r = s.Full(Opcode("WhoLock"), {TextSlot(what), Bytes(33)});
  if (!r.ok || r.status != 1000) return "status " + std::to_string(r.ok ? r.status : -1);
  return reinterpret_cast<const char*>(r.slots[1].data());
}

std::string Holder(const std::string& user, uint32_t handle) {
  char text[48];
  std::snprintf(text, sizeof text, "%s#%08X", user.c_str(), handle);
  return text;
}

// A text field's value as GetField gives it, without the blanks that fill it to its width.
std::string Name(RawSession& s) {
  std::string name = s.Get("NAME", 21).c_str();
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

// The NAME of every record, read through `s` from the first to the end of the table.
std::set<std::string> Names(RawSession& s) {
  std::set<std::string> out;
  for (int32_t rc = s.Read("FIRST"); rc == 1000; rc = s.Read("NEXT")) out.insert(Name(s));
  return out;
}

TEST_F(Instances, WritesLocksAndUsersAreSharedAcrossInstances) {
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 2);
  RawSession onB(b->port());
  ASSERT_TRUE(onB.loggedIn());
  EXPECT_NE(onA.handle(), onB.handle());
  onB.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(onB.Read("FIRST"), 1000);
  EXPECT_EQ(Name(onB), "Person1");  // written on A, read on B

  // A record lock taken on A refuses B's lock and B's change, and B is told who holds it.
  ASSERT_EQ(onA.Read("FIRST", "L"), 1000);
  EXPECT_EQ(onB.Read("FIRST", "L"), 4050);
  EXPECT_EQ(onB.Put("NAME", "Taken"), 4050);
  EXPECT_EQ(WhoLocks(onB, "1"), Holder("anonymous", onA.handle()));
  EXPECT_EQ(onA.Status(Opcode("RecUnLock"), {TextSlot("1")}), 1000);
  EXPECT_EQ(WhoLocks(onB, "1"), "status 4053");
  ASSERT_EQ(onB.Put("NAME", "ChangedOnB"), 1000);
  EXPECT_EQ(onA.Read("FIRST"), 1000);
  EXPECT_EQ(Name(onA), "ChangedOnB");

  // Table and database locks the same way.
  ASSERT_EQ(onA.Status(Opcode("LockTable"), {TextSlot("PEOPLE")}), 1000);
  EXPECT_EQ(onB.Status(Opcode("LockTable"), {TextSlot("PEOPLE")}), 4051);
  EXPECT_EQ(onB.Put("NAME", "Blocked"), 4051);
  EXPECT_EQ(WhoLocks(onB, "T:PEOPLE"), Holder("anonymous", onA.handle()));
  ASSERT_EQ(onA.Status(Opcode("RecUnLock"), {TextSlot("*")}), 1000);
  ASSERT_EQ(onA.Status(Opcode("DBLock"), {TextSlot("SHOP")}), 1000);
  EXPECT_EQ(onB.Status(Opcode("DBLock"), {TextSlot("SHOP")}), 4052);
  EXPECT_EQ(onB.Status(Opcode("DBIsLock"), {TextSlot("SHOP")}), 4052);
  EXPECT_EQ(onA.Status(Opcode("DBIsLock"), {TextSlot("SHOP")}), 4056);
  EXPECT_EQ(onB.Status(Opcode("AppendBlank")), 4052);  // no append into a database locked elsewhere
  ASSERT_EQ(onA.Status(Opcode("DBUnLock"), {TextSlot("SHOP")}), 1000);
  EXPECT_EQ(onB.Status(Opcode("DBLock"), {TextSlot("SHOP")}), 1000);
  ASSERT_EQ(onB.Status(Opcode("DBUnLock"), {TextSlot("SHOP")}), 1000);

  // Users and privileges changed on A rule the logins and requests on B.
  ASSERT_EQ(onA.Status(Opcode("AddUser"), {TextSlot("boss"), TextSlot("secret"), TextSlot("")}),
            1000);
  EXPECT_EQ(LoginRaw(b->port()), 0xFFFFFFFFu);
  RawSession boss(a->port(), "boss", "secret");
  ASSERT_TRUE(boss.loggedIn());
  ASSERT_EQ(boss.Status(Opcode("AddUser"), {TextSlot("clerk"), TextSlot("pw"), TextSlot("")}),
            1000);
  RawSession clerk(b->port(), "clerk", "pw");
  ASSERT_TRUE(clerk.loggedIn());
  clerk.Enter("SHOP", "PEOPLE");
  EXPECT_EQ(clerk.Read("FIRST"), 4005);
  std::vector<Bytes> grant = {TextSlot("clerk"), TextSlot("SHOP"), TextSlot("PEOPLE"), TextSlot(""),
                              U32Slot(1)};
  ASSERT_EQ(boss.Status(Opcode("Grant"), grant), 1000);
  EXPECT_EQ(clerk.Read("FIRST"), 1000);
  EXPECT_EQ(clerk.Put("NAME", "NoRight"), 4005);
  // A read on B that would find no record is ruled by the right A took away, as one that would.
  ASSERT_EQ(clerk.Read("LAST"), 1000);
  ASSERT_EQ(boss.Status(Opcode("Revoke"), grant), 1000);
  EXPECT_EQ(clerk.Read("NEXT"), 4005);
  EXPECT_EQ(clerk.Read("FIRST"), 4005);
}

TEST_F(Instances, AFieldAddedOrDeletedOnOneInstanceRulesTheOthersNextRequest) {
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 1);
  RawSession onB(b->port());
  onB.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(onB.Read("FIRST"), 1000);
  EXPECT_EQ(Name(onB), "Person1");  // B has read the table's fields before the change
  EXPECT_EQ(onB.Put("NOTE", "x"), 4030);

  ASSERT_EQ(onA.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), NoteField()}), 1000);
  EXPECT_EQ(onB.Put("NOTE", "from B"), 1000);
  EXPECT_EQ(onB.Get("NOTE", 6), "from B");
  ASSERT_EQ(onA.Read("FIRST"), 1000);
  EXPECT_EQ(onA.Get("NOTE", 6), "from B");

  ASSERT_EQ(onA.Status(Opcode("DelField"), {TextSlot("NOTE")}), 1000);
  EXPECT_EQ(onB.Put("NOTE", "y"), 4030);
  EXPECT_EQ(Name(onB), "Person1");

  // Dropped and added again under its name with another type: the statements B planned with
  // the number are made again, and B writes and reads the characters.
  ASSERT_EQ(onB.Put("SALARY", "2.5"), 1000);
  EXPECT_EQ(onB.Get("SALARY", 3), "2.5");
  ASSERT_EQ(onA.Status(Opcode("DelField"), {TextSlot("SALARY")}), 1000);
  Bytes text = NoteField("SALARY");
  text[99] = 0;  // plain characters, not a memo
  ASSERT_EQ(onA.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), text}), 1000);
  EXPECT_EQ(onB.Put("SALARY", "text on B"), 1000);
  EXPECT_EQ(onB.Get("SALARY", 9), "text on B");
}

TEST_F(Instances, ATableBackupMadeThroughOneInstanceIsRestoredThroughTheOther) {
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 2);
  RawSession onB(b->port());
  onB.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(onA.Status(Opcode("BackupTable"), {TextSlot("PEOPLE"), TextSlot("people.bak")}), 1000);
  ASSERT_EQ(onB.Read("FIRST"), 1000);
  ASSERT_EQ(onB.Put("NAME", "Changed"), 1000);
  ASSERT_EQ(onB.Status(Opcode("RestoreTable"), {TextSlot(""), TextSlot("people.bak")}), 1000);
  EXPECT_EQ(Names(onB), (std::set<std::string>{"Person1", "Person2"}));
  EXPECT_EQ(Names(onA), (std::set<std::string>{"Person1", "Person2"}));
  EXPECT_EQ(onB.Status(Opcode("RestoreTable"), {TextSlot(""), TextSlot("missing.bak")}), 4092);
  // The same name backed up again through B replaces it for A; a restore under another name.
  ASSERT_EQ(onB.Read("FIRST"), 1000);
  ASSERT_EQ(onB.Put("NAME", "Second"), 1000);
  ASSERT_EQ(onB.Status(Opcode("BackupTable"), {TextSlot("PEOPLE"), TextSlot("people.bak")}), 1000);
  ASSERT_EQ(onA.Status(Opcode("RestoreTable"), {TextSlot("OLDPEOPLE"), TextSlot("people.bak")}),
            1000);
  onA.Enter("SHOP", "OLDPEOPLE");
  EXPECT_EQ(Names(onA), (std::set<std::string>{"Second", "Person2"}));
  // Nothing stays behind in either instance's data directory.
  for (TempDir* dir : {&dirA, &dirB}) {
    std::string left;
    if (std::FILE* ls =
            ::popen(("ls -A " + dir->path() + "/data/backups 2>/dev/null").c_str(), "r")) {
      char buf[256];
      while (std::fgets(buf, sizeof buf, ls)) left += buf;
      ::pclose(ls);
    }
    EXPECT_EQ(left, "");
  }
}

TEST_F(Instances, AKilledInstancesLocksFreeWithinItsLeaseAndNoAnsweredWriteIsLost) {
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 0);
  RawSession onB(b->port());
  onB.Enter("SHOP", "PEOPLE");
  std::set<std::string> answered;
  auto append = [&](RawSession& s, const std::string& name) {
    if (s.Status(Opcode("AppendBlank")) == 1000 && s.Put("NAME", name) == 1000)
      answered.insert(name);
  };
  for (int i = 0; i < 10; ++i) {
    append(onA, "A" + std::to_string(i));
    append(onB, "B" + std::to_string(i));
  }
  ASSERT_EQ(answered.size(), 20u);
  ASSERT_EQ(onA.Read("FIRST", "L"), 1000);
  ASSERT_EQ(onA.Status(Opcode("LockTable"), {TextSlot("PEOPLE")}), 1000);
  a->Kill();
  auto killed = Clock::now();
  ASSERT_EQ(onB.Read("FIRST"), 1000);
  EXPECT_EQ(onB.Read("FIRST", "L"), 4050);  // the lease has not run out yet
  int32_t rc = 4051;
  while (rc != 1000 && Clock::now() - killed < std::chrono::seconds(4 * kLease)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rc = onB.Status(Opcode("LockTable"), {TextSlot("PEOPLE")});
  }
  double freed = std::chrono::duration<double>(Clock::now() - killed).count();
  std::printf("failover: locks of the killed instance free after %.2f s (lease %d s)\n", freed,
              kLease);
  ASSERT_EQ(rc, 1000);
  EXPECT_LE(freed, kLease * 1.25 + 1.0);
  EXPECT_EQ(onB.Read("FIRST", "L"), 1000);
  for (int i = 10; i < 20; ++i) append(onB, "B" + std::to_string(i));
  EXPECT_EQ(answered.size(), 30u);
  EXPECT_EQ(Names(onB), answered);
}

TEST_F(Instances, PostgresKilledAndRestartedLosesNothingAnsweredUnderDurable) {
  std::string dir = Env("ZDB_PG_DIR"), script = Env("ZDB_PG_CLUSTER");
  if (dir.empty() || script.empty())
    GTEST_SKIP() << "ZDB_PG_DIR and ZDB_PG_CLUSTER (scripts/pg_cluster.sh) name no cluster to kill";
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 0);
  std::set<std::string> answered;
  auto append = [&](const std::string& name) {
    if (onA.Status(Opcode("AppendBlank")) == 1000 && onA.Put("NAME", name) == 1000)
      answered.insert(name);
  };
  for (int i = 0; i < 10; ++i) append("before" + std::to_string(i));
  ASSERT_EQ(answered.size(), 10u);
  ASSERT_EQ(Shell("bash '" + script + "' kill '" + dir + "'"), 0);
  // While PostgreSQL is gone every request that needs it is refused, none is answered 1000.
  int32_t during = onA.Status(Opcode("AppendBlank"));
  EXPECT_NE(during, 1000);
  EXPECT_GE(during, 2000) << "an answer, not a lost connection";
  append("during");
  EXPECT_EQ(answered.count("during"), 0u);
  auto restarted = Clock::now();
  ASSERT_EQ(Shell("bash '" + script + "' restart '" + dir + "'"), 0);
  // zdbd reconnects by itself.
  int32_t rc = -1;
  while (rc != 1000 && Clock::now() - restarted < std::chrono::seconds(15)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rc = onA.Status(Opcode("AppendBlank"));
  }
  std::printf("PostgreSQL restart: zdbd answered again %.2f s after the restart began\n",
              std::chrono::duration<double>(Clock::now() - restarted).count());
  ASSERT_EQ(rc, 1000);
  ASSERT_EQ(onA.Put("NAME", "after"), 1000);
  answered.insert("after");
  RawSession onB(b->port());
  onB.Enter("SHOP", "PEOPLE");
  std::set<std::string> seen = Names(onB);
  seen.erase("");  // the blank record appended while PostgreSQL came back
  EXPECT_EQ(seen, answered);
}

// nginx with the stream configuration of deploy/ pointed at two instances, on a loopback port
// of its own; started and stopped by its pid.
class Nginx {
 public:
  static constexpr const char* kProgram = "/usr/sbin/nginx";
  static constexpr const char* kModule = "/usr/lib/nginx/modules/ngx_stream_module.so";
  static bool Installed() { return ::access(kProgram, X_OK) == 0 && ::access(kModule, R_OK) == 0; }

  Nginx(const std::string& dir, uint16_t a, uint16_t b) {
    std::ifstream in(std::string(ZDB_SOURCE_DIR) + "/deploy/nginx/zdbd-stream.conf");
    std::stringstream text;
    text << in.rdbuf();
    std::string conf = text.str();
    port_ = FreePort();
    Replace(conf, "192.0.2.11:2500", "127.0.0.1:" + std::to_string(a));
    Replace(conf, "192.0.2.12:2500", "127.0.0.1:" + std::to_string(b));
    Replace(conf, "listen 2500", "listen 127.0.0.1:" + std::to_string(port_));
    std::ofstream(dir + "/stream.conf") << conf;
    std::ofstream(dir + "/nginx.conf")
        << "load_module " << kModule << ";\ndaemon off;\nworker_processes 1;\npid " << dir
        << "/nginx.pid;\nerror_log " << dir << "/error.log info;\nevents {}\ninclude " << dir
        << "/stream.conf;\n";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(kProgram, "nginx", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(), "-e",
              (dir + "/error.log").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100 && !RawClient(port_).connected(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Nginx() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  uint16_t port() const { return port_; }

 private:
  static void Replace(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
      s.replace(at, from.size(), to);
  }
  // A port free for TCP on loopback just now; UDP on the same number is almost always free too.
  static uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
  }
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

TEST_F(Instances, ThroughNginxAClientLogsInAgainWhenItsInstanceDies) {
  if (!Nginx::Installed()) GTEST_SKIP() << "nginx with its stream module is not installed";
  TempDir nginxDir;
  Nginx lb(nginxDir.path(), a->port(), b->port());
  Bytes probe = ControlExchange(lb.port(), 48);
  ASSERT_GE(probe.size(), 2u) << "no answer to the probe through nginx";
  EXPECT_EQ(probe[0], 48);
  RawSession first(lb.port());
  ASSERT_TRUE(first.loggedIn());
  MakePeople(first, "SHOP", 3);
  // The session is on the instance nginx chose for this address; that one dies.
  bool onA =
      CallOnce(a->port(), 0x8001, Opcode("SelDB"), {TextSlot("SHOP")}, first.handle()).status !=
      4003;
  (onA ? a : b)->Kill();
  auto killed = Clock::now();
  // A request under way at the moment of the kill gets no answer at all; the next one finds
  // the instance's port closed and nginx passes it on.
  ASSERT_TRUE((onA ? a : b)->WaitExit(5000));
  // The next request reaches the other instance, which never knew the session.
  EXPECT_EQ(first.Read("FIRST"), 4003);
  RawSession again(lb.port());
  ASSERT_TRUE(again.loggedIn());
  std::printf("through nginx: logged in again %.3f s after the instance was killed\n",
              std::chrono::duration<double>(Clock::now() - killed).count());
  again.Enter("SHOP", "PEOPLE");
  EXPECT_EQ(Names(again), (std::set<std::string>{"Person1", "Person2", "Person3"}));
  ASSERT_EQ(again.Read("FIRST", "L"), 1000);
  EXPECT_EQ(again.Put("NAME", "Survivor"), 1000);
  probe = ControlExchange(lb.port(), 48);
  ASSERT_GE(probe.size(), 2u) << "the probe through nginx is not answered after the failover";
  EXPECT_EQ(probe[0], 48);
}

// A record request on B trusts the definitions B last read and its one statement checks them:
// after A dropped a field, GetRead of that field on B answers as on A, where the catalog is
// current, not with the failure of a statement naming a column that is gone.
TEST_F(Instances, GetReadOfAFieldDroppedOnAnotherInstanceAnswersAsThere) {
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 2);
  ASSERT_EQ(onA.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), NoteField()}), 1000);
  RawSession onB(b->port());
  onB.Enter("SHOP", "PEOPLE");
  const Bytes defs = Defs({{"NAME", 20}, {"NOTE", 10}});
  const std::vector<Bytes> first = {TextSlot("FIRST"), TextSlot(""), defs, Bytes(32)};
  RawReply before = onB.Full(Opcode("GetRead"), first);
  ASSERT_EQ(before.status, 1000);  // B has read the fields, NOTE among them
  EXPECT_STREQ(reinterpret_cast<const char*>(before.slots[3].data()), "Person1");

  ASSERT_EQ(onA.Status(Opcode("DelField"), {TextSlot("NOTE")}), 1000);
  RawReply onAFirst = onA.Full(Opcode("GetRead"), first);
  RawReply onBFirst = onB.Full(Opcode("GetRead"), first);
  ASSERT_TRUE(onAFirst.ok && onBFirst.ok);
  EXPECT_NE(onAFirst.status, 1000);
  EXPECT_EQ(onBFirst.status, onAFirst.status);
  // Both read the record, as GetRead does when only a field is missing.
  EXPECT_STREQ(reinterpret_cast<const char*>(onBFirst.slots[3].data()), "Person1");
  EXPECT_STREQ(reinterpret_cast<const char*>(onAFirst.slots[3].data()), "Person1");
}

// A rule added on A binds B's next write even though B read the table's rules before: B's write
// checks the catalog in its own round trip and is not carried out with the old rules, so the
// record keeps its value (a write made first and refused after would have changed it).
TEST_F(Instances, ARuleAddedOnOneInstanceStopsTheOthersNextWriteBeforeItIsMade) {
  RawSession onA(a->port());
  MakePeople(onA, "SHOP", 1);
  RawSession onB(b->port());
  onB.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(onB.Read("FIRST"), 1000);
  ASSERT_EQ(onB.Put("AGE", "30"), 1000);  // B has read the rules: none

  ASSERT_EQ(onA.Status(Opcode("AddConstrain"),
                       {TextSlot(""), Constraint("AGE", 0, 'R', "18", "65", "adults")}),
            1000);
  ASSERT_EQ(onA.Read("FIRST"), 1000);
  const int32_t onAStatus = onA.Put("AGE", "99");
  EXPECT_NE(onAStatus, 1000);
  EXPECT_EQ(onB.Put("AGE", "99"), onAStatus);
  ASSERT_EQ(onA.Read("FIRST"), 1000);
  EXPECT_EQ(std::stoi(onA.Get("AGE", 6).c_str()), 30);
}

// With one PostgreSQL connection per database, sessions that each use two databases (entered in
// opposite orders) read and write at once: every request waits for the connections it needs,
// takes them in one order, and gives them back, so none waits forever.
TEST(InstancesPool, OneConnectionPerDatabaseServesSessionsUsingTwoDatabasesAtOnce) {
  if (Env("ZDB_PG_URI").empty()) GTEST_SKIP() << "ZDB_PG_URI names no PostgreSQL database";
  PgDatabase pg;
  ASSERT_FALSE(pg.uri().empty());
  TempDir dir;
  ZdbdProcess z(dir.path() + "/data",
                std::vector<std::string>{"--storage", pg.uri(), "--storage-connections", "1"});
  ASSERT_TRUE(z.running());
  {
    RawSession setup(z.port());
    MakePeople(setup, "ONE", 2);
    MakePeople(setup, "TWO", 2);
  }
  constexpr int kSessions = 4, kRounds = 30;
  std::vector<std::vector<int32_t>> statuses(kSessions);
  std::vector<std::thread> threads;
  for (int t = 0; t < kSessions; ++t)
    threads.emplace_back([&, t] {
      RawSession s(z.port());
      s.Enter(t % 2 ? "ONE" : "TWO", "PEOPLE");
      s.Enter(t % 2 ? "TWO" : "ONE", "PEOPLE");
      for (int i = 0; i < kRounds; ++i) {  // each session writes a record of its own
        statuses[t].push_back(s.Read(t < 2 ? "FIRST" : "LAST"));
        statuses[t].push_back(s.Put("AGE", std::to_string(t * 100 + i)));
      }
    });
  for (auto& th : threads) th.join();
  for (const auto& list : statuses) EXPECT_EQ(list, std::vector<int32_t>(2 * kRounds, 1000));
  RawSession check(z.port());
  check.Enter("ONE", "PEOPLE");
  ASSERT_EQ(check.Read("FIRST"), 1000);
  EXPECT_EQ(std::stoi(check.Get("AGE", 6).c_str()), kRounds - 1);  // session 0's last write
  ASSERT_EQ(check.Read("LAST"), 1000);
  EXPECT_EQ(std::stoi(check.Get("AGE", 6).c_str()), 200 + kRounds - 1);  // session 2's
}

}  // namespace
}  // namespace zdb::test
