// zdb dump and zdb load against zdbd: every field type the server supports travels out into
// SQLite and back into a second database, value for value.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/zdbd_process.h"
#include "tool_runner.h"
#include "zdb/dump_sink.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

// Every type and subtype: text, numeric text, date, memo, binary, number, integer.
constexpr const char* kSpec =
    "NAME C 12; CODE C N 10; BORN C D; NOTE C M 300; DATA C B 16; PRICE N; QTY I";
constexpr int kFields = 7;

std::vector<std::vector<std::string>> Rows() {
  return {
      {"pen", "42", "2001-02-03", "a memo, with commas", "bin", "1.25", "-7"},
      {"O'Brien \"x\"", "3.5", "", "", "", "0.1", "32767"},
      {"", "", "1999-12-31", std::string(200, 'm'), "z", "-12345.678", "-32768"},
      {"tab\there", "0", "2024-02-29", "line", "b2", "1e+300", "0"},
  };
}

void Connect(const std::string& host) {
  ASSERT_EQ(ZDB_SelHost(host.c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("", ""), ZDB_OK);
}

void MakeDatabase(const std::string& host) {
  Connect(host);
  ASSERT_EQ(Z_NewDB("ALLTYPES", "", "", 0, ""), ZDB_OK);
  ASSERT_EQ(ZDB_UseDB("ALLTYPES"), ZDB_OK);
  ASSERT_EQ(ZDB_SelDB("ALLTYPES"), ZDB_OK);
  unsigned char record[113] = {};
  ASSERT_EQ(Z_CreTable("T", kSpec, "", record), ZDB_OK);
  ASSERT_EQ(Z_CreTable("EMPTY", "A C 5", "", record), ZDB_OK);
  ASSERT_EQ(ZDB_OpenTable("T", "", ""), ZDB_OK);
  ASSERT_EQ(ZDB_SelTable("T", ""), ZDB_OK);
  for (auto row : Rows()) {
    std::vector<char*> values;
    for (auto& v : row) values.push_back(v.data());
    ASSERT_EQ(ZDB_PutWrite("*", values.data()), ZDB_OK) << row[0];
  }
  // Rules that a load must recreate: an index, a constraint, a default and a cross reference.
  ASSERT_EQ(Z_UpdIFields("BYNAME", "NAME,QTY", 1), ZDB_OK);
  unsigned char constraint[364] = {};
  std::memcpy(constraint, "QTY", 3);
  constraint[33] = 4;
  constraint[35] = 'R';
  std::memcpy(constraint + 36, "-32768", 6);
  std::memcpy(constraint + 164, "32767", 5);
  ASSERT_EQ(Z_AddConstrain("QTY", constraint), ZDB_OK);
  ASSERT_EQ(Z_PutDefaultValue("PRICE", "9.5"), ZDB_OK);
  ASSERT_EQ(Z_AddFXREF("LINK", "EMPTY", "A", "T", "NAME", "CASCADE", "a link"), ZDB_OK);
  ASSERT_EQ(ZDB_Alias("TALIAS", "T", "T by another name"), ZDB_OK);
  ASSERT_EQ(ZDB_Finish(), ZDB_OK);
}

// The rules of DB.T and DB.EMPTY as the catalog calls list them, one line each.
std::string Rules(const std::string& host, const char* db) {
  std::string out;
  Connect(host);
  EXPECT_EQ(ZDB_UseDB(db), ZDB_OK);
  EXPECT_EQ(ZDB_SelDB(db), ZDB_OK);
  EXPECT_EQ(ZDB_OpenTable("T", "", ""), ZDB_OK);
  EXPECT_EQ(ZDB_SelTable("T", ""), ZDB_OK);
  int32_t count = 0;
  char list[3900] = {}, name[64] = "BYNAME";
  EXPECT_EQ(Z_TableIndex(&count, list), ZDB_OK);
  out += "indexes " + std::to_string(count) + " " + list + " unique " + std::to_string(list[33]) +
         "\n";
  EXPECT_EQ(Z_IndexFields(name, &count, list), ZDB_OK);
  out += "fields " + std::string(list) + "," + std::string(list + 33) + "\n";
  unsigned char constraint[364] = {};
  std::snprintf(name, sizeof name, "QTY");
  EXPECT_EQ(Z_GetConstrain(name, 4, constraint), ZDB_OK);
  out += std::string("constraint ") + static_cast<char>(constraint[35]) + " " +
         reinterpret_cast<char*>(constraint + 36) + ".." +
         reinterpret_cast<char*>(constraint + 164) + "\n";
  char value[513] = {};
  std::snprintf(name, sizeof name, "PRICE");
  EXPECT_EQ(Z_GetDefaultValue(name, value), ZDB_OK);
  out += std::string("default ") + value + "\n";
  std::vector<char> xrefs(29700);
  std::snprintf(name, sizeof name, "EMPTY.A");
  EXPECT_EQ(Z_XRefFromField(name, xrefs.data(), &count), ZDB_OK);
  out += "xrefs " + std::to_string(count) + " " + xrefs.data() + " " + &xrefs[166] + " " +
         &xrefs[175] + "\n";
  std::vector<char> aliases(3300);
  EXPECT_EQ(Z_TableAlias(aliases.data(), &count), ZDB_OK);
  out += "aliases " + std::to_string(count) + " " + aliases.data() + "=" + &aliases[33] + "\n";
  ZDB_Finish();
  return out;
}

// Every record of DB.T as the server gives it in whole-record reads.
std::vector<std::vector<std::string>> ReadBack(const std::string& host, const char* db) {
  std::vector<std::vector<std::string>> rows;
  Connect(host);
  EXPECT_EQ(ZDB_UseDB(db), ZDB_OK);
  EXPECT_EQ(ZDB_SelDB(db), ZDB_OK);
  EXPECT_EQ(ZDB_OpenTable("T", "", ""), ZDB_OK);
  EXPECT_EQ(ZDB_SelTable("T", ""), ZDB_OK);
  char* values[300] = {};
  char mode[8] = "FIRST", empty[1] = "";
  while (ZDB_GetRead(mode, empty, "*", values) == ZDB_OK) {
    rows.emplace_back(values, values + kFields);
    std::snprintf(mode, sizeof mode, "NEXT");
  }
  for (char* v : values) std::free(v);
  ZDB_Finish();
  return rows;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

std::string Query(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, sql.c_str(),
        [](void* o, int n, char** v, char**) {
          auto* s = static_cast<std::string*>(o);
          for (int i = 0; i < n; ++i) *s += (i ? "|" : "") + std::string(v[i] ? v[i] : "NULL");
          *s += "\n";
          return 0;
        },
        &out, nullptr);
  }
  sqlite3_close(db);
  return out;
}

TEST(ZdbDump, RoundTripOfEveryFieldType) {
  TempDir data, work;
  ZdbdProcess server(data.path());
  ASSERT_TRUE(server.running());
  MakeDatabase(server.host());
  const auto original = ReadBack(server.host(), "ALLTYPES");
  ASSERT_EQ(original.size(), Rows().size());

  const std::string file = work.path() + "/all.sqlite";
  ToolResult r = RunZdb({"dump", server.host(), "--out", file});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "zdb: dumped 1 database(s), 2 table(s), 4 record(s) to " + file + "\n");
  EXPECT_EQ(Entries(work.path()), std::vector<std::string>{"all.sqlite"});
  // Columns typed from the definitions, definitions kept.
  EXPECT_EQ(
      Query(file, "SELECT name, type FROM pragma_table_info('ALLTYPES.T')"),
      "zdb_record|INTEGER\nNAME|TEXT\nCODE|TEXT\nBORN|TEXT\nNOTE|TEXT\nDATA|BLOB\nPRICE|REAL\n"
      "QTY|INTEGER\n");
  EXPECT_EQ(Query(file,
                  "SELECT name, type, subtype, width FROM zdb_dump_fields WHERE tbl='T' "
                  "ORDER BY pos"),
            "NAME|C||12\nCODE|C|N|10\nBORN|C|D|10\nNOTE|C|M|300\nDATA|C|B|16\nPRICE|N||20\n"
            "QTY|I||6\n");
  EXPECT_EQ(Query(file, "SELECT typeof(PRICE), QTY FROM \"ALLTYPES.T\" ORDER BY rowid LIMIT 1"),
            "real|-7\n");
  EXPECT_EQ(Query(file, "SELECT tbl, records FROM zdb_dump_tables ORDER BY tbl"), "EMPTY|0\nT|4\n");

  r = RunZdb({"load", server.host(), "--in", file, "--database", "ALLTYPES=SECOND"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "zdb: loaded 1 database(s), 2 table(s), 4 record(s) from " + file + "\n");
  EXPECT_EQ(ReadBack(server.host(), "SECOND"), original);
  const std::string rules = Rules(server.host(), "ALLTYPES");
  EXPECT_EQ(rules,
            "indexes 1 BYNAME unique 1\nfields NAME,QTY\nconstraint R -32768..32767\n"
            "default 9.5\nxrefs 1 LINK CASCADE a link\naliases 1 TALIAS=T\n");
  EXPECT_EQ(Rules(server.host(), "SECOND"), rules);
  EXPECT_EQ(
      Query(file, "SELECT tbl, kind, field, name, value FROM zdb_dump_rules ORDER BY tbl, pos"),
      "EMPTY|X|A||\nT|I||BYNAME|NAME,QTY\nT|A||TALIAS|T\nT|D|PRICE||9.5\nT|C|QTY||\n");
  // The loaded tables have the same definitions: a dump of the copy describes them alike.
  const std::string copy = work.path() + "/copy.sqlite";
  r = RunZdb({"dump", server.host(), "--out", copy, "--database", "SECOND", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string fields = "SELECT tbl, pos, name, type, subtype, width FROM zdb_dump_fields ";
  EXPECT_EQ(Query(copy, fields + "ORDER BY tbl, pos"),
            Query(file, fields + "WHERE db='ALLTYPES' ORDER BY tbl, pos"));
  std::remove(copy.c_str());
  // Loading onto an existing database is refused with the way out named.
  r = RunZdb({"load", server.host(), "--in", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("database ALLTYPES exists on the server"), std::string::npos) << r.err;

  // The CSV form: one folder, one file per table, with a header row.
  r = RunZdb({"dump", server.host(), "--out", work.path() + "/csv", "--format", "csv", "-q",
              "--database", "ALLTYPES"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string csv = ReadFile(work.path() + "/csv/ALLTYPES/T.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "zdb_record,NAME,CODE,BORN,NOTE,DATA,PRICE,QTY");
  EXPECT_NE(csv.find("\n2,\"O'Brien \"\"x\"\"\",3.5,\"\",\"\",\\x,0.1,32767\n"), std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\n1,pen,42,2001-02-03,\"a memo, with commas\",\\x62696e,1.25,-7\n"),
            std::string::npos)
      << csv;
  EXPECT_EQ(ReadFile(work.path() + "/csv/ALLTYPES/EMPTY.csv"), "zdb_record,A\n");
  // An existing folder or file is replaced only with --force.
  r = RunZdb({"dump", server.host(), "--out", work.path() + "/csv", "--format", "csv"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("dump folder " + work.path() + "/csv: exists already (--force"),
            std::string::npos)
      << r.err;
  r = RunZdb({"dump", server.host(), "--out", work.path() + "/csv", "--format", "csv", "--force",
              "-q", "--database", "SECOND"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(Exists(work.path() + "/csv/ALLTYPES"));
  EXPECT_TRUE(Exists(work.path() + "/csv/SECOND/T.csv"));
  // Both forms get the mode any new file gets under the umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  for (const std::string& f :
       {file, work.path() + "/csv/SECOND/T.csv", work.path() + "/csv/zdb_tables.csv"}) {
    ASSERT_EQ(::stat(f.c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << f;
  }
  ASSERT_EQ(::stat((work.path() + "/csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask);
}

TEST(ZdbDump, UsersTravelWithTheirPrivilegesButNoPasswords) {
  TempDir data, fresh, work;
  ZdbdProcess server(data.path()), target(fresh.path());
  ASSERT_TRUE(server.running() && target.running());
  MakeDatabase(server.host());
  Connect(server.host());
  ASSERT_EQ(Z_AddUser("boss", "secret", "ADMIN"), ZDB_OK);
  ZDB_Finish();
  ASSERT_EQ(ZDB_SelHost(server.host().c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("boss", "secret"), ZDB_OK);
  ASSERT_EQ(Z_AddUser("clerk", "other", "USER"), ZDB_OK);
  ASSERT_EQ(Z_Grant("clerk", "ALLTYPES", "T", "", 3), ZDB_OK);
  ASSERT_EQ(Z_Grant("clerk", "ALLTYPES", "EMPTY", "", 1), ZDB_OK);
  ZDB_Finish();
  const std::string file = work.path() + "/users.sqlite";
  ToolResult r = RunZdb({"--user", "boss", "--password", "secret", "dump", server.host(), "--out",
                         file, "--users", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Query(file, "SELECT * FROM zdb_dump_users ORDER BY name"),
            "boss|ADMIN|\nclerk|USER|ALLTYPES.EMPTY:1\nALLTYPES.T:3\n\n");
  // A user who may not run scripts dumps record by record through single-field calls, to the
  // same values.
  const std::string slow = work.path() + "/slow.sqlite";
  r = RunZdb({"--user", "clerk", "--password", "other", "dump", server.host(), "--out", slow,
              "--database", "ALLTYPES"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("ALLTYPES.T: the script read failed (4005"), std::string::npos) << r.err;
  const std::string all = "SELECT * FROM \"ALLTYPES.T\" ORDER BY zdb_record";
  EXPECT_EQ(Query(slow, all), Query(file, all));
  EXPECT_EQ(Query(slow, "SELECT * FROM zdb_dump_tables"),
            Query(file, "SELECT * FROM zdb_dump_tables"));
  r = RunZdb({"load", target.host(), "--in", file, "--users"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no password on standard input"), std::string::npos) << r.err;
  r = RunZdb({"load", target.host(), "--in", file, "--users", "--database", "ALLTYPES=COPY"},
             "fresh\n");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("2 user(s) created"), std::string::npos) << r.err;
  ASSERT_EQ(ZDB_SelHost(target.host().c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("boss", "fresh"), ZDB_OK);
  EXPECT_EQ(Z_ValidUser("clerk", "fresh", ""), ZDB_OK);
  EXPECT_EQ(Z_ValidUser("clerk", "other", ""), 4004);
  char name[64] = "clerk", reserved[64] = {}, info[10000] = {};
  ASSERT_EQ(Z_ReadUser(name, reserved, info), ZDB_OK);
  EXPECT_NE(std::string(info).find("grant=COPY.T:3"), std::string::npos) << info;
  ZDB_Finish();
}

TEST(ZdbDump, AFailedDumpLeavesNoFile) {
  TempDir data, work;
  ZdbdProcess server(data.path());
  ASSERT_TRUE(server.running());
  MakeDatabase(server.host());
  const std::string file = work.path() + "/out.sqlite";
  ToolResult r = RunZdb({"dump", server.host(), "--out", file, "--database", "NOPE"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("database NOPE: not on the server (it has: ALLTYPES)"), std::string::npos)
      << r.err;
  r = RunZdb({"dump", server.host(), "--out", work.path() + "/none/out.sqlite"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
  // No server answers: nothing is made under the final name or a temporary one.
  r = RunZdb({"dump", "127.0.0.1:1", "--out", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Entries(work.path()).empty());
  r = RunZdb({"load", server.host(), "--in", work.path() + "/missing.sqlite"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("dump file " + work.path() + "/missing.sqlite: No such file"),
            std::string::npos)
      << r.err;
  // The whole dump is checked before the server is changed: a value wider than its field, or
  // of the wrong kind, is named with its database, table, record and field.
  const std::string bad = work.path() + "/bad.sqlite";
  const auto makeDump = [&](const std::string& rows, const std::string& checksum,
                            const std::string& field = "'C', '', 3") {
    std::remove(bad.c_str());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(bad.c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE zdb_dump_tables(db, tbl, name, records, description, checksum);"
        "CREATE TABLE zdb_dump_fields(db, tbl, pos, name, type, subtype, width);"
        "CREATE TABLE zdb_dump_rules(db, tbl, pos, kind, field, name, value, flags, data);"
        "CREATE TABLE \"X.T\"(zdb_record INTEGER PRIMARY KEY, A TEXT);"
        "INSERT INTO zdb_dump_tables VALUES('X', 'T', 'X.T', 2, '', '" +
        checksum +
        "');"
        "INSERT INTO zdb_dump_fields VALUES('X', 'T', 0, 'A', " +
        field +
        ");"
        "INSERT INTO \"X.T\" VALUES" +
        rows;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
  };
  makeDump("(1, 'abc'), (7, 'too long')", "");
  r = RunZdb({"load", server.host(), "--in", bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("database X, table T, record 7, field A: 8 bytes, wider than 3"),
            std::string::npos)
      << r.err;
  makeDump("(1, 'abc'), (2, X'00')", "");
  r = RunZdb({"load", server.host(), "--in", bad});
  EXPECT_NE(r.err.find("database X, table T, record 2, field A: not a text"), std::string::npos)
      << r.err;
  // A dump changed after it was written no longer matches its checksum.
  makeDump("(1, 'abc'), (2, 'abd')", "0000000000000000");
  r = RunZdb({"load", server.host(), "--in", bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("table X.T: 2 record(s), checksum "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("but the dump recorded 2 and 0000000000000000"), std::string::npos) << r.err;
  r = RunZdb({"sql", server.host(), "X", "#SELECT 1"});
  EXPECT_NE(r.err.find("4011 Database not found"), std::string::npos) << r.err;
  // A value the server refuses although the dump looked right (month 13): the table's
  // transaction rolls back and the database the load made goes again.
  uint64_t sum = cli::kChecksumStart;
  for (const cli::Cell& c :
       {cli::Cell{cli::Cell::kInt, "1"}, cli::Cell{cli::Cell::kText, "2024-01-01"},
        cli::Cell{cli::Cell::kInt, "2"}, cli::Cell{cli::Cell::kText, "2024-13-01"}})
    sum = cli::MixCell(sum, c);
  makeDump("(1, '2024-01-01'), (2, '2024-13-01')", cli::ChecksumText(sum), "'C', 'D', 10");
  r = RunZdb({"load", server.host(), "--in", bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("writing X.T from record 1: 4071"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("database X removed again"), std::string::npos) << r.err;
  r = RunZdb({"sql", server.host(), "X", "#SELECT 1"});
  EXPECT_NE(r.err.find("4011 Database not found"), std::string::npos) << r.err;
  // A dump of an older zdb (no checksums, values possibly cut) is refused.
  std::remove(bad.c_str());
  sqlite3* old = nullptr;
  ASSERT_EQ(sqlite3_open(bad.c_str(), &old), SQLITE_OK);
  sqlite3_exec(old, "CREATE TABLE zdb_dump_tables(db, tbl, name, records)", nullptr, nullptr,
               nullptr);
  sqlite3_close(old);
  r = RunZdb({"load", server.host(), "--in", bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("an older zdb's dump may hold cut values"), std::string::npos) << r.err;

  WriteFile(work.path() + "/junk.sqlite", "not a database");
  r = RunZdb({"load", server.host(), "--in", work.path() + "/junk.sqlite"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not a dump of this zdb"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace zdb::test
