// The error texts the Request Manager puts into error segments and into the
// answer of QlmRetrieveErrText.
//
// The error text file holds lines "NNNNN-K text": characters 1-5 the number,
// character 7 the kind (M message, E explanation, R response), the text after the
// line's first blank. Several lines of one kind are joined with one blank. The
// texts are cut to what the library's error text record (QlmErrText) takes; on the
// wire the explanation and the response travel in pieces of at most kMaxValue bytes
// (wire/wire.h), so that a reader that copies that much of an item takes every
// piece whole.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "qlmc32.h"
#include "wire/wire.h"

namespace qlm::rqmgr {

inline constexpr std::size_t kMessageMax = sizeof(QlmErrText::errormessage);
inline constexpr std::size_t kTextMax = sizeof(QlmErrText::errorexplanation);
static_assert(sizeof(QlmErrText::errorresponse) == kTextMax);
inline constexpr std::size_t kPieceMax = wire::kMaxValue;
inline constexpr std::size_t kPieces = wire::kTextPieces;

struct ErrorText {
  int number = 0;
  std::string message, explanation, response;
  bool fromFile = false;  // false: the built-in message alone
};

class ErrorTexts {
 public:
  // Reads the file (replacing what was read before). False when it cannot be read;
  // lines that do not have the form above are passed over.
  bool load(const std::string &path);
  // The texts of `number`: the file's, else for the Request Manager's own numbers the
  // built-in message; nothing for a number that neither knows.
  std::optional<ErrorText> find(int number) const;

 private:
  std::map<int, ErrorText> texts_;
};

// `text` in pieces of at most kPieceMax bytes, at most kPieces of them.
std::vector<std::string> splitPieces(const std::string &text);

}  // namespace qlm::rqmgr
