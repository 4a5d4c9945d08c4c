// zdbd's pure pieces: value forms, header checks, slot rules, the stop rule, options, locks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "conn.h"
#include "dispatch.h"
#include "locks.h"
#include "options.h"
#include "schema.h"
#include "sha256.h"
#include "spin.h"
#include "state.h"
#include "status.h"
#include "support/zdbd_process.h"
#include "udp.h"
#include "values.h"
#include "wire/catalogue.h"
#include "wire/control.h"
#include "wire/le.h"

using zdb::wire::Opcode;

namespace zdbd {
namespace {

FieldInfo Field(char type, char subtype, uint32_t width) {
  FieldInfo f{"F", type, subtype, width, {}};
  EXPECT_TRUE(NormaliseField(f));
  return f;
}

TEST(ServerValues, SingleFieldFormsFollowTypeAndSize) {
  uint8_t out[12];
  FieldInfo n = Field('N', ' ', 0);
  EncodeSingle(n, Value::Real(2.5), out, 8);
  uint64_t bits = zdb::wire::GetU64(out);
  double d;
  std::memcpy(&d, &bits, 8);
  EXPECT_EQ(d, 2.5);
  Value back;
  ASSERT_EQ(DecodeSingle(n, out, 8, &back), kOk);
  EXPECT_EQ(back.kind, Value::kReal);
  EXPECT_EQ(back.d, 2.5);

  FieldInfo i = Field('I', ' ', 0);
  EncodeSingle(i, Value::Int(-2), out, 2);
  EXPECT_EQ(out[0], 0xFE);
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(ParseText(i, "40000", &back), kBadValue);
  EXPECT_EQ(ParseText(i, "1.5", &back), kBadValue);
  ASSERT_EQ(ParseText(i, " 12 ", &back), kOk);
  EXPECT_EQ(back.i, 12);

  // Text: padded with spaces to the width, zeros beyond it; never a terminator within.
  FieldInfo c = Field('C', ' ', 6);
  EncodeSingle(c, Value::Text("ab"), out, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), std::string("ab    \0\0", 8));
  EXPECT_EQ(ParseText(c, "abcdefg", &back), kBadValue);
  ASSERT_EQ(ParseText(c, "abc   ", &back), kOk);
  EXPECT_EQ(back.s, "abc");

  FieldInfo date = Field('C', 'D', 0);
  EXPECT_EQ(date.width, 10u);
  // Only days of the calendar: month lengths and the leap-year rule of centuries.
  for (const char* bad : {"2024-02-30", "2023-02-29", "1900-02-29", "2024-04-31", "2024-00-10",
                          "2024-01-00", "2024-1-01", "2024/01/01"})
    EXPECT_EQ(ParseText(date, bad, &back), kBadValue) << bad;
  for (const char* good : {"2024-02-29", "2000-02-29", "2023-12-31", "0001-01-01", "2024-09-30"})
    EXPECT_EQ(ParseText(date, good, &back), kOk) << good;
  EXPECT_EQ(ParseText(date, "2024-13-01", &back), kBadValue);
  EXPECT_EQ(ParseText(date, "", &back), kOk);

  FieldInfo memo = Field('C', 'M', 10);
  EXPECT_EQ(EffectiveWidth(memo), 255u);
  ASSERT_EQ(ParseText(memo, std::string(400, 'm'), &back), kOk);
  EncodeSingle(memo, Value::Text("xy"), out, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string("xy\0\0", 4));

  FieldInfo numText = Field('C', 'N', 5);
  EncodeSingle(numText, Value::Text("12.25"), out, 8);
  bits = zdb::wire::GetU64(out);
  std::memcpy(&d, &bits, 8);
  EXPECT_EQ(d, 12.25);
  EXPECT_EQ(ParseText(numText, "abc", &back), kBadValue);
  // A subnormal is an exact double and is kept; what would underflow to zero or overflow is
  // refused rather than stored changed.
  ASSERT_EQ(ParseText(n, "4.9406564584124654e-324", &back), kOk);
  EXPECT_EQ(back.d, 4.9406564584124654e-324);
  EXPECT_EQ(ParseText(n, "1e-400", &back), kBadValue);
  EXPECT_EQ(ParseText(n, "1e400", &back), kBadValue);
  // An empty value may arrive with no buffer at all.
  ASSERT_EQ(DecodeSingle(c, nullptr, 0, &back), kOk);
  EXPECT_EQ(back.s, "");
  EXPECT_EQ(ValueText(n, Value::Real(0.1)), "0.1");
  EXPECT_EQ(ValueText(n, Value::Null()), "");
  FieldInfo bad{"F", 'X', ' ', 5, {}};
  EXPECT_FALSE(NormaliseField(bad));
}

zdb::wire::FrameHeader Header(std::vector<uint32_t> lengths) {
  zdb::wire::FrameHeader h;
  zdb::wire::LayoutSlots(h, lengths.data(), static_cast<int>(lengths.size()));
  return h;
}

TEST(ServerFrames, HeadersAreCheckedBeforeAnythingIsAllocated) {
  EXPECT_EQ(CheckHeader(Header({4, 0, 129}), true, 4096), FrameVerdict::kOk);
  EXPECT_EQ(CheckHeader(Header({4}), false, 4096), FrameVerdict::kBadMagic);
  auto h = Header({4, 4});
  h.lengths[1] = 5;
  EXPECT_EQ(CheckHeader(h, true, 4096), FrameVerdict::kInconsistent);
  h = Header({4, 4});
  h.offsets[1] = 0;
  EXPECT_EQ(CheckHeader(h, true, 4096), FrameVerdict::kInconsistent);
  h = Header({4000});
  EXPECT_EQ(CheckHeader(h, true, 4096), FrameVerdict::kTooLarge);
  // Lengths that wrap around 32 bits do not add up to a small total.
  h = Header({0xFFFFFFF0u, 0x20});
  h.total = 161 + 0x10;
  EXPECT_NE(CheckHeader(h, true, 1u << 30), FrameVerdict::kOk);
  h = Header({});
  h.paramCount = 17;
  EXPECT_EQ(CheckHeader(h, true, 4096), FrameVerdict::kBadCount);
  h.paramCount = -1;
  EXPECT_EQ(CheckHeader(h, true, 4096), FrameVerdict::kBadCount);
}

Request WithSlots(std::vector<size_t> lengths) {
  Request r;
  for (size_t n : lengths) r.slots.emplace_back(n, 'a');
  return r;
}

TEST(ServerFrames, SlotRulesOfTheOpcodeTable) {
  EXPECT_TRUE(SlotsMatch("T * 4", WithSlots({3, 0, 4})));
  EXPECT_FALSE(SlotsMatch("T * 4", WithSlots({0, 0, 4})));  // a text has its zero at least
  EXPECT_FALSE(SlotsMatch("T * 4", WithSlots({3, 0, 2})));
  EXPECT_FALSE(SlotsMatch("T * 4", WithSlots({3, 0})));
  EXPECT_FALSE(SlotsMatch("T", WithSlots({3, 1})));
  EXPECT_TRUE(SlotsMatch(">T T", WithSlots({1, 1, 7, 4})));
  EXPECT_TRUE(SlotsMatch("", WithSlots({})));
  // Every opcode appears once per kind, and every row names a handler.
  size_t count = 0;
  const OpRow* rows = OpTable(&count);
  std::set<std::pair<int, uint32_t>> seen;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(seen.insert({rows[i].kind, rows[i].opcode}).second) << rows[i].name;
    EXPECT_NE(rows[i].handler, nullptr);
  }
  EXPECT_EQ(FindOp(2, Opcode("SqlRun"))->name, std::string("SqlRun"));
  EXPECT_EQ(FindOp(1, Opcode("Login"))->name, std::string("Login"));
  EXPECT_EQ(FindOp(1, 250), nullptr);  // no client sends it
}

TEST(ServerUdp, StopOnlyFromThisMachineUnlessAllowed) {
  EXPECT_TRUE(StopAllowed(0x7F000001, false));
  EXPECT_TRUE(StopAllowed(0x7F0A0B0C, false));
  EXPECT_FALSE(StopAllowed(0xC0A80114, false));  // 192.168.1.20
  EXPECT_FALSE(StopAllowed(0x0A000005, false));
  EXPECT_TRUE(StopAllowed(0xC0A80114, true));

  uint8_t stop[6];
  zdb::wire::EncodeControl(zdb::wire::kCodeStop, stop);
  ControlReply r = AnswerControl(stop, 6, 0xC0A80114, false, "n", 2500, 0);
  EXPECT_EQ(r.action, ControlAction::kRefuseStop);
  EXPECT_TRUE(r.bytes.empty());
  r = AnswerControl(stop, 6, 0x7F000001, false, "n", 2500, 0);
  EXPECT_EQ(r.action, ControlAction::kAnswerAndStop);
  EXPECT_EQ(zdb::wire::GetU16(r.bytes.data()), zdb::wire::kCodeStop);

  uint8_t disc[6];
  zdb::wire::EncodeControl(zdb::wire::kCodeDiscover, disc);
  r = AnswerControl(disc, 6, 0xC0A80114, false, "shop server", 2600, 3);
  ASSERT_EQ(r.bytes.size(), 158u);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.bytes.data() + 38), "shop server");
  EXPECT_EQ(zdb::wire::GetU16(r.bytes.data() + 154), 2600);
  EXPECT_EQ(zdb::wire::GetU16(r.bytes.data() + 156), 3);
  uint8_t other[6];
  zdb::wire::EncodeControl(99, other);
  EXPECT_EQ(AnswerControl(other, 6, 0x7F000001, false, "n", 1, 0).action, ControlAction::kIgnore);
  EXPECT_EQ(AnswerControl(other, 1, 0x7F000001, false, "n", 1, 0).action, ControlAction::kIgnore);
}

TEST(ServerOptions, ParsesAndRefuses) {
  Options o;
  std::string err;
  const char* good[] = {"zdbd",           "--port", "0",    "--data",
                        "/tmp/d",         "--name", "shop", "--allow-remote-stop",
                        "--idle-timeout", "60"};
  ASSERT_TRUE(ParseOptions(10, const_cast<char**>(good), &o, &err)) << err;
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.dataDir, "/tmp/d");
  EXPECT_EQ(o.name, "shop");
  EXPECT_TRUE(o.allowRemoteStop);
  EXPECT_EQ(o.sessionIdleSeconds, 60);
  EXPECT_EQ(o.bind, "127.0.0.1");
  Options fresh;
  const char* badPort[] = {"zdbd", "--port", "70000"};
  EXPECT_FALSE(ParseOptions(3, const_cast<char**>(badPort), &fresh, &err));
  const char* unknown[] = {"zdbd", "--frobnicate"};
  EXPECT_FALSE(ParseOptions(2, const_cast<char**>(unknown), &fresh, &err));
  const char* missing[] = {"zdbd", "--data"};
  EXPECT_FALSE(ParseOptions(2, const_cast<char**>(missing), &fresh, &err));
}

TEST(ServerOptions, LimitsAndDurability) {
  Options o;
  std::string err;
  EXPECT_EQ(o.maxFile, 0x7FFFFFFFu);  // whatever the file stream can carry
  const char* args[] = {"zdbd",   "--frame-timeout",
                        "2",      "--first-frame-timeout",
                        "3",      "--max-sessions",
                        "7",      "--stop-grace",
                        "0",      "--max-file",
                        "65536",  "--durable",
                        "--spin", "0"};
  EXPECT_EQ(o.spinMicroseconds, 300);
  ASSERT_TRUE(ParseOptions(14, const_cast<char**>(args), &o, &err)) << err;
  EXPECT_EQ(o.frameTimeoutSeconds, 2);
  EXPECT_EQ(o.firstFrameSeconds, 3);
  EXPECT_EQ(o.maxSessions, 7);
  EXPECT_EQ(o.stopGraceSeconds, 0);
  EXPECT_EQ(o.maxFile, 65536u);
  EXPECT_TRUE(o.durable);
  EXPECT_EQ(o.spinMicroseconds, 0);
  Options fresh;
  const char* zeroSessions[] = {"zdbd", "--max-sessions", "0"};
  EXPECT_FALSE(ParseOptions(3, const_cast<char**>(zeroSessions), &fresh, &err));
  const char* hugeFile[] = {"zdbd", "--max-file", "2147483648"};
  EXPECT_FALSE(ParseOptions(3, const_cast<char**>(hugeFile), &fresh, &err));
}

TEST(ServerSpin, WaitsOnlyWithABudgetAndACoreLeftForThePeer) {
  using std::chrono::microseconds;
  // A container's or a service's CPU quota caps the cores a wait may count on.
  EXPECT_EQ(spin::CoresOfCpuMax("150000 100000\n"), 2);
  EXPECT_EQ(spin::CoresOfCpuMax("50000 100000"), 1);
  EXPECT_EQ(spin::CoresOfCpuMax("max 100000\n"), 0);
  EXPECT_EQ(spin::CoresOfCpuMax(""), 0);
  EXPECT_EQ(spin::CoresOfCpuMax("12x 100000"), 0);
  EXPECT_GE(spin::Cores(), 1);
  EXPECT_LE(spin::Cores(), static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  int asked = 0;
  auto readyAtFifth = [&] { return ++asked == 5; };
  spin::SetBudget(microseconds(0));
  EXPECT_FALSE(spin::Until(readyAtFifth));
  EXPECT_EQ(asked, 0);  // no budget: sleep at once, without a single look
  spin::SetBudget(microseconds(100000));
  if (static_cast<unsigned>(spin::Cores()) < 2) {
    EXPECT_FALSE(spin::Allowed());  // the only core belongs to the peer
    spin::SetBudget(microseconds(0));
    return;
  }
  EXPECT_TRUE(spin::Until(readyAtFifth));
  EXPECT_EQ(asked, 5);
  {
    spin::Busy serving, nested;  // this thread counts once however deep
    EXPECT_TRUE(spin::Allowed());
  }
  // Every other core taken by a thread that serves a request: a wait here would take the core
  // the peer needs, so it sleeps.
  const unsigned others = static_cast<unsigned>(spin::Cores()) - 1;
  std::mutex m;
  std::condition_variable cv;
  unsigned holding = 0;
  bool release = false;
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < others; ++i)
    threads.emplace_back([&] {
      spin::Busy busy;
      std::unique_lock<std::mutex> lock(m);
      ++holding;
      cv.notify_all();
      cv.wait(lock, [&] { return release; });
    });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return holding == others; });
  }
  asked = 0;
  EXPECT_FALSE(spin::Allowed());
  EXPECT_FALSE(spin::Until(readyAtFifth));
  EXPECT_EQ(asked, 0);
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  for (auto& t : threads) t.join();
  EXPECT_TRUE(spin::Allowed());
  {
    // As many clients sending back to back as cores: each needs its core between requests.
    const unsigned cores = static_cast<unsigned>(spin::Cores());
    std::unique_ptr<spin::Eager[]> eager(new spin::Eager[cores]);
    for (unsigned i = 0; i < cores; ++i) eager[i].Set(true);
    EXPECT_FALSE(spin::Allowed());
    eager[0].Set(false);
    EXPECT_TRUE(spin::Allowed());
    eager[1].Set(true);
    EXPECT_TRUE(spin::Allowed());  // already counted once: the count stays
    eager[0].Set(true);
  }
  EXPECT_TRUE(spin::Allowed());  // ended with their connections
  spin::SetBudget(microseconds(0));
}

TEST(ServerSpin, ACgroupQuotaAboveTheProcessCapsItsCores) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("zdbd-cgroup-" + std::to_string(::getpid()));
  const auto put = [&](const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  };
  // Unified layout: the service's own group sets none, its slice allows one and a half cores.
  put(root / "system.slice/cpu.max", "150000 100000\n");
  put(root / "system.slice/zdbd.service/cpu.max", "max 100000\n");
  EXPECT_EQ(spin::CgroupCores("0::/system.slice/zdbd.service\n", root.string()), 2);
  EXPECT_EQ(spin::CgroupCores("0::/\n", root.string()), 0);
  // The older layout: only the line of the cpu controller counts, whatever it is mounted with.
  put(root / "cpu,cpuacct/box/cpu.cfs_quota_us", "50000\n");
  put(root / "cpu,cpuacct/box/cpu.cfs_period_us", "100000\n");
  put(root / "cpu,cpuacct/cpu.cfs_quota_us", "-1\n");
  EXPECT_EQ(spin::CgroupCores("4:memory:/box\n3:cpu,cpuacct:/box\n", root.string()), 1);
  EXPECT_EQ(spin::CgroupCores("4:memory:/box\n", root.string()), 0);
  EXPECT_EQ(spin::CgroupCores("", root.string()), 0);
  fs::remove_all(root);
}

TEST(ServerSessions, CapAndIdleExpiryNeverWaitOnARunningRequest) {
  SessionTable table;
  auto a = table.Create("", true, 2);
  auto b = table.Create("ann", false, 2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(table.Create("", true, 2), nullptr);  // the cap refuses, nobody is pushed out
  EXPECT_EQ(table.Count(), 2u);
  // Both are long unused; a's request is still running (its lock held): only b is taken, and at
  // once, although a's lock is held.
  a->lastUse = b->lastUse = std::chrono::steady_clock::now() - std::chrono::hours(1);
  std::lock_guard<std::mutex> running(a->mutex);
  auto idle = table.TakeIdle(std::chrono::minutes(30));
  ASSERT_EQ(idle.size(), 1u);
  EXPECT_EQ(idle[0], b);
  EXPECT_EQ(table.Find(a->handle), a);
  EXPECT_NE(table.Create("", true, 2), nullptr);  // b's place is free again
}

TEST(ServerSessions, AHandleThatCannotBeClaimedIsToldFromTheLimit) {
  SessionTable table;
  Claim answer = Claim::kFailed;
  table.ClaimWith([&](uint32_t) { return answer; });
  bool atLimit = true;
  EXPECT_EQ(table.Create("", true, 2, &atLimit), nullptr);  // the shared store out of reach
  EXPECT_FALSE(atLimit);
  answer = Claim::kTaken;  // every handle tried is another instance's
  atLimit = true;
  EXPECT_EQ(table.Create("", true, 2, &atLimit), nullptr);
  EXPECT_FALSE(atLimit);
  answer = Claim::kClaimed;
  ASSERT_NE(table.Create("", true, 1, &atLimit), nullptr);
  EXPECT_FALSE(atLimit);
  EXPECT_EQ(table.Create("", true, 1, &atLimit), nullptr);
  EXPECT_TRUE(atLimit);
}

TEST(ServerLocks, OthersLocksRefuseChangesAndLogoutReleasesThem) {
  LockTable t;
  LockHolder a{1, "ann"}, b{2, "bob"}, seen;
  EXPECT_EQ(t.Acquire(LockTable::RecordKey("DB", "T", 5), a, kRecordLocked), kOk);
  EXPECT_EQ(t.Acquire(LockTable::RecordKey("DB", "T", 5), a, kRecordLocked), kOk);  // again
  EXPECT_EQ(t.Acquire(LockTable::RecordKey("DB", "T", 5), b, kRecordLocked), kRecordLocked);
  ASSERT_TRUE(t.Holder(LockTable::RecordKey("DB", "T", 5), &seen));
  EXPECT_EQ(seen.user, "ann");
  EXPECT_EQ(t.CheckWrite("DB", "T", 5, 2), kRecordLocked);
  EXPECT_EQ(t.CheckWrite("DB", "T", 6, 2), kOk);
  EXPECT_EQ(t.CheckWrite("DB", "T", 5, 1), kOk);
  EXPECT_EQ(t.Acquire(LockTable::TableKey("DB", "T"), b, kTableLocked), kOk);
  EXPECT_EQ(t.CheckWrite("DB", "T", 0, 1), kTableLocked);
  EXPECT_EQ(t.Acquire(LockTable::DatabaseKey("DB"), b, kDatabaseLocked), kOk);
  EXPECT_EQ(t.CheckWrite("DB", "U", 0, 1), kDatabaseLocked);
  EXPECT_FALSE(t.Release(LockTable::DatabaseKey("DB"), 1));
  t.ReleaseAll(2);
  EXPECT_EQ(t.CheckWrite("DB", "T", 0, 1), kOk);
  EXPECT_EQ(t.Count(), 1u);
  t.ReleaseMatching("R:DB/T/", 1);
  EXPECT_EQ(t.Count(), 0u);
}

TEST(ServerCatalog, NamesSpecsHashesAndTexts) {
  EXPECT_TRUE(IsValidName("PEOPLE_2", 32));
  EXPECT_FALSE(IsValidName("2PEOPLE", 32));
  EXPECT_FALSE(IsValidName("zdb_fields", 32));
  EXPECT_FALSE(IsValidName("a\"b", 32));
  EXPECT_FALSE(IsValidName("NINECHARS", 8));
  std::vector<FieldInfo> f;
  ASSERT_TRUE(ParseFieldSpec("NAME C 20; AGE i ;BORN C D", &f));
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].width, 20u);
  EXPECT_EQ(f[1].type, 'I');
  EXPECT_EQ(f[2].subtype, 'D');
  f.clear();
  EXPECT_FALSE(ParseFieldSpec("NAME", &f));
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(std::string(64, 'a')).substr(0, 8), "ffe054fe");
  EXPECT_EQ(StatusText(4030), "Field not found");
  EXPECT_EQ(StatusText(123456), "Unknown status 123456");
}

TEST(ServerCatalog, IndexesOfTheOldNamingAreListedLikeTheOthers) {
  zdb::test::TempDir dir;
  Db db;
  ASSERT_TRUE(db.Open(dir.path() + "/OLD.zdb", true));
  ASSERT_TRUE(EnsureCatalog(db));
  std::vector<FieldInfo> f;
  ASSERT_TRUE(ParseFieldSpec("NAME C 20; CITY C 20", &f));
  ASSERT_EQ(CreateTable(db, "PEOPLE", "", f), kOk);
  ASSERT_EQ(CreateTable(db, "PEOPLE_X", "", f), kOk);
  ASSERT_EQ(DefineIndex(db, "PEOPLE", "BYCITY", {"CITY"}, false, false), kOk);
  // Database files whose SQLite indexes have no row in the catalog are still read. The last one is
  // no ZDB table's and stays unlisted.
  ASSERT_TRUE(
      db.Exec("CREATE INDEX ix_PEOPLE_BYNAME ON PEOPLE(NAME, CITY);"
              "CREATE UNIQUE INDEX ix_PEOPLE_X_ONE ON PEOPLE_X(NAME);"
              "CREATE TABLE plain(a); CREATE INDEX ix_plain_A ON plain(a);"));
  ASSERT_TRUE(EnsureCatalog(db));
  ASSERT_TRUE(EnsureCatalog(db));  // adopted once, not twice
  auto people = TableIndexes(db, "PEOPLE");
  ASSERT_EQ(people.size(), 2u);
  EXPECT_EQ(people[0].name, "BYCITY");
  EXPECT_EQ(people[1].name, "BYNAME");
  EXPECT_EQ(people[1].sqlName, "ix_PEOPLE_BYNAME");
  EXPECT_FALSE(people[1].unique);
  EXPECT_EQ(people[1].fields, (std::vector<std::string>{"NAME", "CITY"}));
  auto other = TableIndexes(db, "PEOPLE_X");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].name, "ONE");
  EXPECT_TRUE(other[0].unique);
  // Adopted, an old index is dropped like any other.
  EXPECT_EQ(DropIndex(db, "PEOPLE", "BYNAME"), kOk);
  Stmt left(db, "SELECT count(*) FROM sqlite_master WHERE name = 'ix_PEOPLE_BYNAME'");
  ASSERT_TRUE(left.Step());
  EXPECT_EQ(left.Int(0), 0);
}

}  // namespace
}  // namespace zdbd
