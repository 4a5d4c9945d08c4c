#include "options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "metrics.h"

#ifndef ZDBD_VERSION
#error "ZDBD_VERSION comes from the top CMakeLists.txt"
#endif

namespace zdbd {

bool TextEncodingAccepted(std::string* name) {
  // PostgreSQL's client encodings, less the two that convert nothing (SQL_ASCII, MULE_INTERNAL).
  static const char* const kEncodings[] = {
      "LATIN1",     "LATIN2",       "LATIN3",     "LATIN4",  "LATIN5",  "LATIN6",
      "LATIN7",     "LATIN8",       "LATIN9",     "LATIN10", "WIN866",  "WIN874",
      "WIN1250",    "WIN1251",      "WIN1252",    "WIN1253", "WIN1254", "WIN1255",
      "WIN1256",    "WIN1257",      "WIN1258",    "KOI8R",   "KOI8U",   "ISO_8859_5",
      "ISO_8859_6", "ISO_8859_7",   "ISO_8859_8", "UTF8",    "SJIS",    "SHIFT_JIS_2004",
      "EUC_JP",     "EUC_JIS_2004", "EUC_CN",     "EUC_KR",  "EUC_TW",  "GBK",
      "GB18030",    "BIG5",         "UHC",        "JOHAB"};
  for (char& c : *name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* known : kEncodings)
    if (*name == known) return true;
  return false;
}

namespace {

bool ToInt(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < min || v > max) return false;
  *out = v;
  return true;
}

// One row per option. Numbers are checked against [min, max]; the others set themselves.
struct OptionRow {
  const char* name;
  const char* value;  // null: a flag
  const char* help;
  long min, max;
  // Sets a number; null for the options that are not numbers.
  void (*setNumber)(Options&, long);
  // Sets a text or a flag; false for a bad value.
  bool (*setText)(Options&, const char*);
  std::string (*shown)(const Options&);  // the default, as --help shows it; null: none
};

std::string Num(long n) {
  return std::to_string(n);
}

constexpr long kDay = 86400;

}  // namespace

bool StorageUriAccepted(const std::string& uri) {
  if (uri.empty()) return true;
  std::string rest;
  for (const char* scheme : {"postgresql://", "postgres://"})
    if (uri.rfind(scheme, 0) == 0) rest = uri.substr(std::strlen(scheme));
  if (rest.empty()) return false;
  // A password on the command line is visible to every user of the machine through ps.
  std::string authority = rest.substr(0, rest.find_first_of("/?"));
  size_t at = authority.rfind('@');
  if (at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos)
    return false;
  size_t query = rest.find('?');
  return query == std::string::npos || (rest.find("password=", query) == std::string::npos);
}

namespace {

const OptionRow kOptions[] = {
    {"--port", "N", "TCP and UDP port; 0 picks one free for both", 0, 65535,
     [](Options& o, long n) { o.port = static_cast<uint16_t>(n); }, nullptr,
     [](const Options& o) { return Num(o.port); }},
    {"--bind", "ADDR", "IPv4 address to listen on", 0, 0, nullptr,
     [](Options& o, const char* v) {
       o.bind = v;
       std::string a;
       uint16_t p;
       return ParseMetricsAddress(o.bind + ":0", &a, &p);
     },
     [](const Options& o) { return o.bind; }},
    {"--data", "DIR", "data directory: the databases and the user catalog", 0, 0, nullptr,
     [](Options& o, const char* v) {
       o.dataDir = v;
       return *v != '\0';
     },
     [](const Options& o) { return o.dataDir; }},
    {"--name", "TEXT", "server name the discovery answer gives", 0, 0, nullptr,
     [](Options& o, const char* v) {
       o.name = v;
       return true;
     },
     [](const Options& o) { return o.name; }},
    {"--allow-remote-stop", nullptr, "accept stop datagrams from other machines", 0, 0, nullptr,
     [](Options& o, const char*) { return o.allowRemoteStop = true; }, nullptr},
    {"--idle-timeout", "SECONDS", "a session unused this long ends", 1, 7 * kDay,
     [](Options& o, long n) { o.sessionIdleSeconds = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.sessionIdleSeconds); }},
    {"--connection-timeout", "SECONDS", "a connection silent between requests this long closes", 1,
     kDay,
     [](Options& o, long n) {
       o.connectionIdleSeconds = static_cast<int>(n);
       if (o.frameTimeoutSeconds > n) o.frameTimeoutSeconds = static_cast<int>(n);
     },
     nullptr, [](const Options& o) { return Num(o.connectionIdleSeconds); }},
    {"--frame-timeout", "SECONDS", "a request must arrive whole within this time", 1, 3600,
     [](Options& o, long n) { o.frameTimeoutSeconds = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.frameTimeoutSeconds); }},
    {"--first-frame-timeout", "SECONDS", "a new connection must start its first request this soon",
     1, kDay, [](Options& o, long n) { o.firstFrameSeconds = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.firstFrameSeconds); }},
    {"--max-frame", "BYTES", "largest request frame accepted", 4096, 1L << 30,
     [](Options& o, long n) { o.maxFrame = static_cast<uint32_t>(n); }, nullptr,
     [](const Options& o) { return Num(o.maxFrame); }},
    {"--max-file", "BYTES", "largest database file export and import move", 4096, 0x7FFFFFFFL,
     [](Options& o, long n) { o.maxFile = static_cast<uint32_t>(n); }, nullptr,
     [](const Options& o) { return Num(o.maxFile); }},
    {"--max-connections", "N", "connections open at once", 1, 4096,
     [](Options& o, long n) { o.maxConnections = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.maxConnections); }},
    {"--max-sessions", "N", "live sessions; logins beyond are refused", 1, 1000000,
     [](Options& o, long n) { o.maxSessions = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.maxSessions); }},
    {"--lease", "SECONDS",
     "with --storage: an instance silent this long is taken for dead and its locks released", 2,
     300, [](Options& o, long n) { o.leaseSeconds = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.leaseSeconds); }},
    {"--storage-connections", "N",
     "with --storage: PostgreSQL connections each database may use at once (requests beyond "
     "wait for one)",
     1, 1000, [](Options& o, long n) { o.storageConnections = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.storageConnections); }},
    {"--spin", "MICROSECONDS",
     "while a core is free, wait this long for a reply or a client's next request by asking "
     "again before sleeping (0: always sleep)",
     0, 100000, [](Options& o, long n) { o.spinMicroseconds = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.spinMicroseconds); }},
    {"--stop-grace", "SECONDS", "on a stop, how long running requests may take to finish", 0, 3600,
     [](Options& o, long n) { o.stopGraceSeconds = static_cast<int>(n); }, nullptr,
     [](const Options& o) { return Num(o.stopGraceSeconds); }},
    {"--storage", "URI",
     "postgresql://USER@HOST:PORT/DBNAME keeps the data in PostgreSQL (password from PGPASSWORD "
     "or ~/.pgpass); empty: SQLite files in the data directory",
     0, 0, nullptr,
     [](Options& o, const char* v) {
       o.storage = v;
       return StorageUriAccepted(o.storage);
     },
     nullptr},
    {"--storage-encoding", "NAME",
     "with --storage: the code page the applications' text is in, by PostgreSQL's name; LATIN1 "
     "keeps every byte; WIN1252, UTF8, SJIS and the others let psql show the text as written "
     "and refuse bytes the code page does not allow",
     0, 0, nullptr,
     [](Options& o, const char* v) {
       o.storageEncoding = v;
       return TextEncodingAccepted(&o.storageEncoding);
     },
     [](const Options& o) { return o.storageEncoding; }},
    {"--durable", nullptr,
     "SQLite synchronous=FULL, PostgreSQL synchronous_commit=on: a commit survives a power cut", 0,
     0, nullptr, [](Options& o, const char*) { return o.durable = true; }, nullptr},
    {"--log", "FILE|syslog", "where the log goes; a file is reopened on SIGHUP", 0, 0, nullptr,
     [](Options& o, const char* v) {
       o.log = v;
       return *v != '\0';
     },
     [](const Options&) { return std::string("stderr"); }},
    {"--metrics", "[ADDR:]PORT", "serve Prometheus metrics over HTTP at /metrics (ADDR: 127.0.0.1)",
     0, 0, nullptr,
     [](Options& o, const char* v) {
       return ParseMetricsAddress(v, &o.metricsAddress, &o.metricsPort);
     },
     [](const Options&) { return std::string("off"); }},
    {"--init-admin", "NAME", "add the administrator NAME, password read from stdin, and exit", 0, 0,
     nullptr,
     [](Options& o, const char* v) {
       o.initAdmin = v;
       return *v != '\0';
     },
     nullptr},
    {"--help", nullptr, "print this help and exit", 0, 0, nullptr,
     [](Options& o, const char*) { return o.help = true; }, nullptr},
    {"--version", nullptr, "print the version and exit", 0, 0, nullptr,
     [](Options& o, const char*) { return o.version = true; }, nullptr},
};

const OptionRow* Find(const std::string& name) {
  for (const auto& row : kOptions)
    if (name == row.name) return &row;
  return nullptr;
}

}  // namespace

std::string VersionText() {
  return std::string("zdbd ") + ZDBD_VERSION;
}

std::string Usage() {
  Options defaults;
  std::string out = "usage: zdbd [OPTION]...\nA ZDB server over SQLite.\n\n";
  for (const auto& row : kOptions) {
    std::string left =
        std::string("  ") + row.name + (row.value ? std::string(" ") + row.value : "");
    if (left.size() < 30)
      left.resize(30, ' ');
    else
      left += "\n" + std::string(30, ' ');
    out += left + row.help;
    if (row.shown) out += " (default " + row.shown(defaults) + ")";
    out += "\n";
  }
  return out;
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h") a = "--help";
    const OptionRow* row = Find(a);
    if (!row) {
      *error = "unknown option " + a + " (zdbd --help lists the options)";
      return false;
    }
    if (!row->value) {
      row->setText(*o, nullptr);
      continue;
    }
    if (i + 1 >= argc) {
      *error = a + " needs a value: " + row->value;
      return false;
    }
    const char* v = argv[++i];
    long n = 0;
    bool ok = row->setNumber ? ToInt(v, row->min, row->max, &n) : row->setText(*o, v);
    if (!ok) {
      // A storage URI is not repeated: it may be refused for the password it carries.
      const bool secret = a == "--storage";
      *error = std::string("bad value for ") + a + (secret ? "" : ": '" + std::string(v) + "'");
      if (secret)
        *error +=
            " (postgresql://USER@HOST:PORT/DBNAME, the password from PGPASSWORD or "
            "~/.pgpass, never in the URI)";
      else if (row->setNumber)
        *error += " (a number from " + Num(row->min) + " to " + Num(row->max) + ")";
      else
        *error += std::string(" (expected ") + row->value + ")";
      return false;
    }
    if (row->setNumber) row->setNumber(*o, n);
  }
  return true;
}

}  // namespace zdbd
