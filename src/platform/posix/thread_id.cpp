#include <sys/syscall.h>
#include <unistd.h>

#include "platform/platform.h"

namespace zdb::platform {

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(::syscall(SYS_gettid));
}

}  // namespace zdb::platform
