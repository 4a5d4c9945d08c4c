#include "requests/sql_run.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "net/buffered_file.h"
#include "net/request.h"
#include "session/registry.h"
#include "wire/frame.h"
#include "wire/le.h"

namespace zdb {
namespace {

// A temporary file of one run: made with a unique, unguessable name and removed when the run
// leaves, whichever way it leaves.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!name_.empty()) platform::RemoveFile(name_.c_str());
  }

  // False when no name can be made or the name would not fit a file-name field.
  bool Make(const char* prefix) {
    if (!platform::MakeTempFile(platform::TempDirectory(), prefix, &name_)) {
      name_.clear();
      return false;
    }
    return FitsFileName(name_.c_str());
  }
  const char* name() const { return name_.c_str(); }

 private:
  std::string name_;
};

bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

// Reads the digits of a reference whose "&" has been taken. A number beyond the range of a
// 32-bit integer can name no item and gives 0, which no lookup resolves.
int32_t ReadReferenceNumber(BufferedFileReader& in) {
  int64_t n = 0;
  bool tooLarge = false;
  while (IsDigit(in.Peek())) {
    n = n * 10 + (in.Get() - '0');
    if (n > INT32_MAX) {
      tooLarge = true;
      n = 0;
    }
  }
  return tooLarge ? 0 : static_cast<int32_t>(n);
}

bool WriteInlineScript(const char* script, const TempFile& file) {
  platform::File out;
  return out.Create(file.name()) && out.Write(script, std::strlen(script) + 1);
}

}  // namespace

int32_t LookupScriptParameter(int32_t number, const char* parameters, char* value) {
  if (number == 0 || parameters == nullptr || value == nullptr) return kErrArgument;
  std::snprintf(value, kScriptValueSize, "&%d=", number);
  const char* at = std::strstr(parameters, value);
  if (at == nullptr) return kErrArgument;
  at += std::strlen(value);
  const char* end = std::strchr(at, ';');
  const size_t length = end ? static_cast<size_t>(end - at) : std::strlen(at);
  if (length >= kScriptValueSize) return kErrArgument;
  std::memcpy(value, at, length);
  value[length] = '\0';
  return 0;
}

int32_t ConvertScript(platform::File& in, platform::File& out, const char* parameters) {
  BufferedFileReader reader(in);
  BufferedFileWriter writer(out);
  if (!reader.ok() || !writer.ok()) return kErrNoMemory;
  char value[kScriptValueSize];
  for (int c = reader.Get(); c >= 0; c = reader.Get()) {
    if (c != '&' || !IsDigit(reader.Peek())) {
      writer.Put(static_cast<uint8_t>(c));
      continue;
    }
    const int32_t number = ReadReferenceNumber(reader);
    const int ending = reader.Get();
    if (ending == BufferedFileReader::kError) return kErrTempFile;
    if (LookupScriptParameter(number, parameters, value) != 0) return kErrArgument;
    writer.Append(reinterpret_cast<const uint8_t*>(value), std::strlen(value) + 1);
    if (ending > 0) writer.Put(static_cast<uint8_t>(ending));
  }
  if (reader.Peek() == BufferedFileReader::kError) return kErrTempFile;
  return writer.Flush() ? 0 : kErrTempFile;
}

int32_t RunScriptFile(Session& s, const char* scriptFile, const char* outputFile,
                      int32_t runValue) {
  if (!FitsFileName(scriptFile) || !FitsFileName(outputFile)) return kErrArgument;
  char script[kFileNameSize];
  CopyFileName(script, scriptFile);
  Request request(wire::Op("SqlRun"), 3);
  if (s.PrepareRequest(request) != kOk) return s.lastResult;
  std::string output(outputFile);
  uint8_t run[4];
  wire::PutI32(run, runValue);
  request.SetSlot(0, static_cast<uint32_t>(std::strlen(script) + 1), script);
  request.SetSlot(1, static_cast<uint32_t>(output.size() + 1), output.data());
  request.SetSlot(2, sizeof run, run);
  request.uploadPath = script;
  request.downloadPath = outputFile;
  s.Exchange(request);
  return s.lastResult;
}

int32_t RunScriptFile(const char* scriptFile, const char* outputFile, int32_t runValue) {
  Session* s = FindSessionForThread();
  if (s == nullptr) return kErrComm;
  return RunScriptFile(*s, scriptFile, outputFile, runValue);
}

int32_t SqlRun(const char* script, const char* outputFile, const char* parameters,
               int32_t runValue) {
  if (script == nullptr || outputFile == nullptr) return kErrScriptArguments;
  const bool isInline = script[0] == '#';
  if (!FitsFileName(outputFile) || (!isInline && !FitsFileName(script))) return kErrArgument;
  // Declared before anything is made, so that every return below removes what was made.
  TempFile inlineFile;
  TempFile converted;
  if (isInline && (!inlineFile.Make("scr") || !WriteInlineScript(script, inlineFile)))
    return kErrTempFile;
  if (!converted.Make("con")) return kErrTempFile;
  {
    platform::File in;
    platform::File out;
    if (!in.OpenRead(isInline ? inlineFile.name() : script) || !out.Create(converted.name()))
      return kErrTempFile;
    const int32_t r = ConvertScript(in, out, parameters);
    if (r != 0) return r;
  }
  return RunScriptFile(converted.name(), outputFile, runValue);
}

}  // namespace zdb
