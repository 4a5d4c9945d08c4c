// zdb dump takes a server's data out into SQLite or CSV; zdb load puts an SQLite dump back
// into a server.
#if ZDB_TOOL_SQLITE
#include <sqlite3.h>
#endif
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "zdb/catalog.h"
#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/dump_sink.h"
#include "zdb/progress.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

struct DumpOptions {
  std::vector<std::string> args, loadArgs;
  std::string out, in;
  std::vector<std::string> databases, loadDatabases;
  std::string format = ZDB_TOOL_SQLITE ? "sqlite" : "csv";
};

struct TablePlan {
  std::string db, table;
  std::vector<FieldDef> fields;
  int64_t records = 0;
};

bool Planned(const std::string& what, int32_t r) {
  return Check(what.c_str(), r);
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
      TablePlan p{db, t, {}, 0};
      if (!Planned("table " + db + "." + t, OpenTable(t)) ||
          !Planned("fields of " + db + "." + t, TableFields(&p.fields)) ||
          !Planned("record count of " + db + "." + t, TableRecordCount(&p.records)) ||
          !Planned("closing " + db + "." + t, ZDB_CloseTable(t.c_str())))
        return false;
      plan->push_back(std::move(p));
    }
    if (!Planned("giving up " + db, ZDB_UnUseDB(db.c_str()))) return false;
  }
  return true;
}

int Dump(DumpOptions& o) {
  std::string host;
  if (!TakeHost("dump", o.args, 0, &host)) return kExitUsage;
  if (o.out == "-") return Usage("dump", "--out needs a file or folder name, not stdout");
  if (!CheckOutputFile(o.out, "dump")) return kExitFailure;
  struct stat st {};
  if (o.format == "csv" && ::stat(o.out.c_str(), &st) == 0) {
    Error("dump folder %s: exists already", o.out.c_str());
    return kExitFailure;
  }
  Session session;
  if (!session.Open(host, true)) return kExitFailure;
  std::vector<TablePlan> plan;
  if (!PlanDump(o.databases, &plan)) return kExitFailure;
  int64_t total = 0;
  for (auto& p : plan) total += p.records;
  std::unique_ptr<DumpSink> sink = o.format == "csv" ? MakeCsvSink(o.out) : MakeSqliteSink(o.out);
  if (!sink) return kExitFailure;
  Counter done;
  std::set<std::string> dbs;
  {
    Progress progress("dump", Unit::kRecords, total, done.Sampler());
    std::string current;
    for (const TablePlan& p : plan) {
      const std::string name = p.db + "." + p.table;
      if (p.db != current) {
        if (!current.empty()) ZDB_UnUseDB(current.c_str());
        if (!Check(("database " + p.db).c_str(), UseDatabase(p.db))) return kExitFailure;
        current = p.db;
      }
      dbs.insert(p.db);
      if (!Check(("table " + name).c_str(), OpenTable(p.table)) ||
          !sink->BeginTable(p.db, p.table, p.fields))
        return kExitFailure;
      RecordReader reader;
      int64_t records = 0;
      int32_t r = p.fields.empty() ? 4042 : reader.Read("FIRST", p.fields.size());
      while (r == ZDB_OK) {
        if (!sink->Row(reader.values())) return kExitFailure;
        ++records;
        ++done.value;
        r = reader.Read("NEXT", p.fields.size());
      }
      // Reading stops at the end (4042); an empty table answers FIRST with "no record".
      if (!(r == 4042 || (records == 0 && IsNoRecord(r)))) {
        Check(("reading " + name).c_str(), r);
        return kExitFailure;
      }
      if (!sink->EndTable(records) ||
          !Check(("closing " + name).c_str(), ZDB_CloseTable(p.table.c_str())))
        return kExitFailure;
    }
  }
  if (!sink->Commit()) return kExitFailure;
  Info("dumped %zu database(s), %zu table(s), %lld record(s) to %s", dbs.size(), plan.size(),
       static_cast<long long>(done.value.load()), o.out.c_str());
  return kExitOk;
}

// ---- load ----------------------------------------------------------------------------------

struct LoadTable {
  std::string db, table, sqliteName;
  std::vector<FieldDef> fields;
  int64_t records = 0;
};

#if ZDB_TOOL_SQLITE
std::string ColumnText(sqlite3_stmt* s, int col) {
  switch (sqlite3_column_type(s, col)) {
    case SQLITE_NULL:
      return "";
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(s, col));
    case SQLITE_FLOAT: {
      // The shortest text that reads back as the same double: no digits invented or lost.
      char b[32];
      const auto res = std::to_chars(b, b + sizeof b, sqlite3_column_double(s, col));
      return std::string(b, res.ptr);
    }
    default: {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
      return p ? std::string(p, strnlen(p, static_cast<size_t>(sqlite3_column_bytes(s, col))))
               : std::string();
    }
  }
}

bool ReadDumpCatalog(sqlite3* db, std::vector<LoadTable>* tables) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT db, tbl, name, records FROM zdb_dump_tables ORDER BY rowid",
                         -1, &s, nullptr) != SQLITE_OK)
    return false;
  while (sqlite3_step(s) == SQLITE_ROW)
    tables->push_back(
        {ColumnText(s, 0), ColumnText(s, 1), ColumnText(s, 2), {}, sqlite3_column_int64(s, 3)});
  sqlite3_finalize(s);
  if (sqlite3_prepare_v2(db,
                         "SELECT name, type, subtype, width FROM zdb_dump_fields WHERE db=? AND "
                         "tbl=? ORDER BY pos",
                         -1, &s, nullptr) != SQLITE_OK)
    return false;
  for (LoadTable& t : *tables) {
    sqlite3_reset(s);
    sqlite3_bind_text(s, 1, t.db.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, t.table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(s) == SQLITE_ROW) {
      FieldDef f;
      f.name = ColumnText(s, 0);
      const std::string type = ColumnText(s, 1), sub = ColumnText(s, 2);
      f.type = type.empty() ? 'C' : type[0];
      f.subtype = sub.empty() ? ' ' : sub[0];
      f.width = static_cast<uint32_t>(sqlite3_column_int64(s, 3));
      t.fields.push_back(f);
    }
  }
  sqlite3_finalize(s);
  return true;
}

bool LoadRows(sqlite3* src, const LoadTable& t, Counter& done) {
  std::string cols;
  for (const FieldDef& f : t.fields) {
    std::string q = "\"";
    for (char c : f.name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    cols += (cols.empty() ? "" : ",") + q + "\"";
  }
  std::string quoted = "\"";
  for (char c : t.sqliteName) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(src, ("SELECT " + cols + " FROM " + quoted + "\" ORDER BY rowid").c_str(),
                         -1, &s, nullptr) != SQLITE_OK) {
    Error("dump file: table %s: %s", t.sqliteName.c_str(), sqlite3_errmsg(src));
    return false;
  }
  std::vector<std::string> texts(t.fields.size());
  std::vector<char*> values(t.fields.size());
  bool ok = true;
  // Records go in transactions of kBatch: the server then commits once per batch, not once
  // per record.
  constexpr int64_t kBatch = 1000;
  ok = Check(("a transaction on " + t.db).c_str(), ZDB_BeginTransaction());
  int64_t n = 0;
  while (ok && sqlite3_step(s) == SQLITE_ROW) {
    for (size_t i = 0; ok && i < texts.size(); ++i) {
      texts[i] = ColumnText(s, static_cast<int>(i));
      values[i] = texts[i].data();
      // The library cuts a whole-record value to its field's width without a word; a dump
      // that holds a longer one was edited, and loading it must not lose the rest unseen.
      const FieldDef& f = t.fields[i];
      const size_t width = f.subtype == 'M' || f.subtype == 'B' ? 255 : f.width;
      if (texts[i].size() > width) {
        Error("%s.%s record %lld: the value of %s is %zu characters, wider than %zu", t.db.c_str(),
              t.table.c_str(), static_cast<long long>(n + 1), f.name.c_str(), texts[i].size(),
              width);
        ok = false;
      }
    }
    ok = ok && Check(("writing a record of " + t.db + "." + t.table).c_str(),
                     ZDB_PutWrite("*", values.data()));
    ++done.value;
    if (ok && ++n % kBatch == 0) ok = Check("committing", ZDB_Commit());
  }
  sqlite3_finalize(s);
  if (!ok) {
    ZDB_RollBack();
    return false;
  }
  return Check("committing", ZDB_EndTransaction());
}

int Load(DumpOptions& o) {
  std::string host;
  if (!TakeHost("load", o.loadArgs, 0, &host)) return kExitUsage;
  if (!CheckInputFile(o.in, "dump")) return kExitFailure;
  std::map<std::string, std::string> rename;  // source database -> target database
  for (const std::string& item : o.loadDatabases) {
    const auto eq = item.find('=');
    rename[item.substr(0, eq)] = eq == std::string::npos ? item : item.substr(eq + 1);
  }
  sqlite3* src = nullptr;
  std::vector<LoadTable> tables;
  const bool opened =
      sqlite3_open_v2(o.in.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(src, sqlite3_close);
  if (!opened || !ReadDumpCatalog(src, &tables)) {
    Error("dump file %s: not a zdb dump (%s)", o.in.c_str(), sqlite3_errmsg(src));
    return kExitFailure;
  }
  std::vector<std::string> order;
  for (const LoadTable& t : tables)
    if ((rename.empty() || rename.count(t.db)) &&
        std::find(order.begin(), order.end(), t.db) == order.end())
      order.push_back(t.db);
  for (const auto& [from, to] : rename)
    if (std::find(order.begin(), order.end(), from) == order.end()) {
      Error("dump file %s: holds no database %s", o.in.c_str(), from.c_str());
      return kExitFailure;
    }
  int64_t total = 0;
  for (const LoadTable& t : tables)
    if (std::find(order.begin(), order.end(), t.db) != order.end()) total += t.records;
  Session session;
  if (!session.Open(host, true)) return kExitFailure;
  Counter done;
  size_t tableCount = 0;
  {
    Progress progress("load", Unit::kRecords, total, done.Sampler());
    for (const std::string& db : order) {
      const std::string target = rename.empty() ? db : rename[db];
      const int32_t made = Z_NewDB(target.c_str(), "", "", 0, "");
      if (made == 4012) {
        Error("database %s exists on the server; load into a new name with --database %s=NEW",
              target.c_str(), db.c_str());
        return kExitFailure;
      }
      if (!Check(("creating database " + target).c_str(), made)) return kExitFailure;
      bool ok = Check(("database " + target).c_str(), UseDatabase(target));
      for (const LoadTable& t : tables) {
        if (!ok || t.db != db) continue;
        unsigned char record[113] = {};
        const std::string name = target + "." + t.table;
        ok = Check(("creating table " + name).c_str(),
                   Z_CreTable(t.table.c_str(), FieldSpec(t.fields).c_str(), "", record)) &&
             Check(("table " + name).c_str(), OpenTable(t.table)) && LoadRows(src, t, done) &&
             Check(("closing " + name).c_str(), ZDB_CloseTable(t.table.c_str()));
        tableCount += ok ? 1 : 0;
      }
      if (!ok) {
        // The database was made by this load: a half-loaded one would pass for a copy.
        if (ZDB_SelDB(target.c_str()) == ZDB_OK && Z_DelDB() == ZDB_OK)
          Error("database %s removed again", target.c_str());
        return kExitFailure;
      }
      ZDB_UnUseDB(target.c_str());
    }
  }
  Info("loaded %zu database(s), %zu table(s), %lld record(s) from %s", order.size(), tableCount,
       static_cast<long long>(done.value.load()), o.in.c_str());
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
  commands.emplace_back(dump, [o] { return Dump(*o); });

  auto* load = app.add_subcommand("load", "create the databases of an SQLite dump on a server");
  load->add_option("HOST", o->loadArgs, "[HOST[:PORT]]");
  load->add_option("-i,--in", o->in, "the SQLite file zdb dump wrote")
      ->type_name("FILE")
      ->required();
  load->add_option("-d,--database", o->loadDatabases,
                   "load only this database, as NEW when written DB=NEW (repeatable)")
      ->type_name("DB[=NEW]");
  commands.emplace_back(load, [o] { return Load(*o); });
}

}  // namespace zdb::cli
