// The rules of a table that a dump carries beside its records, so that a load recreates them:
// indexes with their fields, constraints, default values and cross references, read and
// replayed through the library's catalog calls.
#pragma once

#include <string>
#include <vector>

#include "zdb/catalog.h"

namespace zdb::cli {

struct TableRule {
  enum Kind : char { kIndex = 'I', kConstraint = 'C', kDefault = 'D', kXref = 'X' };
  Kind kind = kIndex;
  std::string field;  // constraint and default: the field
  std::string name;   // index: its name
  std::string value;  // index: its fields "A,B"; default: the value
  int flags = 0;      // index: 1 unique
  std::string data;   // constraint: the 364-byte record; cross reference: the 297-byte record
};

// The rules of the selected table. A failing call is named in `what`; returns its ResultCode.
int32_t ReadTableRules(const std::vector<FieldDef>& fields, std::vector<TableRule>* rules,
                       std::string* what);
// Creates one rule on the selected table (a cross reference names its own tables).
int32_t ApplyTableRule(const TableRule& rule, std::string* what);
// "index BYNAME", "constraint 2 of PRICE", ...: what a message calls the rule.
std::string RuleLabel(const TableRule& rule);

}  // namespace zdb::cli
