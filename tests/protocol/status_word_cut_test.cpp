// A status word that does not arrive whole is a communication failure, never a status made of
// the bytes that came and the preset: alone, after a file stream and after a record stream.
#include <gtest/gtest.h>

#include <string>

#include "support/scripted_peer.h"
#include "support/stream_helpers.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb {
namespace {

using test::Bytes;

// The first `keep` bytes of the status 1805 (0x070D): with the preset 2001 (0x07D1) behind
// them, one byte reads as 1805 and the preset's tail makes up the rest.
Bytes CutStatus(size_t keep) {
  Bytes w;
  test::AppendStatus(w, 1805);
  return Bytes(w.begin(), w.begin() + static_cast<long>(keep));
}

TEST(StatusWordCut, PlainStatusOnlyReply) {
  test::ScriptedPeer peer;
  test::ThreadSession thread(peer);
  for (size_t keep = 0; keep <= 4; ++keep) {
    peer.OnOpcode(Opcode("PutField"), [keep](const test::Request&, test::PeerConnection& c) {
      c.Write(CutStatus(keep));
      return false;
    });
    char value[] = "x";
    // Nothing at all leaves the preset, which is 2001 too; a whole word is the server's.
    EXPECT_EQ(ZDB_PutField(const_cast<char*>("NAME"), value, 2), keep == 4 ? 1805 : 2001)
        << keep << " bytes";
  }
}

TEST(StatusWordCut, StatusAfterAFileStream) {
  test::ScratchDir dir;
  test::ScriptedPeer peer;
  test::ThreadSession thread(peer);
  const std::string down = dir.Path("down.bin");
  for (size_t keep = 1; keep <= 4; ++keep) {
    peer.OnOpcode(Opcode("ExportDB"), [keep](const test::Request&, test::PeerConnection& c) {
      c.SendFile(test::Pattern(100, 1));
      c.Write(CutStatus(keep));
      return false;
    });
    EXPECT_EQ(Z_ExportDB("sales", "full", down.c_str()), keep == 4 ? 1805 : 2001)
        << keep << " bytes";
  }
}

TEST(StatusWordCut, StatusAfterARecordStream) {
  test::ScratchDir dir;
  test::ScriptedPeer peer;
  test::ThreadSession thread(peer);
  const std::string out = dir.Path("out.txt");
  for (size_t keep = 1; keep <= 4; ++keep) {
    peer.OnOpcode(Opcode("Login"), [keep](const test::Request& req, test::PeerConnection& c) {
      if (req.header.kind != 2) return c.ReplyFull(req, 1000, 0x1234);
      test::ReceivedFile script;
      if (!test::ReadUploadedFile(c, &script)) return false;
      Bytes stream;
      test::AppendRecord(stream, {'a', 'b'});
      test::AppendEndMark(stream);
      const Bytes cut = CutStatus(keep);
      stream.insert(stream.end(), cut.begin(), cut.end());
      c.Write(stream);
      return false;
    });
    EXPECT_EQ(ZDB_SqlRun("#select 1", out.c_str(), nullptr, 0), keep == 4 ? 1805 : 2001)
        << keep << " bytes";
  }
}

}  // namespace
}  // namespace zdb
