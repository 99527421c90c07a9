// Where an installation keeps a user's data: the data home, under which the
// Request Manager keeps data/ (database, message bodies, log) and exchange/.
//
// The rule, first that applies:
//   1. $QLM_DATA_HOME, when set and not empty;
//   2. [Data] Home= in <root>/quillmar.ini: "root" (the installation root itself),
//      "user" (the per-user directory of rule 4), or a directory (a leading "~/"
//      is the user's home directory);
//   3. the installation root, when this user may write it or already has a data/
//      directory there (a private installation, the demo's root);
//   4. the per-user directory $XDG_DATA_HOME/quillmar/<root> (XDG_DATA_HOME defaults
//      to ~/.local/share; <root> is the root's path with "/" written as "-"), so that
//      every user of a shared, read-only installation has private data.
// The result ends with "/". Nothing is created.
#pragma once
#include <string>

namespace qlm {

// `root` is the installation root with its final "/".
std::string DataHome(const std::string &root);
// Which rule of the above gave the data home, in words ("QLM_DATA_HOME", ...).
std::string DataHomeRule(const std::string &root);
// The log of start-up failures that happen before (or because) the data directory
// is usable: $XDG_STATE_HOME/quillmar/qlmrqmgr.log (XDG_STATE_HOME defaults to
// ~/.local/state). Empty when no home directory is known.
std::string StateLogFile();

}  // namespace qlm
