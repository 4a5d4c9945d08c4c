// Indexes by name: creating, erasing and rebuilding them, their field lists, and the listing of a
// table's indexes in 36-byte index records.
#include <cstring>
#include <sstream>

#include "handlers.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

constexpr size_t kIndexRecordSize = 36;

std::vector<std::string> FieldList(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream list(text);
  for (std::string item; std::getline(list, item, ',');)
    if (!Trimmed(item).empty()) out.push_back(Trimmed(item));
  return out;
}

// "TABLE.INDEX" (any table of the selected database) or an index of the selected table.
int32_t IndexArg(Call& c, const std::string& given, Target* t, std::string* index) {
  std::string name = Trimmed(given), table;
  if (size_t dot = name.find('.'); dot != std::string::npos) {
    table = name.substr(0, dot);
    name = Trimmed(name.substr(dot + 1));
  }
  *index = name;
  return CatalogTable(c, table, t);
}

bool Find(Db& db, const std::string& table, const std::string& name, IndexInfo* out) {
  for (const auto& ix : TableIndexes(db, table))
    if (ix.name == name) {
      *out = ix;
      return true;
    }
  return false;
}

void EncodeIndexRecord(const IndexInfo& ix, uint8_t* out) {
  std::memset(out, 0, kIndexRecordSize);
  PutFixedText(out, 33, ix.name);
  out[33] = ix.unique ? 1 : 0;
  wire::PutU16(out + 34, static_cast<uint16_t>(ix.fields.size()));
}

// Adds fields to an index, or with `replace` sets its list; the index appears when missing.
int32_t ChangeFields(Call& c, bool replace) {
  Target t;
  std::string name;
  if (int32_t rc = IndexArg(c, c.req.Text(0), &t, &name); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  IndexInfo ix;
  bool exists = Find(*t.use->conn, t.table, name, &ix);
  std::vector<std::string> fields = replace ? std::vector<std::string>{} : ix.fields;
  for (const auto& f : FieldList(c.req.Text(1))) {
    bool have = false;
    for (const auto& g : fields) have = have || g == f;
    if (!have) fields.push_back(f);
  }
  return DefineIndex(*t.use->conn, t.table, name, fields, (c.req.U32(2) & 1) != 0, exists);
}

}  // namespace

int32_t HCreateIndex(Call& c) {
  Target t;
  if (int32_t rc = CatalogTable(c, c.req.Text(1), &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  return DefineIndex(*t.use->conn, t.table, Trimmed(c.req.Text(0)), FieldList(c.req.Text(2)), false,
                     false);
}

int32_t HEraseIndex(Call& c) {
  Target t;
  std::string name;
  if (int32_t rc = IndexArg(c, c.req.Text(0), &t, &name); rc != kOk) return rc;
  return DropIndex(*t.use->conn, t.table, name);
}

int32_t HRebuildIndex(Call& c) {
  Target t;
  if (int32_t rc = CatalogTable(c, c.req.Text(0), &t); rc != kOk) return rc;
  return t.use->conn->Exec("REINDEX " + QuoteIdent(t.table)) ? kOk : StorageFailure(*t.use->conn);
}

int32_t HAddIndexFields(Call& c) {
  return ChangeFields(c, false);
}

int32_t HUpdIndexFields(Call& c) {
  return ChangeFields(c, true);
}

int32_t HDelIndexFields(Call& c) {
  Target t;
  std::string name;
  if (int32_t rc = IndexArg(c, c.req.Text(0), &t, &name); rc != kOk) return rc;
  IndexInfo ix;
  if (!Find(*t.use->conn, t.table, name, &ix)) return kIndexNotFound;
  auto gone = FieldList(c.req.Text(1));
  std::vector<std::string> keep;
  for (const auto& f : ix.fields) {
    bool drop = false;
    for (const auto& g : gone) drop = drop || g == f;
    if (!drop) keep.push_back(f);
  }
  if (keep.size() == ix.fields.size()) return kFieldNotFound;
  if (keep.empty()) return DropIndex(*t.use->conn, t.table, name);
  return DefineIndex(*t.use->conn, t.table, name, keep, ix.unique, true);
}

int32_t HIndexFields(Call& c) {
  Target t;
  std::string name;
  auto& out = c.req.slots[2];
  std::fill(out.begin(), out.end(), 0);
  c.req.PutU32(1, 0);
  if (int32_t rc = IndexArg(c, c.req.Text(0), &t, &name); rc != kOk) return rc;
  IndexInfo ix;
  if (!Find(*t.use->conn, t.table, name, &ix)) return kIndexNotFound;
  size_t n = std::min(ix.fields.size(), out.size() / 33);
  for (size_t i = 0; i < n; ++i) PutFixedText(out.data() + 33 * i, 33, ix.fields[i]);
  c.req.PutU32(1, static_cast<uint32_t>(n));
  return kOk;
}

int32_t HTableIndexes(Call& c) {
  Target t;
  auto& out = c.req.slots[1];
  std::fill(out.begin(), out.end(), 0);
  c.req.PutU32(0, 0);
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  auto all = TableIndexes(*t.use->conn, t.table);
  size_t n = std::min(all.size(), out.size() / kIndexRecordSize);
  for (size_t i = 0; i < n; ++i) EncodeIndexRecord(all[i], out.data() + kIndexRecordSize * i);
  c.req.PutU32(0, static_cast<uint32_t>(n));
  return kOk;
}

int32_t HGetIndex(Call& c) {
  Target t;
  std::string name;
  std::memset(c.req.Data(1), 0, kIndexRecordSize);
  if (int32_t rc = IndexArg(c, c.req.Text(0), &t, &name); rc != kOk) return rc;
  IndexInfo ix;
  if (!Find(*t.use->conn, t.table, name, &ix)) return kIndexNotFound;
  EncodeIndexRecord(ix, c.req.Data(1));
  return kOk;
}

}  // namespace zdbd
