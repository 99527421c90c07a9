// File helpers of the tests: a whole file read or written at once, and what a path is.
#pragma once
#include <sys/stat.h>

#include <string>
#include <vector>

namespace qlm::test {

std::string slurp(const std::string &path);
// Writes the file anew; with `mode`, also sets its permissions to it.
void spit(const std::string &path, const std::string &bytes, int mode = -1);
bool exists(const std::string &path);
// The permission bits of a path (without following a link: no), or 07777 when none.
mode_t modeOf(const std::string &path);
// The names in a directory that begin with `prefix`, sorted (none when it cannot be read).
std::vector<std::string> listDir(const std::string &dir, const std::string &prefix = "");

}  // namespace qlm::test
