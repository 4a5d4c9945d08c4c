#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/buffered_file.h"
#include "requests/sql_run.h"
#include "wire/le.h"
#include "wire/record_stream.h"

namespace zdb {
namespace {

using Bytes = std::vector<uint8_t>;
using wire::RecordStreamParser;

void AddRecord(Bytes& s, const Bytes& data) {
  uint8_t len[4];
  wire::PutI32(len, static_cast<int32_t>(data.size()));
  s.insert(s.end(), len, len + 4);
  s.insert(s.end(), data.begin(), data.end());
}

Bytes Filled(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

struct Outcome {
  RecordStreamParser::Status status = RecordStreamParser::Status::kMore;
  Bytes data;
  size_t consumed = 0;  // stream bytes up to and including what ended the parse
  bool betweenRecords = false;
  int64_t records = 0;
  int32_t lastLength = 0;
};

// Feeds the stream cut into pieces of `piece` bytes, as receives of any size would deliver it.
Outcome Parse(const Bytes& stream, size_t piece) {
  RecordStreamParser parser;
  Outcome o;
  auto sink = [&o](const uint8_t* p, size_t n) { o.data.insert(o.data.end(), p, p + n); };
  for (size_t off = 0; off < stream.size(); off += piece) {
    const size_t n = std::min(piece, stream.size() - off);
    size_t used = 0;
    o.status = parser.Feed(stream.data() + off, n, &used, sink);
    o.consumed = off + used;
    if (o.status != RecordStreamParser::Status::kMore) break;
  }
  o.betweenRecords = parser.BetweenRecords();
  o.records = parser.Records();
  o.lastLength = parser.LastLength();
  return o;
}

TEST(RecordStreamParser, SameOutcomeForEveryWayTheStreamIsCut) {
  const Bytes five = Filled(5, 1), big = Filled(7000, 3), twoOther = {0x03, 0x05};
  Bytes stream, shortOnes;
  // Many short records in a row, as one receive holds them: lengths 1 to 40, 2 left out.
  for (size_t n = 1; n <= 40; ++n) {
    if (n == 2) continue;
    const Bytes r = Filled(n, static_cast<uint8_t>(n));
    AddRecord(stream, r);
    shortOnes.insert(shortOnes.end(), r.begin(), r.end());
  }
  AddRecord(stream, five);
  AddRecord(stream, {});
  AddRecord(stream, big);
  AddRecord(stream, twoOther);  // two bytes, but not the mark: data
  AddRecord(stream, {0x04, 0x03});
  AddRecord(stream, {0x03, 0x04, 0x00});  // starts like the mark, length 3: data
  AddRecord(stream, {0x03, 0x04});
  const size_t endOfMark = stream.size();
  stream.insert(stream.end(), {0xE8, 0x03, 0x00, 0x00});  // status word after the mark

  Bytes expected = shortOnes;
  expected.insert(expected.end(), five.begin(), five.end());
  expected.insert(expected.end(), big.begin(), big.end());
  expected.insert(expected.end(), {0x03, 0x05, 0x04, 0x03, 0x03, 0x04, 0x00});
  ASSERT_EQ(expected.size(), 818u + 7005u + 7u);
  for (size_t piece : {1, 2, 3, 4, 5, 7, 13, 3072, 4096, 65536}) {
    SCOPED_TRACE(piece);
    Outcome o = Parse(stream, piece);
    EXPECT_EQ(o.status, RecordStreamParser::Status::kEndMark);
    EXPECT_EQ(o.data, expected);
    EXPECT_EQ(o.consumed, endOfMark);
    EXPECT_EQ(o.records, 39 + 6);  // the end mark is no record
  }
}

TEST(RecordStreamParser, NegativeLengthAndStreamsThatStopEarly) {
  Bytes stream;
  AddRecord(stream, Filled(3, 9));
  stream.insert(stream.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  AddRecord(stream, Filled(3, 1));
  for (size_t piece : {2, 7, 64}) {  // in pieces, and whole in one receive
    SCOPED_TRACE(piece);
    Outcome o = Parse(stream, piece);
    EXPECT_EQ(o.status, RecordStreamParser::Status::kNegativeLength);
    EXPECT_EQ(o.data, Filled(3, 9));
    EXPECT_EQ(o.consumed, 11u);
    EXPECT_EQ(o.records, 1);
    EXPECT_EQ(o.lastLength, -1);
  }

  // Cut inside a length word: still between records. Cut inside data: not.
  Bytes partial;
  AddRecord(partial, Filled(4, 2));
  partial.insert(partial.end(), {0x09, 0x00});
  EXPECT_TRUE(Parse(partial, 3).betweenRecords);
  Bytes inData;
  AddRecord(inData, Filled(10, 2));
  inData.resize(9);
  Outcome cut = Parse(inData, 4);
  EXPECT_FALSE(cut.betweenRecords);
  EXPECT_EQ(cut.data, Filled(5, 2));

  // The first byte of a two-byte record is held until its second shows up, and released when
  // the stream breaks off.
  RecordStreamParser parser;
  Bytes got;
  auto sink = [&got](const uint8_t* p, size_t n) { got.insert(got.end(), p, p + n); };
  const Bytes head = {0x02, 0x00, 0x00, 0x00, 0x03};
  size_t used = 0;
  EXPECT_EQ(parser.Feed(head.data(), head.size(), &used, sink), RecordStreamParser::Status::kMore);
  EXPECT_TRUE(got.empty());
  EXPECT_FALSE(parser.BetweenRecords());
  parser.ReleaseHeld(sink);
  EXPECT_EQ(got, Bytes{0x03});
}

class TempPath {
 public:
  explicit TempPath(const char* tag)
      : path_(platform::TempDirectory() + "zdb_unit_" + tag + std::to_string(::getpid())) {}
  ~TempPath() { std::remove(path_.c_str()); }
  const char* c_str() const { return path_.c_str(); }

 private:
  std::string path_;
};

void WriteFile(const char* path, const std::string& content) {
  platform::File f;
  ASSERT_TRUE(f.Create(path));
  ASSERT_TRUE(f.Write(content.data(), content.size()));
}

std::string ReadFile(const char* path) {
  platform::File f;
  if (!f.OpenRead(path)) return "<missing>";
  std::string all;
  char buf[4096];
  for (long r; (r = f.Read(buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(r));
  return all;
}

TEST(BufferedFile, WriterKeepsOrderAcrossFlushesAndLargeWrites) {
  TempPath path("writer");
  std::string expected;
  {
    platform::File f;
    ASSERT_TRUE(f.Create(path.c_str()));
    BufferedFileWriter w(f);
    ASSERT_TRUE(w.ok());
    for (int i = 0; i < 5000; ++i) {
      const std::string s = std::to_string(i) + ",";
      w.Append(reinterpret_cast<const uint8_t*>(s.data()), s.size());
      expected += s;
      w.Put('.');
      expected += '.';
    }
    const std::string large(BufferedFileWriter::kCapacity + 17, 'L');
    w.Append(reinterpret_cast<const uint8_t*>(large.data()), large.size());
    expected += large;
    w.Put('!');
    expected += '!';
    ASSERT_TRUE(w.Flush());
  }
  EXPECT_EQ(ReadFile(path.c_str()), expected);
}

// Runs the script copy over a file holding `script`; returns the code and the copy.
std::pair<int32_t, std::string> Convert(const std::string& script, const char* parameters) {
  TempPath in("script"), out("converted");
  WriteFile(in.c_str(), script);
  platform::File src, dst;
  EXPECT_TRUE(src.OpenRead(in.c_str()));
  EXPECT_TRUE(dst.Create(out.c_str()));
  int32_t r = ConvertScript(src, dst, parameters);
  dst.Close();
  return {r, ReadFile(out.c_str())};
}

TEST(ScriptParameters, LookupFollowsTheFirstOccurrenceOfTheKey) {
  char v[kScriptValueSize];
  EXPECT_EQ(LookupScriptParameter(2, "&1=abc;&2=xyz", v), 0);
  EXPECT_STREQ(v, "xyz");
  EXPECT_EQ(LookupScriptParameter(1, "&1=abc;&2=xyz", v), 0);
  EXPECT_STREQ(v, "abc");
  EXPECT_EQ(LookupScriptParameter(3, "&1=abc;&2=xyz", v), kErrArgument);
  EXPECT_EQ(LookupScriptParameter(1, nullptr, v), kErrArgument);
  EXPECT_EQ(LookupScriptParameter(0, "&0=zero", v), kErrArgument);
  EXPECT_EQ(LookupScriptParameter(1, "&12=a;&1=b", v), 0);
  EXPECT_STREQ(v, "b");
  // A key inside an earlier value wins: the search is over the whole text.
  EXPECT_EQ(LookupScriptParameter(2, "&1=x&2=in;&2=out", v), 0);
  EXPECT_STREQ(v, "in");
  EXPECT_EQ(LookupScriptParameter(1, "&1=", v), 0);
  EXPECT_STREQ(v, "");

  // 255 characters fit the buffer with their zero; 256 are refused, nothing written past it.
  char guarded[kScriptValueSize + 8];
  std::memset(guarded, 'G', sizeof guarded);
  const std::string fits = "&1=" + std::string(255, 'v');
  EXPECT_EQ(LookupScriptParameter(1, fits.c_str(), guarded), 0);
  EXPECT_EQ(std::strlen(guarded), 255u);
  EXPECT_EQ(guarded[kScriptValueSize], 'G');
  const std::string tooLong = "&1=" + std::string(256, 'v') + ";&2=ok";
  EXPECT_EQ(LookupScriptParameter(1, tooLong.c_str(), guarded), kErrArgument);
  EXPECT_EQ(guarded[kScriptValueSize], 'G');
  EXPECT_EQ(LookupScriptParameter(2, tooLong.c_str(), guarded), 0);
  EXPECT_STREQ(guarded, "ok");
}

TEST(ScriptParameters, ConversionReplacesReferencesAndKeepsEverythingElse) {
  using std::string;
  const string z(1, '\0');
  EXPECT_EQ(Convert("select 1", nullptr), std::make_pair(0, string("select 1")));
  EXPECT_EQ(Convert(string("#abc") + z, nullptr), std::make_pair(0, string("#abc") + z));
  // Value, its zero byte, then the character that ended the number.
  EXPECT_EQ(Convert("a=&1 and b=&12;", "&12=twelve;&1=one"),
            std::make_pair(0, "a=one" + z + " and b=twelve" + z + ";"));
  // A reference at the end of the file, and one ended by a zero byte (not written again).
  EXPECT_EQ(Convert("x&2", "&2=v"), std::make_pair(0, "xv" + z));
  EXPECT_EQ(Convert("x&2" + z, "&2=v"), std::make_pair(0, "xv" + z));
  // "&" without a digit is copied; the ending character is not read as a new reference.
  EXPECT_EQ(Convert("a & b &x &", nullptr), std::make_pair(0, string("a & b &x &")));
  EXPECT_EQ(Convert("&&1&1", "&1=q"), std::make_pair(0, "&q" + z + "&1"));
  EXPECT_EQ(Convert("&01.", "&1=q"), std::make_pair(0, "q" + z + "."));
  EXPECT_EQ(Convert("n=&0 ", "&0=zero").first, kErrArgument);
  EXPECT_EQ(Convert("n=&3 ", "&1=a;&2=b").first, kErrArgument);
  EXPECT_EQ(Convert("n=&1 ", nullptr).first, kErrArgument);
  EXPECT_EQ(Convert("n=&99999999999 ", "&99999999999=big").first, kErrArgument);

  // A large script goes through the buffers intact.
  string big;
  for (int i = 0; big.size() < 1000000; ++i) big += "row " + std::to_string(i) + " &1\n";
  string want;
  for (int i = 0; want.size() < 1000000; ++i) want += "row " + std::to_string(i) + " &1\n";
  size_t at = 0;
  while ((at = want.find("&1", at)) != string::npos) {
    want.replace(at, 2, "V" + z);
    at += 2;
  }
  auto [code, out] = Convert(big, "&1=V");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, want);
}

}  // namespace
}  // namespace zdb
