#include "zdb/dump_sink.h"

#if ZDB_TOOL_SQLITE
#include <sqlite3.h>
#endif
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "zdb/common.h"
#include "zdb/sql_format.h"

namespace zdb::cli {
namespace {

#ifdef _WIN32
// mkdtemp and a mode-taking mkdir, which the Windows C runtime lacks.
char* mkdtemp(char* pattern) {
  const std::string original = pattern;
  for (int attempt = 0; attempt < 26; ++attempt) {
    std::memcpy(pattern, original.c_str(), original.size() + 1);
    // The X's become a letter and the pid; a letter whose name exists is passed over.
    if (!::_mktemp(pattern)) return nullptr;
    if (::_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}
int mkdir(const char* path, int) {
  return ::_mkdir(path);
}
#endif

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
    " PRIMARY KEY(db, tbl));"
    "CREATE TABLE zdb_dump_fields(db TEXT, tbl TEXT, pos INTEGER, name TEXT, type TEXT,"
    " subtype TEXT, width INTEGER, PRIMARY KEY(db, tbl, pos));";

class SqliteSink : public DumpSink {
 public:
  explicit SqliteSink(std::string path) : final_(std::move(path)) {}
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
    ::close(fd);
    if (sqlite3_open(temp_.c_str(), &db_) != SQLITE_OK || !Exec("PRAGMA journal_mode=OFF") ||
        !Exec("PRAGMA synchronous=OFF") || !Exec(kSchema))
      return false;
    return true;
  }

  bool BeginTable(const std::string& db, const std::string& table,
                  const std::vector<FieldDef>& fields) override {
    db_name_ = db;
    table_ = table;
    fields_ = fields;
    std::string create = "CREATE TABLE " + Quote(DumpTableName(db, table)) + "(";
    std::string insert = "INSERT INTO " + Quote(DumpTableName(db, table)) + " VALUES(";
    for (size_t i = 0; i < fields.size(); ++i) {
      create += (i ? ", " : "") + Quote(fields[i].name) + " " + DumpColumnType(fields[i]);
      insert += i ? ",?" : "?";
    }
    if (fields.empty()) create += "zdb_no_fields INTEGER";
    if (!Exec("BEGIN") || !Exec(create + ")")) return false;
    for (size_t i = 0; i < fields.size(); ++i) {
      sqlite3_stmt* s = Prepare("INSERT INTO zdb_dump_fields VALUES(?,?,?,?,?,?,?)");
      if (!s) return false;
      sqlite3_bind_text(s, 1, db.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, table.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 3, static_cast<int>(i));
      sqlite3_bind_text(s, 4, fields[i].name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 5, std::string(1, fields[i].type).c_str(), -1, SQLITE_TRANSIENT);
      const std::string sub = fields[i].subtype == ' ' ? "" : std::string(1, fields[i].subtype);
      sqlite3_bind_text(s, 6, sub.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(s, 7, fields[i].width);
      if (!StepOnce(s)) return false;
    }
    if (fields.empty()) return true;
    insert_ = Prepare(insert + ")");
    return insert_ != nullptr;
  }

  bool Row(const std::vector<std::string>& values) override {
    if (!insert_) return true;
    sqlite3_reset(insert_);
    for (size_t i = 0; i < fields_.size(); ++i) {
      const std::string& v = i < values.size() ? values[i] : std::string();
      const int col = static_cast<int>(i) + 1;
      const std::string type = DumpColumnType(fields_[i]);
      if (type == "REAL" || type == "INTEGER") {
        if (v.empty())
          sqlite3_bind_null(insert_, col);
        else if (type == "REAL")
          sqlite3_bind_double(insert_, col, std::strtod(v.c_str(), nullptr));
        else
          sqlite3_bind_int64(insert_, col, std::strtoll(v.c_str(), nullptr, 10));
      } else if (type == "BLOB") {
        sqlite3_bind_blob(insert_, col, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_text(insert_, col, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
      }
    }
    if (sqlite3_step(insert_) != SQLITE_DONE) return Fail("writing a record");
    return true;
  }

  bool EndTable(int64_t records) override {
    Finalize();
    sqlite3_stmt* s = Prepare("INSERT INTO zdb_dump_tables VALUES(?,?,?,?)");
    if (!s) return false;
    sqlite3_bind_text(s, 1, db_name_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, table_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 3, DumpTableName(db_name_, table_).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 4, records);
    return StepOnce(s) && Exec("COMMIT");
  }

  bool Commit() override {
    Finalize();
    if (sqlite3_close(db_) != SQLITE_OK) return Fail("closing");
    db_ = nullptr;
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
      Error("dump file %s: cannot rename %s to it: %s", final_.c_str(), temp_.c_str(),
            std::strerror(errno));
      return false;
    }
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

  std::string final_, temp_, db_name_, table_;
  std::vector<FieldDef> fields_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  bool committed_ = false;
};

#endif  // ZDB_TOOL_SQLITE

class CsvSink : public DumpSink {
 public:
  explicit CsvSink(std::string dir) : final_(std::move(dir)) {}
  ~CsvSink() override {
    if (file_) std::fclose(file_);
    if (fields_) std::fclose(fields_);
    std::error_code ec;
    if (!committed_ && !temp_.empty()) std::filesystem::remove_all(temp_, ec);
  }

  bool Open() {
    temp_ = final_ + ".part-XXXXXX";
    if (!mkdtemp(temp_.data())) {
      Error("dump folder %s: cannot create %s: %s", final_.c_str(), temp_.c_str(),
            std::strerror(errno));
      temp_.clear();
      return false;
    }
    fields_ = std::fopen((temp_ + "/zdb_fields.csv").c_str(), "wb");
    if (!fields_) return Fail("zdb_fields.csv");
    std::fputs("db,table,pos,name,type,subtype,width\n", fields_);
    return true;
  }

  bool BeginTable(const std::string& db, const std::string& table,
                  const std::vector<FieldDef>& fields) override {
    const std::string dir = temp_ + "/" + db;
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return Fail(db.c_str());
    name_ = db + "/" + table + ".csv";
    file_ = std::fopen((temp_ + "/" + name_).c_str(), "wb");
    if (!file_) return Fail(name_.c_str());
    std::string header;
    for (size_t i = 0; i < fields.size(); ++i) {
      header += (i ? "," : "") + CsvField(fields[i].name);
      std::fprintf(fields_, "%s,%s,%zu,%s,%c,%s,%u\n", CsvField(db).c_str(),
                   CsvField(table).c_str(), i, CsvField(fields[i].name).c_str(), fields[i].type,
                   fields[i].subtype == ' ' ? "" : std::string(1, fields[i].subtype).c_str(),
                   fields[i].width);
    }
    std::fprintf(file_, "%s\n", header.c_str());
    return true;
  }

  bool Row(const std::vector<std::string>& values) override {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) line += (i ? "," : "") + CsvField(values[i]);
    line += '\n';
    return std::fwrite(line.data(), 1, line.size(), file_) == line.size() || Fail(name_.c_str());
  }

  bool EndTable(int64_t) override {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok || Fail(name_.c_str());
  }

  bool Commit() override {
    const bool ok = std::fclose(fields_) == 0;
    fields_ = nullptr;
    if (!ok) return Fail("zdb_fields.csv");
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
      Error("dump folder %s: cannot rename %s to it: %s", final_.c_str(), temp_.c_str(),
            std::strerror(errno));
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  bool Fail(const char* what) {
    Error("dump folder %s: %s: %s", final_.c_str(), what, std::strerror(errno));
    return false;
  }
  std::string final_, temp_, name_;
  std::FILE* file_ = nullptr;
  std::FILE* fields_ = nullptr;
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

std::unique_ptr<DumpSink> MakeSqliteSink(const std::string& path) {
#if ZDB_TOOL_SQLITE
  auto sink = std::make_unique<SqliteSink>(path);
  if (!sink->Open()) return nullptr;
  return sink;
#else
  Error("dump file %s: SQLite dumps are not in this build of zdb; use --format csv", path.c_str());
  return nullptr;
#endif
}

std::unique_ptr<DumpSink> MakeCsvSink(const std::string& dir) {
  auto sink = std::make_unique<CsvSink>(dir);
  if (!sink->Open()) return nullptr;
  return sink;
}

}  // namespace zdb::cli
