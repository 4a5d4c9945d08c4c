// Sessions sharing a database's connection and its grouped commits: what one session is answered,
// every other sees at once, on the shared connection, in a transaction of its own and in a script;
// what a script changes, the shared connection sees next; answered changes outlive a stop, and
// with --durable a kill.

#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerShared = ServerFixture;

// A C 20 value as GetField sends it in a 21-byte slot: padded with spaces, then a zero.
std::string Padded(const std::string& text) {
  return text + std::string(20 - text.size(), ' ') + std::string(1, '\0');
}

int32_t Append(RawSession& s, const std::string& name) {
  int32_t rc = s.Status(Opcode("AppendBlank"));
  return rc == 1000 ? s.Put("NAME", name) : rc;
}

std::vector<std::string> Rows(uint16_t port, RawSession& s, const std::string& sql) {
  ScriptRun r = Script(port, s.handle(), sql);
  EXPECT_EQ(r.status, 1000) << sql;
  return r.records;
}

TEST_F(ServerShared, AnsweredWritesAreSeenByEveryKindOfReader) {
  RawSession a(port()), b(port());
  MakePeople(a, "SHR", 2);
  b.Enter("SHR", "PEOPLE");

  // Shared connection to shared connection: no commit needs to happen first.
  ASSERT_EQ(Append(a, "Third"), 1000);
  ASSERT_EQ(b.Read("LAST"), 1000);
  EXPECT_EQ(b.Get("NAME", 21), Padded("Third"));

  // A transaction of b's own runs on another connection: its view begins at its first read and
  // holds what a was answered up to then.
  ASSERT_EQ(b.Status(Opcode("BeginTransaction")), 1000);
  ASSERT_EQ(Append(a, "Fourth"), 1000);
  ASSERT_EQ(b.Read("LAST"), 1000);
  EXPECT_EQ(b.Get("NAME", 21), Padded("Fourth"));
  // Its own change stays its own; a's writes wait for its write lock and then give up with 4054.
  ASSERT_EQ(b.Put("NAME", "Changed"), 1000);
  EXPECT_EQ(a.Get("NAME", 21), Padded("Fourth"));
  EXPECT_EQ(a.Put("AGE", "55"), 4054);
  ASSERT_EQ(b.Status(Opcode("EndTransaction")), 1000);
  EXPECT_EQ(a.Get("NAME", 21), Padded("Changed"));
  EXPECT_EQ(a.Put("AGE", "55"), 1000);

  // A script (its own connection) sees a's answered change, and a sees the script's at once.
  ASSERT_EQ(Append(a, "Fifth"), 1000);
  EXPECT_EQ(Rows(port(), b, "SELECT NAME, AGE FROM PEOPLE ORDER BY rowid DESC LIMIT 2"),
            (std::vector<std::string>{"Fifth\t\\N\n", "Changed\t55\n"}));
  EXPECT_EQ(Rows(port(), b, "UPDATE PEOPLE SET NAME = 'Scripted' WHERE NAME = 'Fifth'").size(), 0u);
  EXPECT_EQ(a.Get("NAME", 21), Padded("Scripted"));
  ASSERT_EQ(a.Read("FIRST"), 1000);
  EXPECT_EQ(a.Get("NAME", 21), Padded("Person1"));
}

TEST_F(ServerShared, AnsweredChangesOutliveAStopAndWithDurableAKill) {
  {
    RawSession a(port());
    MakePeople(a, "KEEP", 3);
  }
  Restart();  // SIGTERM: the changes still grouped are committed before zdbd ends
  {
    RawSession a(port());
    a.Enter("KEEP", "PEOPLE");
    EXPECT_EQ(Rows(port(), a, "SELECT count(*), max(NAME) FROM PEOPLE"),
              (std::vector<std::string>{"3\tPerson3\n"}));
  }
  server->Stop();

  // With --durable every change is committed before its reply: a kill right after it loses
  // nothing.
  server = std::make_unique<ZdbdProcess>(data, std::vector<std::string>{"--durable"});
  ASSERT_TRUE(server->running());
  {
    RawSession a(port());
    a.Enter("KEEP", "PEOPLE");
    ASSERT_EQ(Append(a, "Killed"), 1000);
    server->Kill();
    ASSERT_TRUE(server->WaitExit(5000));
  }
  server = std::make_unique<ZdbdProcess>(data);
  ASSERT_TRUE(server->running());
  RawSession a(port());
  a.Enter("KEEP", "PEOPLE");
  EXPECT_EQ(Rows(port(), a, "SELECT NAME FROM PEOPLE ORDER BY rowid DESC LIMIT 1"),
            (std::vector<std::string>{"Killed\n"}));
}

}  // namespace
}  // namespace zdb::test
