#include "platform/platform.h"

namespace zdb::platform {

// Interim: identity until the Windows-1252 <-> code page 437 tables land.
void AnsiToOem(uint8_t*, size_t) {}
void OemToAnsi(uint8_t*, size_t) {}

}  // namespace zdb::platform
