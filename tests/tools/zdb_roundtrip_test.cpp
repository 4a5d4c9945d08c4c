// Every value single-field calls carry survives zdb dump (SQLite and CSV), zdb load into a
// fresh zdbd and zdb sql in each format: random values of every type from a fixed seed, the
// awkward ones among them, compared field by field with ZDB_GetField and ZDB_IsNull, and the
// sql output read back by Python's csv and json modules.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/zdbd_process.h"
#include "tool_runner.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

enum class Kind { kText, kDate, kMemo, kBinary, kDouble, kInt };
struct Field {
  const char* name;
  Kind kind;
  uint32_t width;
};
constexpr Field kFields[] = {{"TXT", Kind::kText, 60},   {"DAY", Kind::kDate, 10},
                             {"MEMO", Kind::kMemo, 255}, {"BIN", Kind::kBinary, 255},
                             {"DBL", Kind::kDouble, 8},  {"QTY", Kind::kInt, 2}};
constexpr const char* kSpec = "TXT C 60; DAY C D; MEMO C M; BIN C B; DBL N; QTY I";

// A value as the field holds it: null, or its bytes (a double's or an int16's little-endian
// bytes for the numbers).
struct Value {
  bool null = true;
  std::string bytes;
};
using Record = std::vector<Value>;

std::string Le(const void* p, size_t n) {
  return std::string(static_cast<const char*>(p), n);
}

class Values {
 public:
  explicit Values(uint64_t seed) : rng_(seed) {}

  Value Make(Kind kind, size_t record) {
    // The first records hold the values known to have been lost before, one of each.
    if (record < 6) return Fixed(kind, record);
    if (Pick(10) == 0) return {};
    switch (kind) {
      case Kind::kText: {
        static const char* kTexts[] = {"",
                                       "O'Brien, \"x\"",
                                       "tab\there\nnew\r\nline",
                                       "\\N",
                                       "a\\tb\\",
                                       "&1 & ;",
                                       "na\xC3\xAFve caf\xC3\xA9 \xE2\x82\xAC",
                                       "\xE9t\xE9"};
        if (Pick(2) == 0) return {false, kTexts[Pick(std::size(kTexts))]};
        return {false, RandomText(Pick(61))};
      }
      case Kind::kDate: {
        char d[40];
        std::snprintf(d, sizeof d, "%04d-%02d-%02d", 1900 + Pick(200), 1 + Pick(12), 1 + Pick(28));
        return {false, Pick(8) ? d : ""};
      }
      case Kind::kMemo:
        return {false, RandomText(Pick(4) ? Pick(400) : 255 + Pick(5000))};
      case Kind::kBinary: {
        std::string b(Pick(300), '\0');
        for (char& c : b) c = static_cast<char>(Pick(3) ? Pick(256) : 0);
        // The server keeps binary values without their trailing zero bytes.
        while (!b.empty() && b.back() == 0) b.pop_back();
        return {false, b};
      }
      case Kind::kDouble: {
        double d;
        do {
          const uint64_t bits = rng_();
          std::memcpy(&d, &bits, 8);
        } while (!std::isfinite(d) || d == 0);
        return {false, Le(&d, 8)};
      }
      case Kind::kInt: {
        const auto v = static_cast<int16_t>(Pick(65536) - 32768);
        return {false, Le(&v, 2)};
      }
    }
    return {};
  }

 private:
  Value Fixed(Kind kind, size_t record) {
    switch (kind) {
      case Kind::kText:
        return record == 0 ? Value{} : Value{false, record == 1 ? "" : "items\tx\n"};
      case Kind::kDate:
        return record == 0 ? Value{} : Value{false, "2024-02-29"};
      case Kind::kMemo: {
        // 118,890 characters, 1 MiB, then short ones; tabs, newlines and UTF-8 in them.
        if (record == 0) return {};
        if (record == 1) return {false, ""};
        std::string m = RandomText(record == 2 ? 118890 : record == 3 ? (1 << 20) + 16 : 300);
        return {false, m};
      }
      case Kind::kBinary: {
        static const std::string kBins[] = {std::string("\x00\xFF\x10\x00\x01", 5),
                                            std::string("\x01\x00\x00\x02", 4),
                                            std::string(1, '\0') + "z"};
        if (record == 0) return {};
        return {false, kBins[record % 3]};
      }
      case Kind::kDouble: {
        static const double kDoubles[] = {-1.2345678901234567e-100, DBL_MAX,   -DBL_MAX,
                                          4.9406564584124654e-324,  -2.5e-310, 0.1 + 0.2};
        return {false, Le(&kDoubles[record], 8)};
      }
      case Kind::kInt: {
        static const int16_t kInts[] = {-32768, 32767, 0, -1, 1, 12345};
        return record == 0 ? Value{} : Value{false, Le(&kInts[record], 2)};
      }
    }
    return {};
  }

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  std::string RandomText(size_t n) {
    static const char* kPieces[] = {"a",  "Z", " ",        "\t",           "\n", ",", "\"", "'",
                                    "\\", "&", "\xC3\xA9", "\xE2\x82\xAC", "0",  ";", "\r"};
    std::string s;
    while (s.size() < n) s += kPieces[Pick(std::size(kPieces))];
    s.resize(n);
    // A cut UTF-8 sequence at the end is fine for the server, but the end must not be a space
    // (texts lose trailing spaces) nor half a character for JSON.
    while (!s.empty() && (static_cast<unsigned char>(s.back()) >= 0x80 || s.back() == ' '))
      s.pop_back();
    return s;
  }
  std::mt19937_64 rng_;
};

void Connect(const std::string& host, const char* db) {
  ASSERT_EQ(ZDB_SelHost(host.c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("", ""), ZDB_OK);
  ASSERT_EQ(ZDB_UseDB(db), ZDB_OK);
  ASSERT_EQ(ZDB_SelDB(db), ZDB_OK);
  ASSERT_EQ(ZDB_OpenTable("V", "", ""), ZDB_OK);
  ASSERT_EQ(ZDB_SelTable("V", ""), ZDB_OK);
}

const char* FieldName(size_t i) {
  return kFields[i].name;
}

void Write(const std::vector<Record>& records) {
  for (const Record& r : records) {
    ASSERT_EQ(ZDB_AppendBlank(), ZDB_OK);
    for (size_t i = 0; i < r.size(); ++i) {
      if (r[i].null) continue;
      const std::string& b = r[i].bytes;
      const bool text = kFields[i].kind == Kind::kText || kFields[i].kind == Kind::kDate;
      // Texts go with their own length; the others with exactly their bytes. An empty value
      // goes as one zero byte (a text ends there, a binary value loses trailing zeros): zdbd
      // reads a value of no bytes at all from a slot it has not allocated.
      const auto size = b.empty() ? 1u
                        : text    ? static_cast<uint32_t>(-1)
                                  : static_cast<uint32_t>(b.size());
      ASSERT_EQ(ZDB_PutField(FieldName(i), b.c_str(), size), ZDB_OK)
          << FieldName(i) << " of " << b.size() << " bytes";
    }
  }
}

// The record the current position holds, through single-field calls only.
Record ReadCurrent(const Record& expected) {
  Record got(std::size(kFields));
  for (size_t i = 0; i < got.size(); ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s", FieldName(i));
    unsigned char indicator[2] = {};
    EXPECT_EQ(ZDB_IsNull(name, indicator), ZDB_OK);
    if (indicator[0] | indicator[1]) continue;
    got[i].null = false;
    // A buffer larger than the expected value shows both the value and where it ends.
    const Kind kind = kFields[i].kind;
    const size_t size = kind == Kind::kDouble ? 8
                        : kind == Kind::kInt  ? 2
                        : kind == Kind::kText
                            ? kFields[i].width
                            : std::max<size_t>(expected[i].bytes.size(), 255) + 16;
    std::string buf(size, '\x7f');
    std::snprintf(name, sizeof name, "%s", FieldName(i));
    EXPECT_EQ(ZDB_GetField(name, buf.data(), static_cast<uint32_t>(size)), ZDB_OK);
    if (kind == Kind::kBinary) {
      while (!buf.empty() && buf.back() == 0) buf.pop_back();
    } else if (kind != Kind::kDouble && kind != Kind::kInt) {
      buf.resize(strnlen(buf.data(), buf.size()));
      // Texts and dates come padded with spaces to their width; stored ones end without.
      if (kind == Kind::kText || kind == Kind::kDate)
        while (!buf.empty() && buf.back() == ' ') buf.pop_back();
    }
    got[i].bytes = buf;
  }
  return got;
}

std::vector<Record> ReadAll(const std::string& host, const char* db,
                            const std::vector<Record>& expected) {
  std::vector<Record> got;
  Connect(host, db);
  for (const char* mode = "FIRST"; got.size() < expected.size() + 1 && ZDB_Read(mode, "") == ZDB_OK;
       mode = "NEXT")
    got.push_back(ReadCurrent(expected[std::min(got.size(), expected.size() - 1)]));
  ZDB_Finish();
  return got;
}

void ExpectSame(const std::vector<Record>& want, const std::vector<Record>& got,
                const std::string& where) {
  ASSERT_EQ(got.size(), want.size()) << where;
  int reported = 0;
  for (size_t r = 0; r < want.size(); ++r)
    for (size_t i = 0; i < want[r].size(); ++i)
      if (got[r][i].null != want[r][i].null || got[r][i].bytes != want[r][i].bytes) {
        ADD_FAILURE() << where << ": record " << r + 1 << " field " << FieldName(i)
                      << (want[r][i].null ? " (null)" : "") << " got "
                      << (got[r][i].null ? "null"
                                         : std::to_string(got[r][i].bytes.size()) + " bytes");
        if (++reported > 10) return;
      }
}

std::string Hex(const std::string& b) {
  static const char* kHex = "0123456789abcdef";
  std::string h;
  for (unsigned char c : b) h += std::string{kHex[c >> 4], kHex[c & 15]};
  return h;
}

TEST(ZdbRoundTrip, EveryValueSurvivesDumpLoadAndEveryOutputForm) {
  TempDir data, fresh, work;
  ZdbdProcess server(data.path()), target(fresh.path());
  ASSERT_TRUE(server.running() && target.running());

  Values gen(20261207);
  std::vector<Record> records(240);
  for (size_t r = 0; r < records.size(); ++r)
    for (const Field& f : kFields) records[r].push_back(gen.Make(f.kind, r));

  ASSERT_EQ(ZDB_SelHost(server.host().c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("", ""), ZDB_OK);
  ASSERT_EQ(Z_NewDB("RT", "", "", 0, ""), ZDB_OK);
  ASSERT_EQ(ZDB_UseDB("RT"), ZDB_OK);
  ASSERT_EQ(ZDB_SelDB("RT"), ZDB_OK);
  unsigned char table[113] = {};
  ASSERT_EQ(Z_CreTable("V", kSpec, "items", table), ZDB_OK);
  ASSERT_EQ(ZDB_OpenTable("V", "", ""), ZDB_OK);
  ASSERT_EQ(ZDB_SelTable("V", ""), ZDB_OK);
  Write(records);
  ASSERT_EQ(ZDB_Finish(), ZDB_OK);
  if (HasFatalFailure()) return;
  ExpectSame(records, ReadAll(server.host(), "RT", records), "written");

  // SQLite dump, loaded into a fresh server.
  const std::string file = work.path() + "/rt.sqlite";
  ToolResult r = RunZdb({"dump", server.host(), "--out", file, "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunZdb({"load", target.host(), "--in", file, "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectSame(records, ReadAll(target.host(), "RT", records), "loaded from SQLite");
  r = RunZdb({"load", target.host(), "--in", file, "--verify"});
  EXPECT_EQ(r.code, 0) << r.err;
  // The table description came along.
  ASSERT_EQ(ZDB_SelHost(target.host().c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("", ""), ZDB_OK);
  ASSERT_EQ(ZDB_UseDB("RT"), ZDB_OK);
  ASSERT_EQ(ZDB_SelDB("RT"), ZDB_OK);
  ASSERT_EQ(ZDB_OpenTable("V", "", ""), ZDB_OK);
  ASSERT_EQ(ZDB_SelTable("V", ""), ZDB_OK);
  ASSERT_EQ(Z_GetTable(table), ZDB_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(table) + 33, 5), "items");
  // A changed value on the server is found by --verify, naming the table.
  ASSERT_EQ(ZDB_Read("LAST", ""), ZDB_OK);
  const int16_t other = 7;
  ASSERT_EQ(ZDB_PutField("QTY", &other, 2), ZDB_OK);
  ZDB_Finish();
  r = RunZdb({"load", target.host(), "--in", file, "--verify"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("table RT.V: 240 record(s), checksum"), std::string::npos) << r.err;

  // The shell shows the whole memo of 118,890 characters and the binary value with its zero
  // bytes, in the plain row form.
  r = RunZdb({"shell", server.host()}, "use RT\nopen V\nread 3\n");
  EXPECT_EQ(r.code, 0) << r.err;
  std::string memo;
  for (char c : records[2][2].bytes)
    memo += c == '\t'   ? "\\t"
            : c == '\n' ? "\\n"
            : c == '\r' ? "\\r"
            : c == '\\' ? "\\\\"
                        : std::string(1, c);
  EXPECT_NE(r.out.find("MEMO  | " + memo + "\n"), std::string::npos) << r.out.substr(0, 500);
  EXPECT_NE(r.out.find("BIN   | \\x" + Hex(records[2][3].bytes) + "\n"), std::string::npos)
      << r.out.substr(0, 500);

  // What Python reads back: the expected values, one line each (record, field, null or hex).
  std::string expected;
  for (size_t i = 0; i < records.size(); ++i)
    for (size_t f = 0; f < records[i].size(); ++f)
      expected += std::to_string(i + 1) + " " + FieldName(f) + " " +
                  (records[i][f].null ? "null" : "x" + Hex(records[i][f].bytes)) + "\n";
  WriteFile(work.path() + "/expected.txt", expected);
  r = RunZdb({"dump", server.host(), "--out", work.path() + "/csv", "--format", "csv", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  // The CSV dump loads as well, every value the same.
  r = RunZdb({"load", target.host(), "--in", work.path() + "/csv", "--database", "RT=RC", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectSame(records, ReadAll(target.host(), "RC", records), "loaded from CSV");
  const std::string select = "#SELECT rowid AS zdb_record, * FROM V ORDER BY rowid";
  for (const char* format : {"csv", "json", "tsv"}) {
    r = RunZdb({"sql", server.host(), "RT", select, "--format", format, "--out",
                work.path() + "/rows." + format, "-q"});
    ASSERT_EQ(r.code, 0) << format << ": " << r.err;
  }
  const std::string check = std::string("python3 ") + ZDB_ROUNDTRIP_CHECK + " " + work.path() +
                            " > " + work.path() + "/check.txt 2>&1";
  const int status = std::system(check.c_str());
  EXPECT_EQ(status, 0) << ReadFile(work.path() + "/check.txt");
  EXPECT_NE(ReadFile(work.path() + "/check.txt").find("4 forms, 1440 values each"),
            std::string::npos)
      << ReadFile(work.path() + "/check.txt");
}

}  // namespace
}  // namespace zdb::test
