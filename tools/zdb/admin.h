// What the administration commands share: the names a person types for privilege bits,
// constraint kinds and field specs, the checks made before anything is sent, the questions
// asked on a terminal, and the JSON and table forms of what the listing commands print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zdb/sql_format.h"

namespace zdb::cli {

// "read,write" -> 3. Names: read, write (or change), define, all; any case, comma-separated.
bool ParsePrivileges(const std::string& text, int32_t* bits, std::string* why);
// 3 -> {"read", "write"}
std::vector<std::string> PrivilegeNames(int32_t bits);

// HOST[:PORT] as a person typed it: a port, when given, is a decimal number from 1 to 65535.
// The library reads ports more leniently; the tool refuses what cannot be meant.
bool CheckHostPort(const std::string& host, std::string* why);

// One item of a field spec, "NAME TYPE [SUBTYPE] [WIDTH]" as table creation reads it.
struct FieldSpecItem {
  std::string name;
  char type = 'C';
  char subtype = 0;  // 0 when none
  uint32_t width = 0;
};
bool ParseFieldSpecItem(const std::string& text, FieldSpecItem* out, std::string* why);
// The 132-byte field descriptor the server reads: name, description, subtype, type, width.
std::vector<unsigned char> FieldDescriptor(const FieldSpecItem& f, const std::string& description);

// The constraint kinds by the names a person types and the letter the server stores.
struct ConstraintKind {
  const char* name;    // "range"
  char letter;         // 'R'
  const char* value1;  // the option that gives value 1 ("--min"), or nullptr
  const char* value2;  // the option that gives value 2, or nullptr
};
const ConstraintKind* FindConstraintKind(const std::string& nameOrLetter);
const std::vector<ConstraintKind>& ConstraintKinds();

// The text of a fixed-width record slot: up to its first zero byte, trailing spaces dropped.
std::string SlotText(const unsigned char* record, size_t offset, size_t width);
uint32_t SlotU32(const unsigned char* record, size_t offset);
uint16_t SlotU16(const unsigned char* record, size_t offset);
void PutText(unsigned char* record, size_t offset, size_t width, const std::string& text);

// JSON built as text: values are already rendered JSON.
std::string JsonNumber(int64_t v);
std::string JsonBool(bool v);
std::string JsonArray(const std::vector<std::string>& values);
std::string JsonStrings(const std::vector<std::string>& texts);
using JsonMember = std::pair<std::string, std::string>;
std::string JsonObject(const std::vector<JsonMember>& members);
// One element a line, so that a person can read it and `diff` compares it.
std::string JsonList(const std::vector<std::string>& objects);

// How a drop is allowed: --yes, or "y"/"yes" typed on a terminal.
enum class Consent { kGiven, kRefused, kNoTerminal };
Consent AskConsent(const std::string& question, bool yes);

// A new user's password, never from the command line: a line of standard input with
// `fromStdin`, else $ZDB_NEW_PASSWORD, else asked twice without echo on a terminal, else a
// line of standard input. False (after a message) when none or an unequal pair was given.
bool NewPassword(bool fromStdin, std::string* password);

// One sample of the Prometheus text format: name, label text ("" or "{a=\"b\"}"), value.
struct MetricSample {
  std::string name, labels, value, help;
};
// Samples whose name starts with `prefix`, in the order of the text, each with its family's
// HELP text. Comments, blank lines and other metrics are skipped.
std::vector<MetricSample> ParseMetrics(const std::string& text, const std::string& prefix);
// The body of an HTTP/1.x response: false with the reason when the status is not 200.
bool HttpBody(const std::string& response, std::string* body, std::string* why);

}  // namespace zdb::cli
