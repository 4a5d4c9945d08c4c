// zdb shell: an interactive prompt over one session, with line editing and history from
// libedit on a terminal; from a pipe it reads commands line by line, so scripts can drive it.
#if ZDB_TOOL_LINE_EDITING
#include <editline/readline.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "zdb/catalog.h"
#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/script_rows.h"
#include "zdb/sql_format.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

constexpr const char* kHelp =
    "databases                  list the databases\n"
    "use DB                     put a database in use and select it\n"
    "tables                     list the tables of the selected database\n"
    "open TABLE                 open a table and select it\n"
    "fields                     the selected table's field definitions\n"
    "first | next | prior | last   read that record of the selected table\n"
    "read N                     read record number N\n"
    "seek FIELD VALUE           the first record whose FIELD equals VALUE\n"
    "sql STATEMENT              run SQL on the selected database (a trailing ';' is fine)\n"
    "user, grant, revoke, db, table, field, index, constraint, default, xref\n"
    "                           administration as in zdb, without the host ('db --help')\n"
    "help                       this list\n"
    "quit | exit                end the session\n";

class Shell {
 public:
  // Runs one command line; false when the command failed.
  bool Run(const std::string& line);
  bool quit() const { return quit_; }

 private:
  bool Fail(int32_t r) {
    std::printf("error: %s\n", ResultText(r).c_str());
    return false;
  }
  bool ShowRecord(int32_t r);
  bool Sql(const std::string& statement);

  std::string db_, table_;
  std::vector<FieldDef> fields_;
  RecordReader reader_;
  bool quit_ = false;
};

std::string Rest(std::istringstream& in) {
  std::string rest;
  std::getline(in, rest);
  const auto first = rest.find_first_not_of(" \t");
  return first == std::string::npos ? "" : rest.substr(first);
}

bool Shell::ShowRecord(int32_t r) {
  if (r == 4042) {
    std::printf("(no more records)\n");
    return true;
  }
  if (r != ZDB_OK) return Fail(r);
  std::vector<Row> rows;
  for (size_t i = 0; i < fields_.size() && i < reader_.values().size(); ++i) {
    std::string value = reader_.values()[i];
    // A record buffer holds 255 characters of a memo and a binary value up to its first zero
    // byte; the field itself has all of it.
    if (IsMemoLike(fields_[i])) {
      Cell whole;
      if (const int32_t fr = ReadWholeField(fields_[i], &whole); fr != ZDB_OK) return Fail(fr);
      value.clear();
      AppendPlain(whole, value);
    }
    rows.push_back({fields_[i].name, value});
  }
  std::fputs(AlignedTable({"field", "value"}, rows).c_str(), stdout);
  return true;
}

bool Shell::Sql(const std::string& statement) {
  if (db_.empty()) {
    std::printf("error: no database selected (use DB)\n");
    return false;
  }
  TempFile out("shell");
  if (!out.ok()) return false;
  const std::string script = "#" + statement;
  const int32_t r = ZDB_SqlRun(script.c_str(), out.path().c_str(), nullptr, kDescribedRows);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(out.path().c_str(), "rb"),
                                                     std::fclose);
  if (!in) return Fail(r == ZDB_OK ? 2120 : r);
  // Values in their plain row form: a tab or newline inside one cannot break the table apart,
  // and null (\N) shows apart from an empty text.
  ScriptRowReader reader(in.get(), true);
  std::vector<Row> rows;
  Row header;
  size_t count = 0;
  auto flush = [&] {
    if (!rows.empty() || !header.empty()) std::fputs(AlignedTable(header, rows).c_str(), stdout);
    rows.clear();
  };
  for (ScriptRowReader::Item item; (item = reader.Next()) != ScriptRowReader::kEnd;) {
    if (item == ScriptRowReader::kBad) {
      std::printf("error: the rows the server sent: %s\n", reader.why().c_str());
      return false;
    }
    if (item == ScriptRowReader::kColumns) {
      flush();
      header = reader.names();
      continue;
    }
    Row row;
    for (const Cell& c : reader.cells()) {
      row.emplace_back();
      AppendPlain(c, row.back());
    }
    rows.push_back(std::move(row));
    ++count;
  }
  flush();
  if (r != ZDB_OK) return Fail(r);
  std::printf("(%zu row%s)\n", count, count == 1 ? "" : "s");
  return true;
}

bool Shell::Run(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  if (!(in >> cmd) || cmd[0] == '#') return true;
  for (auto& c : cmd) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (cmd == "quit" || cmd == "exit") {
    quit_ = true;
    return true;
  }
  if (cmd == "help" || cmd == "?") {
    std::fputs(kHelp, stdout);
    return true;
  }
  if (IsAdminLine(line)) {
    char key[32] = {};
    const bool atRecord = !table_.empty() && Z_CurrentKey(key, sizeof key - 1) == ZDB_OK;
    const bool ok = RunAdminLine(line) == kExitOk;
    // The verbs select databases and tables of their own; the shell's come back, at the
    // record it stood on.
    if (!db_.empty()) UseDatabase(db_);
    if (!table_.empty() && OpenTable(table_) == ZDB_OK && atRecord) ZDB_Read(key, "");
    return ok;
  }
  if (cmd == "databases" || cmd == "dbs") {
    std::vector<std::string> names;
    if (int32_t r = ListDatabases(&names); r != ZDB_OK) return Fail(r);
    for (const auto& n : names) std::printf("%s\n", n.c_str());
    return true;
  }
  if (cmd == "use") {
    const std::string db = Rest(in);
    if (db.empty()) return std::printf("usage: use DB\n"), false;
    if (int32_t r = UseDatabase(db); r != ZDB_OK) return Fail(r);
    db_ = db;
    table_.clear();
    fields_.clear();
    std::printf("database %s selected\n", db.c_str());
    return true;
  }
  if (cmd == "tables") {
    std::vector<std::string> names;
    if (int32_t r = ListTables(&names); r != ZDB_OK) return Fail(r);
    for (const auto& n : names) std::printf("%s\n", n.c_str());
    return true;
  }
  if (cmd == "open" || cmd == "table") {
    const std::string t = Rest(in);
    if (t.empty()) return std::printf("usage: open TABLE\n"), false;
    int32_t r = OpenTable(t);
    if (r == ZDB_OK) r = TableFields(&fields_);
    if (r != ZDB_OK) return Fail(r);
    table_ = t;
    int64_t count = 0;
    TableRecordCount(&count);
    std::printf("table %s selected: %zu fields, %lld records\n", t.c_str(), fields_.size(),
                static_cast<long long>(count));
    return true;
  }
  if (table_.empty() && (cmd == "fields" || cmd == "first" || cmd == "next" || cmd == "prior" ||
                         cmd == "last" || cmd == "read" || cmd == "seek")) {
    std::printf("error: no table selected (open TABLE)\n");
    return false;
  }
  if (cmd == "fields") {
    std::vector<Row> rows;
    for (const FieldDef& f : fields_)
      rows.push_back(
          {f.name, std::string(1, f.type), std::string(1, f.subtype), std::to_string(f.width)});
    std::fputs(AlignedTable({"name", "type", "subtype", "width"}, rows).c_str(), stdout);
    return true;
  }
  if (cmd == "first" || cmd == "next" || cmd == "prior" || cmd == "last")
    return ShowRecord(reader_.Read(cmd, fields_.size()));
  if (cmd == "read") {
    const std::string n = Rest(in);
    if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos)
      return std::printf("usage: read NUMBER\n"), false;
    return ShowRecord(reader_.Read(n, fields_.size()));
  }
  if (cmd == "seek") {
    std::string field;
    in >> field;
    const std::string value = Rest(in);
    if (field.empty()) return std::printf("usage: seek FIELD VALUE\n"), false;
    return ShowRecord(reader_.Seek(field, value, fields_.size()));
  }
  if (cmd == "sql") return Sql(Rest(in));
  std::printf("unknown command '%s' (help lists them)\n", cmd.c_str());
  return false;
}

int RunShell(std::vector<std::string>& args) {
  std::string host;
  if (!TakeHost("shell", args, 0, &host)) return kExitUsage;
  ServerLogin session;
  if (!session.Open(host, true)) return kExitFailure;
  Shell shell;
  const bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
  bool allOk = true;
  if (interactive) {
    std::printf("zdb shell on %s; 'help' lists the commands\n", host.c_str());
#if ZDB_TOOL_LINE_EDITING
    using_history();
    while (!shell.quit()) {
      std::unique_ptr<char, decltype(&std::free)> line(readline("zdb> "), std::free);
      if (!line) break;
      if (*line) add_history(line.get());
      shell.Run(line.get());
      std::fflush(stdout);
    }
#else
    // No line editing in this build: plain lines, each after a prompt.
    std::string line;
    while (!shell.quit() &&
           (std::printf("zdb> "), std::fflush(stdout), std::getline(std::cin, line))) {
      shell.Run(line);
      std::fflush(stdout);
    }
#endif
    return kExitOk;
  }
  // From a pipe every line is a command; the exit code tells a script whether any failed.
  std::string line;
  while (!shell.quit() && std::getline(std::cin, line)) {
    if (!shell.Run(line)) allOk = false;
    std::fflush(stdout);
  }
  return allOk ? kExitOk : kExitFailure;
}

}  // namespace

void RegisterShellCommand(CLI::App& app, Commands& commands) {
  auto args = std::make_shared<std::vector<std::string>>();
  auto* shell = app.add_subcommand(
      "shell", "an interactive prompt over one session: databases, tables, records and SQL");
  shell->add_option("HOST", *args, "[HOST[:PORT]]");
  commands.emplace_back(shell, [args] { return RunShell(*args); });
}

}  // namespace zdb::cli
