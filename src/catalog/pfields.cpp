// Z_PFields changes the current table's field definitions on the server; the cached copy of
// that table is then fetched anew, so that field calls size their values by the new widths.
#include "catalog/catalog_members.h"
#include "catalog/catalog_ops.h"
#include "fields/field_lookup.h"
#include "tables/selection.h"

namespace zdb::catalog {

int32_t PFields(Session& s, void* definitions, int32_t length) {
  // The name of the table the change applies to, as the server knows it. Its own outcome does
  // not matter: an empty name simply finds nothing in the cache below.
  char table[wire::kNameKeySize] = {};
  tables::RunSelection(s, tables::Selection::kGetTable, {table});
  table[sizeof table - 1] = 0;

  const int32_t r = ExecuteRequest(s, kMember<MemberIndex("Z_PFields")>, {definitions, length});
  if (r != kOk) return r;
  uint8_t index = 0;
  const int32_t dropped = DropTable(s, table, &index);
  if (dropped != kOk) return dropped;
  const int32_t added = AddTable(s, table, &index);
  if (added != kOk) return added;
  s.fieldCache.Selected()->selectedTable = index;
  return s.lastResult;
}

}  // namespace zdb::catalog
