/* Code written for Windows compiles unchanged: the Automation forms of the whole-record calls
 * with SAFEARRAYs of byte BSTRs. On Windows these are OLE Automation's own; elsewhere the
 * library's stand-in, reached through the same names.
 * usage: automation HOST[:PORT] */
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

int main(int argc, char** argv) {
  CHECK(ZDB_SelHost(argc > 1 ? argv[1] : "127.0.0.1:2500"), ZDB_OK);
  char tableRecord[ZDB_TABLE_RECORD_SIZE] = {0};
  CHECK(Z_NewDB("GUIDE", "guide examples", "", 0, ""), ZDB_OK);
  CHECK(ZDB_UseDB("GUIDE"), ZDB_OK);
  CHECK(ZDB_SelDB("GUIDE"), ZDB_OK);
  CHECK(Z_CreTable("ITEMS", "NAME C 12; STOCK I", "stock", tableRecord), ZDB_OK);
  CHECK(ZDB_OpenTable("ITEMS", "", ""), ZDB_OK);
  CHECK(ZDB_SelTable("ITEMS", ""), ZDB_OK);

  /* Writing: a one-dimensional array of BSTRs, one per listed field. */
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* row = SafeArrayCreate(VT_BSTR, 1, &bound);
  if (!row) return 1;
  int32_t index = 0;
  BSTR name = SysAllocStringByteLen("Hammer", 6);
  BSTR stock = SysAllocStringByteLen("40", 2);
  SafeArrayPutElement(row, &index, name); /* the array keeps a copy */
  index = 1;
  SafeArrayPutElement(row, &index, stock);
  SysFreeString(name);
  SysFreeString(stock);
  CHECK(DB_PutWrite("NAME,STOCK", &row), ZDB_OK);
  SafeArrayDestroy(row);

  /* Reading: a null array is created for the caller (300 elements). */
  SAFEARRAY* values = NULL;
  CHECK(DB_MatGetFields("NAME,STOCK", &values), ZDB_OK);
  BSTR value = NULL;
  index = 0;
  SafeArrayGetElement(values, &index, &value); /* a copy the caller frees */
  printf("NAME: %.*s (%u bytes)\n", (int)SysStringByteLen(value), (const char*)value,
         (unsigned)SysStringByteLen(value));
  int ok = SysStringByteLen(value) == 6 && memcmp(value, "Hammer", 6) == 0;
  SysFreeString(value);
  SafeArrayDestroy(values);

  CHECK(ZDB_Finish(), ZDB_OK);
  return ok ? 0 : 1;
}
