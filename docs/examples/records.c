/* Whole records as texts: append records with ZDB_PutWrite, read them with ZDB_GetRead and
 * ZDB_MatGetFields. The library allocates the texts it reads; the caller frees them.
 * usage: records HOST[:PORT] */
#include <stdio.h>
#include <stdlib.h>
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

int main(int argc, char** argv) {
  CHECK(ZDB_SelHost(argc > 1 ? argv[1] : "127.0.0.1:2500"), ZDB_OK);
  char tableRecord[ZDB_TABLE_RECORD_SIZE] = {0};
  CHECK(Z_NewDB("GUIDE", "guide examples", "", 0, ""), ZDB_OK); /* logs in implicitly */
  CHECK(ZDB_UseDB("GUIDE"), ZDB_OK);
  CHECK(ZDB_SelDB("GUIDE"), ZDB_OK);
  CHECK(Z_CreTable("ITEMS", "NAME C 12; PRICE N; STOCK I", "stock", tableRecord), ZDB_OK);
  CHECK(ZDB_OpenTable("ITEMS", "", ""), ZDB_OK);
  CHECK(ZDB_SelTable("ITEMS", ""), ZDB_OK);

  /* Each ZDB_PutWrite appends one record: one text per listed field. */
  char hammer[] = "Hammer", hammerPrice[] = "12.5", hammerStock[] = "40";
  char saw[] = "Saw", sawPrice[] = "8.75", sawStock[] = "12";
  char* first[] = {hammer, hammerPrice, hammerStock};
  char* second[] = {saw, sawPrice, sawStock};
  CHECK(ZDB_PutWrite("NAME,PRICE,STOCK", first), ZDB_OK);
  CHECK(ZDB_PutWrite("NAME,PRICE,STOCK", second), ZDB_OK);

  /* Reading: every element must be null or a text of an earlier read (it is freed and
   * replaced). The mode and option texts are sent and overwritten: writable memory. */
  char* values[ZDB_RECORD_VALUES_MAX] = {0};
  char mode[8] = "FIRST", option[8] = "";
  CHECK(ZDB_GetRead(mode, option, "*", values), ZDB_OK);
  printf("first:  %s | %s | %s\n", values[0], values[1], values[2]);
  if (strcmp(values[1], "12.5") != 0) return 1; /* numbers in their shortest form */

  strcpy(mode, "NEXT");
  CHECK(ZDB_GetRead(mode, option, "*", values), ZDB_OK); /* the same array again */
  printf("second: %s | %s | %s\n", values[0], values[1], values[2]);
  if (strcmp(values[0], "Saw") != 0 || strcmp(values[2], "12") != 0) return 1;

  /* Changing the current record (Saw) in one request, then reading two of its fields. */
  char newStock[] = "11";
  char* change[] = {newStock};
  CHECK(ZDB_MatPutFields("STOCK", change), ZDB_OK);
  CHECK(ZDB_MatGetFields("STOCK,NAME", values), ZDB_OK); /* in the order of the list */
  printf("now:    %s | %s\n", values[0], values[1]);
  if (strcmp(values[0], "11") != 0) return 1;

  CHECK(ZDB_GetRead(mode, option, "*", values), 4042); /* NEXT past the end */

  for (int i = 0; i < ZDB_RECORD_VALUES_MAX; ++i) free(values[i]);
  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
