#include "status.h"

#include <utility>

namespace zdbd {
namespace {

constexpr std::pair<int32_t, const char*> kTexts[] = {
    {kOk, "Success"},
    {kUnsupported, "Request not supported by this server"},
    {kMalformed, "Request malformed: parameters do not match the request"},
    {kNoSession, "Not logged in, or the session has expired"},
    {kLoginRefused, "Login refused: unknown user or wrong password"},
    {kDenied, "Permission denied"},
    {kNoDatabaseSelected, "No database selected"},
    {kDatabaseNotFound, "Database not found"},
    {kDatabaseExists, "Database already exists"},
    {kBadDatabaseName, "Invalid database name"},
    {kDatabaseInUse, "Database is in use by another session"},
    {kDatabaseNotInUse, "Database not in use by this session"},
    {kNoTableSelected, "No table selected"},
    {kTableNotFound, "Table not found"},
    {kTableExists, "Table already exists"},
    {kBadTableName, "Invalid table name"},
    {kTableNotOpen, "Table not open"},
    {kFieldNotFound, "Field not found"},
    {kFieldExists, "Field already exists"},
    {kBadFieldDefinition, "Invalid field definition"},
    {kBadValue, "Value does not fit the field"},
    {kNoCurrentRecord, "No current record"},
    {kRecordNotFound, "Record not found"},
    {kEndOfTable, "Beginning or end of table reached"},
    {kRecordLocked, "Record locked by another session"},
    {kTableLocked, "Table locked by another session"},
    {kDatabaseLocked, "Database locked by another session"},
    {kNotLocked, "Not locked"},
    {kBusy, "Database busy: another session's transaction is writing"},
    {kLockedBySelf, "Locked by this session"},
    {kNoTransaction, "No transaction active"},
    {kTransactionActive, "A transaction is already active"},
    {kSqlError, "SQL error"},
    {kUserNotFound, "User not found"},
    {kUserExists, "User already exists"},
    {kBadImport, "Import file is not a database export"},
    {kInternal, "Internal server error"},
    {kIndexExists, "Index already exists"},
    {kIndexNotFound, "Index not found"},
    {kConstraintViolated, "Value refused by a constraint of the field"},
    {kConstraintNotFound, "Constraint not found"},
    {kNoDefault, "The field has no default value"},
    {kNoReferencedRecord, "Value has no matching record in the referenced table"},
    {kStillReferenced, "Record is still referenced by another table"},
    {kXrefNotFound, "Cross reference not found"},
    {kXrefExists, "Cross reference already exists"},
    {kExpressionFalse, "Expression is false for the current record"},
    {kAliasNotFound, "Alias not found"},
    {kScriptRefused, "SQL script refused"},
    {kBadServerFile, "Invalid server file name"},
    {kServerFileNotFound, "Server file not found"},
    // The library's own codes, so that programs can show a text for them too.
    {2001, "Communication failure: no session, connection lost or bad host"},
    {2003, "Invalid argument"},
    {2004, "Out of memory"},
    {2013, "None of the listed fields is defined"},
    {2016, "Cannot connect to the server"},
    {2021, "No database selected in the client"},
    {2120, "Script file could not be created or opened"},
    {2600, "The server answered the probe"},
    {2601, "No answer from the server within 2 seconds"},
    {2605, "Stop acknowledged, but the server still answers"},
    {2606, "The server has stopped"},
    {2700, "Server version not accepted"},
    {3003, "Script or output file missing"},
    {kTooManySessions,
     "Login refused: the server's session limit is reached; retry once sessions end"},
    {kFileTooLarge, "File too large: over the server's limit for a file stream"},
    {kDiskFull, "Disk full: the server could not write its files; the request changed nothing"},
};

}  // namespace

std::string StatusText(int32_t code) {
  for (const auto& [c, text] : kTexts)
    if (c == code) return text;
  return "Unknown status " + std::to_string(code);
}

}  // namespace zdbd
