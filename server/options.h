// Command line of zdbd.
#pragma once

#include <cstdint>
#include <string>

namespace zdbd {

struct Options {
  std::string bind = "127.0.0.1";
  uint16_t port = 2500;  // 0: pick a port free for TCP and UDP
  std::string dataDir = "zdbd-data";
  std::string name = "zdbd";
  bool allowRemoteStop = false;
  int sessionIdleSeconds = 1800;     // a session unused this long ends
  int connectionIdleSeconds = 1800;  // a connection silent between requests this long is closed
  int frameTimeoutSeconds = 30;      // a request must arrive whole within this time
  int firstFrameSeconds = 10;        // a new connection must start its first request this soon
  uint32_t maxFrame = 4u << 20;      // largest request frame accepted
  // Largest database file moved by export and import: the file stream's 32-bit length allows
  // no more, and export refuses what import would refuse, so every export imports back.
  uint32_t maxFile = 0x7FFFFFFFu;
  int maxConnections = 256;
  int maxSessions = 1024;  // logins beyond this many live sessions are refused
  // Over PostgreSQL: an instance that has not renewed its lease for this long is taken for
  // dead by the others, which release its locks.
  int leaseSeconds = 10;
  // Over PostgreSQL: connections each database's requests share in this zdbd.
  int storageConnections = 8;
  // How long a thread may busy-wait for an answer that is on its way before it sleeps (spin.h);
  // 0 never.
  int spinMicroseconds = 300;
  int stopGraceSeconds = 10;  // on a stop, how long running requests may take to finish
  bool durable = false;       // every commit on disk before its reply
  // Where the databases live: empty for SQLite files in dataDir, else a libpq connection URI
  // (postgresql://USER@HOST:PORT/DBNAME) without a password.
  std::string storage;
  // Over PostgreSQL: the code page of the applications' text, by PostgreSQL's name.
  std::string storageEncoding = "LATIN1";
  std::string log;             // empty: stderr; "syslog"; or a file
  std::string metricsAddress;  // empty: no metrics endpoint
  uint16_t metricsPort = 0;
  std::string initAdmin;  // create this administrator (password on stdin) and leave
  bool help = false;
  bool version = false;
};

// An empty text, or a postgresql:// (postgres://) URI that carries no password.
bool StorageUriAccepted(const std::string& uri);
// True for the name of a code page PostgreSQL converts from and to (one of its client
// encodings), which it puts in upper case.
bool TextEncodingAccepted(std::string* name);
// Parses argv; false with a message in `error` that names the option, for an unknown option,
// a missing value or a bad one.
bool ParseOptions(int argc, char** argv, Options* out, std::string* error);
// Every option with its value and default, one per line.
std::string Usage();
// "zdbd VERSION".
std::string VersionText();

}  // namespace zdbd
