// Helpers for tests of requests that move files: a private temporary directory that the test
// can inspect, a Session registered for the calling thread, and file and stream builders.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/registry.h"
#include "session/session.h"
#include "support/scripted_peer.h"
#include "support/test_platform.h"
#include "wire/file_block.h"
#include "wire/le.h"

namespace zdb::test {

// Points the temporary directory at a fresh folder for the test's lifetime; local files of the
// test live there too.
class ScratchDir {
 public:
  ScratchDir() : dir_(MakeScratchDirectory()), saved_(GetEnvironment(TempDirectoryVariable())) {
    SetEnvironment(TempDirectoryVariable(), dir_);
  }
  ~ScratchDir() {
    for (const auto& name : Files()) platform::RemoveFile(Path(name).c_str());
    RemoveEmptyDirectory(dir_);
    SetEnvironment(TempDirectoryVariable(), saved_);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Path(const std::string& name) const { return dir_ + kPathSeparator + name; }
  std::vector<std::string> Files() const { return ListDirectory(dir_); }
  // The files whose names start with the prefix (the temporary files of a script run).
  std::vector<std::string> FilesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& n : Files())
      if (n.rfind(prefix, 0) == 0) out.push_back(n);
    return out;
  }

 private:
  std::string dir_;
  std::optional<std::string> saved_;
};

// A Session for the calling thread, talking to the peer; removed (with its logout) at the end.
class ThreadSession {
 public:
  explicit ThreadSession(const ScriptedPeer& peer, uint16_t connectionOptions = 3) {
    auto s = std::make_unique<Session>();
    s->hostName = "127.0.0.1";
    s->port = peer.port();
    s->serverAddress = {0x7F000001u, peer.port()};
    s->connectionOptions = connectionOptions;
    session_ = s.get();
    RegisterSession(std::move(s));
  }
  ~ThreadSession() { RemoveSessionForThread(platform::CurrentThreadId()); }
  Session& operator*() const { return *session_; }
  Session* operator->() const { return session_; }

 private:
  Session* session_;
};

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
  return b;
}

inline void WriteLocalFile(const std::string& path, const Bytes& content) {
  platform::File f;
  ASSERT_TRUE(f.Create(path.c_str()));
  ASSERT_TRUE(f.Write(content.data(), content.size()));
}

inline Bytes ReadLocalFile(const std::string& path) {
  platform::File f;
  Bytes all;
  if (!f.OpenRead(path.c_str())) return all;
  uint8_t buf[16384];
  for (long r; (r = f.Read(buf, sizeof buf)) > 0;) all.insert(all.end(), buf, buf + r);
  return all;
}

inline bool LocalFileExists(const std::string& path) {
  return PathExists(path);
}

inline void AppendRecord(Bytes& stream, const Bytes& data) {
  uint8_t len[4];
  wire::PutI32(len, static_cast<int32_t>(data.size()));
  stream.insert(stream.end(), len, len + 4);
  stream.insert(stream.end(), data.begin(), data.end());
}

inline void AppendEndMark(Bytes& stream) {
  AppendRecord(stream, {wire::kEndMark[0], wire::kEndMark[1]});
}

inline void AppendStatus(Bytes& stream, int32_t status) {
  uint8_t w[4];
  wire::PutI32(w, status);
  stream.insert(stream.end(), w, w + 4);
}

// The server side of a SendFile step: the 64-byte header, then the announced bytes.
struct ReceivedFile {
  Bytes header;
  Bytes content;
};
inline bool ReadUploadedFile(PeerConnection& c, ReceivedFile* out) {
  if (!c.ReadExact(wire::kFileBlockHeaderSize, &out->header)) return false;
  const int32_t length = wire::DecodeFileBlockLength(out->header.data());
  return c.ReadExact(length > 0 ? static_cast<size_t>(length) : 0, &out->content);
}

}  // namespace zdb::test
