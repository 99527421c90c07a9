// File helpers of the tests: a whole file read or written at once.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

namespace qlm::test {

inline std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spit(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace qlm::test
