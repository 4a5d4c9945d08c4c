#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "db_copy.h"
#include "handlers.h"
#include "platform/platform.h"
#include "script_guard.h"
#include "status.h"
#include "storage.h"
#include "wire/file_block.h"
#include "wire/le.h"
#include "wire/script_row.h"

namespace zdbd {

namespace wire = zdb::wire;

namespace {

constexpr uint32_t kMaxScript = 16u << 20;

// Reads an uploaded file into `sink` (called per block). kOk; kFileTooLarge when the length is
// over `limit` (the bytes are read and dropped, so the connection stays in step); kMalformed
// when the stream cannot be kept in step (a negative length, a short or stalled stream), which
// ends the connection. A sink that fails is given nothing more while the rest is read and
// dropped; the caller tells why it failed.
template <typename Sink>
int32_t ReceiveUpload(Call& c, uint32_t limit, Sink sink) {
  uint8_t head[wire::kFileBlockHeaderSize];
  if (c.conn.ReadExact(head, sizeof head, c.conn.FrameTimeout()) != 1) return kMalformed;
  int32_t length = wire::DecodeFileBlockLength(head);
  if (length < 0) return kMalformed;
  bool tooLarge = static_cast<uint32_t>(length) > limit;
  if (tooLarge) Log("file stream of %d bytes refused: over %u", length, limit);
  bool sinking = !tooLarge;
  std::vector<uint8_t> block(wire::kFileBlockSize);
  for (uint32_t left = static_cast<uint32_t>(length); left > 0;) {
    size_t n = std::min<size_t>(left, block.size());
    if (c.conn.ReadExact(block.data(), n, c.conn.FrameTimeout()) != 1) return kMalformed;
    if (sinking) sinking = sink(block.data(), n);
    left -= static_cast<uint32_t>(n);
  }
  return tooLarge ? kFileTooLarge : kOk;
}

bool SendFileBytes(Call& c, const std::string& bytes) {
  uint8_t head[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(bytes.size()), head);
  return c.conn.WriteAll(head, sizeof head) && c.conn.WriteAll(bytes.data(), bytes.size());
}

bool SendFileAt(Call& c, const std::string& path) {
  zdb::platform::File f;
  if (!f.OpenRead(path.c_str())) return SendFileBytes(c, {});
  int64_t size = f.Size();
  if (size < 0 || size > INT32_MAX) return SendFileBytes(c, {});
  uint8_t head[wire::kFileBlockHeaderSize];
  wire::EncodeFileBlockHeader(static_cast<int32_t>(size), head);
  if (!c.conn.WriteAll(head, sizeof head)) return false;
  std::vector<uint8_t> block(wire::kFileBlockSize);
  for (int64_t left = size; left > 0;) {
    long n = f.Read(block.data(), static_cast<size_t>(std::min<int64_t>(left, block.size())));
    if (n <= 0) {
      // The file shrank under us: pad with zeros so the client still gets what was announced.
      std::fill(block.begin(), block.end(), 0);
      n = static_cast<long>(std::min<int64_t>(left, block.size()));
    }
    if (!c.conn.WriteAll(block.data(), static_cast<size_t>(n))) return false;
    left -= n;
  }
  return true;
}

bool SendRecord(Call& c, const std::string& record) {
  uint8_t len[4];
  wire::PutI32(len, static_cast<int32_t>(record.size()));
  return c.conn.WriteAll(len, 4) && c.conn.WriteAll(record.data(), record.size());
}

bool SendEndMark(Call& c) {
  return SendRecord(c, std::string(reinterpret_cast<const char*>(wire::kEndMark), 2));
}

// A script as the client sends it: an inline one opens with '#', and parameter values arrive
// each followed by a zero byte.
std::string CleanScript(const std::string& raw) {
  std::string s;
  for (char ch : raw)
    if (ch != '\0') s += ch;
  if (!s.empty() && s[0] == '#') s.erase(0, 1);
  return s;
}

std::string TempPath(Call& c, const char* what) {
  return c.server.data.Dir() + "/." + what + "-" + std::to_string(RandomHandle()) + ".tmp";
}

struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

int32_t CheckImport(const std::string& path, std::string* report, std::string* fullReason) {
  Db db;
  if (!db.Open(path, false)) {
    // Opening it turns it to WAL: a write, which a full disk refuses.
    *fullReason = db.FullReason();
    return db.ErrorCode() == SQLITE_FULL ? kDiskFull : kBadImport;
  }
  Stmt check(db, "PRAGMA quick_check");
  if (!check.Step() || check.Text(0) != "ok") return kBadImport;
  Stmt has(db, "SELECT count(*) FROM sqlite_master WHERE name IN ('zdb_tables','zdb_fields')");
  if (!has.Step() || has.Int(0) != 2) return kBadImport;
  auto tables = ListTables(db);
  *report += std::to_string(tables.size()) + " tables\n";
  for (const auto& t : tables)
    *report += "table " + t + ": " + std::to_string(RecordCount(db, t)) + " records, " +
               std::to_string(TableFields(db, t).size()) + " fields\n";
  return kOk;
}

// A script row is one line: values separated by tabs. A text escapes the bytes that would
// break the line apart (backslash, tab, newline, carriage return, zero) with a backslash; null
// is \N and a blob \x and its bytes in hex, neither of which an escaped text can start with.
// Numbers are in their shortest exact form. With bit 0 of the run value the rows are
// described: each statement's column names come first in a line that starts with \#, and
// every value starts with the letter of its storage class (N, I, R, T, B), so that a reader
// can tell the number 7 from the text "7".
constexpr uint32_t kDescribedRows = 1;
constexpr size_t kRowChunk = 64u << 10;

void AppendValue(const Value& v, bool described, std::string& out) {
  static constexpr char kClass[] = {'N', 'I', 'R', 'T', 'B'};
  if (described) out += kClass[v.kind];
  char number[32];
  switch (v.kind) {
    case Value::kNull:
      if (!described) out += "\\N";
      break;
    case Value::kInt:
      out.append(number, std::to_chars(number, number + sizeof number, v.i).ptr);
      break;
    case Value::kReal:
      out.append(number, std::to_chars(number, number + sizeof number, v.d).ptr);
      break;
    case Value::kText:
      wire::AppendRowEscaped(v.s, out);
      break;
    case Value::kBlob:
      if (!described) out += "\\x";
      wire::AppendRowHex(v.s, out);
      break;
  }
}

}  // namespace

int32_t HScript(Call& c) {
  c.streamsDone = true;
  std::string raw;
  int32_t rc = ReceiveUpload(c, kMaxScript, [&](const uint8_t* p, size_t n) {
    raw.append(reinterpret_cast<const char*>(p), n);
    return true;
  });
  if (rc == kMalformed) {
    c.closeAfter = true;
    return kMalformed;
  }
  Target t;
  if (rc == kOk) rc = SelectedDb(c, &t);
  bool sent = true;
  if (rc == kOk) {
    std::string script = CleanScript(raw);
    Db& db = *t.use->conn;
    bool hadTransaction = db.InTransaction();
    std::string refusal, sqlError;
    bool ran = false;
    {
      ScriptGuard guard(db, hadTransaction);
      const bool described = (c.req.U32(2) & kDescribedRows) != 0;
      // Records are gathered and sent in pieces of about 64 KiB: two sends for every row of a
      // large result cost more than running its query.
      std::string pending;
      const auto flush = [&] {
        sent = sent && c.conn.WriteAll(pending.data(), pending.size());
        pending.clear();
        return sent;
      };
      const auto record = [&](size_t start) {
        pending += '\n';
        wire::PutI32(reinterpret_cast<uint8_t*>(pending.data() + start),
                     static_cast<int32_t>(pending.size() - start - 4));
        return pending.size() < kRowChunk || flush();
      };
      const auto columns = [&](const std::vector<std::string>& names) {
        if (!described) return true;
        const size_t start = pending.size();
        pending.append(4, '\0');
        pending += "\\#";
        for (size_t i = 0; i < names.size(); ++i) {
          if (i) pending += '\t';
          wire::AppendRowEscaped(names[i], pending);
        }
        return record(start);
      };
      const auto row = [&](const std::vector<Value>& cells) {
        const size_t start = pending.size();
        pending.append(4, '\0');
        for (size_t i = 0; i < cells.size(); ++i) {
          if (i) pending += '\t';
          AppendValue(cells[i], described, pending);
        }
        return record(start);
      };
      if (db.Postgres())
        if (std::string why = TransactionStatementRefusal(script, guard.InTransaction());
            !why.empty())
          guard.Refuse(why);
      ran = guard.Ready() && guard.Refusal().empty() && db.RunScript(script, columns, row);
      if (!ran && db.Postgres() && db.ErrorCode() == kAuthCode)
        guard.Refuse("the script may read and write the database's tables only: " + db.Error());
      // The columns' types and checks are the field rules there: a value they refuse is the
      // script's value refused, as the guard's triggers answer it on SQLite.
      if (!ran && db.Postgres() && db.ErrorCode() == SQLITE_CONSTRAINT)
        guard.Refuse("a value breaks its field's rules: " + db.Error());
      flush();
      refusal = guard.Refusal();
      if (!guard.Ready()) refusal = "the script could not be guarded: " + db.Error();
      sqlError = db.Error();  // before the guard's own clean-up overwrites it
      // A transaction the script opened and left open would outlive it unseen by the session;
      // it ends before the guard's triggers go, or its rollback would bring them back.
      if (!hadTransaction && db.InTransaction()) {
        db.Exec("ROLLBACK");
        if (ran) refusal = "the script left a transaction open; its changes were rolled back";
        ran = false;
      }
    }
    if (!ran) {
      rc = refusal.empty() ? kSqlError : kScriptRefused;
      c.session->lastSqlError = refusal.empty() ? sqlError : refusal;
      Log("session %08X: SQL error: %s", c.session->handle, c.session->lastSqlError.c_str());
    }
  }
  if (!sent || !SendEndMark(c)) {
    Log("session %08X: script rows not taken by the client (it stopped reading or left), "
        "connection dropped",
        c.session->handle);
    c.closeAfter = true;
  }
  return rc;
}

int32_t HExport(Call& c) {
  c.streamsDone = true;
  std::string db = Trimmed(c.req.Text(0));
  if (db.empty()) db = c.session->selectedDb;
  int32_t rc = c.server.data.Exists(db) ? kOk : kDatabaseNotFound;
  TempFile snapshot;
  if (rc == kOk) {
    // A consistent copy, whatever other sessions are writing meanwhile.
    Db conn;
    snapshot.path = TempPath(c, "export");
    if (!c.server.shared.Flush(db)) {
      rc = kDiskFull;  // the answered changes that wait for space would not go along
      c.session->lastDiskFull = "answered changes of the database wait for space";
    } else if (Storage::Postgres()) {
      // The file is SQLite's whatever the engine: a copy of the schema in one snapshot.
      Db out;
      bool ok = conn.OpenDatabase(db, "", false) &&
                conn.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ") &&
                out.Open(snapshot.path, true) && out.Exec("PRAGMA journal_mode=DELETE") &&
                out.Exec("BEGIN") && CopyDatabase(conn, out) && out.Exec("COMMIT");
      conn.Exec("ROLLBACK");
      if (!ok) {
        rc = kInternal;
        Log("export of %s failed: %s / %s", db.c_str(), conn.Error().c_str(), out.Error().c_str());
      }
    } else if (!conn.Open(c.server.data.PathOf(db), false) ||
               !conn.Exec("VACUUM INTO '" + snapshot.path + "'")) {
      rc = conn.ErrorCode() == SQLITE_FULL ? kDiskFull : kInternal;
      c.session->lastDiskFull = conn.FullReason();
      Log("export of %s failed: %s", db.c_str(), conn.Error().c_str());
    }
  }
  // What could not be imported back is not exported either.
  std::error_code ec;
  if (rc == kOk && std::filesystem::file_size(snapshot.path, ec) > c.server.options.maxFile) {
    Log("export of %s refused: the copy is over --max-file (%u bytes)", db.c_str(),
        c.server.options.maxFile);
    rc = kFileTooLarge;
  }
  bool sent = rc == kOk ? SendFileAt(c, snapshot.path) : SendFileBytes(c, {});
  if (!sent) c.closeAfter = true;
  if (rc == kOk) Log("database %s exported", db.c_str());
  return rc;
}

int32_t HImport(Call& c) {
  c.streamsDone = true;
  std::string db = Trimmed(c.req.Text(0));
  std::string mode = Trimmed(c.req.Text(1));
  TempFile upload{TempPath(c, "import")};
  zdb::platform::File out;
  bool stored = out.Create(upload.path.c_str());
  int writeError = stored ? 0 : errno;
  int32_t rc = ReceiveUpload(c, c.server.options.maxFile, [&](const uint8_t* p, size_t n) {
    stored = out.Write(p, n);
    if (!stored) writeError = out.LastError();
    return stored;
  });
  out.Close();
  if (rc == kMalformed) {
    c.closeAfter = true;
    return kMalformed;
  }
  if (rc == kOk && !stored) {
    // Nothing of the upload is kept (TempFile removes it); the stream was read to its end.
    rc = writeError == ENOSPC || writeError == EDQUOT ? kDiskFull : kInternal;
    c.session->lastDiskFull = std::strerror(writeError);
    Log("import of %s: the upload could not be stored: %s", db.c_str(), std::strerror(writeError));
  }
  std::string report = "import of database " + db + "\n";
  if (rc == kOk && !IsValidDatabaseName(db)) rc = kBadDatabaseName;
  if (rc == kOk && c.server.data.Exists(db) && mode != "REPLACE") rc = kDatabaseExists;
  if (rc == kOk) rc = CheckImport(upload.path, &report, &c.session->lastDiskFull);
  if (rc == kOk && !c.server.shared.Close(db, &c.session->lastDiskFull)) {
    rc = kDiskFull;  // answered changes of the database wait for space: they are not replaced
  }
  if (rc == kOk && Storage::Postgres()) {
    rc = c.server.data.InstallCopy(db, upload.path, c.session->handle);
  } else if (rc == kOk) {
    rc = c.server.data.Install(db, upload.path, c.session->handle);
  }
  if (rc == kOk) upload.path.clear();
  report += rc == kOk ? "imported\n" : "refused: " + StatusText(rc) + "\n";
  if (!SendFileBytes(c, report)) c.closeAfter = true;
  Log("import of %s: %s", db.c_str(), StatusText(rc).c_str());
  return rc;
}

bool FinishStreams(Call& c) {
  uint8_t flags = c.req.header.flags;
  if (flags & 0x40) {
    int32_t rc =
        ReceiveUpload(c, c.server.options.maxFile, [](const uint8_t*, size_t) { return true; });
    if (rc == kMalformed) return false;
  }
  if ((flags & 0x20) && !SendFileBytes(c, {})) return false;
  if ((flags & 0x10) && !SendEndMark(c)) return false;
  return true;
}

}  // namespace zdbd
