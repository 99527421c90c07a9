// What the store indexes of each kind of entry so that lists are answered inside
// the database: the list codes of every family.
//
// A list names the field it selects on and sorts by with a code (items 128 and
// 130). Every entry has one index row per code of its kind (store.h, table
// sortkeys), holding the field's value (blank when the entry has none) in a form
// that sorts and compares in the database as the list rules say. The codes of a
// kind are:
//   kKeyCode (0)   its key; the keyword that names the key maps to it;
//   each other list keyword of the family, by its name ID;
//   the codes of the shelf the kind is listed on (9981: the description of either
//   kind of order), for the fields they name in that kind.
// Kinds listed together on one shelf share a group (the shelf's list request), so
// that a mixed list reads one range of an index.
#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace qlm::rqmgr {

inline constexpr std::uint16_t kKeyCode = 0;

struct ListCode {
  std::uint16_t code;   // what a list request names (kKeyCode: the key)
  std::uint16_t field;  // the field it stands for in this kind (the key's name ID for kKeyCode)
};

struct KindCodes {
  std::uint16_t kind;   // the name ID of the family's key
  std::uint16_t group;  // the shelf's list request, or the kind itself
  std::span<const ListCode> codes;
};

// A field whose values are unique among the entries of a kind in the whole
// installation (a network logon's mailbox): the store keeps them where two writers
// cannot both take one.
struct UniqueField {
  std::uint16_t kind, field;
};
std::span<const UniqueField> uniqueFields();

// Every kind of entry the Request Manager keeps.
std::span<const KindCodes> catalog();
// The codes of a kind, or null for a kind the catalog does not know.
const KindCodes *codesOf(std::uint16_t kind);
// The code under which a list of `kind` finds the field a request names: kKeyCode
// for the key (or a shelf code that names the key), the stored code otherwise; -1
// when the kind has no such code.
int storedCode(std::uint16_t kind, std::uint16_t requested);
// A text that changes whenever the catalog does: the store rebuilds its index rows
// when the one it was built with differs.
std::string catalogFingerprint();

}  // namespace qlm::rqmgr
