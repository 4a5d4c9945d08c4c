#include "zdb/sql_format.h"

#include <algorithm>
#include <cstdlib>

namespace zdb::cli {

std::string SqlLiteral(const std::string& value) {
  bool plain = true;
  for (unsigned char c : value)
    if (c == ';' || c == '&' || c < 0x20 || c == 0x7F) plain = false;
  if (plain) {
    std::string out = "'";
    for (char c : value) {
      if (c == '\'') out += '\'';
      out += c;
    }
    return out + "'";
  }
  static const char* kHex = "0123456789ABCDEF";
  std::string out = "CAST(X'";
  for (unsigned char c : value) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out + "' AS TEXT)";
}

bool BuildParameterText(const std::vector<std::string>& items, std::string* text,
                        std::string* why) {
  text->clear();
  for (const std::string& item : items) {
    const auto eq = item.find('=');
    const std::string name = item.substr(0, eq);
    if (eq == std::string::npos || name.empty() ||
        name.find_first_not_of("0123456789") != std::string::npos || std::atoi(name.c_str()) < 1) {
      *why = "--param '" + item + "': write N=VALUE, N the number of the script's &N";
      return false;
    }
    const std::string literal = SqlLiteral(item.substr(eq + 1));
    // The library holds at most 255 characters of one value.
    if (literal.size() > 255) {
      *why = "--param " + name + ": the value is too long (255 characters once quoted)";
      return false;
    }
    if (!text->empty()) *text += ';';
    *text += "&" + std::to_string(std::atoi(name.c_str())) + "=" + literal;
  }
  return true;
}

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonString(const std::string& v) {
  std::string out = "\"";
  for (unsigned char c : v) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string CsvCell(const Cell& cell) {
  switch (cell.kind) {
    case Cell::kNull:
      return "";
    case Cell::kText:
      return cell.bytes.empty() ? "\"\"" : CsvField(cell.bytes);
    case Cell::kBlob: {
      std::string hex;
      AppendPlain(cell, hex);
      return hex;
    }
    default:
      return cell.bytes;
  }
}

std::string JsonCell(const Cell& cell) {
  switch (cell.kind) {
    case Cell::kNull:
      return "null";
    case Cell::kText:
      return JsonString(cell.bytes);
    case Cell::kBlob: {
      std::string hex;
      AppendPlain(cell, hex);
      return JsonString(hex);
    }
    default:
      if (cell.bytes == "inf") return "1e999";
      if (cell.bytes == "-inf") return "-1e999";
      if (cell.bytes == "nan" || cell.bytes == "-nan") return "null";
      return cell.bytes;
  }
}

int64_t WriteRows(ScriptRowReader& in, const std::string& format, std::FILE* out,
                  std::string* why) {
  const bool json = format == "json";
  int64_t rows = 0;
  std::string line;
  if (json) std::fputs("[", out);
  for (ScriptRowReader::Item item; (item = in.Next()) != ScriptRowReader::kEnd;) {
    if (item == ScriptRowReader::kBad) {
      *why = in.why();
      return -1;
    }
    line.clear();
    if (item == ScriptRowReader::kColumns) {
      if (json) continue;
      for (size_t i = 0; i < in.names().size(); ++i)
        line += (i ? "," : "") + CsvField(in.names()[i]);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), out);
      continue;
    }
    const CellRow& cells = in.cells();
    const bool named = in.described() && in.names().size() == cells.size();
    for (size_t i = 0; i < cells.size(); ++i) {
      // Both forms write a binary value as \x and hex: a text that starts so would be read
      // back as one, so it is refused rather than written ambiguously.
      if (cells[i].kind == Cell::kText && cells[i].bytes.rfind("\\x", 0) == 0) {
        *why = "line " + std::to_string(in.line()) + ", column " +
               (named ? in.names()[i] : std::to_string(i + 1)) +
               ": a text that starts with \\x would read as a binary value in " + format +
               "; --format tsv keeps it";
        return -1;
      }
      if (i) line += ',';
      if (json && named) line += JsonString(in.names()[i]) + ":";
      line += json ? JsonCell(cells[i]) : CsvCell(cells[i]);
    }
    // Written by length: a text may hold a zero byte.
    if (json) {
      line.insert(0, std::string(rows ? ",\n" : "\n") + (named ? '{' : '['));
      line += named ? '}' : ']';
    } else {
      line += '\n';
    }
    std::fwrite(line.data(), 1, line.size(), out);
    ++rows;
  }
  if (json) std::fputs("\n]\n", out);
  return rows;
}

std::string AlignedTable(const Row& header, const std::vector<Row>& rows) {
  std::vector<size_t> widths(header.size(), 0);
  auto measure = [&](const Row& r) {
    if (r.size() > widths.size()) widths.resize(r.size(), 0);
    for (size_t i = 0; i < r.size(); ++i) widths[i] = std::max(widths[i], r[i].size());
  };
  measure(header);
  for (const Row& r : rows) measure(r);
  auto line = [&](const Row& r) {
    std::string s;
    for (size_t i = 0; i < r.size(); ++i) {
      std::string cell = r[i];
      if (i + 1 < r.size()) cell.resize(widths[i], ' ');
      s += (i ? " | " : "") + cell;
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s + "\n";
  };
  std::string out;
  if (!header.empty()) {
    out += line(header);
    std::string rule;
    for (size_t i = 0; i < widths.size(); ++i)
      rule += (i ? "-+-" : "") + std::string(std::max<size_t>(widths[i], 1), '-');
    out += rule + "\n";
  }
  for (const Row& r : rows) out += line(r);
  return out;
}

}  // namespace zdb::cli
