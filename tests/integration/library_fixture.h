// The library's exported functions against a real zdbd, on the calling thread: one zdbd per test,
// the SHOP database made either with raw frames (PEOPLE with its records) or through the
// library (a table of the test's own fields), and the walk to a selected table.
#pragma once

#include <string>

#include "integration/server_raw.h"
#include "platform/platform.h"
#include "session/registry.h"
#include "zdb_api.h"

namespace zdb::test {

class LibraryFixture : public ServerFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(server->running()); }
  // The thread's Session goes with the test; a logged-in one logs out as it goes.
  void TearDown() override { RemoveSessionForThread(platform::CurrentThreadId()); }

  std::string host() const { return server->host(); }

  // SHOP with a PEOPLE table of `rows` records, made with raw frames before the library runs.
  void MakePeopleInShop(int rows) {
    RawSession setup(port());
    MakePeople(setup, "SHOP", rows);
  }

  // Selects the host in connection `mode`, logs in, and opens and selects `table` of SHOP.
  static void Enter(const std::string& host, int mode, const char* table = "PEOPLE") {
    ASSERT_EQ(ZDB_SelHost(host.c_str()), 1000);
    ASSERT_EQ(ZDB_Connection(mode), 1000);
    ASSERT_EQ(ZDB_Init("", ""), 1000);
    ASSERT_EQ(ZDB_UseDB("SHOP"), 1000);
    ASSERT_EQ(ZDB_SelDB("SHOP"), 1000);
    ASSERT_EQ(ZDB_OpenTable(table, "", ""), 1000);
    ASSERT_EQ(ZDB_SelTable(table, ""), 1000);
  }

  // Through the library: SHOP made and selected, `table` created with `fields`, opened and
  // selected.
  void MakeShopTable(const char* table, const char* fields) {
    ASSERT_EQ(ZDB_SelHost(host().c_str()), 1000);
    ASSERT_EQ(ZDB_Init("", ""), 1000);
    ASSERT_EQ(Z_NewDB("SHOP", "", "", 0, ""), 1000);
    ASSERT_EQ(ZDB_UseDB("SHOP"), 1000);
    ASSERT_EQ(ZDB_SelDB("SHOP"), 1000);
    uint8_t tableRecord[ZDB_TABLE_RECORD_SIZE] = {};
    ASSERT_EQ(Z_CreTable(table, fields, "items", tableRecord), 1000);
    ASSERT_EQ(ZDB_OpenTable(table, "", ""), 1000);
    ASSERT_EQ(ZDB_SelTable(table, ""), 1000);
  }
};

}  // namespace zdb::test
