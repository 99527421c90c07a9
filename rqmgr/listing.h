// The rows of a list answer and their way into the reply. Selection, order and
// paging happen in the store (store.h, ListPlan).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <utility>
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

// The values the Request Manager computes for one row (service.h), by name ID; the
// strings keep their buffers from one row to the next.
class Computed {
 public:
  void clear() { used_ = 0; }
  // The value of `id`, empty, to be filled.
  std::string &set(std::uint16_t id);
  // The value of `id`, or null when none was computed.
  const std::string *find(std::uint16_t id) const;

 private:
  std::array<std::pair<std::uint16_t, std::string>, 4> values_;
  std::size_t used_ = 0;
};

// Appends the rows as record segments (the reply splits them over messages).
// False when a row fits not even an empty message.
bool writeRows(Reply &reply, const std::vector<Row> &rows);

}  // namespace qlm::rqmgr
