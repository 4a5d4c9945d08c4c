// The rules of the data kept by PostgreSQL itself, for every writer that is not zdbd's record
// path: psql, reporting tools, scripts. A domain holds I fields to whole numbers (smallint would
// round 2.5 to 3 without a word), and triggers read the rule catalog (zdb_constraints,
// zdb_defaults, zdb_xrefs) at every row they check, so a rule changed through any zdbd holds at
// once. zdbd's own connections apply the same rules themselves before they write, with the
// statuses of the protocol, and tell the triggers so (docs/server.md, "Storage on PostgreSQL").
#pragma once

#include <string>

#include "sqlite_db.h"

namespace zdbd {

// The type of an I field's column in a ZDB database schema.
inline constexpr const char* kPgWholeNumber = "zdb_int";

// On a PostgreSQL database schema: the functions, the domain, the catalog's triggers that keep
// the data tables' triggers in step, and the upgrade of a schema made by an earlier zdbd
// (smallint columns become whole-number columns, rule triggers are attached). True on SQLite.
bool EnsurePgRules(Db& db);

}  // namespace zdbd
