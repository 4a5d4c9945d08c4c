// A Session registered for the test's thread and pointed at a scripted peer, so that exported
// functions find it; removed again (with its logout) before the peer goes away.
#pragma once

#include <memory>

#include "session/registry.h"
#include "session/session.h"
#include "support/scripted_peer.h"

namespace zdb::test {

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
