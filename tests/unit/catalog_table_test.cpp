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

#include "catalog/catalog_members.h"
#include "catalog/catalog_ops.h"

namespace zdb {
namespace {

std::map<std::string, int> ExportedArgumentBytes() {
  const auto path = std::filesystem::path(__FILE__).parent_path() / "../../src/api/exports.txt";
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::map<std::string, int> bytes;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    int n = -1;
    fields >> name >> n;
    bytes[name] = n;
  }
  return bytes;
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
  const auto exported = ExportedArgumentBytes();
  // Members whose entry points are built outside the catalog and may not be listed yet.
  const std::set<std::string> elsewhere = {"Z_InfoFields", "Z_ExportDB", "Z_ImportDB"};
  std::set<std::string> names;
  int listed = 0;
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
    if (it == exported.end()) {
      EXPECT_TRUE(elsewhere.count(row.name)) << "not exported";
      continue;
    }
    ++listed;
    EXPECT_EQ(it->second, 4 * ArgumentsUsed(row));
  }
  EXPECT_EQ(names.size(), 89u);
  EXPECT_GE(listed, 86);
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
