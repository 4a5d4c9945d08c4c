#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "support/zdbd_process.h"

#ifndef ZDBD_PATH
#error "ZDBD_PATH must name the zdbd binary"
#endif

namespace zdb::test {

namespace fs = std::filesystem;

namespace {

// ZDB_TEST_STORAGE=postgresql://USER@HOST:PORT/DB runs every zdbd of the tests over PostgreSQL.
// Each data directory gets a PostgreSQL database of its own, named after the directory, so that
// a server restarted over the same directory finds its data again and tests never see each
// other's; the directory's removal drops it.
const char* TestStorage() {
  const char* uri = std::getenv("ZDB_TEST_STORAGE");
  return uri && *uri ? uri : nullptr;
}

std::string DatabaseFor(const std::string& dataDir) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : fs::absolute(dataDir).lexically_normal().string()) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "zt_%016llx", static_cast<unsigned long long>(h));
  return name;
}

std::string UriWith(const std::string& database) {
  std::string uri = TestStorage();
  size_t slash = uri.find('/', uri.find("//") + 2);
  return (slash == std::string::npos ? uri + "/" : uri.substr(0, slash + 1)) + database;
}

// psql against the cluster's own database; its output is not needed. True when it succeeded.
bool Psql(const std::string& sql) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null) {
      ::dup2(fileno(null), 1);
      ::dup2(fileno(null), 2);
    }
    std::string uri = TestStorage();
    ::execlp("psql", "psql", uri.c_str(), "-qAt", "-c", sql.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int st = 0;
  if (pid > 0) ::waitpid(pid, &st, 0);
  return pid > 0 && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// The databases made for data directories in this process, dropped with the directory that holds
// them.
std::mutex g_madeMutex;
std::map<std::string, std::string> g_made;  // data directory -> database

}  // namespace

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "zdbd-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
  if (TestStorage() && !path_.empty()) {
    std::lock_guard<std::mutex> lock(g_madeMutex);
    for (auto it = g_made.begin(); it != g_made.end();) {
      if (it->first.rfind(path_, 0) == 0) {
        Psql("DROP DATABASE IF EXISTS " + it->second + " WITH (FORCE)");
        it = g_made.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::string ZdbdProcess::StorageFor(const std::string& dataDir) {
  return TestStorage() ? UriWith(DatabaseFor(dataDir)) : std::string();
}

std::string ZdbdProcess::MakeStorageFor(const std::string& dataDir) {
  if (!TestStorage()) return {};
  std::string database = DatabaseFor(dataDir);
  std::lock_guard<std::mutex> lock(g_madeMutex);
  // Two CREATE DATABASE at once may find the template busy: the loser tries again.
  if (g_made.emplace(dataDir, database).second)
    for (int i = 0; i < 20 && !Psql("CREATE DATABASE " + database); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return UriWith(database);
}

ZdbdProcess::ZdbdProcess(const std::string& dataDir, std::vector<std::string> extra) {
  ref_ = dataDir + ".log";
  bool chosen = false;  // a test that names the storage itself gets what it names
  for (const auto& a : extra) chosen = chosen || a == "--storage";
  if (TestStorage() && !chosen) extra.insert(extra.begin(), {"--storage", MakeStorageFor(dataDir)});
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
