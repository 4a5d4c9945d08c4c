#include "catalog/export_import.h"

#include "catalog/catalog_members.h"
#include "session/request_table.h"
#include "session/stream_paths.h"

namespace zdb::catalog {
namespace {

// Runs a member whose exchange moves files. A local path longer than a file name may be is
// refused before anything is sent.
int32_t RunWithFiles(Session& s, const RequestSpec& row, std::initializer_list<ArgValue> args,
                     const char* upload, const char* download) {
  if ((upload && !FitsFileName(upload)) || (download && !FitsFileName(download)))
    return kErrArgument;
  return ExecuteRequest(s, row, args, nullptr, {upload ? upload : "", download ? download : ""});
}

}  // namespace

int32_t ExportDB(Session& s, const char* first, const char* second, const char* localPath) {
  if (localPath == nullptr || localPath[0] == '\0') return kErrArgument;
  return RunWithFiles(s, kMember<MemberIndex("Z_ExportDB")>, {first, second, localPath}, nullptr,
                      localPath);
}

int32_t ImportDB(Session& s, const char* first, const char* second, const char* sendPath,
                 const char* receivePath) {
  if (sendPath == nullptr || receivePath == nullptr) return kErrArgument;
  return RunWithFiles(s, kMember<MemberIndex("Z_ImportDB")>, {first, second, sendPath, receivePath},
                      sendPath, receivePath);
}

}  // namespace zdb::catalog
