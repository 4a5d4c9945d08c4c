// The zdb tool end to end: the built program against a real zdbd, checked on its stdout,
// stderr and exit code.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/zdbd_process.h"
#include "tool_runner.h"
#include "zdb_api.h"

namespace zdb::test {
namespace {

// SHOP.ITEMS with two records, made through the library in this process.
void MakeShop(const std::string& host) {
  ASSERT_EQ(ZDB_SelHost(host.c_str()), ZDB_OK);
  ASSERT_EQ(ZDB_Init("", ""), ZDB_OK);
  ASSERT_EQ(Z_NewDB("SHOP", "", "", 0, ""), ZDB_OK);
  ASSERT_EQ(ZDB_UseDB("SHOP"), ZDB_OK);
  ASSERT_EQ(ZDB_SelDB("SHOP"), ZDB_OK);
  unsigned char record[113] = {};
  ASSERT_EQ(Z_CreTable("ITEMS", "NAME C 20; PRICE N; QTY I", "", record), ZDB_OK);
  ASSERT_EQ(ZDB_OpenTable("ITEMS", "", ""), ZDB_OK);
  ASSERT_EQ(ZDB_SelTable("ITEMS", ""), ZDB_OK);
  const char* rows[][3] = {{"pen", "1.5", "10"}, {"O'Brien ink", "20", "3"}};
  for (auto& row : rows) {
    char* values[3] = {const_cast<char*>(row[0]), const_cast<char*>(row[1]),
                       const_cast<char*>(row[2])};
    ASSERT_EQ(ZDB_PutWrite("*", values), ZDB_OK);
  }
  ASSERT_EQ(ZDB_Finish(), ZDB_OK);
}

class ZdbTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    MakeShop(server_.host());
  }
  std::string host() const { return server_.host(); }
  TempDir data_, work_;
  ZdbdProcess server_{data_.path()};
};

TEST(ZdbToolCli, HelpVersionAndUsageErrors) {
  ToolResult r = RunZdb({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* cmd : {"probe", "stop", "error", "sql", "export", "import", "dump", "load",
                          "shell", "trace", "servers"})
    EXPECT_NE(r.out.find(cmd), std::string::npos) << cmd;
  r = RunZdb({"sql", "--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--format"), std::string::npos);
  EXPECT_NE(r.out.find("--param"), std::string::npos);
  r = RunZdb({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("zdb ", 0), 0u);

  ExpectUsageErrors({
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"-q", "--host", "h", "frob"}, "unknown command 'frob'"},
      {{}, "subcommand"},
      {{"error", "127.0.0.1:1", "abc"}, "CODE must be a whole number, not 'abc'"},
      {{"error", "127.0.0.1:1", "12x"}, "not '12x'"},
      {{"probe"}, "no server given"},
      {{"sql", "127.0.0.1:1", "DB", "#SELECT 1", "--format", "xml"}, "--format"},
      {{"sql", "127.0.0.1:1", "DB", "#SELECT &1", "--param", "x=1"}, "--param 'x=1'"},
      {{"sql", "127.0.0.1:1", "DB"}, "no server given"},
      {{"import", "127.0.0.1:1", "DB", "f", "--mode", "merge"}, "'new' or 'replace'"},
      {{"trace", "127.0.0.1:1", "--count", "0"}, "--count"},
      {{"trace", "127.0.0.1:x"}, "not a number"},
      {{"servers", "--max", "abc"}, "--max"},
      {{"dump", "127.0.0.1:1", "--out", "x", "--format", "xml"}, "--format"},
      {{"dump", "127.0.0.1:1"}, "--out"},
  });
}

TEST(ZdbToolCli, LibraryCodesHaveOfflineTexts) {
  // No server answers on this port: the library's own codes need none.
  ToolResult r = RunZdb({"error", "127.0.0.1:1", "2001"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("2001 Communication failure", 0), 0u) << r.out;
  r = RunZdb({"error", "2016"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "2016 Cannot connect to the server\n");
}

TEST_F(ZdbTool, ErrorTextsComeFromTheServer) {
  ToolResult r = RunZdb({"error", host(), "4011"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "4011 Database not found\n");
  r = RunZdb({"error", "4021"}, "", {{"ZDB_HOST", host()}});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "4021 Table not found\n");
  r = RunZdb({"--host", host(), "error", "4030"}, "", {{"ZDB_HOST", "127.0.0.1:1"}});
  EXPECT_EQ(r.code, 0) << "--host wins over ZDB_HOST: " << r.err;
  EXPECT_EQ(r.out, "4030 Field not found\n");
  r = RunZdb({"error", host(), "9999"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "9999 Unknown status 9999\n");
}

TEST_F(ZdbTool, SqlRowsInEachFormatWithQuotedParameters) {
  const std::string select = "#SELECT NAME, PRICE, QTY FROM ITEMS ORDER BY QTY";
  ToolResult r = RunZdb({"sql", host(), "SHOP", select});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "O'Brien ink\t20\t3\npen\t1.5\t10\n");
  EXPECT_EQ(r.err, "zdb: 2 row(s)\n");
  r = RunZdb({"sql", host(), "SHOP", select, "--format", "csv", "--quiet"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "NAME,PRICE,QTY\nO'Brien ink,20,3\npen,1.5,10\n");
  EXPECT_EQ(r.err, "");
  r = RunZdb(
      {"sql", host(), "SHOP", "#SELECT 'a,\"b' AS s, 1 AS n, NULL AS z", "--format", "json", "-q"});
  EXPECT_EQ(r.out, "[\n{\"s\":\"a,\\\"b\",\"n\":1,\"z\":null}\n]\n");
  r = RunZdb(
      {"sql", host(), "SHOP", "#SELECT 'a,\"b' AS s, '' AS e, NULL AS z", "--format", "csv", "-q"});
  EXPECT_EQ(r.out, "s,e,z\n\"a,\"\"b\",\"\",\n");

  // A value with quotes, ';' and '&' is one literal: it can neither end the statement nor
  // reach another parameter.
  r = RunZdb({"sql", host(), "SHOP", "#SELECT QTY FROM ITEMS WHERE NAME = &1", "--param",
              "1=O'Brien ink", "-q"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "3\n");
  r = RunZdb({"sql", host(), "SHOP", "#SELECT &1, &2", "--param", "1=x'; DROP TABLE ITEMS; --",
              "--param", "2=a&1=b", "-q"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "x'; DROP TABLE ITEMS; --\ta&1=b\n");
  r = RunZdb({"sql", host(), "SHOP", "#SELECT count(*) FROM ITEMS", "-q"});
  EXPECT_EQ(r.out, "2\n");

  // Script from stdin, rows to a file.
  const std::string file = work_.path() + "/rows.csv";
  r = RunZdb({"sql", host(), "SHOP", "-", "--out", file, "-f", "csv"},
             "SELECT NAME FROM ITEMS WHERE QTY = 10");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(file), "NAME\npen\n");
  EXPECT_NE(r.err.find("1 row(s) written to " + file), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress when stderr is no terminal";
}

TEST_F(ZdbTool, SqlNamesBadFilesAndServerErrors) {
  ToolResult r = RunZdb({"sql", host(), "SHOP", "#SELECT 1", "--out", work_.path() + "/no/x"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the directory " + work_.path() + "/no does not exist"), std::string::npos)
      << r.err;
  r = RunZdb({"sql", host(), "SHOP", work_.path() + "/missing.sql"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("script file " + work_.path() + "/missing.sql: No such file"),
            std::string::npos)
      << r.err;
  r = RunZdb({"sql", host(), "SHOP", "#SELECT nope FROM ITEMS"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the script: 4070 SQL error"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("nope"), std::string::npos) << "the server's SQL message: " << r.err;
  r = RunZdb({"sql", host(), "NODB", "#SELECT 1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("using database NODB: 4011 Database not found"), std::string::npos) << r.err;
  r = RunZdb({"sql", host(), "SHOP", "#SELECT &2", "--raw-params", "&1=3"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("&N has no value"), std::string::npos) << r.err;
}

TEST_F(ZdbTool, ExportAndImportThroughStdoutAndStdin) {
  ToolResult r = RunZdb({"export", host(), "SHOP", "-"});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_GT(r.out.size(), 1000u);
  EXPECT_EQ(r.out.rfind("SQLite format 3", 0), 0u);
  EXPECT_NE(r.err.find("exported SHOP"), std::string::npos) << r.err;
  const std::string exported = r.out;

  r = RunZdb({"import", host(), "COPY", "-", "--report", work_.path() + "/report.txt"}, exported);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(ReadFile(work_.path() + "/report.txt").find("ITEMS"), std::string::npos);
  r = RunZdb({"sql", host(), "COPY", "#SELECT count(*) FROM ITEMS", "-q"});
  EXPECT_EQ(r.out, "2\n");
  // Again: refused without replace, accepted with it in any letter case.
  r = RunZdb({"import", host(), "COPY", "-"}, exported);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("4012 Database already exists"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--mode replace"), std::string::npos) << r.err;
  r = RunZdb({"import", host(), "COPY", "-", "--mode", "Replace", "-q"}, exported);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("ITEMS"), std::string::npos) << "the report on stdout: " << r.out;

  // Local files are checked before anything is sent, and named.
  r = RunZdb({"import", host(), "COPY", work_.path() + "/none.zdbx"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("import file " + work_.path() + "/none.zdbx: No such file or directory"),
            std::string::npos)
      << r.err;
  r = RunZdb({"export", host(), "SHOP", work_.path() + "/missing/dir/x.zdbx"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
  r = RunZdb({"export", host(), "SHOP", work_.path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is a directory"), std::string::npos) << r.err;
  r = RunZdb({"export", host(), "NODB", work_.path() + "/n.zdbx"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("4011 Database not found"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(work_.path() + "/n.zdbx")) << "a failed export leaves no file";
}

// On a terminal a progress line shows amount, rate and elapsed time; elsewhere nothing (the
// other tests check that stderr holds no carriage return).
TEST_F(ZdbTool, ProgressOnlyOnATerminal) {
  const std::string file = work_.path() + "/shop.zdbx";
  ToolResult r = RunZdbOnTerminal({"export", host(), "SHOP", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("\rexport "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("B/s  00:0"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("exported SHOP"), std::string::npos) << r.err;
  r = RunZdbOnTerminal({"export", host(), "SHOP", file, "--quiet"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "") << "--quiet silences the progress too";
  r = RunZdbOnTerminal({"dump", host(), "--out", work_.path() + "/d.sqlite"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("100% 2 records of 2 records"), std::string::npos) << r.err;
}

TEST_F(ZdbTool, ProbeThenStop) {
  ToolResult r = RunZdb({"probe", host()});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, host() + ": a server answers\n");
  r = RunZdb({"stop", host()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(server_.WaitExit(5000));
  r = RunZdb({"probe", host()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no server answers at " + host()), std::string::npos) << r.err;
}

// The tracer counts sessions, not connections: one zdb sql in the default mode is many
// connections, and the trace must end only after its logout, by itself.
TEST_F(ZdbTool, TraceCountsSessionsAndMasksPasswords) {
  for (bool show : {false, true}) {
    std::vector<std::string> args = {"trace", host(), "--count", "1"};
    if (show) args.push_back("--show-passwords");
    ToolProcess trace(args);
    int port = 0;
    for (int i = 0; i < 300 && port == 0; ++i) {
      usleep(10000);
      std::sscanf(trace.Out().c_str(), "tracing 127.0.0.1:%d", &port);
    }
    ASSERT_NE(port, 0);
    const std::string via = "127.0.0.1:" + std::to_string(port);
    // The password from the environment, or from stdin when asked for with '-'.
    ToolResult r =
        show ? RunZdb({"sql", via, "SHOP", "#SELECT 1", "-q", "--user", "ann", "--password", "-"},
                      "s3cret\n")
             : RunZdb({"sql", via, "SHOP", "#SELECT 1", "-q", "--user", "ann"}, "",
                      {{"ZDB_PASSWORD", "s3cret"}});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(trace.Wait(5000), 0) << "the trace stops by itself after the session";
    const std::string log = trace.Out();
    EXPECT_NE(log.find("-> op 0 kind 1"), std::string::npos) << log;
    EXPECT_NE(log.find("[0] 4: \"ann\""), std::string::npos) << log;
    EXPECT_NE(log.find("-> op 1 kind 1"), std::string::npos) << "the logout was relayed";
    EXPECT_NE(log.find("-> op 0 kind 2"), std::string::npos) << "the script run was relayed";
    if (show) {
      EXPECT_NE(log.find("[1] 7: \"s3cret\""), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
      EXPECT_NE(log.find("[1] 7: ***"), std::string::npos) << log;
    }
  }
}

TEST_F(ZdbTool, TraceStopsAfterItsDuration) {
  ToolProcess trace({"trace", host(), "--duration", "1"});
  EXPECT_EQ(trace.Wait(4000), 0);
  EXPECT_EQ(trace.Out().rfind("tracing 127.0.0.1:", 0), 0u) << trace.Out();
}

TEST_F(ZdbTool, ShellReadsCommandsFromStdin) {
  const std::string script =
      "databases\nuse SHOP\ntables\nopen ITEMS\nfields\nfirst\nnext\nnext\n"
      "seek NAME O'Brien ink\nsql SELECT NAME, QTY FROM ITEMS ORDER BY QTY\nquit\n";
  ToolResult r = RunZdb({"shell", host()}, script);
  EXPECT_EQ(r.code, 0) << r.err << r.out;
  const char* expected[] = {
      "SHOP\n",
      "database SHOP selected\n",
      "ITEMS\n",
      "table ITEMS selected: 3 fields, 2 records\n",
      "name  | type | subtype | width\n",
      "NAME  | C    |         | 20\n",
      "field | value\n------+------\nNAME  | pen\nPRICE | 1.5\nQTY   | 10\n",
      "NAME  | O'Brien ink\nPRICE | 20\nQTY   | 3\n(no more records)\n",
      "O'Brien ink | 3\npen         | 10\n(2 rows)\n",
  };
  size_t at = 0;
  for (const char* e : expected) {
    const size_t found = r.out.find(e, at);
    EXPECT_NE(found, std::string::npos) << "missing in order: " << e << "\n" << r.out;
    if (found != std::string::npos) at = found;
  }
  // Bad commands are reported and make the exit code 1, the session goes on.
  r = RunZdb({"shell", host()}, "first\nuse NODB\nbogus\nuse SHOP\ntables\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("error: no table selected"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("error: 4011 Database not found"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("unknown command 'bogus'"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ITEMS\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace zdb::test
