// The listening side of zdbd: the TCP and UDP sockets on one port, one thread per connection,
// idle-session expiry, and an orderly stop on a signal or an accepted stop datagram.
#pragma once

#include "state.h"

namespace zdbd {

// Runs until stopped; returns the process exit code.
int RunServer(Server& server);

}  // namespace zdbd
