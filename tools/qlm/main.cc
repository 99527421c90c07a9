// qlm: the administration command of a Quillmar installation (qlm.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qlm.h"
#include "qlmc32.h"

namespace qlm::admin {
namespace {

const Command kCommands[] = {
    {"init", "lay out an installation root",
     "Usage: qlm init [--server PROGRAM] [--errortexts FILE] [--ini FILE] ROOT\n"
     "\n"
     "Lays out the installation root ROOT: ROOT/bin/qlmrqmgr (a link to the Request\n"
     "Manager), ROOT/shared/errortxt.fil (a copy) and ROOT/quillmar.ini (a copy, kept when\n"
     "present). The defaults are the files beside this qlm (installed: <prefix>/libexec/\n"
     "quillmar/qlmrqmgr and <prefix>/share/quillmar; in a build tree: the built server\n"
     "and the source tree's data/). ROOT may hold at most 39 characters.\n",
     Init},
    {"doctor", "check an installation and say what is wrong and how to fix it",
     "Usage: qlm doctor\n"
     "\n"
     "Checks the installation root (QLM_ROOTDIR or /etc/quillmar/6.1/RootDir, or --root),\n"
     "its server program, error texts and quillmar.ini, this user's data home and data\n"
     "directory, the database, the base of the run directories, the Request Manager's log\n"
     "of failed starts, then starts a Request Manager in the foreground in a private run\n"
     "directory and opens the interface through the library. Each problem is named with what to do about it.\n"
     "Exit status 0 when all is well, 1 when a problem was found.\n",
     Doctor},
    {"explain", "the texts of an error number (library or Request Manager)",
     "Usage: qlm explain NUMBER...\n"
     "\n"
     "Prints the message, explanation and response of each error number, from the\n"
     "installation's shared/errortxt.fil (or the one installed with qlm), and for the\n"
     "library's own numbers their name in qlmc32.h.\n",
     Explain},
    {"status", "this user's running Request Managers, their run directories and clients",
     "Usage: qlm status\n"
     "\n"
     "Lists the run directories of this user ($XDG_RUNTIME_DIR/quillmar/*, else\n"
     "/tmp/quillmar-<uid>/*, and $QLM_RUNDIR), and for each the Request Manager that serves\n"
     "it (process, installation root, service or started by an application) and the\n"
     "processes of its clients.\n",
     Status},
    {"stop", "end this user's Request Managers",
     "Usage: qlm stop [PID...]\n"
     "\n"
     "Sends SIGTERM to the Request Managers that `qlm status` lists (or to those of the\n"
     "given processes) and waits up to 10 seconds for each to end. Their applications'\n"
     "next calls fail; a server started for an application is started again by its next\n"
     "QlmOpenCInterface.\n",
     Stop},
    {"export", "write projects, address books and mailboxes as JSON Lines or CSV",
     "Usage: qlm export [--project NAME] [--format jsonl|csv] [--output FILE]\n"
     "\n"
     "Writes every entry of the installation's store (or of one project) with its fields,\n"
     "every assignment and the counters of the names the Request Manager makes, to FILE\n"
     "or stdout. JSON Lines (the default): one object per line, \"record\" entry,\n"
     "assignment or sequence; fields by their names in qlmc32.h. CSV: the columns record,\n"
     "project, kind, key, created, changed, name, value; one row per entry, per field,\n"
     "per assignment and per counter. Bytes above 127 are written as the characters\n"
     "U+0080-U+00FF in JSON and as they are in CSV, so that `qlm import` gives them back\n"
     "exactly. Messages waiting in the network are not exported (use qlm backup).\n",
     Export},
    {"import", "read what qlm export wrote into an installation",
     "Usage: qlm import [--format jsonl|csv] FILE\n"
     "\n"
     "Adds every entry, assignment and counter of FILE (- for stdin; the format is\n"
     "guessed from the first line unless given) to the installation's store, in one\n"
     "transaction: an entry that exists already fails the import and nothing is kept.\n"
     "Entries keep their creation and change times.\n",
     Import},
    {"backup", "copy the database while Request Managers run",
     "Usage: qlm backup FILE\n"
     "\n"
     "Copies the SQLite database consistently to FILE (SQLite's online backup, while\n"
     "applications go on writing: every change acknowledged before the copy began is in\n"
     "it), then the bodies of the messages waiting in the network to FILE.messages/.\n"
     "For a PostgreSQL store use pg_dump -Fc (docs/server.md).\n",
     Backup},
    {"restore", "put a backup back",
     "Usage: qlm restore FILE\n"
     "\n"
     "Writes the database copy FILE (made by qlm backup) into the installation's\n"
     "database through SQLite, so that running Request Managers see the restored data\n"
     "with their next request, and puts back the message bodies of FILE.messages/.\n"
     "For a PostgreSQL store use pg_restore (docs/server.md).\n",
     Restore},
};

const char kUsage[] =
    "Usage: qlm [--root DIR] COMMAND [ARGS]\n"
    "       qlm --help | --version | help COMMAND\n"
    "\n"
    "The administration command of a Quillmar installation. --root DIR acts on the\n"
    "installation root DIR (else QLM_ROOTDIR, else /etc/quillmar/6.1/RootDir).\n"
    "\n"
    "Commands:\n";

void PrintUsage(std::FILE *out) {
  std::fputs(kUsage, out);
  for (const Command &c : kCommands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
  std::fputs("\n`qlm COMMAND --help` tells more; see also qlm(1) and docs/getting-started.md.\n", out);
}

const Command *Find(const std::string &name) {
  for (const Command &c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace
}  // namespace qlm::admin

int main(int argc, char **argv) {
  using namespace qlm::admin;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      PrintUsage(stdout);
      return 0;
    }
    if (a == "--version" || a == "-V") {
      std::printf("qlm (Quillmar) %s\n", QLMC32_VERSION_STRING);
      return 0;
    }
    if ((a == "--root" || a == "-r") && i + 1 < argc) {
      setenv("QLM_ROOTDIR", argv[++i], 1);
    } else if (a.rfind("--root=", 0) == 0) {
      setenv("QLM_ROOTDIR", a.c_str() + 7, 1);
    } else {
      std::fprintf(stderr, "qlm: unknown option %s\n\n", a.c_str());
      PrintUsage(stderr);
      return 2;
    }
  }
  if (i >= argc) {
    PrintUsage(stderr);
    return 2;
  }
  std::string name = argv[i++];
  Args args(argv + i, argv + argc);
  if (name == "help") {
    if (args.empty()) {
      PrintUsage(stdout);
      return 0;
    }
    name = args[0];
    args = {"--help"};
  }
  const Command *c = Find(name);
  if (c == nullptr) {
    std::fprintf(stderr, "qlm: no command %s\n\n", name.c_str());
    PrintUsage(stderr);
    return 2;
  }
  for (const std::string &a : args)
    if (a == "--help" || a == "-h") {
      std::fputs(c->help, stdout);
      return 0;
    }
  return c->run(args);
}
