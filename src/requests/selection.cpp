#include "requests/selection.h"

#include <iterator>

#include "requests/field_lookup.h"
#include "requests/records.h"

namespace zdb::tables {

namespace {

enum class NameKey : uint8_t { kNone, kDatabase, kTable };

// What the cache does once the server accepted the request; the name is the first argument.
using LocalStep = int32_t (*)(Session& s, const char* name);

struct SelectionMember {
  RequestSpec request;
  NameKey key;  // how the first argument is keyed locally, checked before sending
  LocalStep after;
};

DatabaseKey DbKey(const char* name) {
  DatabaseKey key;
  MakeDatabaseKey(name, &key);
  return key;
}

int32_t UseDatabase(Session& s, const char* name) {
  RecordDatabase(s.fieldCache, DbKey(name));
  return kOk;
}

int32_t ReleaseDatabase(Session& s, const char* name) {
  ForgetDatabase(s.fieldCache, DbKey(name));
  return kOk;
}

int32_t ChooseDatabase(Session& s, const char* name) {
  SelectDatabase(s.fieldCache, DbKey(name));
  return kOk;
}

// A table selected before keeps its first definitions; a new one is fetched into the cache.
int32_t ChooseTable(Session& s, const char* name) {
  uint8_t index = 0;
  if (FindTable(s, name, &index) != kOk) {
    const int32_t r = AddTable(s, name, &index);
    if (r != kOk) return r;
  }
  s.fieldCache.Selected()->selectedTable = index;
  return kOk;
}

int32_t ForgetTable(Session& s, const char* name) {
  uint8_t index = 0;
  const int32_t r = DropTable(s, name, &index);
  if (r != kOk) return r;
  DatabaseEntry& entry = *s.fieldCache.Selected();
  if (entry.selectedTable == index) entry.selectedTable = kNoTableSelected;
  return kOk;
}

// In the order of Selection. Names the cache keys are sent converted to the server character
// set; the texts only the server reads go byte for byte.
constexpr SelectionMember kMembers[] = {
    {{"ZDB_UseDB", wire::Op("UseDB"), {ServerText(0)}}, NameKey::kDatabase, UseDatabase},
    {{"ZDB_UnUseDB", wire::Op("UnUseDB"), {ServerText(0)}}, NameKey::kDatabase, ReleaseDatabase},
    {{"ZDB_SelDB", wire::Op("SelDB"), {ServerText(0)}}, NameKey::kDatabase, ChooseDatabase},
    {{"ZDB_GetDB", wire::Op("GetDB"), {Fixed(0, wire::kDbKeySize)}}, NameKey::kNone, nullptr},
    {{"ZDB_OpenTable", wire::Op("OpenTable"), {ServerText(0), Text(1), Text(2)}},
     NameKey::kNone,
     nullptr},
    {{"ZDB_CloseTable", wire::Op("CloseTable"), {ServerText(0)}}, NameKey::kTable, ForgetTable},
    {{"ZDB_SelTable", wire::Op("SelTable"), {ServerText(0), ServerText(1)}},
     NameKey::kTable,
     ChooseTable},
    {{"ZDB_GetTable", wire::Op("GetTable"), {Fixed(0, wire::kNameKeySize)}},
     NameKey::kNone,
     nullptr},
    {{"ZDB_Alias", wire::Op("Alias"), {Text(0), Text(1), Text(2)}}, NameKey::kNone, nullptr},
};

static_assert(std::size(kMembers) == static_cast<size_t>(Selection::kAlias) + 1,
              "one row per Selection member");

bool HasKey(NameKey kind, const char* name) {
  TableKey table;
  DatabaseKey db;
  switch (kind) {
    case NameKey::kDatabase:
      return MakeDatabaseKey(name, &db);
    case NameKey::kTable:
      return MakeTableKey(name, &table);
    case NameKey::kNone:
      break;
  }
  return true;
}

}  // namespace

int32_t RunSelection(Session& s, Selection which, std::initializer_list<ArgValue> args) {
  const SelectionMember& m = kMembers[static_cast<size_t>(which)];
  const char* name = args.size() > 0 ? static_cast<const char*>(args.begin()->ptr) : nullptr;
  if (!HasKey(m.key, name)) return kErrArgument;
  const int32_t r = ExecuteRequest(s, m.request, args);
  if (r != kOk || !m.after) return r;
  return m.after(s, name);
}

}  // namespace zdb::tables
