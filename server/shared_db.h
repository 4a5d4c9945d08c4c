// The SQLite connection of each database, shared by every session that is not inside a
// transaction of its own, and the commit policy that makes the record path fast.
//
// A request on a shared connection runs inside a transaction that stays open across requests
// and is committed when the database has been quiet for a moment or has held it long enough (or
// before every reply with --durable). SQLite's file locks and the WAL append then cost once per
// commit instead of once per statement. Every session using the shared connection sees a write as
// soon as it is answered; a connection of a session's own transaction, a script or an export is
// given the shared connection's changes committed before it runs.
//
// A group whose commit fails (the disk is full) is not given up: the connection journals every
// write of the open group, and the answered changes are carried out again in a new transaction,
// where every reader keeps seeing them, until a commit succeeds. Meanwhile requests that write
// are refused (kDiskFull), and so are the removal and replacement of the database; a stop waits
// for that commit however long it takes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sqlite_db.h"

namespace zdbd {

struct Server;
struct ServerSession;
struct DbUse;

struct SharedDb {
  using Clock = std::chrono::steady_clock;
  // Held while a request works on the connection. Recursive: a request that holds it may flush
  // or close its own database (compaction, removal).
  std::recursive_mutex mutex;
  std::unique_ptr<Db> conn;      // null once closed: the file is being removed or replaced
  std::atomic<bool> open{true};  // false once closed, readable without the mutex
  bool held = false;             // a transaction is open across requests
  Clock::time_point heldSince, lastUse;
  // Moves after every request carried out on another connection of the database (a session's
  // own transaction, a script): the shared connection's snapshot is renewed before its next one.
  std::atomic<uint64_t> outside{0};
  uint64_t seenOutside = 0;
  std::string name;
  size_t mark = 0;       // the journal's length when the running request began
  bool waiting = false;  // answered changes wait for a commit that failed
  std::string reason;    // why the last commit failed
  Clock::time_point lastTry, lastNote;
  Clock::time_point stopNote;  // when the log last said that a stop waits for this database
  // Over PostgreSQL each request borrows a connection of its own from the database's pool
  // (SharedDbs::Borrow), so that sessions run in parallel; `conn` only opens the database.
  std::mutex poolMutex;
  std::condition_variable poolFree;
  std::vector<std::unique_ptr<Db>> idle;
  size_t made = 0;  // connections of the pool, idle or borrowed
};

class SharedDbs {
 public:
  // How long answered changes may wait for their commit.
  static constexpr std::chrono::milliseconds kQuiet{2};
  static constexpr std::chrono::milliseconds kMaxHold{20};
  // How often a failed commit is tried again, and how often the log recalls what waits.
  static constexpr std::chrono::milliseconds kRetry{50};
  static constexpr std::chrono::seconds kNoteEvery{10};

  SharedDbs() = default;
  ~SharedDbs();
  SharedDbs(const SharedDbs&) = delete;
  SharedDbs& operator=(const SharedDbs&) = delete;

  // Starts the thread that commits held transactions; with `durable` nothing is ever held.
  // `pool`: connections each PostgreSQL database may have at once.
  void Start(bool durable, size_t pool = kDefaultPool);
  static constexpr size_t kDefaultPool = 8;
  // Over PostgreSQL: a connection of the database's pool for one request, made when none is
  // idle and the pool is not full, else waited for; null once the database is closed.
  // Connections are borrowed in the order of the databases' names (RequestDbs), so requests
  // that wait for each other's connections never wait in a circle.
  std::unique_ptr<Db> Borrow(SharedDb& d);
  void GiveBack(SharedDb& d, std::unique_ptr<Db> conn);
  // The database's shared connection, opened (and its catalog made) on first use; null when the
  // file cannot be opened.
  std::shared_ptr<SharedDb> Get(const std::string& name, const std::string& path);
  // Called with the mutex of `d` held: before and after a request on its connection. Enter is
  // false when the request `writes` and answered changes wait for space: it is refused. Leave
  // returns the request's status, kDiskFull when its changes could not be kept (with the
  // system's reason in *reason).
  bool Enter(SharedDb& d, bool writes);
  int32_t Leave(SharedDb& d, int32_t status, std::string* reason);
  // Commits what the database's shared connection holds, so that another connection sees it;
  // false when answered changes wait for space and stay uncommitted.
  bool Flush(const std::string& name);
  // Commits and closes the connection: its file is about to be removed or replaced. False, with
  // the commit's failure in *reason, when answered changes wait for space: the connection stays
  // and the file must be left alone.
  bool Close(const std::string& name, std::string* reason);
  // True, with the failure in *reason, when answered changes of the database wait for space.
  bool Waiting(const std::string& name, std::string* reason);
  // Stops the flusher, then commits and closes every connection it can; false while answered
  // changes wait for space in some database (they stay, and a later call tries again).
  bool CloseAll();
  bool Durable() const { return durable_; }

 private:
  // The database's entry, taken out of the map with `take`; null when it has none.
  std::shared_ptr<SharedDb> Find(const std::string& name, bool take);
  // With the mutex of `d` held. True when nothing answered is left uncommitted; on failure the
  // group is kept (or, with --durable, rolled back).
  bool Commit(SharedDb& d);
  // Rolls the open group back and, outside --durable, carries its journal out again in a new
  // transaction: the answered changes wait there for the next try.
  void Keep(SharedDb& d, const std::string& why);
  void Restore(SharedDb& d);  // the new transaction of Keep
  // With the mutex of `d` held: commits and closes, unless answered changes must wait.
  bool Shut(SharedDb& d);
  void Arm();  // wakes the flusher
  void Loop();
  std::mutex mutex_;  // the map and the flusher's state
  std::condition_variable wake_;
  std::map<std::string, std::shared_ptr<SharedDb>> dbs_;
  std::thread flusher_;
  bool stop_ = false;
  std::atomic<bool> armed_{false};     // the flusher is watching held transactions
  std::atomic<bool> stopping_{false};  // zdbd stops: the waiting changes are noted by CloseAll
  bool durable_ = false;
  size_t pool_ = kDefaultPool;
};

// The connections of one request: each database the session uses gets its shared connection,
// locked for the request, or the session's own connection when its transaction is there or the
// request runs a script (`own`), which may take as long as it likes without holding anyone up.
class RequestDbs {
 public:
  // With `writes`, a request that may change a database: refused while one of the session's
  // databases has answered changes waiting for space.
  RequestDbs(Server& server, ServerSession& s, bool own, bool writes);
  ~RequestDbs();
  bool Refused() const { return refused_; }
  // Ends the request on its connections; the status, kDiskFull when a write met a full disk
  // (Reason() tells the system's words).
  int32_t Finish(int32_t status);
  const std::string& Reason() const { return reason_; }
  RequestDbs(const RequestDbs&) = delete;
  RequestDbs& operator=(const RequestDbs&) = delete;

 private:
  Server& server_;
  std::vector<std::pair<std::shared_ptr<SharedDb>, std::unique_lock<std::recursive_mutex>>> locked_;
  std::vector<std::shared_ptr<SharedDb>> outside_;
  // Over PostgreSQL: the connections borrowed for this request.
  std::vector<std::pair<std::shared_ptr<SharedDb>, std::unique_ptr<Db>>> borrowed_;
  std::vector<Db*> own_;
  bool refused_ = false;
  bool finished_ = false;
  std::string reason_;
};

// The session's own connection to a database, opened when first needed, after the shared
// connection's answered changes are committed so that it sees them.
Db& OwnConnection(Server& server, const std::string& name, DbUse& use);

}  // namespace zdbd
