// Words for the log and for qlm: what a request does ("add address", "list send
// order of drop box"), and the word of each kind of entry ("address", "sendorder").
#pragma once
#include <cstdint>
#include <string>

#include "service_internal.h"

namespace qlm::rqmgr {

// The word of an entry kind (its key's name ID), or the number when it has none.
std::string KindWord(std::uint16_t kind);
// The kind of a word of KindWord (or a number written out); 0 when neither.
std::uint16_t KindOfWord(const std::string &word);
// What a route does, in words.
std::string RouteWords(const Route &r);

}  // namespace qlm::rqmgr
