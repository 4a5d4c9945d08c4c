/* Connect, choose the connection mode, log in, ask for the version, log out.
 * usage: connect HOST[:PORT] */
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
  const char* host = argc > 1 ? argv[1] : "127.0.0.1:2500";

  /* This thread's session: made once the server answers a UDP probe (2601 if none does). */
  CHECK(ZDB_SelHost(host), ZDB_OK);

  /* The connection mode is chosen before the login: here one TCP connection serves every
   * request until ZDB_Finish. Without this call each request opens its own connection. */
  CHECK(ZDB_Connection(ZDB_CONNECTION_HELD), ZDB_OK);
  CHECK(ZDB_Init("", ""), ZDB_OK); /* empty credentials while the server has no users */

  char name[ZDB_HOST_TEXT_SIZE];
  uint32_t version = 0;
  CHECK(ZDB_GetHost(name), ZDB_OK); /* the host without its port */
  CHECK(ZDB_GetVersion(&version), ZDB_OK);
  printf("connected to %s, protocol version 0x%04x\n", name, (unsigned)version);
  if ((version & 0xFF00) != 0x1200) return 1;

  /* While logged in the mode is fixed. */
  CHECK(ZDB_Connection(ZDB_CONNECTION_PER_REQUEST), ZDB_ERR_COMMUNICATION);

  CHECK(ZDB_Finish(), ZDB_OK);
  return 0;
}
