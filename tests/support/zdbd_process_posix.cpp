#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/zdbd_process.h"

#ifndef ZDBD_PATH
#error "ZDBD_PATH must name the zdbd binary"
#endif

namespace zdb::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "zdbd-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

ZdbdProcess::ZdbdProcess(const std::string& dataDir, std::vector<std::string> extra) {
  ref_ = dataDir + ".log";
  int out[2];
  if (::pipe(out) != 0) return;
  pid_t pid = ::fork();
  if (pid < 0) return;
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    std::FILE* log = std::fopen(ref_.c_str(), "w");
    if (log) ::dup2(fileno(log), 2);
    std::vector<std::string> args = {ZDBD_PATH, "--port", "0", "--data", dataDir};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(ZDBD_PATH, argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  pid_ = pid;
  // The first line names the port; wait for it a few seconds at most.
  std::string line;
  pollfd pfd{out[0], POLLIN, 0};
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char ch;
  while (std::chrono::steady_clock::now() < until && line.find('\n') == std::string::npos) {
    if (::poll(&pfd, 1, 200) <= 0) continue;
    if (::read(out[0], &ch, 1) != 1) break;
    line += ch;
  }
  ::close(out[0]);
  size_t colon = line.rfind(':');
  if (line.rfind("zdbd listening on ", 0) == 0 && colon != std::string::npos)
    port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
  if (port_ == 0) Stop();
}

ZdbdProcess::~ZdbdProcess() {
  Stop();
  std::error_code ec;
  fs::remove(ref_, ec);
}

bool ZdbdProcess::WaitExit(int ms, int* status) {
  if (pid_ <= 0) return true;
  for (int waited = 0; waited <= ms; waited += 20) {
    int st = 0;
    if (::waitpid(static_cast<pid_t>(pid_), &st, WNOHANG) == pid_) {
      if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      pid_ = -1;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void ZdbdProcess::Terminate() {
  if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGTERM);
}

void ZdbdProcess::Kill() {
  if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGKILL);
}

int ZdbdProcess::Stop() {
  if (pid_ <= 0) return 0;
  Terminate();
  int status = 0;
  if (WaitExit(15000, &status)) return status;
  ::kill(static_cast<pid_t>(pid_), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  pid_ = -1;
  return -1;
}

long ZdbdProcess::ResidentKb() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::string ZdbdProcess::Log() const {
  std::ifstream in(ref_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace zdb::test
