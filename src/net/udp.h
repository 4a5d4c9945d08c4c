// The host text of a server and short UDP exchanges with a server's port: the probe (is a server
// there?), discovery (which servers answer on the local networks?) and the stop. Each call uses a
// datagram socket of its own and never logs in; the Connection only keeps the socket error number.
#pragma once

#include <cstdint>
#include <string>

#include "net/connection.h"
#include "wire/control.h"

namespace zdb {

inline constexpr int kUdpWaitMs = 2000;
inline constexpr size_t kServerEntryMax = 255;

// 2600 answered, 2601 silent for 2 seconds, 2001 bad or unresolvable host text, 0 a socket
// failure (its number in s.lastSocketError).
int32_t ProbeServer(Connection& s, const char* host);

// 2606 stopped, 2605 acknowledged but still answering, 2601 no answer or no acknowledgement,
// 2001 bad host text, 0 a socket failure.
int32_t StopServer(Connection& s, const char* host);

// Fills list[0..] with one malloc'd text per answering server and returns their number; frees
// the texts an earlier call left in the first `max` entries. 0 also means a socket failure.
int32_t DiscoverServers(Connection& s, char** list, int32_t max, int32_t port);

// The address discovery sends to for a local address: a.255.255.255 below 128, a.b.255.255
// up to 191, a.b.c.255 above (host byte order).
uint32_t ClassfulBroadcast(uint32_t address);

// One server list entry: "text,address,001-00042,07", cut to kServerEntryMax characters.
std::string FormatServerEntry(const wire::DiscoveryInfo& info, uint32_t fromAddress);

// The host text that ZDB_SelHost, the probe and the stop take: a host name or dotted address,
// optionally followed by a colon and a port number.

struct HostText {
  std::string name;      // the text before the first ':'
  uint32_t port = 2500;  // the decimal number after it, read with atoi's rules
};

// Splits at the first ':'. The caller has checked that the text is present and its length.
HostText SplitHostText(const char* host);

// A name that starts with a letter is looked up in the host database (false when that fails);
// anything else is read as a dotted-decimal address, and an unreadable one is not rejected here.
bool ResolveHostName(const std::string& name, uint32_t* address);

}  // namespace zdb
