// What every command of the tool shares: the global options, messages, the session it works
// in, result texts and the checks of local paths made before the library is called.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zdb/platform.h"

namespace zdb::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Globals {
  std::string host;      // --host, else ZDB_HOST
  std::string user;      // --user
  std::string password;  // --password, else ZDB_PASSWORD; "-" asks for it
  bool quiet = false;    // --quiet: no messages but errors
};
Globals& G();

// Messages go to stderr so that standard output carries only data. Info is silenced by --quiet.
#define ZDB_CLI_PRINTF __attribute__((format(ZDB_TOOL_PRINTF_STYLE, 1, 2)))
void Info(const char* fmt, ...) ZDB_CLI_PRINTF;
void Error(const char* fmt, ...) ZDB_CLI_PRINTF;
// Prints "zdb CMD: message" and the hint to --help; returns kExitUsage.
int Usage(const std::string& command, const std::string& message);

// Splits a command's positionals into the host and the rest: with one more than `wanted` the
// first is the host, with exactly `wanted` the host comes from --host or ZDB_HOST. Returns
// false after printing a usage message.
bool TakeHost(const std::string& command, std::vector<std::string>& args, size_t wanted,
              std::string* host);

// The library's own result codes have texts of the tool's own (no server needed); for a
// server status the server is asked while the session is alive.
bool IsLibraryCode(int32_t code);
std::string LibraryText(int32_t code);
std::string ResultText(int32_t code);  // "4011 Database not found"

// Reads the password from the terminal without echo, or a line of stdin when it is no terminal.
std::string AskPassword(const std::string& prompt);

// A logged-in session on the calling thread; ends it (ZDB_Finish) when destroyed.
class ServerLogin {
 public:
  ServerLogin() = default;
  ~ServerLogin();
  ServerLogin(const ServerLogin&) = delete;
  ServerLogin& operator=(const ServerLogin&) = delete;
  // Selects the host and logs in with the global credentials; `persistent` keeps one
  // connection for the whole session. Prints the reason on failure.
  bool Open(const std::string& host, bool persistent = false);
  bool open() const { return open_; }

 private:
  bool open_ = false;
};

// True when the request succeeded; otherwise prints "zdb: WHAT: CODE TEXT".
bool Check(const char* what, int32_t result);

// Local path checks, made before any request so that a bad path is named as such rather than
// surfacing as a transport failure. "-" is always fine for an output.
bool CheckOutputFile(const std::string& path, const char* role);
bool CheckInputFile(const std::string& path, const char* role);

// A temporary file in TMPDIR, removed when destroyed unless released.
class TempFile {
 public:
  explicit TempFile(const std::string& prefix);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

// Copies a file to stdout; false (after a message) on failure.
bool CopyToStdout(const std::string& path);
// Copies stdin into a file; false (after a message) on failure.
bool CopyFromStdin(const std::string& path);
int64_t FileSize(const std::string& path);  // -1 when it cannot be read

}  // namespace zdb::cli
