#include <cctype>
#include <cstring>

#include "handlers.h"
#include "rules.h"
#include "status.h"
#include "wire/field_def.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

// Field name with an optional table in front, as the direct forms name them.
std::string Qualified(const std::string& table, const std::string& field) {
  std::string t = Trimmed(table);
  return t.empty() ? field : t + "." + Trimmed(field);
}

int32_t ReadInto(Call& c, const std::string& name, size_t valueSlot) {
  Target t;
  FieldInfo f;
  Value v;
  if (int32_t rc = FieldOf(c, name, &t, &f); rc != kOk) return rc;
  if (int32_t rc = LoadValue(t, f, &v); rc != kOk) return rc;
  EncodeSingle(f, v, c.req.Data(valueSlot), c.req.Len(valueSlot));
  return kOk;
}

int32_t WriteFrom(Call& c, const std::string& name, size_t valueSlot, bool store) {
  Target t;
  FieldInfo f;
  Value v;
  if (int32_t rc = FieldOf(c, name, &t, &f); rc != kOk) return rc;
  if (int32_t rc = DecodeSingle(f, c.req.Data(valueSlot), c.req.Len(valueSlot), &v); rc != kOk)
    return rc;
  return store ? StoreValue(c, t, f, v) : kOk;
}

// The fields a definitions buffer lists, with the widths their value slots have.
struct Listed {
  std::string name;
  uint32_t width;
};

int32_t ListedFields(const std::vector<uint8_t>& defs, size_t valueBytes,
                     std::vector<Listed>* out) {
  size_t total = 0;
  for (size_t i = 0; i < wire::kMaxFields && (i + 1) * wire::kFieldDefSize <= defs.size(); ++i) {
    const uint8_t* rec = defs.data() + i * wire::kFieldDefSize;
    if (rec[0] == 0) break;
    wire::FieldDef d = wire::DecodeFieldDef(rec);
    if (d.width > 65535) return kMalformed;
    out->push_back({Trimmed(d.name), d.width});
    total += d.width + 1;
  }
  return total == valueBytes ? kOk : kMalformed;
}

// The moves of GetRead that one statement can make together with the read of the record it
// lands on: the record after, before, first or last.
struct Move {
  const char* modes[3];
  const char* where;  // the condition on rowid, the current record bound as ?
  const char* order;
};
constexpr Move kMoves[] = {
    {{"NEXT", "N", ""}, "rowid>?", "rowid"},
    {{"PRIOR", "PREV", "P"}, "rowid<?", "rowid DESC"},
    {{"FIRST", "F", "TOP"}, "rowid>0*?", "rowid"},  // record numbers start at 1
    {{"LAST", "L", "BOTTOM"}, "rowid>0*?", "rowid DESC"},
};

const Move* MoveOf(const std::string& mode) {
  for (const auto& m : kMoves)
    for (const char* name : m.modes)
      if (mode == name) return &m;
  return nullptr;
}

// Reads the current record's values of every found field in one statement when they all belong
// to one table and a current record exists; false (nothing read) otherwise. With `move`, every
// field must be found in the table `at` and the statement first moves from its current record
// to the one `move` names, read with the values; *moved is that record's number, 0 when there
// is none.
bool LoadRow(const std::vector<Target>& targets, const std::vector<FieldInfo>& fields,
             const std::vector<int32_t>& found, std::vector<Value>* row, const Move* move = nullptr,
             const OpenTable* at = nullptr, int64_t* moved = nullptr) {
  const Target* first = nullptr;
  std::string columns;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (found[i] != kOk) {
      if (move) return false;
      continue;
    }
    if (!first) first = &targets[i];
    if (targets[i].open != first->open || (move && targets[i].open != at)) return false;
    columns += ", " + QuoteIdent(fields[i].name);
  }
  if (!first || (!move && first->open->current <= 0)) return false;
  std::string sql = "SELECT rowid" + columns + " FROM " + QuoteIdent(first->table) + " WHERE ";
  sql += move ? std::string(move->where) + " ORDER BY " + move->order + " LIMIT 1" : "rowid=?";
  Stmt s(*first->use->conn, sql);
  s.Bind(1, first->open->current);
  const bool got = s.Step();
  if (moved) *moved = got ? s.Int(0) : 0;
  if (!got) return move != nullptr;
  row->assign(targets.size(), Value::Null());
  int column = 1;
  for (size_t i = 0; i < targets.size(); ++i)
    if (found[i] == kOk) (*row)[i] = s.Get(column++);
  return true;
}

// Fills the value area. With `move`, first moves the table `at` to the record it names in the
// same statement, when every listed field is found in that table: *moved is then the record's
// number (0: none, nothing filled); when the statement cannot do both, *moved is -1 and nothing
// has been read.
int32_t FillValues(Call& c, size_t defsSlot, size_t areaSlot, const Move* move = nullptr,
                   OpenTable* at = nullptr, int64_t* moved = nullptr) {
  std::vector<Listed> listed;
  auto& area = c.req.slots[areaSlot];
  if (moved) *moved = -1;
  if (int32_t rc = ListedFields(c.req.slots[defsSlot], area.size(), &listed); rc != kOk) return rc;
  std::fill(area.begin(), area.end(), 0);
  int32_t result = kOk;
  std::vector<Target> targets(listed.size());
  std::vector<FieldInfo> fields(listed.size());
  std::vector<int32_t> found(listed.size());
  for (size_t i = 0; i < listed.size(); ++i)
    found[i] = FieldOf(c, listed[i].name, &targets[i], &fields[i]);
  // The usual list names fields of one table only: one statement reads them all.
  std::vector<Value> row;
  bool oneRow = LoadRow(targets, fields, found, &row, move, at, moved);
  if (move) {
    if (!oneRow || *moved <= 0) return kOk;  // nothing read: *moved says why
    at->current = *moved;
  }
  size_t offset = 0;
  for (size_t i = 0; i < listed.size(); ++i) {
    const auto& l = listed[i];
    Target& t = targets[i];
    const FieldInfo& f = fields[i];
    Value v;
    int32_t rc = found[i];
    if (rc == kOk) rc = oneRow ? kOk : LoadValue(t, f, &v);
    if (rc == kOk && oneRow) v = row[i];
    if (rc == kOk) {
      std::string text = ValueText(f, v);
      std::memcpy(area.data() + offset, text.data(), std::min<size_t>(text.size(), l.width));
    } else if (result == kOk) {
      result = rc;
    }
    offset += l.width + 1;
  }
  return result;
}

// Parses every listed value; the fields all belong to one table, the selected one.
int32_t CollectValues(Call& c, Target* t, std::vector<FieldInfo>* fields,
                      std::vector<Value>* values) {
  std::vector<Listed> listed;
  const auto& area = c.req.slots[1];
  if (int32_t rc = ListedFields(c.req.slots[0], area.size(), &listed); rc != kOk) return rc;
  if (int32_t rc = SelectedTable(c, t); rc != kOk) return rc;
  size_t offset = 0;
  for (const auto& l : listed) {
    Target ft;
    FieldInfo f;
    if (int32_t rc = FieldOf(c, l.name, &ft, &f); rc != kOk) return rc;
    if (ft.table != t->table) return kMalformed;
    const char* p = reinterpret_cast<const char*>(area.data() + offset);
    Value v;
    if (int32_t rc = ParseText(f, std::string(p, strnlen(p, l.width)), &v); rc != kOk) return rc;
    fields->push_back(f);
    values->push_back(v);
    offset += l.width + 1;
  }
  return kOk;
}

int32_t RunWithValues(Db& db, const std::string& sql, const std::vector<Value>& values,
                      int64_t record) {
  Stmt s(db, sql);
  int i = 1;
  for (const auto& v : values) s.Bind(i++, v);
  if (record > 0) s.Bind(i, record);
  return s.Run() ? kOk : StorageFailure(db);
}

}  // namespace

int32_t HGetField(Call& c) {
  return ReadInto(c, c.req.Text(0), 1);
}
int32_t HPutField(Call& c) {
  return WriteFrom(c, c.req.Text(0), 1, true);
}
int32_t HTestField(Call& c) {
  return WriteFrom(c, c.req.Text(0), 1, false);
}

int32_t HIsNull(Call& c) {
  Target t;
  FieldInfo f;
  Value v;
  if (int32_t rc = FieldOf(c, c.req.Text(0), &t, &f); rc != kOk) return rc;
  if (int32_t rc = LoadValue(t, f, &v); rc != kOk) return rc;
  wire::PutU16(c.req.Data(1), v.kind == Value::kNull ? 1 : 0);
  return kOk;
}

int32_t HCpyField(Call& c) {
  Target from, to;
  FieldInfo ff, tf;
  Value v, converted;
  if (int32_t rc = FieldOf(c, Qualified(c.req.Text(0), c.req.Text(1)), &from, &ff); rc != kOk)
    return rc;
  if (int32_t rc = FieldOf(c, Qualified(c.req.Text(2), c.req.Text(3)), &to, &tf); rc != kOk)
    return rc;
  if (int32_t rc = LoadValue(from, ff, &v); rc != kOk) return rc;
  if (v.kind != Value::kNull)
    if (int32_t rc = ParseText(tf, ValueText(ff, v), &converted); rc != kOk) return rc;
  return StoreValue(c, to, tf, converted);
}

int32_t HFRead(Call& c) {
  return ReadInto(c, Qualified(c.req.Text(0), c.req.Text(1)), 2);
}
int32_t HFWrite(Call& c) {
  return WriteFrom(c, Qualified(c.req.Text(0), c.req.Text(1)), 2, true);
}

int32_t HMatGet(Call& c) {
  return FillValues(c, 0, 1);
}

int32_t HGetRead(Call& c) {
  Target t;
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  ReadTransaction snapshot(*t.use->conn);
  // A move without a lock and the read of the record it lands on go in one statement: over
  // PostgreSQL one round trip instead of two.
  if (const Move* move = MoveOf(Upper(Trimmed(c.req.Text(0))));
      move && Trimmed(c.req.Text(1)).empty() && t.use->conn->Postgres()) {
    int64_t moved = -1;
    int32_t rc = FillValues(c, 2, 3, move, t.open, &moved);
    if (moved == 0) return kEndOfTable;
    if (moved > 0) return rc;
  }
  if (int32_t rc = ReadRecord(c, t, c.req.Text(0), c.req.Text(1)); rc != kOk) return rc;
  return FillValues(c, 2, 3);
}

int32_t HMatPut(Call& c) {
  Target t;
  std::vector<FieldInfo> fields;
  std::vector<Value> values;
  if (int32_t rc = CollectValues(c, &t, &fields, &values); rc != kOk) return rc;
  if (t.open->current <= 0) return kNoCurrentRecord;
  if (int32_t rc = CheckWritable(c, t, t.open->current); rc != kOk) return rc;
  if (fields.empty()) return kOk;
  if (int32_t rc = CheckValues(*t.use->conn, t.table, t.open->current, fields, values); rc != kOk)
    return rc;
  std::string sql = "UPDATE " + QuoteIdent(t.table) + " SET ";
  for (size_t i = 0; i < fields.size(); ++i)
    sql += (i ? ", " : "") + QuoteIdent(fields[i].name) + "=?";
  return RunWithValues(*t.use->conn, sql + " WHERE rowid=?", values, t.open->current);
}

int32_t HPutWrite(Call& c) {
  Target t;
  std::vector<FieldInfo> fields;
  std::vector<Value> values;
  if (int32_t rc = CollectValues(c, &t, &fields, &values); rc != kOk) return rc;
  if (int32_t rc = CheckWritable(c, t, 0); rc != kOk) return rc;
  int64_t record = 0;
  if (int32_t rc = InsertRecord(*t.use->conn, t.table, fields, values, &record); rc != kOk)
    return rc;
  t.open->current = record;
  return kOk;
}

}  // namespace zdbd
