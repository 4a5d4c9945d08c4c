/* Export a whole database into a local file and import it again under another name; the
 * server's report of the import comes back as a second local file.
 * usage: export_import HOST[:PORT] */
#include <stdio.h>
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
  CHECK(Z_CreTable("ITEMS", "NAME C 12", "stock", tableRecord), ZDB_OK);
  CHECK(ZDB_SqlRun("#INSERT INTO ITEMS (NAME) VALUES ('Hammer')", "out.txt", NULL, 0), ZDB_OK);

  /* Export and import need an administrator (anyone while the server has no users). */
  CHECK(Z_ExportDB("GUIDE", "", "guide.export"), ZDB_OK);
  CHECK(Z_ImportDB("COPY", "", "guide.export", "import-report.txt"), ZDB_OK);
  CHECK(Z_ImportDB("COPY", "", "guide.export", "again.txt"), 4012); /* exists: "REPLACE" */

  FILE* report = fopen("import-report.txt", "r");
  if (!report) return 1;
  char line[200];
  while (fgets(line, sizeof line, report)) printf("report: %s", line);
  fclose(report);

  /* The copy holds the record. */
  char names[2 * ZDB_DATABASE_NAME_SIZE] = {0};
  CHECK(Z_DataBase(2, names), ZDB_OK);
  printf("databases: %s %s\n", names, names + ZDB_DATABASE_NAME_SIZE);
  CHECK(ZDB_UseDB("COPY"), ZDB_OK);
  CHECK(ZDB_SelDB("COPY"), ZDB_OK);
  CHECK(ZDB_OpenTable("ITEMS", "", ""), ZDB_OK);
  CHECK(ZDB_SelTable("ITEMS", ""), ZDB_OK);
  CHECK(ZDB_Seek("NAME", "Hammer"), ZDB_OK);

  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
