#include "support/zdbd_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "wire/le.h"

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
  logPath_ = dataDir + ".log";
  int out[2];
  if (::pipe(out) != 0) return;
  pid_t pid = ::fork();
  if (pid < 0) return;
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    std::FILE* log = std::fopen(logPath_.c_str(), "w");
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
  fs::remove(logPath_, ec);
}

bool ZdbdProcess::WaitExit(int ms, int* status) {
  if (pid_ <= 0) return true;
  for (int waited = 0; waited <= ms; waited += 20) {
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      pid_ = -1;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int ZdbdProcess::Stop() {
  if (pid_ <= 0) return 0;
  ::kill(pid_, SIGTERM);
  int status = 0;
  if (WaitExit(15000, &status)) return status;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
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
  std::ifstream in(logPath_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Bytes TextSlot(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

Bytes U32Slot(uint32_t v) {
  Bytes b(4);
  wire::PutU32(b.data(), v);
  return b;
}

RawClient::RawClient(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval tv{10, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

Bytes RawClient::Frame(uint16_t kindFlags, uint32_t opcode, const std::vector<Bytes>& slots,
                       uint32_t handle) {
  wire::FrameHeader h;
  h.kind = static_cast<uint8_t>(kindFlags);
  h.flags = static_cast<uint8_t>(kindFlags >> 8);
  h.connectionOptions = 3;
  h.chars = {0, 0x20, 0};
  h.opcode = opcode;
  std::vector<uint32_t> lengths;
  for (const auto& s : slots) lengths.push_back(static_cast<uint32_t>(s.size()));
  wire::LayoutSlots(h, lengths.data(), static_cast<int>(lengths.size()));
  h.sessionHandle = handle;
  h.status = wire::kStatusPreset;
  Bytes out(wire::kHeaderSize);
  wire::EncodeHeader(h, out.data());
  for (const auto& s : slots) out.insert(out.end(), s.begin(), s.end());
  return out;
}

bool RawClient::Send(const Bytes& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool RawClient::ReadExact(void* data, size_t n) {
  auto* p = static_cast<uint8_t*>(data);
  for (size_t got = 0; got < n;) {
    ssize_t r = ::recv(fd_, p + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool RawClient::ReadSome(void* data, size_t n, size_t* got) {
  ssize_t r = ::recv(fd_, data, n, 0);
  *got = r > 0 ? static_cast<size_t>(r) : 0;
  return r > 0;
}

RawReply RawClient::Receive(const std::vector<Bytes>& slots, bool statusOnly) {
  RawReply r;
  if (statusOnly) {
    uint8_t word[4];
    r.ok = ReadExact(word, 4);
    r.status = r.ok ? wire::GetI32(word) : 0;
    return r;
  }
  Bytes head(wire::kHeaderSize);
  if (!ReadExact(head.data(), head.size())) return r;
  r.handle = wire::GetU32(head.data() + wire::kOffSession);
  r.status = wire::GetI32(head.data() + wire::kOffStatus);
  for (const auto& s : slots) {
    Bytes b(s.size());
    if (!b.empty() && !ReadExact(b.data(), b.size())) return r;
    r.slots.push_back(std::move(b));
  }
  r.ok = true;
  return r;
}

RawReply RawClient::Call(uint16_t kindFlags, uint32_t opcode, const std::vector<Bytes>& slots,
                         uint32_t handle) {
  Bytes frame = Frame(kindFlags, opcode, slots, handle);
  wire::PutU16(frame.data() + wire::kOffOptions, options);
  if (!Send(frame)) return {};
  return Receive(slots, (kindFlags & 0x8000) != 0);
}

bool RawClient::ClosedByPeer(int ms) {
  pollfd pfd{fd_, POLLIN, 0};
  if (::poll(&pfd, 1, ms) <= 0) return false;
  uint8_t b;
  return ::recv(fd_, &b, 1, 0) <= 0;
}

RawReply CallOnce(uint16_t port, uint16_t kindFlags, uint32_t opcode,
                  const std::vector<Bytes>& slots, uint32_t handle) {
  RawClient c(port);
  return c.Call(kindFlags, opcode, slots, handle);
}

uint32_t LoginRaw(uint16_t port, const std::string& user, const std::string& pw) {
  RawReply r = CallOnce(port, 0x0001, 0, {TextSlot(user), TextSlot(pw)}, wire::kNoSession);
  return r.ok && r.status == 1000 ? r.handle : wire::kNoSession;
}

}  // namespace zdb::test
