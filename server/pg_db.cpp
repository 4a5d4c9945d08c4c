#include "pg_db.h"

#include "pg_sql.h"
#include "storage.h"

#ifdef ZDBD_POSTGRES

#include <libpq-fe.h>
#ifdef __linux__
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "metrics.h"
#include "spin.h"
#include "sqlite_db.h"

namespace zdbd {

namespace {

// SQLite's primary result codes, which the handlers judge failures by.
constexpr int kSqliteError = 1, kSqliteBusy = 5, kSqliteFull = 13, kSqliteConstraint = 19,
              kSqliteMismatch = 20;

PGconn* C(void* p) {
  return static_cast<PGconn*>(p);
}
PGresult* R(void* p) {
  return static_cast<PGresult*>(p);
}

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

bool Good(PGresult* r) {
  auto st = PQresultStatus(r);
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY;
}

int CodeOf(const char* state) {
  if (!state) return kSqliteError;
  std::string s = state;
  // A character the connection's code page has no byte for, or a byte it leaves undefined: the
  // value cannot be carried, which is not a rule of the data refusing it.
  if (s == "22P05" || s == "22021") return kSqliteMismatch;
  // Integrity (23) and data (22) violations are what SQLite reports as constraint failures.
  if (s.rfind("23", 0) == 0 || s.rfind("22", 0) == 0) return kSqliteConstraint;
  if (s == "53100") return kSqliteFull;
  if (s == "42501") return kAuthCode;
  if (s == "40001" || s == "40P01" || s == "55P03") return kSqliteBusy;
  return kSqliteError;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string FirstWord(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = b;
  while (e < s.size() && (std::isalnum(static_cast<unsigned char>(s[e])) || s[e] == '_')) ++e;
  return Upper(s.substr(b, e - b));
}

std::string Unhex(const char* t, size_t n) {
  std::string out;
  if (n < 2 || t[0] != '\\' || t[1] != 'x') return std::string(t, n);
  auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 2; i + 1 < n; i += 2) out += static_cast<char>(nib(t[i]) * 16 + nib(t[i + 1]));
  return out;
}

Value CellOf(PGresult* r, int row, int col) {
  if (PQgetisnull(r, row, col)) return Value::Null();
  const char* t = PQgetvalue(r, row, col);
  size_t n = static_cast<size_t>(PQgetlength(r, row, col));
  switch (PQftype(r, col)) {
    case 16:  // bool
      return Value::Int(t[0] == 't' ? 1 : 0);
    case 20:
    case 21:
    case 23:
      return Value::Int(std::strtoll(t, nullptr, 10));
    case 1700:  // numeric: I fields (whole numbers) and sums over them
      if (!std::strpbrk(t, ".eENI")) return Value::Int(std::strtoll(t, nullptr, 10));
      return Value::Real(std::strtod(t, nullptr));
    case 700:
    case 701:
      return Value::Real(std::strtod(t, nullptr));
    case 17:
      return Value::Blob(Unhex(t, n));
    default:
      return Value::Text(std::string(t, n));
  }
}

PGconn* Open(std::string* error) {
  const char* keys[] = {"dbname", "client_encoding", nullptr};
  const char* values[] = {Storage::Uri().c_str(), Storage::TextEncoding().c_str(), nullptr};
  PGconn* c = PQconnectdbParams(keys, values, 1);
  if (PQstatus(c) != CONNECTION_OK) {
    *error = PQerrorMessage(c);
    while (!error->empty() && error->back() == '\n') error->pop_back();
    PQfinish(c);
    return nullptr;
  }
  return c;
}

// ZDBD_PG_TRACE=FILE appends the engine's failures there, for finding what a test tripped on.
void Trace(const std::string& line) {
  static const char* const file = std::getenv("ZDBD_PG_TRACE");
  if (!file) return;
  if (std::FILE* f = std::fopen(file, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// A SELECT that locks no rows and calls no sequence: run outside a transaction, it changes
// nothing and holds nothing.
bool ReadsOnly(const std::string& text) {
  if (FirstWord(text) != "SELECT") return false;
  const std::string upper = Upper(text);
  for (const char* word :
       {" FOR UPDATE", " FOR SHARE", " FOR NO KEY", " FOR KEY", "NEXTVAL(", "SETVAL("})
    if (upper.find(word) != std::string::npos) return false;
  return true;
}

std::string Quote(const std::string& name) {
  return QuoteIdent(name);
}

// What every connection sets first. A row another transaction holds is waited for as briefly as
// SQLite waits for its write lock: the request answers "locked" rather than hanging.
std::string Setup(const std::string& schema, bool create) {
  std::string setup =
      "SET client_min_messages TO warning; SET DateStyle TO ISO; SET lock_timeout TO 200;";
  if (!Db::Durable()) setup += " SET synchronous_commit TO off;";
  // The record path checks the rules itself; the tables' triggers check everyone else's writes.
  setup += " SET zdb.engine TO on;";
  if (create) setup += " CREATE SCHEMA IF NOT EXISTS " + Quote(schema) + ";";
  return setup + " SET search_path TO " + Quote(schema) + ";";
}

// The connections running scripts now: a stop that has waited long enough cancels them, as
// SQLite's progress handler interrupts its own.
std::mutex g_runningMutex;
std::set<PGconn*> g_running;
bool g_interrupted = false;

struct Running {
  PGconn* c;
  explicit Running(PGconn* conn) : c(conn) {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    g_running.insert(c);
  }
  ~Running() {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    g_running.erase(c);
  }
};

// What a request trusts of the catalog, and whether its first statement has checked it.
struct RequestCheck {
  bool armed = false, sent = false, stale = false, soleWrite = false;
  int64_t expected = 0;
  // Lock keys (up to three, unused ones empty) the next write carries, for session `handle`.
  bool locks = false, locksRefused = false;
  std::string keys[3], handle;
};
thread_local RequestCheck t_check;

std::atomic<int64_t> g_definitions{0};

// The last failure PostgreSQL reported to this thread, for the log line of a failed request.
thread_local std::string t_lastError;

// Whether users exist and the count of definition changes, as one number: twice the count,
// plus one when users exist (Users keeps the same number). OFFSET 0 keeps PostgreSQL from
// pulling it up into the statements below, which name g twice and would read it twice. Without
// its row the number is -1, which no zdbd trusts: the comparison fails, never passes silently.
const char* const kCatalogNowSql =
    "SELECT coalesce((SELECT 2 * gen + CASE WHEN users > 0 THEN 1 ELSE 0 END FROM"
    " zdb_system.zdb_catalog), -1) AS g OFFSET 0";
// The same compared with what the request trusts: a difference fails the statement, so that
// the statements pipelined after it are skipped and its implicit transaction rolls back.
const std::string kCheckSql = std::string("SELECT CASE WHEN g = ? THEN 0 ELSE CAST('zdb_stale:'") +
                              " || g AS integer) END FROM (" + kCatalogNowSql + ") AS now";

// Fails when another session holds one of the keys, or when the session itself is no longer
// known (its instance was taken for dead), as Cluster's look at the locks answers.
const char* const kLocksSql =
    "SELECT CASE WHEN n = 0 THEN 0 ELSE CAST('zdb_locked:' || n AS integer) END FROM (SELECT"
    " CASE WHEN EXISTS(SELECT 1 FROM zdbd_cluster.locks WHERE key IN (?1, ?2, ?3) AND"
    " handle <> ?4) THEN 1 ELSE 0 END +"
    " CASE WHEN EXISTS(SELECT 1 FROM zdbd_cluster.sessions WHERE handle = ?4) THEN 0 ELSE 1 END"
    " AS n) AS held";

// Both at once, for a write of a request that has not checked the catalog yet: one statement
// less to run.
const std::string kCheckLocksSql =
    std::string("SELECT CASE WHEN g <> ?1 THEN CAST('zdb_stale:' || g AS integer) WHEN n <> 0") +
    " THEN CAST('zdb_locked:' || n AS integer) ELSE 0 END FROM (" + kCatalogNowSql +
    ") AS now, (SELECT CASE WHEN EXISTS(SELECT 1 FROM zdbd_cluster.locks WHERE key IN (?2, ?3,"
    " ?4) AND handle <> ?5) THEN 1 ELSE 0 END + CASE WHEN EXISTS(SELECT 1 FROM "
    "zdbd_cluster.sessions WHERE handle = ?5)"
    " THEN 0 ELSE 1 END AS n) AS held";

// Lets the reply PostgreSQL is about to send arrive while this thread still runs: the backend
// answers most statements in less time than waking a sleeping thread takes.
void AwaitReply(PGconn* c) {
  spin::Until([c] { return !PQconsumeInput(c) || !PQisBusy(c); });
}

// PQexecPrepared, with the wait for the reply above.
PGresult* ExecPrepared(PGconn* c, const char* name, int n, const char* const* values,
                       const int* lengths, const int* formats) {
  if (!spin::Allowed() || !PQsendQueryPrepared(c, name, n, values, lengths, formats, 0))
    return PQexecPrepared(c, name, n, values, lengths, formats, 0);
  AwaitReply(c);
  PGresult* last = nullptr;
  while (PGresult* r = PQgetResult(c)) {
    PQclear(last);
    last = r;
  }
  return last;
}

// The result of the next statement of a pipeline (null when none came): the first one it sent,
// the rest cleared.
PGresult* NextResult(PGconn* c) {
  PGresult* first = nullptr;
  while (PGresult* r = PQgetResult(c)) {
    if (first)
      PQclear(r);
    else
      first = r;
  }
  return first;
}

bool StaleResult(PGresult* r) {
  const char* msg = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  return msg && std::strstr(msg, "zdb_stale:") != nullptr;
}

}  // namespace

// Reads of different sessions that reach one database at the same moment go to PostgreSQL
// together, down one connection, as one pipeline: the backend then takes them in with one
// receive and one wake-up, and answers them in one transaction, where separate statements cost
// each of those apiece. A busy zdbd spends about a third less of PostgreSQL's processor time on
// a read that way. Only reads outside any transaction go: each still takes a snapshot of its
// own (READ COMMITTED), and every read in a batch was sent by its client after the replies to
// everything it had written, so it sees what it saw before. A read that the batch cannot answer
// for itself (a statement before it failed, the connection was lost) is answered null and runs
// on the session's own connection, exactly as it would have without the batch.
class PgBatches {
 public:
  enum { kWaiting, kDone, kLead };
  struct Read {
    const std::string* text = nullptr;  // as PostgreSQL is to prepare it
    int params = 0;
    const char* const* values = nullptr;
    const int* lengths = nullptr;
    const int* formats = nullptr;
    PGresult* result = nullptr;
    std::atomic<int> state{kWaiting};
    std::vector<Read*> handed;  // the reads it is to lead (under the group's mutex)
  };

  // The result of `read`, or null when it must run on the caller's connection.
  static PGresult* Run(const std::string& schema, Read& read) {
    Group& g = GroupOf(schema);
    std::vector<Read*> batch;
    {
      std::lock_guard<std::mutex> lock(g.mutex);
      g.queue.push_back(&read);
      if (g.busy < Lanes()) {
        ++g.busy;
        batch.swap(g.queue);
      }
    }
    if (!batch.empty()) Lead(schema, g, batch);
    while (Park(read.state) == kLead) {
      batch.clear();
      {
        std::lock_guard<std::mutex> lock(g.mutex);
        batch.swap(read.handed);
      }
      read.state.store(kWaiting);
      Lead(schema, g, batch);
    }
    return read.result;
  }

  // Closes the lanes of a database being closed; those on their way close when they come back.
  static void Forget(const std::string& schema) {
    Group& g = GroupOf(schema);
    std::lock_guard<std::mutex> lock(g.mutex);
    g.idle.clear();
    ++g.epoch;
  }

 private:
  struct Lane {
    std::unique_ptr<PgConn> conn;
    std::unordered_map<std::string, std::string> prepared;  // text -> name
    uint64_t epoch = 0;                                     // the group's when the lane was made
    int64_t definitions = 0;  // PgConn::NoteDefinitions's, for prepared
  };
  struct Group {
    std::mutex mutex;
    std::vector<Read*> queue;
    std::vector<std::unique_ptr<Lane>> idle;
    int busy = 0;        // lanes on their way
    uint64_t epoch = 0;  // moves when the database is closed
  };

  // Batches on their way at once per database: half the cores, so that PostgreSQL's backends
  // never take every core from the zdbd threads and clients that feed them.
  static int Lanes() {
    static const int lanes = std::max(1, spin::Cores() / 2);
    return lanes;
  }

  // Sends `batch` on a lane, wakes each thread whose read it answered, and hands the lane with
  // everything queued meanwhile to the first of those reads, woken to lead them, or gives it back.
  static void Lead(const std::string& schema, Group& g, std::vector<Read*>& batch) {
    std::unique_ptr<Lane> lane;
    {
      std::lock_guard<std::mutex> lock(g.mutex);
      if (!g.idle.empty()) {
        lane = std::move(g.idle.back());
        g.idle.pop_back();
      } else {
        lane = std::make_unique<Lane>();
        lane->epoch = g.epoch;
      }
    }
    Send(schema, *lane, batch);
    Read* next = nullptr;
    {
      std::lock_guard<std::mutex> lock(g.mutex);
      if (lane->conn && lane->epoch == g.epoch) g.idle.push_back(std::move(lane));
      if (g.queue.empty()) {
        --g.busy;
      } else {
        next = g.queue.front();
        next->handed.swap(g.queue);
      }
    }
    for (Read* r : batch) Unpark(r->state, kDone);
    if (next) Unpark(next->state, kLead);
  }

  // Waits until `state` leaves kWaiting and answers what it became. A thread of its own per
  // read, woken alone: no condition variable shared by the group, no lock taken to wake.
  static int Park(std::atomic<int>& state) {
    for (;;) {
      const int now = state.load(std::memory_order_acquire);
      if (now != kWaiting) return now;
#ifdef __linux__
      ::syscall(SYS_futex, &state, FUTEX_WAIT_PRIVATE, kWaiting, nullptr, nullptr, 0);
#else
      state.wait(kWaiting, std::memory_order_acquire);
#endif
    }
  }
  // The waiter may return as soon as it sees the store, before the wake below: waking an
  // address no longer waited on is harmless, since every wait looks at its word again.
  static void Unpark(std::atomic<int>& state, int to) {
    state.store(to, std::memory_order_release);
#ifdef __linux__
    ::syscall(SYS_futex, &state, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#else
    state.notify_one();
#endif
  }

  static Group& GroupOf(const std::string& schema) {
    // Groups live as long as the process: a thread keeps the one it used last, so that its
    // reads of one database take no process-wide lock.
    thread_local std::string lastSchema;
    thread_local Group* last = nullptr;
    if (last && lastSchema == schema) return *last;
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Group>> groups;
    std::lock_guard<std::mutex> lock(mutex);
    auto& g = groups[schema];
    if (!g) g = std::make_unique<Group>();
    lastSchema = schema;
    last = g.get();
    return *g;
  }

  static void Send(const std::string& schema, Lane& lane, std::vector<Read*>& batch) {
    if (!lane.conn) {
      std::string error;
      lane.conn = PgConn::Connect(schema, false, &error);
      lane.prepared.clear();
      if (!lane.conn) return;
    }
    PGconn* c = C(lane.conn->conn_);
    // As on every connection: statements planned before a definition change are made again.
    const int64_t definitions = g_definitions.load(std::memory_order_relaxed);
    if (definitions != lane.definitions) {
      lane.definitions = definitions;
      if (!lane.prepared.empty()) {
        Result gone(PQexec(c, "DEALLOCATE ALL"));
        lane.prepared.clear();
      }
    }
    std::vector<Read*> sent;
    std::vector<const std::string*> names;
    for (Read* r : batch) {
      auto it = lane.prepared.find(*r->text);
      if (it == lane.prepared.end()) {
        std::string name = "b" + std::to_string(lane.prepared.size() + 1);
        Result made(PQprepare(c, name.c_str(), r->text->c_str(), 0, nullptr));
        if (!Good(made.get())) continue;
        it = lane.prepared.emplace(*r->text, name).first;
      }
      sent.push_back(r);
      names.push_back(&it->second);
    }
    if (!sent.empty() && PQenterPipelineMode(c)) {
      for (size_t i = 0; i < sent.size(); ++i)
        PQsendQueryPrepared(c, names[i]->c_str(), sent[i]->params, sent[i]->values,
                            sent[i]->lengths, sent[i]->formats, 0);
      PQpipelineSync(c);
      AwaitReply(c);
      for (Read* r : sent) {
        PGresult* first = NextResult(c);
        // Skipped after an earlier read failed: run again on its own.
        if (first && PQresultStatus(first) == PGRES_PIPELINE_ABORTED) {
          PQclear(first);
          first = nullptr;
        }
        r->result = first;
      }
      PQclear(PQgetResult(c));  // the sync
      PQexitPipelineMode(c);
      if (sent.size() > 1) TheMetrics().Add(TheMetrics().storageReadsBatched, sent.size());
    }
    if (PQstatus(c) != CONNECTION_OK || PQpipelineStatus(c) != PQ_PIPELINE_OFF) {
      // Lost on the way: what it answered may be the loss itself, which the sessions' own
      // connections meet and report as they always have.
      for (Read* r : batch) {
        PQclear(r->result);
        r->result = nullptr;
      }
      lane.conn.reset();
    }
  }
};

void PgConn::ArmCheck(int64_t expected) {
  t_check.armed = true;
  t_check.sent = t_check.stale = false;
  t_check.expected = expected;
}

bool PgConn::CheckArmed() {
  return t_check.armed && !t_check.sent && !t_check.stale;
}

bool PgConn::Stale() {
  return t_check.armed && (t_check.stale || t_check.locksRefused);
}

int64_t PgConn::Expected() {
  return t_check.expected;
}

void PgConn::EndCheck() {
  t_check = RequestCheck{};
}

bool PgConn::DeferLocks(const std::vector<std::string>& keys, uint32_t handle) {
  if (!t_check.armed || t_check.stale || keys.size() > 3) return false;
  if (t_check.locks) return false;  // one look at a time: a second one is made on its own
  t_check.locks = true;
  for (size_t i = 0; i < 3; ++i) t_check.keys[i] = i < keys.size() ? keys[i] : "";
  t_check.handle = std::to_string(handle);
  return true;
}

bool PgConn::LocksPending(std::vector<std::string>* keys, uint32_t* handle) {
  if (!t_check.locks) return false;
  keys->clear();
  for (const auto& k : t_check.keys)
    if (!k.empty()) keys->push_back(k);
  *handle = static_cast<uint32_t>(std::strtoul(t_check.handle.c_str(), nullptr, 10));
  return true;
}

bool PgConn::LocksRefused() {
  return t_check.locksRefused;
}

void PgConn::SoleWrite(bool on) {
  t_check.soleWrite = on;
}

void PgConn::BeginRequest() {
  autocommitted_ = false;
  if (ServerTransaction()) return;  // left open by a failure: the request's COMMIT ends it
  pendingBegin_ = true;
  requestTx_ = true;
}

bool PgConn::EndRequest() {
  pendingBegin_ = autocommitted_ = requestTx_ = false;
  return !ServerTransaction() || Simple("COMMIT");
}

std::string PgConn::CheckStatement() {
  int params = 0;
  bool insert = false, skip = false, reads = false;
  return Prepared(kCheckSql, &params, &insert, &skip, &reads);
}

std::string PgConn::CheckedRead(const std::string& sql) {
  auto it = prepared_.find(sql);
  if (it == prepared_.end() || !it->second.reads) return "";
  Prep& p = it->second;
  if (!p.checked.empty()) return p.checked;
  // The comparison has no column of the read in it, so PostgreSQL makes it a one-time filter
  // that runs before the read's first row is fetched: a moved catalog fails the statement even
  // when the read would have found no row.
  const std::string text =
      "SELECT * FROM (" + p.text + ") AS zdb_read WHERE (SELECT CASE WHEN g = $" +
      std::to_string(p.params + 1) + " THEN 0 ELSE CAST('zdb_stale:' || g AS integer) END FROM (" +
      kCatalogNowSql + ") AS now) = 0";
  const std::string name = p.name + "c";
  const bool guard = InTransaction();
  if (guard) Simple("SAVEPOINT zdb_prep");
  ++roundTrips_;
  Result r(PQprepare(C(conn_), name.c_str(), text.c_str(), 0, nullptr));
  if (!Good(r.get())) {
    Trace("  in: " + text + ": " + PQresultErrorMessage(r.get()));
    if (guard) Simple("ROLLBACK TO zdb_prep; RELEASE zdb_prep");
    return "";
  }
  if (guard) Simple("RELEASE zdb_prep");
  p.checked = name;
  p.checkedText = text;
  return name;
}

bool PgConn::CheckAlone() {
  int params = 0;
  bool insert = false, skip = false, reads = false;
  std::string name = Prepared(kCatalogNowSql, &params, &insert, &skip, &reads);
  if (name.empty()) return false;
  ++roundTrips_;
  Result r(PQexecPrepared(C(conn_), name.c_str(), 0, nullptr, nullptr, nullptr, 0));
  if (!Good(r.get()) || PQntuples(r.get()) != 1) {
    NoteError(r.get());
    return false;
  }
  t_check.sent = true;
  if (std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10) == t_check.expected) return true;
  t_check.stale = true;
  error_ = "the catalog changed while the request ran";
  code_ = kSqliteError;
  return false;
}

void PgConn::CloseBatches(const std::string& schema) {
  PgBatches::Forget(schema);
}

void PgConn::InterruptAll() {
  std::lock_guard<std::mutex> lock(g_runningMutex);
  g_interrupted = true;
  for (PGconn* c : g_running) {
    PGcancel* cancel = PQgetCancel(c);
    char why[256];
    if (cancel) PQcancel(cancel, why, sizeof why);
    PQfreeCancel(cancel);
  }
}

PgConn::~PgConn() {
  if (conn_) PQfinish(C(conn_));
}

std::unique_ptr<PgConn> PgConn::Connect(const std::string& schema, bool create,
                                        std::string* error) {
  PGconn* c = Open(error);
  if (!c) return nullptr;
  std::unique_ptr<PgConn> p(new PgConn());
  p->conn_ = c;
  p->schema_ = schema;
  std::string setup = Setup(schema, create);
  if (!p->Simple(setup)) {
    *error = p->error_;
    return nullptr;
  }
  return p;
}

bool PgConn::SchemaExists(const std::string& schema, std::string* error) {
  PGconn* c = Open(error);
  if (!c) return false;
  const char* v[1] = {schema.c_str()};
  Result r(PQexecParams(c, "SELECT 1 FROM pg_namespace WHERE nspname=$1", 1, nullptr, v, nullptr,
                        nullptr, 0));
  bool yes = Good(r.get()) && PQntuples(r.get()) == 1;
  PQfinish(c);
  return yes;
}

std::vector<std::string> PgConn::ListSchemas(const std::string& prefix) {
  std::vector<std::string> out;
  std::string error;
  PGconn* c = Open(&error);
  if (!c) return out;
  Result r(PQexec(c, "SELECT nspname FROM pg_namespace ORDER BY nspname"));
  if (Good(r.get()))
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      std::string n = PQgetvalue(r.get(), i, 0);
      if (n.rfind(prefix, 0) == 0) out.push_back(n.substr(prefix.size()));
    }
  PQfinish(c);
  return out;
}

bool PgConn::DropSchema(const std::string& schema, std::string* error) {
  PGconn* c = Open(error);
  if (!c) return false;
  Result r(PQexec(c, ("DROP SCHEMA IF EXISTS " + Quote(schema) + " CASCADE").c_str()));
  bool ok = Good(r.get());
  if (!ok) *error = PQresultErrorMessage(r.get());
  PQfinish(c);
  return ok;
}

bool PgConn::ServerTransaction() const {
  auto st = PQtransactionStatus(C(conn_));
  return st == PQTRANS_INTRANS || st == PQTRANS_INERROR || st == PQTRANS_ACTIVE;
}

bool PgConn::InTransaction() const {
  return pendingBegin_ || autocommitted_ || ServerTransaction();
}

bool PgConn::Broken() const {
  return PQstatus(C(conn_)) != CONNECTION_OK;
}

bool PgConn::Reconnect() {
  // A connection lost while no transaction was open loses nothing: the server's restart is
  // seen as one failed request, and the next one finds it again.
  PQreset(C(conn_));
  if (PQstatus(C(conn_)) != CONNECTION_OK) return false;
  prepared_.clear();
  retired_.clear();  // gone with the old session
  pendingBegin_ = autocommitted_ = false;
  std::string setup = Setup(schema_, false);
  Result r(PQexec(C(conn_), setup.c_str()));
  return Good(r.get());
}

void PgConn::NoteError(void* result) {
  PGresult* r = R(result);
  const char* msg = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  error_ = msg ? msg : PQerrorMessage(C(conn_));
  while (!error_.empty() && error_.back() == '\n') error_.pop_back();
  code_ = CodeOf(r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr);
  Trace("failed: " + error_);
  // The checks that send a request round again fail on purpose: not worth a word in the log.
  if (error_.find("zdb_stale:") == std::string::npos &&
      error_.find("zdb_locked:") == std::string::npos)
    t_lastError = error_;
}

std::string PgConn::TakeThreadError() {
  return std::exchange(t_lastError, std::string());
}

bool PgConn::Simple(const std::string& sql) {
  if (Broken() && !ServerTransaction()) Reconnect();
  ++roundTrips_;
  const std::string text = pendingBegin_ ? "BEGIN; " + sql : sql;
  pendingBegin_ = false;
  Result r(PQexec(C(conn_), text.c_str()));
  if (!Good(r.get())) {
    NoteError(r.get());
    return false;
  }
  const char* n = PQcmdTuples(r.get());
  changes_ = n && *n ? std::atoi(n) : 0;
  return true;
}

bool PgConn::ExecOne(const std::string& given) {
  PgSql t = TranslateForPostgres(given);
  if (t.skip) return true;
  std::string word = FirstWord(given);
  if (word == "SAVEPOINT" && !InTransaction()) {
    if (!Simple("BEGIN; " + t.text)) return false;
    implicitSavepoint_ = Upper(t.text.substr(t.text.find_last_of(' ') + 1));
    return true;
  }
  if (word == "RELEASE") {
    std::string name = Upper(t.text.substr(t.text.find_last_of(' ') + 1));
    if (!Simple(t.text)) return false;
    if (!implicitSavepoint_.empty() && name == implicitSavepoint_) {
      implicitSavepoint_.clear();
      return Simple("COMMIT");
    }
    return true;
  }
  if (IsControl(given)) {
    const bool to = word == "ROLLBACK" && Upper(t.text).find(" TO ") != std::string::npos;
    if (!to) implicitSavepoint_.clear();
    // The request's sole write committed itself: its end has nothing left to send.
    if (autocommitted_ && !to && word != "SAVEPOINT" && word != "RELEASE" && !pendingBegin_ &&
        !ServerTransaction()) {
      autocommitted_ = false;
      return true;
    }
    if (Upper(t.text) == "BEGIN" && !InTransaction()) requestTx_ = false;
    // A plain BEGIN goes out with the transaction's first statement, and an end before any
    // statement sends nothing: a request costs one round trip less, a read-only one two.
    if (Upper(t.text) == "BEGIN" && !InTransaction()) return pendingBegin_ = true;
    if (pendingBegin_ && !to && word != "SAVEPOINT" && word != "RELEASE") {
      pendingBegin_ = false;
      return true;
    }
    return Simple(t.text);
  }
  if (t_check.stale || t_check.locksRefused) return Refuse();
  if (CheckArmed() && !CheckAlone()) return false;
  if (word == "VACUUM" && requestTx_ && pendingBegin_ && !ServerTransaction()) {
    // It runs outside any transaction: a request's transaction that has sent nothing yet ends
    // with it, as with a sole write.
    pendingBegin_ = false;
    autocommitted_ = true;
    return Simple(t.text);
  }
  if (t_check.locks) {
    // A statement that cannot carry the look at the locks: the request is carried out again
    // with the look made on its own.
    t_check.locksRefused = true;
    return Refuse();
  }
  if (!InTransaction()) return Simple(t.text);
  if (Simple("SAVEPOINT zdb_stmt; " + t.text + "; RELEASE zdb_stmt")) return true;
  std::string error = error_;
  int code = code_;
  Simple("ROLLBACK TO zdb_stmt; RELEASE zdb_stmt");
  error_ = error;
  code_ = code;
  return false;
}

bool PgConn::Refuse() {
  error_ = "the catalog changed while the request ran";
  code_ = kSqliteError;
  return false;
}

bool PgConn::Exec(const std::string& sql) {
  for (const std::string& one : SplitStatements(sql))
    if (!ExecOne(one)) return false;
  return true;
}

// The role scripts of this database run as: it may use the schema and read and write its data
// tables, never zdbd's own tables, and it cannot become zdbd's role again, as a SET ROLE on
// zdbd's own connection could. Made (and its grants renewed) by whichever zdbd runs a script;
// its password lives in zdb_system, which only zdbd's role reads.
bool PgConn::ScriptLogin(std::string* role, std::string* password) {
  const std::string lit = "'" + schema_ + "'";
  std::string sql =
      "CREATE TABLE IF NOT EXISTS zdb_system.script_roles(schema_name text PRIMARY KEY, role "
      "text, password text);"
      "INSERT INTO zdb_system.script_roles SELECT " +
      lit + ", 'zs_' || left(md5(current_database() || '/' || " + lit +
      "), 24), md5(random()::text || clock_timestamp()::text) ON CONFLICT DO NOTHING;";
  if (!Simple(sql)) return false;
  const char* v[1] = {schema_.c_str()};
  ++roundTrips_;
  Result r(PQexecParams(C(conn_),
                        "SELECT role, password, EXISTS(SELECT 1 FROM pg_roles WHERE rolname=role)"
                        " FROM zdb_system.script_roles WHERE schema_name=$1",
                        1, nullptr, v, nullptr, nullptr, 0));
  if (!Good(r.get()) || PQntuples(r.get()) != 1) {
    NoteError(r.get());
    return false;
  }
  *role = PQgetvalue(r.get(), 0, 0);
  *password = PQgetvalue(r.get(), 0, 1);
  const std::string q = Quote(*role), s = Quote(schema_);
  std::string grants;
  if (PQgetvalue(r.get(), 0, 2)[0] != 't')
    grants += "CREATE ROLE " + q + " LOGIN NOINHERIT PASSWORD '" + *password + "';";
  grants += "GRANT USAGE ON SCHEMA " + s + " TO " + q + ";";
  grants += "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA " + s + " TO " + q + ";";
  grants += "GRANT USAGE ON ALL SEQUENCES IN SCHEMA " + s + " TO " + q + ";";
  grants += "REVOKE ALL ON ALL TABLES IN SCHEMA zdb_system FROM " + q + ";";
  Result t(PQexec(C(conn_),
                  ("SELECT 'REVOKE ALL ON ' || quote_ident(tablename) || ' FROM " + q +
                   "' FROM pg_tables WHERE schemaname=" + lit + " AND tablename LIKE 'zdb\\_%'")
                      .c_str()));
  if (Good(t.get()))
    for (int i = 0; i < PQntuples(t.get()); ++i)
      grants += std::string(PQgetvalue(t.get(), i, 0)) + ";";
  // Two zdbd making the role at once: the loser finds it made.
  if (!Simple(grants) && !Simple(grants.substr(grants.find(';') + 1))) return false;
  return true;
}

bool PgConn::RunScript(const std::string& script,
                       const std::function<bool(const std::vector<std::string>&)>& columns,
                       const std::function<bool(const std::vector<Value>&)>& row) {
  std::string role, password;
  if (!ScriptLogin(&role, &password)) return false;
  const char* keys[] = {"dbname", "user", "password", "client_encoding", nullptr};
  const char* values[] = {Storage::Uri().c_str(), role.c_str(), password.c_str(),
                          Storage::TextEncoding().c_str(), nullptr};
  PGconn* sc = PQconnectdbParams(keys, values, 1);
  struct Finish {
    PGconn* c;
    ~Finish() { PQfinish(c); }
  } finish{sc};
  if (PQstatus(sc) != CONNECTION_OK) {
    error_ = PQerrorMessage(sc);
    code_ = kSqliteError;
    return false;
  }
  Running running(sc);
  {
    std::lock_guard<std::mutex> lock(g_runningMutex);
    if (g_interrupted) {
      error_ = "interrupted: zdbd is stopping";
      code_ = kSqliteError;
      return false;
    }
  }
  // The settings of zdbd's own connections, durability included: a script's writes are kept
  // exactly as well as the record requests' are.
  Result setup(PQexec(sc, Setup(schema_, false).c_str()));
  // Rows come one at a time, so that a result of any size never sits whole in memory, and a
  // reader that stops taking them cancels the statement.
  const auto cancel = [sc] {
    PGcancel* c = PQgetCancel(sc);
    char why[256];
    if (c) PQcancel(c, why, sizeof why);
    PQfreeCancel(c);
    while (PGresult* r = PQgetResult(sc)) PQclear(r);
  };
  for (const std::string& one : SplitStatements(script)) {
    ++roundTrips_;
    if (!PQsendQuery(sc, one.c_str()) || !PQsetSingleRowMode(sc)) {
      error_ = PQerrorMessage(sc);
      code_ = kSqliteError;
      return false;
    }
    bool named = false, failed = false;
    std::vector<Value> cells;
    while (PGresult* raw = PQgetResult(sc)) {
      Result r(raw);
      auto st = PQresultStatus(raw);
      if (failed) continue;
      if (st != PGRES_SINGLE_TUPLE && !Good(raw)) {
        NoteError(raw);
        failed = true;
        continue;
      }
      if (st != PGRES_SINGLE_TUPLE && st != PGRES_TUPLES_OK) continue;
      int n = PQnfields(raw);
      if (!named) {
        named = true;
        std::vector<std::string> names;
        for (int i = 0; i < n; ++i) names.push_back(PQfname(raw, i));
        if (!columns(names)) {
          cancel();
          return true;
        }
      }
      if (st != PGRES_SINGLE_TUPLE) continue;
      cells.resize(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) cells[static_cast<size_t>(i)] = CellOf(raw, 0, i);
      if (!row(cells)) {
        cancel();
        return true;
      }
    }
    if (failed) return false;
  }
  if (PQtransactionStatus(sc) != PQTRANS_IDLE) {
    error_ = "the script left a transaction open; its changes were rolled back";
    code_ = kAuthCode;
    return false;
  }
  return true;
}

std::string PgConn::UpsertClause(const std::string& table) {
  std::string name = Lower(table);
  if (name.size() > 1 && name.front() == '"') name = name.substr(1, name.size() - 2);
  const char* v[2] = {schema_.c_str(), name.c_str()};
  ++roundTrips_;
  Result r(PQexecParams(C(conn_),
                        "SELECT a.attname, coalesce(a.attnum = ANY(i.indkey), false)"
                        " FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid"
                        " JOIN pg_namespace n ON n.oid = c.relnamespace"
                        " LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary"
                        " WHERE n.nspname=$1 AND c.relname=$2 AND a.attnum > 0"
                        " AND NOT a.attisdropped ORDER BY a.attnum",
                        2, nullptr, v, nullptr, nullptr, 0));
  if (!Good(r.get())) return "";
  std::string keys, sets;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    std::string col = Quote(PQgetvalue(r.get(), i, 0));
    if (PQgetvalue(r.get(), i, 1)[0] == 't') {
      keys += (keys.empty() ? "" : ",") + col;
    } else if (col != "\"rowid\"") {
      sets += (sets.empty() ? "" : ",") + col + "=EXCLUDED." + col;
    }
  }
  if (keys.empty()) return "";
  return " ON CONFLICT (" + keys + ") DO " + (sets.empty() ? "NOTHING" : "UPDATE SET " + sets);
}

std::string PgConn::Prepared(const std::string& sql, int* params, bool* insert, bool* skip,
                             bool* reads) {
  if (Broken() && !ServerTransaction()) Reconnect();
  Renew();
  auto it = prepared_.find(sql);
  if (it == prepared_.end()) {
    PgSql t = TranslateForPostgres(sql);
    Prep p;
    p.params = t.params;
    p.insert = t.insert;
    p.skip = t.skip;
    p.reads = ReadsOnly(t.text);
    if (!t.skip) {
      if (!t.upsertInto.empty()) {
        std::string clause = UpsertClause(t.upsertInto);
        t.text += clause + " RETURNING rowid";
        p.insert = true;
      }
      p.name = "z" + std::to_string(++named_);
      p.text = t.text;
      // A statement PostgreSQL refuses to prepare would end an open transaction with it.
      const bool guard = InTransaction();
      if (guard) Simple("SAVEPOINT zdb_prep");
      ++roundTrips_;
      Result r(PQprepare(C(conn_), p.name.c_str(), t.text.c_str(), 0, nullptr));
      if (!Good(r.get())) {
        NoteError(r.get());
        Trace("  in: " + t.text);
        std::string error = error_;
        int code = code_;
        if (guard) Simple("ROLLBACK TO zdb_prep; RELEASE zdb_prep");
        error_ = error;
        code_ = code;
        return "";
      }
      if (guard) Simple("RELEASE zdb_prep");
    }
    it = prepared_.emplace(sql, p).first;
  }
  *params = it->second.params;
  *insert = it->second.insert;
  *skip = it->second.skip;
  *reads = it->second.reads;
  return it->second.skip ? "-" : it->second.name;
}

void PgConn::NoteDefinitions(int64_t generation) {
  g_definitions.store(generation, std::memory_order_relaxed);
}

void PgConn::Renew() {
  const int64_t now = g_definitions.load(std::memory_order_relaxed);
  if (now != preparedAt_) {
    preparedAt_ = now;
    for (const auto& [sql, p] : prepared_) {
      if (!p.skip) retired_.push_back(p.name);
      if (!p.checked.empty()) retired_.push_back(p.checked);
    }
    prepared_.clear();
  }
  // A statement object still alive may run its statement again, and a failed transaction
  // refuses even a DEALLOCATE: the names wait for a moment that has neither.
  if (retired_.empty() || live_ > 0 || ServerTransaction()) return;
  std::string sql;
  for (const std::string& name : retired_) sql += "DEALLOCATE " + name + ";";
  ++roundTrips_;
  Result r(PQexec(C(conn_), sql.c_str()));
  if (!Good(r.get())) Trace("failed: " + sql + ": " + PQresultErrorMessage(r.get()));
  retired_.clear();
}

bool PgConn::IsControl(const std::string& sql) {
  std::string w = FirstWord(sql);
  return w == "BEGIN" || w == "COMMIT" || w == "END" || w == "ROLLBACK" || w == "SAVEPOINT" ||
         w == "RELEASE";
}

PgStmt::PgStmt(PgConn& conn, const std::string& sql) : conn_(conn) {
  if (PgConn::IsControl(sql)) {
    // Transaction control is not prepared: the engine keeps SQLite's meaning of each.
    control_ = sql;
    ok_ = true;
    return;
  }
  sql_ = sql;
  name_ = conn.Prepared(sql, &params_, &insert_, &skip_, &reads_);
  ++conn.live_;
  counted_ = true;
  ok_ = !name_.empty();
  failed_ = !ok_;
  binds_.resize(static_cast<size_t>(params_));
}

PgStmt::~PgStmt() {
  if (counted_) --conn_.live_;
  if (result_) PQclear(R(result_));
}

void PgStmt::Bind(int i, const Value& v) {
  if (i >= 1 && i <= params_) binds_[static_cast<size_t>(i) - 1] = v;
}

bool PgStmt::Step() {
  if (!ok_ || failed_) return false;
  if (!ran_) {
    ran_ = true;
    if (skip_) return false;
    if (!control_.empty()) {
      failed_ = !conn_.ExecOne(control_);
      return false;
    }
    std::vector<std::string> texts(binds_.size());
    texts.reserve(binds_.size() + 1);  // room for a folded check's count: pointers stay valid
    std::vector<const char*> values(binds_.size());
    std::vector<int> lengths(binds_.size()), formats(binds_.size());
    for (size_t i = 0; i < binds_.size(); ++i) {
      const Value& b = binds_[i];
      switch (b.kind) {
        case Value::kNull:
          values[i] = nullptr;
          continue;
        case Value::kInt:
          texts[i] = std::to_string(b.i);
          break;
        case Value::kReal: {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.17g", b.d);
          texts[i] = buf;
          break;
        }
        case Value::kText:
          texts[i] = b.s;
          break;
        case Value::kBlob:
          texts[i] = b.s;
          formats[i] = 1;
          break;
      }
      values[i] = texts[i].c_str();
      lengths[i] = static_cast<int>(texts[i].size());
    }
    PGconn* c = C(conn_.conn_);
    if (t_check.stale || t_check.locksRefused) {
      failed_ = !conn_.Refuse();
      return false;
    }
    const bool locks = !reads_ && t_check.locks;
    const bool both = locks && PgConn::CheckArmed();  // one statement for the two
    std::string locksName;
    if (locks) {
      int p = 0;
      bool a = false, b = false, d = false;
      locksName = conn_.Prepared(both ? kCheckLocksSql : kLocksSql, &p, &a, &b, &d);
      if (locksName.empty()) {
        failed_ = true;
        return false;
      }
    }
    // A sole write on a request's transaction that has sent nothing commits by itself (the
    // statements of a pipeline form one implicit transaction up to its sync): no BEGIN, no
    // savepoint, no COMMIT.
    const bool sole = !reads_ && t_check.soleWrite && conn_.requestTx_ && conn_.pendingBegin_ &&
                      !conn_.ServerTransaction();
    if (!reads_ && conn_.autocommitted_) {
      // A second write after the sole one: it gets a transaction of its own.
      Trace("  a write followed the request's sole write: " + name_);
      conn_.autocommitted_ = false;
      conn_.pendingBegin_ = true;
    }
    // Reads before a transaction's first change run outside it, its BEGIN still waiting: under
    // READ COMMITTED each statement sees the commits before it either way, and a request that
    // only reads then ends without a COMMIT (one round trip less) and without savepoints.
    const bool wrap = !sole && conn_.InTransaction() && !(reads_ && conn_.pendingBegin_);
    bool check = PgConn::CheckArmed() && !both;
    std::string checkName, expected, mainName = name_;
    int mainParams = params_;
    // A read carries the check in its own text: one statement to run instead of two.
    bool folded = false;
    if (check && reads_ && !locks) {
      std::string name = conn_.CheckedRead(sql_);
      if (!name.empty()) {
        expected = std::to_string(t_check.expected);
        texts.push_back(expected);
        values.push_back(texts.back().c_str());
        lengths.push_back(static_cast<int>(texts.back().size()));
        formats.push_back(0);
        mainName = name;
        mainParams = params_ + 1;
        folded = true;
        check = false;
      }
    }
    if (check) {
      checkName = conn_.CheckStatement();
      if (checkName.empty()) {
        failed_ = true;
        return false;
      }
      expected = std::to_string(t_check.expected);
    }
    if (sole) {
      conn_.pendingBegin_ = false;
      conn_.autocommitted_ = true;
      t_check.soleWrite = false;
    }
    // A folded read that failed for a reason of its own may still have met a moved catalog: a
    // statement naming a column dropped since fails while PostgreSQL plans it again, before its
    // filter runs. The check made alone then decides, one round trip more on a failure only.
    const auto recheck = [&] {
      if (!folded || t_check.stale || conn_.Broken()) return;
      const std::string error = conn_.error_;
      const int code = conn_.code_;
      t_check.sent = false;
      if (!conn_.CheckAlone() && t_check.stale) return;  // its error says the catalog moved
      conn_.error_ = error;
      conn_.code_ = code;
    };
    if (wrap || check || locks) {
      // The savepoint, the check, the statement and the release go in one round trip; a failure
      // rolls back the statement alone, as it would in SQLite.
      enum Part { kOther, kCheck, kLocks, kMain };
      Part parts[6];
      int n = 0;
      PQenterPipelineMode(c);
      const bool begin = wrap && conn_.pendingBegin_;
      if (wrap) conn_.pendingBegin_ = false;
      const auto plain = [&](const char* sql) {
        PQsendQueryParams(c, sql, 0, nullptr, nullptr, nullptr, nullptr, 0);
        parts[n++] = kOther;
      };
      if (begin) plain("BEGIN");
      if (wrap) plain("SAVEPOINT zdb_stmt");
      if (check) {
        const char* v[1] = {expected.c_str()};
        PQsendQueryPrepared(c, checkName.c_str(), 1, v, nullptr, nullptr, 0);
        parts[n++] = kCheck;
      }
      if (locks) {
        const std::string want = std::to_string(t_check.expected);
        const char* v[5] = {want.c_str(), t_check.keys[0].c_str(), t_check.keys[1].c_str(),
                            t_check.keys[2].c_str(), t_check.handle.c_str()};
        PQsendQueryPrepared(c, locksName.c_str(), both ? 5 : 4, both ? v : v + 1, nullptr, nullptr,
                            0);
        parts[n++] = kLocks;
      }
      PQsendQueryPrepared(c, mainName.c_str(), mainParams, values.data(), lengths.data(),
                          formats.data(), 0);
      parts[n++] = kMain;
      if (wrap) plain("RELEASE zdb_stmt");
      PQpipelineSync(c);
      AwaitReply(c);
      ++conn_.roundTrips_;
      PGresult* checked = nullptr;
      PGresult* looked = nullptr;
      for (int i = 0; i < n; ++i) {
        PGresult* first = NextResult(c);
        if (parts[i] == kMain)
          result_ = first;
        else if (parts[i] == kCheck)
          checked = first;
        else if (parts[i] == kLocks)
          looked = first;
        else
          PQclear(first);
      }
      PQclear(PQgetResult(c));  // the sync
      PQexitPipelineMode(c);
      Result checkResult(checked), lockResult(looked);
      if (folded) {
        t_check.sent = true;
        t_check.stale = StaleResult(R(result_));
      }
      if (check) {
        if (checked && Good(checked)) {
          t_check.sent = true;
        } else if (StaleResult(checked)) {
          t_check.sent = t_check.stale = true;
        }
      }
      if (locks && looked && !t_check.stale) {
        if (Good(looked)) {
          t_check.locks = false;  // looked at and free
          if (both) t_check.sent = true;
        } else if (both && StaleResult(looked)) {
          t_check.sent = t_check.stale = true;
        } else if (std::strstr(PQresultErrorMessage(looked), "zdb_locked")) {
          t_check.locksRefused = true;
        }
      }
      if (!result_ || !Good(R(result_))) {
        if (t_check.stale || t_check.locksRefused)
          conn_.Refuse();
        else
          conn_.NoteError(check && !(checked && Good(checked)) ? checked
                          : locks && !(looked && Good(looked)) ? looked
                                                               : result_);
        failed_ = true;
        if (wrap && !conn_.Broken()) PQclear(PQexec(c, "ROLLBACK TO zdb_stmt; RELEASE zdb_stmt"));
        recheck();
        if (!wrap && conn_.Broken() && !conn_.InTransaction()) conn_.Reconnect();
        return false;
      }
    } else {
      ++conn_.roundTrips_;
      result_ = nullptr;
      auto prep = conn_.prepared_.find(sql_);
      if (reads_ && !conn_.ServerTransaction() && prep != conn_.prepared_.end()) {
        PgBatches::Read read;
        read.text = folded ? &prep->second.checkedText : &prep->second.text;
        read.params = mainParams;
        read.values = values.data();
        read.lengths = lengths.data();
        read.formats = formats.data();
        result_ = PgBatches::Run(conn_.schema_, read);
      }
      if (!result_)
        result_ = ExecPrepared(c, mainName.c_str(), mainParams, values.data(), lengths.data(),
                               formats.data());
      if (folded) {
        t_check.sent = true;
        t_check.stale = StaleResult(R(result_));
      }
      if (!Good(R(result_))) {
        if (t_check.stale)
          conn_.Refuse();
        else
          conn_.NoteError(result_);
        recheck();
        failed_ = true;
        if (conn_.Broken() && !conn_.InTransaction()) conn_.Reconnect();
        return false;
      }
    }
    const char* n = PQcmdTuples(R(result_));
    conn_.changes_ = n && *n ? std::atoi(n) : 0;
    if (insert_) {
      if (PQntuples(R(result_)) > 0)
        conn_.lastRowId_ = std::strtoll(PQgetvalue(R(result_), 0, 0), nullptr, 10);
      return false;
    }
  }
  if (insert_ || !result_) return false;
  return ++row_ < PQntuples(R(result_));
}

int PgStmt::Columns() const {
  return result_ ? PQnfields(R(result_)) : 0;
}

std::string PgStmt::ColumnName(int i) const {
  return result_ ? PQfname(R(result_), i) : "";
}

Value PgStmt::Get(int i) const {
  if (!result_ || row_ < 0 || row_ >= PQntuples(R(result_))) return Value::Null();
  return CellOf(R(result_), row_, i);
}

}  // namespace zdbd

#else  // built without libpq: --storage is refused before any of this is reached

namespace zdbd {

PgConn::~PgConn() = default;
void PgConn::InterruptAll() {}
void PgConn::CloseBatches(const std::string&) {}
void PgConn::NoteDefinitions(int64_t) {}
std::string PgConn::TakeThreadError() {
  return {};
}
void PgConn::ArmCheck(int64_t) {}
bool PgConn::CheckArmed() {
  return false;
}
bool PgConn::Stale() {
  return false;
}
int64_t PgConn::Expected() {
  return 0;
}
void PgConn::EndCheck() {}
void PgConn::SoleWrite(bool) {}
bool PgConn::DeferLocks(const std::vector<std::string>&, uint32_t) {
  return false;
}
bool PgConn::LocksPending(std::vector<std::string>*, uint32_t*) {
  return false;
}
bool PgConn::LocksRefused() {
  return false;
}
void PgConn::BeginRequest() {}
bool PgConn::EndRequest() {
  return false;
}
std::unique_ptr<PgConn> PgConn::Connect(const std::string&, bool, std::string* error) {
  *error = "built without PostgreSQL support";
  return nullptr;
}
bool PgConn::SchemaExists(const std::string&, std::string*) {
  return false;
}
std::vector<std::string> PgConn::ListSchemas(const std::string&) {
  return {};
}
bool PgConn::DropSchema(const std::string&, std::string* error) {
  *error = "built without PostgreSQL support";
  return false;
}
bool PgConn::Exec(const std::string&) {
  return false;
}
bool PgConn::RunScript(const std::string&,
                       const std::function<bool(const std::vector<std::string>&)>&,
                       const std::function<bool(const std::vector<Value>&)>&) {
  return false;
}
bool PgConn::InTransaction() const {
  return false;
}
bool PgConn::Broken() const {
  return true;
}
PgStmt::PgStmt(PgConn& conn, const std::string&) : conn_(conn) {}
PgStmt::~PgStmt() = default;
void PgStmt::Bind(int, const Value&) {}
bool PgStmt::Step() {
  return false;
}
int PgStmt::Columns() const {
  return 0;
}
std::string PgStmt::ColumnName(int) const {
  return "";
}
Value PgStmt::Get(int) const {
  return Value::Null();
}

}  // namespace zdbd

#endif
