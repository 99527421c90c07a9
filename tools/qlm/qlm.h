// qlm, the administration command: what its subcommands share.
//
// Each subcommand is a function (args without the subcommand's name) returning the
// exit status: 0 done, 1 failed (or, for doctor, problems found), 2 wrong usage.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qlm::admin {

using Args = std::vector<std::string>;

struct Command {
  const char *name;
  const char *summary;  // one line for `qlm --help`
  const char *help;     // the text of `qlm NAME --help`
  int (*run)(const Args &args);
};

// The installation this user's commands act on: the root (QLM_ROOTDIR, or
// /etc/quillmar/6.1/RootDir; `qlm --root DIR` sets QLM_ROOTDIR), its data home
// for this user (common/datahome.h) and its store (rqmgr/location.h).
struct Installation {
  int rootCode = 0;      // GetRootDir's code: 0 when the root is known
  std::string root;      // with a final "/"; empty when not known
  std::string home;      // the data home, with a final "/"
  std::string homeRule;  // which rule gave it
  std::string dataDir;   // <home>data
  std::string store;     // the store's location: an SQLite file or "postgresql:..."
  bool postgres() const;
};
Installation FindInstallation();
// The installation, or a message on stderr and nothing when its root is not known.
bool NeedInstallation(Installation &out, const char *command);

// A progress bar on stderr, drawn only when stderr is a terminal.
class Progress {
 public:
  Progress(const char *what, std::int64_t total);
  ~Progress();
  void set(std::int64_t done);
  void setTotal(std::int64_t total) { total_ = total; }

 private:
  std::string what_;
  std::int64_t total_, shown_ = -1;
  bool on_;
};

// Files beside the installed or built qlm: the Request Manager and the runtime files
// of a root, found next to this program (installed: ../libexec/quillmar,
// ../share/quillmar; built: the build tree and the source tree). Empty when none.
std::string DefaultServer();
std::string DefaultErrorTexts();
std::string DefaultIni();

// Whether something (a link too, whatever it points to) is at `path`.
bool Exists(const std::string &path);

// The options of a subcommand: "--name value" or "--name=value" for those listed
// in `withValue`, flags otherwise; the rest are operands. false (and a message) for
// an option not in `known`.
struct Parsed {
  std::vector<std::pair<std::string, std::string>> options;
  Args operands;
  bool has(const std::string &name) const;
  std::string get(const std::string &name, const std::string &fallback = {}) const;
};
bool ParseArgs(const Args &args, const std::vector<std::string> &known, const std::vector<std::string> &withValue,
               Parsed &out, const char *command);

int Init(const Args &);
int Doctor(const Args &);
int Explain(const Args &);
int Status(const Args &);
int Stop(const Args &);
int Export(const Args &);
int Import(const Args &);
int Backup(const Args &);
int Restore(const Args &);

}  // namespace qlm::admin
