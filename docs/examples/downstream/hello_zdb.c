/* A program outside the zdb_api tree: connects to the server named on the command line, logs
 * in, asks for the server's version and the number of databases, and logs out.
 *   hello_zdb 127.0.0.1:2500
 * Exits 0 when every call succeeded. */
#include <stdint.h>
#include <stdio.h>

#include <zdb_api.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s HOST[:PORT]\n", argv[0]);
    return 2;
  }
  int32_t rc = ZDB_SelHost(argv[1]);
  if (rc != ZDB_OK) {
    fprintf(stderr, "ZDB_SelHost(%s): %d (2601: no server answers there)\n", argv[1], rc);
    return 1;
  }
  rc = ZDB_Init("", "");
  if (rc != ZDB_OK) {
    char text[ZDB_ERROR_TEXT_SIZE] = "";
    ZDB_GetError((uint32_t)rc, text);
    fprintf(stderr, "ZDB_Init: %d %s\n", rc, text);
    return 1;
  }
  uint32_t version = 0;
  int32_t databases = 0, inUse = 0;
  if (ZDB_GetVersion(&version) != ZDB_OK || Z_NumDB(&databases, &inUse) != ZDB_OK) {
    fprintf(stderr, "request failed\n");
    return 1;
  }
  printf("server %s: protocol version 0x%04x, %d databases\n", argv[1], (unsigned)version,
         databases);
  return ZDB_Finish() == ZDB_OK ? 0 : 1;
}
