#include "requests/field_lookup.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "requests/request_table.h"
#include "session/session.h"

namespace zdb {

namespace {

// The server's field-definition request: the list goes out and comes back in slot 0, the
// FieldDefList fills slot 1.
constexpr RequestSpec kFieldDefsRequest{
    "Z_InfoFields", wire::Op("InfoFields"), {Text(0), Fixed(1, wire::kFieldDefListSize)}};

constexpr std::string_view kBlanks = " \t\n\v\f\r";

template <size_t N>
bool MakeKeyOf(const char* name, size_t width, std::array<char, N>* key) {
  return name != nullptr && wire::MakeKey(name, width, key->data(), key->size());
}

bool SameKey(const char* stored, const char* key, size_t size) {
  return std::memcmp(stored, key, size) == 0;
}

// The place of the table in the selected entry, or -1; 2021 without a selected entry.
int32_t FindPlace(FieldCache& cache, const char* table, int* place) {
  DatabaseEntry* entry = cache.Selected();
  if (!entry) return kErrNoDatabase;
  TableKey key;
  if (!MakeTableKey(table, &key)) return kErrArgument;
  *place = -1;
  for (int i = 0; i < kCacheTables; ++i) {
    const auto& block = entry->tables[static_cast<size_t>(i)];
    if (block && SameKey(block->key(), key.data(), key.size())) {
      *place = i;
      break;
    }
  }
  return kOk;
}

std::string_view Trimmed(std::string_view item) {
  const size_t first = item.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = item.find_last_not_of(kBlanks);
  return item.substr(first, last - first + 1);
}

// Calls f(trimmed item) for every item of the list; commas that would make an empty item
// (leading, trailing, adjacent) make none, as a tokenizer splits.
template <class F>
void ForEachItem(std::string_view list, F&& f) {
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find(',', pos);
    if (end == std::string_view::npos) end = list.size();
    if (end > pos) f(Trimmed(list.substr(pos, end - pos)));
    pos = end + 1;
  }
}

bool AllItemsHaveKeys(std::string_view list) {
  bool ok = true;
  ForEachItem(list, [&](std::string_view item) { ok = ok && item.size() <= kTableNameWidth; });
  return ok;
}

bool AllFields(const char* fieldList) {
  return fieldList[0] == '*';
}

// The selected table's block when lookups can be answered from the cache.
TableDefBlock* SelectedBlock(FieldCache& cache) {
  DatabaseEntry* entry = cache.Selected();
  if (!entry || entry->selectedTable >= kCacheTables) return nullptr;
  TableDefBlock* block = entry->tables[entry->selectedTable].get();
  return block && block->key()[0] != 0 ? block : nullptr;
}

// Position of the field's record in a FieldDefList, or -1.
int FindField(const uint8_t* list, std::string_view name) {
  if (name.size() > kTableNameWidth) return -1;
  TableKey key;
  // A list item is not zero-terminated where it ends: key it by its length.
  std::snprintf(key.data(), key.size(), "%-*.*s", static_cast<int>(kTableNameWidth),
                static_cast<int>(name.size()), name.data());
  for (size_t i = 0; i < wire::kMaxFields; ++i) {
    const char* stored = reinterpret_cast<const char*>(list + i * wire::kFieldDefSize);
    if (stored[0] == 0) break;
    if (SameKey(stored, key.data(), key.size())) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

DatabaseEntry* FieldCache::Selected() {
  if (selectedDatabase < 0 || selectedDatabase >= kCacheDatabases) return nullptr;
  return &databases[static_cast<size_t>(selectedDatabase)];
}

bool MakeTableKey(const char* name, TableKey* key) {
  return MakeKeyOf(name, kTableNameWidth, key);
}

bool MakeDatabaseKey(const char* name, DatabaseKey* key) {
  return MakeKeyOf(name, kDatabaseNameWidth, key);
}

int32_t ResetFieldCache(Session& s) {
  s.fieldCache.selectedDatabase = kNoDatabaseSelected;
  s.fieldCache.databases[0].Clear();
  return kOk;
}

int32_t FindTable(Session& s, const char* table, uint8_t* index) {
  int place = -1;
  const int32_t r = FindPlace(s.fieldCache, table, &place);
  if (r != kOk) return r;
  if (place < 0) return kErrComm;
  *index = static_cast<uint8_t>(place);
  return kOk;
}

int32_t DropTable(Session& s, const char* table, uint8_t* index) {
  const int32_t r = FindTable(s, table, index);
  if (r == kOk) s.fieldCache.Selected()->tables[*index].reset();
  return r;
}

int32_t AddTable(Session& s, const char* table, uint8_t* index) {
  int place = -1;
  const int32_t r = FindPlace(s.fieldCache, table, &place);
  if (r != kOk) return r;
  DatabaseEntry& entry = *s.fieldCache.Selected();
  for (int i = 0; place < 0 && i < kCacheTables; ++i)
    if (!entry.tables[static_cast<size_t>(i)]) place = i;
  if (place < 0) return kErrComm;

  auto& slot = entry.tables[static_cast<size_t>(place)];
  slot.reset();
  try {
    slot = std::make_unique<TableDefBlock>();
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  }
  TableKey key;
  MakeTableKey(table, &key);
  std::memcpy(slot->key(), key.data(), key.size());

  // With no table selected the lookup below goes to the server instead of the cache.
  const uint8_t selectedBefore = entry.selectedTable;
  entry.selectedTable = kNoTableSelected;
  char all[] = "*";
  const int32_t lookup = LookupFieldDefs(s, all, slot->fieldDefs());
  if (lookup != kOk) {
    slot.reset();
    entry.selectedTable = selectedBefore;
    return lookup;
  }
  *index = static_cast<uint8_t>(place);
  return kOk;
}

int32_t LookupFieldDefs(Session& s, char* fieldList, uint8_t* out) {
  if (!fieldList || !out || (!AllFields(fieldList) && !AllItemsHaveKeys(fieldList)))
    s.lastResult = kErrArgument;
  else if (SelectedBlock(s.fieldCache))
    s.lastResult = CopyCachedFieldDefs(s, fieldList, out);
  else
    ExecuteRequest(s, kFieldDefsRequest, {fieldList, out});
  return s.lastResult;
}

int32_t CopyCachedFieldDefs(Session& s, const char* fieldList, uint8_t* out) {
  if (!s.fieldCache.Selected()) return kErrNoDatabase;
  TableDefBlock* block = SelectedBlock(s.fieldCache);
  if (!block) return kErrComm;
  if (AllFields(fieldList)) {
    std::memcpy(out, block->fieldDefs(), wire::kFieldDefListSize);
    return kOk;
  }
  size_t copied = 0;
  ForEachItem(fieldList, [&](std::string_view item) {
    const int found = FindField(block->fieldDefs(), item);
    // An item named more often than the list has room for stops filling at its end.
    if (found < 0 || copied == wire::kMaxFields) return;
    std::memcpy(out + copied * wire::kFieldDefSize,
                block->fieldDefs() + static_cast<size_t>(found) * wire::kFieldDefSize,
                wire::kFieldDefSize);
    ++copied;
  });
  return copied > 0 ? kOk : kErrNoFieldMatch;
}

void RecordDatabase(FieldCache& cache, const DatabaseKey& key) {
  DatabaseEntry* free = nullptr;
  for (auto& entry : cache.databases) {
    if (SameKey(entry.name, key.data(), key.size())) return;
    if (!free && entry.Free()) free = &entry;
  }
  if (!free) return;
  free->selectedTable = kNoTableSelected;
  std::memcpy(free->name, key.data(), key.size());
  free->EmptyPlaces();
}

void ForgetDatabase(FieldCache& cache, const DatabaseKey& key) {
  for (size_t i = 0; i < cache.databases.size(); ++i) {
    DatabaseEntry& entry = cache.databases[i];
    if (!SameKey(entry.name, key.data(), key.size())) continue;
    std::memset(entry.name, 0, sizeof entry.name);
    entry.EmptyPlaces();
    if (cache.selectedDatabase == static_cast<int8_t>(i))
      cache.selectedDatabase = kNoDatabaseSelected;
    return;
  }
}

void SelectDatabase(FieldCache& cache, const DatabaseKey& key) {
  for (size_t i = 0; i < cache.databases.size(); ++i) {
    if (SameKey(cache.databases[i].name, key.data(), key.size())) {
      cache.selectedDatabase = static_cast<int8_t>(i);
      return;
    }
  }
}

}  // namespace zdb

namespace zdb::fields {
namespace {

// Without a second buffer slot 1 is the one byte "*".
constexpr RequestSpec kGetFieldRow{
    "Z_GetField",
    wire::Op("GetField descriptor"),
    {Text(0), Wildcard(1, kDefaultValueSize), Fixed(2, kDescriptorSize)}};

}  // namespace

int32_t RequestFieldDescriptor(Session& s, char* fieldName, uint8_t* second, uint8_t* descriptor) {
  return ExecuteRequest(s, kGetFieldRow, {fieldName, second, descriptor});
}

}  // namespace zdb::fields
