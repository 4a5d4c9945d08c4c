// zdbd's log: one line format with a level, written to stderr, a file (reopened on SIGHUP, for
// logrotate) or syslog. Events that a client can cause at will are summarised: past a few per
// window of each kind, they are counted and reported in one line, so no client fills the disk.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>

namespace zdbd {

enum class LogLevel { kError, kWarning, kInfo };

// The kinds of event a client can repeat as fast as it likes.
enum class Event {
  kRequestFailed,
  kLoginRefused,
  kSessionLimit,
  kHandleClaim,
  kConnectionLimit,
  kConnectionDropped,
  kConnectionIdle,
  kStopRefused,
  kCount,
};

// "" or "-" for stderr, "syslog", or a file opened for appending. False with the system's reason.
bool LogTo(const std::string& target, std::string* error);
// Reopens the log file (after logrotate moved it); false when the log is no file, or when the
// file cannot be opened again (said in the log), and then it goes on writing to the one it had.
bool ReopenLog();
// How many of each kind are written per window before the rest are only counted.
void SetLogSummary(size_t perWindow, std::chrono::steady_clock::duration window);
// Writes the counts of the windows that have ended; the main loop calls it about once a second,
// and once more at the end (`all`: the open windows too).
void FlushLogSummaries(bool all = false);

void Log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogAt(LogLevel level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void LogEvent(Event kind, LogLevel level, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// The line as written to a file or stderr (without the newline), for the tests.
std::string FormatLogLine(std::time_t when, LogLevel level, const std::string& message);

}  // namespace zdbd
