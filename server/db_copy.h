// A whole ZDB database carried from one storage to another: the export file is SQLite's on
// either engine, so that a database moves between a zdbd over SQLite and one over PostgreSQL
// with every value as it was.
#pragma once

#include <string>

#include "sqlite_db.h"

namespace zdbd {

// Copies catalog, data (record numbers kept) and indexes of `from` into the empty database
// `to`, inside one transaction of `to`; false with the failure in to.Error() or from.Error().
bool CopyDatabase(Db& from, Db& to);

}  // namespace zdbd
