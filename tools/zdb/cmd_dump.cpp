// zdb dump takes a server's data out into SQLite or CSV; zdb load puts an SQLite dump back
// into a server.
#if ZDB_TOOL_SQLITE
#include <sqlite3.h>
#endif
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "zdb/admin.h"
#include "zdb/catalog.h"
#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/csv_dump.h"
#include "zdb/dump_sink.h"
#include "zdb/progress.h"
#include "zdb/table_rules.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

struct DumpOptions {
  std::vector<std::string> args, loadArgs;
  std::string out, in;
  std::vector<std::string> databases, loadDatabases;
  std::string format = ZDB_TOOL_SQLITE ? "sqlite" : "csv";
  bool force = false, verify = false, users = false, loadUsers = false;
  std::string usersPassword;
};

struct TablePlan {
  DumpTable t;
  int64_t records = 0;
};

bool Planned(const std::string& what, int32_t r) {
  return Check(what.c_str(), r);
}

std::string FixedText(const unsigned char* p, size_t width) {
  std::string s(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), width));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Walks the catalog first, so that the progress knows the total and a missing database is
// reported before anything is written.
bool PlanDump(const std::vector<std::string>& wanted, std::vector<TablePlan>* plan) {
  std::vector<std::string> all;
  if (!Planned("listing the databases", ListDatabases(&all))) return false;
  std::vector<std::string> dbs = wanted.empty() ? all : wanted;
  for (const std::string& db : dbs) {
    if (std::find(all.begin(), all.end(), db) == all.end()) {
      Error("database %s: not on the server (it has: %s)", db.c_str(),
            all.empty() ? "none" : [&] {
              std::string s;
              for (auto& n : all) s += (s.empty() ? "" : " ") + n;
              return s;
            }().c_str());
      return false;
    }
    std::vector<std::string> tables;
    if (!Planned("database " + db, UseDatabase(db)) ||
        !Planned("listing the tables of " + db, ListTables(&tables)))
      return false;
    for (const std::string& t : tables) {
      TablePlan p{{db, t, "", {}}, 0};
      unsigned char record[113] = {};
      if (!Planned("table " + db + "." + t, OpenTable(t)) ||
          !Planned("fields of " + db + "." + t, TableFields(&p.t.fields)) ||
          !Planned("record count of " + db + "." + t, TableRecordCount(&p.records)) ||
          !Planned("description of " + db + "." + t, Z_GetTable(record)) ||
          !Planned("closing " + db + "." + t, ZDB_CloseTable(t.c_str())))
        return false;
      p.t.description = FixedText(record + 33, 64);
      plan->push_back(std::move(p));
    }
    if (!Planned("giving up " + db, ZDB_UnUseDB(db.c_str()))) return false;
  }
  return true;
}

std::string QuoteName(const std::string& name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// Reads every record of a table of the selected database, record number first, in record
// order. One script run streams the whole table as described rows; a server that does not
// describe its rows is read record by record with single-field calls, which carry every value
// whole. Returns false after a message.
class TableScan {
 public:
  using RowFn = std::function<bool(const CellRow&)>;
  bool Run(const std::string& db, const DumpTable& t, Counter& done, const RowFn& row) {
    const std::string name = db + "." + t.table;
    TempFile rows("dump");
    if (!rows.ok()) return false;
    std::string script = "#SELECT rowid";
    for (const FieldDef& f : t.fields) script += "," + QuoteName(f.name);
    script += " FROM " + QuoteName(t.table) + " ORDER BY rowid";
    const int32_t ran = ZDB_SqlRun(script.c_str(), rows.path().c_str(), nullptr, kDescribedRows);
    // A server that answers but runs no such script is read the slow way; a lost connection
    // fails the dump.
    if (ran != ZDB_OK && !IsLibraryCode(ran)) {
      Info(
          "%s: the script read failed (%s); reading record by record, which numbers the "
          "records 1, 2, ... in the dump instead of keeping the server's numbers",
          name.c_str(), ResultText(ran).c_str());
      return RecordByRecord(name, t, done, row);
    }
    if (!Check(("reading " + name).c_str(), ran)) return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(rows.path().c_str(), "rb"),
                                                       std::fclose);
    if (!in) {
      Error("reading %s: %s: %s", name.c_str(), rows.path().c_str(), std::strerror(errno));
      return false;
    }
    ScriptRowReader reader(in.get(), true);
    for (ScriptRowReader::Item item; (item = reader.Next()) != ScriptRowReader::kEnd;) {
      if (item == ScriptRowReader::kBad) {
        Error("reading %s: the rows the server sent: %s", name.c_str(), reader.why().c_str());
        return false;
      }
      if (!reader.described()) return RecordByRecord(name, t, done, row);
      if (item == ScriptRowReader::kColumns) continue;
      if (reader.cells().size() != t.fields.size() + 1) {
        Error("reading %s: a row of %zu values for %zu fields", name.c_str(), reader.cells().size(),
              t.fields.size());
        return false;
      }
      ++done.value;
      if (!row(reader.cells())) return false;
    }
    return true;
  }

 private:
  bool RecordByRecord(const std::string& name, const DumpTable& t, Counter& done,
                      const RowFn& row) {
    if (!Check(("table " + name).c_str(), OpenTable(t.table))) return false;
    CellRow cells(t.fields.size() + 1);
    // Record numbers are not asked for one by one: they count up in record order.
    int64_t number = 0;
    int32_t r;
    for (const char* mode = "FIRST"; (r = ZDB_Read(mode, "")) == ZDB_OK; mode = "NEXT") {
      cells[0] = Cell{Cell::kInt, std::to_string(++number)};
      for (size_t i = 0; i < t.fields.size(); ++i)
        if (!Check(("reading " + name + " field " + t.fields[i].name).c_str(),
                   ReadWholeField(t.fields[i], &cells[i + 1])))
          return false;
      ++done.value;
      if (!row(cells)) return false;
    }
    return (IsNoRecord(r) || Check(("reading " + name).c_str(), r)) &&
           Check(("closing " + name).c_str(), ZDB_CloseTable(t.table.c_str()));
  }
};

int Dump(DumpOptions& o) {
  std::string host;
  if (!TakeHost("dump", o.args, 0, &host)) return kExitUsage;
  if (o.out == "-") return Usage("dump", "--out needs a file or folder name, not stdout");
  struct stat st {};
  const bool exists = ::stat(o.out.c_str(), &st) == 0;
  if (exists && !o.force) {
    Error("dump %s %s: exists already (--force replaces it)",
          S_ISDIR(st.st_mode) ? "folder" : "file", o.out.c_str());
    return kExitFailure;
  }
  if (!exists && !CheckOutputFile(o.out, "dump")) return kExitFailure;
  ServerLogin session;
  if (!session.Open(host, true)) return kExitFailure;
  std::vector<TablePlan> plan;
  if (!PlanDump(o.databases, &plan)) return kExitFailure;
  int64_t total = 0;
  for (auto& p : plan) total += p.records;
  std::unique_ptr<DumpSink> sink =
      o.format == "csv" ? MakeCsvSink(o.out, o.force) : MakeSqliteSink(o.out, o.force);
  if (!sink) return kExitFailure;
  Counter done;
  std::set<std::string> dbs;
  {
    Progress progress("dump", Unit::kRecords, total, done.Sampler());
    std::string current;
    for (const TablePlan& p : plan) {
      if (p.t.db != current) {
        if (!current.empty()) ZDB_UnUseDB(current.c_str());
        if (!Check(("database " + p.t.db).c_str(), UseDatabase(p.t.db))) return kExitFailure;
        current = p.t.db;
      }
      dbs.insert(p.t.db);
      if (!sink->BeginTable(p.t)) return kExitFailure;
      int64_t records = 0;
      uint64_t sum = kChecksumStart;
      TableScan scan;
      if (!scan.Run(p.t.db, p.t, done, [&](const CellRow& cells) {
            ++records;
            for (const Cell& c : cells) sum = MixCell(sum, c);
            return sink->Row(cells);
          }))
        return kExitFailure;
      std::vector<TableRule> rules;
      std::string what;
      const std::string name = p.t.db + "." + p.t.table;
      if (!Check(("table " + name).c_str(), OpenTable(p.t.table)) ||
          !Check((name + ": " + what).c_str(),
                 ReadTableRules(p.t.table, p.t.fields, &rules, &what)) ||
          !Check(("closing " + name).c_str(), ZDB_CloseTable(p.t.table.c_str())) ||
          !sink->Rules(rules) || !sink->EndTable(records, sum))
        return kExitFailure;
    }
  }
  std::vector<DumpUser> users;
  std::string what;
  if ((o.users && !Check(what.c_str(), ReadUsers(&users, &what))) || !sink->Users(users) ||
      !sink->Commit())
    return kExitFailure;
  Info("dumped %zu database(s), %zu table(s), %lld record(s) to %s", dbs.size(), plan.size(),
       static_cast<long long>(done.value.load()), o.out.c_str());
  return kExitOk;
}

// ---- load ----------------------------------------------------------------------------------

struct LoadTable {
  std::string db, table, sqliteName, description, checksum;
  std::vector<FieldDef> fields;
  int64_t records = 0;
  std::vector<TableRule> rules;
};

#if ZDB_TOOL_SQLITE
std::string ColumnString(sqlite3_stmt* s, int col) {
  const auto* p = sqlite3_column_text(s, col);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<size_t>(sqlite3_column_bytes(s, col)))
           : std::string();
}

Cell ColumnCell(sqlite3_stmt* s, int col) {
  switch (sqlite3_column_type(s, col)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_INTEGER:
      return {Cell::kInt, std::to_string(sqlite3_column_int64(s, col))};
    case SQLITE_FLOAT:
      return {Cell::kReal, ShortestDouble(sqlite3_column_double(s, col))};
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
      return {Cell::kBlob,
              p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, col))) : ""};
    }
    default:
      return {Cell::kText, ColumnString(s, col)};
  }
}

bool ReadDumpCatalog(sqlite3* db, const std::string& path, std::vector<LoadTable>* tables) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT db, tbl, name, records, description, checksum FROM "
                         "zdb_dump_tables ORDER BY rowid",
                         -1, &s, nullptr) != SQLITE_OK) {
    Error(
        "dump file %s: not a dump of this zdb (%s); an older zdb's dump may hold cut values: "
        "dump the server again",
        path.c_str(), sqlite3_errmsg(db));
    return false;
  }
  while (sqlite3_step(s) == SQLITE_ROW)
    tables->push_back({ColumnString(s, 0),
                       ColumnString(s, 1),
                       ColumnString(s, 2),
                       ColumnString(s, 4),
                       ColumnString(s, 5),
                       {},
                       sqlite3_column_int64(s, 3),
                       {}});
  sqlite3_finalize(s);
  const auto perTable = [&](const char* sql, const std::function<void(LoadTable&)>& take) {
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
      Error("dump file %s: %s", path.c_str(), sqlite3_errmsg(db));
      return false;
    }
    for (LoadTable& t : *tables) {
      sqlite3_reset(s);
      sqlite3_bind_text(s, 1, t.db.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, t.table.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(s) == SQLITE_ROW) take(t);
    }
    sqlite3_finalize(s);
    return true;
  };
  return perTable(
             "SELECT name, type, subtype, width FROM zdb_dump_fields WHERE db=? AND tbl=? "
             "ORDER BY pos",
             [&](LoadTable& t) {
               FieldDef f;
               f.name = ColumnString(s, 0);
               const std::string type = ColumnString(s, 1), sub = ColumnString(s, 2);
               f.type = type.empty() ? '?' : type[0];
               f.subtype = sub.empty() ? ' ' : sub[0];
               f.width = static_cast<uint32_t>(sqlite3_column_int64(s, 3));
               t.fields.push_back(f);
             }) &&
         perTable(
             "SELECT kind, field, name, value, flags, data FROM zdb_dump_rules WHERE db=? "
             "AND tbl=? ORDER BY pos",
             [&](LoadTable& t) {
               const std::string kind = ColumnString(s, 0);
               t.rules.push_back({static_cast<TableRule::Kind>(kind.empty() ? '?' : kind[0]),
                                  ColumnString(s, 1), ColumnString(s, 2), ColumnString(s, 3),
                                  sqlite3_column_int(s, 4), ColumnCell(s, 5).bytes});
             });
}

bool ReadDumpUsers(sqlite3* db, std::vector<DumpUser>* users) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, role, grants FROM zdb_dump_users ORDER BY name", -1, &s,
                         nullptr) != SQLITE_OK) {
    Error("dump file: %s", sqlite3_errmsg(db));
    return false;
  }
  while (sqlite3_step(s) == SQLITE_ROW)
    users->push_back({ColumnString(s, 0), ColumnString(s, 1), ColumnString(s, 2)});
  sqlite3_finalize(s);
  return true;
}

// Calls `row` with every record of a dump table, record number first, in record order.
bool ForEachDumpRow(sqlite3* src, const LoadTable& t,
                    const std::function<bool(const CellRow&)>& row) {
  std::string cols = kRecordColumn;
  for (const FieldDef& f : t.fields) cols += "," + QuoteName(f.name);
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(
          src,
          ("SELECT " + cols + " FROM " + QuoteName(t.sqliteName) + " ORDER BY " + kRecordColumn)
              .c_str(),
          -1, &s, nullptr) != SQLITE_OK) {
    Error("dump file: table %s: %s", t.sqliteName.c_str(), sqlite3_errmsg(src));
    return false;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(s, sqlite3_finalize);
  CellRow cells(t.fields.size() + 1);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    for (size_t i = 0; i < cells.size(); ++i) cells[i] = ColumnCell(s, static_cast<int>(i));
    if (!row(cells)) return false;
  }
  if (rc != SQLITE_DONE) {
    Error("dump file: table %s: %s", t.sqliteName.c_str(), sqlite3_errmsg(src));
    return false;
  }
  return true;
}

bool IsDate(const std::string& s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

// Why a value cannot go into its field as it is, or "" when it can.
std::string ValueProblem(const FieldDef& f, const Cell& c) {
  if (c.kind == Cell::kNull) return "";
  switch (f.type) {
    case 'N':
      return c.kind == Cell::kReal || c.kind == Cell::kInt ? "" : "not a number";
    case 'I': {
      if (c.kind != Cell::kInt) return "not an integer";
      const long long v = std::strtoll(c.bytes.c_str(), nullptr, 10);
      return v < -32768 || v > 32767 ? "outside -32768..32767" : "";
    }
    case 'C':
      if (f.subtype == 'B') return c.kind == Cell::kBlob ? "" : "not binary";
      if (c.kind != Cell::kText) return "not a text";
      if (f.subtype == 'M') return "";
      if (f.subtype == 'D' && !c.bytes.empty() && !IsDate(c.bytes)) return "not a date YYYY-MM-DD";
      if (c.bytes.size() > f.width)
        return std::to_string(c.bytes.size()) + " bytes, wider than " + std::to_string(f.width);
      return "";
    default:
      return std::string("a field of unknown type '") + f.type + "'";
  }
}

// Checks a dump table before anything is written: its values against their fields, its
// record count and checksum against what the dump recorded. False after a message.
bool CheckDumpTable(sqlite3* src, const LoadTable& t) {
  const std::string name = t.db + "." + t.table;
  for (const FieldDef& f : t.fields)
    if (f.name.empty() || !std::strchr("CNI", f.type)) {
      Error("dump file: %s: field %s has no usable definition", name.c_str(), f.name.c_str());
      return false;
    }
  int64_t records = 0;
  uint64_t sum = kChecksumStart;
  const bool read = ForEachDumpRow(src, t, [&](const CellRow& cells) {
    ++records;
    if (cells[0].kind != Cell::kInt) {
      Error("dump file: %s: record %lld has no record number", name.c_str(),
            static_cast<long long>(records));
      return false;
    }
    for (size_t i = 0; i < cells.size(); ++i) {
      sum = MixCell(sum, cells[i]);
      if (i == 0) continue;
      const std::string why = ValueProblem(t.fields[i - 1], cells[i]);
      if (!why.empty()) {
        Error("dump file: database %s, table %s, record %s, field %s: %s", t.db.c_str(),
              t.table.c_str(), cells[0].bytes.c_str(), t.fields[i - 1].name.c_str(), why.c_str());
        return false;
      }
    }
    return true;
  });
  if (!read) return false;
  if (records != t.records || ChecksumText(sum) != t.checksum) {
    Error(
        "dump file: table %s: %lld record(s), checksum %s, but the dump recorded %lld and %s "
        "(the file was changed after the dump)",
        name.c_str(), static_cast<long long>(records), ChecksumText(sum).c_str(),
        static_cast<long long>(t.records), t.checksum.c_str());
    return false;
  }
  return true;
}

// A value as an SQL literal that SQLite turns back into exactly the same value. Doubles are
// written as an integer times powers of two, which SQLite computes exactly; a decimal literal
// it may round. A text holding '&' (which the library takes for a parameter) or a zero byte
// travels as hex.
void AppendLiteral(const Cell& c, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto hex = [&out](const std::string& bytes) {
    out += "X'";
    for (unsigned char b : bytes) {
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
    out += "'";
  };
  switch (c.kind) {
    case Cell::kNull:
      out += "NULL";
      return;
    case Cell::kInt:
      out += c.bytes == "-9223372036854775808" ? "(-9223372036854775807-1)" : c.bytes;
      return;
    case Cell::kBlob:
      hex(c.bytes);
      return;
    case Cell::kText:
      if (c.bytes.find_first_of(std::string("&\0", 2)) != std::string::npos) {
        out += "CAST(";
        hex(c.bytes);
        out += " AS TEXT)";
        return;
      }
      out += '\'';
      for (char ch : c.bytes) {
        if (ch == '\'') out += '\'';
        out += ch;
      }
      out += '\'';
      return;
    case Cell::kReal:
      break;
  }
  const double d = std::strtod(c.bytes.c_str(), nullptr);
  if (std::isinf(d)) {
    out += d > 0 ? "9e999" : "-9e999";
    return;
  }
  int e = 0;
  const double frac = std::frexp(d, &e);
  auto m = static_cast<int64_t>(std::ldexp(frac, 53));
  e -= 53;
  if (m == 0) {
    out += std::signbit(d) ? "-0.0" : "0.0";
    return;
  }
  while (m % 2 == 0) m /= 2, ++e;
  out += "(" + std::to_string(m) + ".0";
  for (int k = e < 0 ? -e : e; k > 0; k -= 62)
    out += (e < 0 ? "/" : "*") + std::to_string(int64_t{1} << std::min(k, 62)) + ".0";
  out += ")";
}

// Writes a dump table's records into the selected table of the server by scripts of many rows
// each, inside one transaction of the session: a failure leaves the table empty.
bool LoadRows(sqlite3* src, const LoadTable& t, Counter& done) {
  const std::string name = t.db + "." + t.table;
  std::string head = "#INSERT INTO " + QuoteName(t.table) + "(rowid";
  for (const FieldDef& f : t.fields) head += "," + QuoteName(f.name);
  head += ") VALUES";
  // Well under the server's 16 MiB for a script. SQLite compiles a statement in time that
  // grows with the square of its literals, so a script holds many statements of few rows.
  constexpr size_t kScriptBytes = 4u << 20;
  constexpr int kScriptRows = 4000, kStatementRows = 50;
  TempFile out("load");
  if (!out.ok()) return false;
  std::string script = head;
  const std::string next = ";\n" + head.substr(1);
  int rows = 0;
  std::string first;
  const auto run = [&] {
    if (rows == 0) return true;
    const int32_t r = ZDB_SqlRun(script.c_str(), out.path().c_str(), nullptr, 0);
    const std::string what = "writing " + name + " from record " + first;
    script = head;
    rows = 0;
    return Check(what.c_str(), r);
  };
  // Subnormal doubles are refused as text by the server's checks of script values; they go
  // afterwards as 8-byte doubles through single-field calls.
  struct Later {
    std::string record;
    size_t field;
    double value;
  };
  std::vector<Later> later;
  const auto putLater = [&] {
    for (const Later& l : later) {
      const std::string what =
          "writing " + name + " record " + l.record + " field " + t.fields[l.field].name;
      if (!Check(what.c_str(), ZDB_Read(l.record.c_str(), "")) ||
          !Check(what.c_str(), ZDB_PutField(t.fields[l.field].name.c_str(), &l.value, 8)))
        return false;
    }
    return true;
  };
  const auto add = [&](const CellRow& cells) {
    if (rows == 0) first = cells[0].bytes;
    script += rows == 0 ? "(" : rows % kStatementRows ? ",(" : next + "(";
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i) script += ',';
      if (i > 0 && cells[i].kind == Cell::kReal && t.fields[i - 1].type == 'N') {
        const double d = std::strtod(cells[i].bytes.c_str(), nullptr);
        if (std::fpclassify(d) == FP_SUBNORMAL) {
          later.push_back({cells[0].bytes, i - 1, d});
          script += "NULL";
          continue;
        }
      }
      AppendLiteral(cells[i], script);
    }
    script += ')';
    ++done.value;
    return (++rows < kScriptRows && script.size() < kScriptBytes) || run();
  };
  if (!Check(("a transaction on " + t.db).c_str(), ZDB_BeginTransaction())) return false;
  const bool ok = ForEachDumpRow(src, t, add) && run() && putLater();
  if (!ok) {
    ZDB_RollBack();
    return false;
  }
  return Check(("committing " + name).c_str(), ZDB_EndTransaction());
}

// Reads a table of the server back and compares its record count and checksum with the
// dump's. False after a message naming the table.
bool SameAsDump(const std::string& target, const LoadTable& t, Counter& done) {
  const std::string name = target + "." + t.table;
  int64_t records = 0;
  uint64_t sum = kChecksumStart;
  DumpTable d{target, t.table, "", t.fields};
  TableScan scan;
  if (!scan.Run(target, d, done, [&](const CellRow& cells) {
        ++records;
        for (const Cell& c : cells) sum = MixCell(sum, c);
        return true;
      }))
    return false;
  if (records != t.records || ChecksumText(sum) != t.checksum) {
    Error("table %s: %lld record(s), checksum %s on the server; the dump has %lld, checksum %s",
          name.c_str(), static_cast<long long>(records), ChecksumText(sum).c_str(),
          static_cast<long long>(t.records), t.checksum.c_str());
    return false;
  }
  return true;
}

int Load(DumpOptions& o) {
  std::string host;
  if (!TakeHost("load", o.loadArgs, 0, &host)) return kExitUsage;
  // A dump holds no passwords: the users it creates get one, taken as `user add` takes it
  // (never from the command line), before anything is changed.
  if (o.loadUsers && !NewPassword(false, &o.usersPassword)) return kExitUsage;
  // A CSV dump folder becomes an SQLite dump first; from there both forms load alike.
  struct stat st {};
  TempFile converted("load");
  if (::stat(o.in.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    if (!converted.ok() || !CsvDumpToSqlite(o.in, converted.path())) return kExitFailure;
  } else if (!CheckInputFile(o.in, "dump")) {
    return kExitFailure;
  }
  const std::string in = S_ISDIR(st.st_mode) ? converted.path() : o.in;
  std::map<std::string, std::string> rename;  // source database -> target database
  for (const std::string& item : o.loadDatabases) {
    const auto eq = item.find('=');
    rename[item.substr(0, eq)] = eq == std::string::npos ? item : item.substr(eq + 1);
  }
  sqlite3* src = nullptr;
  std::vector<LoadTable> tables;
  const bool opened = sqlite3_open_v2(in.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(src, sqlite3_close);
  if (!opened) {
    Error("dump file %s: %s", in.c_str(), sqlite3_errmsg(src));
    return kExitFailure;
  }
  // The dump is read twice (checked, then written): mapped, its pages are not copied each time.
  sqlite3_exec(src, "PRAGMA mmap_size=1073741824", nullptr, nullptr, nullptr);
  if (!ReadDumpCatalog(src, in, &tables)) return kExitFailure;
  std::vector<std::string> order;
  for (const LoadTable& t : tables)
    if ((rename.empty() || rename.count(t.db)) &&
        std::find(order.begin(), order.end(), t.db) == order.end())
      order.push_back(t.db);
  for (const auto& [from, to] : rename)
    if (std::find(order.begin(), order.end(), from) == order.end()) {
      Error("dump file %s: holds no database %s", in.c_str(), from.c_str());
      return kExitFailure;
    }
  const auto chosen = [&](const LoadTable& t) {
    return std::find(order.begin(), order.end(), t.db) != order.end();
  };
  int64_t total = 0;
  for (const LoadTable& t : tables)
    if (chosen(t)) total += t.records;
  // The whole dump is checked before the server is changed.
  if (!o.verify)
    for (const LoadTable& t : tables)
      if (chosen(t) && !CheckDumpTable(src, t)) return kExitFailure;
  ServerLogin session;
  if (!session.Open(host, true)) return kExitFailure;
  Counter done;
  size_t tableCount = 0;
  {
    Progress progress(o.verify ? "verify" : "load", Unit::kRecords, o.verify ? total : 2 * total,
                      done.Sampler());
    for (const std::string& db : order) {
      const std::string target = rename.empty() ? db : rename[db];
      if (!o.verify) {
        const int32_t made = Z_NewDB(target.c_str(), "", "", 0, "");
        if (made == 4012) {
          Error("database %s exists on the server; load into a new name with --database %s=NEW",
                target.c_str(), db.c_str());
          return kExitFailure;
        }
        if (!Check(("creating database " + target).c_str(), made)) return kExitFailure;
      }
      bool ok = Check(("database " + target).c_str(), UseDatabase(target));
      for (const LoadTable& t : tables) {
        if (!ok || t.db != db) continue;
        unsigned char record[113] = {};
        const std::string name = target + "." + t.table;
        if (!o.verify)
          ok = Check(("creating table " + name).c_str(),
                     Z_CreTable(t.table.c_str(), FieldSpec(t.fields).c_str(), t.description.c_str(),
                                record)) &&
               Check(("table " + name).c_str(), OpenTable(t.table)) && LoadRows(src, t, done) &&
               Check(("closing " + name).c_str(), ZDB_CloseTable(t.table.c_str()));
        // What the server holds now is read back and compared with the dump.
        ok = ok && SameAsDump(target, t, done);
        tableCount += ok ? 1 : 0;
      }
      // The rules come once every table holds its records: a default set before would fill
      // the nulls the records hold, and cross references name other tables.
      for (const LoadTable& t : tables) {
        if (!ok || o.verify || t.db != db || t.rules.empty()) continue;
        const std::string name = target + "." + t.table;
        ok = Check(("table " + name).c_str(), OpenTable(t.table));
        std::string what;
        for (size_t i = 0; ok && i < t.rules.size(); ++i)
          ok = Check((name + ": " + what).c_str(), ApplyTableRule(t.rules[i], &what));
        ok = ok && Check(("closing " + name).c_str(), ZDB_CloseTable(t.table.c_str()));
      }
      if (!ok) {
        // The database was made by this load: a half-loaded one would pass for a copy.
        if (!o.verify && ZDB_SelDB(target.c_str()) == ZDB_OK && Z_DelDB() == ZDB_OK)
          Error("database %s removed again", target.c_str());
        return kExitFailure;
      }
      ZDB_UnUseDB(target.c_str());
    }
  }
  // Users last: their grants name the databases loaded.
  if (o.loadUsers && !o.verify) {
    std::vector<DumpUser> users;
    if (!ReadDumpUsers(src, &users)) return kExitFailure;
    if (users.empty()) Error("the dump holds no users (dump with --users)");
    const auto database = [&](const std::string& db) -> std::string {
      if (db == "*") return db;
      if (std::find(order.begin(), order.end(), db) == order.end()) return "";
      return rename.empty() ? db : rename[db];
    };
    // Administrators first: the first user a server gets is its administrator, and a load
    // that logged in without a user (a server without users) goes on logged in as it.
    std::stable_partition(users.begin(), users.end(),
                          [](const DumpUser& u) { return u.role == "ADMIN"; });
    int32_t count = 0, admins = 0;
    char reserved[64] = {};
    bool relogin =
        G().user.empty() && Z_NumUsers(reserved, &count, &admins) == ZDB_OK && count == 0;
    std::string what;
    for (const DumpUser& u : users) {
      const auto added = [&]() -> int32_t {
        if (!relogin) return ZDB_OK;
        relogin = false;
        ZDB_Finish();
        const int32_t r = ZDB_SelHost(host.c_str());
        return r == ZDB_OK ? ZDB_Init(u.name.c_str(), o.usersPassword.c_str()) : r;
      };
      if (!Check(what.c_str(), CreateUser(u, o.usersPassword, database, added, &what)))
        return kExitFailure;
    }
    Info("%zu user(s) created", users.size());
  }
  Info("%s %zu database(s), %zu table(s), %lld record(s) from %s", o.verify ? "verified" : "loaded",
       order.size(), tableCount, static_cast<long long>(total), o.in.c_str());
  return kExitOk;
}

#else
int Load(DumpOptions&) {
  Error("load: not in this build of zdb (it reads SQLite dumps, and this build has no SQLite)");
  return kExitFailure;
}
#endif

}  // namespace

void RegisterDumpCommands(CLI::App& app, Commands& commands) {
  auto o = std::make_shared<DumpOptions>();
  auto* dump = app.add_subcommand(
      "dump", "take every record of the server's databases out into an SQLite file or CSV files");
  dump->add_option("HOST", o->args, "[HOST[:PORT]]");
  dump->add_option("-o,--out", o->out, "the SQLite file (or, with --format csv, a new folder)")
      ->type_name("PATH")
      ->required();
  dump->add_option("-d,--database", o->databases, "dump only this database (repeatable)")
      ->type_name("DB");
  dump->add_option("-f,--format", o->format, "sqlite: one file; csv: a folder of CSV files")
      ->check(CLI::IsMember({"sqlite", "csv"}))
      ->capture_default_str();
  dump->add_flag("--force", o->force, "replace the file or folder --out names if it exists");
  dump->add_flag("--users", o->users,
                 "also the users: names, roles and privileges (never passwords); needs an "
                 "administrator's login");
  commands.emplace_back(dump, [o] { return Dump(*o); });

  auto* load = app.add_subcommand("load", "create the databases of a dump on a server");
  load->add_option("HOST", o->loadArgs, "[HOST[:PORT]]");
  load->add_option("-i,--in", o->in, "the SQLite file or the CSV folder zdb dump wrote")
      ->type_name("PATH")
      ->required();
  load->add_option("-d,--database", o->loadDatabases,
                   "load only this database, as NEW when written DB=NEW (repeatable)")
      ->type_name("DB[=NEW]");
  load->add_flag("--users", o->loadUsers,
                 "also create the dump's users with their privileges (after the databases), "
                 "all with one password: asked for, or $ZDB_NEW_PASSWORD, or a line of stdin");
  load->add_flag("--verify", o->verify,
                 "write nothing: compare the server's tables with the dump (record counts and "
                 "checksums of every value)");
  commands.emplace_back(load, [o] { return Load(*o); });
}

}  // namespace zdb::cli
