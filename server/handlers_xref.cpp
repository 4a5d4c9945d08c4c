// Cross references between a field of one table and a key of another: defining, listing and
// testing them. The checks on write and delete live in rules.cpp.
#include <cctype>
#include <cstring>

#include "handlers.h"
#include "rules.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

constexpr size_t kXrefSize = 297, kXrefInfoSize = 671, kTableListSize = 3304;

void EncodeXref(const Xref& x, uint8_t* out) {
  std::memset(out, 0, kXrefSize);
  PutFixedText(out, 33, x.name);
  out[33] = static_cast<uint8_t>(x.kind);
  PutFixedText(out + 34, 33, x.fromTable);
  PutFixedText(out + 67, 33, x.fromField);
  PutFixedText(out + 100, 33, x.toTable);
  PutFixedText(out + 133, 33, x.toField);
  PutFixedText(out + 166, 9, x.rule);
  PutFixedText(out + 175, kXrefSize - 175, x.description);
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

bool HasField(Db& db, const std::string& table, const std::string& field) {
  for (const auto& f : TableFields(db, table))
    if (f.name == field) return true;
  return false;
}

// The four texts naming a cross reference's ends; the from-table defaults to the selected one.
int32_t Ends(Call& c, char kind, Xref* x, Target* t) {
  if (int32_t rc = CatalogTable(c, c.req.Text(0), t); rc != kOk) return rc;
  x->kind = kind;
  x->fromTable = t->table;
  x->fromField = Trimmed(c.req.Text(1));
  x->toTable = Trimmed(c.req.Text(2));
  x->toField = kind == 'F' ? Trimmed(c.req.Text(3)) : "";
  return kOk;
}

bool SameEnds(const Xref& a, const Xref& b) {
  return a.kind == b.kind && a.fromTable == b.fromTable && a.fromField == b.fromField &&
         a.toTable == b.toTable && a.toField == b.toField;
}

int32_t Add(Call& c, char kind) {
  Target t;
  Xref x;
  x.name = Trimmed(c.req.Text(0));
  if (!IsValidName(x.name, 32)) return kBadTableName;
  if (int32_t rc = CatalogTable(c, c.req.Text(1), &t); rc != kOk) return rc;
  Db& db = *t.use->conn;
  x.kind = kind;
  x.fromTable = t.table;
  x.fromField = Trimmed(c.req.Text(2));
  x.toTable = Trimmed(c.req.Text(3));
  x.toField = kind == 'F' ? Trimmed(c.req.Text(4)) : "";
  x.rule = Upper(Trimmed(c.req.Text(5)));
  x.description = c.req.Text(6);
  if (x.rule.empty()) x.rule = "RESTRICT";
  if (x.rule != "RESTRICT" && x.rule != "CASCADE" && x.rule != "NULLIFY") return kMalformed;
  if (!HasField(db, x.fromTable, x.fromField)) return kFieldNotFound;
  if (!TableExists(db, x.toTable)) return kTableNotFound;
  if (kind == 'F' && !HasField(db, x.toTable, x.toField)) return kFieldNotFound;
  // The reference must already hold for the records there are.
  if (DanglingCount(db, x) > 0) return kNoReferencedRecord;
  return AddXref(db, x);
}

int32_t Remove(Call& c, char kind) {
  Target t;
  Xref want;
  if (int32_t rc = Ends(c, kind, &want, &t); rc != kOk) return rc;
  for (const auto& x : Xrefs(*t.use->conn))
    if (SameEnds(x, want)) return DeleteXref(*t.use->conn, x.name);
  return kXrefNotFound;
}

int32_t Get(Call& c, char kind) {
  Target t;
  Xref want;
  std::memset(c.req.Data(4), 0, kXrefSize);
  if (int32_t rc = Ends(c, kind, &want, &t); rc != kOk) return rc;
  for (const auto& x : Xrefs(*t.use->conn)) {
    if (!SameEnds(x, want)) continue;
    EncodeXref(x, c.req.Data(4));
    return kOk;
  }
  return kXrefNotFound;
}

// "TABLE.FIELD" or a field of the selected table; "TABLE." names the table's record numbers.
int32_t FieldEnd(Call& c, std::string* table, std::string* field, Target* t) {
  std::string name = Trimmed(c.req.Text(0)), tbl;
  if (size_t dot = name.find('.'); dot != std::string::npos) {
    tbl = name.substr(0, dot);
    name = Trimmed(name.substr(dot + 1));
  }
  if (int32_t rc = CatalogTable(c, tbl, t); rc != kOk) return rc;
  if (!name.empty() && !HasField(*t->use->conn, t->table, name)) return kFieldNotFound;
  *table = t->table;
  *field = name;
  return kOk;
}

int32_t ListByField(Call& c, bool from) {
  Target t;
  std::string table, field;
  auto& out = c.req.slots[1];
  std::fill(out.begin(), out.end(), 0);
  c.req.PutU32(2, 0);
  if (int32_t rc = FieldEnd(c, &table, &field, &t); rc != kOk) return rc;
  size_t n = 0;
  for (const auto& x : Xrefs(*t.use->conn)) {
    bool match = from ? x.fromTable == table && x.fromField == field
                      : x.toTable == table && x.toField == field;
    if (!match || (n + 1) * kXrefSize > out.size()) continue;
    EncodeXref(x, out.data() + kXrefSize * n++);
  }
  c.req.PutU32(2, static_cast<uint32_t>(n));
  return kOk;
}

int32_t TableList(Call& c, bool from) {
  Target t;
  uint8_t* out = c.req.Data(0);
  std::memset(out, 0, kTableListSize);
  if (int32_t rc = SelectedTable(c, &t); rc != kOk) return rc;
  std::vector<std::string> names;
  for (const auto& x : Xrefs(*t.use->conn)) {
    const std::string& mine = from ? x.fromTable : x.toTable;
    const std::string& other = from ? x.toTable : x.fromTable;
    if (mine != t.table) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || n == other;
    if (!seen && names.size() < (kTableListSize - 4) / 33) names.push_back(other);
  }
  wire::PutU32(out, static_cast<uint32_t>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) PutFixedText(out + 4 + 33 * i, 33, names[i]);
  return kOk;
}

int64_t Linked(Db& db, const Xref& x) {
  Stmt s(db, "SELECT count(*) FROM " + QuoteIdent(x.fromTable) + " WHERE coalesce(" +
                 QuoteIdent(x.fromField) + ", '')<>''");
  return s.Step() ? s.Int(0) : 0;
}

}  // namespace

int32_t HAddFieldXref(Call& c) {
  return Add(c, 'F');
}
int32_t HAddTableXref(Call& c) {
  return Add(c, 'T');
}
int32_t HDelFieldXref(Call& c) {
  return Remove(c, 'F');
}
int32_t HDelTableXref(Call& c) {
  return Remove(c, 'T');
}
int32_t HGetFieldXref(Call& c) {
  return Get(c, 'F');
}
int32_t HGetTableXref(Call& c) {
  return Get(c, 'T');
}
int32_t HXrefsFromField(Call& c) {
  return ListByField(c, true);
}
int32_t HXrefsToField(Call& c) {
  return ListByField(c, false);
}
int32_t HTablesReferredFrom(Call& c) {
  return TableList(c, true);
}
int32_t HTablesReferringTo(Call& c) {
  return TableList(c, false);
}

int32_t HDelXref(Call& c) {
  Target t;
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  return DeleteXref(*t.use->conn, Trimmed(c.req.Text(0)));
}

int32_t HGetXrefByName(Call& c) {
  Target t;
  uint8_t* out = c.req.Data(1);
  std::memset(out, 0, kXrefInfoSize);
  if (int32_t rc = SelectedDb(c, &t); rc != kOk) return rc;
  for (const auto& x : Xrefs(*t.use->conn)) {
    if (x.name != Trimmed(c.req.Text(0))) continue;
    EncodeXref(x, out);
    wire::PutU32(out + kXrefSize, static_cast<uint32_t>(Linked(*t.use->conn, x)));
    wire::PutU32(out + kXrefSize + 4, static_cast<uint32_t>(DanglingCount(*t.use->conn, x)));
    return kOk;
  }
  return kXrefNotFound;
}

int32_t HXrefTest(Call& c) {
  Target t;
  if (int32_t rc = CatalogTable(c, c.req.Text(0), &t); rc != kOk) return rc;
  std::string name = Trimmed(c.req.Text(1));
  bool any = false;
  for (const auto& x : Xrefs(*t.use->conn)) {
    if (x.fromTable != t.table || (!name.empty() && x.name != name)) continue;
    any = true;
    if (DanglingCount(*t.use->conn, x) > 0) return kNoReferencedRecord;
  }
  return any || name.empty() ? kOk : kXrefNotFound;
}

}  // namespace zdbd
