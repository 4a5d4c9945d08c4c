// The rows of a script run as zdbd sends them, decoded into typed values. A row is a line of
// values separated by tabs; a text escapes backslash, tab, newline, carriage return and the
// zero byte with a backslash, null is \N and a blob is \x and its bytes in hex. Asked for
// described rows, zdbd puts each statement's column names first (a line starting with \#) and
// starts every value with the letter of its storage class.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zdb::cli {

struct Cell {
  enum Kind : char { kNull = 'N', kInt = 'I', kReal = 'R', kText = 'T', kBlob = 'B' };
  Kind kind = kNull;
  std::string bytes;  // the number's text, the text itself, or the blob's bytes
  bool operator==(const Cell&) const = default;
};
using CellRow = std::vector<Cell>;

// The run value of ZDB_SqlRun that asks zdbd for described rows.
constexpr int32_t kDescribedRows = 1;

void AppendEscaped(const std::string& text, std::string& out);
// The value in the plain row form, as zdbd sends it without description.
void AppendPlain(const Cell& cell, std::string& out);
// Reads one plain value; false when an escape is unknown or the hex is broken.
bool DecodePlain(const std::string& field, Cell* out);
// Reads one described value (class letter first); false when it is malformed.
bool DecodeDescribed(const std::string& field, Cell* out);
// Splits a line (without its newline) at its tabs.
std::vector<std::string> SplitFields(const std::string& line);
// The shortest text that reads back as the same double.
std::string ShortestDouble(double d);

// Folds a value into a running checksum (64-bit FNV-1a over class, length and bytes), so that
// a dump and a table read back can be compared without holding either.
uint64_t MixCell(uint64_t sum, const Cell& cell);
constexpr uint64_t kChecksumStart = 1469598103934665603ull;

// Reads a script run's output file line by line.
class ScriptRowReader {
 public:
  enum Item { kColumns, kRow, kEnd, kBad };
  ScriptRowReader(std::FILE* in, bool described) : in_(in), described_(described) {}
  // kColumns fills names(), kRow cells(); kBad with why() for a line that cannot be decoded.
  // A described run whose first line is no column line came from a server that knows no
  // encoding: the reader then takes each value as the raw text between tabs (and described()
  // turns false).
  Item Next();
  const std::vector<std::string>& names() const { return names_; }
  const CellRow& cells() const { return cells_; }
  const std::string& why() const { return why_; }
  bool described() const { return described_; }
  int64_t line() const { return line_; }

 private:
  std::FILE* in_;
  bool described_;
  bool first_ = true, raw_ = false;
  int64_t line_ = 0;
  bool ReadLine(bool* complete);
  std::string text_, why_;
  std::vector<char> buf_ = std::vector<char>(1 << 16);
  size_t pos_ = 0, end_ = 0;
  std::vector<std::string> names_;
  CellRow cells_;
};

}  // namespace zdb::cli
