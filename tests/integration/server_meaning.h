// Helpers of the tests that give every request zdbd's meaning: a server that can be restarted on
// its data, scripts, whole-record buffers and the fixed-width records of the catalog families.
#pragma once

#include <cstring>
#include <memory>

#include "integration/server_raw.h"
#include "wire/field_def.h"
#include "wire/file_block.h"

namespace zdb::test {

class ServerMeaning : public ::testing::Test {
 protected:
  TempDir dir;
  std::string data = dir.path() + "/data";
  std::unique_ptr<ZdbdProcess> server = std::make_unique<ZdbdProcess>(data);
  uint16_t port() const { return server->port(); }
  void Restart() {
    server->Stop();
    server = std::make_unique<ZdbdProcess>(data);
    ASSERT_TRUE(server->running());
  }
};

struct ScriptRun {
  int32_t status = -1;
  std::vector<std::string> records;
};

inline ScriptRun Script(uint16_t port, uint32_t handle, const std::string& script) {
  RawClient c(port);
  ScriptRun out;
  Bytes frame =
      RawClient::Frame(0xD002, 0, {TextSlot("/tmp/con1"), TextSlot("out"), U32Slot(0)}, handle);
  uint8_t head[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(script.size()), head);
  frame.insert(frame.end(), head, head + sizeof head);
  frame.insert(frame.end(), script.begin(), script.end());
  if (!c.Send(frame)) return out;
  for (;;) {
    uint8_t len[4];
    if (!c.ReadExact(len, 4)) return out;
    std::string rec(wire::GetU32(len), '\0');
    if (!rec.empty() && !c.ReadExact(rec.data(), rec.size())) return out;
    if (rec == "\x03\x04") break;
    out.records.push_back(rec);
  }
  uint8_t st[4];
  if (c.ReadExact(st, 4)) out.status = wire::GetI32(st);
  return out;
}

// A definitions buffer naming text fields of the given widths, and its value area.
inline Bytes Defs(const std::vector<std::pair<std::string, uint32_t>>& fields) {
  Bytes defs(wire::kFieldDefListSize);
  for (size_t i = 0; i < fields.size(); ++i) {
    wire::FieldDef d;
    d.name = fields[i].first;
    d.type = 'C';
    d.width = fields[i].second;
    wire::EncodeFieldDef(d, defs.data() + i * wire::kFieldDefSize);
  }
  return defs;
}

inline Bytes Values(const std::vector<std::pair<std::string, uint32_t>>& fields,
                    const std::vector<std::string>& texts) {
  size_t total = 0;
  for (const auto& f : fields) total += f.second + 1;
  Bytes area(total);
  size_t off = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    std::memcpy(area.data() + off, texts[i].data(), texts[i].size());
    off += fields[i].second + 1;
  }
  return area;
}

// The 364-byte constraint record: field 0-32, number 33-34, kind 35, values at 36 and 164 (128
// bytes each), description at 292.
inline Bytes Constraint(const std::string& field, uint16_t number, char kind,
                        const std::string& v1 = "", const std::string& v2 = "",
                        const std::string& text = "") {
  Bytes r(364);
  std::memcpy(r.data(), field.data(), field.size());
  wire::PutU16(r.data() + 33, number);
  r[35] = static_cast<uint8_t>(kind);
  std::memcpy(r.data() + 36, v1.data(), v1.size());
  std::memcpy(r.data() + 164, v2.data(), v2.size());
  std::memcpy(r.data() + 292, text.data(), text.size());
  return r;
}

inline std::string TextAt(const Bytes& b, size_t off) {
  return std::string(reinterpret_cast<const char*>(b.data() + off));
}

inline std::string ErrorText(RawSession& s, int32_t code) {
  RawReply e = s.Full(120, {U32Slot(static_cast<uint32_t>(code)), Bytes(129)});
  return e.ok ? TextAt(e.slots[1], 0) : std::string();
}

}  // namespace zdb::test
