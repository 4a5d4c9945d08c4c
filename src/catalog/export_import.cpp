#include "catalog/export_import.h"

#include <cstring>

#include "catalog/catalog_members.h"
#include "session/request_table.h"
#include "session/stream_paths.h"

namespace zdb::catalog {
namespace {

// Runs a member whose exchange moves files. Local paths go into fixed fields of the Session, so
// one that does not fit is refused before anything is sent. The names are set before the
// executor runs, as it exchanges right after filling the slots; a request that never reached
// its exchange leaves the Session's names as they were.
int32_t RunWithFiles(Session& s, const RequestSpec& row, std::initializer_list<ArgValue> args,
                     const char* upload, const char* download) {
  if ((upload && !FitsFileName(upload)) || (download && !FitsFileName(download)))
    return kErrArgument;
  char savedUpload[kFileNameSize];
  char savedDownload[kFileNameSize];
  std::memcpy(savedUpload, s.uploadFileName, kFileNameSize);
  std::memcpy(savedDownload, s.downloadFileName, kFileNameSize);
  if (upload) CopyFileName(s.uploadFileName, upload);
  if (download) CopyFileName(s.downloadFileName, download);
  RequestScratch scratch;
  const int32_t r = ExecuteRequest(s, row, args, &scratch);
  if (!scratch.exchanged) {
    std::memcpy(s.uploadFileName, savedUpload, kFileNameSize);
    std::memcpy(s.downloadFileName, savedDownload, kFileNameSize);
  }
  return r;
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
