#include "storage.h"

namespace zdbd {

namespace {
std::string g_uri;
std::string g_encoding;
}  // namespace

const std::string& Storage::TextEncoding() {
  return g_encoding;
}

bool Storage::Configure(const std::string& uri, const std::string& encoding, std::string* error) {
  if (!uri.empty() && !PostgresBuilt()) {
    *error = "--storage: this zdbd was built without PostgreSQL support (libpq was missing)";
    return false;
  }
  g_uri = uri;
  g_encoding = encoding;
  return true;
}

bool Storage::Postgres() {
  return !g_uri.empty();
}

const std::string& Storage::Uri() {
  return g_uri;
}

bool Storage::PostgresBuilt() {
#ifdef ZDBD_POSTGRES
  return true;
#else
  return false;
#endif
}

std::string Storage::SchemaOf(const std::string& db) {
  // Names keep their case (quoted wherever they are used), as the files of SQLite do; the
  // prefix keeps them apart from PostgreSQL's own schemas and from zdb_system.
  return "zdb_db_" + db;
}

}  // namespace zdbd
