// The list machinery shared by every list request: selection, order and paging
// over rows of any entity kind, and the rows' way into the reply.
//
// Rules:
// - A field is named by its name ID (items 128 and 130). A code that the list does
//   not know is refused (30015). An alias names a different field per kind of row
//   (the shelf keywords 9982 and 9981 name the key and the description of each kind
//   of order).
// - Selection (item 128 with an operator 127 and/or a value 126; the operator
//   defaults to "=", the value to blank): a row whose field has no value counts as
//   blank. Two values that are both non-empty runs of at most 18 decimal digits
//   compare as numbers; any others compare byte by byte (case counts).
// - Order: by the sort field (item 130) when given, then by the key, then by the
//   order in which the entries were added; without a sort field by the key. Item
//   129 with code 10018 reverses the whole order.
// - Paging: the rows from `startentry` (1-based, item 131) on, at most `numentries`
//   (item 132) of them. A start beyond the last row gives an empty list.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "errors.h"
#include "reply.h"
#include "request.h"

namespace qlm::rqmgr {

// One entry as a list sees it: its kind, the values in the order in which the reply
// carries them (only values it carries count for selection and order), and its age.
struct Row {
  std::uint16_t segType = 0;   // the kind's key name ID
  Record record;
  std::int64_t seq = 0;        // insertion order
  // The value of `id`, or an empty string.
  const std::string &value(std::uint16_t id) const;
};

struct Alias {
  std::uint16_t code;      // the name ID a request names
  std::uint16_t segType;   // for rows of this kind
  std::uint16_t field;     // it means this field
};

struct ListFields {
  std::span<const std::uint16_t> fields;  // codes that name a field of the rows as they are
  std::span<const Alias> aliases = {};
};

// -1, 0, 1 by the comparison rule above.
int compareValues(const std::string &a, const std::string &b);

// Selects, orders and pages `rows` (kept in place); Err::UnknownField for a code
// that `known` does not hold.
Err applyQuery(std::vector<Row> &rows, const ListQuery &q, const ListFields &known);

// Appends the rows as record segments (the reply splits them over messages).
// False when a row fits not even an empty message.
bool writeRows(Reply &reply, const std::vector<Row> &rows);

}  // namespace qlm::rqmgr
