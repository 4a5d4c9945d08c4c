#include "db_copy.h"

#include "pg_sql.h"
#include "schema.h"

namespace zdbd {

namespace {

// zdbd's own tables, copied row by row in their order; a file made before one of them existed
// lacks it.
const char* const kCatalog[] = {"zdb_tables",      "zdb_fields",   "zdb_indexes", "zdb_aliases",
                                "zdb_constraints", "zdb_defaults", "zdb_xrefs",   "zdb_info"};

bool CopyRows(Db& from, Db& to, const std::string& table, const std::string& select,
              const std::vector<std::string>& columns) {
  std::string cols, marks;
  for (size_t i = 0; i < columns.size(); ++i) {
    cols += (i ? "," : "") + columns[i];
    marks += i ? ",?" : "?";
  }
  Stmt read(from, select);
  while (read.Step()) {
    Stmt put(to, "INSERT INTO " + QuoteIdent(table) + "(" + cols + ") VALUES(" + marks + ")");
    for (size_t i = 0; i < columns.size(); ++i)
      put.Bind(static_cast<int>(i + 1), read.Get(static_cast<int>(i)));
    if (!put.Run()) return false;
  }
  return !read.Failed();
}

bool CopyCatalogTable(Db& from, Db& to, const char* table) {
  Stmt probe(from, std::string("SELECT * FROM ") + table + " LIMIT 1");
  if (!probe.Ok()) return true;  // not in this file
  probe.Step();
  std::vector<std::string> columns;
  for (int i = 0; i < probe.Columns(); ++i)
    if (probe.ColumnName(i) != "rowid") columns.push_back(QuoteIdent(probe.ColumnName(i)));
  if (columns.empty()) return true;
  std::string list;
  for (size_t i = 0; i < columns.size(); ++i) list += (i ? "," : "") + columns[i];
  return CopyRows(from, to, table, "SELECT " + list + " FROM " + table + " ORDER BY rowid",
                  columns);
}

}  // namespace

bool CopyDatabase(Db& from, Db& to) {
  if (!EnsureCatalog(to) || !to.Exec("CREATE TABLE IF NOT EXISTS zdb_info(key TEXT PRIMARY KEY,"
                                     " value TEXT)"))
    return false;
  if (!to.Exec("SAVEPOINT zdb_copydb")) return false;
  bool ok = true;
  for (const char* t : kCatalog) ok = ok && CopyCatalogTable(from, to, t);
  for (const std::string& table : ok ? ListTables(from) : std::vector<std::string>{}) {
    auto fields = TableFields(from, table);
    std::string sql = "CREATE TABLE " + QuoteIdent(table) + "(";
    std::vector<std::string> columns = {"rowid"};
    for (size_t i = 0; i < fields.size(); ++i) {
      sql += (i ? ", " : "") + QuoteIdent(fields[i].name) + " " + StorageType(to, fields[i]);
      columns.push_back(QuoteIdent(fields[i].name));
    }
    if (fields.empty()) sql += "zdb_rowid INTEGER";
    ok = ok && to.Exec(sql + ")");
    std::string list;
    for (size_t i = 0; i < columns.size(); ++i) list += (i ? "," : "") + columns[i];
    ok = ok &&
         CopyRows(from, to, table,
                  "SELECT " + list + " FROM " + QuoteIdent(table) + " ORDER BY rowid", columns);
    for (const IndexInfo& ix : ok ? TableIndexes(from, table) : std::vector<IndexInfo>{}) {
      std::string cols;
      for (const auto& f : ix.fields) cols += (cols.empty() ? "" : ", ") + QuoteIdent(f);
      ok = ok && to.Exec(std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX " +
                         QuoteIdent(ix.sqlName) + " ON " + QuoteIdent(table) + "(" + cols + ")");
    }
    // Record numbers were given, not drawn: the next append draws after the largest.
    if (ok && to.Postgres())
      ok = to.Exec("SELECT setval(pg_get_serial_sequence('" + Lower(QuoteIdent(table)) +
                   "', 'rowid'), coalesce(max(rowid), 0) + 1, false) FROM " + QuoteIdent(table));
  }
  if (ok && to.Exec("RELEASE zdb_copydb")) return true;
  to.Exec("ROLLBACK TO zdb_copydb; RELEASE zdb_copydb;");
  return false;
}

}  // namespace zdbd
