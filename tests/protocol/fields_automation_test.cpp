#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fields_fixture.h"
#include "platform/automation.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using FieldsAutomation = FieldsTest;

struct Array {
  SAFEARRAY* psa = nullptr;
  ~Array() { SafeArrayDestroy(psa); }
};

SAFEARRAY* MakeArray(uint32_t count, int32_t lower) {
  SAFEARRAYBOUND b{count, lower};
  return SafeArrayCreate(VT_BSTR, 1, &b);
}

// Element `index` as bytes; "<null>" for an element never stored.
std::string At(SAFEARRAY* psa, platform::ArrayIndex index) {
  BSTR b = nullptr;
  EXPECT_EQ(SafeArrayGetElement(psa, &index, &b), 0);
  if (!b) return "<null>";
  std::string s(reinterpret_cast<const char*>(b), SysStringByteLen(b));
  SysFreeString(b);
  return s;
}

void Put(SAFEARRAY* psa, platform::ArrayIndex index, const std::string& text) {
  BSTR b = SysAllocStringByteLen(text.data(), static_cast<uint32_t>(text.size()));
  ASSERT_EQ(SafeArrayPutElement(psa, &index, b), 0);
  SysFreeString(b);
}

// Each field's value is its name followed by "!" (an area of 2-character fields).
void ServeNamedValues(ScriptedPeer& peer, uint32_t opcode, int areaSlot) {
  peer.OnOpcode(opcode, [areaSlot](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, 1000, 0);
    uint8_t* area = reply.data() + SlotOffset(req, areaSlot);
    const Bytes& defs = req.slots[static_cast<size_t>(areaSlot - 1)];
    for (size_t i = 0; defs[i * 43] != 0; ++i) {
      area[i * 3] = defs[i * 43];
      area[i * 3 + 1] = '!';
    }
    return c.Write(reply);
  });
}

std::vector<wire::FieldDef> Fields(size_t n) {
  std::vector<wire::FieldDef> defs;
  for (size_t i = 0; i < n; ++i) {
    const char name[2] = {static_cast<char>('A' + i), 0};
    defs.push_back(Def(name, 'C', ' ', 2));
  }
  return defs;
}

TEST_F(FieldsAutomation, AutomationReadCreatesOrFillsTheCallersArray) {
  CacheTable(Fields(12));
  ServeNamedValues(peer, Opcode("MatGetFields"), 1);
  ServeNamedValues(peer, Opcode("GetRead"), 3);
  Array created;
  ASSERT_EQ(DB_MatGetFields("*", &created.psa), 1000);
  ASSERT_NE(created.psa, nullptr);
  EXPECT_EQ(created.psa->cDims, 1);
  EXPECT_EQ(created.psa->rgsabound[0].cElements, 300u);
  EXPECT_EQ(created.psa->rgsabound[0].lLbound, 0);
  EXPECT_EQ(At(created.psa, 0), "A!");
  EXPECT_EQ(At(created.psa, 11), "L!");
  EXPECT_EQ(At(created.psa, 12), "<null>");

  // Lower bound 1 and room for ten: the first ten values at 1 to 10, the rest dropped.
  Array own;
  own.psa = MakeArray(10, 1);
  char first[] = "f";
  char second[] = "s";
  ASSERT_EQ(DB_GetRead(first, second, "*", &own.psa), 1000);
  EXPECT_EQ(Last().header.opcode, Opcode("GetRead"));
  EXPECT_EQ(At(own.psa, 1), "A!");
  EXPECT_EQ(At(own.psa, 10), "J!");
  platform::ArrayIndex outside = 11;
  BSTR b = nullptr;
  EXPECT_NE(SafeArrayGetElement(own.psa, &outside, &b), 0);
}

TEST_F(FieldsAutomation, AutomationKeepsBytesAndReplacesEarlierElements) {
  CacheTable({Def("A", 'C', ' ', 4)});
  peer.OnOpcode(Opcode("MatGetFields"), [](const Request& req, PeerConnection& c) {
    return ReplyWithSlot(req, c, 1, Bytes{0xE9, 0x80, 0xFF});
  });
  Array a;
  a.psa = MakeArray(3, 0);
  Put(a.psa, 0, "previous value");
  Put(a.psa, 1, "stays");
  ASSERT_EQ(DB_MatGetFields("A", &a.psa), 1000);
  EXPECT_EQ(At(a.psa, 0), "\xE9\x80\xFF");
  EXPECT_EQ(At(a.psa, 1), "stays");
}

TEST_F(FieldsAutomation, AutomationRefusesArraysThatAreNotOneDimensional) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
  Array two;
  two.psa = SafeArrayCreate(VT_BSTR, 2, bounds);
  ASSERT_NE(two.psa, nullptr);
  char t[] = "t";
  EXPECT_EQ(DB_GetRead(t, t, "*", &two.psa), 2003);
  EXPECT_EQ(DB_MatGetFields("*", &two.psa), 2003);
  EXPECT_EQ(DB_MatPutFields("*", &two.psa), 2003);
  EXPECT_EQ(DB_PutWrite("*", &two.psa), 2003);
  Array none;
  EXPECT_EQ(DB_PutWrite("*", &none.psa), 2003);
  EXPECT_EQ(DB_MatPutFields("*", nullptr), 2003);
  EXPECT_EQ(DB_MatGetFields("*", nullptr), 2003);
  EXPECT_TRUE(peer.opcodes().empty());
}

TEST_F(FieldsAutomation, AutomationWriteStopsAtTheFirstEmptyElement) {
  CacheTable(Fields(3));
  Array a;
  a.psa = MakeArray(3, 5);
  Put(a.psa, 5, "x1");
  Put(a.psa, 6, "");
  Put(a.psa, 7, "x3");
  ASSERT_EQ(DB_PutWrite("*", &a.psa), 1000);
  EXPECT_EQ(Last().header.opcode, Opcode("PutWrite"));
  EXPECT_EQ(Last().slots[1], (Bytes{'x', '1', 0, 0, 0, 0, 0, 0, 0}));

  // Fewer elements than fields: the missing values go as empty texts.
  Array shorter;
  shorter.psa = MakeArray(2, 0);
  Put(shorter.psa, 0, "p");
  Put(shorter.psa, 1, std::string("q\0r", 3));  // read up to its first zero byte
  ASSERT_EQ(DB_MatPutFields("*", &shorter.psa), 1000);
  EXPECT_EQ(Last().header.opcode, Opcode("MatPutFields"));
  EXPECT_EQ(Last().slots[1], (Bytes{'p', 0, 0, 'q', 0, 0, 0, 0, 0}));
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("PutWrite"), Opcode("MatPutFields")}));
}

TEST(FieldsAutomationNoSession, AutomationReadWithoutSessionLeavesTheNewArray) {
  Array a;
  char t[] = "t";
  EXPECT_EQ(DB_GetRead(t, t, "*", &a.psa), 2001);
  ASSERT_NE(a.psa, nullptr);
  EXPECT_EQ(a.psa->rgsabound[0].cElements, 300u);
  EXPECT_EQ(At(a.psa, 0), "<null>");
  Array w;
  w.psa = MakeArray(1, 0);
  Put(w.psa, 0, "v");
  EXPECT_EQ(DB_MatPutFields("*", &w.psa), 2001);
}

}  // namespace
}  // namespace zdb::test
