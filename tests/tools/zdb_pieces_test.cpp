// The tool's pure pieces: parameter quoting, row forms, progress lines, password masking.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "wire/catalogue.h"
#include "wire/frame.h"
#include "zdb/csv_dump.h"
#include "zdb/frame_parser.h"
#include "zdb/progress.h"
#include "zdb/sql_format.h"

using zdb::wire::Opcode;

namespace zdb::cli {
namespace {

TEST(ZdbPieces, ParametersBecomeLiteralsTheLibraryCannotSplit) {
  EXPECT_EQ(SqlLiteral("O'Brien"), "'O''Brien'");
  EXPECT_EQ(SqlLiteral(""), "''");
  // ';' would end the library's parameter item and '&' start a reference: hex instead.
  EXPECT_EQ(SqlLiteral("a;b"), "CAST(X'613B62' AS TEXT)");
  EXPECT_EQ(SqlLiteral("&1"), "CAST(X'2631' AS TEXT)");
  EXPECT_EQ(SqlLiteral("x\ny"), "CAST(X'780A79' AS TEXT)");
  std::string text, why;
  ASSERT_TRUE(BuildParameterText({"1=it's", "02=a;b"}, &text, &why)) << why;
  EXPECT_EQ(text, "&1='it''s';&2=CAST(X'613B62' AS TEXT)");
  for (const char* bad : {"x=1", "=1", "0=1", "1", "-1=2"}) {
    EXPECT_FALSE(BuildParameterText({bad}, &text, &why)) << bad;
    EXPECT_NE(why.find(bad), std::string::npos) << why;
  }
  EXPECT_FALSE(BuildParameterText({"1=" + std::string(254, 'a')}, &text, &why));
  EXPECT_NE(why.find("too long"), std::string::npos);
  EXPECT_TRUE(BuildParameterText({"1=" + std::string(253, 'a')}, &text, &why));
}

std::string Written(const std::string& rows, const std::string& format, int64_t* count,
                    std::string* why) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fwrite(rows.data(), 1, rows.size(), in);
  std::rewind(in);
  ScriptRowReader reader(in, true);
  *count = WriteRows(reader, format, out, why);
  std::rewind(out);
  std::string text;
  char buf[512];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
  std::fclose(in);
  std::fclose(out);
  return text;
}

TEST(ZdbPieces, RowsInTheirForms) {
  // Described rows: names first, then values with their class letters; a text holds an
  // escaped tab, newline, backslash and zero byte, and one is empty; a blob holds a zero.
  const std::string rows =
      "\\#a\tb,c\tn\n"
      "Tx\\ty\\nz\\\\\\0\tT\tI-7\n"
      "N\tB00ff\tR0.30000000000000004\n"
      "T\"q\"\tTplain\tRinf\n";
  int64_t count = 0;
  std::string why;
  EXPECT_EQ(Written(rows, "csv", &count, &why),
            std::string("a,\"b,c\",n\n\"x\ty\nz\\\0\",\"\",-7\n,\\x00ff,0.30000000000000004\n"
                        "\"\"\"q\"\"\",plain,inf\n",
                        72));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(Written(rows, "json", &count, &why),
            "[\n{\"a\":\"x\\u0009y\\u000az\\\\\\u0000\",\"b,c\":\"\",\"n\":-7},\n"
            "{\"a\":null,\"b,c\":\"\\\\x00ff\",\"n\":0.30000000000000004},\n"
            "{\"a\":\"\\\"q\\\"\",\"b,c\":\"plain\",\"n\":1e999}\n]\n");
  EXPECT_EQ(count, 3);
  // A server that knows no encoding: the raw texts between tabs, in arrays.
  EXPECT_EQ(Written("a\\b\tc\n", "json", &count, &why), "[\n[\"a\\\\b\",\"c\"]\n]\n");
  // A text that would read as a binary value is refused, named by line and column.
  for (const char* format : {"csv", "json"}) {
    Written("\\#a\tb\nT1\tT\\\\x00\n", format, &count, &why);
    EXPECT_EQ(count, -1) << format;
    EXPECT_NE(why.find("line 2, column b: a text that starts with \\x"), std::string::npos) << why;
  }
  // Malformed values and a cut last line are refused with the line named.
  for (const char* bad : {"\\#a\nX1\n", "\\#a\nT\\q\n", "\\#a\nB0\n", "\\#a\nIx\n", "\\#a\nT"}) {
    Written(bad, "csv", &count, &why);
    EXPECT_EQ(count, -1) << bad;
    EXPECT_NE(why.find("line 2"), std::string::npos) << why;
  }
  Cell c;
  ASSERT_TRUE(DecodePlain("\\N", &c));
  EXPECT_EQ(c.kind, Cell::kNull);
  ASSERT_TRUE(DecodePlain("\\xA0", &c));
  EXPECT_EQ(c, (Cell{Cell::kBlob, "\xA0"}));
  ASSERT_TRUE(DecodePlain("\\\\N", &c));
  EXPECT_EQ(c, (Cell{Cell::kText, "\\N"}));
  std::string plain;
  for (const Cell& v : {Cell{}, Cell{Cell::kText, "\\N\t"}, Cell{Cell::kBlob, std::string(1, '\0')},
                        Cell{Cell::kReal, "1e-300"}})
    AppendPlain(v, plain += "|");
  EXPECT_EQ(plain, "|\\N|\\\\N\\t|\\x00|1e-300");
  EXPECT_EQ(ShortestDouble(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(ShortestDouble(-1.2345678901234567e-100), "-1.2345678901234567e-100");
  EXPECT_EQ(JsonString(std::string("\x01\\", 2)), "\"\\u0001\\\\\"");
  EXPECT_EQ(AlignedTable({"n", "value"}, {{"long name", "1"}, {"x", ""}}),
            "n         | value\n----------+------\nlong name | 1\nx         |\n");
}

TEST(ZdbPieces, CsvRecordsTellQuotedFromEmpty) {
  const std::string data = "a,\"b\"\"c\n\",\n\"\",x\r\n\"open";
  size_t pos = 0;
  std::vector<CsvValue> r;
  std::string why;
  ASSERT_TRUE(NextCsvRecord(data, &pos, &r, &why));
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].text, "b\"c\n");
  EXPECT_TRUE(r[1].quoted);
  EXPECT_EQ(r[2].text, "");
  EXPECT_FALSE(r[2].quoted);
  ASSERT_TRUE(NextCsvRecord(data, &pos, &r, &why));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(r[0].quoted && r[0].text.empty());
  EXPECT_EQ(r[1].text, "x");
  EXPECT_FALSE(NextCsvRecord(data, &pos, &r, &why));
  EXPECT_EQ(why, "a quoted value is not closed");
  pos = 0;
  EXPECT_FALSE(NextCsvRecord("\"a\"b\n", &pos, &r, &why));
  EXPECT_EQ(why, "text after a closing quote");
  EXPECT_FALSE(NextCsvRecord("", &pos, &r, &why));
  EXPECT_EQ(why, "");
}

TEST(ZdbPieces, ProgressLines) {
  EXPECT_EQ(FormatAmount(999, Unit::kBytes), "999 B");
  EXPECT_EQ(FormatAmount(205000000, Unit::kBytes), "205.0 MB");
  EXPECT_EQ(FormatProgress("export", 50000000, -1, Unit::kBytes, 2.0),
            "export 50.0 MB  25.0 MB/s  00:02");
  EXPECT_EQ(FormatProgress("dump", 25, 100, Unit::kRecords, 65.0),
            "dump [######                  ]  25% 25 records of 100 records  0 rec/s  01:05");
}

TEST(ZdbPieces, PasswordSlotsOfEveryRequestThatCarriesOne) {
  // (kind, opcode) of login, run login, user validation, adding and updating users.
  for (uint32_t op : {Opcode("Login"), Opcode("ValidUser"), Opcode("AddUser"), Opcode("UpdUser")}) {
    EXPECT_TRUE(trace::IsPasswordSlot(1, op, 1)) << op;
    EXPECT_FALSE(trace::IsPasswordSlot(1, op, 0)) << op;
  }
  EXPECT_FALSE(trace::IsPasswordSlot(2, Opcode("SqlRun"), 1))
      << "a script run's slot 1 is a file name";
  EXPECT_FALSE(trace::IsPasswordSlot(1, Opcode("DelUser"), 1))
      << "deleting a user sends no password";
  wire::FrameHeader h;
  h.kind = 1;
  h.opcode = Opcode("AddUser");
  const uint32_t lengths[] = {4, 7, 6};
  wire::LayoutSlots(h, lengths, 3);
  const char data[] = "bob\0s3cret\0ADMIN";
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  const std::string masked = trace::DescribeRequest(h, bytes, 17);
  EXPECT_EQ(masked.find("s3cret"), std::string::npos) << masked;
  EXPECT_NE(masked.find("[1] 7: ***"), std::string::npos) << masked;
  EXPECT_NE(masked.find("[2] 6: \"ADMIN\""), std::string::npos) << masked;
  EXPECT_NE(trace::DescribeRequest(h, bytes, 17, true).find("[1] 7: \"s3cret\""),
            std::string::npos);
}

}  // namespace
}  // namespace zdb::cli
