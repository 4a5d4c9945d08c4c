// zdb sql: run a script on a database; rows to stdout or a file, as tsv, csv or json.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/progress.h"
#include "zdb/sql_format.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

struct SqlOptions {
  std::vector<std::string> args;
  std::string out = "-";
  std::string format = "tsv";
  std::vector<std::string> params;
  std::string rawParams;
  bool rawGiven = false;
};

bool ReadWhole(const std::string& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int RunSql(SqlOptions& o) {
  std::string host;
  if (!TakeHost("sql", o.args, 2, &host)) return kExitUsage;
  const std::string db = o.args[0];
  std::string script = o.args[1];
  std::string params;
  if (o.rawGiven && !o.params.empty())
    return Usage("sql", "--param and --raw-params cannot be mixed");
  if (o.rawGiven) {
    params = o.rawParams;
  } else {
    std::string why;
    if (!BuildParameterText(o.params, &params, &why)) return Usage("sql", why);
  }
  if (script == "-") {
    // A script from stdin travels inline, as the library expects it.
    std::ostringstream all;
    all << std::cin.rdbuf();
    script = "#" + all.str();
  } else if (script.empty()) {
    return Usage("sql", "the script is empty");
  } else if (script[0] != '#' && !CheckInputFile(script, "script")) {
    return kExitFailure;
  }
  if (!CheckOutputFile(o.out, "output")) return kExitFailure;

  // The library writes rows to a file of its own choosing only when they go straight to a tsv
  // file; stdout and the other forms pass through a temporary file. tsv keeps zdbd's plain
  // rows as they come; csv and json ask for described rows, which name the columns and tell
  // numbers from texts.
  const bool tsv = o.format == "tsv";
  const bool direct = o.out != "-" && tsv;
  TempFile temp("rows");
  if (!direct && !temp.ok()) return kExitFailure;
  const std::string target = direct ? o.out : temp.path();

  ServerLogin session;
  if (!session.Open(host)) return kExitFailure;
  if (!Check(("using database " + db).c_str(), ZDB_UseDB(db.c_str())) ||
      !Check(("selecting database " + db).c_str(), ZDB_SelDB(db.c_str())))
    return kExitFailure;
  int32_t r;
  {
    std::unique_ptr<Progress> progress;
    if (o.out != "-")
      progress = std::make_unique<Progress>(
          "sql", Unit::kBytes, -1, [&target] { return std::max<int64_t>(0, FileSize(target)); });
    r = ZDB_SqlRun(script.c_str(), target.c_str(), params.empty() ? nullptr : params.c_str(),
                   tsv ? 0 : kDescribedRows);
  }
  if (r == ZDB_ERR_ARGUMENT) {
    Error("the script: a parameter reference &N has no value (give --param N=VALUE)");
    return kExitFailure;
  }
  // Rows before a failing statement still arrived; they are shown.
  const bool ran = Check("the script", r);
  if (!ran && o.out != "-") return kExitFailure;
  int64_t rows = 0;
  if (tsv) {
    std::string text;
    if (!ReadWhole(target, &text)) {
      Error("cannot read the rows back from %s: %s", target.c_str(), std::strerror(errno));
      return kExitFailure;
    }
    rows = std::count(text.begin(), text.end(), '\n');
    if (!direct) std::fwrite(text.data(), 1, text.size(), stdout);
  } else {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(target.c_str(), "rb"),
                                                       std::fclose);
    std::FILE* f = o.out == "-" ? stdout : std::fopen(o.out.c_str(), "wb");
    if (!in || !f) {
      Error("%s: %s", !in ? target.c_str() : o.out.c_str(), std::strerror(errno));
      return kExitFailure;
    }
    ScriptRowReader reader(in.get(), true);
    std::string why;
    rows = WriteRows(reader, o.format, f, &why);
    const bool closed = f == stdout ? std::fflush(f) == 0 : std::fclose(f) == 0;
    if (rows < 0) {
      Error("the rows the server sent: %s", why.c_str());
      return kExitFailure;
    }
    if (!closed) {
      Error("output file %s: writing failed", o.out.c_str());
      return kExitFailure;
    }
  }
  std::fflush(stdout);
  if (!ran) return kExitFailure;
  Info("%lld row(s)%s%s", static_cast<long long>(rows), o.out == "-" ? "" : " written to ",
       o.out == "-" ? "" : o.out.c_str());
  return kExitOk;
}

}  // namespace

void RegisterSqlCommand(CLI::App& app, Commands& commands) {
  auto o = std::make_shared<SqlOptions>();
  auto* sql = app.add_subcommand("sql", "run an SQL script on a database and print its rows");
  sql->add_option("ARGS", o->args,
                  "[HOST[:PORT]] DATABASE SCRIPT: the script is inline when it starts with '#', "
                  "'-' reads it from stdin, else it names a script file")
      ->required();
  sql->add_option("-o,--out", o->out, "where the rows go; '-' is stdout")
      ->type_name("FILE")
      ->capture_default_str();
  sql->add_option("-f,--format", o->format, "form of the rows")
      ->check(CLI::IsMember({"tsv", "csv", "json"}))
      ->capture_default_str();
  sql->add_option("--param", o->params,
                  "N=VALUE: the script's &N becomes VALUE as a quoted SQL literal (repeatable)")
      ->type_name("N=VALUE");
  sql->add_option("--raw-params", o->rawParams,
                  "the library's parameter text '&1=v;&2=w', pasted unquoted (unsafe with "
                  "untrusted values)")
      ->type_name("TEXT")
      ->each([o](const std::string&) { o->rawGiven = true; });
  commands.emplace_back(sql, [o] { return RunSql(*o); });
}

}  // namespace zdb::cli
