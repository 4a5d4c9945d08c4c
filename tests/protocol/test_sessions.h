// Sessions for the protocol tests. ThreadSession: a Session registered for the test's thread and
// pointed at a scripted peer, so that exported functions find it; removed again (with its logout)
// before the peer goes away.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "session/registry.h"
#include "session/session.h"
#include "support/scripted_peer.h"

namespace zdb::test {

// A Session of the test's own (not the thread's), logged in at the peer with `options`.
inline std::unique_ptr<Session> LoggedInSession(const ScriptedPeer& peer, uint16_t options = 0) {
  auto s = std::make_unique<Session>();
  s->hostName = "127.0.0.1";
  s->port = peer.port();
  s->serverAddress = {0x7F000001u, peer.port()};
  s->connectionOptions = options;
  EXPECT_EQ(s->Login("", ""), kOk);
  return s;
}

class ThreadSession {
 public:
  explicit ThreadSession(const ScriptedPeer& peer) {
    auto s = std::make_unique<Session>();
    s->hostName = "127.0.0.1";
    s->port = peer.port();
    s->serverAddress = {0x7F000001u, peer.port()};
    session_ = s.get();
    RegisterSession(std::move(s));
  }
  ~ThreadSession() { RemoveSessionForThread(session_->threadId); }
  ThreadSession(const ThreadSession&) = delete;
  ThreadSession& operator=(const ThreadSession&) = delete;

  Session& operator*() const { return *session_; }
  Session* operator->() const { return session_; }

 private:
  Session* session_;
};

}  // namespace zdb::test
