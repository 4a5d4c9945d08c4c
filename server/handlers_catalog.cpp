#include <cstring>
#include <sstream>

#include "handlers.h"
#include "status.h"
#include "wire/field_def.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

constexpr size_t kTableRecordSize = 113;

uint32_t StorageWidth(const FieldInfo& f) {
  if (f.type == 'N') return 8;
  if (f.type == 'I') return 2;
  return EffectiveWidth(f);
}

void EncodeTableRecord(Db& db, const std::string& table, uint8_t* out) {
  std::memset(out, 0, kTableRecordSize);
  PutFixedText(out, 33, table);
  PutFixedText(out + 33, 64, TableDescription(db, table));
  auto fields = TableFields(db, table);
  uint32_t width = 0;
  for (const auto& f : fields) width += EffectiveWidth(f) + 1;
  wire::PutU32(out + 97, static_cast<uint32_t>(RecordCount(db, table)));
  wire::PutU32(out + 101, static_cast<uint32_t>(fields.size()));
  wire::PutU32(out + 105, width);
}

wire::FieldDef ToWire(const FieldInfo& f) {
  wire::FieldDef d;
  d.name = f.name;
  d.type = f.type;
  d.subtype = f.subtype;
  d.width = f.width;
  return d;
}

// The table a catalog request names: its text, or the selected table when it is empty.
int32_t TableArg(Call& c, const std::string& given, Target* t) {
  return CatalogTable(c, given, t);
}

// "TABLE.FIELD" or a field of the selected table.
int32_t FieldArg(Call& c, const std::string& given, Target* t, std::string* field) {
  std::string name = Trimmed(given), table;
  if (size_t dot = name.find('.'); dot != std::string::npos) {
    table = name.substr(0, dot);
    name = name.substr(dot + 1);
  }
  *field = name;
  return TableArg(c, table, t);
}

}  // namespace

void EncodeFieldDescriptor(const FieldInfo& f, uint8_t* out) {
  std::memset(out, 0, wire::kFieldDescriptorSize);
  PutFixedText(out, 33, f.name);
  PutFixedText(out + 33, 66, f.description);
  out[99] = static_cast<uint8_t>(f.subtype);
  out[100] = static_cast<uint8_t>(f.type);
  wire::PutU32(out + 101, f.width);
  wire::PutU32(out + 105, StorageWidth(f));
}

FieldInfo DecodeFieldDescriptor(const uint8_t* in) {
  FieldInfo f;
  f.name = FixedText(in, 33);
  f.description = FixedText(in + 33, 66);
  f.subtype = in[99] ? static_cast<char>(in[99]) : ' ';
  f.type = static_cast<char>(in[100]);
  f.width = wire::GetU32(in + 101);
  return f;
}

int32_t HInfoFields(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  auto fields = TableFields(*t.use->conn, t.table);
  std::string list = c.req.Text(0);
  auto& out = c.req.slots[1];
  std::fill(out.begin(), out.end(), 0);
  size_t n = 0;
  auto put = [&](const FieldInfo& f) {
    if ((n + 1) * wire::kFieldDefSize > out.size()) return;
    wire::EncodeFieldDef(ToWire(f), out.data() + n++ * wire::kFieldDefSize);
  };
  if (!list.empty() && list[0] == '*') {
    for (const auto& f : fields) put(f);
    return kOk;
  }
  std::stringstream items(list);
  for (std::string item; std::getline(items, item, ',');)
    for (const auto& f : fields)
      if (f.name == Trimmed(item)) put(f);
  return n ? kOk : kFieldNotFound;
}

int32_t HAddField(Call& c) {
  Target t;
  if (int32_t rc = TableArg(c, c.req.Text(0), &t); rc != kOk) return rc;
  FieldInfo f = DecodeFieldDescriptor(c.req.Data(2));
  if (!Trimmed(c.req.Text(1)).empty()) f.name = Trimmed(c.req.Text(1));
  return AddField(*t.use->conn, t.table, f);
}

int32_t HDelField(Call& c) {
  Target t;
  std::string field;
  if (int32_t rc = FieldArg(c, c.req.Text(0), &t, &field); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  return DropField(*t.use->conn, t.table, field);
}

int32_t HUpdField(Call& c) {
  Target t;
  if (int32_t rc = TableArg(c, c.req.Text(0), &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  return UpdateField(*t.use->conn, t.table, Trimmed(c.req.Text(1)),
                     DecodeFieldDescriptor(c.req.Data(2)));
}

int32_t HGetFieldDescriptor(Call& c) {
  Target t;
  std::string field;
  if (int32_t rc = FieldArg(c, c.req.Text(0), &t, &field); rc != kOk) return rc;
  for (const auto& f : TableFields(*t.use->conn, t.table)) {
    if (f.name != field) continue;
    EncodeFieldDescriptor(f, c.req.Data(2));
    if (c.req.Len(1) > 1) c.req.PutText(1, f.description);
    return kOk;
  }
  return kFieldNotFound;
}

int32_t HTableFields(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  auto fields = TableFields(*t.use->conn, t.table);
  auto& out = c.req.slots[1];
  std::fill(out.begin(), out.end(), 0);
  size_t n = std::min(fields.size(), out.size() / 33);
  for (size_t i = 0; i < n; ++i) PutFixedText(out.data() + 33 * i, 33, fields[i].name);
  c.req.PutU32(0, static_cast<uint32_t>(n));
  return kOk;
}

int32_t HGFields(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  auto& out = c.req.slots[0];
  std::fill(out.begin(), out.end(), 0);
  size_t n = 0;
  for (const auto& f : TableFields(*t.use->conn, t.table)) {
    if ((n + 1) * wire::kFieldDefSize > out.size()) break;
    wire::EncodeFieldDef(ToWire(f), out.data() + n++ * wire::kFieldDefSize);
  }
  return kOk;
}

int32_t HPFields(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  const auto& in = c.req.slots[0];
  auto current = TableFields(*t.use->conn, t.table);
  for (size_t off = 0; off + wire::kFieldDefSize <= in.size(); off += wire::kFieldDefSize) {
    if (in[off] == 0) break;
    wire::FieldDef d = wire::DecodeFieldDef(in.data() + off);
    FieldInfo f{Trimmed(d.name), d.type, d.subtype ? d.subtype : ' ', d.width, {}};
    bool exists = false;
    for (const auto& have : current) exists = exists || have.name == f.name;
    int32_t rc =
        exists ? UpdateField(*t.use->conn, t.table, f.name, f) : AddField(*t.use->conn, t.table, f);
    if (rc != kOk) return rc;
  }
  return kOk;
}

int32_t HCanBeDelete(Call& c) {
  Target t;
  std::string field;
  if (int32_t rc = FieldArg(c, c.req.Text(0), &t, &field); rc != kOk) return rc;
  auto fields = TableFields(*t.use->conn, t.table);
  for (const auto& f : fields)
    if (f.name == field) return fields.size() > 1 ? kOk : kBadFieldDefinition;
  return kFieldNotFound;
}

int32_t HCreTable(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  const uint8_t* record = c.req.Data(3);
  std::string name = Trimmed(c.req.Text(0));
  if (name.empty()) name = FixedText(record, 33);
  std::string description = c.req.Text(2);
  if (description.empty()) description = FixedText(record + 33, 64);
  std::vector<FieldInfo> fields;
  if (!ParseFieldSpec(c.req.Text(1), &fields)) return kBadFieldDefinition;
  return CreateTable(*t.use->conn, name, description, fields);
}

int32_t HDbTables(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  auto tables = ListTables(*t.use->conn);
  auto& out = c.req.slots[1];
  std::fill(out.begin(), out.end(), 0);
  size_t n = std::min<size_t>({tables.size(), out.size() / 33, c.req.U32(0)});
  for (size_t i = 0; i < n; ++i) PutFixedText(out.data() + 33 * i, 33, tables[i]);
  c.req.PutU32(0, static_cast<uint32_t>(n));
  return kOk;
}

int32_t HDelTable(Call& c) {
  Target t;
  if (int32_t rc = TableArg(c, c.req.Text(0), &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  if (int32_t rc = DropTable(*t.use->conn, t.table); rc != kOk) return rc;
  for (auto it = t.use->tables.begin(); it != t.use->tables.end();) {
    bool gone = it->first == t.table || it->second.table == t.table;
    if (gone && t.use->selectedTable == it->first) t.use->selectedTable.clear();
    it = gone ? t.use->tables.erase(it) : std::next(it);
  }
  c.server.users.DropTablePrivileges(t.db, t.table);
  return kOk;
}

int32_t HPhysName(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  c.req.PutText(0, c.server.data.PathOf(t.db));
  return kOk;
}

int32_t HGetTableRecord(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  EncodeTableRecord(*t.use->conn, t.table, c.req.Data(0));
  return kOk;
}

int32_t HNumTables(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  c.req.PutU32(0, static_cast<uint32_t>(ListTables(*t.use->conn).size()));
  c.req.PutU32(1, static_cast<uint32_t>(t.use->tables.size()));
  return kOk;
}

int32_t HUpdTable(Call& c) {
  Target t;
  const uint8_t* record = c.req.Data(0);
  if (int32_t rc = TableArg(c, FixedText(record, 33), &t); rc != kOk) return rc;
  return SetTableDescription(*t.use->conn, t.table, FixedText(record + 33, 64));
}

int32_t HRename(Call& c) {
  Target t;
  std::string to = Trimmed(c.req.Text(1));
  if (int32_t rc = TableArg(c, c.req.Text(0), &t); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  if (int32_t rc = RenameTable(*t.use->conn, t.table, to); rc != kOk) return rc;
  if (auto it = t.use->tables.find(t.table); it != t.use->tables.end()) {
    t.use->tables[to] = it->second;
    t.use->tables.erase(t.table);
  }
  if (t.use->selectedTable == t.table) t.use->selectedTable = to;
  for (auto& [key, open] : t.use->tables)
    if (open.table == t.table) open.table = to;
  return kOk;
}

int32_t HRebTable(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  return t.use->conn->Exec("REINDEX " + QuoteIdent(t.table)) ? kOk : StorageFailure(*t.use->conn);
}

}  // namespace zdbd
