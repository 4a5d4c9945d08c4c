// zdbd: a ZDB server over SQLite for development, demonstrations and tests.
#include <cstdio>
#include <iostream>
#include <string>

#include "listener.h"
#include "options.h"

int main(int argc, char** argv) {
  zdbd::Server server;
  std::string error;
  if (!zdbd::ParseOptions(argc, argv, &server.options, &error)) {
    std::fprintf(stderr, "zdbd: %s\n", error.c_str());
    return 2;
  }
  if (server.options.help) {
    std::fputs(zdbd::Usage().c_str(), stdout);
    return 0;
  }
  if (server.options.version) {
    std::printf("%s\n", zdbd::VersionText().c_str());
    return 0;
  }
  if (!server.options.initAdmin.empty()) {
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return zdbd::InitAdmin(server.options, password);
  }
  return zdbd::RunServer(server);
}
