// zdbd for integration tests: started on a free loopback port with its own temporary data
// directory, stopped by its pid. zdbd is a Linux program: on Linux it is a child process of the
// test (zdbd_process_posix.cpp); a Windows test program under Wine asks a Linux launcher on
// loopback for one (zdbd_process_win32.cpp, tests/support/launcher). Plus a raw-frame client that
// talks to it without the library, for the tests of the server's own rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "wire/frame.h"

namespace zdb::test {

// A fresh directory under the temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class ZdbdProcess {
 public:
  // Starts zdbd on --port 0 with `dataDir`; extra arguments follow. With ZDB_TEST_STORAGE set
  // (a PostgreSQL URI) it runs over a PostgreSQL database of the directory's own, unless
  // `extra` names --storage itself.
  explicit ZdbdProcess(const std::string& dataDir, std::vector<std::string> extra = {});
  ~ZdbdProcess();
  ZdbdProcess(const ZdbdProcess&) = delete;
  ZdbdProcess& operator=(const ZdbdProcess&) = delete;

  bool running() const { return pid_ > 0; }
  uint16_t port() const { return port_; }
  // The server's process id on Linux (also under Wine, where the launcher is its parent).
  long pid() const { return pid_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  // Sends SIGTERM and waits; returns the exit status (-1 when it had to be killed).
  int Stop();
  // Sends SIGTERM and returns at once (WaitExit collects the status).
  void Terminate();
  // Ends it at once with SIGKILL, as a crash would (WaitExit collects it, status -1).
  void Kill();
  // Waits for the process to end by itself for up to `ms`; true when it did.
  bool WaitExit(int ms, int* status = nullptr);
  // Resident memory in kilobytes, from /proc.
  long ResidentKb() const;
  // The PostgreSQL URI ZDB_TEST_STORAGE gives a zdbd over `dataDir` (its own database there);
  // empty when the tests run over SQLite.
  static std::string StorageFor(const std::string& dataDir);
  // The same, with the database made when it is missing: for a zdbd the test starts itself.
  static std::string MakeStorageFor(const std::string& dataDir);
  // What the server wrote to stderr so far.
  std::string Log() const;

 private:
  long pid_ = -1;
  uint16_t port_ = 0;
  // Linux: the file the server's stderr goes to; Windows: the launcher's name for the server.
  std::string ref_;
};

using Bytes = std::vector<uint8_t>;

Bytes TextSlot(const std::string& s);  // the text and its terminating zero
Bytes U32Slot(uint32_t v);

struct RawReply {
  bool ok = false;      // a complete reply arrived
  int32_t status = 0;   // bytes 157-160, or the 4-byte status
  uint32_t handle = 0;  // bytes 153-156 of a full reply
  std::vector<Bytes> slots;
};

// One raw connection to a server on 127.0.0.1.
class RawClient {
 public:
  explicit RawClient(uint16_t port);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool connected() const { return fd_ != platform::kNoSocket; }
  // The connection options Call puts in its frames: the default mode's 3 has the server close
  // the connection after one reply; kPersistent keeps it for many requests.
  static constexpr uint16_t kPersistent = 0x13;
  uint16_t options = 3;

  static Bytes Frame(uint16_t kindFlags, uint32_t opcode, const std::vector<Bytes>& slots,
                     uint32_t handle);
  bool Send(const Bytes& bytes);
  // Reads a full reply shaped like `slots` or, with statusOnly, a 4-byte status.
  RawReply Receive(const std::vector<Bytes>& slots, bool statusOnly);
  RawReply Call(uint16_t kindFlags, uint32_t opcode, const std::vector<Bytes>& slots,
                uint32_t handle);
  bool ReadExact(void* data, size_t n);
  // One receive of up to n bytes into *got; false when the peer closed or the read failed.
  bool ReadSome(void* data, size_t n, size_t* got);
  // True when the server closed the connection (reads nothing more within `ms`).
  bool ClosedByPeer(int ms);

 private:
  platform::Socket fd_ = platform::kNoSocket;
};

// One control datagram (probe, discover, stop) to the server's UDP port on 127.0.0.1 and its
// answer; empty when none came within two seconds.
Bytes ControlExchange(uint16_t port, uint16_t code);

// Login, a request, logout: each on a connection of its own, as the default mode does it.
RawReply CallOnce(uint16_t port, uint16_t kindFlags, uint32_t opcode,
                  const std::vector<Bytes>& slots, uint32_t handle);
uint32_t LoginRaw(uint16_t port, const std::string& user = "", const std::string& pw = "");

}  // namespace zdb::test
