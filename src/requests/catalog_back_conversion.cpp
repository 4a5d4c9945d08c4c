// Catalog answers that carry texts in the server character set. The buffer that was sent bounds
// every conversion: a server that reports more entries than were asked for, or a record without
// its terminators, must not make the library write past caller memory.
#include <algorithm>
#include <cstring>

#include "net/charset.h"
#include "requests/catalog_members.h"
#include "requests/catalog_ops.h"

namespace zdb::catalog {

namespace {

inline constexpr size_t kFirstText = 5;
inline constexpr size_t kSecondText = 261;

void ConvertText(uint8_t* record, size_t at) {
  const size_t length = strnlen(reinterpret_cast<const char*>(record + at), kDatabaseRecord - at);
  FromServerCharset(record + at, static_cast<int32_t>(length));
}

// Runs a counted-list member and converts what came back; the count's private copy holds the
// server's count after a reply and the sent count when none was read.
int32_t CountedList(Session& s, const RequestSpec& spec, std::initializer_list<ArgValue> args,
                    uint8_t* list, int32_t sent, int countSlot, uint32_t entryWidth,
                    uint32_t textWidth) {
  RequestScratch scratch;
  const int32_t r = ExecuteRequest(s, spec, args, &scratch);
  if (scratch.exchanged && list) {
    ConvertCountedTexts(list, sent, static_cast<int32_t>(scratch.ValueAt(countSlot)), entryWidth,
                        textWidth);
  }
  return r;
}

}  // namespace

void ConvertCountedTexts(uint8_t* list, int32_t sent, int32_t returned, uint32_t entryWidth,
                         uint32_t textWidth) {
  const int32_t n = std::min(sent, returned);
  for (int32_t i = 0; i < n; ++i) {
    FromServerCharset(list + static_cast<size_t>(i) * entryWidth, static_cast<int32_t>(textWidth));
  }
}

void ConvertDatabaseRecord(uint8_t* record) {
  ConvertText(record, kSecondText);
  ConvertText(record, kFirstText);
}

int32_t DataBase(Session& s, int32_t count, char* names) {
  return CountedList(s, kMember<MemberIndex("Z_DataBase")>, {count, names},
                     reinterpret_cast<uint8_t*>(names), count, 0, kDatabaseName, kDatabaseName);
}

int32_t DbTables(Session& s, int32_t count, char* names) {
  return CountedList(s, kMember<MemberIndex("Z_DbTables")>, {count, names},
                     reinterpret_cast<uint8_t*>(names), count, 0, kTableName, kTableName);
}

int32_t GetAccounts(Session& s, void* accounts, int32_t count) {
  // Only the first 8 bytes of an account entry are text.
  return CountedList(s, kMember<MemberIndex("Z_GetAccounts")>, {accounts, count},
                     static_cast<uint8_t*>(accounts), count, 1, kAccountEntry, 8);
}

int32_t GetDataBase(Session& s, void* record) {
  RequestScratch scratch;
  const int32_t r = ExecuteRequest(s, kMember<MemberIndex("Z_GetDataBase")>, {record}, &scratch);
  if (scratch.exchanged && record) ConvertDatabaseRecord(static_cast<uint8_t*>(record));
  return r;
}

}  // namespace zdb::catalog
