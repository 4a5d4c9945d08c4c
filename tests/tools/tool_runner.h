// Runs the built zdb as a child process with a given stdin and environment and collects its
// exit code, stdout and stderr; plus a zdbd with data made through the library.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zdb::test {

struct ToolResult {
  int code = -1;
  std::string out, err;
};

// ZDB_HOST and ZDB_PASSWORD are removed from the child's environment unless `env` sets them.
ToolResult RunZdb(const std::vector<std::string>& args, const std::string& input = "",
                  const std::map<std::string, std::string>& env = {});

// As RunZdb, with stderr on a pseudo-terminal (what a person at a terminal sees there).
ToolResult RunZdbOnTerminal(const std::vector<std::string>& args);

// A started child zdb whose stdout goes to a file, for commands that run alongside others.
class ToolProcess {
 public:
  explicit ToolProcess(const std::vector<std::string>& args);
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  std::string Out() const;
  // Waits up to `ms` for the child to end by itself; its exit code, or -1 (then it is killed).
  int Wait(int ms);

 private:
  int pid_ = -1;
  std::string outPath_;
};

// Each command line must end with exit code 2, nothing on stdout and `message` in stderr.
struct UsageError {
  std::vector<std::string> args;
  const char* message;
};
void ExpectUsageErrors(const std::vector<UsageError>& bad);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);

}  // namespace zdb::test
