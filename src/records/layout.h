// Record layouts as compile-time tables.
//
// Every record that crosses the interface is a C struct of char arrays in
// include/qlmc32.h. A layout names, for each field that travels, its offset and
// width in that struct and its RMIL name ID. The same tables serve the library
// (writing requests, reading replies into the caller's records) and the Request
// Manager (reading requests, writing replies).
//
// A layout's order is the order in which a request sends its items; readers look
// fields up by name ID. Checks at compile time: every field lies inside the record,
// no two fields overlap, and (for full record layouts) fields ascend and end at the
// record width.
//
// The descriptors below (Send, Read, Entries, Entity, Relation, ListOn, Operation)
// only gather the tables of one request or entity; the request patterns that
// consume them live in src/interface/.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <type_traits>
#include <utility>

#include "wire/wire.h"

namespace qlm::rec {

struct Field {
  std::uint16_t offset;
  std::uint16_t width;
  std::uint16_t nameId;
};

struct Layout {
  std::uint16_t width;              // the record's width in bytes
  std::span<const Field> fields;    // in wire order

  // The field with this name ID, or null.
  constexpr const Field *find(std::uint16_t nameId) const {
    for (const Field &f : fields)
      if (f.nameId == nameId) return &f;
    return nullptr;
  }
  // Whether a field has this name ID. (No pointer comparison: a sanitizer build
  // cannot evaluate one in a constant expression.)
  constexpr bool has(std::uint16_t nameId) const {
    for (const Field &f : fields)
      if (f.nameId == nameId) return true;
    return false;
  }

  // The fields in wire order.
  constexpr auto begin() const { return fields.begin(); }
  constexpr auto end() const { return fields.end(); }
};

// A list keyword: the word a caller writes in `selectfield` or `sortfield`
// (compared without regard to case) and the name ID that is sent for it.
struct Keyword {
  const char *word;
  std::uint16_t nameId;
};

// ---------------------------------------------------------------------------
// Descriptors

// The response identifier of a request is always its request identifier + 1.
constexpr std::uint16_t responseTo(std::uint16_t request) {
  return static_cast<std::uint16_t>(request + 1);
}

// The relation parameter (item 134) of a request without a related record.
using wire::kNoRelation;

// A segment-type value that a reader accepts whatever it is.
inline constexpr std::uint16_t kAnySegType = 0;

// What a request sends in its data segment.
struct Send {
  std::uint16_t request;   // request identifier; 0: the request does not exist
  std::uint16_t segType;   // value of the segment-type item (9983)
  Layout items;            // over the request record, in wire order; blank fields are skipped
};

// What a reader copies out of one reply segment.
struct Read {
  std::uint16_t segType;   // the segment-type value the segment must carry (kAnySegType: any)
  Layout fields;           // the name IDs it copies; every other name ID is an unexpected item
  bool traceNameId = true; // an unexpected item is also traced with its "(int) aFldId" value line
};

// List entries, back to back in the caller's array.
struct Entries {
  std::uint16_t size;      // entry n starts at byte n * size
  std::uint8_t base;       // where the record starts in an entry: 1 after an entry type character
  char type;               // the entry type character at byte 0, or 0 when entries have none
  Read read;               // fields over the record part of an entry (add `base`)
};

// A keyed delete: the key over the delete request record; its name ID is also the
// data segment's segment type.
struct Keyed {
  std::uint16_t request;   // 0: the entity has no delete
  Field key;
};

// A keyword list on the list qualifier record.
struct Listing {
  std::uint16_t request;
  std::span<const Keyword> keywords;
  bool checkKeywords;      // false: `selectfield` and `sortfield` are neither read nor sent
};

// A named entity with add, replace, delete and list.
struct Entity {
  std::uint16_t segType;   // its key's name ID: the segment type of its record segments
  Layout record;           // the record that replies carry, every field, in record order
  Send add;
  Send replace;            // request 0: none
  Keyed remove;
  Listing list;
  Read returned;           // the reply of add and replace, over the output record
  Entries listed;          // the reply of list
};

// Assign or unassign a member to a container.
struct Relation {
  std::uint16_t request;
  Field container;         // over the assignment record; its name ID is the relation parameter (item 134)
  Field member;            // over the assignment record; its name ID is the data segment's type and item
  bool containerFirst = false;  // a blank container is refused before the header is written
                                // (else right after the request identifier)
};

// List the entries related to a container.
struct ListOn {
  std::uint16_t request;
  std::uint16_t relation;  // item 134: the container's key name ID (its name then goes as item 133),
                           // or kNoRelation
  std::uint16_t dataKey;   // 0, or the segment type and item under which the container's name
                           // travels in a data segment
  bool flagFirst = false;  // the return-record flag goes before the request reference (else after it)
};

// A request with its own record in and its own result record out.
struct Operation {
  Send send;
  Read result;             // over the result record (response = send.request + 1)
};

// ---------------------------------------------------------------------------
// Compile-time checks (use them in static_assert)

// Fields lie inside the record and do not overlap (in any order); name IDs are distinct.
consteval bool fitsAndDisjoint(std::span<const Field> f, std::size_t width) {
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i].width == 0 || f[i].offset + f[i].width > width) return false;
    for (std::size_t j = i + 1; j < f.size(); ++j) {
      bool apart = f[i].offset + f[i].width <= f[j].offset || f[j].offset + f[j].width <= f[i].offset;
      if (!apart || f[i].nameId == f[j].nameId) return false;
    }
  }
  return true;
}

// Fields ascend back to back from `start` and end exactly at `width`, except for
// the gaps listed as reserved (offset, width) pairs.
consteval bool tiles(std::span<const Field> f, std::size_t start, std::size_t width,
                     std::initializer_list<std::pair<std::size_t, std::size_t>> reserved = {}) {
  std::size_t at = start;
  for (std::size_t i = 0; i < f.size(); ++i) {
    for (auto [off, w] : reserved)
      if (off == at) at += w;
    if (f[i].offset != at) return false;
    at += f[i].width;
  }
  for (auto [off, w] : reserved)
    if (off == at) at += w;
  return at == width;
}

consteval bool sameField(const Field &a, const Field &b) {
  return a.offset == b.offset && a.width == b.width && a.nameId == b.nameId;
}

// Every field of `part` is a field of `whole` (same offset, width and name ID).
consteval bool subsetOf(std::span<const Field> part, std::span<const Field> whole) {
  for (const Field &p : part) {
    bool found = false;
    for (const Field &w : whole) found = found || sameField(p, w);
    if (!found) return false;
  }
  return true;
}

// `a` and `b` hold the same fields, in any order.
consteval bool sameFields(std::span<const Field> a, std::span<const Field> b) {
  return a.size() == b.size() && subsetOf(a, b) && subsetOf(b, a);
}

// Every field of `a` has a field of the same name ID and width in `b` (a record
// that holds the fields of another in another arrangement).
consteval bool sameWidths(std::span<const Field> a, std::span<const Field> b) {
  for (const Field &x : a) {
    bool found = false;
    for (const Field &y : b) found = found || (x.nameId == y.nameId && x.width == y.width);
    if (!found) return false;
  }
  return true;
}

// Keywords are distinct, written in lower case, and each names a field of `f`.
consteval bool keywordsIn(std::span<const Keyword> k, std::span<const Field> f) {
  auto equal = [](const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
  };
  for (std::size_t i = 0; i < k.size(); ++i) {
    for (const char *c = k[i].word; *c; ++c)
      if (*c >= 'A' && *c <= 'Z') return false;
    for (std::size_t j = i + 1; j < k.size(); ++j)
      if (equal(k[i].word, k[j].word) || k[i].nameId == k[j].nameId) return false;
    bool named = false;
    for (const Field &x : f) named = named || x.nameId == k[i].nameId;
    if (!named) return false;
  }
  return true;
}

// A layout's fields lie inside its width and do not overlap.
consteval bool fits(const Layout &l) { return fitsAndDisjoint(l.fields, l.width); }

// The tables of an entity agree with one another: every layout fits, the segment
// types are the entity's, readers know only fields of the record, the delete key is
// the key, an entry is its base plus the record, and the keywords name fields.
consteval bool valid(const Entity &e) {
  const bool fitting = fits(e.record) && fits(e.add.items) && fits(e.replace.items) &&
                       fits(e.returned.fields) && fits(e.listed.read.fields);
  const bool typed = e.add.segType == e.segType &&
                     (e.replace.request == 0 || e.replace.segType == e.segType) &&
                     (e.remove.request == 0 || e.remove.key.nameId == e.segType) &&
                     e.returned.segType == e.segType && e.listed.read.segType == e.segType;
  const bool read = subsetOf(e.returned.fields.fields, e.record.fields) &&
                    subsetOf(e.listed.read.fields.fields, e.record.fields) &&
                    e.returned.fields.width == e.record.width &&
                    e.listed.read.fields.width == e.record.width;
  const bool entries = e.listed.base + e.record.width == e.listed.size &&
                       (e.listed.base == 0) == (e.listed.type == 0);
  return fitting && typed && read && entries && keywordsIn(e.list.keywords, e.record.fields);
}

consteval bool valid(const Operation &o) { return fits(o.send.items) && fits(o.result.fields); }

// ---------------------------------------------------------------------------
// Deriving one table from another at compile time

namespace detail {
template <class A> struct FieldCount;
template <std::size_t N> struct FieldCount<Field[N]> { static constexpr std::size_t value = N; };
template <std::size_t N> struct FieldCount<std::array<Field, N>> { static constexpr std::size_t value = N; };
}  // namespace detail

// The number of fields of a C array or std::array of fields.
template <class A>
inline constexpr std::size_t kFieldCount = detail::FieldCount<std::remove_cvref_t<A>>::value;

// The fields of `f` moved by `by` bytes: a record nested in a request (by the
// context name) or taken from another record at another place.
template <class A>
consteval std::array<Field, kFieldCount<A>> moved(const A &f, std::ptrdiff_t by) {
  std::array<Field, kFieldCount<A>> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::ptrdiff_t at = f[i].offset + by;
    if (at < 0 || at > 0xFFFF) throw "moved: field outside the record";
    out[i] = Field{static_cast<std::uint16_t>(at), f[i].width, f[i].nameId};
  }
  return out;
}

// The fields of `f` with the name IDs `ids`, in the order of `ids` (a wire order
// written as the list of name IDs that it is).
template <class A, std::size_t M>
consteval std::array<Field, M> pick(const A &f, const std::uint16_t (&ids)[M]) {
  std::array<Field, M> out{};
  for (std::size_t i = 0; i < M; ++i) {
    bool found = false;
    for (std::size_t j = 0; j < kFieldCount<A>; ++j)
      if (f[j].nameId == ids[i]) out[i] = f[j], found = true;
    if (!found) throw "pick: name ID not in the layout";
  }
  return out;
}

// The fields of `f` without the name IDs `drop`, in their order; M fields remain.
template <std::size_t M, class A>
consteval std::array<Field, M> without(const A &f, std::initializer_list<std::uint16_t> drop) {
  std::array<Field, M> out{};
  std::size_t n = 0;
  for (std::size_t j = 0; j < kFieldCount<A>; ++j) {
    bool dropped = false;
    for (std::uint16_t id : drop) dropped = dropped || f[j].nameId == id;
    if (dropped) continue;
    if (n == M) throw "without: more fields remain than M";
    out[n++] = f[j];
  }
  if (n != M) throw "without: fewer fields remain than M";
  return out;
}

}  // namespace qlm::rec

// A field of record struct `S`: its offset, its width and its name ID. `member`
// may name a field of a nested record (`addr.nickname`).
#define QLM_FIELD(S, member, id) \
  ::qlm::rec::Field { static_cast<std::uint16_t>(offsetof(S, member)), \
                      static_cast<std::uint16_t>(sizeof(static_cast<S *>(nullptr)->member)), \
                      static_cast<std::uint16_t>(id) }
