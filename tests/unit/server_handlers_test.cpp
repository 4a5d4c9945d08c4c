// zdbd's request handlers, piece by piece: every request the library sends has a row, the
// script authorizer's decisions, the texts, and the rules over a database file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "dispatch.h"
#include "requests/catalog_members.h"
#include "rules.h"
#include "schema.h"
#include "script_guard.h"
#include "status.h"
#include "wire/catalogue.h"

using zdb::wire::Opcode;

namespace zdbd {
namespace {

size_t Tokens(const char* rule) {
  size_t n = 0;
  bool in = false;
  for (const char* p = rule; *p; ++p) {
    if (*p == '>') continue;
    bool word = *p != ' ';
    if (word && !in) ++n;
    in = word;
  }
  return n;
}

TEST(ServerHandlers, EveryRequestOfTheLibraryHasARow) {
  for (const auto& m : zdb::catalog::kMembers) {
    const OpRow* row = FindOp(static_cast<uint8_t>(m.kindFlags & 0xFF), m.opcode);
    ASSERT_NE(row, nullptr) << m.name;
    if (row->slots[0] != '>') {
      EXPECT_EQ(Tokens(row->slots), m.slotCount) << m.name;
    }
  }
  // The table, record, value and maintenance requests, and the script request.
  for (uint32_t op : {Opcode("UseDB"),          Opcode("UnUseDB"),     Opcode("SelDB"),
                      Opcode("GetDB"),          Opcode("OpenTable"),   Opcode("CloseTable"),
                      Opcode("SelTable"),       Opcode("GetTable"),    Opcode("Alias"),
                      Opcode("DBLock"),         Opcode("DBUnLock"),    Opcode("DBIsLock"),
                      Opcode("LockTable"),      Opcode("Seek"),        Opcode("Read"),
                      Opcode("AppendBlank"),    Opcode("Write"),       Opcode("Delete"),
                      Opcode("RecUnLock"),      Opcode("WhoLock"),     Opcode("BeginTransaction"),
                      Opcode("EndTransaction"), Opcode("TRStatus"),    Opcode("Commit"),
                      Opcode("RollBack"),       Opcode("BackupTable"), Opcode("RestoreTable"),
                      Opcode("CreateIndex"),    Opcode("EraseIndex"),  Opcode("RebuildIndex"),
                      Opcode("CompactTable"),   Opcode("ClearTable"),  Opcode("FFCopy"),
                      Opcode("XRefTest"),       Opcode("GetField"),    Opcode("PutField"),
                      Opcode("TestField"),      Opcode("IsNull"),      Opcode("CpyField"),
                      Opcode("2CpyField"),      Opcode("FRead"),       Opcode("FWrite"),
                      Opcode("MatGetFields"),   Opcode("GetRead"),     Opcode("MatPutFields"),
                      Opcode("PutWrite")})
    EXPECT_NE(FindOp(1, op), nullptr) << op;
  EXPECT_NE(FindOp(2, Opcode("SqlRun")), nullptr);
}

// The protocol document gives every row of the table a line of its own.
TEST(ServerHandlers, TheProtocolDocumentCoversEveryRow) {
  std::ifstream in(std::string(ZDB_SOURCE_DIR) + "/docs/server.md");
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  std::string doc = text.str();
  size_t count = 0;
  const OpRow* rows = OpTable(&count);
  for (size_t i = 0; i < count; ++i) {
    std::string op = std::to_string(rows[i].opcode);
    bool found = false;
    for (const std::string& cell : {"| " + op + " |", "| " + op + ", ", ", " + op + " |"})
      found = found || doc.find(cell) != std::string::npos;
    EXPECT_TRUE(found) << rows[i].name;
  }
  EXPECT_EQ(doc.find("not supported: 4001"), std::string::npos);
}

TEST(ServerHandlers, ScriptAuthorizerDecisions) {
  auto refused = [](int action, const char* a, const char* b = nullptr, const char* db = "main",
                    bool tx = false) { return !ScriptActionRefusal(action, a, b, db, tx).empty(); };
  EXPECT_TRUE(refused(SQLITE_INSERT, "zdb_fields"));
  EXPECT_TRUE(refused(SQLITE_UPDATE, "ZDB_Tables"));
  EXPECT_TRUE(refused(SQLITE_DELETE, "sqlite_master"));
  EXPECT_FALSE(refused(SQLITE_INSERT, "zdb_scratch", nullptr, "temp"));
  EXPECT_FALSE(refused(SQLITE_UPDATE, "PEOPLE"));
  EXPECT_FALSE(refused(SQLITE_READ, "zdb_fields"));
  EXPECT_TRUE(refused(SQLITE_DROP_TABLE, "PEOPLE"));
  EXPECT_TRUE(refused(SQLITE_ALTER_TABLE, "main", "PEOPLE"));
  EXPECT_TRUE(refused(SQLITE_CREATE_INDEX, "i", "PEOPLE"));
  EXPECT_FALSE(refused(SQLITE_CREATE_TEMP_TABLE, "scratch"));
  std::vector<std::string> tables = {"PEOPLE"};
  EXPECT_FALSE(ScriptActionRefusal(SQLITE_CREATE_TEMP_TABLE, "people", nullptr, "temp", false,
                                   &tables)
                   .empty());  // it would shadow the ZDB table
  EXPECT_TRUE(
      ScriptActionRefusal(SQLITE_CREATE_TEMP_TABLE, "peoples", nullptr, "temp", false, &tables)
          .empty());
  EXPECT_TRUE(refused(SQLITE_CREATE_TEMP_TRIGGER, "t", "PEOPLE"));
  EXPECT_TRUE(refused(SQLITE_ATTACH, "file.db"));
  EXPECT_FALSE(refused(SQLITE_PRAGMA, "table_info", "PEOPLE"));
  EXPECT_FALSE(refused(SQLITE_PRAGMA, "user_version"));
  EXPECT_TRUE(refused(SQLITE_PRAGMA, "user_version", "3"));
  EXPECT_FALSE(refused(SQLITE_TRANSACTION, "BEGIN"));
  EXPECT_TRUE(refused(SQLITE_TRANSACTION, "COMMIT", nullptr, "main", true));
  EXPECT_NE(ScriptActionRefusal(SQLITE_DROP_TABLE, "PEOPLE", nullptr, "main", false).find("PEOPLE"),
            std::string::npos);
}

TEST(ServerHandlers, TextsFitTheErrorBuffer) {
  for (int32_t code :
       {2001, 2003, 2004, 2013, 2016, 2021, 2120, 2600, 2601, 2605, 2606, 2700, 3003, 4025,
        4026, 4034, 4035, 4036, 4037, 4038, 4039, 4043, 4044, 4045, 4071, 4091, 4092}) {
    std::string t = StatusText(code);
    EXPECT_LE(t.size(), 128u) << code;
    EXPECT_EQ(t.find("Unknown"), std::string::npos) << code;
  }
  EXPECT_EQ(StatusText(2013), "None of the listed fields is defined");
  EXPECT_EQ(StatusText(2606), "The server has stopped");
  EXPECT_NE(StatusText(4025), StatusText(4022));  // an index is not a table
  EXPECT_NE(StatusText(4026), StatusText(4021));
}

class ServerRulesOnFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zdbd-rules-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_TRUE(db.Open(dir + "/T.zdb", true));
    ASSERT_TRUE(EnsureCatalog(db));
    std::vector<FieldInfo> a, b;
    ASSERT_TRUE(ParseFieldSpec("NAME C 10; AGE I", &a));
    ASSERT_TRUE(ParseFieldSpec("WHO C 10", &b));
    ASSERT_EQ(CreateTable(db, "P", "", a), kOk);
    ASSERT_EQ(CreateTable(db, "O", "", b), kOk);
    name = TableFields(db, "P")[0];
    age = TableFields(db, "P")[1];
    who = TableFields(db, "O")[0];
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string dir;
  Db db;
  FieldInfo name, age, who;
};

TEST_F(ServerRulesOnFile, ConstraintsDefaultsAndCascades) {
  Constraint range;
  range.field = "AGE";
  range.kind = 'R';
  range.v1 = "1";
  range.v2 = "9";
  EXPECT_EQ(CheckConstraintDefinition(age, range), kOk);
  ASSERT_EQ(AddConstraint(db, "P", &range), kOk);
  EXPECT_EQ(range.number, 1);
  Constraint pattern{0, "NAME", 'P', "A*", "", ""};
  ASSERT_EQ(AddConstraint(db, "P", &pattern), kOk);
  EXPECT_EQ(CheckValues(db, "P", 0, {age}, {Value::Int(10)}), kConstraintViolated);
  EXPECT_EQ(CheckValues(db, "P", 0, {age}, {Value::Int(9)}), kOk);
  EXPECT_EQ(CheckValues(db, "P", 0, {name}, {Value::Text("Bob")}), kConstraintViolated);
  EXPECT_EQ(CheckValues(db, "P", 0, {name}, {Value::Null()}), kOk);  // only 'M' wants a value

  ASSERT_EQ(SetDefault(db, "P", "AGE", "5", false), kOk);
  int64_t ann = 0, amy = 0;
  ASSERT_EQ(InsertRecord(db, "P", {name}, {Value::Text("Ann")}, &ann), kOk);
  ASSERT_EQ(InsertRecord(db, "P", {name}, {Value::Text("Amy")}, &amy), kOk);
  {
    Stmt s(db, "SELECT AGE FROM P WHERE rowid=?");
    s.Bind(1, ann);
    ASSERT_TRUE(s.Step());
    EXPECT_EQ(s.Int(0), 5);
  }

  Xref x;
  x.name = "X";
  x.fromTable = "O";
  x.fromField = "WHO";
  x.toTable = "P";
  x.toField = "NAME";
  x.rule = "CASCADE";
  ASSERT_EQ(AddXref(db, x), kOk);
  EXPECT_EQ(AddXref(db, x), kXrefExists);
  int64_t order = 0;
  EXPECT_EQ(InsertRecord(db, "O", {who}, {Value::Text("Zed")}, &order), kNoReferencedRecord);
  ASSERT_EQ(InsertRecord(db, "O", {who}, {Value::Text("Ann")}, &order), kOk);
  EXPECT_EQ(CheckValues(db, "P", ann, {name}, {Value::Text("Anna")}), kStillReferenced);
  EXPECT_EQ(CheckValues(db, "P", amy, {name}, {Value::Text("Amelia")}), kOk);
  ASSERT_EQ(DeleteRecord(db, "P", ann), kOk);
  EXPECT_EQ(RecordCount(db, "O"), 0);
  EXPECT_EQ(DeleteRecord(db, "P", ann), kRecordNotFound);

  // Renames and drops carry the rules along.
  ASSERT_EQ(UpdateField(db, "P", "NAME", FieldInfo{"FULL", 'C', ' ', 10, ""}), kOk);
  EXPECT_EQ(Constraints(db, "P", "FULL").size(), 1u);
  EXPECT_EQ(Xrefs(db)[0].toField, "FULL");
  ASSERT_EQ(RenameTable(db, "P", "Q"), kOk);
  EXPECT_EQ(Constraints(db, "Q", "").size(), 2u);
  EXPECT_EQ(Xrefs(db)[0].toTable, "Q");
  ASSERT_EQ(DropTable(db, "Q"), kOk);
  EXPECT_TRUE(Xrefs(db).empty());
  EXPECT_TRUE(Constraints(db, "Q", "").empty());
}

}  // namespace
}  // namespace zdbd
