// Entry points of SQL script runs and of database export and import.
#include "api/guard.h"
#include "requests/catalog_ops.h"
#include "requests/sql_run.h"
#include "zdb_api.h"

using zdb::Session;

// The script files are prepared before the thread's Session is looked up.
extern "C" int32_t ZDB_CALL ZDB_SqlRun(const char* script, const char* outputFile,
                                       const char* parameters, int32_t runValue) {
  return zdb::api::Guarded([&] { return zdb::SqlRun(script, outputFile, parameters, runValue); });
}

extern "C" int32_t ZDB_CALL Z_ExportDB(const char* first, const char* second,
                                       const char* localPath) {
  return zdb::api::WithSession(
      [&](Session& s) { return zdb::catalog::ExportDB(s, first, second, localPath); });
}

extern "C" int32_t ZDB_CALL Z_ImportDB(const char* first, const char* second, const char* sendPath,
                                       const char* receivePath) {
  return zdb::api::WithSession(
      [&](Session& s) { return zdb::catalog::ImportDB(s, first, second, sendPath, receivePath); });
}
