// Each command registers its subcommand, options and the function that runs it once the
// command line has been parsed.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zdb::cli {

using Commands = std::vector<std::pair<CLI::App*, std::function<int()>>>;

void RegisterServerCommands(CLI::App& app, Commands& commands);  // probe stop error servers
void RegisterSqlCommand(CLI::App& app, Commands& commands);
void RegisterTransferCommands(CLI::App& app, Commands& commands);  // export import
void RegisterTraceCommand(CLI::App& app, Commands& commands);
void RegisterDumpCommands(CLI::App& app, Commands& commands);  // dump load
void RegisterShellCommand(CLI::App& app, Commands& commands);
void RegisterAdminCommands(CLI::App& app, Commands& commands);  // user db table field index ...
void RegisterStatusCommand(CLI::App& app, Commands& commands);

// The administration verbs inside the shell: whether a line is one, and running such a line
// in the shell's session (its exit code).
bool IsAdminLine(const std::string& line);
int RunAdminLine(const std::string& line);

}  // namespace zdb::cli
