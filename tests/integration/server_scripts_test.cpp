// Scripts cannot make the catalog lie: zdbd's metadata is read-only to them, table definitions
// change only through the catalog requests, and the values they write obey the field rules.
#include "integration/server_raw.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using ServerScripts = ServerFixture;

uint32_t TableCount(RawSession& s) {
  return wire::GetU32(s.Full(Opcode("DbTables"), {U32Slot(10), Bytes(330)}).slots[0].data());
}

// What each engine refuses, in its own SQL: the last statement's reason, then the reasons of two
// more (reaching outside the database's data, making a table behind the catalog).
struct OutOfReach {
  std::vector<const char*> refused;
  const char* lastReason;
  const char* outside;
  const char* outsideReason;
  const char* table;
  const char* tableReason;
};

OutOfReach Refused() {
  if (OnPostgres())
    return {{
                "DROP TABLE PEOPLE",
                "DELETE FROM zdb_fields",
                "INSERT INTO zdb_tables VALUES('GHOST', '')",
                "UPDATE ZDB_FIELDS SET width = 1",
                "CREATE TABLE OTHER(a integer)",
                "ALTER TABLE PEOPLE ADD COLUMN EXTRA text",
                "ALTER TABLE PEOPLE RENAME TO MOVED",
                "CREATE INDEX quick ON PEOPLE(NAME)",
                "CREATE VIEW v AS SELECT 1",
                "CREATE FUNCTION f() RETURNS trigger LANGUAGE plpgsql AS 'BEGIN RETURN NULL; END'",
                "SELECT * FROM zdb_system.users",
                "CREATE TABLE public.elsewhere(a integer)",
                "ALTER ROLE CURRENT_USER SUPERUSER",
                "SET ROLE pg_read_server_files",
            },
            "permission denied to set role",
            "SELECT * FROM zdb_system.users",
            "zdb_system",
            "CREATE TABLE OTHER(a integer)",
            "permission denied for schema"};
  return {{
              "DROP TABLE PEOPLE",
              "DELETE FROM zdb_fields",
              "INSERT INTO zdb_tables VALUES('GHOST', '')",
              "UPDATE ZDB_FIELDS SET width = 1",
              "CREATE TABLE OTHER(a)",
              "ALTER TABLE PEOPLE ADD COLUMN EXTRA",
              "ALTER TABLE PEOPLE RENAME TO MOVED",
              "CREATE INDEX quick ON PEOPLE(NAME)",
              "CREATE VIEW v AS SELECT 1",
              "CREATE TEMP TRIGGER t AFTER INSERT ON PEOPLE BEGIN DELETE FROM zdb_fields; END",
              "ATTACH 'elsewhere.db' AS other",
              "PRAGMA writable_schema = 1",
          },
          "writable_schema",
          "ATTACH 'elsewhere.db' AS other",
          "attaching files",
          "CREATE TABLE OTHER(a)",
          "use the catalog requests"};
}

TEST_F(ServerScripts, CatalogAndDefinitionsAreOutOfReach) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  const OutOfReach out = Refused();
  for (const char* sql : out.refused) {
    ScriptRun r = Script(port(), s.handle(), sql);
    EXPECT_EQ(r.status, 4071) << sql << ": " << ErrorText(s, r.status);
  }
  std::string why = ErrorText(s, 4071);
  EXPECT_EQ(why.rfind("SQL script refused: ", 0), 0u) << why;
  EXPECT_NE(why.find(out.lastReason), std::string::npos) << why;  // the last one's reason
  Script(port(), s.handle(), out.outside);
  why = ErrorText(s, 4071);
  EXPECT_NE(why.find(out.outsideReason), std::string::npos) << why;
  Script(port(), s.handle(), out.table);
  why = ErrorText(s, 4071);
  EXPECT_NE(why.find(out.tableReason), std::string::npos) << why;

  // Everything is as it was.
  EXPECT_EQ(TableCount(s), 1u);
  EXPECT_EQ(s.Full(Opcode("InfoFields"), {TextSlot("*"), Bytes(wire::kFieldDefListSize)})
                .slots[1][3 * 43],
            'B');
  ASSERT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("NAME", 7), "Person1");

  // Reading the catalog (PostgreSQL's own: zdbd's tables are not the script's there), looking at
  // tables and scratch tables are fine.
  ScriptRun ok =
      OnPostgres()
          ? Script(port(), s.handle(),
                   "SELECT table_name FROM information_schema.tables"
                   " WHERE table_schema = current_schema();"
                   "SELECT count(*) FROM information_schema.columns WHERE table_name = 'people'"
                   " AND column_name IN ('name', 'age', 'salary', 'born');"
                   "CREATE TEMP TABLE scratch(a integer); INSERT INTO scratch VALUES(7);"
                   "SELECT a FROM scratch")
          : Script(port(), s.handle(),
                   "SELECT name FROM zdb_tables; PRAGMA table_info(PEOPLE);"
                   "CREATE TEMP TABLE scratch(a); INSERT INTO scratch VALUES(7);"
                   "SELECT a FROM scratch");
  EXPECT_EQ(ok.status, 1000);
  ASSERT_EQ(ok.records.size(), OnPostgres() ? 3u : 6u);
  EXPECT_EQ(ok.records.front(), OnPostgres() ? "people\n" : "PEOPLE\n");
  if (OnPostgres()) {
    EXPECT_EQ(ok.records[1], "4\n");
  }
  EXPECT_EQ(ok.records.back(), "7\n");
  // The guard leaves nothing behind: the record requests work as before.
  ASSERT_EQ(s.Status(Opcode("AppendBlank")), 1000);
  EXPECT_EQ(s.Put("NAME", "After"), 1000);
  EXPECT_EQ(s.Get("NAME", 5), "After");
}

TEST_F(ServerScripts, ValuesWrittenByScriptsObeyTheFieldRules) {
  RawSession s(port());
  MakePeople(s, "SHOP", 2);
  const char* refused[] = {
      "UPDATE PEOPLE SET AGE = 'old'",                             // not an integer
      "UPDATE PEOPLE SET AGE = 40000",                             // out of range
      "UPDATE PEOPLE SET AGE = 2.5",                               // not whole
      "UPDATE PEOPLE SET NAME = 'a name longer than twenty'",      // wider than the field
      "INSERT INTO PEOPLE(NAME, BORN) VALUES('X', '31.12.1999')",  // not a date
      "INSERT INTO PEOPLE(NAME, BORN) VALUES('X', '2023-02-29')",  // not a day of the calendar
      "UPDATE PEOPLE SET SALARY = 'much'",                         // not a number
  };
  for (const char* sql : refused) EXPECT_EQ(Script(port(), s.handle(), sql).status, 4071) << sql;
  // The reason names what was refused: SQLite's guard the field, PostgreSQL the column's type.
  EXPECT_NE(
      ErrorText(s, 4071).find(OnPostgres() ? "type double precision: \"much\"" : "PEOPLE.SALARY"),
      std::string::npos)
      << ErrorText(s, 4071);
  ScriptRun count = Script(port(), s.handle(), "SELECT count(*), sum(AGE) FROM PEOPLE");
  EXPECT_EQ(count.records, (std::vector<std::string>{"2\t43\n"}));  // nothing changed
  EXPECT_EQ(Script(port(), s.handle(), "UPDATE PEOPLE SET AGE = AGE + 1, SALARY = '12.5'").status,
            1000);
  ASSERT_EQ(s.Read("FIRST"), 1000);
  EXPECT_EQ(s.Get("AGE", 6), "22    ");

  // Inserts receive the defaults of the fields they leave null.
  ASSERT_EQ(s.Status(Opcode("PutDefaultValue"), {TextSlot("AGE"), TextSlot("33")}), 1000);
  EXPECT_EQ(Script(port(), s.handle(), "INSERT INTO PEOPLE(NAME) VALUES('Fresh')").status, 1000)
      << ErrorText(s, 4071);
  EXPECT_EQ(Script(port(), s.handle(), "SELECT AGE FROM PEOPLE WHERE NAME = 'Fresh'").records,
            (std::vector<std::string>{"33\n"}));
  ASSERT_EQ(Script(port(), s.handle(), "DELETE FROM PEOPLE WHERE NAME = 'Fresh'").status, 1000);

  // Constraints and cross references hold for scripts too.
  ASSERT_EQ(s.Status(Opcode("AddConstrain"), {TextSlot("NAME"), Constraint("", 0, 'U')}), 1000);
  EXPECT_EQ(Script(port(), s.handle(), "UPDATE PEOPLE SET NAME = 'Person1' WHERE rowid = 2").status,
            4071);
  EXPECT_NE(ErrorText(s, 4071).find("constraint"), std::string::npos);
  ASSERT_EQ(s.Status(Opcode("CreTable"),
                     {TextSlot("ORDERS"), TextSlot("WHO C 20"), TextSlot(""), Bytes(113)}),
            1000);
  ASSERT_EQ(s.Status(Opcode("AddFXREF"),
                     {TextSlot("BUYER"), TextSlot("ORDERS"), TextSlot("WHO"), TextSlot("PEOPLE"),
                      TextSlot("NAME"), TextSlot(""), TextSlot("")}),
            1000);
  EXPECT_EQ(Script(port(), s.handle(), "INSERT INTO ORDERS VALUES('Nobody')").status, 4071);
  EXPECT_EQ(Script(port(), s.handle(), "INSERT INTO ORDERS VALUES('Person1')").status, 1000);
  EXPECT_EQ(Script(port(), s.handle(), "DELETE FROM PEOPLE WHERE NAME = 'Person1'").status, 4071);
  EXPECT_EQ(Script(port(), s.handle(), "UPDATE PEOPLE SET NAME = 'Moved' WHERE rowid = 1").status,
            4071);
  EXPECT_EQ(Script(port(), s.handle(), "DELETE FROM PEOPLE WHERE NAME = 'Person2'").status, 1000);
  // A cascading reference: the script's delete takes the pointing records along.
  ASSERT_EQ(s.Status(Opcode("DelXREF"), {TextSlot("BUYER")}), 1000);
  ASSERT_EQ(s.Status(Opcode("AddFXREF"),
                     {TextSlot("BUYER"), TextSlot("ORDERS"), TextSlot("WHO"), TextSlot("PEOPLE"),
                      TextSlot("NAME"), TextSlot("CASCADE"), TextSlot("")}),
            1000);
  EXPECT_EQ(Script(port(), s.handle(), "DELETE FROM PEOPLE WHERE NAME = 'Person1'").status, 1000)
      << ErrorText(s, 4071);
  EXPECT_EQ(Script(port(), s.handle(), "SELECT count(*) FROM ORDERS").records,
            (std::vector<std::string>{"0\n"}));
  // SQLite's scratch table would stand in front of the data table for the rest of the session;
  // PostgreSQL's ends with the script's own connection.
  if (!OnPostgres()) {
    EXPECT_EQ(Script(port(), s.handle(), "CREATE TEMP TABLE people(x)").status, 4071);
  }
  ASSERT_EQ(Script(port(), s.handle(), "INSERT INTO PEOPLE(NAME, AGE) VALUES('Back', 22)").status,
            1000);

  // A transaction the script leaves open is rolled back; a closed one is kept.
  EXPECT_EQ(Script(port(), s.handle(), "BEGIN; UPDATE PEOPLE SET AGE = 1").status, 4071);
  EXPECT_EQ(Script(port(), s.handle(), "SELECT AGE FROM PEOPLE").records,
            (std::vector<std::string>{"22\n"}));
  EXPECT_EQ(Script(port(), s.handle(), "BEGIN; UPDATE PEOPLE SET AGE = 30; COMMIT").status, 1000);
  EXPECT_EQ(Script(port(), s.handle(), "SELECT AGE FROM PEOPLE").records,
            (std::vector<std::string>{"30\n"}));
  // Inside the session's own transaction the script may not end it.
  ASSERT_EQ(s.Status(Opcode("BeginTransaction")), 1000);
  EXPECT_EQ(Script(port(), s.handle(), "COMMIT").status, 4071);
  EXPECT_EQ(s.Status(Opcode("RollBack")), 1000);
}

}  // namespace
}  // namespace zdb::test
