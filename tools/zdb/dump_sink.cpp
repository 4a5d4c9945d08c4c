#include "zdb/dump_sink.h"

#if ZDB_TOOL_SQLITE
#include <sqlite3.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "zdb/common.h"
#include "zdb/platform.h"
#include "zdb/sql_format.h"

namespace zdb::cli {
namespace {

// Puts the finished temporary in place; what is there already goes only with `force`.
bool PutInPlace(const std::string& temp, const std::string& final, bool force, const char* what) {
  std::error_code ec;
  if (std::filesystem::exists(final, ec)) {
    if (!force) {
      Error("dump %s %s: exists already (--force replaces it)", what, final.c_str());
      return false;
    }
    std::filesystem::remove_all(final, ec);
    if (ec) {
      Error("dump %s %s: cannot remove it: %s", what, final.c_str(), ec.message().c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), final.c_str()) != 0) {
    Error("dump %s %s: cannot rename %s to it: %s", what, final.c_str(), temp.c_str(),
          std::strerror(errno));
    return false;
  }
  return true;
}

#if ZDB_TOOL_SQLITE
std::string Quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// SQLite schema of a dump: the data tables plus two metadata tables that keep the ZDB field
// definitions, so that zdb load can recreate the tables exactly.
constexpr const char* kSchema =
    "CREATE TABLE zdb_dump_tables(db TEXT, tbl TEXT, name TEXT, records INTEGER,"
    " description TEXT, checksum TEXT, PRIMARY KEY(db, tbl));"
    "CREATE TABLE zdb_dump_fields(db TEXT, tbl TEXT, pos INTEGER, name TEXT, type TEXT,"
    " subtype TEXT, width INTEGER, PRIMARY KEY(db, tbl, pos));"
    "CREATE TABLE zdb_dump_rules(db TEXT, tbl TEXT, pos INTEGER, kind TEXT, field TEXT,"
    " name TEXT, value TEXT, flags INTEGER, data BLOB, PRIMARY KEY(db, tbl, pos));"
    "CREATE TABLE zdb_dump_users(name TEXT PRIMARY KEY, role TEXT, grants TEXT);";

class SqliteSink : public DumpSink {
 public:
  SqliteSink(std::string path, bool force) : final_(std::move(path)), force_(force) {}
  ~SqliteSink() override {
    Finalize();
    if (db_) sqlite3_close(db_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
  }

  bool Open() {
    temp_ = final_ + ".part-XXXXXX";
    int fd = ::mkstemp(temp_.data());
    if (fd < 0) {
      Error("dump file %s: cannot create %s: %s", final_.c_str(), temp_.c_str(),
            std::strerror(errno));
      temp_.clear();
      return false;
    }
    const bool moded = os::GiveCreateMode(fd);
    ::close(fd);
    if (!moded) return Fail("setting the mode");
    if (sqlite3_open(temp_.c_str(), &db_) != SQLITE_OK || !Exec("PRAGMA journal_mode=OFF") ||
        !Exec("PRAGMA synchronous=OFF") || !Exec(kSchema))
      return false;
    return true;
  }

  bool BeginTable(const DumpTable& t) override {
    table_ = t;
    const std::string name = Quote(DumpTableName(t.db, t.table));
    std::string create = "CREATE TABLE " + name + "(" + kRecordColumn + " INTEGER PRIMARY KEY";
    std::string insert = "INSERT INTO " + name + " VALUES(?";
    for (const FieldDef& f : t.fields) {
      create += ", " + Quote(f.name) + " " + DumpColumnType(f);
      insert += ",?";
    }
    if (!Exec("BEGIN") || !Exec(create + ")")) return false;
    for (size_t i = 0; i < t.fields.size(); ++i) {
      sqlite3_stmt* s = Prepare("INSERT INTO zdb_dump_fields VALUES(?,?,?,?,?,?,?)");
      if (!s) return false;
      const FieldDef& f = t.fields[i];
      sqlite3_bind_text(s, 1, t.db.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, t.table.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 3, static_cast<int>(i));
      sqlite3_bind_text(s, 4, f.name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 5, std::string(1, f.type).c_str(), -1, SQLITE_TRANSIENT);
      const std::string sub = f.subtype == ' ' ? "" : std::string(1, f.subtype);
      sqlite3_bind_text(s, 6, sub.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(s, 7, f.width);
      if (!StepOnce(s)) return false;
    }
    insert_ = Prepare(insert + ")");
    return insert_ != nullptr;
  }

  bool Row(const CellRow& cells) override {
    sqlite3_reset(insert_);
    for (size_t i = 0; i < cells.size(); ++i) {
      const Cell& c = cells[i];
      const int col = static_cast<int>(i) + 1;
      const int n = static_cast<int>(c.bytes.size());
      switch (c.kind) {
        case Cell::kNull:
          sqlite3_bind_null(insert_, col);
          break;
        case Cell::kInt:
          sqlite3_bind_int64(insert_, col, std::strtoll(c.bytes.c_str(), nullptr, 10));
          break;
        case Cell::kReal:
          sqlite3_bind_double(insert_, col, std::strtod(c.bytes.c_str(), nullptr));
          break;
        case Cell::kText:
          sqlite3_bind_text(insert_, col, c.bytes.data(), n, SQLITE_TRANSIENT);
          break;
        case Cell::kBlob:
          sqlite3_bind_blob(insert_, col, c.bytes.data(), n, SQLITE_TRANSIENT);
          break;
      }
    }
    if (sqlite3_step(insert_) != SQLITE_DONE) return Fail("writing a record");
    return true;
  }

  bool Users(const std::vector<DumpUser>& users) override {
    for (const DumpUser& u : users) {
      sqlite3_stmt* s = Prepare("INSERT INTO zdb_dump_users VALUES(?,?,?)");
      if (!s) return false;
      sqlite3_bind_text(s, 1, u.name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, u.role.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 3, u.grants.c_str(), -1, SQLITE_TRANSIENT);
      if (!StepOnce(s)) return false;
    }
    return true;
  }

  bool Rules(const std::vector<TableRule>& rules) override {
    for (size_t i = 0; i < rules.size(); ++i) {
      const TableRule& r = rules[i];
      sqlite3_stmt* s = Prepare("INSERT INTO zdb_dump_rules VALUES(?,?,?,?,?,?,?,?,?)");
      if (!s) return false;
      const std::string kind(1, r.kind);
      sqlite3_bind_text(s, 1, table_.db.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, table_.table.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 3, static_cast<int>(i));
      sqlite3_bind_text(s, 4, kind.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 5, r.field.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 6, r.name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 7, r.value.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 8, r.flags);
      sqlite3_bind_blob(s, 9, r.data.data(), static_cast<int>(r.data.size()), SQLITE_TRANSIENT);
      if (!StepOnce(s)) return false;
    }
    return true;
  }

  bool EndTable(int64_t records, uint64_t checksum) override {
    Finalize();
    sqlite3_stmt* s = Prepare("INSERT INTO zdb_dump_tables VALUES(?,?,?,?,?,?)");
    if (!s) return false;
    sqlite3_bind_text(s, 1, table_.db.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, table_.table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 3, DumpTableName(table_.db, table_.table).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 4, records);
    sqlite3_bind_text(s, 5, table_.description.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 6, ChecksumText(checksum).c_str(), -1, SQLITE_TRANSIENT);
    return StepOnce(s) && Exec("COMMIT");
  }

  bool Commit() override {
    Finalize();
    if (sqlite3_close(db_) != SQLITE_OK) return Fail("closing");
    db_ = nullptr;
    if (!PutInPlace(temp_, final_, force_, "file")) return false;
    committed_ = true;
    return true;
  }

 private:
  bool Fail(const char* what) {
    Error("dump file %s: %s: %s", final_.c_str(), what, db_ ? sqlite3_errmsg(db_) : "");
    return false;
  }
  bool Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK || Fail("SQLite");
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      Fail("SQLite");
      return nullptr;
    }
    return s;
  }
  bool StepOnce(sqlite3_stmt* s) {
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_finalize(s);
    return ok || Fail("SQLite");
  }
  void Finalize() {
    if (insert_) sqlite3_finalize(insert_);
    insert_ = nullptr;
  }

  std::string final_, temp_;
  bool force_;
  DumpTable table_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  bool committed_ = false;
};

#endif  // ZDB_TOOL_SQLITE

// A folder: zdb_tables.csv and zdb_fields.csv describe the tables, DB/TABLE.csv hold the
// records, the record number first. In a value null is an empty field and an empty text a
// quoted one; a binary field's value is \x and its bytes in hex.
class CsvSink : public DumpSink {
 public:
  CsvSink(std::string dir, bool force) : final_(std::move(dir)), force_(force) {}
  ~CsvSink() override {
    for (std::FILE* f : {file_, fields_, tables_, rules_})
      if (f) std::fclose(f);
    std::error_code ec;
    if (!committed_ && !temp_.empty()) std::filesystem::remove_all(temp_, ec);
  }

  bool Open() {
    temp_ = final_ + ".part-XXXXXX";
    if (!os::MakeTempFolder(temp_)) {
      Error("dump folder %s: cannot create %s: %s", final_.c_str(), temp_.c_str(),
            std::strerror(errno));
      temp_.clear();
      return false;
    }
    if (!os::GiveCreateMode(temp_)) return Fail("setting the mode");
    fields_ = std::fopen((temp_ + "/zdb_fields.csv").c_str(), "wb");
    tables_ = std::fopen((temp_ + "/zdb_tables.csv").c_str(), "wb");
    rules_ = std::fopen((temp_ + "/zdb_rules.csv").c_str(), "wb");
    if (!fields_ || !tables_ || !rules_) return Fail("zdb_fields.csv");
    std::fputs("db,table,pos,kind,field,name,value,flags,data\n", rules_);
    std::fputs("db,table,pos,name,type,subtype,width\n", fields_);
    std::fputs("db,table,description,records,checksum\n", tables_);
    return true;
  }

  bool BeginTable(const DumpTable& t) override {
    table_ = t;
    const std::string dir = temp_ + "/" + t.db;
    if (!os::MakeFolder(dir) && errno != EEXIST) return Fail(t.db.c_str());
    name_ = t.db + "/" + t.table + ".csv";
    file_ = std::fopen((temp_ + "/" + name_).c_str(), "wb");
    if (!file_) return Fail(name_.c_str());
    std::string header = kRecordColumn;
    for (size_t i = 0; i < t.fields.size(); ++i) {
      const FieldDef& f = t.fields[i];
      header += "," + CsvField(f.name);
      std::fprintf(fields_, "%s,%s,%zu,%s,%c,%s,%u\n", CsvField(t.db).c_str(),
                   CsvField(t.table).c_str(), i, CsvField(f.name).c_str(), f.type,
                   f.subtype == ' ' ? "" : std::string(1, f.subtype).c_str(), f.width);
    }
    std::fprintf(file_, "%s\n", header.c_str());
    return true;
  }

  bool Row(const CellRow& cells) override {
    line_.clear();
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i) line_ += ',';
      line_ += CsvCell(cells[i]);
    }
    line_ += '\n';
    return std::fwrite(line_.data(), 1, line_.size(), file_) == line_.size() || Fail(name_.c_str());
  }

  bool Users(const std::vector<DumpUser>& users) override {
    std::FILE* f = std::fopen((temp_ + "/zdb_users.csv").c_str(), "wb");
    if (!f) return Fail("zdb_users.csv");
    std::fputs("name,role,grants\n", f);
    for (const DumpUser& u : users)
      std::fprintf(f, "%s,%s,%s\n", CsvField(u.name).c_str(), CsvField(u.role).c_str(),
                   CsvField(u.grants).c_str());
    return std::fclose(f) == 0 || Fail("zdb_users.csv");
  }

  bool Rules(const std::vector<TableRule>& rules) override {
    for (size_t i = 0; i < rules.size(); ++i) {
      const TableRule& r = rules[i];
      std::fprintf(rules_, "%s,%s,%zu,%c,%s,%s,%s,%d,%s\n", CsvField(table_.db).c_str(),
                   CsvField(table_.table).c_str(), i, r.kind, CsvField(r.field).c_str(),
                   CsvField(r.name).c_str(), CsvCell({Cell::kText, r.value}).c_str(), r.flags,
                   CsvCell({Cell::kBlob, r.data}).c_str());
    }
    return true;
  }

  bool EndTable(int64_t records, uint64_t checksum) override {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    std::fprintf(tables_, "%s,%s,%s,%lld,%s\n", CsvField(table_.db).c_str(),
                 CsvField(table_.table).c_str(), CsvCell({Cell::kText, table_.description}).c_str(),
                 static_cast<long long>(records), ChecksumText(checksum).c_str());
    return ok || Fail(name_.c_str());
  }

  bool Commit() override {
    const bool ok =
        std::fclose(fields_) == 0 && std::fclose(tables_) == 0 && std::fclose(rules_) == 0;
    fields_ = tables_ = rules_ = nullptr;
    if (!ok) return Fail("zdb_fields.csv");
    if (!PutInPlace(temp_, final_, force_, "folder")) return false;
    committed_ = true;
    return true;
  }

 private:
  bool Fail(const char* what) {
    Error("dump folder %s: %s: %s", final_.c_str(), what, std::strerror(errno));
    return false;
  }
  std::string final_, temp_, name_, line_;
  bool force_;
  DumpTable table_;
  std::FILE* file_ = nullptr;
  std::FILE* fields_ = nullptr;
  std::FILE* tables_ = nullptr;
  std::FILE* rules_ = nullptr;
  bool committed_ = false;
};

}  // namespace

std::string DumpTableName(const std::string& db, const std::string& table) {
  return db + "." + table;
}

const char* DumpColumnType(const FieldDef& f) {
  if (f.subtype == 'B') return "BLOB";
  if (f.type == 'N') return "REAL";
  if (f.type == 'I') return "INTEGER";
  return "TEXT";
}

std::string ChecksumText(uint64_t sum) {
  char b[17];
  std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(sum));
  return b;
}

std::unique_ptr<DumpSink> MakeSqliteSink(const std::string& path, bool force) {
#if ZDB_TOOL_SQLITE
  auto sink = std::make_unique<SqliteSink>(path, force);
  if (!sink->Open()) return nullptr;
  return sink;
#else
  (void)force;
  Error("dump file %s: SQLite dumps are not in this build of zdb; use --format csv", path.c_str());
  return nullptr;
#endif
}

std::unique_ptr<DumpSink> MakeCsvSink(const std::string& dir, bool force) {
  auto sink = std::make_unique<CsvSink>(dir, force);
  if (!sink->Open()) return nullptr;
  return sink;
}

}  // namespace zdb::cli
