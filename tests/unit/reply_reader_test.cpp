#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/file_block.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "wire/reply_reader.h"

namespace zdb::wire {
namespace {

using Bytes = std::vector<uint8_t>;

// What the handler saw, as one text, so that runs over different cuts compare whole.
struct Recorder {
  std::string log;
  Bytes file, records;
  void FileLength(int32_t n) { log += "file " + std::to_string(n) + ";"; }
  void StreamData(ReplyReader::Part part, const uint8_t* p, size_t n) {
    Bytes& to = part == ReplyReader::Part::kRecords ? records : file;
    to.insert(to.end(), p, p + n);
  }
  void RecordsEnd() { log += "end;"; }
};

struct Outcome {
  std::string log;
  Bytes file, records, frame;
  ReplyReader::Status status = ReplyReader::Status::kMore;
  size_t consumed = 0;
  int32_t statusWord = 0;
  bool operator==(const Outcome&) const = default;
};

Outcome Read(uint16_t kindFlags, size_t total, const Bytes& reply, size_t piece) {
  ReplyReader reader;
  Outcome o;
  o.frame.assign(total, 0xEE);
  reader.Begin(kindFlags, o.frame.data(), total);
  Recorder rec;
  for (size_t off = 0; off < reply.size(); off += piece) {
    size_t used = 0;
    o.status = reader.Feed(reply.data() + off, std::min(piece, reply.size() - off), &used, rec);
    o.consumed = off + used;
    if (o.status != ReplyReader::Status::kMore) break;
  }
  o.log = rec.log;
  o.file = rec.file;
  o.records = rec.records;
  if (o.status == ReplyReader::Status::kDone) o.statusWord = reader.StatusWord();
  return o;
}

void Append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}
Bytes Word(int32_t v) {
  Bytes b(4);
  PutI32(b.data(), v);
  return b;
}

TEST(ReplyReader, EveryPartReadAlikeWhereverTheReceivesCut) {
  // A file of 70 bytes, a status word and a byte of the next reply.
  Bytes file(70);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 3);
  Bytes exportReply(kFileBlockHeaderSize);
  EncodeFileBlockHeader(70, exportReply.data());
  Append(exportReply, file);
  Append(exportReply, Word(3003));
  exportReply.push_back(0x55);
  // Records "abc" and a two-byte record that is not the end mark, the end mark, the status.
  Bytes scriptReply = {3, 0, 0, 0, 'a', 'b', 'c', 2, 0, 0, 0, 0x03, 0x05, 2, 0, 0, 0, 0x03, 0x04};
  Append(scriptReply, Word(1000));
  // A full reply: status 4071 at its place, one slot of 5 bytes.
  Bytes frame(kHeaderSize + 5, 0x11);
  PutI32(frame.data() + kOffStatus, 4071);

  const Outcome ex = Read(kExportKind, kHeaderSize, exportReply, exportReply.size());
  EXPECT_EQ(ex.status, ReplyReader::Status::kDone);
  EXPECT_EQ(ex.log, "file 70;");
  EXPECT_EQ(ex.file, file);
  EXPECT_EQ(ex.statusWord, 3003);
  EXPECT_EQ(ex.consumed, exportReply.size() - 1);  // the next reply's byte is left
  const Outcome sc = Read(kScriptKind, kHeaderSize, scriptReply, scriptReply.size());
  EXPECT_EQ(sc.log, "end;");
  EXPECT_EQ(sc.records, (Bytes{'a', 'b', 'c', 0x03, 0x05}));
  EXPECT_EQ(sc.statusWord, 1000);
  const Outcome fr = Read(kPlain, frame.size(), frame, frame.size());
  EXPECT_EQ(fr.frame, frame);
  EXPECT_EQ(fr.statusWord, 4071);
  for (size_t piece = 1; piece < 80; ++piece) {
    EXPECT_EQ(Read(kExportKind, kHeaderSize, exportReply, piece), ex) << piece;
    EXPECT_EQ(Read(kScriptKind, kHeaderSize, scriptReply, piece), sc) << piece;
    EXPECT_EQ(Read(kPlain, frame.size(), frame, piece), fr) << piece;
  }
}

TEST(ReplyReader, NegativeRecordLengthStopsAndUnreadStatusKeepsThePreset) {
  const Bytes broken = {1, 0, 0, 0, 'x', 0xFF, 0xFF, 0xFF, 0xFF, 9, 9};
  const Outcome o = Read(kScriptKind, kHeaderSize, broken, 3);
  EXPECT_EQ(o.status, ReplyReader::Status::kNegativeLength);
  EXPECT_EQ(o.consumed, 9u);
  EXPECT_EQ(o.records, Bytes{'x'});

  // The exchange receives the word in place; a stream closed between records leaves the
  // preset, which is what a status-only request then reports.
  ReplyReader reader;
  reader.Begin(kScriptKind, nullptr, kHeaderSize);
  EXPECT_TRUE(reader.InStreams());
  reader.EndRecordsEarly();
  EXPECT_EQ(reader.part(), ReplyReader::Part::kStatus);
  EXPECT_EQ(reader.Missing(), 4u);
  EXPECT_EQ(reader.StatusWord(), kStatusPreset);
  PutI32(reader.Space(), 2013);
  reader.Received(2);
  EXPECT_FALSE(reader.Done());
  reader.Received(2);
  EXPECT_TRUE(reader.Done());
  EXPECT_EQ(reader.StatusWord(), 2013);
}

}  // namespace
}  // namespace zdb::wire
