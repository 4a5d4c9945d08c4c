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
  // file; stdout and the other forms pass through a temporary file.
  const bool direct = o.out != "-" && o.format == "tsv";
  TempFile temp("rows");
  if (!direct && !temp.ok()) return kExitFailure;
  const std::string target = direct ? o.out : temp.path();

  Session session;
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
    r = ZDB_SqlRun(script.c_str(), target.c_str(), params.empty() ? nullptr : params.c_str(), 0);
  }
  if (r == ZDB_ERR_ARGUMENT) {
    Error("the script: a parameter reference &N has no value (give --param N=VALUE)");
    return kExitFailure;
  }
  if (!Check("the script", r)) {
    // Rows before a failing statement still arrived; they are shown.
    if (o.out == "-") {
      std::string tsv;
      if (ReadWhole(target, &tsv)) WriteRows(tsv, o.format, stdout);
    }
    return kExitFailure;
  }
  std::string tsv;
  if (!ReadWhole(target, &tsv)) {
    Error("cannot read the rows back from %s: %s", target.c_str(), std::strerror(errno));
    return kExitFailure;
  }
  size_t rows = 0;
  if (direct) {
    rows = static_cast<size_t>(std::count(tsv.begin(), tsv.end(), '\n'));
  } else if (o.out == "-") {
    rows = WriteRows(tsv, o.format, stdout);
    std::fflush(stdout);
  } else {
    std::FILE* f = std::fopen(o.out.c_str(), "wb");
    if (!f) {
      Error("output file %s: %s", o.out.c_str(), std::strerror(errno));
      return kExitFailure;
    }
    rows = WriteRows(tsv, o.format, f);
    if (std::fclose(f) != 0) {
      Error("output file %s: writing failed", o.out.c_str());
      return kExitFailure;
    }
  }
  Info("%zu row(s)%s%s", rows, o.out == "-" ? "" : " written to ",
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
