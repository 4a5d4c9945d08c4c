// zdb: the command-line face of the library, for operators, developers and their scripts.
// Data goes to stdout, messages to stderr; exit code 0 success, 1 failure, 2 usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb/platform.h"

#ifndef ZDB_TOOL_VERSION
#define ZDB_TOOL_VERSION "0"
#endif

namespace {

// The first word that is neither an option nor an option's value, when it names no command:
// CLI11 would only say that a command is required.
std::string UnknownCommand(CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-H" || a == "--host" || a == "-u" || a == "--user" || a == "-p" ||
        a == "--password") {
      ++i;
      continue;
    }
    if (a.empty() || a[0] == '-') continue;
    CLI::App* sub = nullptr;
    try {
      sub = app.get_subcommand(a);
    } catch (const CLI::OptionNotFound&) {
      return a;
    }
    // A family of commands (zdb user ...) names its own in the next word.
    if (sub->get_subcommands({}).empty()) return "";
    for (int k = i + 1; k < argc; ++k) {
      const std::string v = argv[k];
      if (v.empty() || v[0] == '-') continue;
      try {
        sub->get_subcommand(v);
      } catch (const CLI::OptionNotFound&) {
        return a + " " + v;
      }
      return "";
    }
    return "";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zdb::cli;
  // Standard output carries data: the same bytes on every system and as in an --out file, with
  // no CR added before each newline. Messages on stderr keep the console's text mode.
  os::SetBinary(stdout);
  CLI::App app{"zdb: administer, probe, query, export, dump and trace ZDB servers", "zdb"};
  app.set_version_flag("--version", std::string("zdb ") + ZDB_TOOL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  Globals& g = G();
  if (const char* host = std::getenv("ZDB_HOST")) g.host = host;
  app.add_option("-H,--host", g.host, "server as HOST[:PORT] (default: $ZDB_HOST; port 2500)")
      ->type_name("HOST");
  app.add_option("-u,--user", g.user, "user name to log in with (default: empty)")
      ->type_name("NAME");
  app.add_option("-p,--password", g.password,
                 "password; '-' asks for it without echo (default: $ZDB_PASSWORD, else empty)")
      ->type_name("TEXT");
  app.add_flag("-q,--quiet", g.quiet, "print nothing but errors on stderr");
  app.footer(
      "Every command takes the server as its first argument HOST[:PORT], which may be left out\n"
      "when --host or ZDB_HOST names it. Run 'zdb COMMAND --help' for a command's options.\n"
      "Exit codes: 0 success, 1 failure, 2 usage error.\n"
#if !ZDB_TOOL_SQLITE || !ZDB_TOOL_TRACE || !ZDB_TOOL_LINE_EDITING
      "This build (Windows) lacks: trace; SQLite dumps (dump writes CSV folders only, load is\n"
      "refused); line editing and history in the shell; byte counts in import's progress.\n"
#endif
  );

  Commands commands;
  RegisterServerCommands(app, commands);
  RegisterSqlCommand(app, commands);
  RegisterTransferCommands(app, commands);
  RegisterDumpCommands(app, commands);
  RegisterShellCommand(app, commands);
  RegisterTraceCommand(app, commands);
  RegisterAdminCommands(app, commands);
  RegisterStatusCommand(app, commands);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) {
      std::fprintf(stderr, "zdb: unknown command '%s'\nRun 'zdb --help' for the commands.\n",
                   unknown.c_str());
      return kExitUsage;
    }
    // CLI11 uses 0 for --help/--version and its own numbers for errors; scripts see 2.
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (app.get_option("--password")->count() == 0) {
    if (const char* pw = std::getenv("ZDB_PASSWORD")) g.password = pw;
  }
  if (g.password == "-") g.password = AskPassword("Password: ");
  for (auto& [sub, run] : commands)
    if (sub->parsed()) return run();
  return kExitUsage;
}
