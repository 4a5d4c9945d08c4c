#include "cluster.h"

#include "log.h"
#include "state.h"

#ifdef ZDBD_POSTGRES
#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#endif

namespace zdbd {

#ifdef ZDBD_POSTGRES
namespace {

// The cluster's tables live in a schema of their own: a ZDB database name (at most 8
// characters) can never be `zdbd_cluster`, and the role that runs scripts is granted nothing
// here. One advisory key serialises the first creation by instances starting together.
constexpr const char* kSchemaSql = R"(
SET LOCAL client_min_messages = warning;
SELECT pg_advisory_xact_lock(2036689252);
CREATE SCHEMA IF NOT EXISTS zdbd_cluster;
CREATE TABLE IF NOT EXISTS zdbd_cluster.instances(
  id bigserial PRIMARY KEY,
  name text NOT NULL,
  started timestamptz NOT NULL DEFAULT clock_timestamp(),
  lease_until timestamptz NOT NULL);
CREATE TABLE IF NOT EXISTS zdbd_cluster.sessions(
  handle bigint PRIMARY KEY,
  instance bigint NOT NULL REFERENCES zdbd_cluster.instances ON DELETE CASCADE);
CREATE INDEX IF NOT EXISTS sessions_instance ON zdbd_cluster.sessions(instance);
CREATE TABLE IF NOT EXISTS zdbd_cluster.locks(
  key text PRIMARY KEY,
  handle bigint NOT NULL REFERENCES zdbd_cluster.sessions ON DELETE CASCADE,
  username text NOT NULL);
CREATE INDEX IF NOT EXISTS locks_handle ON zdbd_cluster.locks(handle);
)";

struct Statement {
  const char* name;
  const char* sql;
};

// Every statement the cluster sends, prepared once on each connection.
const Statement kStatements[] = {
    {"join",
     "INSERT INTO zdbd_cluster.instances(name, lease_until) "
     "VALUES ($1, clock_timestamp() + make_interval(secs => $2)) RETURNING id"},
    {"renew",
     "UPDATE zdbd_cluster.instances SET lease_until = clock_timestamp() + make_interval(secs => "
     "$2) WHERE id = $1"},
    {"leave", "DELETE FROM zdbd_cluster.instances WHERE id = $1"},
    {"reap",
     "DELETE FROM zdbd_cluster.instances WHERE lease_until < clock_timestamp() "
     "AND ($1 = 0 OR id = $1) RETURNING id, name"},
    {"claim",
     "INSERT INTO zdbd_cluster.sessions(handle, instance) VALUES ($1, $2) "
     "ON CONFLICT DO NOTHING"},
    // One row: the holder after the attempt, and whether its instance's lease has run out.
    {"acquire",
     "WITH mine AS (INSERT INTO zdbd_cluster.locks(key, handle, username) VALUES ($1, $2, $3) "
     "ON CONFLICT (key) DO NOTHING RETURNING handle) "
     "SELECT handle, $3::text, 0::bigint, false FROM mine UNION ALL "
     "SELECT l.handle, l.username, s.instance, i.lease_until < clock_timestamp() "
     "FROM zdbd_cluster.locks l JOIN zdbd_cluster.sessions s USING (handle) "
     "JOIN zdbd_cluster.instances i ON i.id = s.instance WHERE l.key = $1"},
    {"release", "DELETE FROM zdbd_cluster.locks WHERE key = $1 AND handle = $2"},
    {"release_prefix", "DELETE FROM zdbd_cluster.locks WHERE handle = $2 AND starts_with(key, $1)"},
    {"release_all", "DELETE FROM zdbd_cluster.sessions WHERE handle = $1"},
    {"holder", "SELECT handle, username FROM zdbd_cluster.locks WHERE key = $1"},
    // A session whose claim is gone (its instance was taken for dead) holds nothing any more
    // and must not change what others may have locked since: the row '' says so.
    {"held_by_other",
     "SELECT key FROM zdbd_cluster.locks WHERE key IN ($1, $2, $3) AND handle <> $4 "
     "UNION ALL SELECT '' WHERE NOT EXISTS "
     "(SELECT 1 FROM zdbd_cluster.sessions WHERE handle = $4)"},
    {"count", "SELECT count(*) FROM zdbd_cluster.locks"},
};

}  // namespace

struct Cluster::Result {
  std::shared_ptr<PGresult> res;
  bool Ok() const { return res != nullptr; }
  int Rows() const { return res ? PQntuples(res.get()) : 0; }
  std::string Text(int row, int col) const { return PQgetvalue(res.get(), row, col); }
  int64_t Int(int row, int col) const {
    return std::strtoll(PQgetvalue(res.get(), row, col), nullptr, 10);
  }
  long Affected() const { return res ? std::strtol(PQcmdTuples(res.get()), nullptr, 10) : 0; }
};

// One connection with the statements prepared; reconnects when it finds itself broken.
class Cluster::Conn {
 public:
  // `prepare` false: a connection for the schema script, made before the tables exist.
  explicit Conn(std::string uri, bool prepare = true) : uri_(std::move(uri)), prepare_(prepare) {}
  ~Conn() { Drop(); }
  void Drop() {
    if (pg_) PQfinish(pg_);
    pg_ = nullptr;
  }
  bool Broken() const { return !pg_ || PQstatus(pg_) != CONNECTION_OK; }
  std::string Error() const { return pg_ ? Trim(PQerrorMessage(pg_)) : "not connected"; }

  bool Connect(std::string* error) {
    Drop();
    const char* keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
    const char* values[] = {uri_.c_str(), "5", "zdbd-cluster", nullptr};
    pg_ = PQconnectdbParams(keys, values, 1);
    if (Broken()) {
      *error = Error();
      return false;
    }
    for (const auto& s : kStatements) {
      if (!prepare_) break;
      PGresult* r = PQprepare(pg_, s.name, s.sql, 0, nullptr);
      bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
      if (!ok) {
        *error = Error();
        return false;
      }
    }
    return true;
  }

  // The statement's result, or null with the reason in *error.
  std::shared_ptr<PGresult> Exec(const char* name, const std::vector<std::string>& params,
                                 std::string* error) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    PGresult* r = PQexecPrepared(pg_, name, static_cast<int>(values.size()), values.data(), nullptr,
                                 nullptr, 0);
    auto status = PQresultStatus(r);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
      return std::shared_ptr<PGresult>(r, PQclear);
    *error = r ? Trim(PQresultErrorMessage(r)) : Error();
    PQclear(r);
    return nullptr;
  }

  bool Script(const char* sql, std::string* error) {
    PGresult* r = PQexec(pg_, sql);
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) *error = Trim(PQresultErrorMessage(r));
    PQclear(r);
    return ok;
  }

 private:
  static std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
  }
  std::string uri_;
  bool prepare_;
  PGconn* pg_ = nullptr;
};

Cluster::Cluster() = default;

Cluster::~Cluster() {
  Leave();
}

std::chrono::milliseconds Cluster::RefreshPeriod() const {
  return std::max(std::chrono::milliseconds(200),
                  std::chrono::milliseconds(settings_.leaseSeconds * 1000 / 4));
}

bool Cluster::Register(Conn& conn, std::string* error) {
  auto r = RunOn(conn, "join", {settings_.name, std::to_string(settings_.leaseSeconds)});
  if (!r.Ok() || r.Rows() != 1) {
    *error = conn.Error();
    return false;
  }
  instance_ = r.Int(0, 0);
  return true;
}

bool Cluster::Join(const ClusterSettings& settings, std::string* error) {
  settings_ = settings;
  {
    // The statements are prepared against the tables: they are made first.
    Conn setup(settings_.uri, false);
    if (!setup.Connect(error) ||
        !setup.Script((std::string("BEGIN;") + kSchemaSql + "COMMIT;").c_str(), error))
      return false;
  }
  leaseConn_ = std::make_unique<Conn>(settings_.uri);
  if (!leaseConn_->Connect(error)) return false;
  for (int i = 0; i < std::max(1, settings_.connections); ++i) {
    auto c = std::make_unique<Conn>(settings_.uri);
    if (!c->Connect(error)) return false;
    idle_.push_back(std::move(c));
  }
  if (!Register(*leaseConn_, error)) return false;
  NoteCutOff();  // a new instance may have come up with a restarted PostgreSQL
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_ = false;
  }
  renewer_ = std::thread(&Cluster::RenewLoop, this);
  Log("instance %lld of the zdbd instances on this PostgreSQL database; lease %d s, renewed "
      "every %lld ms",
      static_cast<long long>(instance_.load()), settings_.leaseSeconds,
      static_cast<long long>(RefreshPeriod().count()));
  return true;
}

void Cluster::OnLeaseLost(std::function<void()> f) {
  onLeaseLost_ = std::move(f);
}

bool Cluster::StopRenewing() {
  if (!renewer_.joinable()) return false;
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_ = true;
  }
  stopCv_.notify_all();
  renewer_.join();
  return true;
}

void Cluster::Leave() {
  if (!StopRenewing()) return;
  RunOn(*leaseConn_, "leave", {std::to_string(instance_.load())});
}

void Cluster::Abandon() {
  StopRenewing();
  std::lock_guard<std::mutex> lock(poolMutex_);
  for (auto& c : idle_) c->Drop();
  if (leaseConn_) leaseConn_->Drop();
}

void Cluster::RenewLoop() {
  bool reported = false;
  std::unique_lock<std::mutex> lock(stopMutex_);
  while (!stopCv_.wait_for(lock, RefreshPeriod(), [this] { return stop_; })) {
    lock.unlock();
    auto r = RunOn(*leaseConn_, "renew",
                   {std::to_string(instance_.load()), std::to_string(settings_.leaseSeconds)});
    if (!r.Ok()) {
      if (!reported)
        LogAt(LogLevel::kWarning, "cannot renew the lease of instance %lld: %s",
              static_cast<long long>(instance_.load()), leaseConn_->Error().c_str());
      reported = true;
    } else {
      if (reported) Log("lease of instance %lld renewed again", static_cast<long long>(instance_));
      reported = false;
      if (r.Affected() == 0) {
        LogAt(LogLevel::kWarning,
              "instance %lld was taken for dead while it could not renew its lease: its sessions "
              "end and it joins again",
              static_cast<long long>(instance_.load()));
        if (onLeaseLost_) onLeaseLost_();
        std::string error;
        if (!Register(*leaseConn_, &error))
          LogAt(LogLevel::kWarning, "cannot join again: %s", error.c_str());
      }
      Reap(*leaseConn_, 0);
    }
    lock.lock();
  }
}

void Cluster::NoteCutOff() {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(settings_.leaseSeconds);
  reapAfter_ = until.time_since_epoch().count();
}

int Cluster::Reap(Conn& conn, int64_t only) {
  // After a cut (a restart of PostgreSQL cuts every instance at once) the others get one whole
  // lease to renew before this one takes any of them for dead.
  if (std::chrono::steady_clock::now().time_since_epoch().count() < reapAfter_.load()) return 0;
  auto r = RunOn(conn, "reap", {std::to_string(only)});
  for (int i = 0; i < r.Rows(); ++i)
    LogAt(LogLevel::kWarning, "instance %s (%s) let its lease run out: its locks are released",
          r.Text(i, 0).c_str(), r.Text(i, 1).c_str());
  return r.Rows();
}

Cluster::Result Cluster::RunOn(Conn& conn, const char* statement,
                               const std::vector<std::string>& params) {
  std::string error;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (conn.Broken()) {
      NoteCutOff();
      if (!conn.Connect(&error)) return {};
    }
    roundTrips_.fetch_add(1, std::memory_order_relaxed);
    if (auto r = conn.Exec(statement, params, &error)) return {r};
    // A statement refused on a sound connection is an answer; only a lost one is retried.
    if (!conn.Broken()) break;
  }
  return {};
}

// A pooled connection, given back when the borrower is done with it.
class Cluster::Borrowed {
 public:
  explicit Borrowed(Cluster& c) : c_(c) {
    std::unique_lock<std::mutex> lock(c_.poolMutex_);
    c_.poolFree_.wait(lock, [this] { return !c_.idle_.empty(); });
    conn_ = std::move(c_.idle_.back());
    c_.idle_.pop_back();
  }
  ~Borrowed() {
    {
      std::lock_guard<std::mutex> lock(c_.poolMutex_);
      c_.idle_.push_back(std::move(conn_));
    }
    c_.poolFree_.notify_one();
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  Conn& operator*() { return *conn_; }

 private:
  Cluster& c_;
  std::unique_ptr<Conn> conn_;
};

Cluster::Result Cluster::Run(const char* statement, const std::vector<std::string>& params) {
  Borrowed conn(*this);
  return RunOn(*conn, statement, params);
}

Claim Cluster::ClaimHandle(uint32_t handle) {
  auto r = Run("claim", {std::to_string(handle), std::to_string(instance_.load())});
  if (!r.Ok()) return Claim::kFailed;
  return r.Affected() == 1 ? Claim::kClaimed : Claim::kTaken;
}

Grant Cluster::Acquire(const std::string& key, const LockHolder& who, LockHolder* other) {
  // A holder whose instance is past its lease is reaped at once, and the lock tried again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto r = Run("acquire", {key, std::to_string(who.handle), who.user});
    if (!r.Ok()) return Grant::kFailed;
    if (r.Rows() == 0) continue;  // the holder let go between the insert and the look
    if (static_cast<uint32_t>(r.Int(0, 0)) == who.handle) return Grant::kHeld;
    if (r.Text(0, 3) == "t" && attempt == 0) {
      Borrowed conn(*this);
      if (Reap(*conn, r.Int(0, 2)) > 0) continue;
    }
    if (other) *other = {static_cast<uint32_t>(r.Int(0, 0)), r.Text(0, 1)};
    return Grant::kRefused;
  }
  return Grant::kFailed;
}

bool Cluster::Release(const std::string& key, uint32_t handle) {
  return Run("release", {key, std::to_string(handle)}).Affected() == 1;
}

void Cluster::ReleaseMatching(const std::string& prefix, uint32_t handle) {
  Run("release_prefix", {prefix, std::to_string(handle)});
}

void Cluster::ReleaseAll(uint32_t handle) {
  Run("release_all", {std::to_string(handle)});
}

bool Cluster::Holder(const std::string& key, LockHolder* who) {
  auto r = Run("holder", {key});
  if (r.Rows() != 1) return false;
  *who = {static_cast<uint32_t>(r.Int(0, 0)), r.Text(0, 1)};
  return true;
}

int Cluster::FirstHeldByOther(const std::vector<std::string>& keys, uint32_t handle) {
  std::vector<std::string> params(3);  // no key is empty: an empty one matches nothing
  std::copy_n(keys.begin(), std::min<size_t>(3, keys.size()), params.begin());
  params.push_back(std::to_string(handle));
  auto r = Run("held_by_other", params);
  if (!r.Ok()) return -2;
  int first = -1;
  for (int i = 0; i < r.Rows(); ++i) {
    if (r.Text(i, 0).empty()) return -2;
    auto at = std::find(keys.begin(), keys.end(), r.Text(i, 0)) - keys.begin();
    if (first < 0 || at < first) first = static_cast<int>(at);
  }
  return first;
}

size_t Cluster::Count() {
  auto r = Run("count", {});
  return r.Rows() == 1 ? static_cast<size_t>(r.Int(0, 0)) : 0;
}

#endif  // ZDBD_POSTGRES

std::shared_ptr<Cluster> JoinCluster(Server& server, std::string* error) {
#ifdef ZDBD_POSTGRES
  auto cluster = std::make_shared<Cluster>();
  const Options& o = server.options;
  if (!cluster->Join({o.storage, o.name, o.leaseSeconds, 4}, error)) return nullptr;
  server.locks.UseStore(cluster);
  server.sessions.ClaimWith([c = cluster.get()](uint32_t h) { return c->ClaimHandle(h); });
  cluster->OnLeaseLost([&server] {
    for (auto& s : server.sessions.TakeAll()) server.EndSession(s, "lease lost");
  });
  return cluster;
#else
  (void)server;
  *error = "this zdbd was built without PostgreSQL's client library";
  return nullptr;
#endif
}

}  // namespace zdbd
