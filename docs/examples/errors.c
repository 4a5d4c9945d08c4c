/* Errors: every call returns a ResultCode; ZDB_GetError asks the server for its text, and
 * ZDB_TCPError tells the system's error behind a transport failure (2001).
 * usage: errors HOST[:PORT]     (stops the server at the end) */
#include <stdio.h>
#include <string.h>
#include <zdb_api.h>

int main(int argc, char** argv) {
  const char* host = argc > 1 ? argv[1] : "127.0.0.1:2500";
  char text[ZDB_ERROR_TEXT_SIZE];

  if (ZDB_SelHost(host) != ZDB_OK) return 1;
  int32_t rc = ZDB_UseDB("NOSUCHDB"); /* logs in implicitly, then fails */
  memset(text, 0, sizeof text);       /* the buffer is sent as well as received */
  if (ZDB_GetError((uint32_t)rc, text) != ZDB_OK) return 1;
  printf("ZDB_UseDB: %d %s\n", (int)rc, text);
  if (rc != 4011) return 1;

  /* The library's own codes have texts too. */
  memset(text, 0, sizeof text);
  if (ZDB_GetError(ZDB_ERR_COMMUNICATION, text) != ZDB_OK) return 1;
  printf("%d: %s\n", ZDB_ERR_COMMUNICATION, text);

  /* Stop the server (allowed from its own machine), then see a request fail. */
  rc = ZDB_Stop(host);
  printf("ZDB_Stop: %d\n", (int)rc);
  if (rc != ZDB_STOP_DONE) return 1;
  uint32_t version = 0;
  rc = ZDB_GetVersion(&version);
  char socketError[64] = "";
  int32_t number = ZDB_TCPError(socketError);
  printf("ZDB_GetVersion: %d, socket error %d: %s\n", (int)rc, (int)number, socketError);
  return rc == ZDB_ERR_COMMUNICATION && number != 0 ? 0 : 1;
}
