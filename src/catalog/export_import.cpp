#include "catalog/export_import.h"

#include <array>
#include <cstring>
#include <string>

#include "session/stream_paths.h"
#include "wire/frame.h"

namespace zdb {
namespace {

// The layout of a file-moving member: every argument a text slot in argument order; which of
// them name the local files of the streams (-1: none).
struct FileMember {
  uint16_t kindFlags;
  uint32_t opcode;
  int8_t textCount;
  int upload;
  int download;
};

constexpr FileMember kExportDB{wire::kExportKind, 88, 3, -1, 2};
constexpr FileMember kImportDB{wire::kImportKind, 89, 4, 2, 3};

int32_t RunFileMember(Session& s, const FileMember& m, const std::array<const char*, 4>& texts) {
  // Local paths go into fixed fields of the Session: refuse what does not fit before sending.
  for (int i : {m.upload, m.download}) {
    if (i >= 0 && !FitsFileName(texts[static_cast<size_t>(i)])) return kErrArgument;
  }
  if (s.PrepareRequest(m.kindFlags, m.opcode, m.textCount) != kOk) return s.lastResult;
  // The reply is a bare status, so the slots are only read; private copies keep the caller's
  // texts const all the same. A missing text travels as an empty one.
  std::array<std::string, 4> copies;
  for (int i = 0; i < m.textCount; ++i) {
    const auto k = static_cast<size_t>(i);
    copies[k] = texts[k] ? texts[k] : "";
    s.SetSlot(i, static_cast<uint32_t>(copies[k].size() + 1), copies[k].data());
  }
  if (m.upload >= 0) CopyFileName(s.uploadFileName, texts[static_cast<size_t>(m.upload)]);
  if (m.download >= 0) CopyFileName(s.downloadFileName, texts[static_cast<size_t>(m.download)]);
  s.Exchange();
  return s.lastResult;
}

}  // namespace

int32_t ExportDatabase(Session& s, const char* first, const char* second, const char* localPath) {
  if (localPath == nullptr || localPath[0] == '\0') return kErrArgument;
  return RunFileMember(s, kExportDB, {first, second, localPath, nullptr});
}

int32_t ImportDatabase(Session& s, const char* first, const char* second, const char* sendPath,
                       const char* receivePath) {
  return RunFileMember(s, kImportDB, {first, second, sendPath, receivePath});
}

}  // namespace zdb
