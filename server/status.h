// Status codes zdbd answers with, and their texts (the error-text request hands these out).
#pragma once

#include <cstdint>
#include <string>

namespace zdbd {

enum Status : int32_t {
  kOk = 1000,
  kUnsupported = 4001,
  kMalformed = 4002,
  kNoSession = 4003,
  kLoginRefused = 4004,
  kDenied = 4005,
  kNoDatabaseSelected = 4010,
  kDatabaseNotFound = 4011,
  kDatabaseExists = 4012,
  kBadDatabaseName = 4013,
  kDatabaseInUse = 4014,
  kDatabaseNotInUse = 4015,
  kNoTableSelected = 4020,
  kTableNotFound = 4021,
  kTableExists = 4022,
  kBadTableName = 4023,
  kTableNotOpen = 4024,
  kFieldNotFound = 4030,
  kFieldExists = 4031,
  kBadFieldDefinition = 4032,
  kBadValue = 4033,
  kNoCurrentRecord = 4040,
  kRecordNotFound = 4041,
  kEndOfTable = 4042,
  kRecordLocked = 4050,
  kTableLocked = 4051,
  kDatabaseLocked = 4052,
  kNotLocked = 4053,
  kBusy = 4054,
  kLockedBySelf = 4056,
  kNoTransaction = 4060,
  kTransactionActive = 4061,
  kSqlError = 4070,
  kUserNotFound = 4080,
  kUserExists = 4081,
  kBadImport = 4090,
  kInternal = 4099,
  // Statuses of the constraint, default, cross-reference, index, alias and script families.
  kIndexExists = 4025,
  kIndexNotFound = 4026,
  kConstraintViolated = 4034,
  kConstraintNotFound = 4035,
  kNoDefault = 4036,
  kNoReferencedRecord = 4037,
  kStillReferenced = 4038,
  kXrefNotFound = 4039,
  kXrefExists = 4043,
  kExpressionFalse = 4044,
  kAliasNotFound = 4045,
  kScriptRefused = 4071,
  kBadServerFile = 4091,
  kServerFileNotFound = 4092,
  kTooManySessions = 4110,
  kFileTooLarge = 4111,
  kDiskFull = 4112,
};

// The fixed text of a status; an unknown code gets a text that names it.
std::string StatusText(int32_t code);

}  // namespace zdbd
