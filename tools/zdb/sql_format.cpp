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

std::vector<Row> ParseRows(const std::string& tsv) {
  std::vector<Row> rows;
  size_t start = 0;
  while (start < tsv.size()) {
    size_t end = tsv.find('\n', start);
    if (end == std::string::npos) end = tsv.size();
    Row row;
    size_t f = start;
    while (true) {
      const size_t tab = tsv.find('\t', f);
      if (tab == std::string::npos || tab >= end) {
        row.push_back(tsv.substr(f, end - f));
        break;
      }
      row.push_back(tsv.substr(f, tab - f));
      f = tab + 1;
    }
    rows.push_back(std::move(row));
    start = end + 1;
  }
  return rows;
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

size_t WriteRows(const std::string& tsv, const std::string& format, std::FILE* out) {
  if (format == "tsv") {
    std::fwrite(tsv.data(), 1, tsv.size(), out);
    return static_cast<size_t>(std::count(tsv.begin(), tsv.end(), '\n'));
  }
  const std::vector<Row> rows = ParseRows(tsv);
  if (format == "json") std::fputs("[", out);
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (size_t i = 0; i < rows[r].size(); ++i) {
      if (i) line += ',';
      line += format == "json" ? JsonString(rows[r][i]) : CsvField(rows[r][i]);
    }
    if (format == "json")
      std::fprintf(out, "%s\n[%s]", r ? "," : "", line.c_str());
    else
      std::fprintf(out, "%s\n", line.c_str());
  }
  if (format == "json") std::fputs("\n]\n", out);
  return rows.size();
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
