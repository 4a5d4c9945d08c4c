#include "zdb/script_rows.h"

#include <charconv>
#include <cstring>

#include "wire/script_row.h"

namespace zdb::cli {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(const char* p, size_t n, std::string* out) {
  if (n % 2) return false;
  out->clear();
  out->reserve(n / 2);
  for (size_t i = 0; i < n; i += 2) {
    const int hi = HexDigit(p[i]), lo = HexDigit(p[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi << 4 | lo));
  }
  return true;
}

bool Unescape(const char* p, size_t n, std::string* out) {
  out->clear();
  out->reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != '\\') {
      out->push_back(p[i]);
      continue;
    }
    if (++i == n) return false;
    switch (p[i]) {
      case '\\':
        out->push_back('\\');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case '0':
        out->push_back('\0');
        break;
      default:
        return false;
    }
  }
  return true;
}

bool IsNumber(const std::string& s, Cell::Kind kind) {
  if (s.empty()) return false;
  if (kind == Cell::kInt) {
    int64_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
  }
  double d = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), d);
  return (r.ec == std::errc() || r.ec == std::errc::result_out_of_range) &&
         r.ptr == s.data() + s.size();
}

}  // namespace

void AppendEscaped(const std::string& text, std::string& out) {
  wire::AppendRowEscaped(text, out);
}

void AppendPlain(const Cell& cell, std::string& out) {
  switch (cell.kind) {
    case Cell::kNull:
      out += "\\N";
      break;
    case Cell::kBlob:
      out += "\\x";
      wire::AppendRowHex(cell.bytes, out);
      break;
    case Cell::kText:
      AppendEscaped(cell.bytes, out);
      break;
    default:
      out += cell.bytes;
  }
}

bool DecodePlain(const std::string& field, Cell* out) {
  if (field == "\\N") {
    *out = Cell{};
    return true;
  }
  if (field.rfind("\\x", 0) == 0) {
    out->kind = Cell::kBlob;
    return DecodeHex(field.data() + 2, field.size() - 2, &out->bytes);
  }
  out->kind = Cell::kText;
  return Unescape(field.data(), field.size(), &out->bytes);
}

bool DecodeDescribed(const std::string& field, Cell* out) {
  if (field.empty()) return false;
  const char* p = field.data() + 1;
  const size_t n = field.size() - 1;
  switch (field[0]) {
    case 'N':
      *out = Cell{};
      return n == 0;
    case 'I':
    case 'R':
      out->kind = static_cast<Cell::Kind>(field[0]);
      out->bytes.assign(p, n);
      return IsNumber(out->bytes, out->kind);
    case 'T':
      out->kind = Cell::kText;
      return Unescape(p, n, &out->bytes);
    case 'B':
      out->kind = Cell::kBlob;
      return DecodeHex(p, n, &out->bytes);
    default:
      return false;
  }
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

uint64_t MixCell(uint64_t sum, const Cell& cell) {
  const auto mix = [&sum](const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
      sum = (sum ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  };
  const unsigned char head[9] = {
      static_cast<unsigned char>(cell.kind),
      static_cast<unsigned char>(cell.bytes.size()),
      static_cast<unsigned char>(cell.bytes.size() >> 8),
      static_cast<unsigned char>(cell.bytes.size() >> 16),
      static_cast<unsigned char>(cell.bytes.size() >> 24),
      static_cast<unsigned char>(static_cast<uint64_t>(cell.bytes.size()) >> 32),
      0,
      0,
      0};
  mix(head, sizeof head);
  mix(cell.bytes.data(), cell.bytes.size());
  return sum;
}

std::string ShortestDouble(double d) {
  char b[32];
  return std::string(b, std::to_chars(b, b + sizeof b, d).ptr);
}

bool ScriptRowReader::ReadLine(bool* complete) {
  text_.clear();
  while (true) {
    if (pos_ == end_) {
      pos_ = 0;
      end_ = std::fread(buf_.data(), 1, buf_.size(), in_);
      if (end_ == 0) return !text_.empty();
    }
    const char* start = buf_.data() + pos_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - pos_));
    const size_t n = nl ? static_cast<size_t>(nl - start) : end_ - pos_;
    text_.append(start, n);
    pos_ += n;
    if (nl) {
      ++pos_;
      *complete = true;
      return true;
    }
  }
}

ScriptRowReader::Item ScriptRowReader::Next() {
  bool complete = false;
  if (!ReadLine(&complete)) return kEnd;
  ++line_;
  if (!complete) {
    why_ = "line " + std::to_string(line_) + " is cut off (no newline)";
    return kBad;
  }
  if (first_ && described_ && text_.rfind("\\#", 0) != 0) described_ = false, raw_ = true;
  first_ = false;
  if (!raw_ && text_.rfind("\\#", 0) == 0) {
    names_.clear();
    std::string name;
    for (const std::string& f : SplitFields(text_.substr(2))) {
      if (!Unescape(f.data(), f.size(), &name)) {
        why_ = "line " + std::to_string(line_) + ": a column name is malformed";
        return kBad;
      }
      names_.push_back(name);
    }
    return kColumns;
  }
  const std::vector<std::string> fields = SplitFields(text_);
  cells_.resize(fields.size());
  for (size_t i = 0; i < fields.size(); ++i)
    if (raw_)
      cells_[i] = Cell{Cell::kText, fields[i]};
    else if (!(described_ ? DecodeDescribed(fields[i], &cells_[i])
                          : DecodePlain(fields[i], &cells_[i]))) {
      why_ = "line " + std::to_string(line_) + ", value " + std::to_string(i + 1) + " is malformed";
      return kBad;
    }
  return kRow;
}

}  // namespace zdb::cli
