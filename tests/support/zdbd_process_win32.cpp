// zdbd for a Windows test program. zdbd is a Linux program, so the test asks the Linux launcher
// (tests/support/launcher) whose address the runner puts in ZDB_TEST_LAUNCHER for one. That only
// works under Wine, which also names the Linux path of the data directory.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/test_platform.h"
#include "support/zdbd_process.h"

namespace zdb::test {

namespace {

// The Linux path of a Windows path, from Wine's own kernel32; empty outside Wine.
std::string UnixPath(const std::string& windowsPath) {
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  auto toUnix = kernel ? reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
                             ::GetProcAddress(kernel, "wine_get_unix_file_name")))
                       : nullptr;
  if (!toUnix) return std::string();
  int n = ::MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), n);
  char* unix = toUnix(wide.c_str());
  if (!unix) return std::string();
  std::string out = unix;
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return out;
}

// The data directory does not exist yet: its parent is named by Wine, its own name appended.
std::string UnixPathOfNew(const std::string& windowsPath) {
  auto cut = windowsPath.find_last_of("/\\");
  if (cut == std::string::npos) return std::string();
  std::string parent = UnixPath(windowsPath.substr(0, cut));
  return parent.empty() ? parent : parent + "/" + windowsPath.substr(cut + 1);
}

// One request to the launcher and its whole answer (the launcher closes after it); empty when
// there is no launcher or it did not answer.
std::string AskLauncher(const std::string& request) {
  const char* address = std::getenv("ZDB_TEST_LAUNCHER");
  if (!address) {
    std::fprintf(stderr, "no zdbd launcher named in ZDB_TEST_LAUNCHER\n");
    return std::string();
  }
  std::string text = address;
  auto colon = text.find(':');
  if (colon == std::string::npos) return std::string();
  platform::Endpoint to{platform::ParseDotted(text.substr(0, colon).c_str()),
                        static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1))};
  platform::Socket s = platform::OpenTcp();
  if (s == platform::kNoSocket) return std::string();
  std::string answer;
  const std::string line = request + "\n";
  if (platform::Connect(s, to) && platform::SendAll(s, line.data(), line.size())) {
    char buf[4096];
    // Long enough for the launcher's own longest wait (a stop: 15 s and a kill).
    while (platform::WaitReadable(s, 30000) == 1) {
      long n = platform::ReceiveSome(s, buf, sizeof buf);
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
    }
  }
  platform::CloseSocket(s);
  return answer;
}

// The fields of an "ok" answer's first line; empty when the answer is not "ok".
std::vector<std::string> OkFields(const std::string& answer) {
  std::vector<std::string> fields;
  std::string first = answer.substr(0, answer.find('\n'));
  for (std::string::size_type from = 0;;) {
    auto tab = first.find('\t', from);
    fields.push_back(first.substr(from, tab - from));
    if (tab == std::string::npos) break;
    from = tab + 1;
  }
  if (fields[0] != "ok") fields.clear();
  return fields;
}

}  // namespace

TempDir::TempDir() : path_(MakeScratchDirectory()) {}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

ZdbdProcess::ZdbdProcess(const std::string& dataDir, std::vector<std::string> extra) {
  const std::string unixDir = UnixPathOfNew(dataDir);
  if (unixDir.empty()) {
    std::fprintf(stderr, "zdbd runs only under Wine here: no Linux path for %s\n", dataDir.c_str());
    return;
  }
  std::string request = "start\t" + unixDir;
  for (const auto& a : extra) request += "\t" + a;
  std::vector<std::string> f = OkFields(AskLauncher(request));
  if (f.size() != 3) return;
  ref_ = f[1];
  pid_ = std::atol(f[1].c_str());
  port_ = static_cast<uint16_t>(std::atoi(f[2].c_str()));
}

ZdbdProcess::~ZdbdProcess() {
  if (!ref_.empty()) AskLauncher("end\t" + ref_);
}

void ZdbdProcess::Terminate() {
  if (pid_ > 0) AskLauncher("terminate\t" + ref_);
}

void ZdbdProcess::Kill() {
  if (pid_ > 0) AskLauncher("kill\t" + ref_);
}

bool ZdbdProcess::WaitExit(int ms, int* status) {
  if (pid_ <= 0) return true;
  std::vector<std::string> f = OkFields(AskLauncher("wait\t" + ref_ + "\t" + std::to_string(ms)));
  if (f.size() != 2) return false;
  if (status) *status = std::atoi(f[1].c_str());
  pid_ = -1;
  return true;
}

int ZdbdProcess::Stop() {
  if (pid_ <= 0) return 0;
  std::vector<std::string> f = OkFields(AskLauncher("stop\t" + ref_));
  pid_ = -1;
  return f.size() == 2 ? std::atoi(f[1].c_str()) : -1;
}

std::string ZdbdProcess::StorageFor(const std::string&) {
  return {};  // the Windows rings run against a launcher's zdbd over SQLite
}

std::string ZdbdProcess::MakeStorageFor(const std::string&) {
  return {};
}

long ZdbdProcess::ResidentKb() const {
  std::vector<std::string> f = OkFields(AskLauncher("rss\t" + ref_));
  return f.size() == 2 ? std::atol(f[1].c_str()) : -1;
}

std::string ZdbdProcess::Log() const {
  std::string answer = AskLauncher("log\t" + ref_);
  std::vector<std::string> f = OkFields(answer);
  if (f.size() != 2) return std::string();
  return answer.substr(answer.find('\n') + 1);
}

}  // namespace zdb::test
