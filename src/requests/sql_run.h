// SQL script runs: the script (inline after a leading "#", or a local file) is copied into a
// temporary file with its "&N" parameter references replaced, sent with a script request, and
// the server's record stream lands in the caller's output file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "session/session.h"

namespace zdb {

inline constexpr size_t kScriptValueSize = 256;

// The value of parameter `number` in `parameters` ("&1=abc;&2=xyz"), copied with its zero into
// `value` (kScriptValueSize bytes). 0 on success; 2003 for number 0, no text, no item, or a
// value too long for the buffer.
int32_t LookupScriptParameter(int32_t number, const char* parameters, char* value);

// Copies a script from `in` to `out`, replacing each "&N" by the value of N followed by a zero
// byte, then the character that ended the number. 0 on success, 2003 for an unresolved
// reference, 2120 when a file read or write fails.
int32_t ConvertScript(platform::File& in, platform::File& out, const char* parameters);

// The script request for an already converted script file, on the calling thread's Session
// (2001 without one) or on the given one.
int32_t RunScriptFile(const char* scriptFile, const char* outputFile, int32_t runValue);
int32_t RunScriptFile(Session& s, const char* scriptFile, const char* outputFile, int32_t runValue);

// The whole run behind ZDB_SqlRun; the temporary files are gone when it returns.
int32_t SqlRun(const char* script, const char* outputFile, const char* parameters,
               int32_t runValue);

}  // namespace zdb
