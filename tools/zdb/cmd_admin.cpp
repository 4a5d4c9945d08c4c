// zdb FAMILY VERB: the administration verbs of admin_verbs.h as commands of the tool and of
// its shell. Both parse with the same tables; the shell's verbs take no host and work in the
// shell's session.
#include <cstdio>
#include <memory>
#include <sstream>

#include "zdb/admin.h"
#include "zdb/admin_verbs.h"
#include "zdb/commands.h"
#include "zdb/common.h"
#include "zdb_api.h"

namespace zdb::cli {
namespace {

struct Family {
  const char* name;
  const char* summary;
};
constexpr Family kFamilies[] = {
    {"user", "users of the server: list, add, drop, passwd"},
    {"db", "databases: list, create, drop"},
    {"table", "tables of a database: list, create, drop, describe, rename"},
    {"field", "fields of a table: add, drop, change"},
    {"index", "indexes of a table: list, create, drop"},
    {"constraint", "rules a field's values must keep: list, add, drop"},
    {"default", "default values of fields: list, set, drop"},
    {"xref", "cross references between tables: list, add, drop"},
};

const std::vector<const Verb*>& AllVerbs() {
  static const std::vector<const Verb*> all = [] {
    std::vector<const Verb*> v;
    for (const auto* list : {&UserVerbs(), &SchemaVerbs(), &RuleVerbs()})
      for (const Verb& verb : *list) v.push_back(&verb);
    return v;
  }();
  return all;
}

size_t OperandCount(const Verb& v) {
  std::istringstream in(v.operands);
  size_t n = 0;
  for (std::string w; in >> w;) ++n;
  return n;
}

// The verb runs its checks before anything is sent and then calls Connect(): from the
// command line that logs in to the host taken from the command line, in the shell the
// session is there already.
struct Pending {
  bool inShell = false;
  std::string host;
  ServerLogin* session = nullptr;
};
Pending g_pending;

struct ParsedVerb {
  std::vector<std::string> args;
  std::map<std::string, std::string> texts;
  std::map<std::string, bool> flags;
  std::string format = "table";
  bool yes = false;
};

int RunVerb(const Verb& v, CLI::App* sub, ParsedVerb& p, bool inShell) {
  VerbCall call;
  call.command = *v.family ? std::string(v.family) + " " + v.name : v.name;
  std::string host;
  const size_t wanted = OperandCount(v);
  if (inShell) {
    if (p.args.size() != wanted) {
      std::printf("usage: %s %s\n", call.command.c_str(), v.operands);
      return kExitUsage;
    }
  } else if (!TakeHost(call.command, p.args, wanted, &host)) {
    return kExitUsage;
  }
  call.operands = p.args;
  for (const VerbOption& o : v.options) {
    if (sub->count(o.name) == 0) continue;
    if (o.value)
      call.texts[o.name] = p.texts[o.name];
    else
      call.flags.insert(o.name);
  }
  call.json = p.format == "json";
  call.yes = p.yes;
  ServerLogin session;
  g_pending = Pending{inShell, host, &session};
  const int code = v.run(call);
  g_pending = Pending{};
  return code;
}

void AddVerbs(CLI::App& app, Commands& commands, bool inShell) {
  std::map<std::string, CLI::App*> families;
  for (const Verb* verb : AllVerbs()) {
    const Verb& v = *verb;
    CLI::App* parent = &app;
    if (*v.family) {
      CLI::App*& family = families[v.family];
      if (!family) {
        const char* summary = "";
        for (const Family& f : kFamilies)
          if (std::string(f.name) == v.family) summary = f.summary;
        family = app.add_subcommand(v.family, summary);
        family->require_subcommand(1);
      }
      parent = family;
    }
    auto p = std::make_shared<ParsedVerb>();
    CLI::App* sub = parent->add_subcommand(v.name, v.summary);
    sub->add_option("OPERANDS", p->args,
                    inShell ? v.operands : std::string("[HOST] ") + v.operands);
    for (const VerbOption& o : v.options) {
      if (o.value)
        sub->add_option(o.name, p->texts[o.name], o.help)->type_name(o.value);
      else
        sub->add_flag(o.name, p->flags[o.name], o.help);
    }
    if (v.traits & kListing)
      sub->add_option("-f,--format", p->format, "table (the default) or json")
          ->check(CLI::IsMember({"table", "json"}));
    if (v.traits & kDestructive)
      sub->add_flag("-y,--yes", p->yes, "do not ask; needed when standard input is no terminal");
    commands.emplace_back(sub,
                          [verb, sub, p, inShell] { return RunVerb(*verb, sub, *p, inShell); });
  }
}

}  // namespace

bool Connect() {
  if (g_pending.inShell || !g_pending.session) return true;
  return g_pending.session->open() || g_pending.session->Open(g_pending.host);
}

bool Enter(const std::string& db, const std::string& table) {
  if (!Connect()) return false;
  int32_t r = ZDB_UseDB(db.c_str());
  if (r == ZDB_OK) r = ZDB_SelDB(db.c_str());
  if (r != ZDB_OK) {
    Error("database %s: %s", db.c_str(), ResultText(r).c_str());
    return false;
  }
  if (table.empty()) return true;
  r = ZDB_OpenTable(table.c_str(), "", "");
  if (r == ZDB_OK) r = ZDB_SelTable(table.c_str(), "");
  if (r != ZDB_OK) {
    Error("table %s.%s: %s", db.c_str(), table.c_str(), ResultText(r).c_str());
    return false;
  }
  return true;
}

int Finish(const std::string& what, int32_t result) {
  return Check(what.c_str(), result) ? kExitOk : kExitFailure;
}

int Confirm(const VerbCall& call, const std::string& what) {
  switch (AskConsent("Drop " + what + "?", call.yes)) {
    case Consent::kGiven:
      return kExitOk;
    case Consent::kRefused:
      Error("%s: %s kept", call.command.c_str(), what.c_str());
      return kExitFailure;
    case Consent::kNoTerminal:
      break;
  }
  return VerbUsage(call, "dropping " + what + " needs --yes when standard input is no terminal");
}

void PrintListing(const VerbCall& call, const Row& header, const std::vector<Row>& rows,
                  const std::vector<std::string>& jsonObjects) {
  if (call.json)
    std::fputs(JsonList(jsonObjects).c_str(), stdout);
  else if (!rows.empty())
    std::fputs(AlignedTable(header, rows).c_str(), stdout);
  else
    Info("%s: none", call.command.c_str());
}

void PrintListing(const VerbCall& call, const Listing& listing) {
  PrintListing(call, listing.header, listing.rows, listing.json);
}

int VerbUsage(const VerbCall& call, const std::string& message) {
  return Usage(call.command, message);
}

int32_t FieldNames(std::vector<std::string>* names) {
  int32_t count = 0;
  std::vector<unsigned char> buf(9900, 0);
  const int32_t r = Z_TableFields(&count, buf.data());
  if (r != ZDB_OK) return r;
  names->clear();
  for (int32_t i = 0; i < count && i < 300; ++i) names->push_back(SlotText(buf.data(), i * 33, 33));
  return ZDB_OK;
}

void RegisterAdminCommands(CLI::App& app, Commands& commands) {
  AddVerbs(app, commands, false);
}

bool IsAdminLine(const std::string& line) {
  std::istringstream in(line);
  std::string first, second;
  in >> first >> second;
  for (const Verb* v : AllVerbs()) {
    if (!*v->family && first == v->name) return true;
    // "table NAME" and "table" alone stay the shell's own (open a table): a family word
    // counts before one of its verbs, or alone for the families the shell has no word for.
    if (first == v->family && (second == v->name || second == "--help" || second == "-h" ||
                               (second.empty() && first != "table")))
      return true;
  }
  return false;
}

int RunAdminLine(const std::string& line) {
  CLI::App app{"administration verbs of the shell", ""};
  app.require_subcommand(1);
  Commands commands;
  AddVerbs(app, commands, true);
  try {
    app.parse(line, false);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, std::cout, std::cout);
    return code == 0 ? kExitOk : kExitUsage;
  }
  for (auto& [sub, run] : commands)
    if (sub->parsed()) return run();
  return kExitUsage;
}

}  // namespace zdb::cli
