// Several zdbd instances over one PostgreSQL database share their locks and session handles
// through it, and know of each other only there. Each instance holds a lease row that it renews
// every RefreshPeriod(); an instance whose lease has run out is taken for dead, and deleting its
// row takes with it every handle it claimed and every lock those handles held (ON DELETE
// CASCADE), in one statement that any instance may run. A lock is held for exactly as long as
// its row exists, so no instance ever sees a lock as free that another still counts as its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "locks.h"

namespace zdbd {

struct ClusterSettings {
  std::string uri;   // libpq connection URI; the password comes from PGPASSWORD or .pgpass
  std::string name;  // the instance's name in its lease row, for the operator
  int leaseSeconds = 10;
  int connections = 4;  // connections for lock requests; the lease has one of its own
};

class Cluster : public LockStore {
 public:
  Cluster();
  // Leaves (Leave) unless Abandon was called.
  ~Cluster() override;
  Cluster(const Cluster&) = delete;
  Cluster& operator=(const Cluster&) = delete;

  // Makes the cluster's tables when they are missing, takes a lease and starts renewing it.
  // False with the reason when PostgreSQL cannot be reached or refuses.
  bool Join(const ClusterSettings& settings, std::string* error);
  // Stops renewing and deletes this instance's row with all it held.
  void Leave();
  // Stops renewing and drops every connection without a word, as a killed process would.
  void Abandon();
  // Called from the lease thread when this instance finds its row gone (it was taken for dead
  // while it could not renew): its sessions' locks are gone, so the sessions must end. The
  // instance then joins again under a new id.
  void OnLeaseLost(std::function<void()> f);

  int64_t Instance() const { return instance_.load(); }
  std::chrono::milliseconds RefreshPeriod() const;
  // Statements sent to PostgreSQL so far (each is one round trip).
  uint64_t RoundTrips() const { return roundTrips_.load(); }

  // Makes `handle` this instance's unless a live session anywhere has it.
  Claim ClaimHandle(uint32_t handle);

  Grant Acquire(const std::string& key, const LockHolder& who, LockHolder* other) override;
  bool Release(const std::string& key, uint32_t handle) override;
  void ReleaseMatching(const std::string& prefix, uint32_t handle) override;
  void ReleaseAll(uint32_t handle) override;
  bool Holder(const std::string& key, LockHolder* who) override;
  int FirstHeldByOther(const std::vector<std::string>& keys, uint32_t handle) override;
  size_t Count() override;

  class Conn;

 private:
  struct Result;
  class Borrowed;
  // Runs a prepared statement on a pooled connection, reconnecting once when the connection
  // was lost; an empty result when PostgreSQL could not run it.
  Result Run(const char* statement, const std::vector<std::string>& params);
  Result RunOn(Conn& conn, const char* statement, const std::vector<std::string>& params);
  // Deletes the rows of instances whose lease ran out; with `only` just that instance. Nobody
  // is reaped for one lease after this instance was cut off from PostgreSQL (NoteCutOff).
  int Reap(Conn& conn, int64_t only);
  void NoteCutOff();
  bool Register(Conn& conn, std::string* error);
  void RenewLoop();
  // False when it was not renewing.
  bool StopRenewing();

  ClusterSettings settings_;
  std::atomic<int64_t> instance_{0};
  std::atomic<uint64_t> roundTrips_{0};
  std::atomic<int64_t> reapAfter_{0};  // steady clock ticks
  std::mutex poolMutex_;
  std::condition_variable poolFree_;
  std::vector<std::unique_ptr<Conn>> idle_;
  std::unique_ptr<Conn> leaseConn_;
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stop_ = false;
  std::thread renewer_;
  std::function<void()> onLeaseLost_;
};

struct Server;

// Joins the instances on server.options.storage: the server's locks and handles go through the
// cluster from here on, and a lost lease ends the server's sessions. Null with the reason.
std::shared_ptr<Cluster> JoinCluster(Server& server, std::string* error);

}  // namespace zdbd
