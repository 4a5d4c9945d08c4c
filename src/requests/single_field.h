// Single field values: the size a value occupies when the caller leaves it to the library, the
// six single-field requests, the direct reads and writes with a leading text, and the buffers
// the library keeps for a value it receives itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "session/session.h"

namespace zdb::fields {

// Size arguments that are not sizes: let the library choose, or choose and receive the value
// into a buffer of the library's own.
inline constexpr uint32_t kChooseSize = 0xFFFFFFFFu;
inline constexpr uint32_t kLibraryBuffer = 0xFFFFFFFEu;

// What the size rules need of one field's definition. A FieldDef has one width, which then
// serves as both; a field descriptor carries two.
struct FieldLetters {
  char type = 0;
  char subtype = 0;
  uint32_t charWidth = 0;
  uint32_t otherWidth = 0;
};

// The field's letters and widths: from the field definitions (cache, or opcode 63) unless the
// name holds "." or that lookup fails, then from the field descriptor (opcode 58). Returns 1000
// or the failing request's ResultCode (2004 when a buffer cannot be had).
int32_t FindFieldLetters(Session& s, const char* name, FieldLetters* out);

// The size a value is received in.
uint32_t ReadSizeFor(const FieldLetters& f);
// False for a width that no record can hold: a field's value and its zero travel beside the
// 12900-byte definitions in one whole-record frame, whose length is a 32-bit number. Such a
// width cannot come from a real table, and the caller's buffer cannot be checked against it.
bool RecordCanHold(uint32_t width);
// The size a value of a number field is sent in; 0 when the value is a text whose length
// decides (only then is it read as a text: a number need not hold a zero byte).
uint32_t FixedWriteSize(const FieldLetters& f);

// The size rules applied to a named field (size argument -1).
int32_t ReadValueSize(Session& s, const char* name, uint32_t* size);
// A text is sent with its zero by the single-field writes, without it by the direct one.
int32_t WriteValueSize(Session& s, const char* name, const void* value, bool withZero,
                       uint32_t* size);

// A value the library received into memory of its own (size -2). Replacing it releases the
// previous one; the process's end releases the last. Threads may replace it concurrently.
class LibraryValueBuffer {
 public:
  void Replace(std::unique_ptr<uint8_t[]> bytes, uint32_t size);
  // A copy of the bytes held now, and their number (for tests and diagnostics).
  size_t CopyOut(uint8_t* out, size_t capacity) const;
  uint32_t size() const;

 private:
  mutable platform::Mutex mu_;
  std::unique_ptr<uint8_t[]> bytes_;
  uint32_t size_ = 0;
};

LibraryValueBuffer& GetFieldBuffer();

// The size in force for a reading call: `size` itself, or chosen by the rules. With -2 the
// value goes to `own` (allocated here) instead of the caller's buffer.
int32_t ReadSizeInForce(Session& s, const char* name, uint32_t size, uint32_t* inForce,
                        std::unique_ptr<uint8_t[]>* own);

// A reading call: chooses the size in force, then send(target, inForce) receives the value into
// the caller's buffer or, for -2, into a buffer that becomes `home`'s record whatever the reply.
template <class Send>
int32_t ReceiveValue(Session& s, const char* name, void* value, uint32_t size,
                     LibraryValueBuffer& home, Send&& send) {
  if (!name || (!value && size != kLibraryBuffer)) return kErrArgument;
  uint32_t inForce = 0;
  std::unique_ptr<uint8_t[]> own;
  const int32_t r = ReadSizeInForce(s, name, size, &inForce, &own);
  if (r != kOk) return r;
  const int32_t result = send(own ? own.get() : value, inForce);
  if (own) home.Replace(std::move(own), inForce);
  return result;
}

int32_t GetField(Session& s, char* name, void* value, uint32_t size);
int32_t PutField(Session& s, const char* name, const void* value, uint32_t size);
int32_t TestField(Session& s, const char* name, const void* value, uint32_t size);
int32_t IsNull(Session& s, char* name, void* indicator);
int32_t CpyField(Session& s, const char* a, const char* b, const char* c, const char* d);
int32_t CpyField2(Session& s, const char* a, const char* b, const char* c, const char* d,
                  const char* e, const char* f);

}  // namespace zdb::fields

// Field reads and writes with a leading text sent ahead of the field name.
namespace zdb::tables {

int32_t FRead(Session& s, char* leading, char* name, void* value, uint32_t size);
int32_t FWrite(Session& s, char* leading, char* name, void* value, uint32_t size);

// Where ZDB_FRead with size -2 leaves its value; kept apart from ZDB_GetField's.
fields::LibraryValueBuffer& FReadBuffer();

}  // namespace zdb::tables
