// zdbd: a ZDB server over SQLite for development, demonstrations and tests.
#include <cstdio>

#include "listener.h"
#include "options.h"

int main(int argc, char** argv) {
  zdbd::Server server;
  std::string error;
  if (!zdbd::ParseOptions(argc, argv, &server.options, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  return zdbd::RunServer(server);
}
