// The opcode table: for every request the slots it expects, what it needs of the session, and
// the handler that gives it meaning. One executor reads, checks, runs and answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "conn.h"
#include "state.h"
#include "wire/catalogue.h"

namespace zdbd {

enum class Need : uint8_t {
  kNothing,  // works without a session
  kSession,  // a live session
  kRead,     // read privilege on the selected table
  kWrite,    // write privilege on the selected table
  kDefine,   // define privilege on the selected database
  kAdmin,    // an administrator (or no users defined yet)
};

struct Call {
  Server& server;
  Conn& conn;
  Request& req;
  std::shared_ptr<ServerSession> session;
  uint32_t replyHandle = 0;
  bool closeAfter = false;
  bool streamsDone = false;  // the handler ran the file and record streams itself
};

using Handler = int32_t (*)(Call&);

// A row of the table: the operation's kind, opcode, name and slot shapes come from the
// protocol catalogue; what the request needs and who answers it are zdbd's own.
struct OpRow {
  constexpr OpRow(const zdb::wire::Operation& op, Need n, Handler h)
      : kind(op.Kind()),
        opcode(op.opcode),
        name(op.name.data()),
        slots(op.slots.data()),
        need(n),
        handler(h) {}
  uint8_t kind;
  uint32_t opcode;
  const char* name;
  // The catalogue's slot shapes: T text (at least one byte), P a password text, * any length,
  // a number: exactly that many bytes. A leading '>' means "at least these slots".
  const char* slots;
  Need need;
  Handler handler;
};

const OpRow* FindOp(uint8_t kind, uint32_t opcode);
bool SlotsMatch(std::string_view rule, const Request& r);
// Every row of the table, for the protocol document and its test.
const OpRow* OpTable(size_t* count);

// Runs one request and writes its reply; false when the connection must close afterwards.
bool Dispatch(Server& server, Conn& conn, Request& req);

}  // namespace zdbd
