// The catalog table against the export list, which is written separately: each member's
// arguments, as its slots use them, must add up to the argument bytes it is exported with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "requests/catalog_members.h"
#include "requests/catalog_ops.h"

namespace zdb {
namespace {

struct Export {
  int bytes = -1;
  std::string option;
};

std::map<std::string, Export> ExportList() {
  const auto path = std::filesystem::path(ZDB_SOURCE_DIR) / "src/api/exports.txt";
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::map<std::string, Export> exports;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    Export e;
    fields >> name >> e.bytes >> e.option;
    exports[name] = e;
  }
  return exports;
}

// Arguments a row reaches: every slot's argument and every argument that sizes a slot.
int ArgumentsUsed(const RequestSpec& row) {
  int count = 0;
  for (int i = 0; i < row.slotCount; ++i) {
    const SlotRule& r = row.slots[static_cast<size_t>(i)];
    count = std::max(count, r.arg + 1);
    if (r.kind == ArgKind::kSized) count = std::max(count, r.sizeArg + 1);
  }
  return count;
}

TEST(CatalogTable, RowsAgreeWithTheExportList) {
  const auto exported = ExportList();
  std::set<std::string> names;
  for (const RequestSpec& row : catalog::kMembers) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(names.insert(row.name).second) << "listed twice";
    EXPECT_EQ(std::string(row.name).rfind("Z_", 0), 0u);
    EXPECT_LE(row.slotCount, 16);
    for (int i = 0; i < row.slotCount; ++i)
      EXPECT_NE(row.slots[static_cast<size_t>(i)].kind, ArgKind::kNone) << "slot " << i;
    for (size_t i = row.slotCount; i < row.slots.size(); ++i)
      EXPECT_EQ(row.slots[i].kind, ArgKind::kNone) << "slot " << i << " beyond the count";
    const auto it = exported.find(row.name);
    ASSERT_NE(it, exported.end()) << "not exported";
    EXPECT_EQ(it->second.bytes, 4 * ArgumentsUsed(row));
    // Only the structure request lacks its plain name.
    EXPECT_EQ(it->second.option, row.name == std::string("Z_Structure") ? "decorated-only" : "");
  }
  // Z_GetError, Z_InfoFields and Z_GetField have their rows beside the session and the fields.
  EXPECT_EQ(names.size(), 86u);
  EXPECT_EQ(exported.at("ZDB_GetError").option, "plain=Z_GetError");
}

TEST(CatalogTable, CountedConversionsStayWithinWhatWasSent) {
  uint8_t list[40];
  std::memset(list, 0xBA, sizeof list);
  catalog::ConvertCountedTexts(list, 3, -7, 12, 8);  // a negative count converts nothing
  catalog::ConvertCountedTexts(list, 3, 0, 12, 8);
  EXPECT_EQ(list[0], 0xBA);
  catalog::ConvertCountedTexts(list, 2, 1000, 12, 8);
  for (size_t i = 0; i < sizeof list; ++i)
    EXPECT_EQ(list[i], i < 24 && i % 12 < 8 ? ' ' : 0xBA) << "byte " << i;
}

}  // namespace
}  // namespace zdb
