// Constraints and default values of fields: the 364-byte constraint record, the list of a field's
// constraint numbers, and default texts. Enforcement itself lives in rules.cpp.
#include <cctype>
#include <cstring>

#include "handlers.h"
#include "rules.h"
#include "status.h"
#include "wire/le.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

constexpr size_t kRecordSize = 364;
constexpr size_t kOffNumber = 33, kOffKind = 35, kOffV1 = 36, kOffV2 = 164, kOffText = 292;
constexpr size_t kValueWidth = 128, kTextWidth = 72;

Constraint DecodeConstraint(const uint8_t* in) {
  Constraint c;
  c.field = FixedText(in, 33);
  c.number = wire::GetU16(in + kOffNumber);
  c.kind = static_cast<char>(std::toupper(in[kOffKind]));
  c.v1 = FixedText(in + kOffV1, kValueWidth);
  c.v2 = FixedText(in + kOffV2, kValueWidth);
  c.description = FixedText(in + kOffText, kTextWidth);
  return c;
}

void EncodeConstraint(const Constraint& c, uint8_t* out) {
  std::memset(out, 0, kRecordSize);
  PutFixedText(out, 33, c.field);
  wire::PutU16(out + kOffNumber, static_cast<uint16_t>(c.number));
  out[kOffKind] = static_cast<uint8_t>(c.kind);
  PutFixedText(out + kOffV1, kValueWidth, c.v1);
  PutFixedText(out + kOffV2, kValueWidth, c.v2);
  PutFixedText(out + kOffText, kTextWidth, c.description);
}

// The field a constraint request names: its text, else the record's field name.
int32_t ConstraintField(Call& c, const Constraint& rec, Target* t, FieldInfo* f) {
  std::string name = Trimmed(c.req.Text(0));
  return CatalogField(c, name.empty() ? rec.field : name, t, f);
}

int32_t Store(Call& c, bool add) {
  Constraint rec = DecodeConstraint(c.req.Data(1));
  Target t;
  FieldInfo f;
  if (int32_t rc = ConstraintField(c, rec, &t, &f); rc != kOk) return rc;
  rec.field = f.name;
  if (int32_t rc = CheckConstraintDefinition(f, rec); rc != kOk) return rc;
  Db& db = *t.use->conn;
  if (add) return AddConstraint(db, t.table, &rec);
  for (const auto& have : Constraints(db, t.table, ""))
    if (have.number == rec.number) return ReplaceConstraint(db, t.table, rec);
  return kConstraintNotFound;
}

int32_t DefaultField(Call& c, Target* t, FieldInfo* f) {
  return CatalogField(c, c.req.Text(0), t, f);
}

}  // namespace

int32_t HAddConstraint(Call& c) {
  return Store(c, true);
}

int32_t HUpdConstraint(Call& c) {
  return Store(c, false);
}

int32_t HDelConstraint(Call& c) {
  Target t;
  FieldInfo f;
  if (int32_t rc = CatalogField(c, c.req.Text(0), &t, &f); rc != kOk) return rc;
  return DeleteConstraint(*t.use->conn, t.table, f.name, static_cast<int>(c.req.U32(1)));
}

int32_t HGetConstraint(Call& c) {
  Target t;
  FieldInfo f;
  std::memset(c.req.Data(2), 0, kRecordSize);
  if (int32_t rc = CatalogField(c, c.req.Text(0), &t, &f); rc != kOk) return rc;
  int number = c.req.U16(1);
  for (const auto& rule : Constraints(*t.use->conn, t.table, f.name)) {
    if (rule.number != number) continue;
    EncodeConstraint(rule, c.req.Data(2));
    return kOk;
  }
  return kConstraintNotFound;
}

int32_t HFieldConstraints(Call& c) {
  Target t;
  FieldInfo f;
  auto& out = c.req.slots[2];
  std::fill(out.begin(), out.end(), 0);
  c.req.PutU32(1, 0);
  if (int32_t rc = CatalogField(c, c.req.Text(0), &t, &f); rc != kOk) return rc;
  auto rules = Constraints(*t.use->conn, t.table, f.name);
  for (size_t i = 0; i < rules.size() && 2 * (i + 1) <= out.size(); ++i)
    wire::PutU16(out.data() + 2 * i, static_cast<uint16_t>(rules[i].number));
  c.req.PutU32(1, static_cast<uint32_t>(rules.size()));
  return kOk;
}

int32_t HPutDefault(Call& c) {
  Target t;
  FieldInfo f;
  if (int32_t rc = DefaultField(c, &t, &f); rc != kOk) return rc;
  Value v;
  // Kept in the value's canonical text, so a default reads back as it will be stored.
  if (int32_t rc = ParseText(f, c.req.Text(1), &v); rc != kOk) return rc;
  return SetDefault(*t.use->conn, t.table, f.name, ValueText(f, v), false);
}

int32_t HGetDefault(Call& c) {
  Target t;
  FieldInfo f;
  c.req.PutText(1, "");
  if (int32_t rc = DefaultField(c, &t, &f); rc != kOk) return rc;
  std::string value;
  if (!GetDefault(*t.use->conn, t.table, f.name, &value)) return kNoDefault;
  c.req.PutText(1, value);
  return kOk;
}

int32_t HDelDefault(Call& c) {
  Target t;
  FieldInfo f;
  if (int32_t rc = DefaultField(c, &t, &f); rc != kOk) return rc;
  return SetDefault(*t.use->conn, t.table, f.name, "", true);
}

}  // namespace zdbd
