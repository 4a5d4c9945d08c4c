#include "zdb/catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "zdb_api.h"

namespace zdb::cli {
namespace {

constexpr size_t kFieldDefSize = 43;
constexpr size_t kFieldDefList = 12900;
constexpr size_t kMaxFields = 300;

std::string FixedText(const char* p, size_t width) {
  std::string s(p, strnlen(p, width));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

int32_t ListDatabases(std::vector<std::string>* names) {
  int32_t count = 0, inUse = 0;
  int32_t r = Z_NumDB(&count, &inUse);
  if (r != ZDB_OK) return r;
  names->clear();
  if (count <= 0) return ZDB_OK;
  std::vector<char> buf(static_cast<size_t>(count) * 9, 0);
  r = Z_DataBase(count, buf.data());
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < count; ++i) {
    std::string n = FixedText(buf.data() + i * 9, 9);
    if (!n.empty()) names->push_back(n);
  }
  return ZDB_OK;
}

int32_t ListTables(std::vector<std::string>* names) {
  int32_t count = 0, open = 0;
  int32_t r = Z_NumTables(&count, &open);
  if (r != ZDB_OK) return r;
  names->clear();
  if (count <= 0) return ZDB_OK;
  std::vector<char> buf(static_cast<size_t>(count) * 33, 0);
  r = Z_DbTables(count, buf.data());
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < count; ++i) {
    std::string n = FixedText(buf.data() + i * 33, 33);
    if (!n.empty()) names->push_back(n);
  }
  return ZDB_OK;
}

int32_t UseDatabase(const std::string& db) {
  int32_t r = ZDB_UseDB(db.c_str());
  return r == ZDB_OK ? ZDB_SelDB(db.c_str()) : r;
}

int32_t OpenTable(const std::string& table) {
  int32_t r = ZDB_OpenTable(table.c_str(), "", "");
  return r == ZDB_OK ? ZDB_SelTable(table.c_str(), "") : r;
}

bool DecodeFieldDef(const unsigned char* record, FieldDef* out) {
  if (record[0] == 0) return false;
  out->name = FixedText(reinterpret_cast<const char*>(record), 33);
  out->type = static_cast<char>(record[33]);
  out->subtype = std::isalpha(record[34]) ? static_cast<char>(record[34]) : ' ';
  out->width = static_cast<uint32_t>(record[35]) | static_cast<uint32_t>(record[36]) << 8 |
               static_cast<uint32_t>(record[37]) << 16 | static_cast<uint32_t>(record[38]) << 24;
  return true;
}

int32_t TableFields(std::vector<FieldDef>* fields) {
  std::vector<unsigned char> buf(kFieldDefList, 0);
  char list[] = "*";
  const int32_t r = Z_InfoFields(list, buf.data());
  if (r != ZDB_OK) return r;
  fields->clear();
  FieldDef f;
  for (size_t i = 0; i < kMaxFields && DecodeFieldDef(buf.data() + i * kFieldDefSize, &f); ++i)
    fields->push_back(f);
  return ZDB_OK;
}

int32_t TableRecordCount(int64_t* count) {
  unsigned char record[113] = {};
  const int32_t r = Z_GetTable(record);
  if (r != ZDB_OK) return r;
  *count = static_cast<int32_t>(
      static_cast<uint32_t>(record[97]) | static_cast<uint32_t>(record[98]) << 8 |
      static_cast<uint32_t>(record[99]) << 16 | static_cast<uint32_t>(record[100]) << 24);
  return ZDB_OK;
}

std::string FieldSpec(const std::vector<FieldDef>& fields) {
  std::string spec;
  for (const FieldDef& f : fields) {
    if (!spec.empty()) spec += "; ";
    spec += f.name + " " + f.type;
    if (f.subtype != ' ') spec += std::string(" ") + f.subtype;
    if (f.width > 0) spec += " " + std::to_string(f.width);
  }
  return spec;
}

bool IsNoRecord(int32_t status) {
  return status == 4040 || status == 4041 || status == 4042;
}

RecordReader::RecordReader() : raw_(kMaxFields, nullptr) {}

RecordReader::~RecordReader() {
  for (char* p : raw_) std::free(p);
}

void RecordReader::Collect(size_t fieldCount) {
  values_.clear();
  for (size_t i = 0; i < fieldCount && i < kMaxFields; ++i)
    values_.emplace_back(raw_[i] ? raw_[i] : "");
}

int32_t RecordReader::Read(const std::string& mode, size_t fieldCount) {
  std::string first = mode, second;
  first.push_back(0);
  char empty[1] = {0};
  const int32_t r = ZDB_GetRead(first.data(), empty, "*", raw_.data());
  Collect(fieldCount);
  return r;
}

int32_t RecordReader::Seek(const std::string& field, const std::string& value, size_t fieldCount) {
  const int32_t r = ZDB_Seek(field.c_str(), value.c_str());
  return r == ZDB_OK ? Current(fieldCount) : r;
}

int32_t RecordReader::Current(size_t fieldCount) {
  const int32_t r = ZDB_MatGetFields("*", raw_.data());
  Collect(fieldCount);
  return r;
}

}  // namespace zdb::cli

namespace zdb::cli {

bool IsMemoLike(const FieldDef& f) {
  return f.subtype == 'M' || f.subtype == 'B';
}

int32_t ReadWholeField(const FieldDef& f, Cell* out) {
  std::vector<char> name(f.name.begin(), f.name.end());
  name.resize(std::max<size_t>(name.size() + 1, 64), 0);
  const std::vector<char> asked = name;
  unsigned char indicator[2] = {};
  int32_t r = ZDB_IsNull(name.data(), indicator);
  if (r != ZDB_OK) return r;
  if (indicator[0] | indicator[1]) {
    *out = Cell{};
    return ZDB_OK;
  }
  name = asked;
  if (f.type == 'N' || f.type == 'I') {
    unsigned char b[8] = {};
    r = ZDB_GetField(name.data(), b, f.type == 'N' ? 8 : 2);
    if (r != ZDB_OK) return r;
    if (f.type == 'I') {
      *out = Cell{Cell::kInt, std::to_string(static_cast<int16_t>(b[0] | b[1] << 8))};
    } else {
      uint64_t bits = 0;
      for (int i = 7; i >= 0; --i) bits = bits << 8 | b[i];
      double d;
      std::memcpy(&d, &bits, sizeof d);
      *out = Cell{Cell::kReal, ShortestDouble(d)};
    }
    return ZDB_OK;
  }
  const bool binary = f.subtype == 'B';
  // A memo or binary value has no width to go by: the buffer grows until the value ends in it.
  size_t size = IsMemoLike(f) ? 4096 : std::max<uint32_t>(f.width, 1);
  std::vector<char> buf;
  while (true) {
    buf.assign(size, 0);
    name = asked;
    r = ZDB_GetField(name.data(), buf.data(), static_cast<uint32_t>(size));
    if (r != ZDB_OK) return r;
    if (!IsMemoLike(f) || buf[size - 1] == 0) break;
    size *= 4;
  }
  size_t n = binary ? size : strnlen(buf.data(), size);
  if (binary)
    while (n > 0 && buf[n - 1] == 0) --n;
  else if (!IsMemoLike(f))
    while (n > 0 && buf[n - 1] == ' ') --n;
  *out = Cell{binary ? Cell::kBlob : Cell::kText, std::string(buf.data(), n)};
  return ZDB_OK;
}

}  // namespace zdb::cli
