/* SQL scripts with parameters: the library puts each "&N" value into the script as it stands,
 * so the caller quotes it. The rows come back into a local file, one line each, columns
 * separated by tabs.
 * usage: scripts HOST[:PORT] */
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

/* Appends "&N=" and the value to a parameter text, as an SQL string's content: single quotes
 * are doubled. A ";" would end the value early and cannot be passed; values have at most 255
 * characters. Returns 0 when the value cannot be passed. */
static int AddParameter(char* parameters, size_t room, int n, const char* value) {
  char quoted[256];
  size_t used = 0;
  for (const char* c = value; *c; ++c) {
    if (*c == ';' || used + 2 >= sizeof quoted) return 0;
    if (*c == '\'') quoted[used++] = '\'';
    quoted[used++] = *c;
  }
  quoted[used] = '\0';
  size_t length = strlen(parameters);
  int written =
      snprintf(parameters + length, room - length, "%s&%d=%s", length ? ";" : "", n, quoted);
  return written > 0 && (size_t)written < room - length;
}

static int PrintFile(const char* path, const char* expected) {
  char text[512] = "";
  FILE* f = fopen(path, "r");
  if (!f) return 0;
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = '\0';
  printf("%s:\n%s", path, text);
  return strcmp(text, expected) == 0;
}

int main(int argc, char** argv) {
  CHECK(ZDB_SelHost(argc > 1 ? argv[1] : "127.0.0.1:2500"), ZDB_OK);
  char tableRecord[ZDB_TABLE_RECORD_SIZE] = {0};
  CHECK(Z_NewDB("GUIDE", "guide examples", "", 0, ""), ZDB_OK);
  CHECK(ZDB_UseDB("GUIDE"), ZDB_OK);
  CHECK(ZDB_SelDB("GUIDE"), ZDB_OK); /* scripts run on the selected database */
  CHECK(Z_CreTable("ITEMS", "NAME C 20; PRICE N", "stock", tableRecord), ZDB_OK);

  /* An inline script starts with "#"; any other text names a local script file. */
  char parameters[600] = "";
  if (!AddParameter(parameters, sizeof parameters, 1, "O'Brien's saw")) return 1;
  if (!AddParameter(parameters, sizeof parameters, 2, "8.75")) return 1;
  CHECK(ZDB_SqlRun("#INSERT INTO ITEMS (NAME, PRICE) VALUES ('&1', &2);"
                   "INSERT INTO ITEMS (NAME, PRICE) VALUES ('Hammer', 12.5)",
                   "insert.txt", parameters, 0),
        ZDB_OK);

  CHECK(ZDB_SqlRun("#SELECT NAME, PRICE FROM ITEMS WHERE PRICE < &1 ORDER BY NAME", "rows.txt",
                   "&1=20", 0),
        ZDB_OK);
  if (!PrintFile("rows.txt", "Hammer\t12.5\nO'Brien's saw\t8.75\n")) return 1;

  /* A reference without a value stops the run before anything is sent. */
  CHECK(ZDB_SqlRun("#SELECT &3", "none.txt", "&1=x", 0), ZDB_ERR_ARGUMENT);

  /* An SQL error: 4070, and the server's message through ZDB_GetError. */
  char text[ZDB_ERROR_TEXT_SIZE] = "";
  CHECK(ZDB_SqlRun("#SELECT * FROM NOWHERE", "error.txt", NULL, 0), 4070);
  CHECK(ZDB_GetError(4070, text), ZDB_OK);
  printf("4070: %s\n", text);

  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
