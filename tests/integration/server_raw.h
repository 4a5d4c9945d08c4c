// The raw-frame side of the zdbd tests: a zdbd that can be restarted on its data, a server session
// driven with raw frames (one connection per request as in the default mode), scripts and file
// streams on connections of their own.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/zdbd_process.h"
#include "wire/catalogue.h"
#include "wire/field_def.h"
#include "wire/file_block.h"
#include "wire/le.h"

namespace zdb::test {

// True when every zdbd of the tests runs over PostgreSQL (scripts/test_pg.sh): the few checks
// that speak an engine's own SQL or read its own messages take that engine's.
inline bool OnPostgres() {
  return !ZdbdProcess::StorageFor("/").empty();
}

class ServerFixture : public ::testing::Test {
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

inline std::vector<Bytes> Texts(const std::vector<std::string>& texts) {
  std::vector<Bytes> out;
  for (const auto& t : texts) out.push_back(TextSlot(t));
  return out;
}

// A request frame followed by an upload of `bytes`.
inline Bytes WithUpload(Bytes frame, const std::string& bytes) {
  uint8_t head[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(bytes.size()), head);
  frame.insert(frame.end(), head, head + sizeof head);
  frame.insert(frame.end(), bytes.begin(), bytes.end());
  return frame;
}

inline Bytes ScriptFrame(uint32_t handle, const std::string& script) {
  return WithUpload(RawClient::Frame(0xD002, zdb::wire::Opcode("SqlRun"),
                                     {TextSlot("/tmp/con1"), TextSlot("out"), U32Slot(0)}, handle),
                    script);
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

struct ScriptRun {
  int32_t status = -1;
  std::vector<std::string> records;
};

// A script on a connection of its own: its records up to the end mark, then its status.
inline ScriptRun Script(uint16_t port, uint32_t handle, const std::string& script) {
  RawClient c(port);
  ScriptRun out;
  if (!c.Send(ScriptFrame(handle, script))) return out;
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

struct FileReply {
  int32_t status = -1;
  std::string file;
};

// A request answered with a file stream, on a connection of its own; `upload` is the file a
// request such as an import sends first.
inline FileReply Transfer(uint16_t port, uint16_t kindFlags, uint32_t opcode,
                          const std::vector<Bytes>& slots, uint32_t handle,
                          const std::string* upload) {
  RawClient c(port);
  FileReply out;
  Bytes frame = RawClient::Frame(kindFlags, opcode, slots, handle);
  if (upload) frame = WithUpload(std::move(frame), *upload);
  uint8_t head[wire::kFileBlockHeaderSize], st[4];
  if (!c.Send(frame) || !c.ReadExact(head, sizeof head)) return out;
  out.file.resize(static_cast<size_t>(wire::DecodeFileBlockLength(head)));
  if (!out.file.empty() && !c.ReadExact(out.file.data(), out.file.size())) return out;
  if (c.ReadExact(st, 4)) out.status = wire::GetI32(st);
  return out;
}

inline FileReply Export(uint16_t port, uint32_t h, const std::string& db) {
  return Transfer(port, 0xA001, zdb::wire::Opcode("ExportDB"),
                  {TextSlot(db), TextSlot(""), TextSlot("x")}, h, nullptr);
}

inline FileReply Import(uint16_t port, uint32_t h, const std::string& db, const std::string& file,
                        const std::string& mode = "REPLACE") {
  return Transfer(port, 0xE001, zdb::wire::Opcode("ImportDB"),
                  {TextSlot(db), TextSlot(mode), TextSlot(""), TextSlot("")}, h, &file);
}

class RawSession {
 public:
  RawSession(uint16_t port, const std::string& user = "", const std::string& pw = "")
      : port_(port), handle_(LoginRaw(port, user, pw)) {}
  ~RawSession() {
    if (loggedIn()) CallOnce(port_, 0x0001, zdb::wire::Opcode("Logout"), {}, handle_);
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
    ASSERT_EQ(Status(zdb::wire::Opcode("UseDB"), {TextSlot(db)}), 1000);
    ASSERT_EQ(Status(zdb::wire::Opcode("SelDB"), {TextSlot(db)}), 1000);
    ASSERT_EQ(Status(zdb::wire::Opcode("OpenTable"), {TextSlot(table), TextSlot(""), TextSlot("")}),
              1000);
    ASSERT_EQ(Status(zdb::wire::Opcode("SelTable"), {TextSlot(table), TextSlot("")}), 1000);
  }
  int32_t Put(const std::string& field, const std::string& text) {
    return Status(zdb::wire::Opcode("PutField"),
                  {TextSlot(field), TextSlot(text), U32Slot(uint32_t(text.size() + 1))});
  }
  std::string Get(const std::string& field, size_t size, int32_t* status = nullptr) {
    RawReply r = Full(zdb::wire::Opcode("GetField"),
                      {TextSlot(field), Bytes(size), U32Slot(uint32_t(size))});
    if (status) *status = r.ok ? r.status : -1;
    return r.ok ? std::string(r.slots[1].begin(), r.slots[1].end()) : std::string();
  }
  int32_t Read(const std::string& mode, const std::string& option = "") {
    return Status(zdb::wire::Opcode("Read"), {TextSlot(mode), TextSlot(option)});
  }

 private:
  uint16_t port_;
  uint32_t handle_;
};

inline Bytes H16(uint16_t v) {
  return Bytes{uint8_t(v), uint8_t(v >> 8)};
}

// The samples zdbd serves at /metrics on `port`, by name and labels.
inline std::map<std::string, double> Scrape(uint16_t port) {
  std::string cmd = "curl -sf http://127.0.0.1:" + std::to_string(port) + "/metrics";
  std::map<std::string, double> out;
  std::FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[1024];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    if (s.empty() || s[0] == '#') continue;
    size_t space = s.rfind(' ');
    out[s.substr(0, space)] = std::strtod(s.c_str() + space + 1, nullptr);
  }
  EXPECT_EQ(::pclose(p), 0) << "curl failed";
  return out;
}

// The port of zdbd's metrics (--metrics 127.0.0.1:0), from its log; 0 when not found.
inline uint16_t MetricsPort(const ZdbdProcess& server) {
  std::smatch m;
  std::string log = server.Log();
  if (!std::regex_search(log, m, std::regex("metrics at http://127\\.0\\.0\\.1:([0-9]+)/metrics")))
    return 0;
  return static_cast<uint16_t>(std::stoi(m[1]));
}

// The 132-byte descriptor of a memo field `name` (C, subtype M, width 10), for AddField.
inline Bytes NoteField(const std::string& name = "NOTE") {
  Bytes desc(132);
  std::memcpy(desc.data(), name.data(), name.size());
  desc[99] = 'M';
  desc[100] = 'C';
  wire::PutU32(desc.data() + 101, 10);
  return desc;
}

// A database with one table PEOPLE (NAME C 20, AGE I, SALARY N, BORN C D) and `rows` records.
inline void MakePeople(RawSession& s, const std::string& db, int rows) {
  ASSERT_EQ(s.Status(zdb::wire::Opcode("NewDB"),
                     {TextSlot(db), TextSlot(""), TextSlot(""), H16(0), TextSlot("")}),
            1000);
  ASSERT_EQ(s.Status(zdb::wire::Opcode("UseDB"), {TextSlot(db)}), 1000);
  ASSERT_EQ(s.Status(zdb::wire::Opcode("SelDB"), {TextSlot(db)}), 1000);
  ASSERT_EQ(s.Status(zdb::wire::Opcode("CreTable"),
                     {TextSlot("PEOPLE"), TextSlot("NAME C 20; AGE I; SALARY N; BORN C D"),
                      TextSlot("people"), Bytes(113)}),
            1000);
  ASSERT_EQ(
      s.Status(zdb::wire::Opcode("OpenTable"), {TextSlot("PEOPLE"), TextSlot(""), TextSlot("")}),
      1000);
  ASSERT_EQ(s.Status(zdb::wire::Opcode("SelTable"), {TextSlot("PEOPLE"), TextSlot("")}), 1000);
  for (int i = 1; i <= rows; ++i) {
    ASSERT_EQ(s.Status(zdb::wire::Opcode("AppendBlank")), 1000);
    ASSERT_EQ(s.Put("NAME", "Person" + std::to_string(i)), 1000);
    ASSERT_EQ(s.Put("AGE", std::to_string(20 + i)), 1000);
  }
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
  RawReply e =
      s.Full(zdb::wire::Opcode("GetError"), {U32Slot(static_cast<uint32_t>(code)), Bytes(129)});
  return e.ok ? TextAt(e.slots[1], 0) : std::string();
}

}  // namespace zdb::test
