/* Memo, binary, date and numeric-text fields; whole records cut texts to the field's width
 * (memo and binary count as 255), single-field calls with an explicit size carry values of any
 * length.
 * usage: long_values HOST[:PORT] */
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
  CHECK(Z_NewDB("GUIDE", "guide examples", "", 0, ""), ZDB_OK);
  CHECK(ZDB_UseDB("GUIDE"), ZDB_OK);
  CHECK(ZDB_SelDB("GUIDE"), ZDB_OK);
  /* "C M": memo, "C B": binary (both width 255 in record buffers, values of any length),
   * "C D": date (YYYY-MM-DD, a real day), "C N 8": a number kept as text of up to 8. */
  CHECK(Z_CreTable("NOTES", "TITLE C 10; BODY C M; IMAGE C B; DUE C D; CODE C N 8", "notes",
                   tableRecord),
        ZDB_OK);
  CHECK(ZDB_OpenTable("NOTES", "", ""), ZDB_OK);
  CHECK(ZDB_SelTable("NOTES", ""), ZDB_OK);

  /* A whole record: each text goes in a slot of its field's width, and a longer one is cut
   * to it, without an error (the 300-character body keeps 255, the title 10). */
  char longBody[301];
  memset(longBody, 'b', 300);
  longBody[300] = '\0';
  char title[] = "A title too long", due[] = "2028-02-29", code[] = "12.5";
  char* record[] = {title, longBody, due, code};
  CHECK(ZDB_PutWrite("TITLE,BODY,DUE,CODE", record), ZDB_OK);
  char* values[ZDB_RECORD_VALUES_MAX] = {0};
  CHECK(ZDB_MatGetFields("TITLE,BODY", values), ZDB_OK);
  printf("title [%s], body of %u characters\n", values[0], (unsigned)strlen(values[1]));
  if (strcmp(values[0], "A title to") != 0 || strlen(values[1]) != 255) return 1;

  /* A date must be a day of the calendar. */
  char notADay[] = "2027-02-29";
  char* badDate[] = {notADay};
  CHECK(ZDB_MatPutFields("DUE", badDate), 4033);

  /* Long memo values: one field with the value's own length as the size, read back into a
   * buffer of the size asked for (the rest is zeros: keep one byte more for the terminator). */
  CHECK(ZDB_PutField("BODY", longBody, 300), ZDB_OK);
  char field[ZDB_TABLE_NAME_SIZE] = "BODY";
  char body[1001] = {0};
  CHECK(ZDB_GetField(field, body, 1000), ZDB_OK);
  printf("body now %u characters\n", (unsigned)strlen(body));
  if (strlen(body) != 300) return 1;

  /* Binary values: bytes as given, zeros included (trailing zeros are not kept); read them
   * with the size you need. */
  unsigned char image[400];
  for (int i = 0; i < 400; ++i) image[i] = (unsigned char)(i % 251 + 1);
  image[7] = 0;
  CHECK(ZDB_PutField("IMAGE", image, sizeof image), ZDB_OK);
  unsigned char back[400] = {0};
  strcpy(field, "IMAGE");
  CHECK(ZDB_GetField(field, back, sizeof back), ZDB_OK);
  if (memcmp(back, image, sizeof image) != 0) return 1;
  printf("image of %u bytes read back whole\n", (unsigned)sizeof back);

  for (int i = 0; i < ZDB_RECORD_VALUES_MAX; ++i) free(values[i]);
  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
