#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "fields_fixture.h"
#include "wire/catalogue.h"
#include "zdb_api.h"

using zdb::wire::Opcode;

namespace zdb::test {
namespace {

using FieldsRecord = FieldsTest;

// Frees what reading calls hand out.
struct Values {
  char* v[300] = {};
  ~Values() {
    for (char* p : v) std::free(p);
  }
};

// Answers a reading request by writing `texts` into the ValueArea slot at the given offsets.
void ServeArea(ScriptedPeer& peer, uint32_t opcode, int areaSlot,
               std::vector<std::pair<size_t, std::string>> texts, Bytes defs = {}) {
  peer.OnOpcode(opcode, [=](const Request& req, PeerConnection& c) {
    Bytes reply = PeerConnection::FullReply(req, 1000, 0);
    uint8_t* area = reply.data() + SlotOffset(req, areaSlot);
    const size_t room = req.slots[static_cast<size_t>(areaSlot)].size();
    for (const auto& [at, text] : texts) {
      if (at + text.size() <= room) std::memcpy(area + at, text.data(), text.size());
    }
    if (!defs.empty())
      std::memcpy(reply.data() + SlotOffset(req, areaSlot - 1), defs.data(), 12900);
    return c.Write(reply);
  });
}

TEST_F(FieldsRecord, ReadingLaysOutSlotsByEffectiveWidthAndTrimsNumericTexts) {
  CacheTable({Def("NAME", 'C', ' ', 5), Def("NOTE", 'C', 'M', 10), Def("PRICE", 'C', 'N', 8),
              Def("CODE", 'C', ' ', 6)});
  ServeArea(peer, Opcode("MatGetFields"), 1,
            {{0, "bolt"}, {6, "long note"}, {262, " 12.5 \t"}, {271, "  ab  "}});
  Values out;
  ASSERT_EQ(ZDB_MatGetFields("*", out.v), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("MatGetFields")}));
  const Request r = Last();
  ASSERT_EQ(r.header.paramCount, 2);
  ASSERT_EQ(r.slots[0].size(), 12900u);
  // The memo's width goes out as 255; the others as defined.
  EXPECT_EQ(wire::GetU32(&r.slots[0][43 + 35]), 255u);
  EXPECT_EQ(wire::GetU32(&r.slots[0][35]), 5u);
  ASSERT_EQ(r.slots[1].size(), 6u + 256 + 9 + 7);
  EXPECT_EQ(r.slots[1], Bytes(278, 0));
  EXPECT_STREQ(out.v[0], "bolt");
  EXPECT_STREQ(out.v[1], "long note");
  EXPECT_STREQ(out.v[2], "12.5");
  EXPECT_STREQ(out.v[3], "  ab  ");
  EXPECT_EQ(out.v[4], nullptr);

  // A second read releases the first buffers and hands out new ones (the sanitizer run sees a
  // leak or a double release otherwise).
  ASSERT_EQ(ZDB_MatGetFields("CODE", out.v), 1000);
  EXPECT_STREQ(out.v[0], "bolt");       // CODE's slot is now the first
  EXPECT_STREQ(out.v[1], "long note");  // beyond the delivered field: left as it was
  EXPECT_EQ(Last().slots[1].size(), 7u);
}

TEST_F(FieldsRecord, ReadingFollowsTheDeliveredDefinitionsNotTheList) {
  CacheTable({Def("A", 'C', ' ', 2), Def("B", 'C', ' ', 2), Def("C", 'C', ' ', 2)});
  ServeArea(peer, Opcode("GetRead"), 3, {{0, "a1"}, {3, "c1"}});
  Values out;
  char* keep = static_cast<char*>(std::malloc(4));
  std::strcpy(keep, "old");
  out.v[2] = keep;
  char first[] = "F";
  char second[] = "SS";
  ASSERT_EQ(ZDB_GetRead(first, second, "A, NOPE ,C", out.v), 1000);
  const Request r = Last();
  EXPECT_EQ(r.header.opcode, Opcode("GetRead"));
  ASSERT_EQ(r.header.paramCount, 4);
  EXPECT_EQ(r.slots[0], (Bytes{'F', 0}));
  EXPECT_EQ(r.slots[1], (Bytes{'S', 'S', 0}));
  EXPECT_EQ(r.slots[2][0], 'A');
  EXPECT_EQ(r.slots[2][43], 'C');
  EXPECT_EQ(r.slots[2][86], 0);
  EXPECT_EQ(r.slots[3].size(), 6u);
  EXPECT_STREQ(out.v[0], "a1");
  EXPECT_STREQ(out.v[1], "c1");
  EXPECT_EQ(out.v[2], keep);  // not a delivered field: untouched
  EXPECT_STREQ(out.v[2], "old");
}

TEST_F(FieldsRecord, ReadingSurvivesRepliesThatDoNotFitTheirBuffers) {
  CacheTable({Def("A", 'C', ' ', 3), Def("B", 'C', 'N', 4)});
  // The reply claims wider fields than were sent and fills the area without any zero byte.
  Bytes wide = DefList({Def("A", 'C', ' ', 7), Def("B", 'C', 'N', 4), Def("C", 'C', ' ', 9)});
  ServeArea(peer, Opcode("MatGetFields"), 1, {{0, "xxxxxxxxx"}}, wide);
  Values out;
  ASSERT_EQ(ZDB_MatGetFields("*", out.v), 1000);
  EXPECT_STREQ(out.v[0], "xxx");  // cut to the room its buffer was given
  EXPECT_STREQ(out.v[1], "x");    // offset 8: the area's last byte, read no further
  EXPECT_EQ(out.v[2], nullptr);   // the reply's third field was never sent
}

TEST_F(FieldsRecord, ReadingWithoutDefinitionsStillSendsAndTouchesNothing) {
  ServeDefinitions(peer, {});
  Values out;
  char* keep = static_cast<char*>(std::malloc(1));
  *keep = 0;
  out.v[0] = keep;
  ASSERT_EQ(ZDB_MatGetFields("X", out.v), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("InfoFields"), Opcode("MatGetFields")}));
  EXPECT_TRUE(Last().slots[1].empty());
  EXPECT_EQ(out.v[0], keep);

  // A lookup the cache refuses sends nothing and changes nothing.
  CacheTable({Def("A", 'C', ' ', 2)});
  peer.ClearRecords();
  EXPECT_EQ(ZDB_MatGetFields("a", out.v), 2013);
  EXPECT_EQ(ZDB_PutWrite("Z", out.v), 2013);
  EXPECT_TRUE(peer.opcodes().empty());
  EXPECT_EQ(out.v[0], keep);
  // A failed value request leaves every delivered element an empty text.
  peer.OnOpcode(Opcode("MatGetFields"), [](const Request&, PeerConnection& c) {
    c.Close();
    return false;
  });
  EXPECT_EQ(ZDB_MatGetFields("A", out.v), 2001);
  ASSERT_NE(out.v[0], nullptr);
  EXPECT_STREQ(out.v[0], "");
}

TEST_F(FieldsRecord, WritingLaysOutValuesCutToTheirWidths) {
  CacheTable({Def("NAME", 'C', ' ', 4), Def("NOTE", 'C', 'B', 2), Def("QTY", 'C', 'N', 3)});
  const char* values[] = {"toolong", "", "12"};
  ASSERT_EQ(ZDB_PutWrite("*", const_cast<char**>(values)), 1000);
  Request r = Last();
  EXPECT_EQ(r.header.opcode, Opcode("PutWrite"));
  EXPECT_EQ(r.header.flags, 0);
  EXPECT_EQ(wire::GetU32(&r.slots[0][43 + 35]), 255u);
  Bytes area(5 + 256 + 4, 0);
  std::memcpy(&area[0], "tool", 4);
  std::memcpy(&area[261], "12", 2);
  EXPECT_EQ(r.slots[1], area);
  EXPECT_STREQ(values[0], "toolong");

  ASSERT_EQ(ZDB_MatPutFields("QTY,NAME", const_cast<char**>(values)), 1000);
  r = Last();
  EXPECT_EQ(r.header.opcode, Opcode("MatPutFields"));
  EXPECT_EQ(r.slots[0][0], 'Q');
  EXPECT_EQ(r.slots[1], (Bytes{'t', 'o', 'o', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("PutWrite"), Opcode("MatPutFields")}));
}

TEST_F(FieldsRecord, WritingMarksTheDefinitionsAskedOfTheServer) {
  Bytes seen;
  const Bytes defs = DefList({Def("A", 'C', ' ', 3)});
  peer.OnOpcode(Opcode("InfoFields"), [&seen, defs](const Request& req, PeerConnection& c) {
    seen = req.slots[1];
    return ReplyWithSlot(req, c, 1, defs);
  });
  const char* values[] = {"abc"};
  const char list[] = "A";
  ASSERT_EQ(ZDB_MatPutFields(list, const_cast<char**>(values)), 1000);
  EXPECT_EQ(peer.opcodes(), (Ops{Opcode("InfoFields"), Opcode("MatPutFields")}));
  ASSERT_EQ(seen.size(), 12900u);
  EXPECT_EQ(seen[0], '#');
  EXPECT_EQ(seen[1], 0);
  EXPECT_EQ(Last().slots[1], (Bytes{'a', 'b', 'c', 0}));
}

}  // namespace
}  // namespace zdb::test
