// zdbd on a small file system written until full, in both commit modes: every write answered
// 1000 is there once the space returns and again after a restart, a write that could not be
// stored is answered with the disk-full status and leaves nothing, reads go on meanwhile, and an
// import or export that runs out of space ends with that status, leaves no file behind and keeps
// the held connection usable.
//
// Two ways to fill the disk: a tmpfs that the test mounts and fills with a file, which needs
// root (as CI runs; elsewhere those cases are skipped and say so), and SQLite's own page limit,
// which zdbd holds its connections to when ZDBD_PAGE_LIMIT_FILE names a file with the number
// (any user; the import and export checks need the real file system and are left out there).
// A stop while answered changes wait for space does not end zdbd until they are committed; that
// case needs the tmpfs: at the page limit a failure is a statement's, and the changes answered
// before it fit and are committed by the next try, so they never wait long.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "session/registry.h"
#include "support/zdbd_process.h"
#include "wire/control.h"
#include "zdb_api.h"
#include "zdb_api_catalog.h"

namespace zdb::test {
namespace {

constexpr int32_t kDiskFull = 4112;

enum class Way { kTmpfs, kPageLimit };

// A data directory whose space can run out and come back.
class SmallDisk {
 public:
  SmallDisk(Way how, const std::string& dir, const std::string& limitFile)
      : how_(how), dir_(dir), limitFile_(limitFile) {
    ::mkdir(dir.c_str(), 0700);
    if (how == Way::kTmpfs) {
      ready_ = ::geteuid() == 0 && ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=3m") == 0;
      mounted_ = ready_;
    } else {
      Limit("1000000");
      ready_ = ::setenv("ZDBD_PAGE_LIMIT_FILE", limitFile.c_str(), 1) == 0;
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (how_ == Way::kPageLimit) ::unsetenv("ZDBD_PAGE_LIMIT_FILE");
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool ready() const { return ready_; }

  // Leaves no room: a filler file until the file system refuses more, or a page limit that
  // SQLite raises to the database's present size.
  bool Fill() {
    if (how_ == Way::kPageLimit) return Limit("1");
    std::FILE* f = std::fopen(Filler().c_str(), "wb");
    if (!f) return false;
    std::setvbuf(f, nullptr, _IONBF, 0);
    std::vector<char> block(4096, 'f');
    long total = 0;
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) total += 4096;
    std::fclose(f);
    return total > 0;
  }
  void Free() {
    if (how_ == Way::kPageLimit)
      Limit("1000000");
    else
      std::remove(Filler().c_str());
  }

 private:
  bool Limit(const char* pages) {
    std::FILE* f = std::fopen(limitFile_.c_str(), "w");
    if (!f) return false;
    bool ok = std::fputs(pages, f) >= 0;
    return std::fclose(f) == 0 && ok;
  }
  std::string Filler() const { return dir_ + "/filler"; }
  Way how_;
  std::string dir_, limitFile_;
  bool ready_ = false, mounted_ = false;
};

std::string Key(int i, char prefix = 'k') {
  char k[16];
  std::snprintf(k, sizeof k, "%c%06d", prefix, i);
  return k;
}

int32_t Append(const std::string& key) {
  std::string payload(200, static_cast<char>('a' + key.back() % 26));
  char* values[2] = {const_cast<char*>(key.c_str()), payload.data()};
  return ZDB_PutWrite("K,V", values);
}

// Every record's key (checked against its payload), in record order.
std::vector<std::string> Keys(std::string* problem) {
  std::vector<std::string> keys;
  char mode[8] = "FIRST";
  for (;;) {
    char* values[2] = {nullptr, nullptr};
    char option[8] = "";
    int32_t rc = ZDB_GetRead(mode, option, "K,V", values);
    std::string key = values[0] ? values[0] : "", payload = values[1] ? values[1] : "";
    std::free(values[0]);
    std::free(values[1]);
    if (rc == 4042) break;
    if (rc != 1000) {
      *problem = "reading the records ended with " + std::to_string(rc);
      break;
    }
    if (key.empty() || payload != std::string(200, static_cast<char>('a' + key.back() % 26)))
      *problem = "record " + key + " holds another payload";
    keys.push_back(key);
    std::snprintf(mode, sizeof mode, "NEXT");
  }
  return keys;
}

// What differs between the records found and the writes answered 1000, in words.
std::string Difference(const std::vector<std::string>& found,
                       const std::vector<std::string>& answered) {
  std::set<std::string> f(found.begin(), found.end()), a(answered.begin(), answered.end());
  std::string missing, extra;
  for (const auto& k : a)
    if (!f.count(k)) missing += " " + k;
  for (const auto& k : f)
    if (!a.count(k)) extra += " " + k;
  if (missing.empty() && extra.empty() && found != answered) return "some keys twice";
  return "missing:" + missing + "; not answered:" + extra;
}

void Open(const ZdbdProcess& server, bool create) {
  ASSERT_EQ(ZDB_SelHost(server.host().c_str()), 1000);
  ASSERT_EQ(ZDB_Connection(ZDB_CONNECTION_HELD), 1000);
  ASSERT_EQ(ZDB_Init("", ""), 1000);
  if (create) {
    ASSERT_EQ(Z_NewDB("SHOP", "", "", 0, ""), 1000);
  }
  ASSERT_EQ(ZDB_UseDB("SHOP"), 1000);
  ASSERT_EQ(ZDB_SelDB("SHOP"), 1000);
  if (create) {
    uint8_t tableRecord[ZDB_TABLE_RECORD_SIZE] = {};
    ASSERT_EQ(Z_CreTable("ITEMS", "K C 7; V C 200", "items", tableRecord), 1000);
  }
  ASSERT_EQ(ZDB_OpenTable("ITEMS", "", ""), 1000);
  ASSERT_EQ(ZDB_SelTable("ITEMS", ""), 1000);
}

void Close() {
  ZDB_Finish();
  RemoveSessionForThread(platform::CurrentThreadId());
}

std::vector<std::string> LeftOver(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::string n = e.path().filename().string();
    if (n.rfind(".import-", 0) == 0 || n.rfind(".export-", 0) == 0) names.push_back(n);
  }
  return names;
}

// A second session that writes beside the first until the disk refuses it 20 times, so that
// the groups that fail hold the changes of two sessions.
struct Writer {
  std::vector<std::string> answered;
  int refused = 0;
  std::string failure;
  int next = 0;

  void Run(const ZdbdProcess& server) {
    Open(server, false);
    if (::testing::Test::HasFatalFailure()) failure = "the second session could not start";
    int refusedNow = 0;
    for (int tries = 0; failure.empty() && tries < 3000 && refusedNow < 20; ++tries, ++next) {
      int32_t rc = Append(Key(next, 'w'));
      if (rc == 1000)
        answered.push_back(Key(next, 'w'));
      else if (rc == kDiskFull)
        ++refusedNow;
      else
        failure = "write " + Key(next, 'w') + " answered " + std::to_string(rc);
    }
    refused += refusedNow;
    if (failure.empty() && refusedNow < 20) failure = "the disk never refused the second session";
    Close();
  }
};

// Writes new keys from *next on until `refusals` of them are refused (or 3000 tries); returns
// how many were refused. Each refusal must be the disk-full status.
int WriteUntilRefused(int refusals, int* next, std::vector<std::string>* answered) {
  int refused = 0;
  for (int tries = 0; tries < 3000 && refused < refusals; ++tries, ++*next) {
    int32_t rc = Append(Key(*next));
    if (rc == 1000) {
      answered->push_back(Key(*next));
    } else {
      EXPECT_EQ(rc, kDiskFull) << "write " << *next;
      ++refused;
    }
  }
  return refused;
}

void RunOnFullDisk(Way how, bool durable) {
  TempDir dir;
  const std::string data = dir.path() + "/data";
  SmallDisk disk(how, data, dir.path() + "/page-limit");
  struct Ending {
    ~Ending() { Close(); }  // also when a check ends the case early: no session left open
  } ending;
  if (!disk.ready()) GTEST_SKIP() << "mounting a tmpfs needs root: this case did not run";
  std::vector<std::string> extra;
  if (durable) extra.push_back("--durable");
  auto server = std::make_unique<ZdbdProcess>(data, extra);
  ASSERT_TRUE(server->running());
  Open(*server, true);
  if (::testing::Test::HasFatalFailure()) return;

  std::vector<std::string> answered;
  Writer other;
  int next = 0;
  for (; next < 50; ++next) {
    ASSERT_EQ(Append(Key(next)), 1000);
    answered.push_back(Key(next));
  }
  // Three times: written until the server says it is full and on, the refusals must keep
  // coming; reads, an import and an export meanwhile; then the space returns.
  int refused = 0;
  const std::string upload = dir.path() + "/upload.bin", report = dir.path() + "/report.txt";
  {
    std::FILE* f = std::fopen(upload.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string junk(256 << 10, 'u');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(disk.Fill());
    std::thread beside([&] { other.Run(*server); });
    int refusedNow = WriteUntilRefused(20, &next, &answered);
    beside.join();
    ASSERT_EQ(other.failure, "");
    ASSERT_EQ(refusedNow, 20) << "the server never reported the full disk";
    refused += refusedNow;
    char text[ZDB_ERROR_TEXT_SIZE] = {};
    ASSERT_EQ(ZDB_GetError(kDiskFull, text), 1000);
    // The fixed text, then the system's reason.
    EXPECT_EQ(std::string(text).rfind("Disk full", 0), 0u) << text;
    EXPECT_NE(std::string(text).find(": database or disk is full"), std::string::npos) << text;

    // Reads go on and show the last answered write (of either session).
    char mode[8] = "LAST";
    char option[8] = "";
    char* values[2] = {nullptr, nullptr};
    ASSERT_EQ(ZDB_GetRead(mode, option, "K,V", values), 1000);
    std::string last = values[0] ? values[0] : "";
    EXPECT_TRUE(last == answered.back() ||
                (!other.answered.empty() && last == other.answered.back()))
        << last;
    std::free(values[0]);
    std::free(values[1]);
    values[0] = values[1] = nullptr;

    // Import and export out of space: the status, no file left, the connection still works.
    if (how == Way::kTmpfs) {
      EXPECT_EQ(Z_ImportDB("COPY", "", upload.c_str(), report.c_str()), kDiskFull);
      // With changes waiting the import is refused before its upload is stored; otherwise
      // the upload itself meets the full file system.
      ASSERT_EQ(ZDB_GetError(kDiskFull, text), 1000);
      EXPECT_NE(std::string(text).find(durable ? "No space left on device" : "disk is full"),
                std::string::npos)
          << text;
      EXPECT_EQ(Z_ExportDB("SHOP", "", (dir.path() + "/shop.export").c_str()), kDiskFull);
      EXPECT_EQ(LeftOver(data), std::vector<std::string>{});
    }
    std::strcpy(mode, "FIRST");
    ASSERT_EQ(ZDB_GetRead(mode, option, "K,V", values), 1000);
    EXPECT_EQ(std::string(values[0] ? values[0] : ""), answered.front());
    std::free(values[0]);
    std::free(values[1]);

    // Space returns: writes are taken again by themselves.
    disk.Free();
    int32_t rc = kDiskFull;
    for (int i = 0; i < 400 && rc == kDiskFull; ++i) {
      rc = Append(Key(next));
      if (rc == kDiskFull) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(rc, 1000) << "writes were not taken again once the space returned";
    answered.push_back(Key(next++));
    for (int i = 0; i < 20; ++i, ++next) {
      ASSERT_EQ(Append(Key(next)), 1000);
      answered.push_back(Key(next));
    }
  }

  answered.insert(answered.end(), other.answered.begin(), other.answered.end());
  std::sort(answered.begin(), answered.end());
  std::string problem;
  auto found = Keys(&problem);
  std::sort(found.begin(), found.end());  // each key once: a write carried out twice shows
  EXPECT_EQ(found.size(), answered.size());
  EXPECT_TRUE(found == answered) << Difference(found, answered);
  EXPECT_EQ(problem, "");
  Close();
  if (!durable) {
    EXPECT_NE(server->Log().find("wait"), std::string::npos) << server->Log();
  }
  // The default mode commits on its way out; --durable has nothing left to commit, so a kill
  // must lose nothing either.
  if (durable) {
    server->Kill();
    ASSERT_TRUE(server->WaitExit(10000));
  } else {
    ASSERT_EQ(server->Stop(), 0);
  }

  server = std::make_unique<ZdbdProcess>(data, extra);
  ASSERT_TRUE(server->running());
  Open(*server, false);
  if (::testing::Test::HasFatalFailure()) return;
  found = Keys(&problem);
  std::sort(found.begin(), found.end());
  EXPECT_TRUE(found == answered) << "after the restart: " << Difference(found, answered);
  EXPECT_EQ(problem, "");
  Close();
  std::printf("[ disk full (%s), %s mode: %zu answered writes checked, %d refused ]\n",
              how == Way::kTmpfs ? "tmpfs" : "page limit", durable ? "durable" : "default",
              answered.size(), refused + other.refused);
}

// Answered writes wait for space when SIGTERM comes: zdbd takes no new connection, still answers
// UDP probes, refuses to remove the database meanwhile, and ends by itself with status 0 once the
// space returns; after a restart every answered write is there.
TEST(ServerDiskFull, StopWaitsForTheAnsweredChangesOnAFullTmpfs) {
  TempDir dir;
  const std::string data = dir.path() + "/data";
  SmallDisk disk(Way::kTmpfs, data, dir.path() + "/page-limit");
  struct Ending {
    ~Ending() { Close(); }
  } ending;
  if (!disk.ready()) GTEST_SKIP() << "mounting a tmpfs needs root: this case did not run";
  auto server = std::make_unique<ZdbdProcess>(data);
  ASSERT_TRUE(server->running());
  Open(*server, true);
  if (::testing::Test::HasFatalFailure()) return;
  std::vector<std::string> answered;
  int next = 0;
  for (; next < 20; ++next) {
    ASSERT_EQ(Append(Key(next)), 1000);
    answered.push_back(Key(next));
  }
  ASSERT_TRUE(disk.Fill());
  ASSERT_EQ(WriteUntilRefused(5, &next, &answered), 5) << "the server never reported the full disk";
  // Writes are refused for the database as a whole only once answered changes wait.
  ASSERT_NE(server->Log().find("answered changes of database SHOP wait"), std::string::npos)
      << server->Log();
  // Removing the database would drop what waits: refused with the same status.
  EXPECT_EQ(Z_DelDB(), kDiskFull);

  server->Terminate();
  EXPECT_FALSE(server->WaitExit(1000)) << "zdbd ended while answered changes waited:\n"
                                       << server->Log();
  if (!server->running()) return;
  EXPECT_NE(server->Log().find("free space on the disk to let the stop finish (SIGKILL"),
            std::string::npos)
      << server->Log();
  EXPECT_FALSE(RawClient(server->port()).connected()) << "a connection was taken during the stop";
  EXPECT_NE(Append(Key(next)), 1000) << "a write was answered during the stop";
  EXPECT_FALSE(ControlExchange(server->port(), wire::kCodeProbe).empty())
      << "the waiting server does not answer a probe";
  EXPECT_EQ(ControlExchange(server->port(), wire::kCodeStop).size(), 6u);
  EXPECT_TRUE(server->running());

  disk.Free();
  int status = -1;
  ASSERT_TRUE(server->WaitExit(10000, &status)) << "zdbd did not end once the space returned";
  EXPECT_EQ(status, 0);
  Close();

  server = std::make_unique<ZdbdProcess>(data);
  ASSERT_TRUE(server->running());
  Open(*server, false);
  if (::testing::Test::HasFatalFailure()) return;
  std::string problem;
  auto found = Keys(&problem);
  std::sort(found.begin(), found.end());
  std::sort(answered.begin(), answered.end());
  EXPECT_TRUE(found == answered) << "after the restart: " << Difference(found, answered);
  EXPECT_EQ(problem, "");
}

TEST(ServerDiskFull, DefaultModeLosesNoAnsweredWriteOnAFullTmpfs) {
  RunOnFullDisk(Way::kTmpfs, false);
}

TEST(ServerDiskFull, DurableModeAnswersNoWriteItCannotCommitOnAFullTmpfs) {
  RunOnFullDisk(Way::kTmpfs, true);
}

TEST(ServerDiskFull, DefaultModeLosesNoAnsweredWriteAtSqlitesPageLimit) {
  RunOnFullDisk(Way::kPageLimit, false);
}

TEST(ServerDiskFull, DurableModeAnswersNoWriteItCannotCommitAtSqlitesPageLimit) {
  RunOnFullDisk(Way::kPageLimit, true);
}

}  // namespace
}  // namespace zdb::test
