// The request patterns shared by every entity family, written once and driven
// by the record tables of src/records:
//   record request  (add, replace, and the message system operations: one data
//                    segment, optional returned record)
//   keyed delete    (one key item)
//   keyword list    (list qualifier record; keyword fields sent as name IDs)
//   relation        (assign / unassign a member to a container; list-on a container)
// and the reply readers: one returned record (its rules in a table below), a list
// over one or more messages (of one kind of entry, or mixed: send and receive
// entries side by side), and the shared delete and assign readers. Each exported
// function is one call of these with its family's tables.
//
// Bounds: a reader never writes outside the field it fills (a longer value is cut
// at the field), and a list reader never stores more entries than the request's
// `numentries`; entries beyond that bound are dropped. A page that comes back
// full (count equal to numentries) means more entries may follow: ask for the
// next page with startentry + numentries.
#pragma once
#include <cstdint>

#include "records/layout.h"

namespace qlm {

// Trace names of a reader: its module code and function name.
struct Reader {
  const char *module, *function;
};

// An entity family: its tables and the names of its readers.
struct Family {
  const rec::Entity &entity;
  Reader added, replaced, listed, segment;
};

// One kind of list entry and the trace names of the entry reader that fills it.
struct EntryKind {
  rec::Entries entries;
  Reader segment;
};

// A list reply reader: its trace names and the kinds of entry it stores, each
// recognised by its segment type. Entries lie back to back, each at its own size.
// A single-kind list (`mixed` false) refuses a segment of any other type (20010)
// and fills entries over what the area held; a mixed list blanks every entry
// before filling it and passes over segments of a type it does not store (a
// segment without a segment-type item counts as one). An error segment (type 40)
// ends the walk of a message either way; a message whose first segment has no
// segment-type item ends the list.
struct ListReader {
  Reader reader;
  std::span<const EntryKind> kinds;
  bool mixed;
};

// How a reader of one returned record treats the rest of an answer. The record
// itself is always read the same way: the items of one segment, each copied to its
// field, the segment-type item skipped, any other item traced as unexpected.
struct RecordRules {
  // A failure answer (return code not 0) has its error texts taken, and then
  enum class Failure : std::uint8_t {
    kEndWithCodeOrOne,  // ends the read: the return code, or 1 without an error segment
    kEndWithCode,       // ends the read: the return code, error segment or not
    kReadOn,            // the read goes on; its result is the return code
  } failure;
  // With a result argument, an error segment where the record is due is walked as
  // the result segment (none of its items belongs to the record); false: the record
  // is the next segment (none: 20010).
  bool walkErrorSegment;
  // The record's segment type is checked only when the return code is 0; with
  // another, any segment-type item will do.
  bool typeOnlyWhenOk;
  // Without a result argument:
  enum class Unasked : std::uint8_t {
    kNoRecord,           // return code 0 and a record: 20010; else the return code
    kErrorSegmentAlone,  // as kNoRecord with code 0; with another code an error segment
                         // with nothing after it must follow the header (else 20010)
    kNotChecked,         // the return code at once
  } unasked;
};

// The readers of one returned record, one row each:
//                     failure            error segment  segment type    without a result
//   kReturnedRecord   ends: code or 1    skipped        exact           no record
//   kOperationDone    ends: code         skipped        exact           no record
//   kOperationResult  read on            walked         exact           error segment alone
//   kSessionStarted   read on            walked         as its table    not checked
//   kDropBoxProcessed read on            walked         exact if code 0 no record
// kReturnedRecord: add and replace of every family; kOperationDone: purge, recover a
// session receipt; kOperationResult: end a session, send and receive orders;
// kSessionStarted: start a session (its table accepts any segment type).
using Failure = RecordRules::Failure;
using Unasked = RecordRules::Unasked;
inline constexpr RecordRules kReturnedRecord{Failure::kEndWithCodeOrOne, false, false, Unasked::kNoRecord};
inline constexpr RecordRules kOperationDone{Failure::kEndWithCode, false, false, Unasked::kNoRecord};
inline constexpr RecordRules kOperationResult{Failure::kReadOn, true, false, Unasked::kErrorSegmentAlone};
inline constexpr RecordRules kSessionStarted{Failure::kReadOn, true, false, Unasked::kNotChecked};
inline constexpr RecordRules kDropBoxProcessed{Failure::kReadOn, true, true, Unasked::kNoRecord};

// A reader of one returned record: its trace names and its rules.
struct RecordReader {
  Reader reader;
  RecordRules rules;
};

// Walks the items of the segment under the cursor into `record`: the segment-type
// item skipped, every item of `read` copied to its field, any other traced as
// unexpected. 0 at the segment end, 12 when the data ends first.
int cfReadSegment(const Reader &r, const rec::Read &read, char *record);
// The data segment of `send` over `record`: its type, then every field that is not blank.
int cfAddDataSegment(const rec::Send &send, const char *record);

// Reads an answer that may carry one record into `out` (may be null: none asked for).
int cfReadRecord(const RecordReader &r, const rec::Read &read, std::uint16_t responseId, const char *context,
                 char *out);
// Reads a list reply of one or more messages into `array` (may be null: entries
// are only counted). At most `capacity` entries are stored and counted; since
// every entry is at most as wide as the widest kind, the area is never written
// past `capacity` entries of the widest kind.
int cfReadEntries(const ListReader &list, std::uint16_t responseId, const char *context, char *array,
                  std::uint16_t *count, long capacity);
int cfProcDeleteRsp(const char *context, std::uint16_t responseId);
int cfProcAssignUnassign(const char *context, std::uint16_t responseId);

// Add / replace and the message system operations. Header: identifier and handle,
// return-record flag, reference; a data segment of the send table's type with every
// field that is not blank. The request record's context name at `contextOffset`.
int cfRecordRequest(const rec::Send &send, const rec::Read &read, const RecordReader &reader,
                    char *request, char *out, int contextOffset = 0);
// Keyed delete: header identifier, [relation], 10000, reference; a data segment
// of the key's type holding the key (blank: 20170, nothing sent). `relation`, when
// not 0, is item 134 after the identifier (kNoRelation: that item alone).
// `fixedKey`, when given, is sent in place of the record's key field: a name the
// caller never writes (a shelf's), `remove.key.width` bytes.
int cfDeleteRequest(const rec::Keyed &remove, char *request, int contextOffset = 0,
                    std::uint16_t relation = 0, const char *fixedKey = nullptr);
int cfListRequest(const Family &f, char *qualifier, std::uint16_t *count, char *array);
// Assign / unassign: header identifier, relation 134 and 133 (the container; blank:
// 20170, before the identifier with `relation.containerFirst`), 10000, reference; a
// data segment of the member's type holding the member (blank: 20170).
int cfAssignRequest(const rec::Relation &relation, char *record, int contextOffset = 0);
int cfListOnRequest(const rec::ListOn &on, const Family &listed, char *container, char *smallQualifier,
                    std::uint16_t *count, char *array);

// Every list request. Header: identifier and handle; the relation (`on.relation`
// 0: none; kNoRelation: item 134 alone; else item 134 and the container as 133,
// a blank container refused with 20170 before it); reference and return-record
// flag (in the other order with `on.flagFirst`);
// with `listing` the keyword items 128 and 130 and the list qualifier record,
// without it the small list qualifier record; segment end. With `on.dataKey` a
// data segment of that type holding the container (blank: 20170) follows. A null
// count pointer is refused with 20110. The reply is read by `reply`, bounded by
// the request's `numentries`. A null container counts as a blank one.
int cfListRequest(const rec::ListOn &on, const rec::Listing *listing, const ListReader &reply,
                  char *container, char *qualifier, std::uint16_t *count, char *array);

// The family's add, replace and delete.
inline int cfAdd(const Family &f, char *request, char *out) {
  return cfRecordRequest(f.entity.add, f.entity.returned, {f.added, kReturnedRecord}, request, out);
}
inline int cfReplace(const Family &f, char *request, char *out) {
  return cfRecordRequest(f.entity.replace, f.entity.returned, {f.replaced, kReturnedRecord}, request, out);
}
// A message system operation with its own request and result records.
inline int cfOperation(const rec::Operation &op, const RecordReader &reader, char *request, char *out) {
  return cfRecordRequest(op.send, op.result, reader, request, out);
}
inline int cfDelete(const Family &f, char *request) { return cfDeleteRequest(f.entity.remove, request); }

// The list reply of a family, of at most `capacity` entries.
int cfReadFamilyList(const Family &f, const char *context, char *array, std::uint16_t *count, long capacity);

// Looks a keyword field (25 bytes) up; 0 when blank, -1 when unknown, else the name ID.
int cfKeywordId(const char *field, std::span<const rec::Keyword> keywords);

}  // namespace qlm
