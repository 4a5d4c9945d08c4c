#include "tool_runner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace zdb::test {
namespace {

std::string TempName(const char* what) {
  const char* dir = std::getenv("TMPDIR");
  std::string p = std::string(dir && *dir ? dir : "/tmp") + "/zdbtool-" + what + "-XXXXXX";
  int fd = ::mkstemp(p.data());
  if (fd >= 0) ::close(fd);
  return p;
}

[[noreturn]] void ExecZdb(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env) {
  ::unsetenv("ZDB_HOST");
  ::unsetenv("ZDB_PASSWORD");
  for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> argv;
  std::string tool = ZDB_TOOL_PATH;
  argv.push_back(tool.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(tool.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

ToolResult RunZdb(const std::vector<std::string>& args, const std::string& input,
                  const std::map<std::string, std::string>& env) {
  const std::string in = TempName("in"), out = TempName("out"), err = TempName("err");
  WriteFile(in, input);
  ToolResult result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(in.c_str(), O_RDONLY), 0);
    ::dup2(::open(out.c_str(), O_WRONLY | O_TRUNC), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_TRUNC), 2);
    ExecZdb(args, env);
  }
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.code = WEXITSTATUS(status);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  ::unlink(in.c_str());
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return result;
}

ToolResult RunZdbOnTerminal(const std::vector<std::string>& args) {
  const std::string out = TempName("out");
  ToolResult result;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
  const std::string slave = ::ptsname(master);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(::open(out.c_str(), O_WRONLY | O_TRUNC), 1);
    ::dup2(::open(slave.c_str(), O_WRONLY | O_NOCTTY), 2);
    ExecZdb(args, {});
  }
  // Drain the terminal while the child runs, so that it never blocks on a full one.
  int status = 0;
  char buf[4096];
  bool exited = false;
  while (true) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) {
        result.err.append(buf, static_cast<size_t>(n));
        continue;
      }
    }
    // Once the child is gone and the terminal holds nothing more (EIO or empty), stop.
    if (exited) break;
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!exited) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::close(master);
  if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
  result.out = ReadFile(out);
  ::unlink(out.c_str());
  return result;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args) : outPath_(TempName("proc")) {
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(::open(outPath_.c_str(), O_WRONLY | O_TRUNC), 1);
    ExecZdb(args, {});
  }
}

ToolProcess::~ToolProcess() {
  Wait(0);
  ::unlink(outPath_.c_str());
}

std::string ToolProcess::Out() const {
  return ReadFile(outPath_);
}

int ToolProcess::Wait(int ms) {
  if (pid_ <= 0) return -1;
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (true) {
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return -1;
}

void ExpectUsageErrors(const std::vector<UsageError>& bad) {
  for (const UsageError& b : bad) {
    const ToolResult r = RunZdb(b.args);
    std::string joined;
    for (const auto& a : b.args) joined += a + " ";
    EXPECT_EQ(r.code, 2) << joined << r.err;
    EXPECT_NE(r.err.find(b.message), std::string::npos) << joined << r.err;
    EXPECT_EQ(r.out, "") << joined;
  }
}

}  // namespace zdb::test
