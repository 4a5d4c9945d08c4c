/* The typical road through the ZDB client library, told step by step: select a host, log in,
 * put a database in use and select it, open and select a table, seek a record, read a field
 * with the size left to the library, run an SQL script, log out.
 *
 * usage: zdb_demo HOST:PORT [--setup]
 * With --setup it first creates the database DEMO with a table PEOPLE of a few records. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zdb_api.h"

#define SIZE_FROM_DEFINITION 0xFFFFFFFFu

static int failed = 0;

/* Prints one step and its result code, with the server's text for anything but success. */
static int32_t Step(const char* what, int32_t rc) {
  char text[129] = "";
  if (rc == 1000) {
    printf("  %-52s -> 1000 ok\n", what);
    return rc;
  }
  if (rc != 2001 && ZDB_GetError((uint32_t)rc, text) != 1000) text[0] = '\0';
  printf("  %-52s -> %d %s\n", what, rc, text);
  failed = 1;
  return rc;
}

static void AddPerson(const char* name, const char* city, int16_t age, double salary) {
  char line[96];
  Step("ZDB_AppendBlank()", ZDB_AppendBlank());
  snprintf(line, sizeof line, "ZDB_PutField(\"NAME\", \"%s\", -1)", name);
  Step(line, ZDB_PutField("NAME", name, SIZE_FROM_DEFINITION));
  ZDB_PutField("CITY", city, SIZE_FROM_DEFINITION);
  ZDB_PutField("AGE", &age, SIZE_FROM_DEFINITION);
  ZDB_PutField("SALARY", &salary, SIZE_FROM_DEFINITION);
}

static void Setup(void) {
  char tableRecord[113];
  memset(tableRecord, 0, sizeof tableRecord);
  printf("\nSetting up a demo database (once):\n");
  Step("Z_NewDB(\"DEMO\", ...)", Z_NewDB("DEMO", "the demo database", "", 0, ""));
  Step("ZDB_UseDB(\"DEMO\")", ZDB_UseDB("DEMO"));
  Step("ZDB_SelDB(\"DEMO\")", ZDB_SelDB("DEMO"));
  Step("Z_CreTable(\"PEOPLE\", \"NAME C 20; CITY C 15; AGE I; SALARY N\")",
       Z_CreTable("PEOPLE", "NAME C 20; CITY C 15; AGE I; SALARY N", "people", tableRecord));
  Step("ZDB_OpenTable(\"PEOPLE\")", ZDB_OpenTable("PEOPLE", "", ""));
  Step("ZDB_SelTable(\"PEOPLE\")", ZDB_SelTable("PEOPLE", ""));
  AddPerson("Smith", "Leeds", 41, 3200.50);
  AddPerson("Jones", "York", 35, 2950.00);
  AddPerson("Brown", "Bath", 29, 2700.25);
  AddPerson("Green", "Hull", 52, 4100.00);
  Step("ZDB_CloseTable(\"PEOPLE\")", ZDB_CloseTable("PEOPLE"));
  Step("ZDB_UnUseDB(\"DEMO\")", ZDB_UnUseDB("DEMO"));
}

static void PrintFile(const char* path) {
  char line[256];
  FILE* f = fopen(path, "r");
  if (!f) {
    printf("    (no result file)\n");
    return;
  }
  while (fgets(line, sizeof line, f)) printf("    | %s", line);
  fclose(f);
}

int main(int argc, char** argv) {
  char name[21], city[16], field[8], version[64];
  int16_t age = 0;
  double salary = 0;
  uint32_t word = 0;
  char output[] = "zdb_demo_result.txt";
  if (argc < 2) {
    fprintf(stderr, "usage: zdb_demo HOST:PORT [--setup]\n");
    return 2;
  }

  printf("1. Select the server host (a UDP probe must be answered):\n");
  if (Step("ZDB_SelHost(host)", ZDB_SelHost(argv[1])) != 1000) return 1;
  printf("2. Log in (empty user and password while the server has no users):\n");
  if (Step("ZDB_Init(\"\", \"\")", ZDB_Init("", "")) != 1000) return 1;
  ZDB_GetVersion(&word);
  snprintf(version, sizeof version, "ZDB_GetVersion() = 0x%04X", (unsigned)word);
  Step(version, 1000);
  if (argc > 2 && strcmp(argv[2], "--setup") == 0) Setup();

  printf("3. Put the database in use and select it; open and select the table:\n");
  Step("ZDB_UseDB(\"DEMO\")", ZDB_UseDB("DEMO"));
  Step("ZDB_SelDB(\"DEMO\")", ZDB_SelDB("DEMO"));
  Step("ZDB_OpenTable(\"PEOPLE\", \"\", \"\")", ZDB_OpenTable("PEOPLE", "", ""));
  Step("ZDB_SelTable(\"PEOPLE\", \"\")  (loads field definitions)",
       ZDB_SelTable("PEOPLE", ""));

  printf("4. Seek the record whose NAME is Jones:\n");
  Step("ZDB_Seek(\"NAME\", \"Jones\")", ZDB_Seek("NAME", "Jones"));

  printf("5. Read its fields, the size chosen from each field's definition (-1):\n");
  memset(name, 0, sizeof name);
  memset(city, 0, sizeof city);
  strcpy(field, "NAME");
  Step("ZDB_GetField(\"NAME\", buffer, -1)  (C, 20 bytes)",
       ZDB_GetField(field, name, SIZE_FROM_DEFINITION));
  strcpy(field, "CITY");
  Step("ZDB_GetField(\"CITY\", buffer, -1)  (C, 15 bytes)",
       ZDB_GetField(field, city, SIZE_FROM_DEFINITION));
  strcpy(field, "AGE");
  Step("ZDB_GetField(\"AGE\", &age, -1)     (I, 2 bytes)",
       ZDB_GetField(field, &age, SIZE_FROM_DEFINITION));
  strcpy(field, "SALARY");
  Step("ZDB_GetField(\"SALARY\", &salary, -1) (N, 8 bytes)",
       ZDB_GetField(field, &salary, SIZE_FROM_DEFINITION));
  printf("   NAME = \"%s\"  CITY = \"%s\"  AGE = %d  SALARY = %.2f\n", name, city, age, salary);

  printf("6. Run an SQL script on the selected database; each row comes back as a line:\n");
  Step("ZDB_SqlRun(\"#SELECT ... WHERE AGE > &1\", file, \"&1=30\")",
       ZDB_SqlRun("#SELECT NAME, CITY, AGE FROM PEOPLE WHERE AGE > &1 ORDER BY NAME", output,
                  "&1=30", 0));
  PrintFile(output);
  remove(output);

  printf("7. Log out:\n");
  Step("ZDB_Finish()", ZDB_Finish());
  printf(failed ? "\nThe demo met errors (see above).\n" : "\nDone: every step answered 1000.\n");
  return failed;
}
