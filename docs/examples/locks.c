/* Locks and transactions: lock a record while reading it, see who holds it, release it; change
 * a field inside a transaction and roll it back, then commit a change.
 * usage: locks HOST[:PORT] */
#include <stdio.h>
#include <string.h>
#include <zdb_api.h>

#define CHECK(call, want)                                                                  \
  do {                                                                                     \
    int32_t rc_ = (call);                                                                  \
    if (rc_ != (want)) {                                                                   \
      fprintf(stderr, "%s:%d: %s -> %d, wanted %d\n", __FILE__, __LINE__, #call, (int)rc_, \
              (int)(want));                                                                \
      return 1;                                                                            \
    }                                                                                      \
  } while (0)

static int16_t Stock(void) {
  char field[] = "STOCK";
  int16_t stock = -1;
  ZDB_GetField(field, &stock, ZDB_SIZE_FROM_DEFINITION);
  return stock;
}

int main(int argc, char** argv) {
  CHECK(ZDB_SelHost(argc > 1 ? argv[1] : "127.0.0.1:2500"), ZDB_OK);
  char tableRecord[ZDB_TABLE_RECORD_SIZE] = {0};
  CHECK(Z_NewDB("GUIDE", "guide examples", "", 0, ""), ZDB_OK);
  CHECK(ZDB_UseDB("GUIDE"), ZDB_OK);
  CHECK(ZDB_SelDB("GUIDE"), ZDB_OK);
  CHECK(Z_CreTable("ITEMS", "NAME C 12; STOCK I", "stock", tableRecord), ZDB_OK);
  CHECK(ZDB_OpenTable("ITEMS", "", ""), ZDB_OK);
  CHECK(ZDB_SelTable("ITEMS", ""), ZDB_OK);
  int16_t stock = 40;
  CHECK(ZDB_AppendBlank(), ZDB_OK);
  CHECK(ZDB_PutField("NAME", "Hammer", ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  CHECK(ZDB_PutField("STOCK", &stock, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);

  /* Read the first record and lock it: other sessions' changes to it fail with 4050 until
   * it is released. Both texts of ZDB_WhoLock are overwritten by the reply. */
  CHECK(ZDB_Read("FIRST", "LOCK"), ZDB_OK);
  char what[ZDB_TABLE_NAME_SIZE] = "", holder[ZDB_TABLE_NAME_SIZE] = "";
  CHECK(ZDB_WhoLock(what, holder), ZDB_OK);
  printf("record locked by %s\n", holder);
  if (strncmp(holder, "anonymous#", 10) != 0) return 1;
  CHECK(ZDB_RecUnLock(""), ZDB_OK);
  CHECK(ZDB_WhoLock(what, holder), 4053); /* not locked any more */

  /* A transaction: its changes are seen by this session at once and by others only after
   * the commit. A roll-back discards them. */
  int32_t open = -1;
  CHECK(ZDB_BeginTransaction(), ZDB_OK);
  CHECK(ZDB_TRStatus(&open), ZDB_OK);
  if (open != 1) return 1;
  stock = 39;
  CHECK(ZDB_PutField("STOCK", &stock, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  if (Stock() != 39) return 1;
  CHECK(ZDB_RollBack(), ZDB_OK);
  CHECK(ZDB_Read("CURRENT", ""), ZDB_OK);
  printf("after the roll-back: %d\n", Stock());
  if (Stock() != 40) return 1;

  CHECK(ZDB_BeginTransaction(), ZDB_OK);
  stock = 38;
  CHECK(ZDB_PutField("STOCK", &stock, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  CHECK(ZDB_EndTransaction(), ZDB_OK); /* commits and ends it */
  CHECK(ZDB_TRStatus(&open), ZDB_OK);
  printf("after the commit: %d, transaction open: %d\n", Stock(), (int)open);
  if (Stock() != 38 || open != 0) return 1;

  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
