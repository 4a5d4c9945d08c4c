// zdb constraint list|add|drop, zdb default list|set|drop and zdb xref list|add|drop: the
// rules zdbd keeps on every write.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zdb/admin.h"
#include "zdb/admin_verbs.h"
#include "zdb/common.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

constexpr int32_t kNoDefault = 4036;
constexpr size_t kXrefRecord = 297;

int ListVerb(const VerbCall& call, int32_t (*list)(Listing*), const char* what) {
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  Listing l;
  if (int32_t r = list(&l); r != ZDB_OK) return Finish(std::string("listing ") + what, r);
  PrintListing(call, l);
  return kExitOk;
}

bool ParseNumber(const std::string& text, long max, long* value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::atol(text.c_str());
  return *value <= max;
}

// ---- constraints ----------------------------------------------------------------------------

int ConstraintAdd(const VerbCall& call) {
  const ConstraintKind* kind = FindConstraintKind(call.at(3));
  if (!kind) return VerbUsage(call, "KIND is required, range, list, pattern or unique");
  for (const ConstraintKind& k : ConstraintKinds())
    for (const char* o : {k.value1, k.value2})
      if (o && call.given(o) && o != kind->value1 && o != kind->value2)
        return VerbUsage(call,
                         std::string(o) + " does not go with a " + kind->name + " constraint");
  if (kind->value1 && kind->value2 == nullptr && !call.given(kind->value1))
    return VerbUsage(call, std::string("a ") + kind->name + " constraint needs " + kind->value1);
  long number = 0;
  if (call.given("--number") && !ParseNumber(call.text("--number"), 65535, &number))
    return VerbUsage(call, "--number is a number from 1 to 65535");
  unsigned char record[ZDB_CONSTRAINT_RECORD_SIZE] = {};
  PutText(record, 0, 33, call.at(2));
  record[33] = static_cast<unsigned char>(number);
  record[34] = static_cast<unsigned char>(number >> 8);
  record[35] = static_cast<unsigned char>(kind->letter);
  if (kind->value1) PutText(record, 36, 128, call.text(kind->value1));
  if (kind->value2) PutText(record, 164, 128, call.text(kind->value2));
  PutText(record, 292, 72, call.text("--description"));
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  return Finish("adding a constraint to " + call.at(1) + "." + call.at(2),
                Z_AddConstrain(call.at(2).c_str(), record));
}

int ConstraintDrop(const VerbCall& call) {
  long number = 0;
  if (!ParseNumber(call.at(3), 65535, &number) || number == 0)
    return VerbUsage(call, "NUMBER is a number from 1 to 65535");
  const std::string what = "constraint " + call.at(3) + " of " + call.at(1) + "." + call.at(2);
  if (int code = Confirm(call, what); code != kExitOk) return code;
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  return Finish("dropping " + what,
                Z_DelConstrain(call.at(2).c_str(), static_cast<int32_t>(number)));
}

// ---- default values -------------------------------------------------------------------------

int DefaultSet(const VerbCall& call) {
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  return Finish("setting the default of " + call.at(1) + "." + call.at(2),
                Z_PutDefaultValue(call.at(2).c_str(), call.at(3).c_str()));
}

int DefaultDrop(const VerbCall& call) {
  const std::string what = "the default of " + call.at(1) + "." + call.at(2);
  if (int code = Confirm(call, what); code != kExitOk) return code;
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  return Finish("dropping " + what, Z_DelDefaultValue(call.at(2).c_str()));
}

// ---- cross references -----------------------------------------------------------------------

int XrefAdd(const VerbCall& call) {
  const std::string& from = call.at(2);
  const std::string& to = call.at(3);
  const auto fromDot = from.find('.');
  if (fromDot == std::string::npos || fromDot == 0 || fromDot + 1 == from.size())
    return VerbUsage(call, "FROM is TABLE.FIELD, not '" + from + "'");
  const auto toDot = to.find('.');
  const std::string fromTable = from.substr(0, fromDot), fromField = from.substr(fromDot + 1);
  const std::string toTable = to.substr(0, toDot);
  const std::string toField = toDot == std::string::npos ? "" : to.substr(toDot + 1);
  if (toTable.empty() || (toDot != std::string::npos && toField.empty()))
    return VerbUsage(call, "TO is TABLE.FIELD, or TABLE for record numbers, not '" + to + "'");
  if (!Enter(call.at(0))) return kExitFailure;
  const std::string rule = call.text("--rule"), description = call.text("--description");
  // A bare TABLE: the from-field holds record numbers of that table.
  const auto add = toField.empty() ? Z_AddTXREF : Z_AddFXREF;
  return Finish("adding cross reference " + call.at(1),
                add(call.at(1).c_str(), fromTable.c_str(), fromField.c_str(), toTable.c_str(),
                    toField.c_str(), rule.c_str(), description.c_str()));
}

int XrefDrop(const VerbCall& call) {
  if (int code = Confirm(call, "cross reference " + call.at(1)); code != kExitOk) return code;
  if (!Enter(call.at(0))) return kExitFailure;
  return Finish("dropping cross reference " + call.at(1), Z_DelXREF(call.at(1).c_str()));
}

const VerbOption kDescription = {"--description", "TEXT", "its description"};

}  // namespace

int32_t ListConstraints(Listing* out) {
  *out = Listing{{"field", "number", "kind", "value1", "value2", "description"}, {}, {}};
  std::vector<std::string> fields;
  if (int32_t r = FieldNames(&fields); r != ZDB_OK) return r;
  for (std::string field : fields) {
    int32_t count = 0;
    unsigned char numbers[250] = {};
    if (int32_t r = Z_FieldConstrain(field.data(), &count, numbers); r != ZDB_OK) return r;
    for (int32_t i = 0; i < count && i < 125; ++i) {
      unsigned char rec[ZDB_CONSTRAINT_RECORD_SIZE] = {};
      const uint16_t number = SlotU16(numbers, static_cast<size_t>(i) * 2);
      if (int32_t r = Z_GetConstrain(field.data(), number, rec); r != ZDB_OK) return r;
      const ConstraintKind* kind = FindConstraintKind(std::string(1, static_cast<char>(rec[35])));
      const std::string kindName = kind ? kind->name : std::string(1, static_cast<char>(rec[35]));
      const std::string v1 = SlotText(rec, 36, 128), v2 = SlotText(rec, 164, 128);
      const std::string description = SlotText(rec, 292, 72);
      out->rows.push_back({field, std::to_string(number), kindName, v1, v2, description});
      out->json.push_back(JsonObject({{"field", JsonString(field)},
                                      {"number", JsonNumber(number)},
                                      {"kind", JsonString(kindName)},
                                      {"value1", JsonString(v1)},
                                      {"value2", JsonString(v2)},
                                      {"description", JsonString(description)}}));
    }
  }
  return ZDB_OK;
}

int32_t ListDefaults(Listing* out) {
  *out = Listing{{"field", "default"}, {}, {}};
  std::vector<std::string> fields;
  if (int32_t r = FieldNames(&fields); r != ZDB_OK) return r;
  for (std::string field : fields) {
    std::vector<char> value(ZDB_DEFAULT_VALUE_SIZE, 0);
    const int32_t r = Z_GetDefaultValue(field.data(), value.data());
    if (r == kNoDefault) continue;
    if (r != ZDB_OK) return r;
    const std::string v(value.data(), strnlen(value.data(), value.size()));
    out->rows.push_back({field, v});
    out->json.push_back(JsonObject({{"field", JsonString(field)}, {"value", JsonString(v)}}));
  }
  return ZDB_OK;
}

int32_t ListXrefs(Listing* out) {
  *out = Listing{{"xref", "kind", "from", "to", "rule", "description"}, {}, {}};
  std::vector<std::string> fields;
  if (int32_t r = FieldNames(&fields); r != ZDB_OK) return r;
  for (std::string field : fields) {
    std::vector<unsigned char> buf(29700, 0);
    int32_t count = 0;
    if (int32_t r = Z_XRefFromField(field.data(), buf.data(), &count); r != ZDB_OK) return r;
    for (int32_t i = 0; i < count && i < 100; ++i) {
      const unsigned char* rec = buf.data() + static_cast<size_t>(i) * kXrefRecord;
      const bool fieldRef = rec[33] == 'F';
      const std::string name = SlotText(rec, 0, 33);
      const std::string from = SlotText(rec, 34, 33) + "." + SlotText(rec, 67, 33);
      const std::string to =
          SlotText(rec, 100, 33) + (fieldRef ? "." + SlotText(rec, 133, 33) : "");
      const std::string rule = SlotText(rec, 166, 9), description = SlotText(rec, 175, 122);
      const char* kind = fieldRef ? "field" : "table";
      out->rows.push_back({name, kind, from, to, rule, description});
      out->json.push_back(JsonObject({{"name", JsonString(name)},
                                      {"kind", JsonString(kind)},
                                      {"from", JsonString(from)},
                                      {"to", JsonString(to)},
                                      {"rule", JsonString(rule)},
                                      {"description", JsonString(description)}}));
    }
  }
  return ZDB_OK;
}

const std::vector<Verb>& RuleVerbs() {
  static const std::vector<Verb> verbs = {
      {"constraint",
       "list",
       "list the constraints of a table's fields",
       "DB TABLE",
       kListing,
       {},
       [](const VerbCall& c) { return ListVerb(c, ListConstraints, "constraints"); }},
      {"constraint",
       "add",
       "add a constraint: KIND required, range (--min, --max), list (--values 'a,b'), "
       "pattern (--pattern GLOB) or unique",
       "DB TABLE FIELD KIND",
       0,
       {{"--min", "VALUE", "lowest value of a range"},
        {"--max", "VALUE", "highest value of a range"},
        {"--values", "A,B,...", "the values a list allows"},
        {"--pattern", "GLOB", "the pattern values must match (*, ?, [...])"},
        {"--number", "N", "its number in the table (default: the next free one)"},
        kDescription},
       ConstraintAdd},
      {"constraint",
       "drop",
       "drop a field's constraint by its number",
       "DB TABLE FIELD NUMBER",
       kDestructive,
       {},
       ConstraintDrop},
      {"default",
       "list",
       "list the default values of a table's fields",
       "DB TABLE",
       kListing,
       {},
       [](const VerbCall& c) { return ListVerb(c, ListDefaults, "default values"); }},
      {"default", "set", "set a field's default value", "DB TABLE FIELD VALUE", 0, {}, DefaultSet},
      {"default",
       "drop",
       "drop a field's default value",
       "DB TABLE FIELD",
       kDestructive,
       {},
       DefaultDrop},
      {"xref",
       "list",
       "list the cross references leaving a table",
       "DB TABLE",
       kListing,
       {},
       [](const VerbCall& c) { return ListVerb(c, ListXrefs, "cross references"); }},
      {"xref",
       "add",
       "add a cross reference from TABLE.FIELD to TABLE.FIELD (or to TABLE: record numbers)",
       "DB NAME FROM TO",
       0,
       {{"--rule", "RULE",
         "what deleting a record referred to does: restrict (default), "
         "cascade or nullify"},
        kDescription},
       XrefAdd},
      {"xref", "drop", "drop a cross reference by name", "DB NAME", kDestructive, {}, XrefDrop},
  };
  return verbs;
}

}  // namespace zdb::cli
