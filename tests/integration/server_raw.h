// A server session driven with raw frames, one connection per request as in the default mode.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/zdbd_process.h"
#include "wire/le.h"

namespace zdb::test {

class RawSession {
 public:
  RawSession(uint16_t port, const std::string& user = "", const std::string& pw = "")
      : port_(port), handle_(LoginRaw(port, user, pw)) {}
  ~RawSession() {
    if (loggedIn()) CallOnce(port_, 0x0001, 1, {}, handle_);
  }
  bool loggedIn() const { return handle_ != wire::kNoSession; }
  uint32_t handle() const { return handle_; }

  int32_t Status(uint32_t opcode, const std::vector<Bytes>& slots = {}) {
    RawReply r = CallOnce(port_, 0x8001, opcode, slots, handle_);
    return r.ok ? r.status : -1;
  }
  RawReply Full(uint32_t opcode, const std::vector<Bytes>& slots) {
    return CallOnce(port_, 0x0001, opcode, slots, handle_);
  }
  // Use, select, open and select a table in one go.
  void Enter(const std::string& db, const std::string& table) {
    ASSERT_EQ(Status(3, {TextSlot(db)}), 1000);
    ASSERT_EQ(Status(5, {TextSlot(db)}), 1000);
    ASSERT_EQ(Status(10, {TextSlot(table), TextSlot(""), TextSlot("")}), 1000);
    ASSERT_EQ(Status(12, {TextSlot(table), TextSlot("")}), 1000);
  }
  int32_t Put(const std::string& field, const std::string& text) {
    return Status(28, {TextSlot(field), TextSlot(text), U32Slot(uint32_t(text.size() + 1))});
  }
  std::string Get(const std::string& field, size_t size, int32_t* status = nullptr) {
    RawReply r = Full(27, {TextSlot(field), Bytes(size), U32Slot(uint32_t(size))});
    if (status) *status = r.ok ? r.status : -1;
    return r.ok ? std::string(r.slots[1].begin(), r.slots[1].end()) : std::string();
  }
  int32_t Read(const std::string& mode, const std::string& option = "") {
    return Status(23, {TextSlot(mode), TextSlot(option)});
  }

 private:
  uint16_t port_;
  uint32_t handle_;
};

inline Bytes H16(uint16_t v) {
  return Bytes{uint8_t(v), uint8_t(v >> 8)};
}

// A database with one table PEOPLE (NAME C 20, AGE I, SALARY N, BORN C D) and `rows` records.
inline void MakePeople(RawSession& s, const std::string& db, int rows) {
  ASSERT_EQ(s.Status(86, {TextSlot(db), TextSlot(""), TextSlot(""), H16(0), TextSlot("")}), 1000);
  ASSERT_EQ(s.Status(3, {TextSlot(db)}), 1000);
  ASSERT_EQ(s.Status(5, {TextSlot(db)}), 1000);
  ASSERT_EQ(s.Status(70, {TextSlot("PEOPLE"), TextSlot("NAME C 20; AGE I; SALARY N; BORN C D"),
                          TextSlot("people"), Bytes(113)}),
            1000);
  ASSERT_EQ(s.Status(10, {TextSlot("PEOPLE"), TextSlot(""), TextSlot("")}), 1000);
  ASSERT_EQ(s.Status(12, {TextSlot("PEOPLE"), TextSlot("")}), 1000);
  for (int i = 1; i <= rows; ++i) {
    ASSERT_EQ(s.Status(24), 1000);
    ASSERT_EQ(s.Put("NAME", "Person" + std::to_string(i)), 1000);
    ASSERT_EQ(s.Put("AGE", std::to_string(20 + i)), 1000);
  }
}

}  // namespace zdb::test
