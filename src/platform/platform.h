// Everything the library asks of the operating system. The rest of the code base includes only
// this header; posix/ and win32/ each implement it as a whole, so no #ifdef reaches the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zdb::platform {

// ---- process and threads -------------------------------------------------------------------

// Starts the socket layer (WinSock 1.1 on Windows). False refuses the library load.
bool StartSockets();
void StopSockets();

uint32_t CurrentThreadId();

// A lock for the few structures shared by all threads. Not std::mutex: the Windows
// toolchains with native threads have none.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  alignas(16) unsigned char native_[64];
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.Lock(); }
  ~MutexLock() { m_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

// Called once a Session is registered for the calling thread, so that the thread's end can
// remove it. The hook itself is installed by the library entry (see entry.h).
void ArmThreadExitHook();

// ---- TCP and UDP sockets -------------------------------------------------------------------

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// IPv4 address and port, both in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// The error number of the last failed socket call of this thread (WSAGetLastError / errno).
int LastSocketError();

Socket OpenTcp();  // kNoSocket on failure
bool Connect(Socket s, const Endpoint& to);
void SetNoDelay(Socket s);
// One send call; returns what the system returned (bytes accepted, 0, or -1). Never raises
// SIGPIPE.
long SendSome(Socket s, const void* data, size_t n);
// Sends all n bytes with as many calls as it takes; false on 0 or -1 from a call.
bool SendAll(Socket s, const void* data, size_t n);
// A piece of an outgoing message that lives elsewhere (header, caller buffers).
struct ConstBuffer {
  const void* data;
  size_t size;
};
// Sends the parts in order as one byte stream: a single gathering send call, further calls
// only for what the system did not accept. The array is used up. False on 0 or -1 from a call.
bool SendAllParts(Socket s, ConstBuffer* parts, size_t count);
// After a send that took `sent` bytes of the parts: steps over the parts it took whole and
// trims the one it took in part, so the next send starts where this one stopped.
inline void SkipSent(ConstBuffer*& parts, size_t& count, size_t sent) {
  while (count > 0 && sent >= parts->size) {
    sent -= parts->size;
    ++parts;
    --count;
  }
  if (sent > 0) {
    parts->data = static_cast<const char*>(parts->data) + sent;
    parts->size -= sent;
  }
}
// One receive call: bytes received, 0 when the peer closed, -1 on error.
long ReceiveSome(Socket s, void* data, size_t n);
void CloseSocket(Socket s);

Socket OpenUdp();        // kNoSocket on failure
bool BindAny(Socket s);  // any local address, port 0
bool BindTo(Socket s, const Endpoint& local);
void SetBroadcast(Socket s);
bool SendTo(Socket s, const void* data, size_t n, const Endpoint& to);
// Waits until s is readable: 1 readable, 0 timed out, -1 error.
int WaitReadable(Socket s, int milliseconds);
// Receives one datagram; -1 on error. `from` gets the sender.
long ReceiveFrom(Socket s, void* data, size_t n, Endpoint* from);

// Host database lookup (first address); false when the name does not resolve.
bool ResolveName(const char* name, uint32_t* address);
// Dotted-decimal parsing with inet_addr's rules; an unparsable text gives 0xFFFFFFFF.
uint32_t ParseDotted(const char* text);
std::string FormatDotted(uint32_t address);

// The local interface addresses used by discovery (host name, then its addresses). False when
// the host name or its lookup fails. Tests replace the source with SetLocalAddressSource.
bool LocalAddresses(std::vector<uint32_t>* out);
using LocalAddressSource = std::function<bool(std::vector<uint32_t>*)>;
void SetLocalAddressSource(LocalAddressSource source);  // empty function restores the system's
// The system's own answer (each operating system's sockets file).
bool SystemLocalAddresses(std::vector<uint32_t>* out);

// ---- character set -------------------------------------------------------------------------

// The client code page <-> OEM code page stage of the server character set conversion.
void ClientToOem(uint8_t* text, size_t n);
void OemToClient(uint8_t* text, size_t n);

// ---- files ---------------------------------------------------------------------------------

// A local file owned by one operation. The error codes are the file layer's own numbers.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool OpenRead(const char* name);
  // Creates or truncates; `exclusive` denies sharing where the platform supports that.
  bool Create(const char* name, bool exclusive = false);
  bool IsOpen() const { return handle_ != kClosed; }
  int LastError() const { return error_; }
  int64_t Size();                   // -1 on error
  long Read(void* data, size_t n);  // bytes read, 0 at the end, -1 on error
  bool Write(const void* data, size_t n);
  void Close();

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
  int error_ = 0;
};

// The directory for temporary files, with a trailing separator.
std::string TempDirectory();
// Creates a new, uniquely and unpredictably named empty file in `dir` whose name starts with
// `prefix`; false when none can be made.
bool MakeTempFile(const std::string& dir, const char* prefix, std::string* name);
bool RemoveFile(const char* name);

}  // namespace zdb::platform
