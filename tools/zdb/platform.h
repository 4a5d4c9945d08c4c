// What the tool asks of the operating system, beyond the library and standard C++: one header,
// a POSIX file and a Windows file, so no other file of the tool tests for the platform. The
// library's own platform layer (src/platform) stays what the library needs and no more.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The printf family the messages are checked against: mingw's own on Windows (the build sets
// this), which knows %zu and %lld.
#ifndef ZDB_TOOL_PRINTF_STYLE
#define ZDB_TOOL_PRINTF_STYLE printf
#endif

namespace zdb::cli::os {

// Shows `prompt` on stderr and reads a line from a terminal without echoing it; the caller has
// made sure standard input is a terminal.
std::string ReadHiddenLine(const std::string& prompt);

// The folder for temporary files, ending in its separator.
std::string TempFolder();

// Standard input or output moves bytes as they are: no CR LF folding, no end at Ctrl-Z.
void SetBinary(std::FILE* stream);

// Makes a new folder from `pattern` ending in XXXXXX, which is replaced by the name made.
bool MakeTempFolder(std::string& pattern);
bool MakeFolder(const std::string& path);

// Gives a file made private by mkstemp or a folder made by MakeTempFolder the mode an ordinary
// create would give it under the present umask: a dump is a file like any other.
bool GiveCreateMode(int fd);
bool GiveCreateMode(const std::string& folder);

// How far this process has read the file `path` through any descriptor open on it; 0 where the
// system does not tell.
int64_t PositionReadIn(const std::string& path);

}  // namespace zdb::cli::os
