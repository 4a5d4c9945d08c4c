// zdb db list|create|drop, zdb table list|create|drop|describe|rename, zdb field add|drop|change
// and zdb index list|create|drop.
#include <cctype>
#include <cstdio>
#include <sstream>

#include "zdb/admin.h"
#include "zdb/admin_verbs.h"
#include "zdb/catalog.h"
#include "zdb/common.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

constexpr size_t kIndexRecord = 36;

std::string Named(const VerbCall& call, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (i ? "." : "") + call.at(i);
  return s;
}

// ---- databases ------------------------------------------------------------------------------

int DbList(const VerbCall& call) {
  if (!Connect()) return kExitFailure;
  std::vector<std::string> names;
  if (int32_t r = ListDatabases(&names); r != ZDB_OK) return Finish("listing databases", r);
  Listing l{{"database", "tables"}, {}, {}};
  for (const std::string& n : names) {
    if (!Enter(n)) return kExitFailure;
    int32_t tables = 0, open = 0;
    const int32_t r = Z_NumTables(&tables, &open);
    ZDB_UnUseDB(n.c_str());
    if (r != ZDB_OK) return Finish("counting the tables of " + n, r);
    l.rows.push_back({n, std::to_string(tables)});
    l.json.push_back(JsonObject({{"name", JsonString(n)}, {"tables", JsonNumber(tables)}}));
  }
  PrintListing(call, l);
  return kExitOk;
}

int DbCreate(const VerbCall& call) {
  if (!Connect()) return kExitFailure;
  return Finish("creating database " + call.at(0), Z_NewDB(call.at(0).c_str(), "", "", 0, ""));
}

int DbDrop(const VerbCall& call) {
  if (int code = Confirm(call, "database " + call.at(0)); code != kExitOk) return code;
  if (!Enter(call.at(0))) return kExitFailure;
  return Finish("dropping database " + call.at(0), Z_DelDB());
}

// ---- tables ---------------------------------------------------------------------------------

struct TableInfo {
  std::string name, description;
  int64_t records = 0, fields = 0;
};

int32_t ReadTableRecord(TableInfo* t) {
  unsigned char record[ZDB_TABLE_RECORD_SIZE] = {};
  const int32_t r = Z_GetTable(record);
  if (r != ZDB_OK) return r;
  t->name = SlotText(record, 0, 33);
  t->description = SlotText(record, 33, 64);
  t->records = static_cast<int32_t>(SlotU32(record, 97));
  t->fields = static_cast<int32_t>(SlotU32(record, 101));
  return ZDB_OK;
}

int TableList(const VerbCall& call) {
  if (!Enter(call.at(0))) return kExitFailure;
  std::vector<std::string> names;
  if (int32_t r = ListTables(&names); r != ZDB_OK) return Finish("listing tables", r);
  Listing l{{"table", "fields", "records", "description"}, {}, {}};
  for (const std::string& n : names) {
    TableInfo t;
    int32_t r = OpenTable(n);
    if (r == ZDB_OK) r = ReadTableRecord(&t);
    ZDB_CloseTable(n.c_str());
    if (r != ZDB_OK) return Finish("reading table " + n, r);
    l.rows.push_back({n, std::to_string(t.fields), std::to_string(t.records), t.description});
    l.json.push_back(JsonObject({{"name", JsonString(n)},
                                 {"fields", JsonNumber(t.fields)},
                                 {"records", JsonNumber(t.records)},
                                 {"description", JsonString(t.description)}}));
  }
  PrintListing(call, l);
  return kExitOk;
}

int TableCreate(const VerbCall& call) {
  std::istringstream items(call.at(2));
  for (std::string item; std::getline(items, item, ';');) {
    FieldSpecItem f;
    std::string why;
    if (item.find_first_not_of(" \t") != std::string::npos && !ParseFieldSpecItem(item, &f, &why))
      return VerbUsage(call, why);
  }
  if (!Enter(call.at(0))) return kExitFailure;
  unsigned char record[ZDB_TABLE_RECORD_SIZE] = {};
  const std::string description = call.text("--description");
  PutText(record, 33, 64, description);
  return Finish("creating table " + Named(call, 2),
                Z_CreTable(call.at(1).c_str(), call.at(2).c_str(), description.c_str(), record));
}

int TableDrop(const VerbCall& call) {
  if (int code = Confirm(call, "table " + Named(call, 2)); code != kExitOk) return code;
  if (!Enter(call.at(0))) return kExitFailure;
  return Finish("dropping table " + Named(call, 2), Z_DelTable(call.at(1).c_str(), 0));
}

int TableRename(const VerbCall& call) {
  if (!Enter(call.at(0))) return kExitFailure;
  return Finish("renaming table " + Named(call, 2),
                Z_Rename(call.at(1).c_str(), call.at(2).c_str()));
}

int TableDescribe(const VerbCall& call) {
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  TableInfo t;
  if (int32_t r = ReadTableRecord(&t); r != ZDB_OK) return Finish("reading table", r);
  struct Part {
    const char* key;
    int32_t (*list)(Listing*);
    Listing listing;
  };
  Part parts[] = {{"fields", ListFields, {}},
                  {"indexes", ListIndexes, {}},
                  {"constraints", ListConstraints, {}},
                  {"defaults", ListDefaults, {}},
                  {"xrefs", ListXrefs, {}}};
  for (Part& p : parts)
    if (int32_t r = p.list(&p.listing); r != ZDB_OK)
      return Finish(std::string("reading the ") + p.key + " of " + Named(call, 2), r);
  if (call.json) {
    std::vector<JsonMember> members = {{"database", JsonString(call.at(0))},
                                       {"name", JsonString(t.name)},
                                       {"description", JsonString(t.description)},
                                       {"records", JsonNumber(t.records)}};
    for (const Part& p : parts) members.emplace_back(p.key, JsonArray(p.listing.json));
    std::printf("%s\n", JsonObject(members).c_str());
    return kExitOk;
  }
  std::printf("table %s.%s: %lld records%s%s\n", call.at(0).c_str(), t.name.c_str(),
              static_cast<long long>(t.records), t.description.empty() ? "" : ", ",
              t.description.c_str());
  for (const Part& p : parts) {
    if (p.listing.rows.empty()) continue;
    std::printf("\n%s:\n%s", p.key, AlignedTable(p.listing.header, p.listing.rows).c_str());
  }
  return kExitOk;
}

// ---- fields ---------------------------------------------------------------------------------

struct FieldInfo {
  std::string name, description;
  char type = 'C', subtype = 0;
  uint32_t width = 0;
};

int32_t ReadField(const std::string& name, FieldInfo* f) {
  std::string field = name;
  std::vector<char> description(ZDB_DEFAULT_VALUE_SIZE, 0);
  unsigned char d[ZDB_FIELD_DESCRIPTOR_SIZE] = {};
  const int32_t r = Z_GetField(field.data(), description.data(), d);
  if (r != ZDB_OK) return r;
  f->name = SlotText(d, 0, 33);
  f->description = SlotText(d, 33, 66);
  f->subtype = std::isalpha(d[99]) ? static_cast<char>(d[99]) : 0;
  f->type = static_cast<char>(d[100]);
  f->width = SlotU32(d, 101);
  return ZDB_OK;
}

int FieldWrite(const VerbCall& call, bool add) {
  FieldSpecItem spec;
  std::string why;
  const std::string& specText = call.at(add ? 2 : 3);
  if (!ParseFieldSpecItem(specText, &spec, &why)) return VerbUsage(call, why);
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  std::string description = call.text("--description");
  if (!add && !call.given("--description")) {
    FieldInfo now;  // a change keeps the description unless it names a new one
    if (int32_t r = ReadField(call.at(2), &now); r != ZDB_OK)
      return Finish("reading field " + Named(call, 3), r);
    description = now.description;
  }
  std::vector<unsigned char> d = FieldDescriptor(spec, description);
  if (add)
    return Finish("adding field " + spec.name + " to " + Named(call, 2),
                  Z_AddField(call.at(1).c_str(), "", d.data()));
  return Finish("changing field " + Named(call, 3),
                Z_UpdField(call.at(1).c_str(), call.at(2).c_str(), d.data()));
}

int FieldDrop(const VerbCall& call) {
  if (int code = Confirm(call, "field " + Named(call, 3)); code != kExitOk) return code;
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  return Finish("dropping field " + Named(call, 3), Z_DelField(call.at(2).c_str()));
}

// ---- indexes --------------------------------------------------------------------------------

int IndexList(const VerbCall& call) {
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  Listing l;
  if (int32_t r = ListIndexes(&l); r != ZDB_OK) return Finish("listing indexes", r);
  PrintListing(call, l);
  return kExitOk;
}

int IndexCreate(const VerbCall& call) {
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  std::string index = call.at(2);
  unsigned char record[kIndexRecord] = {};
  // Setting an index's fields makes a missing one; a create must not reshape an existing one.
  if (Z_GetIndex(index.data(), record) == ZDB_OK)
    return Finish("creating index " + Named(call, 3), 4025);
  return Finish("creating index " + Named(call, 3),
                Z_UpdIFields(index.c_str(), call.at(3).c_str(), call.given("--unique") ? 1 : 0));
}

int IndexDrop(const VerbCall& call) {
  if (int code = Confirm(call, "index " + Named(call, 3)); code != kExitOk) return code;
  if (!Enter(call.at(0), call.at(1))) return kExitFailure;
  return Finish("dropping index " + Named(call, 3), ZDB_EraseIndex(call.at(2).c_str()));
}

const VerbOption kDescription = {"--description", "TEXT", "its description"};

}  // namespace

int32_t ListFields(Listing* out) {
  *out = Listing{{"field", "type", "subtype", "width", "description"}, {}, {}};
  std::vector<std::string> names;
  if (int32_t r = FieldNames(&names); r != ZDB_OK) return r;
  for (const std::string& n : names) {
    FieldInfo f;
    if (int32_t r = ReadField(n, &f); r != ZDB_OK) return r;
    const std::string type(1, f.type), subtype = f.subtype ? std::string(1, f.subtype) : "";
    out->rows.push_back({f.name, type, subtype, std::to_string(f.width), f.description});
    out->json.push_back(JsonObject({{"name", JsonString(f.name)},
                                    {"type", JsonString(type)},
                                    {"subtype", JsonString(subtype)},
                                    {"width", JsonNumber(f.width)},
                                    {"description", JsonString(f.description)}}));
  }
  return ZDB_OK;
}

int32_t ListIndexes(Listing* out) {
  *out = Listing{{"index", "unique", "fields"}, {}, {}};
  int32_t count = 0;
  std::vector<unsigned char> buf(3600, 0);
  int32_t r = Z_TableIndex(&count, buf.data());
  if (r != ZDB_OK) return r;
  for (int32_t i = 0; i < count && i < 100; ++i) {
    const unsigned char* rec = buf.data() + i * kIndexRecord;
    std::string name = SlotText(rec, 0, 33);
    const bool unique = rec[33] == 1;
    int32_t n = 0;
    std::vector<unsigned char> fieldBuf(3900, 0);
    if ((r = Z_IndexFields(name.data(), &n, fieldBuf.data())) != ZDB_OK) return r;
    std::vector<std::string> fields;
    for (int32_t k = 0; k < n && k < 118; ++k)
      fields.push_back(SlotText(fieldBuf.data(), k * 33, 33));
    std::string joined;
    for (const auto& f : fields) joined += (joined.empty() ? "" : ",") + f;
    out->rows.push_back({name, unique ? "yes" : "no", joined});
    out->json.push_back(JsonObject({{"name", JsonString(name)},
                                    {"unique", JsonBool(unique)},
                                    {"fields", JsonStrings(fields)}}));
  }
  return ZDB_OK;
}

const std::vector<Verb>& SchemaVerbs() {
  static const std::vector<Verb> verbs = {
      {"db", "list", "list the databases with their number of tables", "", kListing, {}, DbList},
      {"db", "create", "create a database", "DB", 0, {}, DbCreate},
      {"db", "drop", "drop a database with everything in it", "DB", kDestructive, {}, DbDrop},
      {"table", "list", "list a database's tables", "DB", kListing, {}, TableList},
      {"table",
       "create",
       "create a table from a field spec: 'NAME C 20; PRICE N; BORN C D; QTY I'",
       "DB TABLE SPEC",
       0,
       {kDescription},
       TableCreate},
      {"table", "drop", "drop a table with its records", "DB TABLE", kDestructive, {}, TableDrop},
      {"table",
       "describe",
       "a table's fields, indexes, constraints, defaults and cross references",
       "DB TABLE",
       kListing,
       {},
       TableDescribe},
      {"table", "rename", "rename a table", "DB TABLE NEWNAME", 0, {}, TableRename},
      {"field",
       "add",
       "add a field given as 'NAME TYPE [SUBTYPE] [WIDTH]'",
       "DB TABLE SPEC",
       0,
       {kDescription},
       [](const VerbCall& c) { return FieldWrite(c, true); }},
      {"field", "drop", "drop a field", "DB TABLE FIELD", kDestructive, {}, FieldDrop},
      {"field",
       "change",
       "change a field's name, width, subtype or description to 'NAME TYPE [SUBTYPE] [WIDTH]'",
       "DB TABLE FIELD SPEC",
       0,
       {kDescription},
       [](const VerbCall& c) { return FieldWrite(c, false); }},
      {"index", "list", "list a table's indexes", "DB TABLE", kListing, {}, IndexList},
      {"index",
       "create",
       "create an index over fields 'A,B'",
       "DB TABLE INDEX FIELDS",
       0,
       {{"--unique", nullptr, "refuse two records with the same values"}},
       IndexCreate},
      {"index", "drop", "drop an index", "DB TABLE INDEX", kDestructive, {}, IndexDrop},
  };
  return verbs;
}

}  // namespace zdb::cli
