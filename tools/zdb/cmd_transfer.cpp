// zdb export and zdb import: whole databases as files, '-' for stdout and stdin.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <memory>

#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/progress.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

struct TransferOptions {
  std::vector<std::string> exportArgs, importArgs;
  std::string mode = "new";
  std::string report = "-";
};

int Export(TransferOptions& o) {
  std::string host;
  if (!TakeHost("export", o.exportArgs, 2, &host)) return kExitUsage;
  const std::string db = o.exportArgs[0], file = o.exportArgs[1];
  if (!CheckOutputFile(file, "export")) return kExitFailure;
  TempFile temp("export");
  if (file == "-" && !temp.ok()) return kExitFailure;
  const std::string target = file == "-" ? temp.path() : file;
  ServerLogin session;
  if (!session.Open(host)) return kExitFailure;
  int32_t r;
  {
    Progress progress("export", Unit::kBytes, -1,
                      [&target] { return std::max<int64_t>(0, FileSize(target)); });
    // The second text is not read by the server; the library sends the local path as well.
    r = Z_ExportDB(db.c_str(), "", target.c_str());
  }
  if (!Check(("exporting database " + db).c_str(), r)) {
    if (file != "-") ::unlink(file.c_str());  // an empty or partial file is no export
    return kExitFailure;
  }
  const int64_t size = FileSize(target);
  if (file == "-" && !CopyToStdout(target)) return kExitFailure;
  Info("exported %s: %s%s%s", db.c_str(), FormatAmount(size, Unit::kBytes).c_str(),
       file == "-" ? "" : " to ", file == "-" ? "" : file.c_str());
  return kExitOk;
}

int Import(TransferOptions& o) {
  std::string host;
  if (!TakeHost("import", o.importArgs, 2, &host)) return kExitUsage;
  const std::string db = o.importArgs[0], file = o.importArgs[1];
  std::string mode = o.mode;
  std::transform(mode.begin(), mode.end(), mode.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (mode != "NEW" && mode != "REPLACE")
    return Usage("import", "--mode must be 'new' or 'replace', not '" + o.mode + "'");
  if (!CheckInputFile(file, "import") || !CheckOutputFile(o.report, "report")) return kExitFailure;
  TempFile input("import"), report("report");
  if (!input.ok() || !report.ok()) return kExitFailure;
  if (file == "-" && !CopyFromStdin(input.path())) return kExitFailure;
  const std::string source = file == "-" ? input.path() : file;
  const std::string reportPath = o.report == "-" ? report.path() : o.report;
  ServerLogin session;
  if (!session.Open(host)) return kExitFailure;
  int32_t r;
  const int64_t total = FileSize(source);
  std::atomic<bool> sent{false};
  {
    // The library closes the upload before the call returns; the last line shows it all sent.
    Progress progress("import", Unit::kBytes, total,
                      [&] { return sent ? total : BytesReadFrom(source); });
    // The server replaces an existing database only when the mode is REPLACE in capitals.
    r = Z_ImportDB(db.c_str(), mode == "REPLACE" ? "REPLACE" : "", source.c_str(),
                   reportPath.c_str());
    sent = r == ZDB_OK;
  }
  const bool ok = Check(("importing into database " + db).c_str(), r);
  if (r == 4012) Error("database %s exists; --mode replace replaces it", db.c_str());
  if (o.report == "-" && FileSize(reportPath) > 0) CopyToStdout(reportPath);
  if (ok)
    Info("imported %s into %s%s%s", file == "-" ? "stdin" : file.c_str(), db.c_str(),
         o.report == "-" ? "" : "; report in ", o.report == "-" ? "" : o.report.c_str());
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

void RegisterTransferCommands(CLI::App& app, Commands& commands) {
  auto o = std::make_shared<TransferOptions>();
  auto* ex = app.add_subcommand("export", "copy a whole database out of the server into a file");
  ex->add_option("ARGS", o->exportArgs, "[HOST[:PORT]] DATABASE FILE ('-': stdout)")->required();
  commands.emplace_back(ex, [o] { return Export(*o); });

  auto* im = app.add_subcommand("import", "load an exported database file into the server");
  im->add_option("ARGS", o->importArgs, "[HOST[:PORT]] DATABASE FILE ('-': stdin)")->required();
  im->add_option("-m,--mode", o->mode,
                 "'new' refuses an existing database, 'replace' replaces it (any letter case)")
      ->capture_default_str();
  im->add_option("-r,--report", o->report, "where the server's report goes; '-' is stdout")
      ->type_name("FILE")
      ->capture_default_str();
  commands.emplace_back(im, [o] { return Import(*o); });
}

}  // namespace zdb::cli
