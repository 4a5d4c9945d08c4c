// Every reply shape the library reads over TCP, cut after every byte offset in turn, in both
// connection modes. Each cut must give 2001 (or the documented code), write nothing past the
// caller's buffers, leave no descriptor and no temporary file behind, and leave the thread able
// to make its next request.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "support/fault_checks.h"
#include "support/scripted_peer.h"
#include "support/stream_helpers.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;
using test::GuardedBuffer;
using test::PeerConnection;
using test::Request;

constexpr uint16_t kPersistent = 3 | 0x10;

// One reply shape: which request it answers, the whole answer the server gives, and the
// exported call that reads it (returning its ResultCode).
struct Shape {
  const char* name;
  uint32_t opcode;
  uint8_t kind;
  std::function<Bytes(const Request&)> answer;
  std::function<int32_t()> call;
  int32_t whole;    // the call's result when the answer arrives whole
  int32_t cut;      // and when it is cut anywhere
  bool loginFirst;  // the shape is the login itself: the Session is logged out first
  GuardedBuffer* guarded = nullptr;
};

Bytes Status(int32_t s) {
  Bytes b;
  test::AppendStatus(b, s);
  return b;
}

class CutSweep : public ::testing::TestWithParam<uint16_t> {
 protected:
  void SetUp() override {
    thread_ = std::make_unique<test::ThreadSession>(peer_, GetParam());
    ASSERT_EQ(ZDB_Init("", ""), 1000);
  }
  void TearDown() override { thread_.reset(); }

  bool Persistent() const { return GetParam() != 3; }

  // Serves `shape` with the answer cut to `*keep` bytes (all when it is the whole length).
  void Serve(const Shape& shape, const size_t* keep) {
    peer_.OnOpcode(shape.opcode, [this, &shape, keep](const Request& req, PeerConnection& c) {
      if (req.header.kind != shape.kind) return c.ReplyFull(req, 1000, 0x1234);
      if (req.header.kind == 2) {
        test::ReceivedFile script;
        if (!test::ReadUploadedFile(c, &script)) return false;
      }
      const Bytes all = shape.answer(req);
      answerSize_ = all.size();
      // Only the request the sweep armed the cut for is cut; the recovery's requests go whole.
      const size_t n = armed_.exchange(false) ? std::min(*keep, all.size()) : all.size();
      c.Write(all.data(), n);
      if (n == all.size()) return true;
      c.Close();
      ++cutsServed_;
      return false;
    });
  }

  // The thread's next request works; in the persistent mode the dead held connection is first
  // given up by a logout, as the held connection outlives failures by design.
  void ExpectNextRequestWorks(const std::string& where) {
    char name[] = "FLAG";
    uint8_t indicator[2] = {1, 0};
    if (Persistent()) {
      ZDB_IsNull(name, indicator);
      ZDB_Finish();
    }
    EXPECT_EQ(ZDB_IsNull(name, indicator), 1000) << where;
  }

  void Sweep(const Shape& shape) {
    size_t keep = SIZE_MAX;
    Serve(shape, &keep);
    if (shape.loginFirst) {
      ASSERT_EQ(ZDB_Finish(), 1000);
    }
    ASSERT_EQ(shape.call(), shape.whole) << shape.name << " whole";
    const size_t length = answerSize_.load();
    ExpectNextRequestWorks("whole");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int fds = test::OpenFdCount();
    for (keep = 0; keep < length; ++keep) {
      const std::string where = std::string(shape.name) + " cut after " + std::to_string(keep);
      if (shape.loginFirst) ZDB_Finish();
      const int served = cutsServed_.load();
      if (shape.guarded) shape.guarded->Reset(0x5A);
      armed_ = true;
      EXPECT_EQ(shape.call(), shape.cut) << where;
      if (shape.guarded) {
        EXPECT_TRUE(shape.guarded->GuardIntact()) << where;
        // A reply that does not arrive whole writes nothing at all.
        EXPECT_EQ(shape.guarded->Contents(), Bytes(shape.guarded->size(), 0x5A)) << where;
      }
      while (cutsServed_.load() == served)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      ExpectNextRequestWorks(where);
      EXPECT_EQ(test::SettledFdCount(fds), fds) << where;
      EXPECT_TRUE(dir_.FilesStartingWith("scr").empty()) << where;
      EXPECT_TRUE(dir_.FilesStartingWith("con").empty()) << where;
      if (HasFailure()) return;  // one broken offset says enough
    }
  }

  test::ScratchDir dir_;
  test::ScriptedPeer peer_;
  std::unique_ptr<test::ThreadSession> thread_;
  std::atomic<int> cutsServed_{0};
  std::atomic<size_t> answerSize_{0};
  std::atomic<bool> armed_{false};
};

TEST_P(CutSweep, FullReply) {
  GuardedBuffer value(20);
  Shape s{"full reply",
          Opcode("GetField"),
          1,
          [](const Request& r) {
            Bytes reply = PeerConnection::FullReply(r, 1000, 0);
            std::fill(reply.begin() + 161 + 5, reply.begin() + 161 + 25, 'v');
            return reply;
          },
          [&value] {
            char name[] = "NOTE";
            return ZDB_GetField(name, value.data(), 20);
          },
          1000,
          2001,
          false,
          &value};
  Sweep(s);
}

TEST_P(CutSweep, StatusWord) {
  const Shape s{"status word",
                Opcode("PutField"),
                1,
                [](const Request&) { return Status(1805); },
                [] { return ZDB_PutField("NOTE", "abc", 4); },
                1805,
                2001,
                false};
  Sweep(s);
}

TEST_P(CutSweep, FileStreamWithHeaderAndStatus) {
  const std::string down = dir_.Path("down.bin");
  const Shape s{"file stream",
                Opcode("ExportDB"),
                1,
                [](const Request&) {
                  Bytes b(wire::kFileBlockHeaderSize, 0);
                  wire::EncodeFileBlockHeader(100, b.data());
                  const Bytes file = test::Pattern(100, 7);
                  b.insert(b.end(), file.begin(), file.end());
                  const Bytes st = Status(1805);
                  b.insert(b.end(), st.begin(), st.end());
                  return b;
                },
                [&down] { return Z_ExportDB("sales", "full", down.c_str()); },
                1805,
                2001,
                false};
  Sweep(s);
}

TEST_P(CutSweep, RecordStreamWithEndMarkAndStatus) {
  const std::string out = dir_.Path("out.txt");
  const Shape s{"record stream",
                Opcode("SqlRun"),
                2,
                [](const Request&) {
                  Bytes b;
                  test::AppendRecord(b, {'h', 'e', 'l', 'l', 'o'});
                  test::AppendRecord(b, {});
                  test::AppendRecord(b, {3, 4, 5, 6, 7, 8, 9});
                  test::AppendEndMark(b);
                  test::AppendStatus(b, 1805);
                  return b;
                },
                [&out] { return ZDB_SqlRun("#select &1", out.c_str(), "&1=x", 0); },
                1805,
                2001,
                false};
  Sweep(s);
}

TEST_P(CutSweep, LoginReply) {
  const Shape s{"login reply",
                Opcode("Login"),
                1,
                [](const Request& r) { return PeerConnection::FullReply(r, 1000, 0x1234); },
                [] { return ZDB_Init("user", "pw"); },
                1000,
                2001,
                true};
  Sweep(s);
}

TEST_P(CutSweep, VersionReplyAfterLogin) {
  // A version request that fails in transport does not undo the login it follows.
  const Shape s{"version reply",
                Opcode("GetVersion"),
                1,
                [](const Request& r) {
                  Bytes reply = PeerConnection::FullReply(r, 1000, 0x1234);
                  wire::PutU32(reply.data() + 161, 0x1234);
                  return reply;
                },
                [] { return ZDB_Init("user", "pw"); },
                1000,
                1000,
                true};
  Sweep(s);
}

INSTANTIATE_TEST_SUITE_P(Modes, CutSweep, ::testing::Values(uint16_t{3}, kPersistent),
                         [](const auto& info) {
                           return std::string(info.param == 3 ? "PerRequest" : "Held");
                         });

}  // namespace
}  // namespace zdb
