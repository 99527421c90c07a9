#include "errortext.h"

#include <fstream>

#include "errors.h"

namespace qlm::rqmgr {

const char *builtInMessage(int number) {
  switch (number) {
#define QLM_RQMGR_CASE(n, name, text) \
  case n:                             \
    return text;
    QLM_RQMGR_ERRORS(QLM_RQMGR_CASE)
#undef QLM_RQMGR_CASE
  }
  return nullptr;
}

namespace {

void append(std::string &to, const std::string &piece, std::size_t max) {
  if (!to.empty()) to += ' ';
  to += piece;
  if (to.size() > max) to.resize(max);
}

// Number, kind and text of one line; false when the line has not the form "NNNNN-K text".
bool parseLine(std::string line, int *number, char *kind, std::string *text) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.size() < 7) return false;
  int n = 0;
  for (int i = 0; i < 5; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    n = n * 10 + (line[i] - '0');
  }
  const std::size_t blank = line.find(' ');
  if (blank == std::string::npos || blank < 7) return false;
  *number = n;
  *kind = line[6];
  *text = line.substr(blank + 1);
  return true;
}

}  // namespace

bool ErrorTexts::load(const std::string &path) {
  std::ifstream in(path);
  if (!in) return false;
  texts_.clear();
  std::string line, text;
  int number;
  char kind;
  while (std::getline(in, line)) {
    if (!parseLine(line, &number, &kind, &text)) continue;
    ErrorText &t = texts_[number];
    t.number = number;
    t.fromFile = true;
    if (kind == 'M') append(t.message, text, kMessageMax);
    else if (kind == 'E') append(t.explanation, text, kTextMax);
    else if (kind == 'R') append(t.response, text, kTextMax);
  }
  return true;
}

std::optional<ErrorText> ErrorTexts::find(int number) const {
  if (auto it = texts_.find(number); it != texts_.end()) return it->second;
  if (const char *m = builtInMessage(number)) return ErrorText{number, m, {}, {}, false};
  return std::nullopt;
}

std::vector<std::string> splitPieces(const std::string &text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size() && out.size() < kPieces; at += kPieceMax)
    out.push_back(text.substr(at, kPieceMax));
  return out;
}

}  // namespace qlm::rqmgr
