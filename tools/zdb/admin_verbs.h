// The administration commands as tables: each family (user, db, table, ...) lists its verbs
// with their operands, options and the function that carries one out. cmd_admin.cpp turns the
// tables into `zdb FAMILY VERB` commands and into the same verbs inside `zdb shell`.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "zdb/sql_format.h"

namespace zdb::cli {

struct VerbOption {
  const char* name;   // "--description"
  const char* value;  // "TEXT"; nullptr for a flag
  const char* help;
};

// One parsed command line of a verb, the host already taken and the session open.
struct VerbCall {
  std::string command;  // "table create", for messages
  std::vector<std::string> operands;
  std::map<std::string, std::string> texts;  // the options given, by name ("--description")
  std::set<std::string> flags;               // the flags given
  bool json = false;
  bool yes = false;

  const std::string& at(size_t i) const { return operands[i]; }
  bool given(const std::string& option) const {
    return texts.count(option) > 0 || flags.count(option) > 0;
  }
  std::string text(const std::string& option, const std::string& fallback = "") const {
    const auto it = texts.find(option);
    return it == texts.end() ? fallback : it->second;
  }
};

enum VerbTraits : unsigned {
  kListing = 1,      // --format table|json
  kDestructive = 2,  // asks on a terminal, --yes in scripts
};

struct Verb {
  const char* family;  // "user"; "" for a command of its own ("grant")
  const char* name;
  const char* summary;
  const char* operands;  // "DB TABLE SPEC"
  unsigned traits;
  std::vector<VerbOption> options;
  int (*run)(const VerbCall&);
};

const std::vector<Verb>& UserVerbs();    // user list|add|drop|passwd, grant, revoke
const std::vector<Verb>& SchemaVerbs();  // db, table, field, index
const std::vector<Verb>& RuleVerbs();    // constraint, default, xref

// Helpers of the verbs. Each prints what went wrong.
// Logs in once the verb has checked its operands (nothing is sent before); Enter does it too.
bool Connect();
// Puts DB in use and selects it, then opens and selects TABLE when one is given.
bool Enter(const std::string& db, const std::string& table = "");
// The exit code of a request: 0, or 1 after "zdb: WHAT: CODE TEXT".
int Finish(const std::string& what, int32_t result);
// 0 when the drop may go ahead; else the exit code (1 refused on the terminal, 2 no --yes).
int Confirm(const VerbCall& call, const std::string& what);
// Prints a listing: an aligned table with a header, or the JSON objects one a line.
void PrintListing(const VerbCall& call, const Row& header, const std::vector<Row>& rows,
                  const std::vector<std::string>& jsonObjects);
// A usage error of the verb: "zdb COMMAND: message", exit code 2.
int VerbUsage(const VerbCall& call, const std::string& message);

// The field names of the selected table, in table order.
int32_t FieldNames(std::vector<std::string>* names);

// What a listing verb shows, in both forms. The List functions fill one for the selected
// table and return the library's ResultCode; `table describe` shows them all.
struct Listing {
  Row header;
  std::vector<Row> rows;
  std::vector<std::string> json;
};
void PrintListing(const VerbCall& call, const Listing& listing);
int32_t ListFields(Listing* out);
int32_t ListIndexes(Listing* out);
int32_t ListConstraints(Listing* out);
int32_t ListDefaults(Listing* out);
int32_t ListXrefs(Listing* out);

}  // namespace zdb::cli
