// The locks and handles that zdbd instances share through PostgreSQL, two instances in one
// process against the cluster ZDB_PG_URI names (.ci/postgres.sh starts a private one).
#if __has_include(<libpq-fe.h>)
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "cluster.h"
#include "status.h"

namespace zdbd {
namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string PgUri() {
  return Env("ZDB_PG_URI");
}

uint32_t SomeHandle() {
  static std::mt19937 gen(std::random_device{}());
  return static_cast<uint32_t>(gen() | 1u);
}

// Runs one statement on a connection of its own; its error, empty when it ran.
std::string Sql(const std::string& sql) {
  std::string uri = PgUri();
  const char* keys[] = {"dbname", nullptr};
  const char* values[] = {uri.c_str(), nullptr};
  PGconn* pg = PQconnectdbParams(keys, values, 1);
  PGresult* r = PQexec(pg, sql.c_str());
  std::string error = PQresultStatus(r) == PGRES_COMMAND_OK ? "" : PQerrorMessage(pg);
  PQclear(r);
  PQfinish(pg);
  return error;
}

class ClusterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PgUri().empty()) GTEST_SKIP() << "ZDB_PG_URI names no PostgreSQL database";
    std::string error;
    ASSERT_TRUE(a.Join({PgUri(), "test-a", 2, 2}, &error)) << error;
    ASSERT_TRUE(b.Join({PgUri(), "test-b", 2, 2}, &error)) << error;
    ASSERT_NE(a.Instance(), b.Instance());
  }
  Cluster a, b;
};

TEST_F(ClusterTest, LocksOfOneInstanceAreRefusedOnTheOtherUntilItDies) {
  uint32_t ha = SomeHandle(), hb = SomeHandle() ^ 2u;
  // A handle is one session's in the whole set of instances.
  ASSERT_EQ(a.ClaimHandle(ha), Claim::kClaimed);
  EXPECT_EQ(b.ClaimHandle(ha), Claim::kTaken);
  ASSERT_EQ(b.ClaimHandle(hb), Claim::kClaimed);

  std::string db = "c" + std::to_string(ha % 100000);
  std::string rec = LockTable::RecordKey(db, "t", 1), tab = LockTable::TableKey(db, "t");
  LockHolder other;
  EXPECT_EQ(a.Acquire(rec, {ha, "alice"}, nullptr), Grant::kHeld);
  EXPECT_EQ(a.Acquire(rec, {ha, "alice"}, nullptr), Grant::kHeld);  // held already
  EXPECT_EQ(b.Acquire(rec, {hb, "bob"}, &other), Grant::kRefused);
  EXPECT_EQ(other.handle, ha);
  EXPECT_EQ(other.user, "alice");
  ASSERT_TRUE(b.Holder(rec, &other));
  EXPECT_EQ(other.handle, ha);
  EXPECT_FALSE(b.Holder(tab, &other));

  LockTable onB;
  onB.UseStore(std::shared_ptr<LockStore>(&b, [](LockStore*) {}));
  EXPECT_EQ(onB.CheckWrite(db, "t", 1, hb), kRecordLocked);
  EXPECT_EQ(onB.CheckWrite(db, "t", 2, hb), kOk);
  EXPECT_EQ(onB.CheckWrite(db, "t", 1, ha), kOk);  // its own lock does not stop the holder
  EXPECT_EQ(a.Acquire(tab, {ha, "alice"}, nullptr), Grant::kHeld);
  EXPECT_EQ(onB.CheckWrite(db, "t", 1, hb), kTableLocked);  // the wider lock is named
  EXPECT_EQ(onB.Acquire(tab, {hb, "bob"}, kTableLocked), kTableLocked);

  EXPECT_FALSE(b.Release(rec, hb));  // not bob's to let go
  EXPECT_TRUE(a.Release(rec, ha));
  EXPECT_FALSE(a.Release(rec, ha));
  EXPECT_EQ(onB.CheckWrite(db, "t", 2, hb), kTableLocked);

  // A's process dies: its lease stops, nobody deletes its row. Right after, its lock still holds.
  a.Abandon();
  auto died = Clock::now();
  EXPECT_EQ(b.Acquire(tab, {hb, "bob"}, nullptr), Grant::kRefused);
  Grant got = Grant::kRefused;
  while (got == Grant::kRefused && Clock::now() - died < std::chrono::seconds(8)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    got = b.Acquire(tab, {hb, "bob"}, nullptr);
  }
  double after = std::chrono::duration<double>(Clock::now() - died).count();
  std::printf("lock of a dead instance free after %.2f s (lease 2 s)\n", after);
  ASSERT_EQ(got, Grant::kHeld);
  EXPECT_GE(after, 1.0);  // not before its lease ran out
  // Every claim of the dead instance went with it: its handle is free again.
  EXPECT_EQ(b.ClaimHandle(ha), Claim::kClaimed);
  b.ReleaseAll(ha);
  b.ReleaseAll(hb);
  EXPECT_FALSE(b.Holder(tab, &other));  // ending a session ends its locks
}

TEST_F(ClusterTest, AnInstanceTakenForDeadEndsItsSessionsAndJoinsAgain) {
  std::atomic<int> lost{0};
  a.OnLeaseLost([&] { ++lost; });
  uint32_t h = SomeHandle();
  ASSERT_EQ(a.ClaimHandle(h), Claim::kClaimed);
  std::string key = LockTable::DatabaseKey("l" + std::to_string(h % 100000));
  ASSERT_EQ(a.Acquire(key, {h, "carol"}, nullptr), Grant::kHeld);
  int64_t first = a.Instance();
  // What another instance does to one whose lease ran out while it was cut off.
  ASSERT_EQ(Sql("DELETE FROM zdbd_cluster.instances WHERE id = " + std::to_string(first)), "");
  LockHolder who;
  EXPECT_FALSE(b.Holder(key, &who));
  // Its session may no longer change anything: what it held is another's to take now.
  EXPECT_EQ(a.FirstHeldByOther({key}, h), -2);
  EXPECT_EQ(b.FirstHeldByOther({key}, h ^ 4u), -2);  // nor may a session nobody claimed
  auto start = Clock::now();
  // The sessions end first, then the instance joins again.
  while (a.Instance() == first && Clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(lost, 1);
  EXPECT_NE(a.Instance(), first);
  // Under its new lease it works as before.
  ASSERT_EQ(a.ClaimHandle(h), Claim::kClaimed);
  EXPECT_EQ(a.Acquire(key, {h, "carol"}, nullptr), Grant::kHeld);
  EXPECT_EQ(b.Acquire(key, {h ^ 4u, "dave"}, &who), Grant::kRefused);
  EXPECT_EQ(who.user, "carol");
  a.Leave();  // a clean stop takes everything at once
  EXPECT_FALSE(b.Holder(key, &who));
}

TEST_F(ClusterTest, LocksOutlastARestartOfPostgres) {
  std::string dir = Env("ZDB_PG_DIR"), script = Env("ZDB_PG_CLUSTER");
  if (dir.empty() || script.empty())
    GTEST_SKIP() << "ZDB_PG_DIR and ZDB_PG_CLUSTER (scripts/pg_cluster.sh) name no cluster to kill";
  uint32_t ha = SomeHandle(), hb = SomeHandle() ^ 8u;
  ASSERT_EQ(a.ClaimHandle(ha), Claim::kClaimed);
  ASSERT_EQ(b.ClaimHandle(hb), Claim::kClaimed);
  std::string key = LockTable::TableKey("r" + std::to_string(ha % 100000), "t");
  ASSERT_EQ(a.Acquire(key, {ha, "erin"}, nullptr), Grant::kHeld);
  ASSERT_EQ(std::system(("bash '" + script + "' kill '" + dir + "'").c_str()), 0);
  // Out of reach: no answer is made up, every call says so.
  EXPECT_EQ(b.Acquire(key, {hb, "frank"}, nullptr), Grant::kFailed);
  EXPECT_EQ(b.FirstHeldByOther({key}, hb), -2);
  EXPECT_EQ(b.ClaimHandle(SomeHandle()), Claim::kFailed);
  // Down for longer than the lease: no instance renewed meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  auto restarted = Clock::now();
  ASSERT_EQ(std::system(("bash '" + script + "' restart '" + dir + "'").c_str()), 0);
  Grant got = Grant::kFailed;
  while (got == Grant::kFailed && Clock::now() - restarted < std::chrono::seconds(10)) {
    got = b.Acquire(key, {hb, "frank"}, nullptr);
    if (got == Grant::kFailed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("lock layer answering again %.2f s after the restart began\n",
              std::chrono::duration<double>(Clock::now() - restarted).count());
  // Both instances come back by themselves, and the lease each gets after a restart keeps
  // the lock its holder never gave up.
  EXPECT_EQ(got, Grant::kRefused);
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  EXPECT_EQ(b.Acquire(key, {hb, "frank"}, nullptr), Grant::kRefused);
  LockHolder who;
  ASSERT_TRUE(b.Holder(key, &who));
  EXPECT_EQ(who.user, "erin");
  EXPECT_TRUE(a.Release(key, ha));
  EXPECT_EQ(b.Acquire(key, {hb, "frank"}, nullptr), Grant::kHeld);
}

TEST(ClusterReach, JoinFailsWithTheReasonWhenPostgresIsNotThere) {
  Cluster c;
  std::string error;
  // A loopback port where nothing listens (the discard port).
  EXPECT_FALSE(c.Join({"postgresql://nobody@127.0.0.1:9/none", "x", 2, 1}, &error));
  EXPECT_NE(error.find("127.0.0.1"), std::string::npos) << error;
}

}  // namespace
}  // namespace zdbd
#endif  // libpq
