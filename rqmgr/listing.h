// The rows of a list answer and their way into the reply. Selection, order and
// paging happen in the store (store.h, ListPlan).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reply.h"

namespace qlm::rqmgr {

// One entry as an answer carries it: its kind (the segment type) and the values in
// the order in which the reply carries them.
struct Row {
  std::uint16_t segType = 0;
  Record record;
  std::int64_t seq = 0;  // the entry's id
  // The value of `id`, or an empty string.
  const std::string &value(std::uint16_t id) const;
};

// Appends the rows as record segments (the reply splits them over messages).
// False when a row fits not even an empty message.
bool writeRows(Reply &reply, const std::vector<Row> &rows);

}  // namespace qlm::rqmgr
