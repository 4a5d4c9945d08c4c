// The ResultCodes the library produces itself, and their texts: one home for the library, zdbd's
// tests and the tool. The public header is plain C and keeps its own #defines for callers; every
// value here is checked against it at compile time, so the two cannot drift.
#pragma once

#include <cstdint>
#include <iterator>

#include "zdb_api.h"

namespace zdb {

inline constexpr int32_t kUdpFailure = 0;
inline constexpr int32_t kOk = 1000;
inline constexpr int32_t kErrComm = 2001;
inline constexpr int32_t kErrArgument = 2003;
inline constexpr int32_t kErrNoMemory = 2004;
inline constexpr int32_t kErrNoFieldMatch = 2013;
inline constexpr int32_t kErrConnect = 2016;
inline constexpr int32_t kErrNoDatabase = 2021;
inline constexpr int32_t kErrTempFile = 2120;
inline constexpr int32_t kProbeAnswered = 2600;
inline constexpr int32_t kProbeSilent = 2601;
inline constexpr int32_t kStopStillRunning = 2605;
inline constexpr int32_t kStopped = 2606;
inline constexpr int32_t kErrVersion = 2700;
inline constexpr int32_t kErrScriptArguments = 3003;

struct LibraryCode {
  int32_t code;
  const char* text;
};

// Every code above with the text a program shows for it; server codes have their texts from the
// server.
inline constexpr LibraryCode kLibraryCodes[] = {
    {kUdpFailure, "UDP socket failure, or no server found"},
    {kOk, "Success"},
    {kErrComm, "Communication failure (no session, connection lost or bad host)"},
    {kErrArgument, "Invalid argument (or an unresolved script parameter)"},
    {kErrNoMemory, "Out of memory"},
    {kErrNoFieldMatch, "None of the listed fields is defined"},
    {kErrConnect, "Cannot connect to the server"},
    {kErrNoDatabase, "No database selected"},
    {kErrTempFile, "A script file could not be named, created or opened"},
    {kProbeAnswered, "The server answered the probe"},
    {kProbeSilent, "No answer from the server within 2 seconds"},
    {kStopStillRunning, "The server acknowledged the stop but still answers"},
    {kStopped, "The server has stopped"},
    {kErrVersion, "The server's version is not accepted"},
    {kErrScriptArguments, "Script run without a script or an output file"},
};

// The text of one of the library's own codes; null for any other code.
constexpr const char* LibraryCodeText(int32_t code) {
  for (const LibraryCode& c : kLibraryCodes)
    if (c.code == code) return c.text;
  return nullptr;
}

static_assert(kUdpFailure == ZDB_UDP_FAILURE && kOk == ZDB_OK);
static_assert(kErrComm == ZDB_ERR_COMMUNICATION && kErrArgument == ZDB_ERR_ARGUMENT);
static_assert(kErrNoMemory == ZDB_ERR_NO_MEMORY && kErrNoFieldMatch == ZDB_ERR_NO_FIELD);
static_assert(kErrConnect == ZDB_ERR_CONNECT && kErrNoDatabase == ZDB_ERR_NO_DATABASE);
static_assert(kErrTempFile == ZDB_ERR_TEMP_FILE && kErrVersion == ZDB_ERR_VERSION);
static_assert(kProbeAnswered == ZDB_PROBE_ANSWERED && kProbeSilent == ZDB_PROBE_SILENT);
static_assert(kStopStillRunning == ZDB_STOP_STILL_RUNNING && kStopped == ZDB_STOP_DONE);
static_assert(kErrScriptArguments == ZDB_ERR_SCRIPT_ARGUMENTS);
static_assert(std::size(kLibraryCodes) == 15, "a code without a text, or a text without a code");

}  // namespace zdb
