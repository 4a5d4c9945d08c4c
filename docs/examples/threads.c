/* One session per thread: each thread selects its host and logs in on its own.
 * usage: threads HOST[:PORT] */
#include <pthread.h>
#include <stdio.h>
#include <zdb_api.h>

static const char* host;

static void* Work(void* arg) {
  int32_t* result = arg;
  int32_t databases = 0, inUse = 0;
  *result = ZDB_SelHost(host);                                  /* this thread's own session */
  if (*result == ZDB_OK) *result = Z_NumDB(&databases, &inUse); /* logs in implicitly */
  if (*result == ZDB_OK) *result = ZDB_Finish();
  return NULL;
}

int main(int argc, char** argv) {
  host = argc > 1 ? argv[1] : "127.0.0.1:2500";
  uint32_t version = 0;

  /* No ZDB_SelHost on this thread yet: every call fails with 2001 and sends nothing. */
  if (ZDB_GetVersion(&version) != ZDB_ERR_COMMUNICATION) return 1;

  pthread_t threads[4];
  int32_t results[4];
  for (int i = 0; i < 4; ++i) pthread_create(&threads[i], NULL, Work, &results[i]);
  for (int i = 0; i < 4; ++i) {
    pthread_join(threads[i], NULL);
    printf("thread %d: %d\n", i, (int)results[i]);
    if (results[i] != ZDB_OK) return 1;
  }

  /* The threads' sessions were theirs alone: this thread still has none. */
  return ZDB_GetVersion(&version) == ZDB_ERR_COMMUNICATION ? 0 : 1;
}
