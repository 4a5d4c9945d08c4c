// zdbd over PostgreSQL (ZDB_TEST_STORAGE names a server; scripts/test_pg.sh sets it): a database
// moves between the engines through one export file with every value kept, and the tables are
// PostgreSQL's own, written by psql and read through zdbd.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

const char* PgUri() {
  const char* uri = std::getenv("ZDB_TEST_STORAGE");
  return uri && *uri ? uri : nullptr;
}

// psql's exit status for one command against `uri`; its complaint in *error.
int Psql(const std::string& uri, const std::string& sql, std::string* error = nullptr) {
  int err[2];
  if (::pipe(err) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(err[0]);
    ::dup2(err[1], 2);
    if (std::FILE* null = std::fopen("/dev/null", "w")) ::dup2(fileno(null), 1);
    ::execlp("psql", "psql", uri.c_str(), "-qAt", "-v", "ON_ERROR_STOP=1", "-c", sql.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(err[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  ::close(err[0]);
  if (error) *error = text;
  int st = 0;
  ::waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

constexpr const char* kAll = "SELECT rowid, NAME, AGE, SALARY, BORN FROM PEOPLE ORDER BY rowid";

void FillOddValues(RawSession& s) {
  ASSERT_EQ(s.Read("2"), 1000);
  ASSERT_EQ(s.Put("NAME", "Tab\there 'q' \\"), 1000);
  ASSERT_EQ(s.Put("SALARY", "-0.125"), 1000);
  ASSERT_EQ(s.Put("BORN", "2024-02-29"), 1000);
  ASSERT_EQ(s.Read("3"), 1000);
  ASSERT_EQ(s.Put("SALARY", "1e300"), 1000);
  ASSERT_EQ(s.Put("AGE", "-32768"), 1000);
  ASSERT_EQ(s.Put("NAME", "Caf\xe9 \x80\x81\xff"), 1000);  // bytes of an 8-bit code page
}

TEST(Storage, ADatabaseMovesBetweenTheEnginesWithEveryValueKept) {
  if (!PgUri()) GTEST_SKIP() << "ZDB_TEST_STORAGE names no PostgreSQL server";
  TempDir dir;
  ZdbdProcess lite(dir.path() + "/lite", {"--storage", ""});
  ZdbdProcess pg(dir.path() + "/pg");
  ASSERT_TRUE(lite.running());
  ASSERT_TRUE(pg.running());
  RawSession a(lite.port()), b(pg.port());
  MakePeople(a, "SHOP", 4);
  FillOddValues(a);
  ScriptRun there = Script(lite.port(), a.handle(), kAll);
  ASSERT_EQ(there.status, 1000);
  ASSERT_EQ(there.records.size(), 4u);

  FileReply file = Export(lite.port(), a.handle(), "SHOP");
  ASSERT_EQ(file.status, 1000);
  FileReply in = Import(pg.port(), b.handle(), "SHOP", file.file);
  ASSERT_EQ(in.status, 1000);
  EXPECT_NE(in.file.find("table PEOPLE: 4 records"), std::string::npos);
  ASSERT_EQ(b.Status(Opcode("UseDB"), {TextSlot("SHOP")}), 1000);
  ASSERT_EQ(b.Status(Opcode("SelDB"), {TextSlot("SHOP")}), 1000);
  ScriptRun here = Script(pg.port(), b.handle(), kAll);
  ASSERT_EQ(here.status, 1000);
  EXPECT_EQ(here.records, there.records);
  // Appends after the import number on from the largest record number.
  b.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(b.Status(Opcode("AppendBlank")), 1000);
  ASSERT_EQ(b.Put("NAME", "Fifth"), 1000);
  ScriptRun fifth = Script(pg.port(), b.handle(), "SELECT rowid FROM PEOPLE WHERE NAME='Fifth'");
  EXPECT_EQ(fifth.records, std::vector<std::string>{"5\n"});

  // And back: PostgreSQL's export imports into SQLite with the same values.
  FileReply out = Export(pg.port(), b.handle(), "SHOP");
  ASSERT_EQ(out.status, 1000);
  ASSERT_EQ(Import(lite.port(), a.handle(), "BACK", out.file).status, 1000);
  ASSERT_EQ(a.Status(Opcode("UseDB"), {TextSlot("BACK")}), 1000);
  ASSERT_EQ(a.Status(Opcode("SelDB"), {TextSlot("BACK")}), 1000);
  ScriptRun back = Script(lite.port(), a.handle(), kAll + std::string(" LIMIT 4"));
  ASSERT_EQ(back.status, 1000);
  EXPECT_EQ(back.records, there.records);
}

TEST(Storage, TablesArePostgresqlsOwnAndKeepTheFieldRules) {
  if (!PgUri()) GTEST_SKIP() << "ZDB_TEST_STORAGE names no PostgreSQL server";
  TempDir dir;
  std::string data = dir.path() + "/pg";
  ZdbdProcess pg(data);
  ASSERT_TRUE(pg.running());
  RawSession s(pg.port());
  MakePeople(s, "SHOP", 2);
  const std::string uri = ZdbdProcess::StorageFor(data);
  // Natural types: a name, a number and a date as psql writes them, read through zdbd.
  ASSERT_EQ(Psql(uri,
                 "INSERT INTO \"zdb_db_SHOP\".people(name, age, salary, born)"
                 " VALUES ('Direct', 7, 2.5, '1999-12-31')"),
            0);
  ASSERT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Get("NAME", 20), "Direct              ");
  EXPECT_EQ(s.Get("BORN", 10), "1999-12-31");
  // The width, the type and the calendar are PostgreSQL's checks too.
  EXPECT_NE(Psql(uri, "INSERT INTO \"zdb_db_SHOP\".people(name) VALUES (repeat('x', 21))"), 0);
  EXPECT_NE(Psql(uri, "INSERT INTO \"zdb_db_SHOP\".people(age) VALUES (40000)"), 0);
  EXPECT_NE(Psql(uri, "INSERT INTO \"zdb_db_SHOP\".people(born) VALUES ('2023-02-29')"), 0);
  ScriptRun count = Script(pg.port(), s.handle(), "SELECT count(*) FROM PEOPLE");
  EXPECT_EQ(count.records, std::vector<std::string>{"3\n"});
  // A script may not reach zdbd's own tables: PostgreSQL refuses, 4071 says why.
  ScriptRun catalog = Script(pg.port(), s.handle(), "DELETE FROM zdb_fields");
  EXPECT_EQ(catalog.status, 4071);
  ScriptRun users = Script(pg.port(), s.handle(), "SELECT * FROM zdb_system.users");
  EXPECT_EQ(users.status, 4071);
  ScriptRun fields = Script(pg.port(), s.handle(), "SELECT count(*) FROM PEOPLE");
  EXPECT_EQ(fields.records, std::vector<std::string>{"3\n"});
  // A script's value the columns refuse is refused as a field rule, with PostgreSQL's reason;
  // an error of the script's own SQL stays 4070.
  const std::pair<const char*, const char*> values[] = {
      {"UPDATE PEOPLE SET AGE = 40000", "zdb_int_range"},
      {"UPDATE PEOPLE SET AGE = 2.5", "zdb_int_whole_number"},
      {"UPDATE PEOPLE SET NAME = repeat('x', 21)", "check constraint"},
      {"UPDATE PEOPLE SET SALARY = 'much'", "invalid input syntax"},
      {"INSERT INTO PEOPLE(BORN) VALUES('2023-02-29')", "2023-02-29"},
  };
  for (const auto& [sql, reason] : values) {
    EXPECT_EQ(Script(pg.port(), s.handle(), sql).status, 4071) << sql;
    std::string why = ErrorText(s, 4071);
    EXPECT_EQ(why.rfind("SQL script refused: a value breaks its field's rules: ", 0), 0u) << why;
    EXPECT_NE(why.find(reason), std::string::npos) << why;
  }
  EXPECT_EQ(Script(pg.port(), s.handle(), "UPDATE PEOPLE SET NOPE = 1").status, 4070);
  EXPECT_EQ(Script(pg.port(), s.handle(), "SELECT count(*), sum(AGE) FROM PEOPLE").records,
            std::vector<std::string>{"3\t50\n"});  // 21 + 22 + 7: nothing changed
}

TEST(Storage, PsqlWritesObeyConstraintsDefaultsAndCrossReferences) {
  if (!PgUri()) GTEST_SKIP() << "ZDB_TEST_STORAGE names no PostgreSQL server";
  TempDir dir;
  std::string data = dir.path() + "/pg";
  const std::string uri = ZdbdProcess::StorageFor(data);
  const std::string people = "\"zdb_db_SHOP\".people", orders = "\"zdb_db_SHOP\".orders";
  {
    ZdbdProcess pg(data);
    ASSERT_TRUE(pg.running());
    RawSession s(pg.port());
    MakePeople(s, "SHOP", 2);
    ASSERT_EQ(
        s.Status(Opcode("AddConstrain"), {TextSlot("AGE"), Constraint("", 0, 'R', "0", "99")}),
        1000);
    ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("NAME"), Constraint("", 0, 'U')}), 1000);
    ASSERT_EQ(
        s.Status(Opcode("AddConstrain"), {TextSlot("NAME"), Constraint("", 0, 'P', "[A-Z]*")}),
        1000);
    ASSERT_EQ(
        s.Status(Opcode("AddConstrain"), {TextSlot("SALARY"), Constraint("", 0, 'L', "1.5, 2e3")}),
        1000);
    ASSERT_EQ(s.Status(Opcode("PutDefaultValue"), {TextSlot("AGE"), TextSlot("33")}), 1000);
    ASSERT_EQ(s.Status(Opcode("CreTable"), {TextSlot("ORDERS"), TextSlot("WHO C 20; CODE C N 6"),
                                            TextSlot(""), Bytes(113)}),
              1000);
    ASSERT_EQ(s.Status(Opcode("AddFXREF"),
                       {TextSlot("BUYER"), TextSlot("ORDERS"), TextSlot("WHO"), TextSlot("PEOPLE"),
                        TextSlot("NAME"), TextSlot(""), TextSlot("")}),
              1000);
    ASSERT_EQ(Psql(uri, "INSERT INTO " + orders + "(who, code) VALUES ('Person1', '-1.5e3')"), 0);

    // Each write that breaks a rule is refused whole, with PostgreSQL's reason.
    const std::pair<std::string, const char*> refused[] = {
        {"UPDATE " + people + " SET age = 2.5", "zdb_int_whole_number"},
        {"UPDATE " + people + " SET age = 100 WHERE rowid = 1",
         "record 1 of PEOPLE refused: constraint 1 (R) of field AGE does not allow '100'"},
        {"INSERT INTO " + people + "(name) VALUES ('Person2')",
         "constraint 2 (U) of field NAME does not allow 'Person2'"},
        {"UPDATE " + people + " SET name = 'lower' WHERE rowid = 2",
         "record 2 of PEOPLE refused: constraint 3 (P) of field NAME does not allow 'lower'"},
        {"UPDATE " + people + " SET salary = 2", "constraint 4 (L) of field SALARY"},
        {"INSERT INTO " + orders + "(who) VALUES ('Nobody')",
         "no record of PEOPLE for 'Nobody' (cross reference BUYER)"},
        {"DELETE FROM " + people + " WHERE name = 'Person1'",
         "record 1 of PEOPLE refused: records of ORDERS still point at it (cross reference BUYER)"},
        {"UPDATE " + people + " SET name = 'Moved' WHERE rowid = 1", "still point at it"},
        {"TRUNCATE " + people, "cross reference BUYER points at it"},
        {"UPDATE " + orders + " SET code = '12a'", "orders_code_check"},
    };
    for (const auto& [sql, reason] : refused) {
      std::string why;
      EXPECT_NE(Psql(uri, sql, &why), 0) << sql;
      EXPECT_NE(why.find(reason), std::string::npos) << sql << ": " << why;
    }
    // Good writes: the default fills the field left null, values read back exactly.
    ASSERT_EQ(Psql(uri, "INSERT INTO " + people +
                            "(name, salary, born) VALUES ('Quinn', 2000, '2024-02-29');"
                            "UPDATE " +
                            people + " SET age = -0, salary = 1.5 WHERE rowid = 2"),
              0);
    s.Enter("SHOP", "PEOPLE");
    ASSERT_EQ(s.Read("LAST"), 1000);
    EXPECT_EQ(s.Get("NAME", 20), "Quinn               ");
    EXPECT_EQ(s.Get("AGE", 6), "33    ");
    EXPECT_EQ(s.Get("SALARY", 6), "2000  ");
    EXPECT_EQ(s.Get("BORN", 10), "2024-02-29");
    ASSERT_EQ(s.Read("2"), 1000);
    EXPECT_EQ(s.Get("AGE", 6), "0     ");
    EXPECT_EQ(s.Get("SALARY", 6), "1.5   ");
    s.Enter("SHOP", "ORDERS");
    ASSERT_EQ(s.Read("FIRST"), 1000);
    EXPECT_EQ(s.Get("CODE", 6), "-1.5e3");
    // A rule changed through zdbd holds for psql at once: cascading now, the range gone.
    ASSERT_EQ(s.Status(Opcode("DelXREF"), {TextSlot("BUYER")}), 1000);
    ASSERT_EQ(s.Status(Opcode("AddFXREF"),
                       {TextSlot("BUYER"), TextSlot("ORDERS"), TextSlot("WHO"), TextSlot("PEOPLE"),
                        TextSlot("NAME"), TextSlot("CASCADE"), TextSlot("")}),
              1000);
    ASSERT_EQ(s.Status(Opcode("DelConstrain"), {TextSlot("PEOPLE.AGE"), U32Slot(1)}), 1000);
    ASSERT_EQ(Psql(uri, "UPDATE " + people +
                            " SET age = 100 WHERE rowid = 1;"
                            "DELETE FROM " +
                            people + " WHERE name = 'Person2'"),
              0);
    std::string why;
    ASSERT_EQ(Psql(uri, "DELETE FROM " + people + " WHERE name = 'Person1'", &why), 0) << why;
    ScriptRun left =
        Script(pg.port(), s.handle(),
               "SELECT (SELECT count(*) FROM ORDERS), string_agg(NAME, ',') FROM PEOPLE");
    EXPECT_EQ(left.records, std::vector<std::string>{"0\tQuinn\n"});
  }
  // A schema an earlier zdbd made (smallint columns, no rule triggers) gets both when opened.
  ASSERT_EQ(
      Psql(uri, "DROP TRIGGER zdb_rules ON " + people + "; DROP TRIGGER zdb_rules_new ON " +
                    people + "; DROP TRIGGER zdb_rules_clear ON " + people + "; ALTER TABLE " +
                    people + " ALTER COLUMN age TYPE smallint; ALTER TABLE " + orders +
                    " DROP CONSTRAINT orders_code_check, ADD CONSTRAINT orders_code_check"
                    " CHECK (char_length(code) <= 6)"),
      0);
  ASSERT_EQ(Psql(uri, "UPDATE " + people + " SET name = 'lower'"), 0);
  // ... and kept its count of catalog changes only per schema, looking for users on each request.
  ASSERT_EQ(Psql(uri,
                 "DROP TABLE zdb_system.zdb_catalog; DROP FUNCTION zdb_system.zdb_count_users()"
                 " CASCADE; CREATE OR REPLACE FUNCTION zdb_system.zdb_bump() RETURNS trigger"
                 " LANGUAGE plpgsql AS $f$BEGIN INSERT INTO zdb_system.zdb_generation VALUES"
                 " (TG_TABLE_SCHEMA, 1) ON CONFLICT (schema_name) DO UPDATE SET"
                 " n = zdb_system.zdb_generation.n + 1; RETURN NULL; END$f$"),
            0);
  ZdbdProcess again(data);
  ASSERT_TRUE(again.running());
  RawSession s(again.port());
  s.Enter("SHOP", "PEOPLE");
  ASSERT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("NAME", 5), "lower");
  std::string why;
  EXPECT_NE(Psql(uri, "UPDATE " + people + " SET age = 2.5", &why), 0);
  EXPECT_NE(why.find("zdb_int_whole_number"), std::string::npos) << why;
  EXPECT_NE(Psql(uri, "INSERT INTO " + people + "(name) VALUES ('lower')", &why), 0);
  EXPECT_NE(why.find("constraint 2 (U)"), std::string::npos) << why;
  EXPECT_NE(Psql(uri, "INSERT INTO " + orders + "(code) VALUES ('x')", &why), 0);
  EXPECT_NE(why.find("orders_code_check"), std::string::npos) << why;

  // The one row every request compares is made again from the per-schema counts, and follows
  // changes whoever makes them: a user added by psql closes the door to this session at once.
  const std::string rowIsTrue =
      "SELECT CAST(CASE WHEN (SELECT gen = 1 + (SELECT sum(n) FROM zdb_system.zdb_generation) AND"
      " users = (SELECT count(*) FROM zdb_system.users) FROM zdb_system.zdb_catalog) THEN '1'"
      " ELSE 'catalog row out of step' END AS integer)";
  EXPECT_EQ(Psql(uri, rowIsTrue, &why), 0) << why;
  ASSERT_EQ(s.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), NoteField()}), 1000);
  EXPECT_EQ(Psql(uri, rowIsTrue, &why), 0) << why;
  ASSERT_EQ(Psql(uri, "INSERT INTO zdb_system.users VALUES ('psql', 'salt', 'hash', 0)"), 0);
  EXPECT_EQ(Psql(uri, rowIsTrue, &why), 0) << why;
  EXPECT_EQ(s.Read("FIRST"), 4005);
  ASSERT_EQ(Psql(uri, "DELETE FROM zdb_system.users"), 0);
  EXPECT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Put("NOTE", "x"), 1000);
  EXPECT_EQ(s.Get("NOTE", 1), "x");
  // Without the row nothing is trusted, and no read comes back empty for want of it.
  ASSERT_EQ(Psql(uri, "DELETE FROM zdb_system.zdb_catalog"), 0);
  EXPECT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("NOTE", 1), "x");
}

// Reads of sessions that meet at PostgreSQL go down one connection together; each session still
// gets its own record, also while definitions change under them (the reads after a change fail
// in their batch and are carried out again).
TEST(Storage, ReadsOfManySessionsAtOnceEachGetTheirOwnRecord) {
  if (!PgUri()) GTEST_SKIP() << "needs ZDB_TEST_STORAGE (scripts/test_pg.sh)";
  TempDir dir;
  ZdbdProcess pg(dir.path() + "/pg", {"--metrics", "127.0.0.1:0"});
  ASSERT_TRUE(pg.running());
  {
    RawSession s(pg.port());
    MakePeople(s, "MANY", 40);
  }
  const uint16_t mport = MetricsPort(pg);
  ASSERT_NE(mport, 0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      RawSession s(pg.port());
      s.Enter("MANY", "PEOPLE");
      for (int i = 0; i < 120; ++i) {
        const int n = 1 + (t * 7 + i) % 40;
        int32_t status = 0;
        std::string name = s.Read(std::to_string(n)) == 1000 ? s.Get("NAME", 20, &status) : "";
        if (status != 1000) {
          ADD_FAILURE() << "record " << n << ": GetField answered " << status;
          continue;
        }
        name.erase(name.find_last_not_of(std::string(" \0", 2)) + 1);
        if (name != "Person" + std::to_string(n)) ++wrong;
      }
    });
  }
  threads.emplace_back([&] {
    RawSession s(pg.port());
    s.Enter("MANY", "PEOPLE");
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(s.Status(Opcode("AddField"),
                         {TextSlot(""), TextSlot(""), NoteField("NOTE" + std::to_string(i))}),
                1000);
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(Scrape(mport)["zdbd_storage_reads_batched_total"], 0);
}

// A field dropped and added again under its name with another type leaves the text of every
// statement that named it as it was: sessions that read and wrote it before, alone and many at
// once, read and write the new column, not an error.
TEST(Storage, AFieldRedefinedUnderItsNameReadsAndWritesAsItsNewType) {
  TempDir dir;
  ZdbdProcess pg(dir.path() + "/pg");
  ASSERT_TRUE(pg.running());
  RawSession a(pg.port());
  MakePeople(a, "REDEF", 6);
  const auto readers = [&](const std::string& want) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        RawSession s(pg.port());
        s.Enter("REDEF", "PEOPLE");
        for (int i = 0; i < 60; ++i) {
          int32_t status = 0;
          const std::string n = std::to_string(1 + (t + i) % 6);
          std::string v = s.Read(n) == 1000 ? s.Get("SALARY", 20, &status) : "";
          if (status != 1000 || v.compare(0, want.size(), want) != 0) {
            if (++wrong == 1) ADD_FAILURE() << "record " << n << ": " << status << " '" << v << "'";
          }
        }
      });
    }
    for (auto& t : threads) t.join();
    return wrong.load();
  };
  for (int n = 1; n <= 6; ++n) {
    ASSERT_EQ(a.Read(std::to_string(n)), 1000);
    ASSERT_EQ(a.Put("SALARY", "12.5"), 1000);
  }
  EXPECT_EQ(readers("12.5"), 0);
  RawSession b(pg.port());
  b.Enter("REDEF", "PEOPLE");
  ASSERT_EQ(b.Status(Opcode("DelField"), {TextSlot("SALARY")}), 1000);
  Bytes text = NoteField("SALARY");
  text[99] = 0;  // plain characters, not a memo
  ASSERT_EQ(b.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), text}), 1000);
  for (int n = 1; n <= 6; ++n) {
    ASSERT_EQ(a.Read(std::to_string(n)), 1000);
    EXPECT_EQ(a.Put("SALARY", "new text"), 1000) << "record " << n;
    ASSERT_EQ(b.Read(std::to_string(n)), 1000);
    EXPECT_EQ(b.Put("SALARY", "now text"), 1000) << "record " << n;
  }
  EXPECT_EQ(readers("now text"), 0);
}

// Text is bytes of the applications' code page: every byte comes back as it went in, on either
// engine; PostgreSQL holds them as the characters of that code page, which psql reads and writes.
TEST(Storage, EveryByteOfTextComesBackAsItWentIn) {
  TempDir dir;
  const std::string data = dir.path() + "/pg";
  ZdbdProcess pg(data);
  ASSERT_TRUE(pg.running());
  RawSession s(pg.port());
  MakePeople(s, "BYTES", 3);
  ASSERT_EQ(s.Status(Opcode("AddField"), {TextSlot(""), TextSlot(""), NoteField()}), 1000);
  std::string every;
  for (int b = 1; b < 256; ++b) every += static_cast<char>(b);
  const std::string cafe = "Caf\xe9 \x80 5 \xfc";  // the bytes of a Windows application
  ASSERT_EQ(s.Read("1"), 1000);
  ASSERT_EQ(s.Put("NOTE", every), 1000);
  ASSERT_EQ(s.Put("NAME", cafe), 1000);
  EXPECT_EQ(s.Status(Opcode("CreTable"), {TextSlot("CV"), TextSlot("ITEM C 10"),
                                          TextSlot("r\xe9sum\xe9s"), Bytes(113)}),
            1000);
  ASSERT_EQ(s.Read("2"), 1000);
  ASSERT_EQ(s.Read("1"), 1000);
  EXPECT_EQ(s.Get("NOTE", 255), every);
  EXPECT_EQ(s.Get("NAME", cafe.size()), cafe);
  EXPECT_EQ(Script(pg.port(), s.handle(), "SELECT NAME FROM PEOPLE WHERE rowid = 1").records,
            std::vector<std::string>{cafe + "\n"});

  if (!PgUri()) return;
  // psql, in UTF-8, sees the characters; what it writes comes back as the code page's bytes.
  const std::string uri = ZdbdProcess::StorageFor(data);
  const std::string people = "\"zdb_db_BYTES\".people";
  // Whether psql, in UTF-8, finds `utf8` in NAME of record 1.
  const auto psqlSees = [&](const std::string& utf8) {
    return Psql(uri, "DO $$BEGIN IF (SELECT name FROM " + people + " WHERE rowid = 1) IS " +
                         "DISTINCT FROM '" + utf8 + "' THEN RAISE 'not as written'; END IF; END$$");
  };
  EXPECT_EQ(psqlSees("Caf\xc3\xa9 \xc2\x80 5 \xc3\xbc"), 0);
  ASSERT_EQ(Psql(uri, "UPDATE " + people + " SET name = 'Z\xc3\xbcrich' WHERE rowid = 2"), 0);
  ASSERT_EQ(s.Read("2"), 1000);
  EXPECT_EQ(s.Get("NAME", 6), "Z\xfcrich");
  // A character the code page has no byte for is not read as another one.
  ASSERT_EQ(Psql(uri, "UPDATE " + people + " SET name = '\xe4\xb8\xad' WHERE rowid = 3"), 0);
  int32_t status = 0;
  ASSERT_EQ(s.Read("3"), 1000);
  std::string read = s.Get("NAME", 3, &status);
  EXPECT_EQ(status, 4033) << "read as '" << read << "'";
  char session[9];
  std::snprintf(session, sizeof session, "%08X", s.handle());
  EXPECT_NE(pg.Log().find("GetField (opcode 27) of session " + std::string(session) +
                          ": 4033 Value does not fit the field (PostgreSQL: character with byte "
                          "sequence 0xe4 0xb8 0xad in encoding \"UTF8\" has no equivalent"),
            std::string::npos)
      << pg.Log();
  pg.Stop();

  // Under the Windows code page psql sees the euro sign, and the bytes it leaves undefined are
  // refused rather than stored as something else; applications that write UTF-8 say so, and a
  // byte that is no UTF-8 is refused.
  struct Page {
    const char* name;
    std::string bytes, seen, refused;
  };
  for (const Page& page : {Page{"win1252", "\x80 5", "\xe2\x82\xac 5", "\x81"},
                           Page{"utf8", "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", "\xe9t\xe9"}}) {
    SCOPED_TRACE(page.name);
    ZdbdProcess other(data, {"--storage-encoding", page.name});
    ASSERT_TRUE(other.running());
    RawSession o(other.port());
    o.Enter("BYTES", "PEOPLE");
    ASSERT_EQ(o.Read("1"), 1000);
    EXPECT_EQ(o.Put("NAME", page.bytes), 1000);
    EXPECT_EQ(psqlSees(page.seen), 0);
    EXPECT_EQ(o.Put("NAME", page.refused), 4033);
    EXPECT_EQ(o.Get("NAME", page.bytes.size()), page.bytes);
  }
}

// Sessions appending and changing records at once, in and out of transactions: every answered
// write is there afterwards, once, with its own values, and nothing a rolled-back transaction
// wrote is. On PostgreSQL the writes of a batch of reads' sessions, the sole writes that commit
// by themselves and the transactions all meet here.
TEST(Storage, WritesOfManySessionsAtOnceAreAllKept) {
  TempDir dir;
  ZdbdProcess pg(dir.path() + "/pg");
  ASSERT_TRUE(pg.running());
  {
    RawSession s(pg.port());
    MakePeople(s, "BUSY", 0);
  }
  constexpr int kThreads = 6, kEach = 40;
  std::atomic<int> failed{0};
  std::mutex mutex;
  std::map<int32_t, int> statuses;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      RawSession s(pg.port());
      s.Enter("BUSY", "PEOPLE");
      // What an application does with a busy database (SQLite has one writer at a time, and
      // another session's transaction may hold it): a request outside a transaction is sent
      // again a moment later; a transaction is rolled back and carried out again whole.
      const auto note = [&](int32_t status) {
        if (status == 1000) return true;
        std::lock_guard<std::mutex> lock(mutex);
        ++statuses[status];
        ++failed;
        return false;
      };
      const auto busy = [](int32_t status) {
        if (status == 4054) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return status == 4054;
      };
      for (int i = 0; i < kEach; ++i) {
        const std::string name = "T" + std::to_string(t) + "N" + std::to_string(i);
        const std::string age = std::to_string(100 + i);
        // Every fourth record goes in a transaction; every other one of those is rolled back.
        const bool tx = i % 4 == 0, undo = i % 8 == 0;
        // Outside a transaction each request alone is sent again.
        const auto again = [&](const std::function<int32_t()>& request) {
          int32_t status = request();
          for (int n = 0; !tx && n < 1000 && busy(status); ++n) status = request();
          return status;
        };
        int32_t status = 1000;
        for (int n = 0; n < 1000; ++n) {
          if (tx && busy(status = s.Status(Opcode("BeginTransaction")))) continue;
          if (status == 1000) status = again([&] { return s.Status(Opcode("AppendBlank")); });
          if (status == 1000) status = again([&] { return s.Put("NAME", name); });
          if (status == 1000) status = again([&] { return s.Put("AGE", age); });
          if (tx && status == 1000)
            status = s.Status(undo ? Opcode("RollBack") : Opcode("EndTransaction"));
          if (!tx || status != 4054) break;
          note(s.Status(Opcode("RollBack")));
          busy(status);
        }
        note(status);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (auto [status, n] : statuses) ADD_FAILURE() << n << " answered " << status;
  ASSERT_EQ(failed, 0);
  RawSession s(pg.port());
  s.Enter("BUSY", "PEOPLE");
  std::vector<std::string> want;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i)
      if (i % 8 != 0)
        want.push_back("T" + std::to_string(t) + "N" + std::to_string(i) + "\t" +
                       std::to_string(100 + i) + "\n");
  std::sort(want.begin(), want.end());
  ScriptRun all = Script(pg.port(), s.handle(), "SELECT NAME, AGE FROM PEOPLE");
  ASSERT_EQ(all.status, 1000);
  std::sort(all.records.begin(), all.records.end());
  EXPECT_EQ(all.records, want);
}

// Kills the cluster itself: scripts/test_pg.sh runs it alone, after the others.
TEST(StorageCrash, DurableWritesOutliveAKilledPostgresqlAndZdbdReconnects) {
  const char* cluster = std::getenv("ZDB_PG_DIR");
  if (!PgUri() || !cluster || !std::getenv("ZDB_TEST_PG_CRASH"))
    GTEST_SKIP() << "needs a private cluster to kill (scripts/test_pg.sh)";
  TempDir dir;
  ZdbdProcess pg(dir.path() + "/pg", {"--durable"});
  ASSERT_TRUE(pg.running());
  RawSession s(pg.port());
  MakePeople(s, "SHOP", 20);
  const std::string script = std::string(ZDB_SOURCE_DIR) + "/scripts/pg_cluster.sh";
  ASSERT_EQ(std::system(("bash " + script + " kill " + cluster).c_str()), 0);
  // While PostgreSQL is gone every request is answered, none with success.
  int32_t during = s.Read("FIRST");
  EXPECT_NE(during, 1000);
  EXPECT_NE(during, -1);
  ASSERT_EQ(std::system(("bash " + script + " restart " + cluster + " >/dev/null").c_str()), 0);
  int32_t after = -1;
  for (int i = 0; i < 50 && after != 1000; ++i) {
    after = s.Read("FIRST");
    if (after != 1000) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(after, 1000);
  ScriptRun count = Script(pg.port(), s.handle(), "SELECT count(*), max(AGE) FROM PEOPLE");
  EXPECT_EQ(count.records, std::vector<std::string>{"20\t40\n"});
}

// Without --durable a commit reaches PostgreSQL's WAL on disk a moment after the reply: a killed
// PostgreSQL may lose the last answered requests, never one from the middle, never part of one.
TEST(StorageCrash, WithoutDurableAKilledPostgresqlLosesAtMostTheLastAnsweredRequests) {
  const char* cluster = std::getenv("ZDB_PG_DIR");
  if (!PgUri() || !cluster || !std::getenv("ZDB_TEST_PG_CRASH"))
    GTEST_SKIP() << "needs a private cluster to kill (scripts/test_pg.sh)";
  TempDir dir;
  ZdbdProcess pg(dir.path() + "/pg");
  ASSERT_TRUE(pg.running());
  RawSession s(pg.port());
  MakePeople(s, "SHOP", 0);
  // Each record takes three requests, each committed on its own: its append, its name, its age.
  std::atomic<int> answered{0};
  std::thread writer([&] {
    RawSession w(pg.port());
    w.Enter("SHOP", "PEOPLE");
    for (int i = 1; i < 100000; ++i) {
      if (w.Status(Opcode("AppendBlank")) != 1000) return;
      ++answered;
      if (w.Put("NAME", "R" + std::to_string(i)) != 1000) return;
      ++answered;
      // Three digits: a two-byte value would travel as a 2-byte integer.
      if (w.Put("AGE", std::to_string(100 + i % 900)) != 1000) return;
      ++answered;
    }
  });
  for (int i = 0; i < 600 && answered < 300; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string script = std::string(ZDB_SOURCE_DIR) + "/scripts/pg_cluster.sh";
  ASSERT_EQ(std::system(("bash " + script + " kill " + cluster).c_str()), 0);
  writer.join();
  const int acked = answered;
  ASSERT_GE(acked, 300);
  ASSERT_EQ(std::system(("bash " + script + " restart " + cluster + " >/dev/null").c_str()), 0);
  int32_t after = -1;
  s.Enter("SHOP", "PEOPLE");
  for (int i = 0; i < 50 && after != 1000; ++i) {
    after = s.Read("FIRST");
    if (after != 1000) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(after, 1000);  // zdbd is back by itself
  ScriptRun rows = Script(pg.port(), s.handle(), "SELECT NAME, AGE FROM PEOPLE ORDER BY rowid");
  ASSERT_EQ(rows.status, 1000);
  // What is there is what the first `kept` answered requests wrote, in their order.
  int kept = 0;
  for (size_t r = 0; r < rows.records.size(); ++r) {
    const int i = static_cast<int>(r) + 1;
    const std::string name = "R" + std::to_string(i), age = std::to_string(100 + i % 900);
    const std::string& got = rows.records[r];
    const bool last = r + 1 == rows.records.size();
    if (got == name + "\t" + age + "\n") {
      kept += 3;
    } else if (last && got == name + "\t\\N\n") {  // a null travels as \N
      kept += 2;
    } else if (last && got == "\\N\t\\N\n") {
      kept += 1;
    } else {
      ADD_FAILURE() << "record " << i << " is " << got;
      break;
    }
  }
  EXPECT_LE(kept, acked + 1);  // the request in flight at the kill may have been committed
  std::printf("restart without --durable: %d of %d answered requests kept\n", kept, acked);
  // The table goes on from there.
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  ASSERT_EQ(s.Put("NAME", "After"), 1000);
  ASSERT_EQ(s.Read("LAST"), 1000);
  EXPECT_EQ(s.Get("NAME", 5), "After");
}

}  // namespace
}  // namespace zdb::test
