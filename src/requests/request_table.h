// Families of like requests are data: each member is one RequestSpec row (kind and flags,
// opcode, and how each argument becomes a ParamSlot) run by one executor. A reader finds a
// member's whole wire layout in its row.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "session/session.h"
#include "wire/catalogue.h"

namespace zdb {

enum class ArgKind : uint8_t {
  kNone,
  kText,        // caller's zero-terminated text, sent with its zero
  kServerText,  // text sent as a copy in the server character set
  kValue,       // 32-bit value sent from a private little-endian copy
  kValue16,     // low 16 bits of a value, private copy, 2 bytes
  kCounter,     // pointer to the caller's 32-bit integer, 4 bytes
  kFixed,       // caller memory of a width fixed by the member
  kSized,       // caller memory whose length another argument gives (count x width)
  kWildcard,    // caller memory of a fixed width, or the one byte "*" when there is none
};

struct SlotRule {
  ArgKind kind = ArgKind::kNone;
  uint8_t arg = 0;      // which argument of the member fills this slot (0-based)
  uint32_t width = 0;   // kFixed: bytes; kSized: bytes per counted element (1: a byte length)
  uint8_t sizeArg = 0;  // kSized: the value argument holding the count or byte length
};

constexpr SlotRule Text(uint8_t arg) {
  return {ArgKind::kText, arg, 0, 0};
}
constexpr SlotRule ServerText(uint8_t arg) {
  return {ArgKind::kServerText, arg, 0, 0};
}
constexpr SlotRule Value(uint8_t arg) {
  return {ArgKind::kValue, arg, 4, 0};
}
constexpr SlotRule Value16(uint8_t arg) {
  return {ArgKind::kValue16, arg, 2, 0};
}
constexpr SlotRule Counter(uint8_t arg) {
  return {ArgKind::kCounter, arg, 4, 0};
}
constexpr SlotRule Fixed(uint8_t arg, uint32_t width) {
  return {ArgKind::kFixed, arg, width, 0};
}
constexpr SlotRule Wildcard(uint8_t arg, uint32_t width) {
  return {ArgKind::kWildcard, arg, width, 0};
}
constexpr SlotRule Sized(uint8_t arg, uint32_t width, uint8_t sizeArg) {
  return {ArgKind::kSized, arg, width, sizeArg};
}

// True when a rule fills a slot of this shape: texts go into text slots, values into 4-byte
// slots, a fixed width into a slot of that width or of any length.
constexpr bool RuleFitsShape(const SlotRule& rule, const wire::SlotShape& shape) {
  const bool any = shape.type == '*';
  const bool exactly = shape.type == '#';
  switch (rule.kind) {
    case ArgKind::kNone:
      return true;
    case ArgKind::kText:
    case ArgKind::kServerText:
      return shape.type == 'T' || shape.type == 'P';
    case ArgKind::kValue:
    case ArgKind::kCounter:
    case ArgKind::kValue16:
    case ArgKind::kFixed:
      return any || (exactly && shape.bytes == rule.width);
    case ArgKind::kSized:
    case ArgKind::kWildcard:
      return any;
  }
  return false;
}

// One request of the library: the operation it sends (kind, flags and opcode come from the
// protocol catalogue) and how each argument fills a slot. A row whose rules do not fit the
// operation's slot shapes does not build.
struct RequestSpec {
  const char* name;
  uint16_t kindFlags;
  uint32_t opcode;
  uint8_t slotCount;
  std::array<SlotRule, wire::kMaxSlots> slots;

  consteval RequestSpec(const char* exportName, const wire::Operation& op,
                        std::initializer_list<SlotRule> rules)
      : name(exportName),
        kindFlags(op.kindFlags),
        opcode(op.opcode),
        slotCount(static_cast<uint8_t>(rules.size())),
        slots{} {
    if (rules.size() > wire::kMaxSlots) throw "too many slots";
    if (op.OpenEnded() ? static_cast<int>(rules.size()) < op.SlotCount()
                       : static_cast<int>(rules.size()) != op.SlotCount())
      throw "the rules do not name the operation's slots";
    int i = 0;
    for (const SlotRule& rule : rules) {
      if (i < op.SlotCount() && !RuleFitsShape(rule, op.Slot(i)))
        throw "a rule does not fit its slot";
      slots[static_cast<size_t>(i++)] = rule;
    }
  }
};

// One argument of an exported function: a pointer or a 32-bit value.
struct ArgValue {
  const void* ptr = nullptr;
  int32_t value = 0;
  ArgValue(const void* p) : ptr(p) {}  // NOLINT: implicit by design, rows read like calls
  ArgValue(int32_t v) : value(v) {}    // NOLINT
  ArgValue(uint32_t v) : value(static_cast<int32_t>(v)) {}  // NOLINT
};

// What the executor made for one request: the private copies of value arguments (which carry
// the reply's bytes after a full reply) and the converted texts.
struct RequestScratch {
  std::array<std::array<uint8_t, 4>, wire::kMaxSlots> values{};
  std::array<std::string, wire::kMaxSlots> texts;
  bool exchanged = false;  // the request went to Exchange (whatever became of it)
  // The reply's 32-bit value in the private copy of slot i.
  uint32_t ValueAt(int i) const;
};

// The local files of a request that streams them.
struct StreamPaths {
  const char* upload = "";
  const char* download = "";
};

// Checks the arguments (a missing text is 2003, a negative or oversized count 2003; nothing is
// sent then), runs PrepareRequest, fills the slots, exchanges and returns the Session's
// lastResult.
int32_t ExecuteRequest(Session& s, const RequestSpec& spec, std::initializer_list<ArgValue> args,
                       RequestScratch* scratch = nullptr, const StreamPaths& paths = {});

}  // namespace zdb
