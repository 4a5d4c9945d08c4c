// Shared by the field value tests: a logged-in Session registered for the test's thread against
// a scripted peer, a way to place a table's definitions in its cache, and reply builders for
// the definition and descriptor requests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "requests/field_lookup.h"
#include "session/registry.h"
#include "session/session.h"
#include "support/scripted_peer.h"
#include "test_sessions.h"
#include "wire/catalogue.h"
#include "wire/field_def.h"
#include "wire/le.h"

namespace zdb::test {

inline wire::FieldDef Def(const char* name, char type, char subtype, uint32_t width) {
  wire::FieldDef d;
  d.name = name;
  d.type = type;
  d.subtype = subtype;
  d.width = width;
  return d;
}

inline Bytes DefList(const std::vector<wire::FieldDef>& defs) {
  Bytes out(wire::kFieldDefListSize, 0);
  for (size_t i = 0; i < defs.size(); ++i) wire::EncodeFieldDef(defs[i], &out[i * 43]);
  return out;
}

// Where slot i of a request starts in its reply frame.
inline size_t SlotOffset(const Request& req, int i) {
  size_t at = wire::kHeaderSize;
  for (int k = 0; k < i; ++k) at += req.slots[static_cast<size_t>(k)].size();
  return at;
}

// Answers with the request's bytes, slot `slot` replaced by `bytes` (cut to the slot's length).
inline bool ReplyWithSlot(const Request& req, PeerConnection& c, int slot, const Bytes& bytes,
                          int32_t status = 1000) {
  Bytes reply = PeerConnection::FullReply(req, status, 0);
  const size_t room = req.slots[static_cast<size_t>(slot)].size();
  std::memcpy(reply.data() + SlotOffset(req, slot), bytes.data(), std::min(room, bytes.size()));
  return c.Write(reply);
}

// The server's field definitions (opcode 63) for any list.
inline void ServeDefinitions(ScriptedPeer& peer, const std::vector<wire::FieldDef>& defs,
                             int32_t status = 1000) {
  const Bytes list = DefList(defs);
  peer.OnOpcode(zdb::wire::Opcode("InfoFields"),
                [list, status](const Request& req, PeerConnection& c) {
                  return ReplyWithSlot(req, c, 1, list, status);
                });
}

// The server's field descriptor (opcode 58), letters and two widths.
inline void ServeDescriptor(ScriptedPeer& peer, char type, char subtype, uint32_t charWidth,
                            uint32_t otherWidth, int32_t status = 1000) {
  Bytes d(fields::kDescriptorSize, 0);
  d[fields::kDescriptorType] = static_cast<uint8_t>(type);
  d[fields::kDescriptorSubtype] = static_cast<uint8_t>(subtype);
  wire::PutU32(&d[fields::kDescriptorCharWidth], charWidth);
  wire::PutU32(&d[fields::kDescriptorOtherWidth], otherWidth);
  peer.OnOpcode(zdb::wire::Opcode("GetField descriptor"),
                [d, status](const Request& req, PeerConnection& c) {
                  return ReplyWithSlot(req, c, 2, d, status);
                });
}

using Ops = std::vector<uint32_t>;

class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto owned = LoggedInSession(peer);
    session = owned.get();
    RegisterSession(std::move(owned));
    peer.ClearRecords();
  }
  void TearDown() override { RemoveSessionForThread(session->threadId); }

  // Puts a selected table with these definitions into the cache of a selected database, as a
  // successful table selection leaves it.
  void CacheTable(const std::vector<wire::FieldDef>& defs) {
    FieldCache& c = session->fieldCache;
    c.selectedDatabase = 0;
    DatabaseEntry& e = c.databases[0];
    std::snprintf(e.name, sizeof e.name, "%-8s", "SHOP");
    e.tables[0] = std::make_unique<TableDefBlock>();
    std::memset(e.tables[0]->bytes, 0, sizeof e.tables[0]->bytes);
    std::snprintf(e.tables[0]->key(), wire::kNameKeySize, "%-32s", "ITEMS");
    const Bytes list = DefList(defs);
    std::memcpy(e.tables[0]->fieldDefs(), list.data(), list.size());
    e.selectedTable = 0;
  }

  Request Last() const { return peer.requests().back(); }

  ScriptedPeer peer;
  Session* session = nullptr;
};

}  // namespace zdb::test
