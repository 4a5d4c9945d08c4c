/* The Windows DLL as a C program uses it, against a zdbd given by the runner: linked through
 * our import library, the typical road (session, catalog, records, fields with the size from
 * the definition, a script run with its temporary files), the decorated export names found
 * with GetProcAddress, and the Automation forms with the system's own OLEAUT32 arrays. One
 * thread only: it also runs on 32-bit Wine under emulation, which breaks with two.
 *
 * usage: windows_smoke HOST:PORT      (or ZDB_TEST_SERVER in the environment)
 * Prints each check; the exit code is the number of failed checks. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zdb_api.h"

#define SIZE_FROM_DEFINITION 0xFFFFFFFFu

static int failures = 0;

static void Check(int ok, const char* what, long got) {
  printf("%s %s (%ld)\n", ok ? "ok  " : "FAIL", what, got);
  if (!ok) ++failures;
}

static void Code(const char* what, int32_t rc, int32_t want) {
  Check(rc == want, what, (long)rc);
}

/* The decorated names: every function has one, and it reaches the same operation. */
static void DecoratedNames(void) {
  typedef int32_t(ZDB_CALL * VersionFn)(uint32_t*);
  HMODULE dll = GetModuleHandleA("zdb_api.dll");
  VersionFn plain = (VersionFn)(void*)GetProcAddress(dll, "ZDB_GetVersion");
  VersionFn decorated = (VersionFn)(void*)GetProcAddress(dll, "_ZDB_GetVersion@4");
  uint32_t a = 0, b = 0;
  Check(dll != NULL && plain != NULL && decorated != NULL, "GetProcAddress plain and decorated", 0);
  if (!plain || !decorated) return;
  Code("_ZDB_GetVersion@4", decorated(&a), 1000);
  Code("ZDB_GetVersion", plain(&b), 1000);
  Check(a == b && a != 0, "both names give the same version", (long)a);
  Check(GetProcAddress(dll, "Z_Structure") == NULL, "Z_Structure has no plain export", 0);
  Check(GetProcAddress(dll, "_Z_Structure@12") != NULL, "_Z_Structure@12 is exported", 0);
}

static void Automation(void) {
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* in = SafeArrayCreate(VT_BSTR, 1, &bound);
  SAFEARRAY* out = NULL;
  BSTR name = SysAllocStringByteLen("bolt", 4);
  BSTR age = SysAllocStringByteLen("17", 2);
  BSTR back = NULL;
  LONG index = 0;
  SafeArrayPutElement(in, &index, name);
  index = 1;
  SafeArrayPutElement(in, &index, age);
  SysFreeString(name);
  SysFreeString(age);
  Code("DB_PutWrite(\"NAME,AGE\", OLEAUT32 array)", DB_PutWrite("NAME,AGE", &in), 1000);
  Code("DB_MatGetFields(\"AGE,NAME\")", DB_MatGetFields("AGE,NAME", &out), 1000);
  Check(out != NULL && SafeArrayGetDim(out) == 1, "a one-dimensional array comes back", 0);
  if (out) {
    index = 1;
    Code("SafeArrayGetElement(1)", (int32_t)SafeArrayGetElement(out, &index, &back), 0);
    Check(back && SysStringByteLen(back) >= 4 && memcmp(back, "bolt", 4) == 0,
          "element 1 is the NAME written", back ? (long)SysStringByteLen(back) : -1);
    SysFreeString(back);
    SafeArrayDestroy(out);
  }
  SafeArrayDestroy(in);
}

static void ScriptRun(void) {
  char out[MAX_PATH];
  char line[128] = "";
  FILE* f;
  GetTempPathA(sizeof out - 32, out);
  strcat(out, "zdb_smoke_rows.txt");
  Code("ZDB_SqlRun(\"#SELECT ... WHERE AGE > &1\")",
       ZDB_SqlRun("#SELECT NAME, AGE FROM PEOPLE WHERE AGE > &1 ORDER BY NAME", out, "&1=40", 0),
       1000);
  f = fopen(out, "r");
  if (f) {
    if (!fgets(line, sizeof line, f)) line[0] = '\0';
    fclose(f);
  }
  Check(strncmp(line, "Smith", 5) == 0, "the script's first row is Smith", (long)strlen(line));
  remove(out);
}

int main(int argc, char** argv) {
  const char* server = argc > 1 ? argv[1] : getenv("ZDB_TEST_SERVER");
  char db[9];
  char table[113];
  char name[21];
  char field[8];
  int16_t age = 0;
  int16_t value;
  if (!server || !*server) {
    fprintf(stderr, "usage: windows_smoke HOST:PORT (or ZDB_TEST_SERVER)\n");
    return 2;
  }
  /* A database of its own for each architecture: both smokes may share one server. */
  snprintf(db, sizeof db, "SMOKE%d", (int)(sizeof(void*) * 8));
  memset(table, 0, sizeof table);

  Code("ZDB_SelHost", ZDB_SelHost(server), 1000);
  Code("ZDB_Init", ZDB_Init("", ""), 1000);
  Code("Z_NewDB", Z_NewDB(db, "smoke", "", 0, ""), 1000);
  Code("ZDB_UseDB", ZDB_UseDB(db), 1000);
  Code("ZDB_SelDB", ZDB_SelDB(db), 1000);
  Code("Z_CreTable", Z_CreTable("PEOPLE", "NAME C 20; AGE I", "people", table), 1000);
  Code("ZDB_OpenTable", ZDB_OpenTable("PEOPLE", "", ""), 1000);
  Code("ZDB_SelTable", ZDB_SelTable("PEOPLE", ""), 1000);
  value = 41;
  Code("ZDB_AppendBlank", ZDB_AppendBlank(), 1000);
  Code("ZDB_PutField NAME", ZDB_PutField("NAME", "Smith", SIZE_FROM_DEFINITION), 1000);
  Code("ZDB_PutField AGE", ZDB_PutField("AGE", &value, SIZE_FROM_DEFINITION), 1000);
  value = 35;
  Code("ZDB_AppendBlank", ZDB_AppendBlank(), 1000);
  Code("ZDB_PutField NAME", ZDB_PutField("NAME", "Jones", SIZE_FROM_DEFINITION), 1000);
  Code("ZDB_PutField AGE", ZDB_PutField("AGE", &value, SIZE_FROM_DEFINITION), 1000);

  Code("ZDB_Seek NAME Smith", ZDB_Seek("NAME", "Smith"), 1000);
  memset(name, 0, sizeof name);
  strcpy(field, "NAME");
  Code("ZDB_GetField NAME, size -1", ZDB_GetField(field, name, SIZE_FROM_DEFINITION), 1000);
  Check(strncmp(name, "Smith", 5) == 0 && strlen(name) == 20, "NAME is Smith, 20 wide",
        (long)strlen(name));
  strcpy(field, "AGE");
  Code("ZDB_GetField AGE, size -1", ZDB_GetField(field, &age, SIZE_FROM_DEFINITION), 1000);
  Check(age == 41, "AGE is 41", age);

  ScriptRun();
  DecoratedNames();
  Automation();
  Code("ZDB_Finish", ZDB_Finish(), 1000);
  Code("ZDB_GetVersion after logout logs in again", ZDB_GetVersion((uint32_t*)&table), 1000);
  Code("ZDB_Finish", ZDB_Finish(), 1000);
  printf(failures ? "windows_smoke: %d checks failed\n" : "windows_smoke: all checks passed\n",
         failures);
  return failures;
}
