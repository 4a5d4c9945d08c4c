/* Fields one at a time: create a table, append a record, write and read its fields with the
 * size left to the library (-1), ask for a field's descriptor.
 * usage: fields HOST[:PORT] */
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
  CHECK(ZDB_Init("", ""), ZDB_OK);

  /* A database with one table: a text of 12 characters, a number, an integer, a date. */
  char tableRecord[ZDB_TABLE_RECORD_SIZE] = {0};
  CHECK(Z_NewDB("GUIDE", "guide examples", "", 0, ""), ZDB_OK);
  CHECK(ZDB_UseDB("GUIDE"), ZDB_OK);
  CHECK(ZDB_SelDB("GUIDE"), ZDB_OK);
  CHECK(Z_CreTable("ITEMS", "NAME C 12; PRICE N; STOCK I; ADDED C D", "stock", tableRecord),
        ZDB_OK);
  CHECK(ZDB_OpenTable("ITEMS", "", ""), ZDB_OK);
  CHECK(ZDB_SelTable("ITEMS", ""), ZDB_OK); /* caches the field definitions */

  /* Write: size -1 sends a number as an 8-byte double, an integer as 2 bytes, a text as its
   * own length. */
  double price = 12.5;
  int16_t stock = 40;
  CHECK(ZDB_AppendBlank(), ZDB_OK);
  char field[ZDB_TABLE_NAME_SIZE] = "PRICE";
  int16_t isNull = 0;
  CHECK(ZDB_IsNull(field, &isNull), ZDB_OK); /* a new record's fields are null */
  if (isNull != 1) return 1;
  CHECK(ZDB_PutField("NAME", "Hammer", ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  CHECK(ZDB_PutField("PRICE", &price, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  CHECK(ZDB_PutField("STOCK", &stock, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  CHECK(ZDB_PutField("ADDED", "2026-12-06", ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  CHECK(ZDB_PutField("NAME", "A much too long name", ZDB_SIZE_FROM_DEFINITION), 4033);

  /* Read: the field name is sent and overwritten, so it lives in writable memory. A text
   * comes back padded with spaces to its width, without a terminator: keep a byte for it. */
  char name[12 + 1] = {0};
  double readPrice = 0;
  int16_t readStock = 0;
  char added[10 + 1] = {0};
  strcpy(field, "NAME");
  CHECK(ZDB_GetField(field, name, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  strcpy(field, "PRICE");
  CHECK(ZDB_GetField(field, &readPrice, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  strcpy(field, "STOCK");
  CHECK(ZDB_GetField(field, &readStock, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  strcpy(field, "ADDED");
  CHECK(ZDB_GetField(field, added, ZDB_SIZE_FROM_DEFINITION), ZDB_OK);
  printf("[%s] %.2f %d %s\n", name, readPrice, readStock, added);
  if (strcmp(name, "Hammer      ") != 0 || readPrice != 12.5 || readStock != 40 ||
      strcmp(added, "2026-12-06") != 0)
    return 1;

  /* Any other size reads the value as text. */
  char priceText[21] = {0};
  strcpy(field, "PRICE");
  CHECK(ZDB_GetField(field, priceText, 20), ZDB_OK);
  printf("PRICE as text: [%s]\n", priceText);

  /* The descriptor of a field: type letter, width (records.md has the layout). */
  unsigned char descriptor[ZDB_FIELD_DESCRIPTOR_SIZE] = {0};
  strcpy(field, "NAME");
  CHECK(Z_GetField(field, NULL, descriptor), ZDB_OK);
  printf("NAME: type %c, width %u\n", descriptor[ZDB_DESC_TYPE],
         (unsigned)zdb_record_u32(descriptor, ZDB_DESC_WIDTH));
  if (descriptor[ZDB_DESC_TYPE] != ZDB_TYPE_TEXT) return 1;
  if (zdb_record_u32(descriptor, ZDB_DESC_WIDTH) != 12) return 1;

  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
