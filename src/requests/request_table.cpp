#include "requests/request_table.h"

#include <cstring>
#include <vector>

#include "net/charset.h"
#include "wire/le.h"

namespace zdb {

uint32_t RequestScratch::ValueAt(int i) const {
  return wire::GetU32(values[static_cast<size_t>(i)].data());
}

namespace {

// The byte length of a sized slot, or -1 when the count cannot describe caller memory.
int64_t SizedLength(const SlotRule& rule, const ArgValue* args, size_t argCount) {
  if (rule.sizeArg >= argCount) return -1;
  const int64_t count = args[rule.sizeArg].value;
  if (count < 0) return -1;
  const int64_t length = count * static_cast<int64_t>(rule.width);
  return length > INT32_MAX ? -1 : length;
}

bool ArgumentsUsable(const RequestSpec& spec, const ArgValue* args, size_t argCount) {
  for (uint8_t i = 0; i < spec.slotCount; ++i) {
    const SlotRule& rule = spec.slots[i];
    if (rule.kind == ArgKind::kNone) continue;
    if (rule.arg >= argCount) return false;
    const bool isText = rule.kind == ArgKind::kText || rule.kind == ArgKind::kServerText;
    if (isText && args[rule.arg].ptr == nullptr) return false;
    if (rule.kind == ArgKind::kSized && SizedLength(rule, args, argCount) < 0) return false;
  }
  return true;
}

}  // namespace

int32_t ExecuteRequest(Session& s, const RequestSpec& spec, std::initializer_list<ArgValue> list,
                       RequestScratch* scratch, const StreamPaths& paths) {
  const ArgValue* args = list.begin();
  const size_t argCount = list.size();
  if (!ArgumentsUsable(spec, args, argCount)) return kErrArgument;
  Request request(spec.kindFlags, spec.opcode, static_cast<int8_t>(spec.slotCount));
  if (s.PrepareRequest(request) != kOk) return s.lastResult;
  request.uploadPath = paths.upload;
  request.downloadPath = paths.download;

  RequestScratch local;
  RequestScratch& own = scratch ? *scratch : local;
  for (uint8_t i = 0; i < spec.slotCount; ++i) {
    const SlotRule& rule = spec.slots[i];
    const ArgValue& a = args[rule.arg];
    void* buffer = const_cast<void*>(a.ptr);
    switch (rule.kind) {
      case ArgKind::kNone:
        request.SetSlot(i, 0, nullptr);
        break;
      case ArgKind::kText:
        request.SetSlot(i, static_cast<uint32_t>(std::strlen(static_cast<const char*>(a.ptr)) + 1),
                        buffer);
        break;
      case ArgKind::kServerText:
        own.texts[i] = ToServerText(static_cast<const char*>(a.ptr));
        request.SetSlot(i, static_cast<uint32_t>(own.texts[i].size()), own.texts[i].data());
        break;
      case ArgKind::kValue:
        wire::PutI32(own.values[i].data(), a.value);
        request.SetSlot(i, 4, own.values[i].data());
        break;
      case ArgKind::kValue16:
        wire::PutU16(own.values[i].data(), static_cast<uint16_t>(a.value & 0xFFFF));
        request.SetSlot(i, 2, own.values[i].data());
        break;
      case ArgKind::kCounter:
        request.SetSlot(i, 4, buffer);
        break;
      case ArgKind::kFixed:
        request.SetSlot(i, rule.width, buffer);
        break;
      case ArgKind::kWildcard:
        if (buffer) {
          request.SetSlot(i, rule.width, buffer);
        } else {
          own.values[i][0] = '*';
          request.SetSlot(i, 1, own.values[i].data());
        }
        break;
      case ArgKind::kSized:
        request.SetSlot(i, static_cast<uint32_t>(SizedLength(rule, args, argCount)), buffer);
        break;
    }
  }
  own.exchanged = true;
  s.Exchange(request);
  return s.lastResult;
}

}  // namespace zdb
