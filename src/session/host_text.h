// The host text that ZDB_SelHost, the probe and the stop take: a host name or dotted address,
// optionally followed by a colon and a port number.
#pragma once

#include <cstdint>
#include <string>

namespace zdb {

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
