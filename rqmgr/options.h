// The command line of qlmrqmgr.
//
//   qlmrqmgr              serve the run directory (QLM_RUNDIR or the application's
//                         own); an application starts it this way
//   qlmrqmgr --service    the same, as a service: a client's close (the shutdown
//                         request) does not end it, nor the end of the application
//                         that started it; SIGTERM, SIGINT and SIGHUP do
//   qlmrqmgr --help | --version
#pragma once
#include <cstdio>
#include <string>

namespace qlm::rqmgr {

struct ServerOptions {
  enum Action { Serve, Help, Version, Wrong } action = Serve;
  bool service = false;
  std::string wrong;  // the argument not understood
};

ServerOptions ParseOptions(int argc, char **argv);
void PrintUsage(std::FILE *out);
void PrintVersion(std::FILE *out);

}  // namespace qlm::rqmgr
