/* The library's Automation stand-in keeps to its own names: this program defines the generic
 * SafeArrayCreate itself (exported, so that the loader could bind a library's call to it) and
 * makes it fail. The library's own array creation (DB_MatGetFields with a null array) must
 * still work, and this program's function must still be its own.
 * usage: automation_names HOST[:PORT] */
#define ZDB_NO_AUTOMATION_NAMES
#include <stdio.h>
#include <zdb_api.h>

typedef struct {
  int unrelated;
} SAFEARRAY;

static int calls = 0;

SAFEARRAY* SafeArrayCreate(unsigned short vt, unsigned dims, void* bounds);
SAFEARRAY* SafeArrayCreate(unsigned short vt, unsigned dims, void* bounds) {
  (void)vt;
  (void)dims;
  (void)bounds;
  ++calls;
  return NULL;
}

int main(int argc, char** argv) {
  if (ZDB_SelHost(argc > 1 ? argv[1] : "127.0.0.1:2500") != ZDB_OK) return 1;
  char tableRecord[ZDB_TABLE_RECORD_SIZE] = {0};
  if (Z_NewDB("NAMES", "", "", 0, "") != ZDB_OK || ZDB_UseDB("NAMES") != ZDB_OK ||
      ZDB_SelDB("NAMES") != ZDB_OK || Z_CreTable("T", "A C 4", "", tableRecord) != ZDB_OK ||
      ZDB_OpenTable("T", "", "") != ZDB_OK || ZDB_SelTable("T", "") != ZDB_OK ||
      ZDB_AppendBlank() != ZDB_OK || ZDB_PutField("A", "abc", ZDB_SIZE_FROM_DEFINITION) != ZDB_OK)
    return 1;

  zdb_SAFEARRAY* values = NULL;
  int32_t rc = DB_MatGetFields("A", &values);
  int32_t upper = -1;
  zdb_SafeArrayGetUBound(values, 1, &upper);
  const int ours = SafeArrayCreate(0, 1, NULL) == NULL && calls == 1;
  printf("DB_MatGetFields: %d, array of %d elements; SafeArrayCreate here is %s\n", (int)rc,
         (int)upper + 1, ours ? "this program's own" : "not this program's");
  zdb_SafeArrayDestroy(values);
  return rc == ZDB_OK && upper == 299 && ours ? 0 : 1;
}
