// Shared pieces of the tables protocol tests: a peer answer to the field-definition request
// that returns a scripted FieldDefList.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/field_def.h"

namespace zdb::test {

// A FieldDefList of text fields of width 10 with the given names.
inline Bytes FieldList(const std::vector<std::string>& names) {
  Bytes list(wire::kFieldDefListSize, 0);
  for (size_t i = 0; i < names.size(); ++i)
    wire::EncodeFieldDef({names[i], 'C', ' ', 10, {}}, list.data() + i * wire::kFieldDefSize);
  return list;
}

// Answers opcode 63 with `status` and, in slot 1, the list `fields()` returns at that moment.
template <class Fields>
void AnswerFieldDefs(ScriptedPeer& peer, Fields fields, int32_t status = 1000) {
  peer.OnOpcode(zdb::wire::Opcode("InfoFields"),
                [fields, status](const Request& req, PeerConnection& c) {
                  Bytes reply = PeerConnection::FullReply(req, status, req.header.sessionHandle);
                  const Bytes list = fields();
                  const size_t at = wire::kHeaderSize + req.header.lengths[0];
                  if (req.header.paramCount == 2 && req.header.lengths[1] == list.size())
                    std::memcpy(reply.data() + at, list.data(), list.size());
                  return c.Write(reply);
                });
}

// Names of the records of a FieldDefList up to its end record.
inline std::vector<std::string> NamesIn(const uint8_t* list) {
  std::vector<std::string> names;
  for (size_t i = 0; i < wire::kMaxFields && list[i * wire::kFieldDefSize] != 0; ++i)
    names.push_back(wire::DecodeFieldDef(list + i * wire::kFieldDefSize).name);
  return names;
}

}  // namespace zdb::test
