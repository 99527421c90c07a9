#include "rmil/codes.h"

#include <algorithm>
#include <cstring>

#include "wire/wire.h"

namespace qlm::rmil {

long parsePaging(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size() || text[i] < '0' || text[i] > '9') return -1;
  long n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) n = std::min(n * 10 + (text[i] - '0'), 1000000L);
  return n;
}

int operatorCode(const char *two) {
  char op[3] = {two[0], two[1], 0};
  if (op[1] == ' ') op[1] = 0;
  using wire::Op;
  static constexpr struct {
    const char *text;
    Op code;
  } kOps[] = {{">", Op::Gt}, {"<", Op::Lt}, {"=", Op::Eq}, {"<>", Op::Ne}, {">=", Op::Ge}, {"<=", Op::Le}};
  for (const auto &o : kOps)
    if (std::strcmp(op, o.text) == 0) return static_cast<int>(o.code);
  return static_cast<int>(Op::Eq);
}

int sortOrderCode(char order) { return (order == 'D' || order == 'd') ? wire::kDescending : wire::kAscending; }

}  // namespace qlm::rmil
