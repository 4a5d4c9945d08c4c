// zdb: the command-line face of the library, for operators and developers.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zdb/trace.h"
#include "zdb_api.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop = true;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage:\n"
      "  zdb probe HOST[:PORT]                 does a server answer there?\n"
      "  zdb stop HOST[:PORT]                  ask that server to stop\n"
      "  zdb error HOST[:PORT] CODE            the server's text for a result code\n"
      "  zdb servers [PORT [MAX]]              find the servers of the local networks\n"
      "  zdb trace LISTEN_PORT HOST[:PORT] [N] relay to a server, printing every request\n"
      "                                        (stops after N connections if given)\n"
      "  zdb sql HOST[:PORT] DB SCRIPT OUT [PARAMS]\n"
      "                                        run a script (\"#...\" inline, or a file) on\n"
      "                                        database DB; rows go to the file OUT\n"
      "  zdb export HOST[:PORT] TEXT1 TEXT2 FILE\n"
      "  zdb import HOST[:PORT] TEXT1 TEXT2 FILE REPORT\n"
      "options: --user NAME --password TEXT (default: empty credentials)\n");
  return 2;
}

// Selects the host; prints what went wrong when it does not answer.
bool Select(const char* host) {
  int32_t r = ZDB_SelHost(host);
  if (r == ZDB_OK) return true;
  if (r == ZDB_PROBE_SILENT) {
    std::fprintf(stderr, "zdb: no server answers at %s\n", host);
  } else {
    std::fprintf(stderr, "zdb: cannot use host %s (result %d)\n", host, r);
  }
  return false;
}

int Probe(const char* host) {
  if (!Select(host)) return 1;
  std::printf("%s: a server answers\n", host);
  return 0;
}

int Stop(const char* host) {
  if (!Select(host)) return 1;
  int32_t r = ZDB_Stop(host);
  switch (r) {
    case ZDB_STOP_DONE:
      std::printf("%s: the server has stopped\n", host);
      return 0;
    case ZDB_STOP_STILL_RUNNING:
      std::printf("%s: the server acknowledged the stop but still answers\n", host);
      return 1;
    case ZDB_PROBE_SILENT:
      std::printf("%s: the server did not acknowledge the stop\n", host);
      return 1;
    default: {
      char text[64];
      std::printf("%s: stop failed (result %d, %s)\n", host, r, (ZDB_TCPError(text), text));
      return 1;
    }
  }
}

int Error(const char* host, const char* codeText) {
  if (!Select(host)) return 1;
  char text[129] = {};
  int32_t r = ZDB_GetError(static_cast<uint32_t>(std::strtoul(codeText, nullptr, 10)), text);
  ZDB_Finish();
  if (r != ZDB_OK) {
    std::fprintf(stderr, "zdb: the error-text request failed with %d\n", r);
    return 1;
  }
  std::printf("%s: %s\n", codeText, text);
  return 0;
}

std::string g_user, g_password;

// Selects the host and logs in; prints the reason when either fails.
bool Connect(const char* host) {
  if (!Select(host)) return false;
  int32_t r = ZDB_Init(g_user.c_str(), g_password.c_str());
  if (r == ZDB_OK) return true;
  std::fprintf(stderr, "zdb: login refused (result %d)\n", r);
  return false;
}

// Reports a request's result with the server's text for it; true on success.
bool Check(const char* what, int32_t r) {
  if (r == ZDB_OK) return true;
  char text[129] = {};
  if (ZDB_GetError(static_cast<uint32_t>(r), text) != ZDB_OK) text[0] = 0;
  std::fprintf(stderr, "zdb: %s failed with %d %s\n", what, r, text);
  return false;
}

int Sql(const char* host, const char* db, const char* script, const char* out, const char* params) {
  if (!Connect(host)) return 1;
  bool ok = Check("using the database", ZDB_UseDB(db)) &&
            Check("selecting the database", ZDB_SelDB(db)) &&
            Check("the script", ZDB_SqlRun(script, out, params, 0));
  ZDB_Finish();
  if (ok) std::printf("result written to %s\n", out);
  return ok ? 0 : 1;
}

int Export(const char* host, const char* first, const char* second, const char* file) {
  if (!Connect(host)) return 1;
  bool ok = Check("the export", Z_ExportDB(first, second, file));
  ZDB_Finish();
  if (ok) std::printf("exported to %s\n", file);
  return ok ? 0 : 1;
}

int Import(const char* host, const char* first, const char* second, const char* file,
           const char* report) {
  if (!Connect(host)) return 1;
  bool ok = Check("the import", Z_ImportDB(first, second, file, report));
  ZDB_Finish();
  if (ok) std::printf("imported %s; the server's report is in %s\n", file, report);
  return ok ? 0 : 1;
}

int Servers(int port, int max) {
  std::vector<char*> list(static_cast<size_t>(max) + 2, nullptr);
  int32_t n = ZDB_GetServers(list.data(), max, port);
  if (n == ZDB_ERR_COMMUNICATION) {
    std::fprintf(stderr, "zdb: discovery failed\n");
    return 1;
  }
  std::printf("%d server(s) answered\n", n);
  for (int i = 0; i < n; ++i) std::printf("  %s\n", list[static_cast<size_t>(i)]);
  return 0;
}

int Trace(const char* listen, const char* target, const char* count) {
  zdb::trace::TraceOptions o;
  o.listenPort = static_cast<uint16_t>(std::atoi(listen));
  std::string t = target;
  auto colon = t.find(':');
  o.upstreamHost = t.substr(0, colon);
  if (colon != std::string::npos)
    o.upstreamPort = static_cast<uint16_t>(std::atoi(t.c_str() + colon + 1));
  if (count) o.maxConnections = std::atoi(count);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  return zdb::trace::RunTracer(o, stdout, g_stop);
}

}  // namespace

int main(int argc, char** rawArgv) {
  // Options may stand anywhere; what remains are the command and its arguments.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string a = rawArgv[i];
    if ((a == "--user" || a == "--password") && i + 1 < argc) {
      (a == "--user" ? g_user : g_password) = rawArgv[++i];
    } else {
      args.push_back(rawArgv[i]);
    }
  }
  argc = static_cast<int>(args.size());
  char** argv = args.data();
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  if (cmd == "probe" && argc == 3) return Probe(argv[2]);
  if (cmd == "stop" && argc == 3) return Stop(argv[2]);
  if (cmd == "error" && argc == 4) return Error(argv[2], argv[3]);
  if (cmd == "servers" && argc <= 4)
    return Servers(argc > 2 ? std::atoi(argv[2]) : 0, argc > 3 ? std::atoi(argv[3]) : 16);
  if (cmd == "trace" && (argc == 4 || argc == 5))
    return Trace(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  if (cmd == "sql" && (argc == 6 || argc == 7))
    return Sql(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : nullptr);
  if (cmd == "export" && argc == 6) return Export(argv[2], argv[3], argv[4], argv[5]);
  if (cmd == "import" && argc == 7) return Import(argv[2], argv[3], argv[4], argv[5], argv[6]);
  return Usage();
}
