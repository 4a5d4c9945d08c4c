// Counts the process's open descriptors before and after every test group of the program it is
// linked into; a group that leaves more open than it found fails the run at its end. Added to a
// ring with target_sources (it is kept out of the support library,
// whose unused objects the linker would drop), it registers itself before main runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fault_checks.h"

namespace zdb::test {
namespace {

std::vector<std::string>& Leaks() {
  static std::vector<std::string> leaks;
  return leaks;
}

class FdWatch : public ::testing::EmptyTestEventListener {
  void OnTestSuiteStart(const ::testing::TestSuite&) override { before_ = OpenFdCount(); }
  void OnTestSuiteEnd(const ::testing::TestSuite& suite) override {
    // Servers and peers of the group close their ends on their own threads; give them time.
    const int after = SettledFdCount(before_);
    if (after > before_)
      Leaks().push_back(std::string(suite.name()) + ": " + std::to_string(before_) +
                        " open before, " + std::to_string(after) + " after");
  }
  int before_ = 0;
};

class FdReport : public ::testing::Environment {
  void TearDown() override {
    for (const auto& leak : Leaks()) ADD_FAILURE() << "descriptors left open by " << leak;
  }
};

const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FdWatch);
  ::testing::AddGlobalTestEnvironment(new FdReport);
  return true;
}();

}  // namespace
}  // namespace zdb::test
