#include "zdb/csv_dump.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "zdb/common.h"
#include "zdb/dump_sink.h"

namespace zdb::cli {
namespace {

bool ReadAll(const std::string& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// A CSV file of the dump, read record by record with its header checked.
class CsvFile {
 public:
  bool Open(const std::string& dir, const std::string& name, const std::string& header) {
    path_ = dir + "/" + name;
    if (!ReadAll(path_, &data_)) {
      Error("dump folder %s: cannot read %s", dir.c_str(), name.c_str());
      return false;
    }
    std::vector<CsvValue> head;
    if (!Next(&head)) return Fail("no header line");
    std::string seen;
    for (const CsvValue& f : head) seen += (seen.empty() ? "" : ",") + f.text;
    return header.empty() || seen == header || Fail("the header is not " + header);
  }
  // False at the end; a malformed record sets failed().
  bool Next(std::vector<CsvValue>* fields) {
    std::string why;
    ++line_;
    if (NextCsvRecord(data_, &pos_, fields, &why)) return true;
    if (!why.empty()) Fail(why);
    return false;
  }
  bool Fail(const std::string& why) {
    Error("dump file %s, record %lld: %s", path_.c_str(), static_cast<long long>(line_),
          why.c_str());
    failed_ = true;
    return false;
  }
  bool failed() const { return failed_; }
  int64_t line() const { return line_; }

 private:
  std::string path_, data_;
  size_t pos_ = 0;
  int64_t line_ = 0;
  bool failed_ = false;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& text, std::string* out) {
  if (text.rfind("\\x", 0) != 0 || text.size() % 2) return false;
  out->clear();
  for (size_t i = 2; i < text.size(); i += 2) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi << 4 | lo));
  }
  return true;
}

// A value of the CSV dump as the cell it stood for on the server, by its field's type.
bool ToCell(const FieldDef* f, const CsvValue& v, Cell* out) {
  if (v.text.empty() && !v.quoted) {
    *out = Cell{};
    return true;
  }
  if (!f || f->type == 'I') {  // the record number, or an integer field
    char* end = nullptr;
    std::strtoll(v.text.c_str(), &end, 10);
    *out = Cell{Cell::kInt, v.text};
    return !v.text.empty() && *end == '\0';
  }
  if (f->type == 'N') {
    char* end = nullptr;
    std::strtod(v.text.c_str(), &end);
    *out = Cell{Cell::kReal, v.text};
    return !v.text.empty() && *end == '\0';
  }
  if (f->subtype == 'B') {
    out->kind = Cell::kBlob;
    return FromHex(v.text, &out->bytes);
  }
  *out = Cell{Cell::kText, v.text};
  return true;
}

}  // namespace

bool NextCsvRecord(const std::string& data, size_t* pos, std::vector<CsvValue>* fields,
                   std::string* why) {
  why->clear();
  fields->clear();
  size_t i = *pos;
  if (i >= data.size()) return false;
  while (true) {
    CsvValue f;
    if (i < data.size() && data[i] == '"') {
      f.quoted = true;
      for (++i;; ++i) {
        if (i >= data.size()) {
          *why = "a quoted value is not closed";
          return false;
        }
        if (data[i] == '"') {
          if (i + 1 < data.size() && data[i + 1] == '"') {
            f.text += '"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        f.text += data[i];
      }
    } else {
      while (i < data.size() && data[i] != ',' && data[i] != '\n' && data[i] != '\r')
        f.text += data[i++];
    }
    fields->push_back(std::move(f));
    if (i < data.size() && data[i] == ',') {
      ++i;
      continue;
    }
    if (i < data.size() && data[i] == '\r') ++i;
    if (i < data.size() && data[i] != '\n') {
      *why = "text after a closing quote";
      return false;
    }
    *pos = i + 1;
    return true;
  }
}

bool CsvDumpToSqlite(const std::string& dir, const std::string& sqlitePath) {
  // The field definitions and rules of every table, then the tables in their order.
  std::map<std::pair<std::string, std::string>, std::vector<FieldDef>> fields;
  std::map<std::pair<std::string, std::string>, std::vector<TableRule>> rules;
  std::vector<CsvValue> r;
  CsvFile defs;
  if (!defs.Open(dir, "zdb_fields.csv", "db,table,pos,name,type,subtype,width")) return false;
  while (defs.Next(&r)) {
    if (r.size() != 7 || r[4].text.size() != 1 || r[5].text.size() > 1)
      return defs.Fail("not a field definition");
    fields[{r[0].text, r[1].text}].push_back(
        {r[3].text, r[4].text[0], r[5].text.empty() ? ' ' : r[5].text[0],
         static_cast<uint32_t>(std::strtoul(r[6].text.c_str(), nullptr, 10))});
  }
  CsvFile ruleFile;
  if (defs.failed() ||
      !ruleFile.Open(dir, "zdb_rules.csv", "db,table,pos,kind,field,name,value,flags,data"))
    return false;
  while (ruleFile.Next(&r)) {
    TableRule rule;
    if (r.size() != 9 || r[3].text.size() != 1 || !FromHex(r[8].text, &rule.data))
      return ruleFile.Fail("not a rule");
    rule.kind = static_cast<TableRule::Kind>(r[3].text[0]);
    rule.field = r[4].text;
    rule.name = r[5].text;
    rule.value = r[6].text;
    rule.flags = std::atoi(r[7].text.c_str());
    rules[{r[0].text, r[1].text}].push_back(rule);
  }
  CsvFile tables;
  if (ruleFile.failed() ||
      !tables.Open(dir, "zdb_tables.csv", "db,table,description,records,checksum"))
    return false;
  std::unique_ptr<DumpSink> sink = MakeSqliteSink(sqlitePath, true);
  if (!sink) return false;
  while (tables.Next(&r)) {
    if (r.size() != 5) return tables.Fail("not a table line");
    const std::pair<std::string, std::string> key{r[0].text, r[1].text};
    const DumpTable t{key.first, key.second, r[2].text, fields[key]};
    const int64_t records = std::strtoll(r[3].text.c_str(), nullptr, 10);
    const uint64_t checksum = std::strtoull(r[4].text.c_str(), nullptr, 16);
    CsvFile rows;
    std::string header = kRecordColumn;
    for (const FieldDef& f : t.fields) header += "," + f.name;
    if (!rows.Open(dir, t.db + "/" + t.table + ".csv", header) || !sink->BeginTable(t))
      return false;
    std::vector<CsvValue> values;
    CellRow cells(t.fields.size() + 1);
    while (rows.Next(&values)) {
      if (values.size() != cells.size())
        return rows.Fail(std::to_string(values.size()) + " values for " +
                         std::to_string(t.fields.size()) + " fields and the record number");
      for (size_t i = 0; i < cells.size(); ++i)
        if (!ToCell(i ? &t.fields[i - 1] : nullptr, values[i], &cells[i]))
          return rows.Fail("the value of " + (i ? t.fields[i - 1].name : kRecordColumn) +
                           " does not read as its field's type");
      if (!sink->Row(cells)) return false;
    }
    if (rows.failed() || !sink->Rules(rules[key]) || !sink->EndTable(records, checksum))
      return false;
  }
  if (tables.failed()) return false;
  // Users are in the folder when the dump was asked for them.
  std::vector<DumpUser> users;
  CsvFile userFile;
  if (std::ifstream(dir + "/zdb_users.csv").good()) {
    if (!userFile.Open(dir, "zdb_users.csv", "name,role,grants")) return false;
    while (userFile.Next(&r)) {
      if (r.size() != 3) return userFile.Fail("not a user line");
      users.push_back({r[0].text, r[1].text, r[2].text});
    }
    if (userFile.failed()) return false;
  }
  return sink->Users(users) && sink->Commit();
}

}  // namespace zdb::cli
