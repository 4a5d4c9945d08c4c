// Walks a client through host selection, login, the version check, an error text and the
// logout, once with a connection per request and once with one held connection. It runs
// against a scripted stand-in server on 127.0.0.1 that lives inside this program.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/scripted_peer.h"
#include "wire/le.h"
#include "zdb_api.h"

namespace {

using zdb::test::PeerConnection;
using zdb::test::Request;
using zdb::test::ScriptedPeer;

int failures = 0;

void Step(const char* what, int32_t result, int32_t expected = ZDB_OK) {
  std::printf("  %-44s -> %d%s\n", what, result, result == expected ? "" : "  (unexpected)");
  if (result != expected) ++failures;
}

// The stand-in answers the error-text request with a short text in the server character set.
void ScriptErrorTexts(ScriptedPeer& peer) {
  peer.OnOpcode(120, [](const Request& r, PeerConnection& c) {
    zdb::test::Bytes reply = PeerConnection::FullReply(r, 1000, r.header.sessionHandle);
    const std::string text = "code " + std::to_string(r.SlotU32(0)) + ": communication failure";
    std::memset(reply.data() + 165, 0, 129);
    std::memcpy(reply.data() + 165, text.c_str(), text.size());
    return c.Write(reply);
  });
}

void Walk(ScriptedPeer& peer, bool persistent) {
  std::printf("%s connection mode:\n", persistent ? "Persistent" : "Default");
  const int before = peer.connections();
  Step(("ZDB_SelHost(\"" + peer.host() + "\")").c_str(), ZDB_SelHost(peer.host().c_str()));
  char host[257] = {};
  Step("ZDB_GetHost", ZDB_GetHost(host));
  std::printf("    host: %s\n", host);
  if (persistent) Step("ZDB_Connection(1)", ZDB_Connection(1));
  Step("ZDB_Init(\"demo\", \"secret\")", ZDB_Init("demo", "secret"));
  uint32_t version = 0;
  Step("ZDB_GetVersion", ZDB_GetVersion(&version));
  std::printf("    server version: 0x%04X\n", version);
  char text[129] = {};
  Step("ZDB_GetError(2001)", ZDB_GetError(2001, text));
  std::printf("    text: %s\n", text);
  Step("ZDB_Finish", ZDB_Finish());
  char socketText[64] = {};
  std::printf("  %-44s -> %d \"%s\"\n", "ZDB_TCPError", ZDB_TCPError(socketText), socketText);
  std::printf("    TCP connections used: %d\n", peer.connections() - before);
}

}  // namespace

int main() {
  std::printf("Running against a scripted stand-in server on 127.0.0.1 (not a real ZDB server).\n");
  ScriptedPeer peer;
  ScriptErrorTexts(peer);
  Walk(peer, false);
  Walk(peer, true);
  std::printf("Requests the stand-in received (opcodes):");
  for (uint32_t op : peer.opcodes()) std::printf(" %u", op);
  std::printf("\n%s\n", failures == 0 ? "Walkthrough complete." : "Walkthrough had failures.");
  return failures == 0 ? 0 : 1;
}
