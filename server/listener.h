// The listening side of zdbd: the TCP and UDP sockets on one port, one thread per connection,
// idle-session expiry, and an orderly stop on a signal or an accepted stop datagram.
#pragma once

#include "state.h"

namespace zdbd {

// Runs until stopped; returns the process exit code. A start that fails (the port taken, the
// data directory unusable, the log or the metrics address unusable) says why, leaves nothing
// behind and returns 1.
int RunServer(Server& server);

// Adds the administrator options.initAdmin with `password` to the data directory's user
// catalog (made when missing) and returns the exit code. The server must not be running.
int InitAdmin(const Options& options, const std::string& password);

// Whether the data directory can be used, or made (its parent writable); false with the
// system's reason. `exists` tells whether it is there already.
bool CheckDataDir(const std::string& dir, bool* exists, std::string* reason);

}  // namespace zdbd
