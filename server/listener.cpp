#include "listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "cluster.h"
#include "conn.h"
#include "dispatch.h"
#include "metrics.h"
#include "spin.h"
#include "status.h"
#include "storage.h"
#include "udp.h"

namespace zdbd {

namespace {

int g_wakeWrite = -1;
constexpr char kWakeStop = 1;
constexpr char kWakeReopenLog = 2;

void OnSignal(int signal) {
  char b = signal == SIGHUP ? kWakeReopenLog : kWakeStop;
  if (g_wakeWrite >= 0) [[maybe_unused]]
    auto r = ::write(g_wakeWrite, &b, 1);
}

struct Sockets {
  int tcp = -1;
  int udp = -1;
  uint16_t port = 0;
  ~Sockets() {
    if (tcp >= 0) ::close(tcp);
    if (udp >= 0) ::close(udp);
  }
};

int BoundSocket(int type, uint32_t address, uint16_t port) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  if (type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && ::listen(fd, 128) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Binds TCP and UDP on one port; with port 0, a port free for both.
bool BindBoth(const Options& o, Sockets* s) {
  in_addr addr{};
  if (::inet_pton(AF_INET, o.bind.c_str(), &addr) != 1) return false;
  for (int attempt = 0; attempt < 50; ++attempt) {
    s->tcp = BoundSocket(SOCK_STREAM, addr.s_addr, o.port);
    if (s->tcp < 0) return false;
    s->port = PortOf(s->tcp);
    s->udp = BoundSocket(SOCK_DGRAM, addr.s_addr, s->port);
    if (s->udp >= 0) return true;
    ::close(s->tcp);
    s->tcp = -1;
    if (o.port != 0) return false;
  }
  return false;
}

std::string PeerOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len);
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

// The open connections and whether each is carrying out a request, so that a stop can close the
// waiting ones at once and give the working ones time to finish and answer.
class Connections {
 public:
  // At the cap, the oldest connection that has not sent a request yet is pushed out to make room
  // (it is most likely no client at all); false when every connection has carried a request.
  bool Add(int fd, int max) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_ >= max) {
      auto oldest = conns_.end();
      for (auto it = conns_.begin(); it != conns_.end(); ++it)
        if (!it->second.served && !it->second.pushedOut &&
            (oldest == conns_.end() || it->second.order < oldest->second.order))
          oldest = it;
      if (oldest == conns_.end()) return false;
      // Its thread sees the close, leaves, and removes it.
      ::shutdown(oldest->first, SHUT_RDWR);
      oldest->second.pushedOut = true;
      --live_;
      LogEvent(Event::kConnectionLimit, LogLevel::kWarning,
               "connection limit of %d reached: connection %s, which sent no request, pushed out "
               "for a new one",
               max, PeerOf(oldest->first).c_str());
    }
    conns_[fd] = Slot{false, false, false, next_++};
    ++live_;
    return true;
  }
  void Remove(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = conns_.find(fd);
    if (it == conns_.end()) return;
    if (!it->second.pushedOut) --live_;
    conns_.erase(it);
    if (conns_.empty()) changed_.notify_all();
  }
  // A request has arrived whole; false when the server is stopping, and then it is not carried
  // out at all, so the client's retry cannot do it twice.
  bool Begin(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    auto& slot = conns_[fd];
    slot.busy = slot.served = true;
    return true;
  }
  // Its reply is sent; false when the connection is to close because the server is stopping.
  bool End(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    conns_[fd].busy = false;
    return !stopping_;
  }
  // Closes the connections waiting for a request, gives the ones carrying out a request `grace`
  // to finish and answer, then interrupts SQL and cuts their sockets. The connection threads use
  // the server's state, which must outlive them: false when some did not end even then.
  bool ShutdownAll(std::chrono::seconds grace) {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& [fd, slot] : conns_)
      if (!slot.busy) ::shutdown(fd, SHUT_RDWR);
    if (changed_.wait_for(lock, grace, [&] { return conns_.empty(); })) return true;
    Log("%zu request(s) still running after %lld s: interrupting them", conns_.size(),
        static_cast<long long>(grace.count()));
    // An interrupted statement still answers its client; a request waiting on its client (a
    // slow upload, a reader that stopped) is then cut.
    Db::InterruptAll();
    if (changed_.wait_for(lock, std::chrono::seconds(2), [&] { return conns_.empty(); }))
      return true;
    for (const auto& [fd, slot] : conns_) ::shutdown(fd, SHUT_RDWR);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return conns_.empty(); });
  }

 private:
  struct Slot {
    bool busy = false;       // carrying out a request
    bool served = false;     // has sent a request
    bool pushedOut = false;  // closed to make room, its thread not gone yet
    uint64_t order = 0;      // of acceptance
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Slot> conns_;
  int live_ = 0;  // connections not pushed out
  uint64_t next_ = 0;
  bool stopping_ = false;
};

void Serve(Server& server, Connections& conns, int fd) {
  {
    const Options& o = server.options;
    Conn conn(fd);
    conn.SetFrameTimeout(o.frameTimeoutSeconds * 1000);
    // A connection that never sent a request is most likely not a client at all: it may not
    // hold one of the few connection slots for the long idle time of a working client.
    int idleSeconds = std::min(o.firstFrameSeconds, o.connectionIdleSeconds);
    for (;;) {
      Request req;
      FrameVerdict verdict = FrameVerdict::kOk;
      ReadResult r = ReadRequest(conn, o.maxFrame, idleSeconds * 1000, &req, &verdict);
      if (r == ReadResult::kClosed) break;
      if (r == ReadResult::kIdle) {
        LogEvent(Event::kConnectionIdle, LogLevel::kInfo,
                 "connection %s closed: no request for %d s", PeerOf(fd).c_str(), idleSeconds);
        break;
      }
      if (r == ReadResult::kRejected) {
        TheMetrics().Error(ErrorKind::kConnectionDropped);
        LogEvent(Event::kConnectionDropped, LogLevel::kWarning, "connection %s dropped: %s",
                 PeerOf(fd).c_str(), VerdictText(verdict));
        break;
      }
      if (r == ReadResult::kBroken) {
        TheMetrics().Error(ErrorKind::kConnectionDropped);
        LogEvent(Event::kConnectionDropped, LogLevel::kWarning,
                 "connection %s dropped: closed, or the request not whole within %d s",
                 PeerOf(fd).c_str(), o.frameTimeoutSeconds);
        break;
      }
      if (!conns.Begin(fd)) break;
      // In the default mode the client opens a connection per request. The server closes it:
      // the reply is held back (corked) and leaves with the closing FIN in its last segment, so
      // the server has closed before the client has even read the reply, and the TIME-WAIT
      // state stays with the server's one port instead of eating the client's ephemeral ports.
      bool oneShot = (req.header.connectionOptions & kPersistentBits) == 0;
      int one = 1;
      if (oneShot) ::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &one, sizeof one);
      bool more;
      {
        spin::Busy busy;
        more = Dispatch(server, conn, req);
      }
      if (oneShot) ::shutdown(fd, SHUT_WR);
      if (!conns.End(fd) || !more || oneShot) break;
      idleSeconds = o.connectionIdleSeconds;
    }
    conns.Remove(fd);
    TheMetrics().connectionsOpen.fetch_sub(1, std::memory_order_relaxed);
  }
}

// Reads what the signal handler wrote; true when it asks for a stop. SIGHUP reopens the log.
bool TakeSignals(int wake) {
  bool stop = false, reopen = false;
  char got[16];
  for (ssize_t n; (n = ::read(wake, got, sizeof got)) > 0;) {
    stop = stop || std::find(got, got + n, kWakeStop) != got + n;
    reopen = reopen || std::find(got, got + n, kWakeReopenLog) != got + n;
  }
  if (reopen && ReopenLog()) Log("log reopened");
  return stop;
}

void AnswerDatagram(Server& server, int udp, uint16_t port) {
  uint8_t buf[1030];
  sockaddr_in from{};
  socklen_t len = sizeof from;
  ssize_t n = ::recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n <= 0) return;
  ControlReply r = AnswerControl(buf, static_cast<size_t>(n), ntohl(from.sin_addr.s_addr),
                                 server.options.allowRemoteStop, server.options.name, port,
                                 server.sessions.Count());
  if (r.action == ControlAction::kRefuseStop) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    LogEvent(Event::kStopRefused, LogLevel::kWarning,
             "stop request from %s refused: not from this machine", text);
    return;
  }
  if (r.action == ControlAction::kIgnore) return;
  ::sendto(udp, r.bytes.data(), r.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  if (r.action == ControlAction::kAnswerAndStop) {
    Log("stop requested");
    server.stopping = true;
  }
}

}  // namespace

bool CheckDataDir(const std::string& dir, bool* exists, std::string* reason) {
  struct stat st {};
  *exists = false;
  if (::stat(dir.c_str(), &st) == 0) {
    *exists = true;
    if (!S_ISDIR(st.st_mode)) {
      *reason = "not a directory";
      return false;
    }
    if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0) {
      *reason = std::strerror(errno);
      return false;
    }
    return true;
  }
  if (errno != ENOENT) {
    *reason = std::strerror(errno);
    return false;
  }
  // It will be made: its parent must be a directory this user can write in.
  std::string parent = std::filesystem::path(dir).parent_path().string();
  if (parent.empty()) parent = ".";
  if (::stat(parent.c_str(), &st) != 0) {
    *reason = std::string("its parent ") + parent + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *reason = "its parent " + parent + " is not a directory";
    return false;
  }
  if (::access(parent.c_str(), W_OK | X_OK) != 0) {
    *reason = std::string("cannot be made in ") + parent + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

namespace {

// The data directory opened for a run or for --init-admin; a directory this start made is
// removed again when the start fails, so that a failed start leaves nothing behind.
class OpenedDataDir {
 public:
  bool Open(Server& server, const std::string& dir) {
    std::string reason;
    bool exists = false;
    if (!CheckDataDir(dir, &exists, &reason)) {
      LogAt(LogLevel::kError, "cannot use data directory %s: %s", dir.c_str(), reason.c_str());
      return false;
    }
    if (!exists) {
      if (::mkdir(dir.c_str(), 0750) != 0) {
        int e = errno;
        LogAt(LogLevel::kError, "cannot make data directory %s: %s", dir.c_str(), std::strerror(e));
        return false;
      }
      made_ = dir;
    }
    if (!server.data.Open(dir)) {
      LogAt(LogLevel::kError, "cannot use data directory %s", dir.c_str());
      return false;
    }
    if (!server.users.Open(dir + "/_system.sqlite")) {
      if (Storage::Postgres())
        LogAt(LogLevel::kError, "cannot reach PostgreSQL at %s: %s", Storage::Uri().c_str(),
              server.users.Error().c_str());
      else
        LogAt(LogLevel::kError,
              "cannot open the user catalog %s/_system.sqlite: not readable and writable, not a "
              "database, or held by a zdbd running over the same directory",
              dir.c_str());
      return false;
    }
    return true;
  }
  void Keep() { made_.clear(); }
  ~OpenedDataDir() {
    std::error_code ec;
    if (!made_.empty()) std::filesystem::remove_all(made_, ec);
  }

 private:
  std::string made_;
};

}  // namespace

int InitAdmin(const Options& o, const std::string& password) {
  if (password.empty()) {
    LogAt(LogLevel::kError, "--init-admin: no password on standard input");
    return 1;
  }
  Server server;
  std::string error;
  if (!Storage::Configure(o.storage, o.storageEncoding, &error)) {
    LogAt(LogLevel::kError, "%s", error.c_str());
    return 1;
  }
  OpenedDataDir dir;
  if (!dir.Open(server, o.dataDir)) return 1;
  int32_t rc = server.users.Add(o.initAdmin, password, true);
  if (rc != kOk) {
    LogAt(LogLevel::kError, "--init-admin: user '%s' not added: %s", o.initAdmin.c_str(),
          rc == kUserExists ? "a user of that name exists"
          : rc == kBadValue ? "a name is a letter, then letters, digits or '_', 32 at most"
                            : StatusText(rc).c_str());
    return 1;
  }
  dir.Keep();
  std::printf("administrator '%s' added to %s\n", o.initAdmin.c_str(), o.dataDir.c_str());
  return 0;
}

int RunServer(Server& server) {
  const Options& o = server.options;
  std::string error;
  if (!LogTo(o.log, &error)) {
    std::fprintf(stderr, "zdbd: %s\n", error.c_str());
    return 1;
  }
  // Everything that can fail is tried before the data directory is made.
  if (!Storage::Configure(o.storage, o.storageEncoding, &error)) {
    LogAt(LogLevel::kError, "%s", error.c_str());
    return 1;
  }
  Db::SetDurability(o.durable);
  bool dirExists = false;
  if (!CheckDataDir(o.dataDir, &dirExists, &error)) {
    LogAt(LogLevel::kError, "cannot use data directory %s: %s", o.dataDir.c_str(), error.c_str());
    return 1;
  }
  Sockets s;
  if (!BindBoth(o, &s)) {
    int e = errno;
    LogAt(LogLevel::kError, "cannot listen on %s:%u: %s", o.bind.c_str(), o.port, std::strerror(e));
    return 1;
  }
  MetricsServer metrics;
  if (!o.metricsAddress.empty() && !metrics.Bind(o.metricsAddress, o.metricsPort, &error)) {
    LogAt(LogLevel::kError, "cannot serve metrics on %s:%u: %s", o.metricsAddress.c_str(),
          o.metricsPort, error.c_str());
    return 1;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    int e = errno;
    LogAt(LogLevel::kError, "cannot make a pipe: %s", std::strerror(e));
    return 1;
  }
  OpenedDataDir dir;
  TheMetrics().started = std::chrono::steady_clock::now();  // before the first scrape reads it
  bool ready = dir.Open(server, o.dataDir);
  if (ready && !o.metricsAddress.empty()) {
    ready = metrics.Start(
        [&server] { return RenderMetrics(TheMetrics(), server.sessions.Count()); }, &error);
    if (!ready) LogAt(LogLevel::kError, "cannot serve metrics: %s", error.c_str());
  }
  std::shared_ptr<Cluster> cluster;
  if (ready && !o.storage.empty() && !(cluster = JoinCluster(server, &error))) {
    LogAt(LogLevel::kError, "cannot join the instances on %s: %s", o.storage.c_str(),
          error.c_str());
    ready = false;
  }
  spin::SetBudget(std::chrono::microseconds(o.spinMicroseconds));
  if (!ready) {
    ::close(wake[0]);
    ::close(wake[1]);
    return 1;
  }
  // Over PostgreSQL every request commits before its reply, so that another zdbd on the same
  // database sees it at once; --durable decides whether the commit waits for PostgreSQL's disk.
  server.shared.Start(o.durable || Storage::Postgres(), static_cast<size_t>(o.storageConnections));
  dir.Keep();
  g_wakeWrite = wake[1];
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGINT, OnSignal);
  ::signal(SIGTERM, OnSignal);
  ::signal(SIGHUP, OnSignal);
  Log("%s serving data directory %s on %s:%u (%s durability)", VersionText().c_str(),
      o.dataDir.c_str(), o.bind.c_str(), s.port, o.durable ? "full" : "normal");
  if (!o.metricsAddress.empty())
    Log("metrics at http://%s:%u/metrics", o.metricsAddress.c_str(), metrics.Port());
  if (!server.users.Any())
    LogAt(LogLevel::kWarning,
          "no users defined: logins from this machine are administrators until the first user "
          "is added (zdb user add, or zdbd --init-admin); logins from elsewhere are refused");
  // Printed last: whoever waits for this line finds the log lines above already written.
  std::printf("zdbd listening on %s:%u\n", o.bind.c_str(), s.port);
  std::fflush(stdout);

  Connections conns;
  while (!server.stopping) {
    pollfd fds[3] = {{s.tcp, POLLIN, 0}, {s.udp, POLLIN, 0}, {wake[0], POLLIN, 0}};
    int ready = ::poll(fds, 3, 1000);
    if (ready < 0 && errno != EINTR) break;
    if (fds[2].revents && TakeSignals(wake[0])) {
      Log("signal received, stopping");
      break;
    }
    FlushLogSummaries();
    if (fds[1].revents & POLLIN) AnswerDatagram(server, s.udp, s.port);
    if (fds[0].revents & POLLIN) {
      int fd = ::accept4(s.tcp, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (!conns.Add(fd, o.maxConnections)) {
          TheMetrics().Add(TheMetrics().connectionsRefused);
          LogEvent(Event::kConnectionLimit, LogLevel::kWarning,
                   "connection refused: %d connections open, each has sent a request",
                   o.maxConnections);
          ::close(fd);
        } else {
          TheMetrics().Add(TheMetrics().connectionsAccepted);
          TheMetrics().connectionsOpen.fetch_add(1, std::memory_order_relaxed);
          std::thread(Serve, std::ref(server), std::ref(conns), fd).detach();
        }
      }
    }
    for (auto& idle : server.sessions.TakeIdle(std::chrono::seconds(o.sessionIdleSeconds)))
      server.EndSession(idle, "idle expiry");
  }
  server.stopping = true;
  metrics.Stop();
  ::close(s.tcp);
  s.tcp = -1;
  if (!conns.ShutdownAll(std::chrono::seconds(o.stopGraceSeconds))) {
    // A thread stuck beyond every interruption still uses the server's state: leave without
    // tearing it down. SQLite's journal keeps the files whole.
    FlushLogSummaries(true);
    LogAt(LogLevel::kError, "stopped with requests still running");
    ::_exit(1);
  }
  for (auto& left : server.sessions.TakeAll()) server.EndSession(left, "server stop");
  if (cluster) cluster->Leave();
  // The answered changes still held are committed. Those that wait for space keep zdbd here,
  // however long: it takes no connection, only answers UDP as before (a further stop is
  // acknowledged and changes nothing), and a signal cannot end the wait; SIGKILL can.
  while (!server.shared.CloseAll()) {
    pollfd fds[2] = {{s.udp, POLLIN, 0}, {wake[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, static_cast<int>(SharedDbs::kRetry.count()));
    if (ready > 0 && fds[1].revents) TakeSignals(wake[0]);
    if (ready > 0 && (fds[0].revents & POLLIN)) AnswerDatagram(server, s.udp, s.port);
    FlushLogSummaries();
  }
  g_wakeWrite = -1;
  ::close(wake[0]);
  ::close(wake[1]);
  FlushLogSummaries(true);
  Log("stopped after %llu requests", static_cast<unsigned long long>(server.requests.load()));
  return 0;
}

}  // namespace zdbd
