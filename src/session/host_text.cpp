#include "session/host_text.h"

#include <cctype>
#include <cstdlib>

#include "platform/platform.h"

namespace zdb {

HostText SplitHostText(const char* host) {
  HostText t;
  t.name = host;
  const size_t colon = t.name.find(':');
  if (colon != std::string::npos) {
    t.port = static_cast<uint32_t>(std::atoi(t.name.c_str() + colon + 1));
    t.name.resize(colon);
  }
  return t;
}

bool ResolveHostName(const std::string& name, uint32_t* address) {
  if (!name.empty() && std::isalpha(static_cast<unsigned char>(name[0])))
    return platform::ResolveName(name.c_str(), address);
  *address = platform::ParseDotted(name.c_str());
  return true;
}

}  // namespace zdb
