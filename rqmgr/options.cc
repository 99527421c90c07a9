// The command line of qlmrqmgr (options.h).
#include "options.h"

#include <cstring>

#include "qlmc32.h"

namespace qlm::rqmgr {

ServerOptions ParseOptions(int argc, char **argv) {
  ServerOptions o;
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      o.action = ServerOptions::Help;
    } else if (std::strcmp(a, "--version") == 0 || std::strcmp(a, "-V") == 0) {
      if (o.action != ServerOptions::Help) o.action = ServerOptions::Version;
    } else if (std::strcmp(a, "--service") == 0) {
      o.service = true;
    } else {
      o.action = ServerOptions::Wrong;
      o.wrong = a;
      return o;
    }
  }
  return o;
}

void PrintUsage(std::FILE *out) {
  std::fputs(
      "Usage: qlmrqmgr [--service]\n"
      "       qlmrqmgr --help | --version\n"
      "\n"
      "The Quillmar Request Manager: keeps the data of an installation and answers the\n"
      "requests of the applications that use libqlmc32. Applications start it themselves\n"
      "(QlmOpenCInterface) and end it (QlmCloseCInterface); start it by hand to share one\n"
      "server between applications, or to see why it does not start.\n"
      "\n"
      "Options:\n"
      "  --service   run until SIGTERM, SIGINT or SIGHUP: the closes of clients do not\n"
      "              end it (the systemd user unit qlmrqmgr.service runs it so)\n"
      "  --help      this text\n"
      "  --version   the version\n"
      "\n"
      "Environment:\n"
      "  QLM_ROOTDIR    the installation root (else the first line of /etc/quillmar/6.1/RootDir)\n"
      "  QLM_RUNDIR     the run directory to serve; applications that set the same one share\n"
      "                 this server\n"
      "  QLM_DATA_HOME  where data/ and exchange/ live (else [Data] Home= of quillmar.ini,\n"
      "                 else the root when it is yours, else ~/.local/share/quillmar/<root>)\n"
      "  QLM_STORE      sqlite, or postgresql:<connection string>\n"
      "  QLM_SPIN_US    how long it looks for the next request before it sleeps, in\n"
      "                 microseconds (default 30; 0: it sleeps at once)\n"
      "\n"
      "Log: stderr and <data home>/data/qlmrqmgr.log; failures before the data directory\n"
      "is usable also go to ~/.local/state/quillmar/qlmrqmgr.log ($XDG_STATE_HOME).\n"
      "Exit status: 0 after a normal end, 1 when the start failed, 2 on a wrong argument.\n"
      "See qlmrqmgr(1), qlm(1) and docs/server.md.\n",
      out);
}

void PrintVersion(std::FILE *out) { std::fprintf(out, "qlmrqmgr (Quillmar Request Manager) %s\n", QLMC32_VERSION_STRING); }

}  // namespace qlm::rqmgr
